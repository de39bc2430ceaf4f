#include "widgets/PortPicker.h"

void TPortPicker::showPopup() {
  emit popupAboutToShow();
  QComboBox::showPopup();
}
