#pragma once
// Threshold value dialog: opened by the analog and sensor trees on a "Порог" node; OK writes
// "Порог " + value into the selected node of the tree named by the main window's DialogTarget.

#include <QDialog>

class QGroupBox;
class QLineEdit;
class QPushButton;

class TForm3 : public QDialog {
  Q_OBJECT
public:
  explicit TForm3(QWidget *parent = nullptr);

  QGroupBox *GroupBox1 = nullptr;
  QLineEdit *Edit1 = nullptr;       // the value, at most 10 characters
  QPushButton *Button1 = nullptr;   // "OK"
  QPushButton *Button2 = nullptr;   // "Cancel"

public slots:
  void Button1Click();
  void Button2Click();
  void Edit1KeyUp();

  // Only OK and Cancel close the dialog: Escape and the window manager's close do nothing.
  void reject() override {}

protected:
  void keyPressEvent(QKeyEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;
};

extern TForm3 *Form3;
