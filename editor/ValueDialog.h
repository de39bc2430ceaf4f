#pragma once
// The frame both value dialogs share: a titled group with one edit, "OK" and "Cancel", modal,
// no caption-bar buttons. Only the two buttons close it: Enter, Escape and the window manager's
// close do nothing.

#include <QDialog>

class QGroupBox;
class QLineEdit;
class QPushButton;

class TValueDialog : public QDialog {
  Q_OBJECT
public:
  QGroupBox *GroupBox1 = nullptr;
  QPushButton *Button1 = nullptr;   // "OK"
  QPushButton *Button2 = nullptr;   // "Cancel"

  void reject() override {}
  // Puts `text` into the edit and runs the dialog, unless it is already open.
  void openWith(const QString &text);

protected:
  TValueDialog(const QString &name, const QString &caption, const QString &groupTitle,
               const QString &editName, int maxLength, int minWidth, QWidget *parent);
  QLineEdit *edit() const { return edit_; }
  void keyPressEvent(QKeyEvent *event) override;

private:
  QLineEdit *edit_ = nullptr;
};
