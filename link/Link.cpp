#include "link/Link.h"

#include <QTime>
#include <cmath>

#include "image/Cp1251.h"
#include "link/ComPort.h"
#include "link/LinkClock.h"
#include "link/StateReplies.h"

namespace {
constexpr int kEchoWaitMs = 5000;
constexpr int kFirstByteWaitMs = 1000;
constexpr int kNextByteWaitMs = 3000;
constexpr int kStatusWaitMs = 7000;
constexpr int kSettingsWaitMs = 4000;
constexpr int kResultShownMs = 1000;
constexpr int kImageSize = int(kConfigImageSize);

QString withoutTerminator(const QByteArray &line) { return fromCp1251(line.chopped(2)); }
}  // namespace

QString linkModeText(LinkMode mode) {
  switch (mode) {
    case LinkMode::None: return {};
    case LinkMode::NO_PC: return QStringLiteral("NO_PC");
    case LinkMode::PC: return QStringLiteral("PC");
    case LinkMode::SAVE: return QStringLiteral("SAVE");
    case LinkMode::LOAD: return QStringLiteral("LOAD");
    case LinkMode::TIME: return QStringLiteral("TIME");
    case LinkMode::TM: return QStringLiteral("TM");
    case LinkMode::ID: return QStringLiteral("ID");
    case LinkMode::STATUS: return QStringLiteral("STATUS");
    case LinkMode::SEND_RS485: return QStringLiteral("SEND RS-485");
    case LinkMode::READ_RS485: return QStringLiteral("READ RS-485");
    case LinkMode::SETUP_RS485: return QStringLiteral("SETUP RS-485");
  }
  return {};
}

TLink::TLink(std::unique_ptr<TSerialIo> io, TManualClock *clock, QObject *parent)
    : QObject(parent), clock_(clock), port_(new TComPort(this, std::move(io))),
      rearm_(new TLinkTimer(clock, this)), watchdog_(new TLinkTimer(clock, this)) {
  port_->setObjectName(QStringLiteral("ApdComPort1"));
  rearm_->setObjectName(QStringLiteral("Timer2"));
  watchdog_->setObjectName(QStringLiteral("Timer3"));
  if (clock_) port_->framers.setClock(clock_->function());
  port_->framers.onLine = [this](const QByteArray &line) { ApdDataPacket1StringPacket(line); };
  port_->framers.onByte = [this](const std::uint8_t *data, int size) {
    ApdDataPacket2Packet(data, size);
  };
  connect(port_, &TComPort::portLost, this, &TLink::onPortLost);
  rearm_->setInterval(1000);
  connect(rearm_, &TLinkTimer::timeout, this, &TLink::Timer2Timer);
  watchdog_->setInterval(1000);
  connect(watchdog_, &TLinkTimer::timeout, this, &TLink::Timer3Timer);
}

TLink::~TLink() {
  rearm_->stop();
  watchdog_->stop();
}

TDataPacket &TLink::lineMatcher() const { return port_->framers.line; }
TDataPacket &TLink::byteMatcher() const { return port_->framers.byte; }

void TLink::armWatchdog(WatchdogReason reason, int periodMs) {
  watchdog_->stop();
  reason_ = reason;
  if (periodMs > 0) watchdog_->setInterval(periodMs);
  watchdog_->start();
}

int TLink::transferPosition() const { return int(std::lround(replyCounter_ / 39.0)); }

// ---- port ----

bool TLink::openPort(int number, QString *reason) { return openPort(number, listPorts(), reason); }

bool TLink::openPort(int number, const QList<TPortEntry> &ports, QString *reason) {
  if (portOpen_) port_->close();
  portOpen_ = false;
  QString device;
  for (const TPortEntry &e : ports)
    if (e.number == number) device = e.device;
  QString why;
  if (device.isEmpty()) {
    why = QStringLiteral("Порт COM%1 в системе не найден").arg(number);
  } else if (port_->openDevice(device, &why)) {
    if (port_->sendText("BYE\r\n")) {
      portOpen_ = true;
      mode_ = LinkMode::NO_PC;
      return true;
    }
    why = port_->lastError();
    port_->close();
  }
  if (reason) *reason = why;
  return false;
}

void TLink::closePort() {
  port_->close();
  portOpen_ = false;
}

void TLink::sayGoodbye() {
  (void)port_->sendText("BYE\r\n");   // nobody waits for it; a port already gone is no matter
  if (portOpen_) closePort();
}

void TLink::onPortLost(const QString &reason) {
  port_->close();
  portOpen_ = false;
  if (mode_ != LinkMode::NO_PC && mode_ != LinkMode::None && mode_ != LinkMode::PC) {
    watchdog_->stop();
    endLineExchange();
    mode_ = LinkMode::PC;
  }
  setTransfer(Transfer::None);
  emit portLost(reason);
}

// ---- sending ----

bool TLink::send(const QByteArray &bytes) {
  if (port_->sendText(bytes)) return true;
  abortExchange(port_->lastError());
  return false;
}

void TLink::abortExchange(const QString &detail) {
  watchdog_->stop();
  endLineExchange();
  if (mode_ != LinkMode::NO_PC && mode_ != LinkMode::None) mode_ = LinkMode::PC;
  setTransfer(Transfer::None);
  emit exchangeFailed(detail);
}

void TLink::endLineExchange() {
  port_->framers.byte.setArmed(false);
  port_->framers.byte.setAutoRearm(false);
  port_->framers.line.setArmed(true);
  port_->framers.line.setAutoRearm(true);
}

void TLink::toByteMatcher() {
  port_->framers.line.setArmed(false);
  port_->framers.line.setAutoRearm(false);
  port_->framers.byte.setArmed(true);
  port_->framers.byte.setAutoRearm(true);
}

void TLink::setTransfer(Transfer t) {
  if (t == transfer_) return;
  const bool was = transferActive();
  transfer_ = t;
  if (was != transferActive()) emit transferActiveChanged(transferActive());
}

// ---- main window commands ----

void TLink::takeOverFromStateWindow() {
  const bool pending = mode_ == LinkMode::STATUS || mode_ == LinkMode::SEND_RS485 ||
                       mode_ == LinkMode::READ_RS485 || mode_ == LinkMode::SETUP_RS485 ||
                       (watchdog_->isActive() && (reason_ == WatchdogReason::StateNoReply ||
                                                  reason_ == WatchdogReason::StateDone));
  if (pending) emit stateExchangeDropped();
}

void TLink::startWrite() {
  takeOverFromStateWindow();
  setTransfer(Transfer::Write);
  if (!send("SAVE\r\n")) return;
  mode_ = LinkMode::SAVE;
  armWatchdog(WatchdogReason::NoReply, kEchoWaitMs);
}

void TLink::startRead() {
  takeOverFromStateWindow();
  setTransfer(Transfer::Read);
  mode_ = LinkMode::LOAD;
  if (!send("LOAD\r\n")) return;
  armWatchdog(WatchdogReason::NoReply, kEchoWaitMs);
}

void TLink::setControllerClock() {
  takeOverFromStateWindow();
  if (!send("TIME\r\n")) return;
  mode_ = LinkMode::TIME;
  armWatchdog(WatchdogReason::NoReply);
}

void TLink::readMasterKey() {
  takeOverFromStateWindow();
  mode_ = LinkMode::TM;
  armWatchdog(WatchdogReason::NoReply);
  send("TM\r\n");
}

void TLink::readSensorIds() {
  takeOverFromStateWindow();
  mode_ = LinkMode::ID;
  armWatchdog(WatchdogReason::NoReply);
  replyCounter_ = 1;
  send("ID\r\n");
}

// ---- state window commands ----

// A state-window request: its mode, reply line 1 next, the command and any payload, then the
// watchdog with reason 4. Refused while a transfer has the link.
void TLink::stateRequest(LinkMode mode, const QByteArray &command, const QByteArray &payload,
                         int waitMs) {
  if (transferActive()) return;
  mode_ = mode;
  replyCounter_ = 1;
  if (!send(command) || (!payload.isEmpty() && !send(payload))) return;
  armWatchdog(WatchdogReason::StateNoReply, waitMs);
}

void TLink::requestStatus() { stateRequest(LinkMode::STATUS, "STATUS\r\n", {}, kStatusWaitMs); }

void TLink::switchRelays(const QByteArray &nineDigits) {
  if (transferActive()) return;
  if (send("RELE\r\n")) send(nineDigits + "\r\n");
}

void TLink::sendRs485(const QByteArray &hexAndFlag) {
  stateRequest(LinkMode::SEND_RS485, "SEND RS-485\r\n", hexAndFlag, kStatusWaitMs);
}

void TLink::readRs485Settings() {
  stateRequest(LinkMode::READ_RS485, "READ RS-485\r\n", {}, kSettingsWaitMs);
}

void TLink::setupRs485(const QByteArray &fourDigits) {
  stateRequest(LinkMode::SETUP_RS485, "SETUP RS-485\r\n", fourDigits, kSettingsWaitMs);
}

// ---- the reply dispatcher ----

void TLink::handshake(const QByteArray &line) {
  if (!send("PC_OK\r\n")) return;
  emit connected(fromCp1251(line.mid(4, 8)));
  mode_ = LinkMode::PC;
}

void TLink::ApdDataPacket1StringPacket(const QByteArray &line) {
  emit lineShown(fromCp1251(line));
  if (line == "ATI\r\n") {
    send("PC\r\n");
    return;
  }
  if (line.startsWith("Ver.")) {
    handshake(line);
    return;
  }
  if (mode_ == LinkMode::SAVE) {
    if (line == "SAVE\r\n") {
      // The echo: the byte phase starts with image byte 0.
      emit writeEchoed();
      toByteMatcher();
      shownPosition_ = -1;
      if (!send(QByteArray(1, char(outgoing[0])))) return;
      replyCounter_ = 1;
      armWatchdog(WatchdogReason::TransferStalled, kFirstByteWaitMs);
      return;
    }
    if (line == "SAVE_OK\r\n") {
      mode_ = LinkMode::PC;
      watchdog_->stop();
      setTransfer(Transfer::None);
      emit saveConfirmed();
    }
    if (line == "ERR2\r\n") {
      watchdog_->stop();
      mode_ = LinkMode::PC;
      setTransfer(Transfer::None);
      emit saveFailed();
    }
  }
  if (mode_ == LinkMode::LOAD) {
    if (line == "LOAD\r\n") {
      emit readEchoed();
      toByteMatcher();
      shownPosition_ = -1;
      armWatchdog(WatchdogReason::TransferStalled, kFirstByteWaitMs);
      replyCounter_ = 0;
    }
    if (line == "LOAD_OK\r\n") {
      mode_ = LinkMode::PC;
      watchdog_->stop();
    }
    return;
  }
  if (mode_ == LinkMode::TIME) {
    if (line == "TIME_OK\r\n") {
      watchdog_->stop();
      // Russian regional forms whatever this system's locale: 9:05:07 and 08.12.26.
      const QDateTime now = localTime();
      if (!send(now.time().toString(QStringLiteral("H:mm:ss")).toLatin1() + "\r\n")) return;
      if (!send(now.date().toString(QStringLiteral("dd.MM.yy")).toLatin1() + "\r\n")) return;
    }
    if (line.startsWith("DATE")) {
      mode_ = LinkMode::PC;
      emit dateReported(fromCp1251(line.mid(4, 8)), fromCp1251(line.mid(13, 8)));
    }
    return;
  }
  if (mode_ == LinkMode::TM) {
    mode_ = LinkMode::PC;
    watchdog_->stop();
    emit masterKeyRead(withoutTerminator(line));
    return;
  }
  if (mode_ == LinkMode::STATUS || mode_ == LinkMode::SEND_RS485 ||
      mode_ == LinkMode::READ_RS485 || mode_ == LinkMode::SETUP_RS485) {
    stateReply(line);
    return;
  }
  if (mode_ == LinkMode::ID) {
    watchdog_->stop();
    const int n = replyCounter_;
    if (n < 1 || n > 8) return;
    QString id = withoutTerminator(line);
    if (id == QLatin1String("0000000000000000")) id.clear();   // no sensor at this place
    if (n < 8)
      ++replyCounter_;
    else
      mode_ = LinkMode::PC;
    emit sensorIdRead(n, id);
  }
}

void TLink::stateReply(const QByteArray &line) {
  switch (mode_) {
    case LinkMode::STATUS: {
      const int n = replyCounter_;
      if (n < 1 || n > kStatusLines) return;
      ++replyCounter_;
      emit statusLine(n, withoutTerminator(line));
      if (n == kStatusLines) {
        mode_ = LinkMode::PC;
        emit statusComplete();
        armWatchdog(WatchdogReason::StateDone, kResultShownMs);
      }
      return;
    }
    case LinkMode::SEND_RS485:
      if (replyCounter_ == 1) {
        emit rs485Line(1, withoutTerminator(line));
        replyCounter_ = 2;
        armWatchdog(WatchdogReason::StateNoReply, kStatusWaitMs);
      } else if (replyCounter_ == 2) {
        emit rs485Line(2, withoutTerminator(line));
        armWatchdog(WatchdogReason::StateDone, kResultShownMs);
        mode_ = LinkMode::PC;
      }
      return;
    case LinkMode::READ_RS485: {
      watchdog_->stop();
      const Rs485Settings settings = parseRs485Settings(line);
      mode_ = LinkMode::PC;
      emit rs485SettingsRead(settings, fromCp1251(line));
      if (settings.ok) armWatchdog(WatchdogReason::StateDone, kResultShownMs);
      return;
    }
    case LinkMode::SETUP_RS485:
      watchdog_->stop();
      emit rs485SetupReply(withoutTerminator(line));
      armWatchdog(WatchdogReason::StateDone, kResultShownMs);
      mode_ = LinkMode::PC;
      return;
    default:
      return;
  }
}

// ---- the byte phase ----

void TLink::ApdDataPacket2Packet(const std::uint8_t *data, int size) {
  for (int i = 0; i < size; ++i) {
    if (mode_ == LinkMode::SAVE) {
      writeByte(data[i]);
    } else if (mode_ == LinkMode::LOAD) {
      readByte(data[i]);
    } else {
      // No transfer is running: a stray byte must not wake a stopped watchdog with the reason of
      // an exchange long over.
      if (watchdog_->isActive()) watchdog_->start(kNextByteWaitMs);
      ++replyCounter_;
    }
  }
}

void TLink::writeByte(std::uint8_t b) {
  watchdog_->start(kNextByteWaitMs);
  // Only an acknowledgement or a refusal moves the transfer on: a stray byte that advanced the
  // position would make the next acknowledgement skip an image byte.
  if (b != 'o' && b != 'e') return;
  if (replyCounter_ > kImageSize - 1) {
    endLineExchange();   // the confirmation line comes next
    reason_ = WatchdogReason::SaveUnconfirmed;
    emit writeBytesSent();
  }
  if (b == 'o') {
    const int position = transferPosition();
    if (position != shownPosition_) {
      shownPosition_ = position;
      emit transferProgress(position);
    }
    // Index 4123 is the zero byte that follows the image on the wire.
    if (replyCounter_ >= 0 && replyCounter_ <= kImageSize) {
      const char next = replyCounter_ < kImageSize ? char(outgoing[std::size_t(replyCounter_)]) : '\0';
      if (!send(QByteArray(1, next))) return;
    }
  } else {
    // Refused: back to lines at once; the watchdog still reports the failure later.
    mode_ = LinkMode::PC;
    endLineExchange();
    emit writeRefused();
  }
  ++replyCounter_;
}

void TLink::readByte(std::uint8_t b) {
  watchdog_->start(kNextByteWaitMs);
  const int n = replyCounter_;
  ++replyCounter_;
  if (n < 0 || n >= kImageSize) return;
  incoming[std::size_t(n)] = b;
  const int position = int(std::lround(n / 39.0));
  if (position != shownPosition_) {
    shownPosition_ = position;
    emit transferProgress(position);
  }
  if (n == kImageSize - 1) {
    watchdog_->stop();
    endLineExchange();   // "LOAD" stays until "LOAD_OK"
    setTransfer(Transfer::None);
    emit imageReceived();
  }
}

// ---- timers ----

void TLink::Timer3Timer() {
  watchdog_->stop();
  mode_ = LinkMode::PC;
  const WatchdogReason reason = reason_;
  if (reason == WatchdogReason::NoReply || reason == WatchdogReason::TransferStalled) endLineExchange();
  if (reason == WatchdogReason::NoReply || reason == WatchdogReason::TransferStalled ||
      reason == WatchdogReason::SaveUnconfirmed)
    setTransfer(Transfer::None);
  emit watchdogExpired(reason);
}

void TLink::Timer2Timer() {
  port_->framers.checkTimeouts();
  if ((mode_ == LinkMode::NO_PC || mode_ == LinkMode::PC) && !port_->framers.line.armed()) {
    port_->framers.line.setArmed(true);
    port_->framers.line.setAutoRearm(true);
  }
  if (mode_ == LinkMode::SAVE && !port_->framers.byte.armed()) {
    port_->framers.byte.setArmed(true);
    port_->framers.byte.setAutoRearm(true);
  }
}
