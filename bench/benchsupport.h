#pragma once
// What the link benchmarks share: the simulator process, the program's link driven the way the
// main window drives it, the clients they are measured against, and small statistics.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <ctime>
#include <optional>
#include <vector>

#include "link/Link.h"
#include "link/LinkClock.h"
#include "link/PortNames.h"

namespace bench {

constexpr int kImage = int(kConfigImageSize);
constexpr int kRoundTrips = kImage + 1;   // the image and the zero byte after it
constexpr double kCharS = 10.0 / 9600.0;  // one 8N1 character
// A write puts every image byte and the zero byte on the line, and each but the last comes
// back as "o".
constexpr double kWireWriteS = 2.0 * kRoundTrips * kCharS - kCharS;   // 8,247 characters
constexpr double kWireReadS = kImage * kCharS;                        // 4,123 characters

// CPU seconds of this process: the program's own cost, which other work on the machine does not
// stretch the way it stretches wall time.
inline double cpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// The system-wide monotonic clock, comparable between processes.
inline double monotonicSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

inline double median(std::vector<double> v) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline double best(const std::vector<double> &v) {
  return v.empty() ? -1 : *std::min_element(v.begin(), v.end());
}

inline QString listRuns(const std::vector<double> &v, int decimals = 1) {
  QStringList s;
  for (double x : v) s << QString::number(x, 'f', decimals);
  return s.join(QStringLiteral(", "));
}

// Runs the event loop for `ms`. (processEvents() with a time limit would not sleep between
// events but spin, and take the CPU from the processes being measured.)
inline void runFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Runs the event loop until `done` says so, looking every 10 ms, or for `ms` at most.
template <class F>
bool runUntil(F done, int ms) {
  if (done()) return true;
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  check.start(10);
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
  return done();
}

// Other work on the machine shows up as the odd round trip that waits milliseconds for a CPU.
inline QString loadAverage() {
  QFile f(QStringLiteral("/proc/loadavg"));
  if (!f.open(QIODevice::ReadOnly)) return QStringLiteral("unknown");
  return QString::fromLatin1(f.readAll().split(' ').mid(0, 3).join(' '));
}

// An image the controller accepts (good checksum), different for every salt.
inline ConfigImageBytes benchImage(int salt) {
  ConfigImageBytes img{};
  std::uint8_t sum = 0;
  for (int i = 0; i < kImage - 1; ++i) {
    img[std::size_t(i)] = std::uint8_t((i * 31 + 7 + salt) & 0xFF);
    sum = std::uint8_t(sum + img[std::size_t(i)]);
  }
  img[kImage - 1] = sum;
  return img;
}

inline bool saveImage(const ConfigImageBytes &image, const QString &path) {
  QFile out(path);
  return out.open(QIODevice::WriteOnly) &&
         out.write(reinterpret_cast<const char *>(image.data()), qint64(image.size())) ==
             qint64(image.size());
}

// One simulator process on virtual port COM<number> of this run's runtime folder.
class Sim {
public:
  bool start(int number, bool pace, const QString &logFile) {
    number_ = number;
    QStringList args{"--port", QString::number(number), "--announce-ms", "100"};
    if (pace) args << "--baud-pace";
    proc_.setStandardErrorFile(logFile);   // its log stays out of the figures
    proc_.start(QStringLiteral(KORVEL_SIM_PATH), args);
    if (!proc_.waitForStarted(5000)) return false;
    QElapsedTimer t;
    t.start();
    while (!proc_.canReadLine() && t.elapsed() < 5000) proc_.waitForReadyRead(50);
    const QList<QByteArray> parts = proc_.readLine().trimmed().split(' ');
    if (parts.size() != 3) return false;
    link_ = QString::fromLocal8Bit(parts.at(1));
    return true;
  }
  ~Sim() {
    if (proc_.state() == QProcess::NotRunning) return;
    proc_.terminate();
    proc_.waitForFinished(3000);
  }
  int number() const { return number_; }
  QString link() const { return link_; }

private:
  QProcess proc_;
  int number_ = 0;
  QString link_;
};

// The program's link on one simulator, opened and connected as the main window does it.
class ProgramClient {
public:
  explicit ProgramClient(int number) : number_(number) {
    // The virtual ports of this run only: a scan of the machine's devices adds nothing here.
    link_.setPortLister([] { return PortNames::scanVirtualFolder(PortNames::virtualPortFolder()); });
    QObject::connect(&link_, &TLink::saveConfirmed, [this] { finish(true, "SAVE_OK"); });
    QObject::connect(&link_, &TLink::imageReceived, [this](const ConfigImageBytes &image) {
      incoming_ = image;
      finish(true, "image received");
    });
    QObject::connect(&link_, &TLink::saveFailed, [this] { finish(false, "ERR2"); });
    QObject::connect(&link_, &TLink::writeRefused, [this] { finish(false, "refused with \"e\""); });
    QObject::connect(&link_, &TLink::watchdogExpired, [this](WatchdogReason r) {
      finish(false, QStringLiteral("watchdog, reason %1").arg(int(r)));
    });
    QObject::connect(&link_, &TLink::exchangeFailed,
                     [this](const QString &d) { finish(false, QStringLiteral("failed: ") + d); });
    QObject::connect(&link_, &TLink::connected, [this](const QString &) { wake(); });
  }
  ~ProgramClient() { link_.sayGoodbye(); }

  bool connect(QString *why) {
    link_.startRearmTick();
    if (!link_.openPort(number_, why)) return false;
    link_.listen();
    done_ = false;
    if (!wait(5000) || link_.mode() != LinkMode::PC) {
      *why = QStringLiteral("no handshake");
      return false;
    }
    settle();
    return true;
  }

  // Seconds from the command to the signal that ends it; nothing on failure.
  std::optional<double> write(const ConfigImageBytes &image, QString *outcome) {
    return run([this, &image] { link_.startWrite(image); }, 30000, outcome);
  }
  std::optional<double> read(QString *outcome) {
    incoming_.fill(0);
    const auto s = run([this] { link_.startRead(); }, 20000, outcome);
    // "LOAD_OK" follows the image; the next command waits for it as the program does.
    runUntil([this] { return link_.mode() == LinkMode::PC; }, 2000);
    return s;
  }
  const ConfigImageBytes &incoming() const { return incoming_; }
  double lastCpuS() const { return cpuS_; }
  TLink &link() { return link_; }

private:
  template <class F>
  std::optional<double> run(F command, int timeoutMs, QString *outcome) {
    done_ = ok_ = false;
    outcome_.clear();
    const double cpu0 = cpuSeconds();
    clock_.start();
    command();
    wait(timeoutMs);
    cpuS_ = cpuSeconds() - cpu0;
    *outcome = done_ ? outcome_ : QStringLiteral("no outcome in %1 s").arg(timeoutMs / 1000);
    const bool good = done_ && ok_;
    settle();
    if (!good) return std::nullopt;
    return elapsedS_;
  }
  void finish(bool ok, const QString &what) {
    if (done_) return;
    elapsedS_ = double(clock_.nsecsElapsed()) / 1e9;
    ok_ = ok;
    outcome_ = what;
    wake();
  }
  void wake() {
    done_ = true;
    if (waiting_) waiting_->quit();
  }
  // Runs the event loop until a handler wakes it, or for `timeoutMs`.
  bool wait(int timeoutMs) {
    if (done_) return true;
    QEventLoop loop;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    waiting_ = &loop;
    loop.exec();
    waiting_ = nullptr;
    return done_;
  }
  // Lets the last reply lines in and the line go quiet before the next command.
  static void settle() { runFor(100); }

  int number_;
  TLink link_;
  ConfigImageBytes incoming_{};
  QElapsedTimer clock_;
  double elapsedS_ = 0, cpuS_ = 0;
  bool done_ = false, ok_ = false;
  QString outcome_;
  QEventLoop *waiting_ = nullptr;
};

// Blocking stop-and-wait write, as plain as pyserial gets: one byte out, one "o" in. Timed
// from "SAVE" to the confirmation line, as the program's write is. Prints one line per run:
// seconds, the confirmation, and the CPU seconds it took.
inline const char *kPython = R"PY(
import serial, sys, time
port = serial.Serial(sys.argv[1], 9600, timeout=10)
data = open(sys.argv[2], 'rb').read() + b'\x00'
runs = int(sys.argv[3])
def line():
    return port.read_until(b'\r\n')
port.write(b'BYE\r\n')
while line() != b'ATI\r\n':
    pass
port.write(b'PC\r\n')
while not line().startswith(b'Ver.'):
    pass
port.write(b'PC_OK\r\n')
time.sleep(0.1)
port.reset_input_buffer()
for r in range(runs):
    c0 = time.process_time()
    t0 = time.perf_counter()
    port.write(b'SAVE\r\n')
    while line() != b'SAVE\r\n':
        pass
    port.write(data[0:1])
    for i in range(1, len(data)):
        if port.read(1) != b'o':
            sys.exit('no acknowledgement at %d' % i)
        port.write(data[i:i+1])
    reply = line()
    t1 = time.perf_counter()
    c1 = time.process_time()
    print('%.6f %s %.6f' % (t1 - t0, reply.strip().decode(), c1 - c0), flush=True)
    time.sleep(0.1)
port.write(b'BYE\r\n')
)PY";

inline QString python() {
  return QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3")
                                                           : QStringLiteral("python3");
}

inline bool havePyserial(QString *why) {
  QProcess p;
  p.start(python(), {"-c", "import serial"});
  if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    *why = QString::fromLocal8Bit(p.readAllStandardError().trimmed().split('\n').last());
    if (why->isEmpty()) *why = QStringLiteral("python3 did not run");
    return false;
  }
  return true;
}

inline std::vector<double> pyserialWrites(const QString &device, const QString &imagePath, int runs,
                                          QString *outcome, std::vector<double> *cpu = nullptr) {
  QProcess py;
  py.start(python(), {"-c", kPython, device, imagePath, QString::number(runs)});
  std::vector<double> out;
  if (!py.waitForFinished(30000 + runs * 20000) || py.exitCode() != 0) {
    *outcome = QString::fromLocal8Bit(py.readAllStandardError().trimmed().right(200));
    return out;
  }
  for (const QByteArray &l : py.readAllStandardOutput().trimmed().split('\n')) {
    const QList<QByteArray> parts = l.trimmed().split(' ');
    if (parts.value(1) != "SAVE_OK") {
      *outcome = QString::fromLocal8Bit(l);
      continue;
    }
    out.push_back(parts.value(0).toDouble());
    if (cpu) cpu->push_back(parts.value(2).toDouble());
    *outcome = QStringLiteral("SAVE_OK");
  }
  return out;
}

// What a stop-and-wait write spends beyond the line time, per round trip, in microseconds.
// The transfer's own command, echo and confirmation lines (21 characters) are line time too.
inline double excessUs(double seconds) {
  return (seconds - kWireWriteS - 21 * kCharS) * 1e6 / kRoundTrips;
}

}  // namespace bench
