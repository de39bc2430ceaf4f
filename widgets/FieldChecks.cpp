#include "widgets/FieldChecks.h"

#include <QLineEdit>

#include "image/TextRules.h"
#include "widgets/MessageBoxes.h"

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

void refusePhone(QWidget *owner, QLineEdit *edit) {
  const Result r = phone(edit->text());
  if (!r.refused) return;
  errorBox(owner, kPhoneMessage);
  edit->setText(r.text);
}

}  // namespace fieldcheck
