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

}  // namespace textrules
