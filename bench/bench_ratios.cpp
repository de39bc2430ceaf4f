// The program measured side by side with what it is compared against, in one run, as ratios:
//
//   paced     write and read through the simulator at 9600 baud: the program's link against the
//             line's own time and against a minimal C stop-and-wait client (bench/stopwait.c)
//             on the same simulator, the two taking turns
//   unpaced   one round trip of a write without pacing: the program against the C client and
//             pyserial (Debian's python3-serial; skipped with a note when missing)
//   startup   process start to the main window's first paint, against a bare Qt window's (and,
//             for reference, to the splash's, the first thing on screen), both
//             under an Xvfb the benchmark starts itself (skipped when Xvfb is missing), with a
//             simulator on COM1 for the window to connect to
//   codec     encode (mass_out) and decode (Load) of one image on a real main window
//   memory    VmRSS / VmHWM of the whole program idle after start-up, at the peak of a write
//             through the main window, and the growth over automatic polling of the state window
//             (20 s and a rate; 10 minutes with QUORLAN_SOAK=1)
//
// It is not a test and sets no limits: the last column says what the figure should be. Wall
// times stretch when other work takes the CPUs (a byte that arrives waits for one too), so the
// load average is printed with the table, and both sides of a ratio are measured in turns.
// The windows are measured in child processes of this same program (--child ...), so that
// each start-up is a fresh process and the memory figures are the program's alone.
//
// Usage: bench_ratios [--runs N] [--startup-runs N] [--only paced,unpaced,startup,codec,memory]
//                     [--keep-logs]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QIcon>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "app/Startup.h"
#include "widgets/Unit5.h"
#include "benchsupport.h"
#include "editor/Unit1.h"
#include "link/Link.h"
#include "link/PortNames.h"
#include "state/Unit6.h"

using namespace bench;

namespace {

// ---- the table ----

struct Row {
  QString figure, measured, reference, ratio, target;
};
std::vector<Row> gTable;

QString num(double v, int decimals) { return v < 0 ? QStringLiteral("-") : QString::number(v, 'f', decimals); }

void row(const QString &figure, const QString &measured, const QString &reference = {},
         double ratio = -1, const QString &target = {}) {
  gTable.push_back({figure, measured, reference.isEmpty() ? QStringLiteral("-") : reference,
                    ratio > 0 ? QString::number(ratio, 'f', 3) : QStringLiteral("-"),
                    target.isEmpty() ? QStringLiteral("-") : target});
}

void printTable() {
  std::array<int, 5> width{6, 8, 9, 5, 6};
  for (const Row &r : gTable) {
    const std::array<const QString *, 5> cells{&r.figure, &r.measured, &r.reference, &r.ratio, &r.target};
    for (std::size_t i = 0; i < 5; ++i) width[i] = std::max(width[i], int(cells[i]->size()));
  }
  const auto line = [&](const std::array<QString, 5> &cells) {
    QString out;
    for (std::size_t i = 0; i < 5; ++i)
      out += (i == 0 ? cells[i].leftJustified(width[i]) : cells[i].rightJustified(width[i])) +
             (i < 4 ? QStringLiteral("  ") : QString());
    std::printf("%s\n", qPrintable(out));
  };
  line({QStringLiteral("figure"), QStringLiteral("measured"), QStringLiteral("reference"),
        QStringLiteral("ratio"), QStringLiteral("target")});
  for (const Row &r : gTable) line({r.figure, r.measured, r.reference, r.ratio, r.target});
}

// ---- memory of this process ----

struct Memory {
  double rssKiB = -1, hwmKiB = -1;
};

Memory memoryNow() {
  Memory m;
  QFile f(QStringLiteral("/proc/self/status"));
  if (!f.open(QIODevice::ReadOnly)) return m;
  for (const QByteArray &l : f.readAll().split('\n')) {
    const QList<QByteArray> parts = l.simplified().split(' ');
    if (parts.size() < 2) continue;
    if (parts[0] == "VmRSS:") m.rssKiB = parts[1].toDouble();
    if (parts[0] == "VmHWM:") m.hwmKiB = parts[1].toDouble();
  }
  return m;
}

// Lets VmHWM start again from the present resident size, so a later peak is that phase's own.
bool resetPeak() {
  QFile f(QStringLiteral("/proc/self/clear_refs"));
  return f.open(QIODevice::WriteOnly) && f.write("5") == 1;
}

// Children print "key value" lines; the parent reads them into a map.
void report(const char *key, double value) { std::printf("%s %.6f\n", key, value); }

std::map<QByteArray, double> parseReport(const QByteArray &out) {
  std::map<QByteArray, double> m;
  for (const QByteArray &l : out.split('\n')) {
    const QList<QByteArray> parts = l.trimmed().split(' ');
    if (parts.size() == 2) m[parts[0]] = parts[1].toDouble();
  }
  return m;
}

// The program's own start, step by step as app/Project1.cpp does it, on a link that lists only
// the virtual ports of this run's runtime folder: no device of the machine is opened.
void startProgram() {
  QApplication::setApplicationName(QStringLiteral("Quorlan"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/resources/quorlan.png")));
  loadQtTranslations();
  auto *link = new TLink(nullptr, nullptr, qApp);
  link->setPortLister(&PortNames::virtualPorts);
  createWindows(link);
  Quorlan->show();
}

// ---- child: start-up to the first paint ----

// Notes the first paint of the top-level window of the given name, and once that paint has
// been handed to the window system, reports and ends the process.
class FirstPaint : public QObject {
public:
  FirstPaint(QString name, double mainAt) : name_(std::move(name)), mainAt_(mainAt) {}
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() != QEvent::Paint || !watched->isWidgetType() ||
        !static_cast<QWidget *>(watched)->isWindow())
      return false;
    // The splash is what the operator sees first; its paint is noted on the way.
    if (splashAt_ == 0 && watched->objectName() == QLatin1String("Form4")) splashAt_ = monotonicSeconds();
    if (!seen_ && watched->objectName() == name_) {
      seen_ = true;
      QTimer::singleShot(0, this, [this] {
        const double at = monotonicSeconds();
        const Memory m = memoryNow();
        report("main_at", mainAt_);
        report("paint_at", at);
        if (splashAt_ > 0) report("splash_at", splashAt_);
        report("rss_kib", m.rssKiB);
        report("hwm_kib", m.hwmKiB);
        std::fflush(stdout);
        std::_Exit(0);   // the tear-down is no part of the start-up
      });
    }
    return false;
  }

private:
  QString name_;
  double mainAt_;
  double splashAt_ = 0;
  bool seen_ = false;
};

int childWindow(int argc, char **argv, bool program) {
  const double mainAt = monotonicSeconds();
  QApplication app(argc, argv);
  FirstPaint watcher(program ? QStringLiteral("Quorlan") : QStringLiteral("Bare"), mainAt);
  app.installEventFilter(&watcher);
  if (program) {
    startProgram();
  } else {
    auto *bare = new QWidget;
    bare->setObjectName(QStringLiteral("Bare"));
    bare->resize(603, 640);   // the main window's size
    bare->show();
  }
  QTimer::singleShot(20000, [] { std::_Exit(3); });
  return app.exec();
}

// ---- child: encoder and decoder on a real main window ----

int childCodec(int argc, char **argv) {
  QApplication app(argc, argv);
  // No port of this machine is opened: the picker stays empty.
  TLink link;
  link.setPortLister([] { return QList<TPortEntry>(); });
  Quorlan = new TQuorlan(link);
  Progress = new TProgress;
  Quorlan->setProgress(Progress);
  Quorlan->show();
  runFor(200);
  constexpr int kRuns = 21;
  std::vector<double> encode, decode;
  for (int i = 0; i < kRuns; ++i) {
    QElapsedTimer t;
    t.start();
    if (!Quorlan->mass_out()) return 1;
    encode.push_back(double(t.nsecsElapsed()) / 1e6);
    Progress->closeWindow();
    Quorlan->setEnabled(true);
    Quorlan->IncomingImage = Quorlan->OutgoingImage;
    t.start();
    if (!Quorlan->Load()) return 1;
    decode.push_back(double(t.nsecsElapsed()) / 1e6);
  }
  report("encode_ms", median(encode));
  report("decode_ms", median(decode));
  report("runs", kRuns);
  std::fflush(stdout);
  std::_Exit(0);
}

// ---- child: memory of the whole program ----

int childMemory(int argc, char **argv, int pollSeconds) {
  QApplication app(argc, argv);
  startProgram();
  // An error box would wait for a click that never comes.
  QTimer::singleShot((pollSeconds + 120) * 1000, [] {
    std::printf("failed timeout\n");
    std::fflush(stdout);
    std::_Exit(3);
  });
  if (!runUntil([] { return theLink->mode() == LinkMode::PC; }, 10000)) {
    std::printf("failed no_handshake\n");
    return 2;
  }
  runFor(1000);
  const Memory idle = memoryNow();
  report("idle_rss_kib", idle.rssKiB);
  report("idle_hwm_kib", idle.hwmKiB);

  // A write through the main window, as "Сохранить конфигурацию" does it.
  TLink *link = theLink;
  bool confirmed = false, ended = false;
  QElapsedTimer t;
  double writeS = -1;
  QObject::connect(link, &TLink::saveConfirmed, [&] {
    writeS = double(t.nsecsElapsed()) / 1e9;
    confirmed = ended = true;
  });
  QObject::connect(link, &TLink::saveFailed, [&] { ended = true; });
  QObject::connect(link, &TLink::watchdogExpired, [&] { ended = true; });
  QObject::connect(link, &TLink::exchangeFailed, [&] { ended = true; });
  const bool peakReset = resetPeak();
  double writePeak = 0;
  QTimer sampler;
  QObject::connect(&sampler, &QTimer::timeout, [&] { writePeak = std::max(writePeak, memoryNow().rssKiB); });
  sampler.start(100);   // VmHWM has the true peak; the samples are for a kernel without reset
  t.start();
  Quorlan->N6Click();
  runUntil([&] { return ended; }, 60000);
  sampler.stop();
  if (!confirmed) {
    std::printf("failed write\n");
    return 2;
  }
  const Memory afterWrite = memoryNow();
  report("write_s", writeS);
  report("write_hwm_kib", peakReset ? afterWrite.hwmKiB : std::max(writePeak, afterWrite.hwmKiB));
  report("write_peak_sampled_kib", writePeak);
  report("after_write_rss_kib", afterWrite.rssKiB);
  std::fflush(stdout);

  // Automatic polling in the state window, after a few cycles to warm up.
  int polls = 0;
  QObject::connect(link, &TLink::statusComplete, [&] { ++polls; });
  Form6->N9Click();
  Form6->BitBtn1Click();
  runFor(5000);
  const int warmPolls = polls;
  const Memory start = memoryNow();
  QElapsedTimer pollClock;
  pollClock.start();
  runFor(pollSeconds * 1000);
  const Memory end = memoryNow();
  report("poll_s", double(pollClock.elapsed()) / 1000.0);
  report("polls", polls - warmPolls);
  report("poll_start_rss_kib", start.rssKiB);
  report("poll_end_rss_kib", end.rssKiB);
  report("poll_end_hwm_kib", end.hwmKiB);
  std::fflush(stdout);
  std::_Exit(0);
}

// ---- the parent ----

struct Context {
  QString runtime;    // XDG_RUNTIME_DIR of this run: the simulators' virtual ports
  QString imagePath;  // for the other clients, written before each turn
  int runs = 3;
  int startupRuns = 9;
  bool py = false;
  QString pyWhy;
  QString display;    // ":N" of the Xvfb started, empty when none
  double bareRssKiB = -1;
  double cPacedWrite = -1;
};

QString selfPath() { return QCoreApplication::applicationFilePath(); }

struct StopWaitRun {
  double writeS = -1, writeCpuS = -1, readS = -1, readCpuS = -1;
  bool readSame = false;
  QString outcome;
};

// One turn of the C client: one write of `imagePath`, one read.
StopWaitRun stopWait(const QString &device, const QString &imagePath) {
  StopWaitRun r;
  QProcess p;
  p.start(QStringLiteral(STOPWAIT_PATH), {device, imagePath, QStringLiteral("1")});
  if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    r.outcome = QString::fromLocal8Bit(p.readAllStandardError().trimmed());
    if (r.outcome.isEmpty()) r.outcome = QStringLiteral("no result");
    p.kill();
    p.waitForFinished(1000);
    return r;
  }
  for (const QByteArray &l : p.readAllStandardOutput().split('\n')) {
    const QList<QByteArray> parts = l.trimmed().split(' ');
    if (parts.size() != 4) continue;
    if (parts[0] == "write") {
      r.outcome = QString::fromLatin1(parts[3]);
      if (parts[3] == "SAVE_OK") {
        r.writeS = parts[1].toDouble();
        r.writeCpuS = parts[2].toDouble();
      }
    } else if (parts[0] == "read") {
      r.readS = parts[1].toDouble();
      r.readCpuS = parts[2].toDouble();
      r.readSame = parts[3] == "same";
    }
  }
  return r;
}

struct ProgramRun {
  double writeS = -1, writeCpuS = -1, readS = -1;
  bool readSame = false;
};

ProgramRun programTurn(int number, const ConfigImageBytes &image, bool withRead) {
  ProgramRun r;
  ProgramClient client(number);
  QString why, outcome;
  if (!client.connect(&why)) {
    std::printf("  program link: %s\n", qPrintable(why));
    return r;
  }
  if (const auto s = client.write(image, &outcome)) {
    r.writeS = *s;
    r.writeCpuS = client.lastCpuS();
  } else {
    std::printf("  program write: %s\n", qPrintable(outcome));
  }
  if (!withRead) return r;
  if (const auto s = client.read(&outcome)) r.readS = *s;
  else std::printf("  program read: %s\n", qPrintable(outcome));
  r.readSame = client.incoming() == image;
  return r;
}

void pacedSection(Context &c) {
  std::printf("paced: %d turns of the program and the C client, 13 s each...\n", c.runs);
  std::fflush(stdout);
  Sim sim;
  if (!sim.start(7, true, QDir(c.runtime).filePath(QStringLiteral("sim-paced.log")))) {
    row(QStringLiteral("paced write"), QStringLiteral("simulator did not start"));
    return;
  }
  std::vector<double> pw, pr, cw, cr;
  bool same = true;
  for (int i = 0; i < c.runs; ++i) {
    const ConfigImageBytes image = benchImage(i);
    saveImage(image, c.imagePath);
    // Turns alternate which client goes first, so a busy spell of the machine meets both.
    for (int k = 0; k < 2; ++k) {
      if ((i + k) % 2 == 0) {
        const ProgramRun r = programTurn(sim.number(), image, true);
        if (r.writeS > 0) pw.push_back(r.writeS);
        if (r.readS > 0) pr.push_back(r.readS);
        same = same && r.readSame;
      } else {
        const StopWaitRun r = stopWait(sim.link(), c.imagePath);
        if (r.writeS > 0) cw.push_back(r.writeS);
        else std::printf("  C client: %s\n", qPrintable(r.outcome));
        if (r.readS > 0) cr.push_back(r.readS);
        same = same && r.readSame;
      }
    }
  }
  std::printf("  program write [%s] s, read [%s] s\n", qPrintable(listRuns(pw, 3)), qPrintable(listRuns(pr, 3)));
  std::printf("  C client write [%s] s, read [%s] s\n", qPrintable(listRuns(cw, 3)), qPrintable(listRuns(cr, 3)));
  if (!same) std::printf("  an image read back differs from the one written\n");
  const double w = median(pw), r = median(pr), cW = median(cw), cR = median(cr);
  c.cPacedWrite = cW;
  const QString line = QStringLiteral("line %1 s");
  row(QStringLiteral("paced write, program / line"), num(w, 3) + " s", line.arg(kWireWriteS, 0, 'f', 3),
      w / kWireWriteS);
  row(QStringLiteral("paced write, program / C client"), num(w, 3) + " s", QStringLiteral("C %1 s").arg(num(cW, 3)),
      cW > 0 ? w / cW : -1, QStringLiteral("<= 1.02"));
  row(QStringLiteral("paced write, C client / line"), num(cW, 3) + " s", line.arg(kWireWriteS, 0, 'f', 3),
      cW / kWireWriteS);
  row(QStringLiteral("paced read, program / line"), num(r, 3) + " s", line.arg(kWireReadS, 0, 'f', 3),
      r / kWireReadS);
  row(QStringLiteral("paced read, program / C client"), num(r, 3) + " s", QStringLiteral("C %1 s").arg(num(cR, 3)),
      cR > 0 ? r / cR : -1, QStringLiteral("<= 1.02"));
  row(QStringLiteral("paced write, over the line a round trip"),
      num(excessUs(w), 0) + " us", QStringLiteral("C %1 us").arg(num(excessUs(cW), 0)));
}

void unpacedSection(Context &c) {
  const int turns = 2 * c.runs - 1;
  std::printf("unpaced: %d turns of the program, the C client%s...\n", turns, c.py ? " and pyserial" : "");
  std::fflush(stdout);
  Sim sim;
  if (!sim.start(8, false, QDir(c.runtime).filePath(QStringLiteral("sim-unpaced.log")))) {
    row(QStringLiteral("unpaced round trip"), QStringLiteral("simulator did not start"));
    return;
  }
  const ConfigImageBytes image = benchImage(100);
  saveImage(image, c.imagePath);
  std::vector<double> p, pc, cw, cc, y, yc;   // microseconds per round trip: wall and CPU
  QString pyOutcome;
  for (int i = 0; i < turns; ++i) {
    for (int k = 0; k < 3; ++k) {
      switch ((i + k) % 3) {
        case 0: {
          const ProgramRun r = programTurn(sim.number(), image, false);
          if (r.writeS > 0) {
            p.push_back(r.writeS * 1e6 / kRoundTrips);
            pc.push_back(r.writeCpuS * 1e6 / kRoundTrips);
          }
          break;
        }
        case 1: {
          const StopWaitRun r = stopWait(sim.link(), c.imagePath);
          if (r.writeS > 0) {
            cw.push_back(r.writeS * 1e6 / kRoundTrips);
            cc.push_back(r.writeCpuS * 1e6 / kRoundTrips);
          } else {
            std::printf("  C client: %s\n", qPrintable(r.outcome));
          }
          break;
        }
        default:
          if (c.py) {
            std::vector<double> cpu;
            for (double s : pyserialWrites(sim.link(), c.imagePath, 1, &pyOutcome, &cpu))
              y.push_back(s * 1e6 / kRoundTrips);
            for (double s : cpu) yc.push_back(s * 1e6 / kRoundTrips);
          }
          break;
      }
    }
  }
  std::printf("  program [%s] us, C client [%s] us", qPrintable(listRuns(p)), qPrintable(listRuns(cw)));
  if (c.py) std::printf(", pyserial [%s] us", qPrintable(listRuns(y)));
  std::printf("\n");
  const double P = median(p), C = median(cw), Y = median(y);
  row(QStringLiteral("unpaced round trip, program / C client"), num(P, 1) + " us",
      QStringLiteral("C %1 us").arg(num(C, 1)), C > 0 ? P / C : -1);
  if (!c.py)
    row(QStringLiteral("unpaced round trip, program / pyserial"), QStringLiteral("skipped: no pyserial (%1)").arg(c.pyWhy));
  else if (y.empty())
    row(QStringLiteral("unpaced round trip, program / pyserial"), QStringLiteral("failed: %1").arg(pyOutcome));
  else
    row(QStringLiteral("unpaced round trip, program / pyserial"), num(P, 1) + " us",
        QStringLiteral("py %1 us").arg(num(Y, 1)), P / Y);
  row(QStringLiteral("unpaced CPU a round trip, program / C client"), num(median(pc), 1) + " us",
      QStringLiteral("C %1 us").arg(num(median(cc), 1)), median(cc) > 0 ? median(pc) / median(cc) : -1);
}

// Starts a child of this program with the display and runtime folder of this run; returns what
// it reported, and the moment it was started (monotonic seconds).
std::map<QByteArray, double> child(const Context &c, const QStringList &args, int timeoutMs,
                                   double *startedAt = nullptr, QString *failure = nullptr) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), c.runtime);
  if (!c.display.isEmpty()) {
    env.insert(QStringLiteral("DISPLAY"), c.display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  } else {
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  }
  p.setProcessEnvironment(env);
  p.setProcessChannelMode(QProcess::SeparateChannels);
  const double at = monotonicSeconds();
  p.start(selfPath(), QStringList{QStringLiteral("--child")} + args);
  if (startedAt) *startedAt = at;
  const bool finished = p.waitForFinished(timeoutMs);
  if (!finished) {
    p.kill();
    p.waitForFinished(2000);
  }
  const QByteArray out = p.readAllStandardOutput();
  auto m = parseReport(out);
  if (failure) {
    if (!finished) *failure = QStringLiteral("no result in %1 s").arg(timeoutMs / 1000);
    else if (p.exitCode() != 0)
      *failure = QString::fromLocal8Bit(out.trimmed().right(100) + " " +
                                        p.readAllStandardError().trimmed().right(200));
  }
  return m;
}

// An Xvfb on a free display number, for as long as this object lives.
class Xvfb {
public:
  bool start(QString *why) {
    proc_.setStandardErrorFile(QProcess::nullDevice());
    proc_.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1280x1024x24",
                                         "-nolisten", "tcp", "-noreset"});
    if (!proc_.waitForStarted(5000)) {
      *why = QStringLiteral("no Xvfb (apt-get install xvfb)");
      return false;
    }
    QElapsedTimer t;
    t.start();
    while (!proc_.canReadLine() && t.elapsed() < 10000) proc_.waitForReadyRead(100);
    bool ok = false;
    const int n = proc_.readLine().trimmed().toInt(&ok);
    if (!ok) {
      *why = QStringLiteral("Xvfb named no display");
      return false;
    }
    display_ = QStringLiteral(":%1").arg(n);
    return true;
  }
  ~Xvfb() {
    if (proc_.state() == QProcess::NotRunning) return;
    proc_.terminate();
    proc_.waitForFinished(3000);
  }
  QString display() const { return display_; }

private:
  QProcess proc_;
  QString display_;
};

void startupSection(Context &c) {
  std::printf("start-up: %d turns of the main window and a bare window under Xvfb %s...\n",
              c.startupRuns, qPrintable(c.display));
  std::fflush(stdout);
  // A controller on COM1, the first port the picker offers, as on a technician's laptop: the
  // window opens it while it starts. Without one the window would try the first port the
  // system lists, and where that cannot be opened (a serial port the kernel knows but /dev
  // does not show, as under tests/noports.sh) its error box waits for a click, and no first
  // paint comes.
  Sim sim;
  if (!sim.start(1, true, QDir(c.runtime).filePath(QStringLiteral("sim-startup.log"))))
    std::printf("  the simulator did not start: the window starts without a controller\n");
  std::vector<double> mainMs, bareMs, mainInMs, bareInMs, splashMs, rss;
  QString failure;
  // One of each first, not counted: the first start reads fonts and libraries from disk.
  for (int i = -1; i < c.startupRuns; ++i) {
    for (int k = 0; k < 2; ++k) {
      const bool program = (i + k) % 2 == 0;
      double at = 0;
      QString why;
      const auto m = child(c, {QStringLiteral("window"), program ? QStringLiteral("main") : QStringLiteral("bare")},
                           30000, &at, &why);
      if (!m.count("paint_at")) {
        failure = why;
        continue;
      }
      if (i < 0) continue;
      const double total = (m.at("paint_at") - at) * 1000, inside = (m.at("paint_at") - m.at("main_at")) * 1000;
      (program ? mainMs : bareMs).push_back(total);
      (program ? mainInMs : bareInMs).push_back(inside);
      if (program && m.count("splash_at")) splashMs.push_back((m.at("splash_at") - at) * 1000);
      if (!program) rss.push_back(m.at("rss_kib"));
    }
  }
  std::printf("  main window [%s] ms, bare window [%s] ms\n", qPrintable(listRuns(mainMs)),
              qPrintable(listRuns(bareMs)));
  if (!failure.isEmpty()) std::printf("  a start failed: %s\n", qPrintable(failure));
  const double M = median(mainMs), B = median(bareMs);
  c.bareRssKiB = median(rss);
  row(QStringLiteral("start-up to first paint, main / bare window"), num(M, 1) + " ms",
      QStringLiteral("bare %1 ms").arg(num(B, 1)), B > 0 ? M / B : -1, QStringLiteral("<= 1.5"));
  row(QStringLiteral("  the same from main() on"), num(median(mainInMs), 1) + " ms",
      QStringLiteral("bare %1 ms").arg(num(median(bareInMs), 1)),
      median(bareInMs) > 0 ? median(mainInMs) / median(bareInMs) : -1);
  if (!splashMs.empty())
    row(QStringLiteral("  to the splash's paint, the first on screen"), num(median(splashMs), 1) + " ms",
        QStringLiteral("bare %1 ms").arg(num(B, 1)), B > 0 ? median(splashMs) / B : -1);
}

void codecSection(Context &c) {
  std::printf("codec: encode and decode on a main window...\n");
  std::fflush(stdout);
  QString why;
  const auto m = child(c, {QStringLiteral("codec")}, 60000, nullptr, &why);
  if (!m.count("encode_ms")) {
    row(QStringLiteral("encode (mass_out)"), QStringLiteral("failed: %1").arg(why));
    return;
  }
  const QString runs = QStringLiteral("median of %1").arg(m.at("runs"));
  row(QStringLiteral("encode (mass_out)"), num(m.at("encode_ms"), 3) + " ms", runs);
  row(QStringLiteral("decode (Load)"), num(m.at("decode_ms"), 3) + " ms", runs);
}

void memorySection(Context &c) {
  const bool soak = qEnvironmentVariableIntValue("QUORLAN_SOAK") == 1;
  const int pollSeconds = soak ? 600 : 20;
  std::printf("memory: the program idle, writing, and polling %d s (QUORLAN_SOAK=1: 600 s)...\n", pollSeconds);
  std::fflush(stdout);
  // COM1: the first port the picker offers, so the program connects by itself as it would on
  // a machine with one adapter.
  Sim sim;
  if (!sim.start(1, true, QDir(c.runtime).filePath(QStringLiteral("sim-memory.log")))) {
    row(QStringLiteral("memory"), QStringLiteral("simulator did not start"));
    return;
  }
  QString why;
  const auto m = child(c, {QStringLiteral("memory"), QString::number(pollSeconds)},
                       (pollSeconds + 150) * 1000, nullptr, &why);
  const auto mib = [](double kib) { return kib < 0 ? QStringLiteral("-") : QString::number(kib / 1024, 'f', 1) + " MiB"; };
  if (!m.count("idle_rss_kib")) {
    row(QStringLiteral("memory"), QStringLiteral("failed: %1").arg(why));
    return;
  }
  const double idle = m.at("idle_rss_kib");
  row(QStringLiteral("VmRSS idle after start-up, program / bare window"), mib(idle),
      QStringLiteral("bare %1").arg(mib(c.bareRssKiB)), c.bareRssKiB > 0 ? idle / c.bareRssKiB : -1);
  row(QStringLiteral("VmHWM idle after start-up"), mib(m.at("idle_hwm_kib")));
  if (!m.count("write_s")) {
    row(QStringLiteral("write through the main window"), QStringLiteral("failed: %1").arg(why));
    return;
  }
  row(QStringLiteral("VmHWM during a write / idle VmRSS"), mib(m.at("write_hwm_kib")),
      QStringLiteral("idle %1").arg(mib(idle)), m.at("write_hwm_kib") / idle);
  const double w = m.at("write_s");
  row(QStringLiteral("paced write by the main window / C client"), num(w, 3) + " s",
      QStringLiteral("C %1 s").arg(num(c.cPacedWrite, 3)), c.cPacedWrite > 0 ? w / c.cPacedWrite : -1,
      QStringLiteral("<= 1.02"));
  if (!m.count("poll_end_rss_kib")) {
    row(QStringLiteral("polling"), QStringLiteral("failed: %1").arg(why));
    return;
  }
  const double growth = m.at("poll_end_rss_kib") - m.at("poll_start_rss_kib");
  const double minutes = m.at("poll_s") / 60.0;
  row(QStringLiteral("VmRSS growth, %1 s of polling (%2 polls)").arg(m.at("poll_s"), 0, 'f', 0).arg(m.at("polls")),
      QStringLiteral("%1 KiB").arg(growth, 0, 'f', 0), QStringLiteral("from %1").arg(mib(m.at("poll_start_rss_kib"))),
      -1, soak ? QStringLiteral("<= 1024 KiB") : QString());
  row(QStringLiteral("  growth rate, for 10 minutes"), QStringLiteral("%1 KiB/min").arg(growth / minutes, 0, 'f', 1),
      QStringLiteral("x10 = %1 KiB").arg(growth / minutes * 10, 0, 'f', 0), -1, QStringLiteral("<= 1024 KiB"));
}

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 3 && QByteArray(argv[1]) == "--child") {
    const QByteArray what = argv[2];
    if (what == "window") return childWindow(argc, argv, argc >= 4 && QByteArray(argv[3]) == "main");
    if (what == "codec") return childCodec(argc, argv);
    if (what == "memory") return childMemory(argc, argv, argc >= 4 ? std::max(1, atoi(argv[3])) : 20);
    return 2;
  }

  // A runtime folder of this run's own (QTemporaryDir makes it 0700), before anything scans ports.
  QTemporaryDir runtime;
  qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
  // The writes it drives are journaled there too, never into the user's journal.
  qputenv("QUORLAN_JOURNAL", (runtime.path() + QStringLiteral("/journal.sqlite")).toLocal8Bit());
  QCoreApplication app(argc, argv);
  Context c;
  c.runtime = runtime.path();
  c.imagePath = runtime.filePath(QStringLiteral("image.bin"));
  bool keepLogs = false;
  QStringList only;
  for (int i = 1; i < argc; ++i) {
    const QByteArray a = argv[i];
    if (a == "--runs" && i + 1 < argc) c.runs = std::max(1, atoi(argv[++i]));
    else if (a == "--startup-runs" && i + 1 < argc) c.startupRuns = std::max(1, atoi(argv[++i]));
    else if (a == "--only" && i + 1 < argc) only = QString::fromLocal8Bit(argv[++i]).split(',');
    else if (a == "--keep-logs") keepLogs = true;
    else {
      std::fprintf(stderr, "usage: bench_ratios [--runs N] [--startup-runs N] "
                           "[--only paced,unpaced,startup,codec,memory] [--keep-logs]\n");
      return 2;
    }
  }
  runtime.setAutoRemove(!keepLogs);
  const auto wanted = [&](const char *s) { return only.isEmpty() || only.contains(QLatin1String(s)); };
  QElapsedTimer total;
  total.start();
  const QString loadAtStart = loadAverage();
  c.py = havePyserial(&c.pyWhy);

  if (wanted("paced")) pacedSection(c);
  if (wanted("unpaced")) unpacedSection(c);
  Xvfb xvfb;
  QString noX;
  const bool windows = wanted("startup") || wanted("codec") || wanted("memory");
  if (windows && xvfb.start(&noX)) c.display = xvfb.display();
  if (wanted("startup")) {
    if (c.display.isEmpty()) row(QStringLiteral("start-up to first paint"), QStringLiteral("skipped: %1").arg(noX));
    else startupSection(c);
  }
  if (wanted("codec")) codecSection(c);
  if (wanted("memory")) memorySection(c);

  std::printf("\nQuorlan side by side, %d CPUs, load average %s at the start, %s at the end, %.0f s\n",
              QThread::idealThreadCount(), qPrintable(loadAtStart), qPrintable(loadAverage()),
              double(total.elapsed()) / 1000.0);
  printTable();
  if (keepLogs) std::printf("simulator logs kept in %s\n", qPrintable(runtime.path()));
  return 0;
}
