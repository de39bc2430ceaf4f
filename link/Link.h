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

  TComPort *port() const { return port_; }           // ApdComPort1
  TDataPacket &lineMatcher() const;                  // ApdDataPacket1
  TDataPacket &byteMatcher() const;                  // ApdDataPacket2
  TLinkTimer *rearmTimer() const { return rearm_; }  // Timer2, 1000 ms, always running
  TLinkTimer *watchdog() const { return watchdog_; } // Timer3

  LinkMode mode() const { return mode_; }
  void setMode(LinkMode mode) { mode_ = mode; }
  std::int32_t replyCounter() const { return replyCounter_; }
  void setReplyCounter(std::int32_t n) { replyCounter_ = n; }
  WatchdogReason watchdogReason() const { return reason_; }
  // Stops the watchdog, sets the reason and period, and starts it; period 0 keeps the period.
  void armWatchdog(WatchdogReason reason, int periodMs = 0);

  // The images: what a write sends (followed on the wire by one zero byte) and where a read
  // stores. Both live for the whole run.
  ConfigImageBytes outgoing{};
  ConfigImageBytes incoming{};

  // Seams: where the port list comes from, and the local time the clock command sends.
  std::function<QList<TPortEntry>()> listPorts = &PortNames::systemPorts;
  std::function<QDateTime()> localTime = &QDateTime::currentDateTime;

  // ---- port ----
  bool portOpen() const { return portOpen_; }        // PortOpen
  // Closes the port if open, opens COM<number> and says "BYE"; LinkMode "NO_PC". On failure
  // the port is closed, `reason` says why, and LinkMode keeps its value.
  bool openPort(int number, QString *reason);
  // The same with a list the caller has just scanned, so that start-up scans the system once.
  bool openPort(int number, const QList<TPortEntry> &ports, QString *reason);
  void closePort();
  // On closing the program: "BYE", then the port is closed.
  void sayGoodbye();

  // ---- main window commands ----
  void startWrite();       // "SAVE": `outgoing` must have been built
  void startRead();        // "LOAD"
  void setControllerClock();   // "TIME"
  void readMasterKey();    // "TM"
  void readSensorIds();    // "ID"
  // From a transfer's command until its end (write: the confirmation or a failure; read: the
  // last image byte or a failure). Nothing else may talk to the controller meanwhile.
  bool transferActive() const { return transfer_ != Transfer::None; }

  // ---- state window commands ----
  void requestStatus();                              // "STATUS", reason 4, 7000 ms
  void switchRelays(const QByteArray &nineDigits);   // "RELE" and the relay line
  void sendRs485(const QByteArray &hexAndFlag);      // "SEND RS-485" and the payload
  void readRs485Settings();                          // "READ RS-485"
  void setupRs485(const QByteArray &fourDigits);     // "SETUP RS-485" and the settings

  // ---- handlers ----
  void ApdDataPacket1StringPacket(const QByteArray &line);  // a whole line, CR LF included
  void ApdDataPacket2Packet(const std::uint8_t *data, int size);
  void Timer3Timer();
  void Timer2Timer();

  // Progress position of a transfer: ReplyCounter / 39, rounded.
  int transferPosition() const;

signals:
  void lineShown(const QString &line);               // every received line, as received
  void connected(const QString &version);            // handshake: characters 5..12 of "Ver." line
  void writeEchoed();                                // the byte phase of a write starts
  void readEchoed();                                 // the byte phase of a read starts
  void transferProgress(int position);               // after each image byte
  void writeBytesSent();                             // the write's byte phase is over
  void writeRefused();                               // the controller refused a byte with "e"
  void imageReceived();                              // all 4123 bytes are in `incoming`
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
  // State window replies: line `number` (from 1) of a "STATUS" reply, CR LF removed.
  void statusLine(int number, const QString &text);
  void statusComplete();
  void rs485Line(int number, const QString &text);   // the two lines of a "SEND RS-485" reply
  // The "READ RS-485" reply as read, and the line itself with its CR LF.
  void rs485SettingsRead(const Rs485Settings &settings, const QString &line);
  void rs485SetupReply(const QString &text);         // the "SETUP RS-485" reply, CR LF removed

private:
  enum class Transfer { None, Write, Read };
  bool send(const QByteArray &bytes);
  void endLineExchange();   // back to the line matcher, byte matcher off
  void toByteMatcher();
  void setTransfer(Transfer t);
  void abortExchange(const QString &detail);
  void takeOverFromStateWindow();
  void stateRequest(LinkMode mode, const QByteArray &command, const QByteArray &payload, int waitMs);
  void onPortLost(const QString &reason);
  void handshake(const QByteArray &line);
  void writeByte(std::uint8_t b);
  void readByte(std::uint8_t b);
  void stateReply(const QByteArray &line);

  TManualClock *clock_;
  TComPort *port_;
  TLinkTimer *rearm_;
  TLinkTimer *watchdog_;
  bool portOpen_ = false;
  LinkMode mode_ = LinkMode::None;
  std::int32_t replyCounter_ = 0;
  WatchdogReason reason_ = WatchdogReason::None;
  Transfer transfer_ = Transfer::None;
  int shownPosition_ = -1;
};
