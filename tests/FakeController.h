#pragma once
// The controller in-process: the simulator's core behind a fake serial port, on a manual clock.
// Protocol tests run the real link against it in virtual time, so a 5-second watchdog or a
// 9-second paced write costs no waiting.

#include <QCoreApplication>
#include <QList>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>

#include "ControllerCore.h"
#include "link/ComPort.h"
#include "link/Link.h"
#include "link/LinkClock.h"
#include "link/LinkProbe.h"

class TFakeSerialIo : public TSerialIo, public TManualClock::Source {
  Q_OBJECT
public:
  TFakeSerialIo(TManualClock &clock, korvel::Options options, korvel::Image image)
      : core(std::move(options), image), clock_(clock) {
    clock_.addSource(this);
  }
  ~TFakeSerialIo() override { clock_.removeSource(this); }

  bool open(const QString &) override {
    if (core.vanished() || unplugged) {
      error_ = QStringLiteral("Устройство отключено");
      return false;
    }
    open_ = true;
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
    if (!open_ || failWrites) {
      error_ = QStringLiteral("Ошибка записи в устройство");
      return false;
    }
    written += data;
    if (onWrite) onWrite(data);
    core.received(reinterpret_cast<const std::uint8_t *>(data.constData()), std::size_t(data.size()),
                  double(clock_.nowMs()));
    return true;   // a device that vanished on this line is reported by the next runDue()
  }
  QString errorString() const override { return error_; }

  std::int64_t nextDueMs() const override {
    if (!open_) return std::numeric_limits<std::int64_t>::max();
    if (core.vanished()) return clock_.nowMs();
    const double due = core.nextDueMs();
    if (!std::isfinite(due)) return std::numeric_limits<std::int64_t>::max();
    return std::max<std::int64_t>(clock_.nowMs(), std::int64_t(std::ceil(due)));
  }
  void runDue(std::int64_t nowMs) override {
    const std::string out = core.takeOutput(double(nowMs));
    if (!out.empty()) {
      inbox_.append(out.data(), qsizetype(out.size()));
      emit readyRead();
    }
    if (core.vanished() && open_) {
      open_ = false;
      error_ = QStringLiteral("Устройство отключено");
      emit failed(error_);
    }
  }

  // The adapter pulled out: the port reports it as a real one does, the controller hears
  // nothing more.
  void unplug() {
    if (!open_) return;
    unplugged = true;
    open_ = false;
    error_ = QStringLiteral("Устройство отключено");
    emit failed(error_);
  }

  // Listed by the rig's port list only while it is there.
  bool present() const { return !core.vanished() && !unplugged; }

  korvel::ControllerCore core;
  bool unplugged = false;
  QByteArray written;        // everything the program sent, in order
  bool failWrites = false;   // the device refuses every write
  // Told of each write the device took, as it is made: lets a test judge what the program
  // was doing at that moment.
  std::function<void(const QByteArray &)> onWrite;

private:
  TManualClock &clock_;
  QByteArray inbox_;
  QString error_;
  bool open_ = false;
};

// A link on the fake controller, its clock, and the re-arm tick running, as in the program.
struct FakeRig {
  explicit FakeRig(korvel::Options options = {}, korvel::Image image = sim::defaultImage())
      : io(new TFakeSerialIo(clock, std::move(options), image)),
        link(std::unique_ptr<TSerialIo>(io), &clock) {
    link.setPortLister([this] {
      return io->present() ? QList<TPortEntry>{{QStringLiteral("COM1"), QStringLiteral("fake"), {}, 1}}
                           : QList<TPortEntry>();
    });
    link.startRearmTick();
  }

  // Moves virtual time on; what the port reports from the event loop (a lost device) too.
  void advance(std::int64_t ms) {
    clock.advance(ms);
    QCoreApplication::sendPostedEvents();
  }
  // Opens COM1 and runs until the handshake is complete.
  bool connect(std::int64_t limitMs = 5000) {
    QString reason;
    return link.openPort(1, &reason) && handshake(limitMs);
  }
  // On an open port: listens and runs until the handshake is complete.
  bool handshake(std::int64_t limitMs = 5000) {
    link.listen();
    for (std::int64_t t = 0; t < limitMs && link.mode() != LinkMode::PC; t += 10) advance(10);
    return link.mode() == LinkMode::PC;
  }
  // Everything written since the last call.
  QByteArray takeWritten() {
    const QByteArray out = io->written.mid(taken_);
    taken_ = io->written.size();
    return out;
  }

  TManualClock clock;
  TFakeSerialIo *io;   // owned by the link's port
  TLink link;
  TLinkProbe probe{link};

private:
  qsizetype taken_ = 0;
};
