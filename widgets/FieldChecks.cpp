// The typed-field checks with their message boxes.
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
