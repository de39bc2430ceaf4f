#include "editor/Unit3.h"

#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidgetItem>
#include <QVBoxLayout>

#include "editor/FieldChecks.h"
#include "editor/MessageBoxes.h"
#include "editor/ReactionTrees.h"
#include "editor/Unit1.h"

TForm3 *Form3 = nullptr;

TForm3::TForm3(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("Form3"));
  setWindowTitle(QStringLiteral("Значение"));
  setModal(true);

  GroupBox1 = new QGroupBox(QStringLiteral("Ведите цифровое значение порога"), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  Edit1 = new QLineEdit(GroupBox1);
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Edit1->setMaxLength(10);
  Edit1->installEventFilter(this);
  (new QVBoxLayout(GroupBox1))->addWidget(Edit1);

  Button1 = new QPushButton(QStringLiteral("OK"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button2 = new QPushButton(QStringLiteral("Cancel"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  for (QPushButton *b : {Button1, Button2}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }
  connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm3::Button2Click);

  auto *buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(GroupBox1);
  layout->addLayout(buttons);
  setFixedSize(sizeHint().expandedTo(QSize(260, 0)));
}

void TForm3::Button1Click() {
  if (Edit1->text().isEmpty()) Edit1->setText(QStringLiteral("0,0"));
  // The contact tree has no thresholds: target 1 writes nothing.
  if (Quorlan && (Quorlan->DialogTarget == 2 || Quorlan->DialogTarget == 3))
    if (QTreeWidgetItem *node = Quorlan->selectedNode(Quorlan->DialogTarget))
      node->setText(0, trees::thresholdCaption(Edit1->text()));
  done(QDialog::Accepted);
}

void TForm3::Button2Click() { done(QDialog::Rejected); }

void TForm3::Edit1KeyUp() {
  const fieldcheck::Result r = fieldcheck::threshold(Edit1->text());
  if (!r.refused) return;
  plainBox(this, fieldcheck::kThresholdMessage);
  Edit1->setText(r.text);
}

void TForm3::keyPressEvent(QKeyEvent *event) {
  switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

bool TForm3::eventFilter(QObject *watched, QEvent *event) {
  if (watched == Edit1 && event->type() == QEvent::KeyRelease) Edit1KeyUp();
  return QDialog::eventFilter(watched, event);
}
