#include "image/FieldChecks.h"

#include "image/TextRules.h"

namespace fieldcheck {

namespace {

template <typename Allowed>
Result cutAtFirstRefused(const QString &text, Allowed allowed) {
  const qsizetype i = textrules::firstRefused(text, allowed);
  if (i < 0) return {text, false};
  return {text.left(i), true};
}

}  // namespace

Result phone(const QString &text) { return cutAtFirstRefused(text, textrules::phoneChar); }

Result threshold(const QString &text) { return cutAtFirstRefused(text, textrules::thresholdChar); }

}  // namespace fieldcheck
