#pragma once
// The main window's exchange with the controller: the port picker, the handshake and
// received-line labels, the exchange menu and the key and id buttons, the progress window during
// transfers, and the messages about how an exchange ended. It talks to the link only through the
// link's commands and signals; the window keeps the controls and hands its handlers over here.

#include <QObject>
#include <QString>
#include <array>
#include <functional>

#include "image/ConfigImageTypes.h"
#include "link/PortNames.h"

class QAbstractButton;
class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QStatusBar;
class TLinkTimer;
class QWidget;
class TLink;
class TProgress;

class TExchangePanel : public QObject {
  Q_OBJECT
public:
  // The window's controls the panel drives.
  struct Controls {
    QComboBox *picker;                       // ComboBox1
    QLabel *status, *version, *received;     // Label39, Label40, Label41
    QAction *menu;                           // N5, "Обмен с контроллером"
    QAbstractButton *keyButton, *idButton;   // Button1, Button3
    QLineEdit *key;                          // Edit12
    std::array<QLineEdit *, 8> ids;          // Edit13..Edit20
    // StatusBar1: a lost port's wait and its return. A TPortPicker as the picker has its list
    // scanned again whenever it opens.
    QStatusBar *statusLine = nullptr;
  };
  // `progress` gives the window's progress window when a transfer needs it: the window may be
  // handed its own after the panel is built.
  TExchangePanel(QWidget *window, TLink *link, std::function<TProgress *()> progress,
                 const Controls &controls);

  void scan();   // lists the ports, opens the first, and listens for the controller
  void pick();   // the picker's text changed: that port is opened again
  void goodbye();   // the window closes: "BYE", the port closed
  // The list scanned again, the picker's text and the open port left as they are.
  void relist();
  // The window has been disabled and the image built; the write gives it back when it is over.
  void write(const ConfigImageBytes &image);
  void read();
  void setClock();
  void readKey();
  void readIds();

signals:
  void imageRead(const ConfigImageBytes &image);   // a read's whole image; the window applies it

private:
  void connectLink();
  void open(const QList<TPortEntry> *scanned);
  void fillPicker(const QList<TPortEntry> &ports);
  // The list anew with `text` still shown, and no change signal: it would open the port again.
  void refillShowing(const QList<TPortEntry> &ports, const QString &text);
  // While the open port's device is gone it is looked for once a second, and reopened when it
  // is back (the same device path, or the same adapter under another one).
  void onPortLost(const QString &reason);
  void lookForReturn();
  void stopWaiting();
  void say(const QString &text);   // on the status line
  void giveBack();   // progress closed, the window usable again
  void error(const QString &text, const QString &detail = {});
  void setCommandsEnabled(bool on);

  QWidget *window_;
  TLink *link_;
  TProgress *progress() const { return progress_(); }
  std::function<TProgress *()> progress_;
  Controls c_;
  TPortEntry opened_;    // the port opened last, kept when its device vanishes
  TLinkTimer *returnPoll_;
};
