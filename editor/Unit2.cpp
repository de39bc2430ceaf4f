#include "editor/Unit2.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidgetItem>
#include <QVBoxLayout>

#include "editor/Unit1.h"

TSMS *SMS = nullptr;

TSMS::TSMS(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("SMS"));
  setWindowTitle(QStringLiteral("SMS"));
  setModal(true);

  GroupBox1 = new QGroupBox(QStringLiteral("Введите текст сообщения (max 32 символа)"), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  Edit21 = new QLineEdit(GroupBox1);
  Edit21->setObjectName(QStringLiteral("Edit21"));
  Edit21->setMaxLength(32);
  (new QVBoxLayout(GroupBox1))->addWidget(Edit21);

  Button1 = new QPushButton(QStringLiteral("OK"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button2 = new QPushButton(QStringLiteral("Cancel"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  for (QPushButton *b : {Button1, Button2}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }
  connect(Button1, &QPushButton::clicked, this, &TSMS::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TSMS::Button2Click);

  auto *buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(GroupBox1);
  layout->addLayout(buttons);
  setFixedSize(sizeHint().expandedTo(QSize(320, 0)));
}

void TSMS::Button1Click() {
  if (Quorlan)
    if (QTreeWidgetItem *node = Quorlan->selectedNode(Quorlan->DialogTarget))
      node->setText(0, Edit21->text());
  done(QDialog::Accepted);
}

void TSMS::Button2Click() { done(QDialog::Rejected); }

void TSMS::keyPressEvent(QKeyEvent *event) {
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
