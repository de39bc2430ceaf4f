#pragma once
// Threshold value dialog: opened by the analog and sensor trees on a "Порог" node; OK reports
// the value, and the main window writes "Порог " + value into the selected node of the tree
// that asked.

#include "editor/ValueDialog.h"

class TForm3 : public TValueDialog {
  Q_OBJECT
public:
  explicit TForm3(QWidget *parent = nullptr);

  QLineEdit *const Edit1;           // the value; at most 10 characters are typed

public slots:
  void Button1Click();
  void Button2Click();
  void Edit1KeyUp();

signals:
  void valueAccepted(const QString &value);

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;
  void showEvent(QShowEvent *event) override;

private:
  QString shownValue_;              // the value the dialog opened with
};

extern TForm3 *Form3;
