#pragma once
// Splash window: shown while the main window builds itself, then destroyed.

#include <QWidget>

class QLabel;

class TForm4 : public QWidget {
  Q_OBJECT
public:
  explicit TForm4(QWidget *parent = nullptr);
  QLabel *Image1 = nullptr;
};

extern TForm4 *Form4;
