#include "widgets/FieldChecks.h"

namespace fieldcheck {

namespace {

// Only ASCII digits count: QChar::isDigit() would also pass other scripts' digits, which the
// controller's single-byte texts cannot carry.
bool asciiDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

template <typename Allowed>
Result cutAtFirstRefused(const QString &text, Allowed allowed) {
  for (qsizetype i = 0; i < text.size(); ++i)
    if (!allowed(text.at(i))) return {text.left(i), true};
  return {text, false};
}

}  // namespace

Result phone(const QString &text) {
  return cutAtFirstRefused(text, [](QChar c) { return asciiDigit(c) || c == QLatin1Char('+'); });
}

Result threshold(const QString &text) {
  return cutAtFirstRefused(text, [](QChar c) {
    return asciiDigit(c) || c == QLatin1Char(',') || c == QLatin1Char('-');
  });
}

}  // namespace fieldcheck
