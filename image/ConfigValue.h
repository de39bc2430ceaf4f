#pragma once
// A whole configuration as plain data: what the editor's controls and reaction-tree captions
// hold, addressed by control number and absolute node index. The codec works on this value; the
// window copies its controls in and out of it.

#include <QString>
#include <array>
#include <vector>

#include "image/ControlTable.h"

struct ConfigValue {
  std::array<int, controls::kSpinCount + 1> spins{};        // [n]: SpinEdit<n>
  std::array<QString, controls::kTextCount + 1> texts;      // [n]: Edit<n>
  std::array<bool, controls::kCheckCount + 1> checks{};     // [n]: CheckBox<n>
  int modeByKey = 0;   // RadioGroup1 item index: 0 the TM key may change the mode, 1 it may not
  int modeBySms = 0;   // RadioGroup2 item index, the same for SMS
  QString smsCentre;   // ComboBox2's text
  std::array<std::vector<QString>, 4> captions;             // [tree 1..3] in pre-order

  // Out-of-range nodes read as empty and ignore writes, as a missing tree node would.
  QString caption(int tree, int index) const;
  void setCaption(int tree, int index, const QString &text);

  // What an untouched editor holds.
  static ConfigValue startup();
};
