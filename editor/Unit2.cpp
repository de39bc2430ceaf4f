#include "editor/Unit2.h"

#include <QLineEdit>
#include <QPushButton>


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
  emit textAccepted(Edit21->text());
  done(QDialog::Accepted);
}

void TSMS::Button2Click() { done(QDialog::Rejected); }
