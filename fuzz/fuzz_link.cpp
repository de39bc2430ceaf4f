// A real TLink on a scripted port and a manual clock, driven by fuzzer-chosen events: the main
// window's commands, the state window's requests, reply lines, raw bytes, time, failed writes
// and a vanishing device. Commands come only when the windows would allow them. After every
// event the exchange must still make sense (see Checker); at the end, after a quiet spell, a
// well-behaved controller must get a key read, a status poll, a read and a write through.
//
// Input: two bytes seed the image a write sends and the bytes a read receives; the rest is
// consumed event by event. A handler that would show a message box runs the next few events
// inside it, as the box's own event loop would.
#include <fuzzer/FuzzedDataProvider.h>

#include <QCoreApplication>
#include <QDateTime>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "ControllerCore.h"
#include "FuzzSupport.h"
#include "image/Checksum.h"
#include "link/ComPort.h"
#include "link/Link.h"
#include "link/LinkClock.h"
#include "link/LinkProbe.h"

namespace {

constexpr int kImage = int(kConfigImageSize);
const char kKey[] = "0A00001B2C3D4E5F";

// The port: writes are recorded and handed to the checker; what the script (or, at the end, the
// simulator's controller core) sends is read from the inbox.
class ScriptedIo final : public TSerialIo, public TManualClock::Source {
public:
  explicit ScriptedIo(TManualClock &clock) : clock_(clock) { clock_.addSource(this); }
  ~ScriptedIo() override { clock_.removeSource(this); }

  bool open(const QString &) override {
    open_ = true;
    inbox_.clear();
    return true;
  }
  void close() override { open_ = false; }
  bool isOpen() const override { return open_; }
  QByteArray read(qint64 maxSize) override {
    const QByteArray out = inbox_.left(maxSize);
    inbox_.remove(0, out.size());
    return out;
  }
  bool write(const QByteArray &data) override {
    if (!open_ || failNext > 0) {
      failNext = std::max(0, failNext - 1);
      error_ = QStringLiteral("Ошибка записи в устройство");
      return false;
    }
    if (onWrite) onWrite(data);
    if (core) core->received(reinterpret_cast<const std::uint8_t *>(data.constData()), std::size_t(data.size()),
                             double(clock_.nowMs()));
    return true;
  }
  QString errorString() const override { return error_; }

  void receive(const QByteArray &bytes) {
    if (traceReceived) traceReceived(bytes);
    if (!open_ || bytes.isEmpty()) return;
    inbox_.append(bytes);
    emit readyRead();
  }
  void lose() {
    if (!open_) return;
    open_ = false;
    emit failed(QStringLiteral("Устройство отключено"));
  }

  std::int64_t nextDueMs() const override {
    if (!core || !open_) return std::numeric_limits<std::int64_t>::max();
    const double due = core->nextDueMs();
    if (!std::isfinite(due)) return std::numeric_limits<std::int64_t>::max();
    return std::max<std::int64_t>(clock_.nowMs(), std::int64_t(std::ceil(due)));
  }
  void runDue(std::int64_t nowMs) override {
    const std::string out = core->takeOutput(double(nowMs));
    receive(QByteArray(out.data(), qsizetype(out.size())));
  }

  std::function<void(const QByteArray &)> onWrite;
  std::function<void(const QByteArray &)> traceReceived;
  int failNext = 0;
  korvel::ControllerCore *core = nullptr;

private:
  TManualClock &clock_;
  QByteArray inbox_;
  QString error_;
  bool open_ = false;
};

const char *const kWords[] = {
    "ATI", "Ver.2.10", "SAVE", "SAVE_OK", "ERR2", "LOAD", "LOAD_OK", "TIME_OK", "DATE09.12.26 07:30:00", "DATE",
    "PC", "OK", "ERR", kKey, "0000000000000000", "28FF4A1B02160345", "3300", "01 02 03 C1 D2", "N/A", "10101010",
    "12,34", "09.12.26", "07:30:00", "", "Ver.", "SAVESAVE", "e", "o"};

QByteArray statusReply() {
  QByteArray out = "10101010\r\n";
  for (int i = 0; i < 8; ++i) out += QByteArray::number(4 + 2 * i) + ",00\r\n";
  for (int i = 0; i < 8; ++i) out += i == 1 ? QByteArray("N/A\r\n") : QByteArray::number(21 + i) + ",5\r\n";
  return out + "09.12.26\r\n07:30:00\r\n";
}

struct Harness {
  TManualClock clock;
  ScriptedIo *io;
  TLink link;
  FuzzedDataProvider &p;
  ConfigImageBytes image{};       // what writes send
  ConfigImageBytes lastImage{};   // what the last read handed over
  QByteArray readStream;          // what reads receive, 4123 bytes
  int depth = 0;

  // ---- the model the checks compare against ----
  enum class Cmd { None, Write, Read };
  bool connected = false;     // a handshake since the port was opened
  Cmd cmd = Cmd::None;        // the last transfer the main window started (kept after its end:
                              // the link reports the end before the outcome)
  bool reported = false;      // its outcome (confirmation, failure or image) was reported
  bool active = false;        // as transferActiveChanged last said
  bool inTransferCall = false;
  bool awaitingEcho = false;  // the transfer's command waits for its echo
  bool bytePhase = false;
  int acks = 0;               // 'o' delivered to the link in this write's byte phase
  int sent = 0;               // image bytes written in it
  bool trailerSent = false;
  QByteArray received;        // bytes delivered to the link in this read's byte phase
  const char *outcome = nullptr;   // a transfer's outcome reported during this event
  // The box depth the state window's request now running was made at: a write from a box opened
  // under it (a handshake answered there, say) is not the request's own.
  int stateCallDepth = -1;
  bool stateWindowOpen = false;   // opened after a first handshake; it stays open, polling
  int boxesSinceLoss = -1;        // failure boxes since the device was lost; -1: not lost
  std::int64_t finalDelayMs = 0;  // between the good controller's handshake and the key read
  // What the final phase waits for.
  QString keyRead;
  bool statusDone = false, imageDone = false, saveDone = false;

  explicit Harness(FuzzedDataProvider &provider)
      : io(new ScriptedIo(clock)), link(std::unique_ptr<TSerialIo>(io), &clock), p(provider) {
    link.setPortLister([] { return QList<TPortEntry>{{QStringLiteral("COM1"), QStringLiteral("fuzz"), {}, 1}}; });
    link.setLocalTime([] { return QDateTime(QDate(2026, 12, 9), QTime(7, 30, 0)); });
    io->onWrite = [this](const QByteArray &data) {
      if (data.size() > 1) trace("  written:", data);
      written(data);
    };
    if (tracing()) io->traceReceived = [this](const QByteArray &data) { if (!io->core) trace("  received:", data); };
    TPacketFramers &f = TLinkProbe(link).framers();
    auto deliver = f.onByte;
    f.onByte = [this, deliver](const std::uint8_t *d, int n) {
      for (int i = 0; i < n; ++i) {
        if (bytePhase && cmd == Cmd::Write && d[i] == 'o') ++acks;
        if (bytePhase && cmd == Cmd::Read) received.append(char(d[i]));
      }
      deliver(d, n);
    };
    connectSignals();
    link.startRearmTick();
  }

  void connectSignals() {
    TLink *l = &link;
    QObject::connect(l, &TLink::connected, [this] { connected = stateWindowOpen = true; });
    QObject::connect(l, &TLink::writeEchoed, [this] {
      FUZZ_CHECK_NAMED("echo", awaitingEcho && cmd == Cmd::Write, "a write's byte phase starts with no SAVE waiting for its echo");
      awaitingEcho = false;
      bytePhase = true;
      acks = sent = 0;
    });
    QObject::connect(l, &TLink::readEchoed, [this] {
      FUZZ_CHECK_NAMED("echo", awaitingEcho && cmd == Cmd::Read, "a read's byte phase starts with no LOAD waiting for its echo");
      awaitingEcho = false;
      bytePhase = true;
      received.clear();
    });
    QObject::connect(l, &TLink::writeBytesSent, [this] {
      FUZZ_CHECK_NAMED("bytes-sent", cmd == Cmd::Write && acks >= kImage - 1, "write's bytes reported sent after %d acknowledgements", acks);
    });
    QObject::connect(l, &TLink::writeRefused, [this] { bytePhase = false; });
    QObject::connect(l, &TLink::saveConfirmed, [this] {
      FUZZ_CHECK_NAMED("early-confirm", cmd == Cmd::Write && trailerSent,
                 "a write confirmed after %d of %d image bytes sent and %d acknowledged", sent, kImage + 1, acks);
      FUZZ_CHECK_NAMED("outcome-twice", !reported, "a write's outcome reported twice");
      reported = true;
      outcome = "saveConfirmed";
      saveDone = true;
    });
    QObject::connect(l, &TLink::saveFailed, [this] {
      FUZZ_CHECK_NAMED("outcome-twice", cmd == Cmd::Write, "a save failure reported with no write");
      FUZZ_CHECK_NAMED("outcome-twice", !reported, "a write's outcome reported twice");
      reported = true;
      outcome = "saveFailed";
      box();
    });
    QObject::connect(l, &TLink::imageReceived, [this](const ConfigImageBytes &incoming) {
      lastImage = incoming;
      FUZZ_CHECK_NAMED("outcome-twice", cmd == Cmd::Read && !reported, "an image reported received with no read waiting for it");
      reported = true;
      FUZZ_CHECK_NAMED("read-bytes", received.size() == kImage, "an image reported received after %lld bytes", (long long)received.size());
      const auto diff = std::mismatch(lastImage.begin(), lastImage.end(), received.begin(),
                                     [](std::uint8_t a, char b) { return a == std::uint8_t(b); });
      FUZZ_CHECK_NAMED("read-bytes", diff.first == lastImage.end(), "the stored image differs from the bytes that came at %td: %02x, came %02x",
                 diff.first - lastImage.begin(), *diff.first, std::uint8_t(*diff.second));
      outcome = "imageReceived";
      imageDone = true;
    });
    QObject::connect(l, &TLink::watchdogExpired, [this](WatchdogReason r) {
      if (r == WatchdogReason::NoReply || r == WatchdogReason::TransferStalled || r == WatchdogReason::SaveUnconfirmed ||
          r == WatchdogReason::StateNoReply) {
        if (r != WatchdogReason::StateNoReply) outcome = "watchdogExpired";
        box();
      }
    });
    // A transfer the controller ended before its image went over: told in a box.
    QObject::connect(l, &TLink::writeIncomplete, [this] {
      FUZZ_CHECK_NAMED("outcome-twice", cmd == Cmd::Write && !reported, "a write reported incomplete with no write waiting");
      reported = true;
      outcome = "writeIncomplete";
      box();
    });
    QObject::connect(l, &TLink::readIncomplete, [this] {
      FUZZ_CHECK_NAMED("outcome-twice", cmd == Cmd::Read && !reported, "a read reported incomplete with no read waiting");
      reported = true;
      outcome = "readIncomplete";
      box();
    });
    QObject::connect(l, &TLink::exchangeFailed, [this] {
      outcome = "exchangeFailed";
      box();
    });
    QObject::connect(l, &TLink::portLost, [this] {
      outcome = "portLost";
      connected = false;
      stateWindowOpen = false;   // a loss stops automatic polling until the next handshake
      box();
    });
    QObject::connect(l, &TLink::dateReported, [this] { box(); });
    QObject::connect(l, &TLink::masterKeyRead, [this](const QString &key) { keyRead = key; });
    QObject::connect(l, &TLink::statusComplete, [this] { statusDone = true; });
    QObject::connect(l, &TLink::rs485SettingsRead, [this](const Rs485Settings &s, const QString &) {
      if (!s.ok) box();
    });
    QObject::connect(l, &TLink::transferActiveChanged, [this](bool on) {
      if (on) {
        FUZZ_CHECK_NAMED("active-signal", !active, "a transfer marked active twice");
        FUZZ_CHECK_NAMED("active-signal", inTransferCall, "a transfer marked active outside startWrite/startRead");
      } else {
        FUZZ_CHECK_NAMED("active-signal", active, "a transfer's end reported twice");
        // `cmd` stays: the link reports the end before the outcome.
        bytePhase = awaitingEcho = false;
      }
      active = on;
    });
  }

  void written(const QByteArray &data) {
    if (data.size() == 1) {
      // An image byte: only in a write's byte phase, in order, each after its acknowledgements.
      FUZZ_CHECK_NAMED("image-byte", cmd == Cmd::Write && bytePhase && active, "byte %02x written outside a write's byte phase",
                 std::uint8_t(data[0]));
      const int k = sent++;
      FUZZ_CHECK_NAMED("image-byte", k <= kImage, "image byte %d written after the trailing zero", k);
      FUZZ_CHECK_NAMED("image-byte", k <= acks, "image byte %d written after %d acknowledgements", k, acks);
      const std::uint8_t want = k < kImage ? image[std::size_t(k)] : 0;
      FUZZ_CHECK_NAMED("image-byte", std::uint8_t(data[0]) == want, "image byte %d is %02x, expected %02x", k, std::uint8_t(data[0]), want);
      if (k == kImage) trailerSent = true;
      return;
    }
    static const QByteArray kState[] = {"STATUS\r\n", "SEND RS-485\r\n", "READ RS-485\r\n", "SETUP RS-485\r\n",
                                        "RELE\r\n"};
    const bool fromStateCall = stateCallDepth == depth;
    const bool state = fromStateCall || std::find(std::begin(kState), std::end(kState), data) != std::end(kState);
    FUZZ_CHECK_NAMED("state-during-transfer", !(state && link.transferActive()), "\"%s\" written while a transfer runs",
               data.toPercentEncoding().constData());
    // Under a box that holds a received line, the reply to a request could not be read until
    // the box is closed: by then the request has long been given up.
    FUZZ_CHECK_NAMED("state-during-delivery", !(fromStateCall && TLinkProbe(link).delivering()),
                     "\"%s\" written while a handler holds received data", data.toPercentEncoding().constData());
  }

  void checkAfterEvent() {
    FUZZ_CHECK_NAMED("active-signal", link.transferActive() == active, "transferActive() is %d, the last change said %d",
               int(link.transferActive()), int(active));
    if (outcome)
      FUZZ_CHECK_NAMED("active-after-outcome", !link.transferActive(), "a transfer stays active after %s", outcome);
    outcome = nullptr;
    const TPacketFramers &f = TLinkProbe(link).framers();
    FUZZ_CHECK_NAMED("bounds", f.collectedLineBytes() <= TPacketFramers::kMaxLine, "%lld line bytes", (long long)f.collectedLineBytes());
    FUZZ_CHECK_NAMED("bounds", f.storedInputBytes() <= TComPort::kBufferSize + 2 * TPacketFramers::kMaxHeld, "%lld input bytes kept",
               (long long)f.storedInputBytes());
  }

  void settle() { QCoreApplication::sendPostedEvents(); }

  // A message box is modal: under one, nobody clicks; only the state window's polling goes on.
  bool mainWindowFree() const { return depth == 0 && link.portOpen() && connected && !link.transferActive(); }

  void mainCommand(int which) {
    static const char *const kNames[] = {"startWrite", "startRead", "setControllerClock", "readMasterKey", "readSensorIds"};
    trace(mainWindowFree() ? kNames[which] : "(main window not free)");
    if (!mainWindowFree()) return;
    switch (which) {
      case 0:
      case 1:
        cmd = which == 0 ? Cmd::Write : Cmd::Read;
        reported = false;
        bytePhase = false;
        awaitingEcho = true;
        trailerSent = false;
        acks = sent = 0;
        received.clear();
        inTransferCall = true;
        if (which == 0) {
          link.startWrite(image);
        } else {
          link.startRead();
        }
        inTransferCall = false;
        break;
      case 2: link.setControllerClock(); break;
      case 3: link.readMasterKey(); break;
      default: link.readSensorIds(); break;
    }
  }

  void stateRequest(int which) {
    static const char *const kNames[] = {"requestStatus", "switchRelays", "sendRs485", "readRs485Settings", "setupRs485"};
    // The state window has no port of its own to look at: once open it asks whenever no transfer
    // runs (it learns of transfers only through transferActiveChanged).
    const bool free = stateWindowOpen && !active && (depth == 0 || which == 0);
    trace(free ? kNames[which] : "(state window not free)");
    if (!free) return;
    const int outer = stateCallDepth;
    stateCallDepth = depth;
    switch (which) {
      case 0: link.requestStatus(); break;
      case 1: link.switchRelays("101000011"); break;
      case 2: link.sendRs485("0103000A00011"); break;
      case 3: link.readRs485Settings(); break;
      default: link.setupRs485("3300"); break;
    }
    stateCallDepth = outer;
  }

  // A message box: its event loop runs while the handler waits.
  void box() {
    if (boxesSinceLoss >= 0)
      FUZZ_CHECK_NAMED("boxes-per-loss", ++boxesSinceLoss <= 1, "a lost device gave %d message boxes", boxesSinceLoss);
    if (depth >= 2 || p.remaining_bytes() == 0) return;
    const int n = p.ConsumeIntegralInRange<int>(0, 3);
    ++depth;
    for (int i = 0; i < n && p.remaining_bytes() > 0; ++i) event();
    --depth;
  }

  std::int64_t pickMs() {
    static constexpr std::int64_t kTable[] = {0, 1, 10, 999, 1000, 1001, 2999, 3000, 3001, 4000, 5000, 7000,
                                              TPacketFramers::kTimeoutMs, 130000};
    const std::uint8_t v = p.ConsumeIntegral<std::uint8_t>();
    return v < 128 ? kTable[v % std::size(kTable)] : std::int64_t(v - 128) * 1000;
  }

  // QUORLAN_FUZZ_TRACE=1 prints the events as they run, to read a finding.
  static bool tracing() {
    static const bool on = std::getenv("QUORLAN_FUZZ_TRACE") != nullptr;
    return on;
  }
  void trace(const char *what, const QByteArray &detail = {}) const {
    if (tracing())
      std::fprintf(stderr, "%*s[%lld ms] %s %s\n", depth * 2, "", (long long)clock.nowMs(), what,
                   detail.left(60).toPercentEncoding(" ").constData());
  }

  void event() {
    const int kind = p.ConsumeIntegralInRange<int>(0, 13);
    if (tracing()) {
      static const char *const kKinds[] = {"main command", "state request", "line", "line", "text line", "piece",
                                           "acknowledgements", "image bytes", "status reply", "time", "failing writes",
                                           "device lost", "open port", "handshake"};
      trace(kKinds[kind]);
    }
    switch (kind) {
      case 0: mainCommand(p.ConsumeIntegralInRange<int>(0, 4)); break;
      case 1: stateRequest(p.ConsumeIntegralInRange<int>(0, 4)); break;
      case 2:
      case 3: io->receive(QByteArray(kWords[p.ConsumeIntegralInRange<std::size_t>(0, std::size(kWords) - 1)]) + "\r\n"); break;
      case 4: io->receive(QByteArray::fromStdString(p.ConsumeRandomLengthString(40)) + "\r\n"); break;
      case 5: {
        static const char *const kPieces[] = {"o", "e", "\r", "\n", "\r\n", "oo", "?"};
        io->receive(kPieces[p.ConsumeIntegralInRange<std::size_t>(0, std::size(kPieces) - 1)]);
        break;
      }
      case 6: {   // acknowledgements in bulk
        static constexpr int kCounts[] = {1, 2, 100, kImage - 1, kImage, kImage + 1, kImage + 2};
        int n = kCounts[p.ConsumeIntegralInRange<std::size_t>(0, std::size(kCounts) - 1)];
        if (bytePhase && cmd == Cmd::Write && p.ConsumeBool()) n = std::max(1, kImage + 1 - acks);
        io->receive(QByteArray(n, 'o'));
        break;
      }
      case 7: {   // image bytes: all, some, or one too many
        const int n = std::clamp(kImage + p.ConsumeIntegralInRange<int>(-3, 2), 0, kImage);
        QByteArray bytes = readStream.left(n);
        if (p.ConsumeBool()) bytes += "\r\nLOAD_OK\r\n";
        io->receive(bytes);
        break;
      }
      case 8: io->receive(statusReply()); break;
      case 9: {
        const std::int64_t ms = pickMs();
        trace("  advance", QByteArray::number(ms));
        clock.advance(ms);
        break;
      }
      case 10: io->failNext = p.ConsumeIntegralInRange<int>(1, 3); break;
      case 11:
        if (link.portOpen() && io->isOpen()) boxesSinceLoss = 0;
        io->lose();
        break;
      case 12:
        if (depth == 0 && !link.transferActive()) {
          QString why;
          connected = false;
          boxesSinceLoss = -1;
          link.openPort(1, &why);
        }
        break;
      default: io->receive("ATI\r\nVer.2.10\r\n"); break;
    }
    settle();
    checkAfterEvent();
  }

  // Runs virtual time in small steps until `done` or the limit.
  template <typename F>
  bool waitFor(F done, std::int64_t limitMs) {
    for (std::int64_t t = 0; t < limitMs && !done(); t += 10) {
      clock.advance(10);
      settle();
      checkAfterEvent();
    }
    return done();
  }

  void finalPhase() {
    trace("final phase: 130 s quiet, then a good controller");
    io->failNext = 0;
    clock.advance(130000);
    settle();
    checkAfterEvent();
    // After a known fault that was let through, the rest would only report its consequences.
    if (fuzzSkippedFailures() > 0) return;
    // Idle, or one of the waits the protocol leaves open (identifiers cut short, a clock set
    // without its date report, a read without "LOAD_OK"), with no watchdog running.
    const LinkMode mode = link.mode();
    const bool openWait = (mode == LinkMode::ID || mode == LinkMode::TIME || mode == LinkMode::LOAD) &&
                          !link.transferActive() && !TLinkProbe(link).watchdog().isActive();
    if (link.portOpen() && connected)
      FUZZ_CHECK_NAMED("quiet-mode", mode == LinkMode::PC || openWait, "after a quiet spell the link is in mode %s",
                 qPrintable(linkModeText(mode)));
    FUZZ_CHECK_NAMED("quiet-transfer", !link.transferActive(), "a transfer is still active after a quiet spell");
    if (fuzzSkippedFailures() > 0) return;

    korvel::ControllerCore core(korvel::Options{}, sim::defaultImage());
    io->core = &core;
    connected = false;
    boxesSinceLoss = -1;
    if (!link.portOpen()) {
      QString why;
      FUZZ_CHECK_NAMED("liveness", link.openPort(1, &why), "the port does not open again: %s", qPrintable(why));
    }
    FUZZ_CHECK_NAMED("liveness", waitFor([&] { return connected && link.mode() == LinkMode::PC; }, 5000), "no handshake with a good controller");

    clock.advance(finalDelayMs);
    settle();
    keyRead.clear();
    mainCommand(3);
    FUZZ_CHECK_NAMED("liveness-key", waitFor([&] { return !keyRead.isEmpty(); }, 3000) && keyRead == QLatin1String(kKey),
               "the key read did not complete (\"%s\")", qPrintable(keyRead));

    if (fuzzSkippedFailures() > 0) return;
    statusDone = false;
    stateRequest(0);
    FUZZ_CHECK_NAMED("liveness-status", waitFor([&] { return statusDone; }, 8000), "the status poll did not complete");

    imageDone = false;
    mainCommand(1);
    FUZZ_CHECK_NAMED("liveness-read", waitFor([&] { return imageDone && !active && link.mode() == LinkMode::PC; }, 20000),
               "the read did not complete");
    FUZZ_CHECK_NAMED("liveness", std::equal(lastImage.begin(), lastImage.end(), core.image().begin()), "the read image differs");

    saveDone = false;
    storeChecksum(image);
    FUZZ_CHECK_NAMED("liveness", waitFor([&] { return mainWindowFree(); }, 2000), "the main window stays disabled after a read");
    mainCommand(0);
    FUZZ_CHECK_NAMED("liveness-write", waitFor([&] { return saveDone && !active; }, 30000), "the write did not complete");
    FUZZ_CHECK_NAMED("liveness", core.image() == image, "the controller holds another image than was written");
    io->core = nullptr;
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  static int argc = 1;
  static char name[] = "fuzz_link";
  static char *argv[] = {name, nullptr};
  new QCoreApplication(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fuzzSkippedFailures() = 0;
  FuzzedDataProvider p(data, size);
  Harness h(p);
  std::mt19937_64 rng(p.ConsumeIntegral<std::uint16_t>());
  // The key read at the end comes at a time that matters for the line matcher's time-out.
  static constexpr std::int64_t kFinalDelays[] = {0, 60000, TPacketFramers::kTimeoutMs - 100, TPacketFramers::kTimeoutMs + 300};
  h.finalDelayMs = kFinalDelays[p.ConsumeIntegralInRange<int>(0, 3)];
  for (auto &b : h.image) b = std::uint8_t(rng());
  h.readStream.resize(kImage);
  for (char &c : h.readStream) c = char(rng());

  QString why;
  FUZZ_CHECK(h.link.openPort(1, &why), "the port does not open: %s", qPrintable(why));
  h.link.listen();
  while (p.remaining_bytes() > 0) h.event();
  h.finalPhase();
  return 0;
}
