#pragma once
// SMS text dialog: opened by any tree on a message node; OK reports the text unchanged, and the
// main window writes it into the selected node of the tree that asked.

#include "editor/ValueDialog.h"

class TSMS : public TValueDialog {
  Q_OBJECT
public:
  explicit TSMS(QWidget *parent = nullptr);

  QLineEdit *const Edit21;          // the message; at most 32 characters are typed, any character

public slots:
  void Button1Click();
  void Button2Click();
signals:
  void textAccepted(const QString &text);
};

extern TSMS *SMS;
