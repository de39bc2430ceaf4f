// The checks with their message boxes, apart from the checks themselves, which need Qt Core only.
#include <QLineEdit>

#include "widgets/FieldChecks.h"
#include "widgets/MessageBoxes.h"

namespace fieldcheck {

void refusePhone(QWidget *owner, QLineEdit *edit) {
  const Result r = phone(edit->text());
  if (!r.refused) return;
  errorBox(owner, kPhoneMessage);
  edit->setText(r.text);
}

}  // namespace fieldcheck
