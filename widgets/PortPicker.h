#pragma once
// The port picker: an editable combo box that says when its list is about to open, so the
// list can be scanned again just before the operator looks at it (an adapter plugged in
// after start-up appears, one pulled out disappears).

#include <QComboBox>

class TPortPicker : public QComboBox {
  Q_OBJECT
public:
  using QComboBox::QComboBox;
  void showPopup() override;

signals:
  // Before the list opens, by mouse or keyboard; its items may be replaced here.
  void popupAboutToShow();
};
