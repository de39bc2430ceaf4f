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
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <vector>

#include "benchsupport.h"

using namespace bench;

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
  saveImage(image, imagePath);

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
