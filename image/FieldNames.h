#pragma once
// Every setting of a configuration under the name the window gives it, and its value as the
// window shows it: the words of the command-line companion's dump, diff and set. A name joins
// the window's own texts with " › ": the tabs, the group frames, the label, as the control
// table gives them (for the reaction trees: the tree's tabs, the input, the event and the
// reaction group, as the start-up tree has them).

#include <QString>
#include <QStringList>
#include <vector>

#include "image/ConfigValue.h"

namespace fieldnames {

enum class Kind {
  Spin,        // SpinEdit<number>
  Text,        // Edit<number>
  Check,       // CheckBox<number>
  Radio,       // RadioGroup<number>
  SmsCentre,   // ComboBox2
  Relay,       // tree node: a relay state
  Slot,        // tree node: a telephone slot
  Message,     // tree node: the message text
  Threshold,   // tree node: a threshold
};

struct Field {
  Kind kind;
  int number = 0;     // control number; the tree (1..3) for tree nodes
  int node = -1;      // absolute node index for tree nodes
  // The window's texts, as the widgets carry them.
  QStringList tabs;   // tab texts, outermost first
  QStringList groups; // group frame titles, outermost first; for trees the node captions above
  QString column;     // analog page: the column heading above the field
  QString row;        // analog page: the row's label ("Вход 1")
  QString label;      // the field's own label, check box or radio group text; may be empty
  QString name;       // all of the above, tidied and joined with " › "
};

inline const QString kSeparator = QStringLiteral(" › ");
inline const QString kYes = QStringLiteral("да");
inline const QString kNo = QStringLiteral("нет");
inline const QString kNoSlot = QStringLiteral("Нет");

// Every field, in the order of the window's pages; names are unique.
const std::vector<Field> &allFields();
const Field *fieldByName(const QString &name);

// The value as the window shows it, on one line: control characters and "\" are written as
// "\xNN" and "\\" so that every value is one line of text and set takes it back unchanged.
QString valueText(const Field &f, const ConfigValue &v);

// Sets the field from a value text in valueText's form, with the limits and character checks
// the window applies to typing. A text equal to the current one is always taken. Returns an
// empty string on success, otherwise why the value was refused (and `v` is unchanged).
QString applyValue(const Field &f, ConfigValue &v, const QString &text);

// Escapes as valueText does, and back; false for a malformed escape.
QString escapeValue(const QString &text);
bool unescapeValue(const QString &text, QString *out);

}  // namespace fieldnames
