#pragma once
// Which characters the operator may type into the telephone and threshold fields. The window's
// typed checks and the command-line companion's "set" use the same rules.

#include <QString>

namespace textrules {

bool phoneChar(QChar c);       // "0".."9" and "+"
bool thresholdChar(QChar c);   // "0".."9", "," and "-"

// Index of the first character `allowed` refuses, or -1.
template <typename Allowed>
qsizetype firstRefused(const QString &text, Allowed allowed) {
  for (qsizetype i = 0; i < text.size(); ++i)
    if (!allowed(text.at(i))) return i;
  return -1;
}

// Text from a device or a controller on one line: each run of control characters becomes one
// space (none at the start).
QString oneLine(const QString &text);

}  // namespace textrules
