#pragma once
// SMS text dialog: opened by any tree on a message node; OK writes the text unchanged into the
// selected node of the tree named by the main window's DialogTarget.

#include <QDialog>

class QGroupBox;
class QLineEdit;
class QPushButton;

class TSMS : public QDialog {
  Q_OBJECT
public:
  explicit TSMS(QWidget *parent = nullptr);

  QGroupBox *GroupBox1 = nullptr;
  QLineEdit *Edit21 = nullptr;      // the message, at most 32 characters, any character
  QPushButton *Button1 = nullptr;   // "OK"
  QPushButton *Button2 = nullptr;   // "Cancel"

public slots:
  void Button1Click();
  void Button2Click();

  // Only OK and Cancel close the dialog: Escape and the window manager's close do nothing.
  void reject() override {}

protected:
  void keyPressEvent(QKeyEvent *event) override;
};

extern TSMS *SMS;
