#include "editor/EditorWidgets.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

TSpinEdit::TSpinEdit(int min, int max, bool typing, QWidget *parent)
    : QSpinBox(parent), typing_(typing) {
  setRange(min, max);
  setAccelerated(true);
  // A read-only line edit keeps the buttons and arrow keys working while refusing typed text.
  if (!typing) lineEdit()->setReadOnly(true);
}

TRadioGroup::TRadioGroup(const QString &title, const QStringList &items, QWidget *parent)
    : QGroupBox(title, parent), group_(new QButtonGroup(this)) {
  auto *lay = new QVBoxLayout(this);
  lay->setContentsMargins(8, 4, 8, 4);
  int i = 0;
  for (const QString &text : items) {
    auto *b = new QRadioButton(text, this);
    group_->addButton(b, i++);
    buttons_.append(b);
    lay->addWidget(b);
  }
}

int TRadioGroup::itemIndex() const { return group_->checkedId(); }

void TRadioGroup::setItemIndex(int index) {
  if (index >= 0 && index < buttons_.size()) {
    buttons_[index]->setChecked(true);
    return;
  }
  group_->setExclusive(false);
  for (auto *b : buttons_) b->setChecked(false);
  group_->setExclusive(true);
}

QRadioButton *TRadioGroup::item(int index) const { return buttons_.value(index); }

TSmsCentreBox::TSmsCentreBox(QWidget *parent) : QComboBox(parent) {
  setEditable(true);
  setCompleter(nullptr);
  setInsertPolicy(QComboBox::NoInsert);
  lineEdit()->installEventFilter(this);
  installEventFilter(this);
}

void TSmsCentreBox::hidePopup() {
  // Only a list that was open closes up; hiding on teardown is no pick.
  const bool wasOpen = view() && view()->isVisible();
  QComboBox::hidePopup();
  if (wasOpen) emit closeUp();
}

bool TSmsCentreBox::eventFilter(QObject *watched, QEvent *event) {
  if (event->type() == QEvent::KeyPress && (watched == lineEdit() || watched == this))
    emit keyDown();
  return QComboBox::eventFilter(watched, event);
}
