// The controller simulator program answers every command with the lines the configurator relies
// on, its fault flags reach the controller, a vanishing device takes its terminal away, paced
// output keeps 9600-baud time, bad arguments are refused, and its default image is exactly what
// an untouched editor builds. What each fault does is tested on the controller itself
// (tst_controller_core).
#include <QtTest>

#include <QElapsedTimer>
#include <QTemporaryFile>

#include "DefaultImage.h"
#include "editor/Unit1.h"
#include "image/ConfigCodec.h"
#include "simsupport.h"
#include "testsupport.h"

class TstSimulator : public QObject {
  Q_OBJECT

  // Sends one command line and waits for `count` reply lines.
  static QList<QByteArray> ask(Client &c, const QByteArray &line, int count, int ms = 3000) {
    c.lines.clear();
    (void)c.port.sendText(line);
    testsupport::pump([&] { return c.lines.size() >= count; }, ms);
    return c.lines;
  }

  static bool connect(Sim &sim, Client &c, int port, const QStringList &extra = {}) {
    QString reason;
    return sim.start(port, extra) && c.port.open(port, &reason) && c.handshake();
  }

private slots:
  void initTestCase() {
    testsupport::isolateRuntimeDir();
    QVERIFY2(QFile::exists(simBinary()), qPrintable(simBinary()));
  }

  void answersEveryCommand() {
    Sim sim;
    Client c;
    QVERIFY(connect(sim, c, 31));

    const QList<QByteArray> key = ask(c, "TM\r\n", 1);
    QCOMPARE(key.size(), 1);
    QCOMPARE(key[0].size(), 16 + 2);

    const QList<QByteArray> ids = ask(c, "ID\r\n", 8);
    QCOMPARE(ids.size(), 8);
    int absent = 0;
    for (const QByteArray &id : ids) {
      QCOMPARE(id.size(), 18);
      QVERIFY(id.endsWith("\r\n"));
      for (char ch : id.left(16)) QVERIFY(std::isxdigit(static_cast<unsigned char>(ch)));
      absent += id == "0000000000000000\r\n";
    }
    QVERIFY(absent > 0 && absent < 8);

    // Clock: TIME_OK, then the time and date lines, then the date report at fixed positions.
    QCOMPARE(ask(c, "TIME\r\n", 1), QList<QByteArray>{"TIME_OK\r\n"});
    c.lines.clear();
    QVERIFY(c.port.sendText("9:05:07\r\n"));
    QVERIFY(c.port.sendText("08.12.26\r\n"));
    QVERIFY(testsupport::pump([&] { return !c.lines.isEmpty(); }, 3000));
    const QByteArray report = c.lines[0];
    QVERIFY(report.startsWith("DATE"));
    QCOMPARE(report.mid(4, 8), QByteArray("08.12.26"));
    QCOMPARE(report.mid(13, 5), QByteArray("09:05"));

    // Two polls: 19 lines each, and the values move.
    const QList<QByteArray> first = ask(c, "STATUS\r\n", 19);
    QCOMPARE(first.size(), 19);
    QTest::qWait(50);
    const QList<QByteArray> second = ask(c, "STATUS\r\n", 19);
    QCOMPARE(second.size(), 19);
    QVERIFY(first != second);

    // RS-485 port settings (four digits, no line end) kept and read back; a hex payload with
    // its CRC flag and no line end gets two reply lines.
    QVERIFY(c.port.sendText("SETUP RS-485\r\n"));
    QCOMPARE(ask(c, "4010", 1), QList<QByteArray>{"OK\r\n"});
    QCOMPARE(ask(c, "READ RS-485\r\n", 1), QList<QByteArray>{"4010\r\n"});
    QVERIFY(c.port.sendText("SEND RS-485\r\n"));
    const QList<QByteArray> sent = ask(c, "0103000A00011", 2);
    QCOMPARE(sent.size(), 2);
    QVERIFY(sent[0].startsWith("01 03 00 0A 00 01 "));  // the frame with its CRC appended

    // The relay command has no reply.
    QVERIFY(c.port.sendText("RELE\r\n"));
    QCOMPARE(ask(c, "10000001\r\n", 1, 400).size(), 0);
    QVERIFY(sim.log().contains("RELE"));
  }

  void faultsCutReplies() {
    {
      Sim sim;
      Client c;
      QVERIFY(connect(sim, c, 32, {"--id-lines", "5", "--status-lines", "3"}));
      QCOMPARE(ask(c, "ID\r\n", 8, 300).size(), 5);
      QCOMPARE(ask(c, "STATUS\r\n", 19, 300).size(), 3);
    }
    {
      Sim sim;
      Client c;
      QVERIFY(connect(sim, c, 33, {"--no-echo"}));
      QCOMPARE(ask(c, "LOAD\r\n", 1, 300).size(), 0);
    }
    {
      Sim sim;
      Client c;
      QVERIFY(connect(sim, c, 34, {"--silent"}));
      QCOMPARE(ask(c, "TM\r\n", 1, 300).size(), 0);
      QCOMPARE(ask(c, "ID\r\n", 1, 200).size(), 0);
    }
  }

  void faultFlagsAndPipelinedInput() {
    Sim sim;
    Client c;
    QVERIFY(connect(sim, c, 37,
                    {"--ids", "A,B,C", "--fault", "inject:ID:2:ATI", "--fault", "reply:STATUS:1", "--fault",
                     "silent:TM", "--fault", "no-date"}));
    QCOMPARE(ask(c, "ID\r\n", 4), (QList<QByteArray>{"A\r\n", "B\r\n", "ATI\r\n", "C\r\n"}));
    // A command right behind an RS-485 payload, in the same write, is still a command.
    QVERIFY(c.port.sendText("SEND RS-485\r\n"));
    const QList<QByteArray> lines = ask(c, "0A1B0STATUS\r\n", 21);
    QCOMPARE(lines.size(), 21);
    QCOMPARE(lines.mid(0, 3), (QList<QByteArray>{"0A 1B\r\n", "0A 1B\r\n", "1\r\n"}));
    QCOMPARE(ask(c, "TIME\r\n", 1), QList<QByteArray>{"TIME_OK\r\n"});
    QCOMPARE(ask(c, "9:05:07\r\n08.12.26\r\nTM\r\n", 1, 300).size(), 0);
  }

  void vanishingClosesTheTerminal() {
    Sim sim;
    Client c;
    QSignalSpy lost(&c.port, &TComPort::portLost);
    QVERIFY(connect(sim, c, 38, {"--fault", "vanish:TM"}));
    QVERIFY(c.port.sendText("ID\r\nTM\r\n"));
    QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 3000);
    QCOMPARE(c.lines.size(), 8);   // what had left before still arrived
    QTRY_COMPARE_WITH_TIMEOUT(sim.proc.state(), QProcess::NotRunning, 3000);
    QCOMPARE(sim.proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.proc.exitCode(), 0);
    QVERIFY(!QFileInfo(sim.link).isSymLink());
    QVERIFY(sim.log().contains("vanished"));
  }

  void pacedStreamKeepsTime() {
    // 6 characters in, then 6 + 1000 out: each at its own character time, so lateness in
    // waking up does not add up over the stream.
    Sim sim;
    Client c;
    QVERIFY(connect(sim, c, 39, {"--baud-pace", "--fault", "stop-after:1000:LOAD"}));
    c.onLine = [&](const QByteArray &l) {
      if (l == "LOAD\r\n") c.toBytes();
    };
    QElapsedTimer t;
    t.start();
    QVERIFY(c.port.sendText("LOAD\r\n"));
    QVERIFY(testsupport::pump([&] { return c.bytes.size() >= 1000; }, 3000));
    const double ms = double(t.nsecsElapsed()) / 1e6, ideal = 1012 * 10.0 * 1000.0 / 9600.0;
    QVERIFY2(ms > ideal - 5 && ms < ideal + 120, qPrintable(QStringLiteral("%1 ms, ideal %2").arg(ms).arg(ideal)));
    c.onLine = nullptr;
  }

  void badArgumentsAreRefused() {
    QTemporaryFile shortImage;
    QVERIFY(shortImage.open());
    shortImage.write("0123456789");
    shortImage.flush();
    const struct {
      QStringList args;
      int code;
      const char *says;
    } cases[] = {
        {{"--image", QDir::tempPath()}, 1, "not a regular file"},
        {{"--image", "/dev/zero"}, 1, "not a regular file"},
        {{"--image", shortImage.fileName()}, 1, "has 10 bytes"},
        {{"--image", "/nonexistent/image.bin"}, 1, "No such file"},
        {{"--fault", "bogus"}, 2, "unknown fault"},
        {{"--fault", "refuse-byte:99999999999999999999"}, 2, "bad count"},
        {{"--refuse-byte", "-5"}, 2, "needs a number"},
        {{"--port"}, 2, "needs a value"},
    };
    for (const auto &k : cases) {
      QProcess p;
      p.start(simBinary(), QStringList{"--port", "40"} + k.args);
      QVERIFY(p.waitForFinished(5000));
      QCOMPARE(p.exitCode(), k.code);
      QVERIFY2(p.readAllStandardError().contains(k.says), k.says);
    }
  }

  void defaultImageIsTheUntouchedEditors() {
    ConfigImageBytes fromValue{};
    QVERIFY(!encodeImage(ConfigValue::startup(), fromValue));
    testsupport::startWindows();
    QVERIFY(Quorlan->mass_out());
    const ConfigImageBytes fromWindow = Quorlan->OutgoingImage;
    testsupport::stopWindows();
    const sim::Image served = sim::defaultImage();
    for (std::size_t i = 0; i < served.size(); ++i) {
      if (served[i] != fromWindow[i] || served[i] != fromValue[i])
        QFAIL(qPrintable(QStringLiteral("byte %1 differs").arg(i)));
    }
  }

};

QTEST_MAIN(TstSimulator)
#include "tst_simulator.moc"
