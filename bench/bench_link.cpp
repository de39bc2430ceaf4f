// Times the program's image transfer (TLink on a real QSerialPort, real clock, Qt event loop)
// against the controller simulator on a pseudo-terminal, and a minimal blocking pyserial client
// doing the same stop-and-wait write, so the ratios show what the program adds to the line.
//
//   paced write:   startWrite() .. saveConfirmed, simulator at 9600 baud, against 8.59 s
//   paced read:    startRead() .. imageReceived, against 4.29 s
//   unpaced write: the same write without pacing, per round trip, program / pyserial
//   paced write of the pyserial client, against 8.59 s
//
// Prints the median of --runs N runs (default 3; the unpaced rows take 2N-1 turns, being short).
// The paced line time alone is 21.5 s a run, so three runs take some 70-90 s; --runs 2 about 50.
// Other work on the machine stretches wall times (a waiting byte waits for a CPU too), so the
// load average is printed with the figures, and the unpaced rows give CPU time as well.
// The pyserial rows need Debian's python3-serial (apt-get install python3-serial) and are
// skipped without it.
// Usage: bench_link [--runs N] [--keep-logs]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <optional>
#include <vector>

#include "link/Link.h"
#include "link/LinkClock.h"
#include "link/PortNames.h"

namespace {

constexpr int kImage = int(kConfigImageSize);
constexpr int kRoundTrips = kImage + 1;   // the image and the zero byte after it
constexpr double kCharS = 10.0 / 9600.0;  // one 8N1 character
// A write puts every image byte and the zero byte on the line, and each comes back as "o".
constexpr double kWireWriteS = 2.0 * kRoundTrips * kCharS - kCharS;   // 8,247 characters
constexpr double kWireReadS = kImage * kCharS;                        // 4,123 characters

// CPU seconds of this process: the program's own cost, which other work on the machine does not
// stretch the way it stretches wall time.
double cpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double median(std::vector<double> v) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

QString listRuns(const std::vector<double> &v) {
  QStringList s;
  for (double x : v) s << QString::number(x, 'f', 1);
  return s.join(QStringLiteral(", "));
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
    QElapsedTimer t;
    t.start();
    while (link_.mode() != LinkMode::PC && t.elapsed() < 2000)
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return s;
  }
  const ConfigImageBytes &incoming() const { return incoming_; }
  double lastCpuS() const { return cpuS_; }

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
  static void settle() {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 100) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
  }

  int number_;
  TLink link_;
  ConfigImageBytes incoming_{};
  QElapsedTimer clock_;
  double elapsedS_ = 0, cpuS_ = 0;
  bool done_ = false, ok_ = false;
  QString outcome_;
  QEventLoop *waiting_ = nullptr;
};

// Blocking stop-and-wait write, as plain as it gets: one byte out, one "o" in. Timed from
// "SAVE" to the confirmation line, as the program's write is. Prints one line per run:
// seconds, the confirmation, and the CPU seconds it took.
const char *kPython = R"PY(
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

QString python() {
  return QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3")
                                                           : QStringLiteral("python3");
}

bool havePyserial(QString *why) {
  QProcess p;
  p.start(python(), {"-c", "import serial"});
  if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    *why = QString::fromLocal8Bit(p.readAllStandardError().trimmed().split('\n').last());
    if (why->isEmpty()) *why = QStringLiteral("python3 did not run");
    return false;
  }
  return true;
}

std::vector<double> pyserialWrites(const QString &device, const QString &imagePath, int runs,
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

// Other work on the machine shows up as the odd round trip that waits milliseconds for a CPU.
QString loadAverage() {
  QFile f(QStringLiteral("/proc/loadavg"));
  if (!f.open(QIODevice::ReadOnly)) return QStringLiteral("unknown");
  return QString::fromLatin1(f.readAll().split(' ').mid(0, 3).join(' '));
}

// What a stop-and-wait write spends beyond the line time, per round trip, in microseconds.
// The transfer's own command, echo and confirmation lines (21 characters) are line time too.
double excessUs(double seconds) {
  return (seconds - kWireWriteS - 21 * kCharS) * 1e6 / kRoundTrips;
}

ConfigImageBytes benchImage(int salt) {
  ConfigImageBytes img{};
  std::uint8_t sum = 0;
  for (int i = 0; i < kImage - 1; ++i) {
    img[std::size_t(i)] = std::uint8_t((i * 31 + 7 + salt) & 0xFF);
    sum = std::uint8_t(sum + img[std::size_t(i)]);
  }
  img[kImage - 1] = sum;   // the controller accepts only an image with a good checksum
  return img;
}

}  // namespace

int main(int argc, char **argv) {
  // A runtime folder of this run's own (QTemporaryDir makes it 0700), before anything scans ports.
  QTemporaryDir runtime;
  qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
  QCoreApplication app(argc, argv);
  int runs = 3;
  bool keepLogs = false;
  for (int i = 1; i < argc; ++i) {
    const QByteArray a = argv[i];
    if (a == "--runs" && i + 1 < argc) runs = std::max(1, atoi(argv[++i]));
    else if (a == "--keep-logs") keepLogs = true;
  }
  runtime.setAutoRemove(!keepLogs);
  QElapsedTimer total;
  total.start();

  QString pyWhy;
  const bool py = havePyserial(&pyWhy);
  const QString imagePath = runtime.filePath(QStringLiteral("image.bin"));
  const ConfigImageBytes image = benchImage(0);
  {
    QFile out(imagePath);
    if (out.open(QIODevice::WriteOnly))
      out.write(reinterpret_cast<const char *>(image.data()), qint64(image.size()));
  }

  std::printf("Image transfer, %d runs each, median (runs in brackets)\n", runs);
  std::printf("line time at 9600 8N1: write %.3f s (8,247 characters), read %.3f s (4,123)\n",
              kWireWriteS, kWireReadS);
  std::printf("load average at start: %s, %d CPUs\n\n", qPrintable(loadAverage()),
              QThread::idealThreadCount());

  // ---- paced: the program against the line's own time ----
  double pacedWrite = -1, pacedRead = -1;
  {
    Sim sim;
    if (!sim.start(7, true, runtime.filePath(QStringLiteral("sim-paced.log")))) {
      std::fprintf(stderr, "paced simulator did not start\n");
      return 1;
    }
    ProgramClient client(sim.number());
    QString why;
    if (!client.connect(&why)) {
      std::fprintf(stderr, "program link on %s: %s\n", qPrintable(sim.link()), qPrintable(why));
      return 1;
    }
    std::vector<double> w, r;
    bool match = true;
    QString outcome;
    for (int i = 0; i < runs; ++i) {
      if (const auto s = client.write(benchImage(i), &outcome)) w.push_back(*s);
      else std::printf("  paced write run %d: %s\n", i + 1, qPrintable(outcome));
    }
    for (int i = 0; i < runs; ++i) {
      if (const auto s = client.read(&outcome)) r.push_back(*s);
      else std::printf("  paced read run %d: %s\n", i + 1, qPrintable(outcome));
      match = match && client.incoming() == benchImage(runs - 1);
    }
    pacedWrite = median(w);
    pacedRead = median(r);
    std::printf("1. paced write, program:   %7.3f s  ratio %.4f to %.3f s  [%s]\n", pacedWrite,
                pacedWrite / kWireWriteS, kWireWriteS, qPrintable(listRuns(w)));
    std::printf("   %+.0f us a round trip over the line time\n", excessUs(pacedWrite));
    std::printf("2. paced read, program:    %7.3f s  ratio %.4f to %.3f s  [%s]%s\n", pacedRead,
                pacedRead / kWireReadS, kWireReadS, qPrintable(listRuns(r)),
                match ? "" : "  (image read back differs from the one written)");
  }

  // ---- unpaced: what one round trip costs the program and a blocking client ----
  // The two take turns, so that other work on the machine meets both alike; the runs are short,
  // so there are more of them.
  const int unpacedRuns = 2 * runs - 1;
  double progRt = -1, pyRt = -1, unpacedRead = -1;
  {
    Sim sim;
    if (!sim.start(8, false, runtime.filePath(QStringLiteral("sim-unpaced.log")))) {
      std::fprintf(stderr, "unpaced simulator did not start\n");
      return 1;
    }
    std::vector<double> w, r, p, wc, pc;   // wall and CPU microseconds per round trip
    bool match = true;
    QString pyOutcome;
    for (int i = 0; i < unpacedRuns; ++i) {
      {
        ProgramClient client(sim.number());
        QString why, outcome;
        if (!client.connect(&why)) {
          std::fprintf(stderr, "program link on %s: %s\n", qPrintable(sim.link()), qPrintable(why));
          return 1;
        }
        if (const auto s = client.write(image, &outcome)) {
          w.push_back(*s * 1e6 / kRoundTrips);
          wc.push_back(client.lastCpuS() * 1e6 / kRoundTrips);
        } else std::printf("  unpaced write run %d: %s\n", i + 1, qPrintable(outcome));
        if (const auto s = client.read(&outcome)) r.push_back(*s * 1000);
        else std::printf("  unpaced read run %d: %s\n", i + 1, qPrintable(outcome));
        match = match && client.incoming() == image;
      }   // says "BYE" and closes the port for the next client
      if (py) {
        std::vector<double> cpu;
        for (double s : pyserialWrites(sim.link(), imagePath, 1, &pyOutcome, &cpu))
          p.push_back(s * 1e6 / kRoundTrips);
        for (double s : cpu) pc.push_back(s * 1e6 / kRoundTrips);
      }
    }
    progRt = median(w);
    unpacedRead = median(r);
    const auto best = [](const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); };
    std::printf("3. unpaced write, program:  %6.1f us per round trip, best %.1f  [%s]\n", progRt,
                w.empty() ? -1.0 : best(w), qPrintable(listRuns(w)));
    if (!py) {
      std::printf("   unpaced write, pyserial: skipped, no pyserial (%s)\n", qPrintable(pyWhy));
    } else if (p.empty()) {
      std::printf("   unpaced write, pyserial: failed (%s)\n", qPrintable(pyOutcome));
    } else {
      pyRt = median(p);
      std::printf("   unpaced write, pyserial: %6.1f us per round trip, best %.1f  [%s]\n", pyRt,
                  best(p), qPrintable(listRuns(p)));
      std::printf("   ratio program / pyserial: %.3f (medians), %.3f (best runs)\n", progRt / pyRt,
                  best(w) / best(p));
    }
    std::printf("   CPU per round trip: program %.1f us", median(wc));
    if (!pc.empty()) std::printf(", pyserial %.1f us, ratio %.3f", median(pc), median(wc) / median(pc));
    std::printf("\n");
    std::printf("   unpaced read, program:   %.1f ms  [%s]%s\n", unpacedRead,
                qPrintable(listRuns(r)), match ? "" : "  (image read back differs from the one written)");
  }

  // ---- the blocking client against the paced line, for what the line alone costs ----
  double pyPaced = -1;
  if (py) {
    Sim sim;
    if (!sim.start(9, true, runtime.filePath(QStringLiteral("sim-paced-py.log")))) {
      std::fprintf(stderr, "paced simulator did not start\n");
      return 1;
    }
    QString outcome;
    const std::vector<double> p = pyserialWrites(sim.link(), imagePath, runs, &outcome);
    if (p.empty()) {
      std::printf("4. paced write, pyserial: failed (%s)\n", qPrintable(outcome));
    } else {
      pyPaced = median(p);
      std::printf("4. paced write, pyserial:  %7.3f s  ratio %.4f to %.3f s  [%s]\n", pyPaced,
                  pyPaced / kWireWriteS, kWireWriteS, qPrintable(listRuns(p)));
      std::printf("   %+.0f us a round trip over the line time\n", excessUs(pyPaced));
      std::printf("   paced write, program / pyserial: %.4f\n", pacedWrite / pyPaced);
    }
  } else {
    std::printf("4. paced write, pyserial: skipped, no pyserial (%s)\n", qPrintable(pyWhy));
  }

  std::printf("\nsummary: paced write %.4f, paced read %.4f", pacedWrite / kWireWriteS,
              pacedRead / kWireReadS);
  if (pyRt > 0) std::printf(", unpaced program/pyserial %.3f", progRt / pyRt);
  if (pyPaced > 0) std::printf(", pyserial paced write %.4f", pyPaced / kWireWriteS);
  std::printf("\n(%.1f s in all; load average at the end: %s)\n", double(total.elapsed()) / 1000.0,
              qPrintable(loadAverage()));
  if (keepLogs) std::printf("simulator logs kept in %s\n", qPrintable(runtime.path()));
  return 0;
}
