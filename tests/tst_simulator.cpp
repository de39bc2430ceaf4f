// The controller simulator answers every command with the lines the configurator relies on, its
// faults do what they say, and its default image is exactly what an untouched editor builds.
#include <QtTest>

#include "editor/Unit1.h"
#include "simsupport.h"
#include "testsupport.h"

class TstSimulator : public QObject {
  Q_OBJECT

  // Sends one command line and waits for `count` reply lines.
  static QList<QByteArray> ask(Client &c, const QByteArray &line, int count, int ms = 3000) {
    c.lines.clear();
    c.port.sendText(line);
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
    c.port.sendText("9:05:07\r\n");
    c.port.sendText("08.12.26\r\n");
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
    c.port.sendText("SETUP RS-485\r\n");
    QCOMPARE(ask(c, "4010", 1), QList<QByteArray>{"OK\r\n"});
    QCOMPARE(ask(c, "READ RS-485\r\n", 1), QList<QByteArray>{"4010\r\n"});
    c.port.sendText("SEND RS-485\r\n");
    const QList<QByteArray> sent = ask(c, "0103000A00011", 2);
    QCOMPARE(sent.size(), 2);
    QVERIFY(sent[0].startsWith("01 03 00 0A 00 01 "));  // the frame with its CRC appended

    // The relay command has no reply.
    c.port.sendText("RELE\r\n");
    QCOMPARE(ask(c, "10000001\r\n", 1, 400).size(), 0);
    QVERIFY(sim.log().contains("RELE"));
  }

  void faultsCutReplies() {
    {
      Sim sim;
      Client c;
      QVERIFY(connect(sim, c, 32, {"--id-lines", "5", "--status-lines", "3"}));
      QCOMPARE(ask(c, "ID\r\n", 8, 800).size(), 5);
      QCOMPARE(ask(c, "STATUS\r\n", 19, 800).size(), 3);
    }
    {
      Sim sim;
      Client c;
      QVERIFY(connect(sim, c, 33, {"--no-echo"}));
      QCOMPARE(ask(c, "LOAD\r\n", 1, 800).size(), 0);
    }
    {
      Sim sim;
      Client c;
      QVERIFY(connect(sim, c, 34, {"--silent"}));
      QCOMPARE(ask(c, "TM\r\n", 1, 800).size(), 0);
      QCOMPARE(ask(c, "ID\r\n", 1, 400).size(), 0);
    }
  }

  void err2AnswersAGoodImage() {
    Sim sim;
    Client c;
    QVERIFY(connect(sim, c, 35, {"--err2"}));
    int sent = 0;
    // All zero: a valid checksum of 0, still answered with ERR2.
    QCOMPARE(c.writeImage(QByteArray(4123, '\0'), &sent), QByteArray("ERR2\r\n"));
    QCOMPARE(sent, 4124);
  }

  void defaultImageIsTheUntouchedEditors() {
    Sim sim;
    Client c;
    QVERIFY(connect(sim, c, 36));
    QVERIFY(c.readImage());

    testsupport::startWindows();
    QVERIFY(Quorlan->mass_out());
    const QByteArray built(reinterpret_cast<const char *>(Quorlan->OutgoingImage.data()),
                           int(Quorlan->OutgoingImage.size()));
    testsupport::stopWindows();
    QCOMPARE(c.bytes.size(), 4123);
    for (int i = 0; i < 4123; ++i)
      if (c.bytes.at(i) != built.at(i)) QFAIL(qPrintable(QStringLiteral("byte %1 differs").arg(i)));
  }
};

QTEST_MAIN(TstSimulator)
#include "tst_simulator.moc"
