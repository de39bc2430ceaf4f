// The link's protocol against the in-process controller, in virtual time: the handshake, the
// dispatcher's replies, the watchdog's periods and reasons, and both image transfers with the
// controller's faults.
#include <QtTest>

#include <QLocale>
#include <QSignalSpy>

#include <QSerialPort>

#include "FakeController.h"
#include "runtimesupport.h"
#include "link/ComPort.h"

namespace {

korvel::Options faults(std::initializer_list<const char *> names) {
  korvel::Options o;
  for (const char *s : names) {
    std::string error;
    const auto f = korvel::parseFault(s, &error);
    if (!f) qFatal("bad fault %s: %s", s, error.c_str());
    o.faults.push_back(*f);
  }
  return o;
}

// An image with a valid checksum whose bytes all differ from their neighbours' positions.
ConfigImageBytes patternImage(int salt) {
  ConfigImageBytes img{};
  std::uint8_t sum = 0;
  for (int i = 0; i < 4122; ++i) {
    img[std::size_t(i)] = std::uint8_t((i * 7 + salt) % 251);
    sum = std::uint8_t(sum + img[std::size_t(i)]);
  }
  img[4122] = sum;
  return img;
}

QByteArray bytesOf(const ConfigImageBytes &img) {
  return QByteArray(reinterpret_cast<const char *>(img.data()), qsizetype(img.size()));
}

}  // namespace

class TstProtocol : public QObject {
  Q_OBJECT

private slots:
  void portFailuresAreWorded();
  void handshakeAndLaterVersionLines();
  void identifiersKeyAndStrayLines();
  void clockInRussianFormsWhateverTheLocale();
  void watchdogPeriodsAndReasons();
  void writeConfirmedRefusedAndRejected();
  void strayAndDoubledBytesDuringAWrite();
  void readWholeInOneBurstAndCutShort();
  void deviceGoneOrWriteFailedMidTransfer();
  void heldLinesAfterALoss();
  void unusualEndings_data();
  void unusualEndings();
  void commandsInTheTailOfAWrite();
  void commandAfterTwoQuietMinutes();
  void announcementsDuringATransferGoUnanswered();
  void owedLoadOkWithStrayBytesInANewRead();
  void anotherPortStartsFromEmptyFramers_data();
  void anotherPortStartsFromEmptyFramers();
  void portThatTakesNoByeStaysClosed();
};

void TstProtocol::handshakeAndLaterVersionLines() {
  FakeRig rig(faults({"inject:ID:3:Ver.3.01"}));
  QSignalSpy connected(&rig.link, &TLink::connected);
  QVERIFY(rig.connect());
  QCOMPARE(rig.takeWritten(), QByteArray("BYE\r\nPC\r\nPC_OK\r\n"));
  QCOMPARE(connected.size(), 1);
  QCOMPARE(connected[0][0].toString(), QStringLiteral("2.10\r\n"));   // up to 8 characters

  // A version line in the middle of another exchange repeats the handshake and ends it.
  rig.link.readSensorIds();
  rig.advance(100);
  QCOMPARE(connected.size(), 2);
  QCOMPARE(connected[1][0].toString(), QStringLiteral("3.01\r\n"));
  QCOMPARE(rig.link.mode(), LinkMode::PC);
  QVERIFY(rig.takeWritten().endsWith("PC_OK\r\n"));
}

void TstProtocol::identifiersKeyAndStrayLines() {
  {
    FakeRig rig(faults({"inject:ID:3:ATI", "unsolicited:50:SAVE_OK"}));
    QSignalSpy shown(&rig.link, &TLink::lineShown);
    QSignalSpy confirmed(&rig.link, &TLink::saveConfirmed);
    QVERIFY(rig.connect());
    rig.advance(100);   // the stray "SAVE_OK" in "PC" is only shown
    QCOMPARE(shown.last()[0].toString(), QStringLiteral("SAVE_OK\r\n"));
    QCOMPARE(confirmed.size(), 0);
    QCOMPARE(rig.link.mode(), LinkMode::PC);

    QSignalSpy ids(&rig.link, &TLink::sensorIdRead);
    rig.takeWritten();
    rig.link.readSensorIds();
    rig.advance(100);
    // "ATI" among the identifiers is answered and does not count as one; 2 and 5 are absent.
    QVERIFY(rig.takeWritten().startsWith("ID\r\nPC\r\n"));
    QCOMPARE(ids.size(), 8);
    for (int n = 1; n <= 8; ++n) {
      QCOMPARE(ids[n - 1][0].toInt(), n);
      QCOMPARE(ids[n - 1][1].toString().isEmpty(), n == 2 || n == 5);
    }
    QCOMPARE(ids[0][1].toString(), QStringLiteral("28FF4A1B02160345"));
    QCOMPARE(rig.link.mode(), LinkMode::PC);
    QVERIFY(!rig.probe.watchdog().isActive());
  }
  {
    // Five identifier lines: "ID" stays with no watchdog; later lines are identifiers 6..8.
    FakeRig rig(faults({"cut:ID:5"}));
    QSignalSpy ids(&rig.link, &TLink::sensorIdRead);
    QSignalSpy expired(&rig.link, &TLink::watchdogExpired);
    QVERIFY(rig.connect());
    rig.link.readSensorIds();
    rig.advance(10000);
    QCOMPARE(ids.size(), 5);
    QCOMPARE(rig.link.mode(), LinkMode::ID);
    QCOMPARE(expired.size(), 0);
    rig.probe.ApdDataPacket1StringPacket("28FF000000000006\r\n");
    QCOMPARE(ids.last()[0].toInt(), 6);
  }
  {
    // The key asked twice: the first reply fills the field, the second is ignored.
    FakeRig rig(faults({"late:TM:20"}));
    QSignalSpy key(&rig.link, &TLink::masterKeyRead);
    QVERIFY(rig.connect());
    rig.link.readMasterKey();
    rig.link.readMasterKey();
    rig.advance(500);
    QCOMPARE(key.size(), 1);
    QCOMPARE(key[0][0].toString(), QStringLiteral("0A00001B2C3D4E5F"));
    QCOMPARE(rig.link.mode(), LinkMode::PC);
  }
}

void TstProtocol::clockInRussianFormsWhateverTheLocale() {
  const testsupport::DefaultLocale english(QLocale(QLocale::English, QLocale::UnitedStates));
  for (const auto &[time, line] : {std::pair{QTime(9, 5, 7), QByteArray("9:05:07\r\n08.12.26\r\n")},
                                   std::pair{QTime(0, 0, 0), QByteArray("0:00:00\r\n08.12.26\r\n")}}) {
    FakeRig rig;
    rig.link.setLocalTime([t = time] { return QDateTime(QDate(2026, 12, 8), t); });
    QSignalSpy date(&rig.link, &TLink::dateReported);
    QVERIFY(rig.connect());
    rig.takeWritten();
    rig.link.setControllerClock();
    rig.advance(200);
    QCOMPARE(rig.takeWritten(), "TIME\r\n" + line);
    QCOMPARE(date.size(), 1);
    QCOMPARE(date[0][0].toString(), QStringLiteral("08.12.26"));
    QCOMPARE(date[0][1].toString().left(5), time.toString(QStringLiteral("HH:mm")));
    QCOMPARE(rig.link.mode(), LinkMode::PC);
  }
}

void TstProtocol::watchdogPeriodsAndReasons() {
  struct Case {
    const char *fault;
    std::function<void(TLink &)> command;
    int quietMs;           // nothing may fire before this, counted from the command
    WatchdogReason reason;
  };
  const Case cases[] = {
      {"silent:TM", [](TLink &l) { l.readMasterKey(); }, 1000, WatchdogReason::NoReply},
      {"silent:TIME", [](TLink &l) { l.setControllerClock(); }, 1000, WatchdogReason::NoReply},
      {"no-echo:SAVE", [](TLink &l) { l.startWrite({}); }, 5000, WatchdogReason::NoReply},
      {"no-echo:LOAD", [](TLink &l) { l.startRead(); }, 5000, WatchdogReason::NoReply},
      // Echo, then no byte: 1000 ms from the echo.
      {"stop-after:0:SAVE", [](TLink &l) { l.startWrite({}); }, 1000, WatchdogReason::TransferStalled},
      {"stop-after:0:LOAD", [](TLink &l) { l.startRead(); }, 1000, WatchdogReason::TransferStalled},
      // Every byte acknowledged, no confirmation: 3000 ms from the last acknowledgement.
      {"no-save-reply", [](TLink &l) { l.startWrite({}); }, 3000, WatchdogReason::SaveUnconfirmed},
  };
  for (const Case &c : cases) {
    FakeRig rig(faults({c.fault}));
    QSignalSpy expired(&rig.link, &TLink::watchdogExpired);
    QVERIFY(rig.connect());
    c.command(rig.link);
    // Run until the last thing heard, then exactly the period must pass in silence.
    std::int64_t lastHeard = rig.clock.nowMs();
    QObject::connect(&rig.link, &TLink::lineShown, [&] { lastHeard = rig.clock.nowMs(); });
    QObject::connect(&rig.link, &TLink::transferProgress, [&] { lastHeard = rig.clock.nowMs(); });
    for (int i = 0; i < 20000 && expired.isEmpty(); ++i) rig.advance(1);
    QVERIFY2(expired.size() == 1, c.fault);
    QCOMPARE(rig.clock.nowMs() - lastHeard, c.quietMs);
    QCOMPARE(expired[0][0].value<WatchdogReason>(), c.reason);
    QCOMPARE(rig.link.mode(), LinkMode::PC);
    QVERIFY(rig.probe.lineMatcher().armed());
    if (c.reason != WatchdogReason::SaveUnconfirmed) QVERIFY(!rig.probe.byteMatcher().armed());
    QVERIFY(!rig.link.transferActive());
    QVERIFY(!rig.probe.watchdog().isActive());
  }
  {
    // A state request's 7000 ms stays the period for the clock command that follows.
    FakeRig rig(faults({"silent"}));
    QSignalSpy expired(&rig.link, &TLink::watchdogExpired);
    QVERIFY(rig.connect());
    rig.link.requestStatus();
    rig.advance(7000);
    QCOMPARE(expired.size(), 1);
    QCOMPARE(expired[0][0].value<WatchdogReason>(), WatchdogReason::StateNoReply);
    rig.link.setControllerClock();
    rig.advance(6999);
    QCOMPARE(expired.size(), 1);
    rig.advance(1);
    QCOMPARE(expired.size(), 2);
  }
}

void TstProtocol::writeConfirmedRefusedAndRejected() {
  {
    FakeRig rig;
    QSignalSpy confirmed(&rig.link, &TLink::saveConfirmed);
    QSignalSpy expired(&rig.link, &TLink::watchdogExpired);
    QSignalSpy progress(&rig.link, &TLink::transferProgress);
    QSignalSpy active(&rig.link, &TLink::transferActiveChanged);
    QVERIFY(rig.connect());
    for (int round = 0; round < 2; ++round) {   // a second write right after the first
      rig.takeWritten();
      rig.link.startWrite(patternImage(round));
      rig.advance(20000);
      QCOMPARE(rig.takeWritten(), "SAVE\r\n" + bytesOf(rig.probe.outgoing()) + QByteArray(1, '\0'));
      QCOMPARE(rig.io->core.lastReceived(), rig.probe.outgoing());
      QCOMPARE(confirmed.size(), round + 1);
      QCOMPARE(rig.link.mode(), LinkMode::PC);
    }
    QCOMPARE(expired.size(), 0);
    QCOMPARE(progress.last()[0].toInt(), 106);
    QCOMPARE(active.size(), 4);   // on and off, twice
    // A stray byte long after the write must not wake the watchdog with the write's reason.
    const std::uint8_t stray = '?';
    rig.probe.ApdDataPacket2Packet(&stray, 1);
    QVERIFY(!rig.probe.watchdog().isActive());
  }
  {
    FakeRig rig(faults({"err2"}));
    QSignalSpy failed(&rig.link, &TLink::saveFailed);
    QSignalSpy expired(&rig.link, &TLink::watchdogExpired);
    QVERIFY(rig.connect());
    rig.link.startWrite(patternImage(1));
    rig.advance(20000);
    QCOMPARE(failed.size(), 1);
    QCOMPARE(expired.size(), 0);
  }
  {
    // "e" for byte 100: bytes 0..100 went out, the byte phase ends at once, and the still
    // running watchdog reports 3000 ms later.
    FakeRig rig(faults({"refuse-byte:100"}));
    QSignalSpy refused(&rig.link, &TLink::writeRefused);
    QSignalSpy expired(&rig.link, &TLink::watchdogExpired);
    QVERIFY(rig.connect());
    rig.takeWritten();
    rig.link.startWrite(patternImage(1));
    rig.advance(50);
    QCOMPARE(refused.size(), 1);
    QCOMPARE(rig.takeWritten().size(), 6 + 101);
    QCOMPARE(rig.link.mode(), LinkMode::PC);
    QVERIFY(rig.probe.lineMatcher().armed() && !rig.probe.byteMatcher().armed());
    rig.advance(2940);   // 2990 ms after the refusal
    QCOMPARE(expired.size(), 0);
    rig.advance(20);
    QCOMPARE(expired.size(), 1);
    QCOMPARE(expired[0][0].value<WatchdogReason>(), WatchdogReason::TransferStalled);
  }
  {
    // "ERR2" in place of the echo ends the write: the window must be given back.
    FakeRig rig(faults({"reply:SAVE:ERR2"}));
    QSignalSpy failed(&rig.link, &TLink::saveFailed);
    QVERIFY(rig.connect());
    rig.link.startWrite(patternImage(1));
    rig.advance(100);
    QCOMPARE(failed.size(), 1);
    QVERIFY(!rig.link.transferActive());
    QVERIFY(!rig.probe.watchdog().isActive());
  }
}

void TstProtocol::strayAndDoubledBytesDuringAWrite() {
  // A stray byte between acknowledgements advances nothing: the controller still receives the
  // image byte for byte and confirms it.
  FakeRig rig(faults({"stray-before-ack:50", "stray-before-ack:2000:x", "ack-delay:1"}));
  QSignalSpy confirmed(&rig.link, &TLink::saveConfirmed);
  QVERIFY(rig.connect());
  rig.link.startWrite(patternImage(3));
  rig.advance(30000);
  QCOMPARE(rig.io->core.lastReceived(), rig.probe.outgoing());
  QCOMPARE(confirmed.size(), 1);
}

void TstProtocol::readWholeInOneBurstAndCutShort() {
  {
    // Echo, 4123 bytes and "LOAD_OK" in one burst: all stored from the first byte after the
    // echo's CR LF, the image handed over, then "LOAD_OK" ends the exchange.
    FakeRig rig({}, patternImage(9));
    QList<LinkMode> modeAtImage;
    QObject::connect(&rig.link, &TLink::imageReceived, [&] { modeAtImage << rig.link.mode(); });
    QVERIFY(rig.connect());
    rig.link.startRead();
    rig.advance(1);
    QCOMPARE(modeAtImage, QList<LinkMode>{LinkMode::LOAD});
    QCOMPARE(rig.probe.incoming(), patternImage(9));
    QCOMPARE(rig.link.mode(), LinkMode::PC);
    QVERIFY(!rig.probe.watchdog().isActive());
    QVERIFY(!rig.link.transferActive());
  }
  {
    // Stopped at 4000: the 4000 new bytes, then what was there before; no image handed over.
    FakeRig rig(faults({"stop-after:4000:LOAD"}), patternImage(9));
    QSignalSpy received(&rig.link, &TLink::imageReceived);
    QVERIFY(rig.connect());
    rig.probe.incoming() = patternImage(200);
    rig.link.startRead();
    rig.advance(5000);
    QCOMPARE(received.size(), 0);
    const ConfigImageBytes sent = patternImage(9), old = patternImage(200);
    QVERIFY(std::equal(sent.begin(), sent.begin() + 4000, rig.probe.incoming().begin()));
    QVERIFY(std::equal(old.begin() + 4000, old.end(), rig.probe.incoming().begin() + 4000));
  }
}

void TstProtocol::deviceGoneOrWriteFailedMidTransfer() {
  for (const char *fault : {"vanish:SAVE:2000", "vanish:LOAD:2000"}) {
    FakeRig rig(faults({fault}));
    QSignalSpy lost(&rig.link, &TLink::portLost);
    QSignalSpy expired(&rig.link, &TLink::watchdogExpired);
    QVERIFY(rig.connect());
    if (QByteArray(fault).contains("SAVE"))
      rig.link.startWrite(patternImage(1));
    else
      rig.link.startRead();
    rig.advance(50);
    QCOMPARE(lost.size(), 1);
    QVERIFY(!rig.link.portOpen());
    QCOMPARE(rig.link.mode(), LinkMode::PC);
    QVERIFY(!rig.link.transferActive());
    rig.advance(10000);
    QCOMPARE(expired.size(), 0);   // ended at once, not by the watchdog
  }
  {
    FakeRig rig(faults({"ack-delay:1"}));
    QSignalSpy failed(&rig.link, &TLink::exchangeFailed);
    QSignalSpy expired(&rig.link, &TLink::watchdogExpired);
    QVERIFY(rig.connect());
    rig.link.startWrite(patternImage(1));
    rig.advance(100);
    rig.io->failWrites = true;
    rig.advance(5);
    QCOMPARE(failed.size(), 1);
    QVERIFY(!failed[0][0].toString().isEmpty());
    QCOMPARE(rig.link.mode(), LinkMode::PC);
    QVERIFY(!rig.link.transferActive());
    QVERIFY(rig.probe.lineMatcher().armed() && !rig.probe.byteMatcher().armed());
    rig.advance(10000);
    QCOMPARE(expired.size(), 0);
  }
}

// What the link reported, in order, as short words.
struct Outcomes {
  explicit Outcomes(TLink &link) {
    auto log = [this](const char *word) { return [this, word] { seen << QString::fromLatin1(word); }; };
    QObject::connect(&link, &TLink::writeEchoed, log("echo"));
    QObject::connect(&link, &TLink::readEchoed, log("echo"));
    QObject::connect(&link, &TLink::saveConfirmed, log("confirmed"));
    QObject::connect(&link, &TLink::saveFailed, log("crc"));
    QObject::connect(&link, &TLink::writeIncomplete, log("write incomplete"));
    QObject::connect(&link, &TLink::readIncomplete, log("read incomplete"));
    QObject::connect(&link, &TLink::imageReceived, log("image"));
    QObject::connect(&link, &TLink::masterKeyRead, log("key"));
    QObject::connect(&link, &TLink::watchdogExpired, [this](WatchdogReason r) {
      seen << QStringLiteral("watchdog %1").arg(int(r));
    });
    QObject::connect(&link, &TLink::transferActiveChanged, [this](bool on) {
      seen << (on ? QStringLiteral("on") : QStringLiteral("off"));
    });
  }
  QStringList seen;
};

// Lines a message box held back and delivered after the device went get no answer: nobody is
// there, and the loss was the one thing to report.
void TstProtocol::heldLinesAfterALoss() {
  FakeRig rig;
  QVERIFY(rig.connect());
  QSignalSpy failed(&rig.link, &TLink::exchangeFailed), lost(&rig.link, &TLink::portLost);
  rig.io->unplug();
  rig.advance(10);
  QCOMPARE(lost.size(), 1);
  rig.takeWritten();
  for (const QByteArray line : {"ATI\r\n", "Ver.2.10\r\n", "TIME_OK\r\n"}) rig.probe.ApdDataPacket1StringPacket(line);
  const std::uint8_t ack = 'o';
  rig.probe.ApdDataPacket2Packet(&ack, 1);
  QCOMPARE(failed.size(), 0);
  QCOMPARE(rig.takeWritten(), QByteArray());
}

void TstProtocol::unusualEndings_data() {
  QTest::addColumn<QString>("fault");
  QTest::addColumn<bool>("write");
  QTest::addColumn<QByteArray>("injected");   // a line handed in after the transfer's end
  QTest::addColumn<QStringList>("expected");
  const QStringList good = {"on", "echo", "off", "image"};
  QTest::newRow("LOAD_OK before the echo") << "reply:LOAD:LOAD_OK" << false << QByteArray()
                                           << QStringList{"on", "off", "read incomplete"};
  QTest::newRow("SAVE_OK before the echo") << "reply:SAVE:SAVE_OK" << true << QByteArray()
                                           << QStringList{"on", "off", "write incomplete"};
  // After the image and before "LOAD_OK", or while "SAVE_OK" is awaited, an echo starts nothing.
  QTest::newRow("LOAD again before LOAD_OK") << "no-load-ok" << false << QByteArray("LOAD\r\n") << good;
  QTest::newRow("SAVE again before SAVE_OK")
      << "no-save-reply" << true << QByteArray("SAVE\r\n") << QStringList{"on", "echo", "off", "watchdog 3"};
  // Acknowledgements doubled late sit in front of the confirmation line.
  QTest::newRow("doubled last o") << "double-ack:4122" << true << QByteArray()
                                  << QStringList{"on", "echo", "off", "confirmed"};
}

void TstProtocol::unusualEndings() {
  QFETCH(QString, fault);
  QFETCH(bool, write);
  QFETCH(QByteArray, injected);
  QFETCH(QStringList, expected);
  FakeRig rig(faults({fault.toLatin1().constData()}), patternImage(5));
  QVERIFY(rig.connect());
  Outcomes out(rig.link);
  const ConfigImageBytes before = patternImage(7);
  rig.probe.incoming() = before;
  QSignalSpy sent(&rig.link, &TLink::writeBytesSent), received(&rig.link, &TLink::imageReceived);
  QSignalSpy &bytesDone = write ? sent : received;
  write ? rig.link.startWrite(patternImage(6)) : rig.link.startRead();
  for (int i = 0; i < 20000 && bytesDone.isEmpty() && rig.link.transferActive(); ++i) rig.advance(1);
  if (!injected.isEmpty()) {
    QCOMPARE(rig.link.mode(), write ? LinkMode::SAVE : LinkMode::LOAD);   // the confirmation is awaited
    rig.takeWritten();
    rig.probe.ApdDataPacket1StringPacket(injected);
    const QByteArray image(4123, 'o');   // would be image bytes or acknowledgements
    rig.probe.ApdDataPacket2Packet(reinterpret_cast<const std::uint8_t *>(image.constData()), int(image.size()));
    rig.advance(20000);
    QCOMPARE(rig.takeWritten(), QByteArray());   // nothing sent again
  }
  rig.advance(20000);
  QCOMPARE(out.seen, expected);
  QCOMPARE(rig.link.mode(), expected.contains("image") ? LinkMode::LOAD : LinkMode::PC);
  QVERIFY(!rig.link.transferActive());
  QVERIFY(!rig.probe.watchdog().isActive());
  QVERIFY(rig.probe.lineMatcher().armed());
  if (!write) QCOMPARE(rig.probe.incoming(), expected.contains("image") ? patternImage(5) : before);
  if (write && !expected.contains("write incomplete")) QCOMPARE(rig.io->core.lastReceived(), patternImage(6));
}

void TstProtocol::commandsInTheTailOfAWrite() {
  {
    // "e": the transfer is over at once, a key read then gets its own reply, and the refusal is
    // still reported 3000 ms after the "e".
    FakeRig rig(faults({"refuse-byte:100"}));
    QVERIFY(rig.connect());
    Outcomes out(rig.link);
    QSignalSpy key(&rig.link, &TLink::masterKeyRead);
    rig.link.startWrite(patternImage(1));
    rig.advance(50);
    QVERIFY(!rig.link.transferActive());
    const std::int64_t refusedAt = rig.clock.nowMs();
    rig.link.readMasterKey();
    rig.advance(100);
    QCOMPARE(key.size(), 1);
    QCOMPARE(key[0][0].toString(), QStringLiteral("0A00001B2C3D4E5F"));
    rig.advance(refusedAt + 3000 - rig.clock.nowMs());
    QCOMPARE(out.seen, (QStringList{"on", "echo", "off", "key", "watchdog 2"}));
  }
  {
    // Written again before the refusal was reported: the retry supersedes that report, which
    // would otherwise come in the middle of the new transfer.
    FakeRig rig(faults({"refuse-byte:100", "ack-delay:40"}));
    QVERIFY(rig.connect());
    Outcomes out(rig.link);
    QSignalSpy refused(&rig.link, &TLink::writeRefused);
    rig.link.startWrite(patternImage(1));
    for (int i = 0; i < 20000 && refused.isEmpty(); ++i) rig.advance(1);
    rig.link.startWrite(patternImage(2));
    rig.advance(20000);
    QCOMPARE(out.seen, (QStringList{"on", "echo", "off", "on", "echo", "off", "watchdog 2"}));
  }
  {
    // "e" for the last byte: "Ошибка сохранения", as the bytes had all gone out.
    FakeRig rig(faults({"refuse-byte:4122"}));
    QVERIFY(rig.connect());
    Outcomes out(rig.link);
    rig.link.startWrite(patternImage(1));
    rig.advance(20000);
    QCOMPARE(out.seen, (QStringList{"on", "echo", "off", "watchdog 3"}));
  }
  {
    // While "SAVE_OK" is awaited the transfer still runs: commands are refused, and the late
    // confirmation is the write's, never a master key.
    FakeRig rig(faults({"no-save-reply"}));
    QVERIFY(rig.connect());
    Outcomes out(rig.link);
    QSignalSpy sent(&rig.link, &TLink::writeBytesSent);
    rig.link.startWrite(patternImage(1));
    for (int i = 0; i < 20000 && sent.isEmpty(); ++i) rig.advance(1);
    QVERIFY(rig.link.transferActive());
    rig.takeWritten();
    rig.link.readMasterKey();
    QVERIFY(!rig.link.requestStatus());
    QCOMPARE(rig.takeWritten(), QByteArray());
    rig.probe.ApdDataPacket1StringPacket("SAVE_OK\r\n");
    QCOMPARE(out.seen, (QStringList{"on", "echo", "off", "confirmed"}));
  }
  {
    // The write timed out unconfirmed; its confirmation comes late, after the key was asked.
    FakeRig rig(faults({"no-save-reply"}));
    QVERIFY(rig.connect());
    Outcomes out(rig.link);
    rig.link.startWrite(patternImage(1));
    rig.advance(20000);
    rig.link.readMasterKey();
    rig.probe.ApdDataPacket1StringPacket("SAVE_OK\r\n");
    QCOMPARE(rig.link.mode(), LinkMode::TM);
    rig.advance(100);
    QCOMPARE(out.seen, (QStringList{"on", "echo", "off", "watchdog 3", "key"}));
  }
}

void TstProtocol::announcementsDuringATransferGoUnanswered() {
  // Announcements queued before the handshake arrive after the write's command: an answer
  // would land in the image the controller takes.
  FakeRig rig(faults({"echo-delay:50"}));
  QVERIFY(rig.connect());
  QSignalSpy confirmed(&rig.link, &TLink::saveConfirmed), connected(&rig.link, &TLink::connected);
  rig.takeWritten();
  QVERIFY(rig.link.startWrite(patternImage(4)));
  // Every other command is refused while it runs, and sends nothing.
  QVERIFY(!rig.link.startRead() && !rig.link.startWrite({}) && !rig.link.setControllerClock() &&
          !rig.link.readMasterKey() && !rig.link.readSensorIds() && !rig.link.requestStatus());
  rig.probe.ApdDataPacket1StringPacket("ATI\r\n");
  rig.probe.ApdDataPacket1StringPacket("Ver.2.10\r\n");
  rig.advance(20000);
  QCOMPARE(rig.takeWritten(), "SAVE\r\n" + bytesOf(patternImage(4)) + QByteArray(1, '\0'));
  QCOMPARE(confirmed.size(), 1);
  QCOMPARE(connected.size(), 0);
  rig.probe.ApdDataPacket1StringPacket("ATI\r\n");   // answered again once the write is over
  QCOMPARE(rig.takeWritten(), QByteArray("PC\r\n"));
}

void TstProtocol::commandAfterTwoQuietMinutes() {
  // Open-ended waits leave no watchdog; after two quiet minutes a write and a read still
  // find their echoes on the line matcher.
  for (const char *fault : {"cut:ID:5", "no-date", "no-load-ok"}) {
    FakeRig rig(faults({fault}), patternImage(11));
    QVERIFY(rig.connect());
    Outcomes out(rig.link);
    const QByteArray f(fault);
    f.contains("ID") ? rig.link.readSensorIds() : f.contains("date") ? rig.link.setControllerClock() : rig.link.startRead();
    rig.advance(130000);
    out.seen.clear();
    rig.link.startWrite(patternImage(12));
    rig.advance(20000);
    QVERIFY2(out.seen == (QStringList{"on", "echo", "off", "confirmed"}), fault);
    QCOMPARE(rig.io->core.lastReceived(), patternImage(12));
    out.seen.clear();
    rig.link.startRead();
    rig.advance(20000);
    QCOMPARE(out.seen, (QStringList{"on", "echo", "off", "image"}));
  }
}

// The "LOAD_OK" a read still owes, stray bytes in front, comes in the next read's echo wait:
// it is the earlier read's and swallowed once; a second one is the new read's own.
void TstProtocol::owedLoadOkWithStrayBytesInANewRead() {
  FakeRig rig(faults({"no-load-ok"}), patternImage(3));
  QVERIFY(rig.connect());
  Outcomes out(rig.link);
  rig.link.startRead();
  rig.advance(20000);
  rig.link.startRead();
  rig.probe.ApdDataPacket1StringPacket("\x07LOAD_OK\r\n");
  QVERIFY(rig.link.transferActive());
  rig.probe.ApdDataPacket1StringPacket("LOAD_OK\r\n");
  QCOMPARE(out.seen, (QStringList{"on", "echo", "off", "image", "on", "off", "read incomplete"}));
}

// A partial line heard on the old port must not prefix the new port's first line: its "ATI"
// is answered, and an old "Ver." fragment makes no version line of it. A port opened by its
// device path (the command line's way) starts the same as one opened by its number.
void TstProtocol::anotherPortStartsFromEmptyFramers_data() {
  QTest::addColumn<bool>("byPath");
  QTest::newRow("by number") << false;
  QTest::newRow("by path") << true;
}

void TstProtocol::anotherPortStartsFromEmptyFramers() {
  QFETCH(bool, byPath);
  FakeRig rig;
  QVERIFY(rig.connect());
  QSignalSpy connected(&rig.link, &TLink::connected);
  rig.probe.framers().feed("Ver.");
  rig.takeWritten();
  QString reason;
  QVERIFY(byPath ? rig.link.openPath(QStringLiteral("fake"), &reason) : rig.link.openPort(1, &reason));
  QCOMPARE(rig.link.mode(), LinkMode::NO_PC);
  QCOMPARE(rig.link.portDevice(), QStringLiteral("fake"));
  QVERIFY(rig.handshake());
  QCOMPARE(rig.takeWritten(), QByteArray("BYE\r\nPC\r\nPC_OK\r\n"));
  QCOMPARE(connected.size(), 1);
  QCOMPARE(connected[0][0].toString(), QStringLiteral("2.10\r\n"));
}

// A device that does not take the "BYE" is closed again, by number or by path alike, with the
// device's reason; the link keeps its mode.
void TstProtocol::portThatTakesNoByeStaysClosed() {
  FakeRig rig;
  QVERIFY(rig.connect());
  rig.io->failWrites = true;
  QString byNumber, byPath;
  QVERIFY(!rig.link.openPort(1, &byNumber));
  QVERIFY(!rig.link.openPath(QStringLiteral("fake"), &byPath));
  QCOMPARE(byPath, QStringLiteral("Ошибка записи в устройство"));
  QCOMPARE(byNumber, byPath);
  QVERIFY(!rig.link.portOpen());
  QCOMPARE(rig.link.mode(), LinkMode::PC);
}

QTEST_GUILESS_MAIN(TstProtocol)
// What the operator reads when a port will not open or fails: the reason in Russian, then the
// system's words. Windows refuses a port another program holds with "access denied", which Wine
// cannot show (it opens a COM port twice).
void TstProtocol::portFailuresAreWorded() {
  QCOMPARE(describePortFailure(QSerialPort::ResourceError, "COM3", "I/O error"),
           QString("Устройство COM3 отключено или недоступно.\n(I/O error)"));
  QCOMPARE(describePortFailure(QSerialPort::DeviceNotFoundError, "COM12", "x"),
           QString("Устройство COM12 не найдено.\n(x)"));
#ifdef Q_OS_WIN
  QCOMPARE(describePortFailure(QSerialPort::PermissionError, "COM7", "Access denied."),
           QString("Нет доступа к COM7: порт занят другой программой или не хватает прав.\n"
                   "(Access denied.)"));
#endif
}

#include "tst_protocol.moc"
