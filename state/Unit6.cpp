#include "state/Unit6.h"

TForm6 *Form6 = nullptr;

namespace {
constexpr QSize kClientSize(757, 541);
}

TForm6::TForm6(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("Form6"));
  setWindowTitle(QStringLiteral("Текущее состояние и управление"));
  setAttribute(Qt::WA_QuitOnClose, false);
  setFixedSize(kClientSize);
}
