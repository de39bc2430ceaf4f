#pragma once
// State and control window: live inputs, clock, relays and the RS-485 pass-through. It talks to
// the controller through the link it is given and shows what the link reports.

#include <QList>
#include <QWidget>
#include <array>

#include "link/LinkMode.h"

class QAbstractButton;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TLink;
class TRadioGroup;

class TForm6 : public QWidget {
  Q_OBJECT
public:
  explicit TForm6(TLink *link, QWidget *parent = nullptr);

  // ---- controls ----
  QCheckBox *CheckBox(int n) const { return checkBoxes_.at(std::size_t(n - 1)); }   // 1..18
  QLineEdit *Edit(int n) const;   // Edit1..Edit17, Edit19, Edit20; null for any other number
  QPushButton *Button1 = nullptr;   // "Отправить команду"
  QPushButton *Button2 = nullptr;   // "Установить настройки"
  QPushButton *Button3 = nullptr;   // "Обновить"
  QPushButton *Button5 = nullptr;   // "Считать настройки"
  QPushButton *BitBtn1 = nullptr;   // "Автообновление "
  QPushButton *BitBtn2 = nullptr;   // "Остановить"
  QPlainTextEdit *Memo1 = nullptr;  // the RS-485 exchange log
  QGroupBox *GroupBox5 = nullptr;   // "Управление"
  TRadioGroup *RadioGroup1 = nullptr, *RadioGroup2 = nullptr;   // baud rate, data bits
  TRadioGroup *RadioGroup3 = nullptr, *RadioGroup4 = nullptr;   // parity, stop bits

  // The main window's "Текущее состояние и управление": resets the fields and shows the window.
  void N9Click();

public slots:
  void Button1Click();   // send the RS-485 command
  void Button2Click();   // set the RS-485 port
  void Button3Click();   // one status request
  void Button5Click();   // read the RS-485 port settings
  void BitBtn1Click();   // automatic polling on
  void BitBtn2Click();   // automatic polling off

private:
  void buildControls();
  void connectLink();
  void relayClick();
  void watchdogExpired(WatchdogReason reason);
  // The four request buttons usable again; with `captions`, their own captions back too.
  void requestsOver(bool captions);
  void transferChanged(bool active);
  void resumeTick();
  bool polling() const;   // automatic polling is on ("Остановить" usable)
  void setLog(const QString &request, const QString &reply);

  TLink *link_;
  bool placed_ = false;
  std::array<QCheckBox *, 18> checkBoxes_{};
  std::array<QLineEdit *, 20> edits_{};
  // Hold the controls that must not talk to the controller while an image transfer runs.
  // Disabling the holder keeps each control's own state for when the transfer is over.
  QList<QWidget *> transferGates_;
  QString logRequest_, logReply_;
  bool resumePending_ = false;
};

extern TForm6 *Form6;
