#include "editor/Unit3.h"

#include <QEvent>
#include <QLineEdit>
#include <QPushButton>

#include "widgets/FieldChecks.h"
#include "widgets/MessageBoxes.h"

TForm3 *Form3 = nullptr;

TForm3::TForm3(QWidget *parent)
    : TValueDialog(QStringLiteral("Form3"), QStringLiteral("Значение"),
                   QStringLiteral("Ведите цифровое значение порога"), QStringLiteral("Edit1"), 10,
                   260, parent),
      Edit1(edit()) {
  Edit1->installEventFilter(this);
  connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm3::Button2Click);
}

void TForm3::Button1Click() {
  if (Edit1->text().isEmpty()) Edit1->setText(QStringLiteral("0,0"));
  emit valueAccepted(Edit1->text());
  done(QDialog::Accepted);
}

void TForm3::Button2Click() { done(QDialog::Rejected); }

void TForm3::Edit1KeyUp() {
  // The value it opened with is the tree's own (INF, NAN, a long decimal); only a changed one
  // is the operator's input.
  if (Edit1->text() == shownValue_) return;
  const fieldcheck::Result r = fieldcheck::threshold(Edit1->text());
  if (!r.refused) return;
  plainBox(this, fieldcheck::kThresholdMessage);
  Edit1->setText(r.text);
}

void TForm3::showEvent(QShowEvent *event) {
  shownValue_ = Edit1->text();
  TValueDialog::showEvent(event);
}

bool TForm3::eventFilter(QObject *watched, QEvent *event) {
  if (watched == Edit1 && event->type() == QEvent::KeyRelease) Edit1KeyUp();
  return QDialog::eventFilter(watched, event);
}
