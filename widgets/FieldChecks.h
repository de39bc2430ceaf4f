#pragma once
// The character checks of typed fields (image/FieldChecks.h) with the windows' messages.

#include <QString>

#include "image/FieldChecks.h"

class QLineEdit;
class QWidget;

namespace fieldcheck {

// The telephone check of a typed field: at a refused character an error box over `owner`
// gives the message, then the field keeps what came before that character.
void refusePhone(QWidget *owner, QLineEdit *edit);

// The messages, CR LF between lines. The threshold message names "." although the dot is
// refused; the text is kept as operators know it.
inline const QString kPhoneMessage = QStringLiteral(
    "НЕВЕРНЫЙ НОМЕР ТЕЛЕФОНА\r\n\r\nМожно вводить только цифры и символ \"+\"\r\n"
    "Номер начинается с символа \"+\", далее цифры");
inline const QString kThresholdMessage = QStringLiteral(
    "НЕВЕРНОЕ ЗНАЧЕНИЕ\r\n\r\nМожно вводить только цифры и символы \".\" и \"-\"\r\n"
    "Например 4,5 или -8,3");

}  // namespace fieldcheck
