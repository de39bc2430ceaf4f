#include "editor/Unit2.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidgetItem>

#include "editor/Unit1.h"

TSMS *SMS = nullptr;

TSMS::TSMS(QWidget *parent)
    : TValueDialog(QStringLiteral("SMS"), QStringLiteral("SMS"),
                   QStringLiteral("Введите текст сообщения (max 32 символа)"),
                   QStringLiteral("Edit21"), 32, 320, parent),
      Edit21(edit()) {
  connect(Button1, &QPushButton::clicked, this, &TSMS::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TSMS::Button2Click);
}

void TSMS::Button1Click() {
  if (Quorlan)
    if (QTreeWidgetItem *node = Quorlan->selectedNode(Quorlan->DialogTarget))
      node->setText(0, Edit21->text());
  done(QDialog::Accepted);
}

void TSMS::Button2Click() { done(QDialog::Rejected); }
