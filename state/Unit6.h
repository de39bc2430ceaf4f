#pragma once
// State and control window: live inputs, clock, relays and the RS-485 pass-through.

#include <QWidget>

class TForm6 : public QWidget {
  Q_OBJECT
public:
  explicit TForm6(QWidget *parent = nullptr);
};

extern TForm6 *Form6;
