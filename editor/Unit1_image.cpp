// The main window's side of the encoder and decoder: the controls are copied into a
// configuration value for the codec, and a decoded value back into the controls.
#include <QCheckBox>
#include <QLineEdit>

#include "editor/TreePanel.h"
#include "editor/Unit1.h"
#include "image/Checksum.h"
#include "image/ConfigCodec.h"
#include "image/ReactionTrees.h"
#include "widgets/EditorWidgets.h"
#include "widgets/MessageBoxes.h"
#include "widgets/Unit5.h"

ConfigValue TQuorlan::collectValue() const {
  ConfigValue v;
  for (const auto &f : controls::spinFields()) v.spins[f.number] = SpinEdit(f.number)->fieldValue();
  for (const auto &f : controls::textFields()) v.texts[f.number] = Edit(f.number)->text();
  for (const auto &f : controls::checkFields()) v.checks[f.number] = CheckBox(f.number)->isChecked();
  v.modeByKey = RadioGroup1->itemIndex();
  v.modeBySms = RadioGroup2->itemIndex();
  v.smsCentre = ComboBox2->currentText();
  for (int t = 1; t <= trees::kTreeCount; ++t) v.captions[t] = Trees->captions(t);
  return v;
}

void TQuorlan::applyValue(const ConfigValue &v) {
  // Telephone numbers before the captions that copy them.
  for (int n = 3; n <= 11; ++n) Edit(n)->setText(v.texts[n]);
  ComboBox2->setEditText(v.smsCentre);
  for (int t = 1; t <= trees::kTreeCount; ++t) Trees->setCaptions(t, v.captions[t]);
  for (const auto &f : controls::textFields())
    if (f.number < 3 || f.number > 11) Edit(f.number)->setText(v.texts[f.number]);
  for (const auto &f : controls::spinFields()) SpinEdit(f.number)->setValue(v.spins[f.number]);
  for (const auto &f : controls::checkFields()) CheckBox(f.number)->setChecked(v.checks[f.number]);
  RadioGroup1->setItemIndex(v.modeByKey);
  RadioGroup2->setItemIndex(v.modeBySms);
}

bool TQuorlan::mass_out() {
  setEnabled(false);
  progress()->setText(kBuildingText);
  progress()->setPosition(0);
  progress()->showWindow();
  TShownProgress shown(progress());
  if (const auto error = encodeImage(collectValue(), OutgoingImage, &shown)) {
    // Nothing is kept or sent; the operator gets the editor back to correct the value.
    progress()->closeWindow();
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
  progress()->setText(kApplyingText);
  if (!progress()->isShown()) {
    progress()->setPosition(5);
    progress()->showWindow();
    progress()->repaintNow();
  }
  TShownProgress shown(progress());
  decodeImage(IncomingImage, value, &shown);
  applyValue(value);
  progress()->setPosition(100);
  progress()->showWindow();
  progress()->closeWindow();
  setEnabled(true);
  show();
  repaint();
  return true;
}
