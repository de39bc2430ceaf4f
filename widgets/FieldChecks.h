#pragma once
// Character checks of typed fields. A check looks at the whole text: at the first refused
// character the field is cut before it and the field's message is shown once.

#include <QString>

class QLineEdit;
class QWidget;

namespace fieldcheck {

struct Result {
  QString text;   // the text to keep: unchanged, or cut before the first refused character
  bool refused;   // a character was refused: show the message and replace the text
};

Result phone(const QString &text);      // "0".."9" and "+"
Result threshold(const QString &text);  // "0".."9", "," and "-"

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
