// Writes one image to the simulator the way the transfer does it, stop-and-wait, and times the
// 4124 single-byte round trips (image byte, acknowledgement) through the byte matcher. Then a
// minimal blocking pyserial client does the same over the same pseudo-terminal, if python3
// with pyserial is there. Usage: bench_link [--baud-pace] [--runs N]
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "link/ComPort.h"
#include "testsupport.h"

namespace {
constexpr int kImage = 4123;

using testsupport::pump;

const char *kPython = R"PY(
import serial, sys, time
port = serial.Serial(sys.argv[1], 9600, timeout=10)
image = bytes(open(sys.argv[2], 'rb').read())
def line():
    return port.read_until(b'\r\n')
port.write(b'BYE\r\n')
while line() != b'ATI\r\n':
    pass
port.write(b'PC\r\n')
while not line().startswith(b'Ver.'):
    pass
port.write(b'PC_OK\r\n')
time.sleep(0.05)
port.write(b'SAVE\r\n')
while line() != b'SAVE\r\n':
    pass
t0 = time.perf_counter()
data = image + b'\x00'
port.write(data[0:1])
for i in range(1, len(data)):
    if port.read(1) != b'o':
        sys.exit('no acknowledgement at %d' % i)
    port.write(data[i:i+1])
t1 = time.perf_counter()
reply = line()
port.write(b'BYE\r\n')
print('%.1f %s' % ((t1 - t0) * 1000.0, reply.strip().decode()))
)PY";
}  // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  bool pace = false;
  int runs = 3;
  for (int i = 1; i < argc; ++i) {
    const QByteArray a = argv[i];
    if (a == "--baud-pace") pace = true;
    else if (a == "--runs" && i + 1 < argc) runs = std::max(1, atoi(argv[++i]));
  }
  QTemporaryDir runtime;
  qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());

  QProcess sim;
  QStringList args{"--port", "7", "--announce-ms", "100"};
  if (pace) args << "--baud-pace";
  sim.setStandardErrorFile(QProcess::nullDevice());   // its log stays out of the figures
  sim.start(QStringLiteral(KORVEL_SIM_PATH), args);
  if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
    std::fprintf(stderr, "simulator did not start\n");
    return 1;
  }
  const QList<QByteArray> ready = sim.readLine().trimmed().split(' ');
  const QString link = QString::fromLocal8Bit(ready.value(1));

  QByteArray image(kImage, '\0');
  for (int i = 0; i < kImage - 1; ++i) image[i] = char((i * 31 + 7) & 0xFF);
  quint8 sum = 0;
  for (int i = 0; i < kImage - 1; ++i) sum = quint8(sum + quint8(image[i]));
  image[kImage - 1] = char(sum);

  TComPort port;
  QString reason;
  if (!port.openDevice(link, &reason)) {
    std::fprintf(stderr, "open %s: %s\n", qPrintable(link), qPrintable(reason));
    return 1;
  }
  auto &f = port.framers;
  QList<QByteArray> lines;
  QByteArray data = image + QByteArray(1, '\0');
  int next = 0;
  QElapsedTimer clock;
  qint64 elapsedNs = 0;
  f.onLine = [&](const QByteArray &l) {
    lines << l;
    if (l == "SAVE\r\n") {
      f.line.setArmed(false);
      f.line.setAutoRearm(false);
      f.byte.setArmed(true);
      f.byte.setAutoRearm(true);
      clock.start();
      port.sendBytes(data.constData(), 1);
      next = 1;
    }
  };
  f.onByte = [&](const std::uint8_t *b, int) {
    if (next > kImage - 1) {
      f.byte.setArmed(false);
      f.byte.setAutoRearm(false);
      f.line.setArmed(true);
      f.line.setAutoRearm(true);
    }
    if (*b == 'o') port.sendBytes(data.constData() + next, 1);
    if (next == kImage) elapsedNs = clock.nsecsElapsed();
    ++next;
  };
  f.line.setArmed(true);
  f.line.setAutoRearm(true);

  port.sendText("BYE\r\n");
  if (!pump([&] { return lines.contains("ATI\r\n"); }, 5000)) return 1;
  port.sendText("PC\r\n");
  if (!pump([&] { return !lines.isEmpty() && lines.last().startsWith("Ver."); }, 5000)) return 1;
  port.sendText("PC_OK\r\n");
  pump([] { return false; }, 50);

  std::printf("4124 single-byte round trips (image byte out, \"o\" back), simulator %s\n",
              pace ? "paced at 9600 baud" : "without pacing");
  double best = 1e18;
  for (int r = 0; r < runs; ++r) {
    lines.clear();
    elapsedNs = 0;
    port.sendText("SAVE\r\n");
    if (!pump([&] { return lines.size() >= 2; }, 60000)) {
      std::fprintf(stderr, "run %d: no confirmation\n", r + 1);
      return 1;
    }
    const double ms = double(elapsedNs) / 1e6;
    best = std::min(best, ms);
    std::printf("  configurator port code, run %d: %8.1f ms (%.1f us per round trip), %s\n", r + 1,
                ms, ms * 1000.0 / 4124.0, lines.at(1).trimmed().constData());
  }
  port.sendText("BYE\r\n");
  pump([] { return false; }, 50);
  port.close();

  // The same over the same pseudo-terminal with a blocking pyserial client.
  const QString imagePath = runtime.filePath("image.bin");
  {
    QFile out(imagePath);
    if (out.open(QIODevice::WriteOnly)) out.write(image);
  }
  const QString python = QFile::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
  double pyBest = -1;
  for (int r = 0; r < runs; ++r) {
    QProcess py;
    py.start(python, {"-c", kPython, link, imagePath});
    if (!py.waitForFinished(120000) || py.exitCode() != 0) {
      std::printf("  pyserial client: not available (%s)\n",
                  py.readAllStandardError().trimmed().right(200).constData());
      break;
    }
    const QList<QByteArray> out = py.readAllStandardOutput().trimmed().split(' ');
    const double ms = out.value(0).toDouble();
    pyBest = pyBest < 0 ? ms : std::min(pyBest, ms);
    std::printf("  pyserial blocking client, run %d: %8.1f ms (%.1f us per round trip), %s\n", r + 1,
                ms, ms * 1000.0 / 4124.0, out.value(1).constData());
  }
  std::printf("best: configurator %.1f ms", best);
  if (pyBest >= 0) std::printf(", pyserial %.1f ms", pyBest);
  std::printf("\n");

  sim.terminate();
  sim.waitForFinished(3000);
  return 0;
}
