#include "editor/ValueDialog.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "widgets/EditorWidgets.h"

TValueDialog::TValueDialog(const QString &name, const QString &caption, const QString &groupTitle,
                           const QString &editName, int maxLength, int minWidth, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(name);
  setWindowTitle(caption);
  setModal(true);
  setAttribute(Qt::WA_QuitOnClose, false);

  GroupBox1 = new QGroupBox(groupTitle, this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  edit_ = new QLineEdit(GroupBox1);
  edit_->setObjectName(editName);
  // A pre-filled value may be longer than what may be typed; it must survive OK untouched.
  setTypedLimit(edit_, maxLength);
  (new QVBoxLayout(GroupBox1))->addWidget(edit_);

  Button1 = new QPushButton(QStringLiteral("OK"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button2 = new QPushButton(QStringLiteral("Cancel"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  // No default button: Enter must not press one.
  for (QPushButton *b : {Button1, Button2}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }

  auto *buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(GroupBox1);
  layout->addLayout(buttons);
  setFixedSize(sizeHint().expandedTo(QSize(minWidth, 0)));
}

void TValueDialog::keyPressEvent(QKeyEvent *event) {
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

void TValueDialog::openWith(const QString &text) {
  edit_->setText(text);
  if (!isVisible()) exec();
}
