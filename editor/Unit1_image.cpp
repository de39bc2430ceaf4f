// The main window's side of the encoder and decoder: the controls are copied into a
// configuration value for the codec, and a decoded value back into the controls.
#include <QCheckBox>
#include <QLineEdit>
#include <QTreeWidgetItem>

#include "app/Unit5.h"
#include "editor/EditorWidgets.h"
#include "editor/MessageBoxes.h"
#include "editor/Unit1.h"
#include "image/Checksum.h"
#include "image/ConfigCodec.h"
#include "image/ReactionTrees.h"

ConfigValue TQuorlan::collectValue() const {
  ConfigValue v;
  for (const auto &f : controls::spinFields()) v.spins[f.number] = SpinEdit(f.number)->value();
  for (const auto &f : controls::textFields()) v.texts[f.number] = Edit(f.number)->text();
  for (const auto &f : controls::checkFields()) v.checks[f.number] = CheckBox(f.number)->isChecked();
  v.modeByKey = RadioGroup1->itemIndex();
  v.modeBySms = RadioGroup2->itemIndex();
  v.smsCentre = ComboBox2->currentText();
  for (int t = 1; t <= trees::kTreeCount; ++t) {
    const int n = trees::nodeCount(t);
    v.captions[t].reserve(std::size_t(n));
    for (int i = 0; i < n; ++i) {
      const QTreeWidgetItem *item = treeNode(t, i);
      v.captions[t].push_back(item ? item->text(0) : QString());
    }
  }
  return v;
}

void TQuorlan::applyValue(const ConfigValue &v) {
  // Telephone numbers before the captions that copy them.
  for (int n = 3; n <= 11; ++n) Edit(n)->setText(v.texts[n]);
  ComboBox2->setEditText(v.smsCentre);
  for (int t = 1; t <= trees::kTreeCount; ++t) {
    for (int i = 0; i < int(v.captions[t].size()); ++i) {
      QTreeWidgetItem *item = treeNode(t, i);
      if (item && item->text(0) != v.captions[t][std::size_t(i)])
        item->setText(0, v.captions[t][std::size_t(i)]);
    }
  }
  for (const auto &f : controls::textFields())
    if (f.number < 3 || f.number > 11) Edit(f.number)->setText(v.texts[f.number]);
  for (const auto &f : controls::spinFields()) SpinEdit(f.number)->setValue(v.spins[f.number]);
  for (const auto &f : controls::checkFields()) CheckBox(f.number)->setChecked(v.checks[f.number]);
  RadioGroup1->setItemIndex(v.modeByKey);
  RadioGroup2->setItemIndex(v.modeBySms);
}

bool TQuorlan::mass_out() {
  setEnabled(false);
  Progress->setText(kBuildingText);
  Progress->setPosition(0);
  Progress->showWindow();
  if (const auto error = encodeImage(collectValue(), OutgoingImage, Progress)) {
    // Nothing is kept or sent; the operator gets the editor back to correct the value.
    Progress->closeWindow();
    setEnabled(true);
    errorBox(this, error->message());
    return false;
  }
  return true;
}

bool TQuorlan::Load() {
  if (!checksumMatches(IncomingImage)) {
    errorBox(this, QStringLiteral("Ошибка целостности данных"));
    return false;
  }
  // Captions are decoded onto the current ones (relay captions keep their place number).
  ConfigValue value = collectValue();
  Progress->setText(kApplyingText);
  if (!Progress->isShown()) {
    Progress->setPosition(5);
    Progress->showWindow();
    Progress->repaintNow();
  }
  decodeImage(IncomingImage, value, Progress);
  applyValue(value);
  Progress->setPosition(100);
  Progress->showWindow();
  Progress->closeWindow();
  setEnabled(true);
  show();
  repaint();
  return true;
}
