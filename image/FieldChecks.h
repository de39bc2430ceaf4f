#pragma once
// Character checks of typed fields. A check looks at the whole text: at the first refused
// character the field is cut before it. The windows show their messages on a refusal
// (widgets/FieldChecks.h); the checks themselves are plain text work.

#include <QString>

namespace fieldcheck {

struct Result {
  QString text;   // the text to keep: unchanged, or cut before the first refused character
  bool refused;   // a character was refused: show the message and replace the text
};

Result phone(const QString &text);      // "0".."9" and "+"
Result threshold(const QString &text);  // "0".."9", "," and "-"

}  // namespace fieldcheck
