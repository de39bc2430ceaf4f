#include "image/TextRules.h"

namespace textrules {

namespace {
// Only ASCII digits count: QChar::isDigit() would also pass other scripts' digits, which the
// controller's single-byte texts cannot carry.
bool asciiDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }
}  // namespace

bool phoneChar(QChar c) { return asciiDigit(c) || c == QLatin1Char('+'); }

bool thresholdChar(QChar c) {
  return asciiDigit(c) || c == QLatin1Char(',') || c == QLatin1Char('-');
}

QString oneLine(const QString &text) {
  QString out;
  out.reserve(text.size());
  bool gap = false;
  for (const QChar c : text) {
    if (c.category() == QChar::Other_Control) {
      gap = true;
      continue;
    }
    if (gap && !out.isEmpty()) out += QLatin1Char(' ');
    gap = false;
    out += c;
  }
  return out;
}

}  // namespace textrules
