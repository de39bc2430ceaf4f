#pragma once
// The controller link without any window: the port with its two framers, the link state
// (LinkMode, ReplyCounter, WatchdogReason), the reply watchdog, the framer re-arm tick, the
// reply dispatcher and the image transfer. Windows call its commands and show what its signals
// report; the signals fire at the points of the exchange where the window has something to do,
// in the order it must do it.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "image/ConfigImageTypes.h"
#include "link/ComPort.h"
#include "link/LinkMode.h"
#include "link/PortNames.h"
#include "link/StateReplies.h"

class TLinkTimer;
class TManualClock;

class TLink : public QObject {
  Q_OBJECT
public:
  // The real serial port and clock when `io` and `clock` are null.
  explicit TLink(std::unique_ptr<TSerialIo> io = nullptr, TManualClock *clock = nullptr,
                 QObject *parent = nullptr);
  ~TLink() override;

  LinkMode mode() const { return mode_; }

  // Where the port list comes from, and the local time the clock command sends; the system's
  // unless replaced.
  void setPortLister(std::function<QList<TPortEntry>()> lister) { listPorts_ = std::move(lister); }
  QList<TPortEntry> ports() const { return listPorts_(); }
  void setLocalTime(std::function<QDateTime()> now) { localTime_ = std::move(now); }
  // A timer on the link's clock, for windows that pace their own work with the link (a test's
  // virtual time runs them too).
  TLinkTimer *newTimer(QObject *parent) const;

  // ---- port ----
  bool portOpen() const { return portOpen_; }        // PortOpen
  // Closes the port if open, opens COM<number> and says "BYE"; LinkMode "NO_PC". On failure
  // the port is closed, `reason` says why, and LinkMode keeps its value.
  bool openPort(int number, QString *reason);
  // The same with a list the caller has just scanned, so that start-up scans the system once.
  bool openPort(int number, const QList<TPortEntry> &ports, QString *reason);
  // The same for a device named by its path ("/dev/ttyUSB0", "\\.\COM12"), listed or not.
  bool openPath(const QString &device, QString *reason);
  void closePort();
  // On closing the program: "BYE", then the port is closed.
  void sayGoodbye();
  QString portDevice() const;        // the open port's device path; empty when closed
  // The listed port that is open, with what the system told about it; empty when closed.
  TPortEntry portEntry() const { return portOpen_ ? entry_ : TPortEntry{}; }
  // After the port scan: LinkMode "NO_PC", the line matcher armed. The controller speaks first.
  void listen();
  // The 1000 ms matcher re-arm tick, from start-up to the end.
  void startRearmTick();

  // ---- main window commands ----
  // Each command arms the line matcher afresh for its reply. All are refused (false, nothing
  // sent) while a transfer runs; the main window is disabled then, so only a caller in error
  // gets here. A send that fails is no refusal: exchangeFailed reports it.
  bool startWrite(const ConfigImageBytes &image);   // "SAVE"; the image followed by a zero byte
  bool startRead();        // "LOAD"
  bool setControllerClock();   // "TIME"
  bool readMasterKey();    // "TM"
  bool readSensorIds();    // "ID"
  // From a transfer's command until its outcome: a write until "SAVE_OK", "ERR2", a refusal or
  // a time-out; a read until its last image byte or a failure. The main window is disabled for
  // exactly this span (transferActiveChanged), and nothing else talks to the controller.
  bool transferActive() const { return phase_ != Phase::None; }

  // ---- state window commands ----
  // Requests are refused (false, nothing sent) while a transfer runs and while received data is
  // held by a handler that has not returned (a message box of the main window): the reply would
  // wait behind the box and its watchdog would run out.
  bool stateRequestsAllowed() const;
  bool requestStatus();                              // "STATUS", reason 4, 7000 ms
  void switchRelays(const QByteArray &nineDigits);   // "RELE" and the relay line
  bool sendRs485(const QByteArray &hexAndFlag);      // "SEND RS-485" and the payload
  bool readRs485Settings();                          // "READ RS-485"
  bool setupRs485(const QByteArray &fourDigits);     // "SETUP RS-485" and the settings


signals:
  void lineShown(const QString &line);               // every received line, as received
  void bytesSent(const QByteArray &bytes);           // everything sent, as handed to the port
  void connected(const QString &version);            // handshake: characters 5..12 of "Ver." line
  void writeEchoed();                                // the byte phase of a write starts
  void readEchoed();                                 // the byte phase of a read starts
  void transferProgress(int position);               // after each image byte
  void writeBytesSent();                             // the write's byte phase is over
  void writeRefused();                               // the controller refused a byte with "e"
  // The controller confirmed a write or ended a read before the image had gone over: nothing
  // (or only part) was written; the read brought no image.
  void writeIncomplete();
  void readIncomplete();
  void imageReceived(const ConfigImageBytes &image); // all 4123 bytes of a read
  void saveConfirmed();                              // "SAVE_OK"
  void saveFailed();                                 // "ERR2"
  void masterKeyRead(const QString &key);
  void sensorIdRead(int number, const QString &id);  // number 1..8; empty for no sensor
  void dateReported(const QString &date, const QString &time);
  void watchdogExpired(WatchdogReason reason);
  // A write to the port failed, or the device vanished, during an exchange: it has been ended
  // as a stalled transfer would be. `detail` is the system's reason.
  void exchangeFailed(const QString &detail);
  void portLost(const QString &reason);
  void transferActiveChanged(bool active);
  // A main-window command has taken the link over from a state-window request or its second
  // after a reply: neither will end by itself now.
  void stateExchangeDropped();
  // Once a second while the link could take a state-window request and no exchange is awaited
  // (a read's "LOAD_OK" gets one tick of grace): polling that had to wait goes on.
  void idle();
  // State window replies: line `number` (from 1) of a "STATUS" reply, CR LF removed.
  void statusLine(int number, const QString &text);
  void statusComplete();
  void rs485Line(int number, const QString &text);   // the two lines of a "SEND RS-485" reply
  // The "READ RS-485" reply as read, and the line itself with its CR LF.
  void rs485SettingsRead(const Rs485Settings &settings, const QString &line);
  void rs485SetupReply(const QString &text);         // the "SETUP RS-485" reply, CR LF removed

private:
  friend class TLinkProbe;
  // ---- handlers: the port's two framers and the link's two timers call them ----
  void ApdDataPacket1StringPacket(const QByteArray &line);  // a whole line, CR LF included
  void ApdDataPacket2Packet(const std::uint8_t *data, int size);
  void Timer3Timer();
  void Timer2Timer();
  // Stops the watchdog, sets the reason and period, and starts it; period 0 keeps the period.
  void armWatchdog(WatchdogReason reason, int periodMs = 0);
  // Where a transfer stands; an echo starts the byte phase only in its own echo wait.
  enum class Phase { None, WriteEcho, WriteBytes, WriteConfirm, ReadEcho, ReadBytes };
  bool openEntry(const TPortEntry &entry, QString *reason);
  bool send(const QByteArray &bytes);
  void endLineExchange();   // back to the line matcher, byte matcher off
  void armLineForReply();   // a command's reply: the line matcher from an empty line
  void toByteMatcher();
  void setPhase(Phase p);
  bool beginCommand();      // false while a transfer runs
  bool ownedByEarlierTransfer(const QByteArray &line);
  void endTransferEarly(bool write);
  void abortExchange(const QString &detail);
  void takeOverFromStateWindow();
  bool stateRequest(LinkMode mode, const QByteArray &command, const QByteArray &payload, int waitMs);
  void onPortLost(const QString &reason);
  void handshake(const QByteArray &line);
  void writeByte(std::uint8_t b);
  void readByte(std::uint8_t b);
  void stateReply(const QByteArray &line);

  // The images: what a write sends (followed on the wire by one zero byte) and where a read
  // stores.
  ConfigImageBytes outgoing_{};
  ConfigImageBytes incoming_{};
  std::function<QList<TPortEntry>()> listPorts_ = &PortNames::systemPorts;
  std::function<QDateTime()> localTime_ = &QDateTime::currentDateTime;
  int loadOkGraceTicks_ = 0;
  TManualClock *clock_;
  TComPort *port_;
  TLinkTimer *rearm_;
  TLinkTimer *watchdog_;
  bool portOpen_ = false;
  TPortEntry entry_;
  LinkMode mode_ = LinkMode::None;
  std::int32_t replyCounter_ = 0;
  WatchdogReason reason_ = WatchdogReason::None;
  Phase phase_ = Phase::None;
  // Confirmation lines an earlier transfer is still owed: when they come late they are that
  // transfer's, never the reply to the command that followed.
  bool saveOutcomeOwed_ = false;
  bool loadOkOwed_ = false;
  // A refused write reports its failure 3000 ms after the "e" whatever the link does meanwhile.
  TLinkTimer *refusalReport_;
  WatchdogReason refusalReason_ = WatchdogReason::None;
  int shownPosition_ = -1;
};
