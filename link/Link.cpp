#include "link/Link.h"

#include <QMetaMethod>
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

TLink::TLink(std::unique_ptr<TSerialIo> io, TManualClock *clock, QObject *parent)
    : QObject(parent), clock_(clock), port_(new TComPort(this, std::move(io))),
      rearm_(new TLinkTimer(clock, this)), watchdog_(new TLinkTimer(clock, this)),
      refusalReport_(new TLinkTimer(clock, this)) {
  port_->setObjectName(QStringLiteral("ApdComPort1"));
  rearm_->setObjectName(QStringLiteral("Timer2"));
  watchdog_->setObjectName(QStringLiteral("Timer3"));
  if (clock_) port_->framers_.setClock(clock_->function());
  port_->framers_.onLine = [this](const QByteArray &line) { ApdDataPacket1StringPacket(line); };
  port_->framers_.onByte = [this](const std::uint8_t *data, int size) {
    ApdDataPacket2Packet(data, size);
  };
  connect(port_, &TComPort::portLost, this, &TLink::onPortLost);
  rearm_->setInterval(1000);
  connect(rearm_, &TLinkTimer::timeout, this, &TLink::Timer2Timer);
  watchdog_->setInterval(1000);
  connect(watchdog_, &TLinkTimer::timeout, this, &TLink::Timer3Timer);
  connect(refusalReport_, &TLinkTimer::timeout, this, [this] {
    refusalReport_->stop();
    emit watchdogExpired(refusalReason_);
  });
}

TLinkTimer *TLink::newTimer(QObject *parent) const { return new TLinkTimer(clock_, parent); }

TLink::~TLink() {
  rearm_->stop();
  watchdog_->stop();
  refusalReport_->stop();
}


void TLink::armWatchdog(WatchdogReason reason, int periodMs) {
  watchdog_->stop();
  reason_ = reason;
  if (periodMs > 0) watchdog_->setInterval(periodMs);
  watchdog_->start();
}


// ---- port ----

bool TLink::openPort(int number, QString *reason) { return openPort(number, listPorts_(), reason); }

bool TLink::openPort(int number, const QList<TPortEntry> &ports, QString *reason) {
  const TPortEntry *entry = nullptr;
  for (const TPortEntry &e : ports)
    if (e.number == number) entry = &e;
  if (entry && !entry->device.isEmpty()) return openEntry(*entry, reason);
  if (portOpen_) port_->close();
  portOpen_ = false;
  if (reason) *reason = QStringLiteral("Порт COM%1 в системе не найден").arg(number);
  return false;
}

bool TLink::openPath(const QString &device, QString *reason) {
  return openEntry(TPortEntry{QString(), device}, reason);
}

bool TLink::openEntry(const TPortEntry &entry, QString *reason) {
  if (portOpen_) port_->close();
  portOpen_ = false;
  entry_ = entry;
  QString why;
  if (port_->openDevice(entry.device, &why)) {
    if (port_->sendText("BYE\r\n")) {
      portOpen_ = true;
      mode_ = LinkMode::NO_PC;
      saveOutcomeOwed_ = loadOkOwed_ = false;   // whoever answers now owes nothing from before
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

QString TLink::portDevice() const { return portOpen_ ? port_->device() : QString(); }

void TLink::listen() {
  mode_ = LinkMode::NO_PC;
  port_->framers_.line.setArmed(true);
  port_->framers_.line.setAutoRearm(true);
}

void TLink::startRearmTick() { rearm_->start(); }

void TLink::sayGoodbye() {
  (void)port_->sendText("BYE\r\n");   // nobody waits for it; a port already gone is no matter
  if (portOpen_) closePort();
}

void TLink::onPortLost(const QString &reason) {
  port_->close();
  portOpen_ = false;
  // Whatever was pending is over: no reply, no second after a reply and no late report can
  // come from a device that is gone, and the loss is the one thing the operator is told.
  watchdog_->stop();
  refusalReport_->stop();
  endLineExchange();
  if (mode_ != LinkMode::NO_PC && mode_ != LinkMode::None) mode_ = LinkMode::PC;
  saveOutcomeOwed_ = loadOkOwed_ = false;
  setPhase(Phase::None);
  emit portLost(reason);
}

// ---- sending ----

bool TLink::send(const QByteArray &bytes) {
  // Nothing is built for the signal when nobody listens (a write sends its image byte by byte).
  static const QMetaMethod sentSignal = QMetaMethod::fromSignal(&TLink::bytesSent);
  if (isSignalConnected(sentSignal)) emit bytesSent(bytes);
  if (port_->sendText(bytes)) return true;
  abortExchange(port_->lastError());
  return false;
}

void TLink::abortExchange(const QString &detail) {
  watchdog_->stop();
  endLineExchange();
  if (mode_ != LinkMode::NO_PC && mode_ != LinkMode::None) mode_ = LinkMode::PC;
  setPhase(Phase::None);
  emit exchangeFailed(detail);
}

void TLink::endLineExchange() {
  port_->framers_.byte.setArmed(false);
  port_->framers_.byte.setAutoRearm(false);
  port_->framers_.line.setArmed(true);
  port_->framers_.line.setAutoRearm(true);
}

void TLink::armLineForReply() {
  // Disarming drops a partial line, so a fragment heard before never prefixes the reply; the
  // time-out counts afresh.
  port_->framers_.line.setArmed(false);
  endLineExchange();
}

void TLink::toByteMatcher() {
  port_->framers_.line.setArmed(false);
  port_->framers_.line.setAutoRearm(false);
  port_->framers_.byte.setArmed(true);
  port_->framers_.byte.setAutoRearm(true);
}

void TLink::setPhase(Phase p) {
  if (p == phase_) return;
  const bool was = transferActive();
  phase_ = p;
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

bool TLink::beginCommand() {
  if (transferActive()) return false;
  takeOverFromStateWindow();
  armLineForReply();
  return true;
}

// A transfer started again before a refused write was reported supersedes that report: the
// operator has already retried, and the new transfer's own ending is what will be told.
bool TLink::startWrite(const ConfigImageBytes &image) {
  if (!beginCommand()) return false;
  refusalReport_->stop();
  outgoing_ = image;
  setPhase(Phase::WriteEcho);
  if (!send("SAVE\r\n")) return true;
  mode_ = LinkMode::SAVE;
  armWatchdog(WatchdogReason::NoReply, kEchoWaitMs);
  return true;
}

bool TLink::startRead() {
  if (!beginCommand()) return false;
  refusalReport_->stop();
  setPhase(Phase::ReadEcho);
  mode_ = LinkMode::LOAD;
  if (!send("LOAD\r\n")) return true;
  armWatchdog(WatchdogReason::NoReply, kEchoWaitMs);
  return true;
}

bool TLink::setControllerClock() {
  if (!beginCommand()) return false;
  if (!send("TIME\r\n")) return true;
  mode_ = LinkMode::TIME;
  armWatchdog(WatchdogReason::NoReply);
  return true;
}

bool TLink::readMasterKey() {
  if (!beginCommand()) return false;
  mode_ = LinkMode::TM;
  armWatchdog(WatchdogReason::NoReply);
  send("TM\r\n");
  return true;
}

bool TLink::readSensorIds() {
  if (!beginCommand()) return false;
  mode_ = LinkMode::ID;
  armWatchdog(WatchdogReason::NoReply);
  replyCounter_ = 1;
  send("ID\r\n");
  return true;
}

// ---- state window commands ----

bool TLink::stateRequestsAllowed() const {
  return !transferActive() && !port_->framers_.delivering();
}

// A state-window request: its mode, reply line 1 next, the command and any payload, then the
// watchdog with reason 4.
bool TLink::stateRequest(LinkMode mode, const QByteArray &command, const QByteArray &payload,
                         int waitMs) {
  if (!stateRequestsAllowed()) return false;
  armLineForReply();
  mode_ = mode;
  replyCounter_ = 1;
  if (!send(command) || (!payload.isEmpty() && !send(payload))) return true;   // reported
  armWatchdog(WatchdogReason::StateNoReply, waitMs);
  return true;
}

bool TLink::requestStatus() { return stateRequest(LinkMode::STATUS, "STATUS\r\n", {}, kStatusWaitMs); }

void TLink::switchRelays(const QByteArray &nineDigits) {
  if (!stateRequestsAllowed()) return;
  if (send("RELE\r\n")) send(nineDigits + "\r\n");
}

bool TLink::sendRs485(const QByteArray &hexAndFlag) {
  return stateRequest(LinkMode::SEND_RS485, "SEND RS-485\r\n", hexAndFlag, kStatusWaitMs);
}

bool TLink::readRs485Settings() {
  return stateRequest(LinkMode::READ_RS485, "READ RS-485\r\n", {}, kSettingsWaitMs);
}

bool TLink::setupRs485(const QByteArray &fourDigits) {
  return stateRequest(LinkMode::SETUP_RS485, "SETUP RS-485\r\n", fourDigits, kSettingsWaitMs);
}

// ---- the reply dispatcher ----

void TLink::handshake(const QByteArray &line) {
  if (!send("PC_OK\r\n")) return;
  emit connected(fromCp1251(line.mid(4, 8)));
  mode_ = LinkMode::PC;
}

void TLink::ApdDataPacket1StringPacket(const QByteArray &line) {
  emit lineShown(fromCp1251(line));
  // Held while a message box was open and delivered after the device went: nobody is there to
  // answer, and the loss has been reported once already.
  if (!portOpen_) return;
  // Announcements queued before the handshake can still come in once a transfer has started;
  // an answer then would go into the image the controller is taking.
  if (line == "ATI\r\n") {
    if (!transferActive()) send("PC\r\n");
    return;
  }
  if (line.startsWith("Ver.")) {
    if (!transferActive()) handshake(line);
    return;
  }
  if (ownedByEarlierTransfer(line)) return;
  if (mode_ == LinkMode::SAVE) {
    if (line == "SAVE\r\n") {
      if (phase_ != Phase::WriteEcho) return;   // a repeated echo starts nothing
      // The echo: the byte phase starts with image byte 0.
      setPhase(Phase::WriteBytes);
      emit writeEchoed();
      toByteMatcher();
      shownPosition_ = -1;
      if (!send(QByteArray(1, char(outgoing_[0])))) return;
      replyCounter_ = 1;
      armWatchdog(WatchdogReason::TransferStalled, kFirstByteWaitMs);
      return;
    }
    // Acknowledgements the controller doubled can still be on their way when it confirms; they
    // end up in front of the confirmation line.
    QByteArray outcome = line;
    if (phase_ == Phase::WriteConfirm)
      while (outcome.size() > 2 && outcome.front() == 'o') outcome.remove(0, 1);
    if (outcome == "SAVE_OK\r\n") {
      if (phase_ != Phase::WriteConfirm) {
        endTransferEarly(true);   // "confirmed" before the image was through: it was not
        return;
      }
      mode_ = LinkMode::PC;
      watchdog_->stop();
      saveOutcomeOwed_ = false;
      setPhase(Phase::None);
      emit saveConfirmed();
    }
    if (outcome == "ERR2\r\n") {
      watchdog_->stop();
      mode_ = LinkMode::PC;
      saveOutcomeOwed_ = false;
      endLineExchange();
      setPhase(Phase::None);
      emit saveFailed();
    }
  }
  if (mode_ == LinkMode::LOAD) {
    if (line == "LOAD\r\n") {
      if (phase_ != Phase::ReadEcho) return;   // a repeated echo starts nothing
      setPhase(Phase::ReadBytes);
      emit readEchoed();
      toByteMatcher();
      shownPosition_ = -1;
      armWatchdog(WatchdogReason::TransferStalled, kFirstByteWaitMs);
      replyCounter_ = 0;
    }
    // Bytes a stray one pushed past the image's end come in front of the confirmation.
    const bool confirms = line == "LOAD_OK\r\n" || (loadOkOwed_ && line.endsWith("LOAD_OK\r\n"));
    if (confirms) {
      if (phase_ == Phase::ReadEcho) {
        endTransferEarly(false);   // the read ended before any image came
        return;
      }
      mode_ = LinkMode::PC;
      watchdog_->stop();
      loadOkOwed_ = false;
    }
    return;
  }
  if (mode_ == LinkMode::TIME) {
    if (line == "TIME_OK\r\n") {
      watchdog_->stop();
      // Russian regional forms whatever this system's locale: 9:05:07 and 08.12.26.
      const QDateTime now = localTime_();
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

// A late "SAVE_OK" or "ERR2" of a write whose bytes all went out, or the "LOAD_OK" of a read
// whose image came whole, belongs to that transfer: it is never the reply to a later command
// (a master key "SAVE_OK", status line 1 "LOAD_OK"), nor ends a new transfer's echo wait.
bool TLink::ownedByEarlierTransfer(const QByteArray &line) {
  if (saveOutcomeOwed_ && phase_ != Phase::WriteConfirm &&
      (line == "SAVE_OK\r\n" || line == "ERR2\r\n")) {
    saveOutcomeOwed_ = false;
    return true;
  }
  // In "LOAD" with no transfer running it is the awaited confirmation itself.
  const bool awaited = mode_ == LinkMode::LOAD && phase_ == Phase::None;
  // Stray bytes may sit in front of it, as they may in front of the awaited one.
  if (loadOkOwed_ && line.endsWith("LOAD_OK\r\n") && !awaited) {
    loadOkOwed_ = false;
    return true;
  }
  return false;
}

// The controller ended the transfer before its image had gone over: the window is given back
// and told; nothing is retried.
void TLink::endTransferEarly(bool write) {
  watchdog_->stop();
  mode_ = LinkMode::PC;
  endLineExchange();
  setPhase(Phase::None);
  if (write)
    emit writeIncomplete();
  else
    emit readIncomplete();
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
  if (!portOpen_) return;
  for (int i = 0; i < size; ++i) {
    if (phase_ == Phase::WriteBytes) {
      writeByte(data[i]);
    } else if (phase_ == Phase::ReadBytes) {
      readByte(data[i]);
    } else {
      // No byte phase is running: a stray byte must not wake a stopped watchdog with the reason
      // of an exchange long over.
      if (watchdog_->isActive()) watchdog_->start(kNextByteWaitMs);
      ++replyCounter_;
    }
  }
}

void TLink::writeByte(std::uint8_t b) {
  // Only an acknowledgement or a refusal moves the transfer on: a stray byte that advanced the
  // position would make the next acknowledgement skip an image byte.
  if (b != 'o' && b != 'e') {
    watchdog_->start(kNextByteWaitMs);
    return;
  }
  const bool last = replyCounter_ > kImageSize - 1;
  if (b == 'o') {
    // The next byte goes out before anything else is done: the controller waits for it, and the
    // bookkeeping below (a progress window's repaint included) then runs while it crosses the
    // line. Bytes that come in meanwhile wait in the framers until this handler returns.
    // Index 4123 is the zero byte that follows the image on the wire.
    if (replyCounter_ >= 0 && replyCounter_ <= kImageSize) {
      const char next = replyCounter_ < kImageSize ? char(outgoing_[std::size_t(replyCounter_)]) : '\0';
      if (!send(QByteArray(1, next))) return;
    }
    watchdog_->start(kNextByteWaitMs);
    if (last) {
      endLineExchange();   // the confirmation line comes next
      reason_ = WatchdogReason::SaveUnconfirmed;
    }
    const int position = int(std::lround(replyCounter_ / 39.0));
    if (position != shownPosition_) {
      shownPosition_ = position;
      emit transferProgress(position);
    }
    ++replyCounter_;
    if (last) {
      // The window stays disabled until the controller's verdict: a command sent meanwhile
      // would take "SAVE_OK" for its own reply.
      saveOutcomeOwed_ = true;
      setPhase(Phase::WriteConfirm);
      emit writeBytesSent();
    }
    return;
  }
  // Refused: back to lines and the window given back at once; the failure is reported 3000 ms
  // later, and no command started meanwhile can swallow that report.
  if (last) reason_ = WatchdogReason::SaveUnconfirmed;
  ++replyCounter_;
  watchdog_->stop();
  mode_ = LinkMode::PC;
  endLineExchange();
  refusalReason_ = last ? WatchdogReason::SaveUnconfirmed : WatchdogReason::TransferStalled;
  refusalReport_->start(kNextByteWaitMs);
  setPhase(Phase::None);
  emit writeRefused();
}

void TLink::readByte(std::uint8_t b) {
  watchdog_->start(kNextByteWaitMs);
  const int n = replyCounter_;
  ++replyCounter_;
  if (n < 0 || n >= kImageSize) return;
  incoming_[std::size_t(n)] = b;
  const int position = int(std::lround(n / 39.0));
  if (position != shownPosition_) {
    shownPosition_ = position;
    emit transferProgress(position);
  }
  if (n == kImageSize - 1) {
    watchdog_->stop();
    endLineExchange();   // "LOAD" stays until "LOAD_OK"
    loadOkOwed_ = true;
    loadOkGraceTicks_ = 0;
    setPhase(Phase::None);
    emit imageReceived(incoming_);
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
    setPhase(Phase::None);
  emit watchdogExpired(reason);
}

void TLink::Timer2Timer() {
  port_->framers_.checkTimeouts();
  if ((mode_ == LinkMode::NO_PC || mode_ == LinkMode::PC) && !port_->framers_.line.armed()) {
    port_->framers_.line.setArmed(true);
    port_->framers_.line.setAutoRearm(true);
  }
  if (mode_ == LinkMode::SAVE && !port_->framers_.byte.armed()) {
    port_->framers_.byte.setArmed(true);
    port_->framers_.byte.setAutoRearm(true);
  }
  if (portOpen_ && stateRequestsAllowed() &&
      (mode_ == LinkMode::PC || (mode_ == LinkMode::LOAD && ++loadOkGraceTicks_ > 1)))
    emit idle();
}
