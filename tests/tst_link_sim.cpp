// The real port code against the controller simulator over a pseudo-terminal: the line and byte
// matchers on live data, data held through a modal box, a vanishing device, and the main
// window's port picker (start-up open, typing COM1, reopening, the re-arm tick).
#include <QtTest>

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>

#include "app/Unit5.h"
#include "editor/Unit1.h"
#include "link/ComPort.h"
#include "link/PortNames.h"
#include "simsupport.h"
#include "testsupport.h"

using testsupport::ModalWatcher;

namespace {

using testsupport::pump;

QByteArray cp1251(const char *utf8) {
  // Enough for the texts checked here: ASCII and the basic Cyrillic letters.
  QByteArray out;
  for (const QChar c : QString::fromUtf8(utf8)) {
    const char16_t u = c.unicode();
    out.append(u < 0x80 ? char(u) : char(0xC0 + (u - 0x0410)));
  }
  return out;
}

quint8 checksum(const QByteArray &img) {
  quint8 s = 0;
  for (int i = 0; i < 4122; ++i) s = quint8(s + quint8(img.at(i)));
  return s;
}

}  // namespace

class TstLinkSim : public QObject {
  Q_OBJECT
  QString runtime_;

private slots:
  void initTestCase();
  void loadAndSaveThroughTheMatchers();
  void dataHeldThroughModalBox();
  void simulatorFaults();
  void vanishedDeviceClosesThePort();
  void mainWindowPortPicker();
};

void TstLinkSim::initTestCase() {
  runtime_ = testsupport::isolateRuntimeDir();
  QVERIFY2(QFile::exists(simBinary()), qPrintable(simBinary()));
}

void TstLinkSim::loadAndSaveThroughTheMatchers() {
  Sim sim;
  QVERIFY(sim.start(21));
  Client c;
  QString reason;
  QVERIFY2(c.port.open(21, &reason), qPrintable(reason));
  c.port.sendText("BYE\r\n");
  QVERIFY(c.handshake());

  // Read: the echo switches to bytes, the last image byte switches back.
  QVERIFY(c.readImage());
  QCOMPARE(c.lines, (QList<QByteArray>{"LOAD\r\n", "LOAD_OK\r\n"}));
  const QByteArray img = c.bytes;
  QCOMPARE(img.size(), 4123);
  // The simulator's image is the untouched editor's.
  QCOMPARE(quint8(img.at(4122)), checksum(img));
  QCOMPARE(img.mid(0, 17), QByteArray(17, 'N'));
  QCOMPARE(img.mid(17, 32), cp1251("Вход 1 Замкнут") + QByteArray(18, '\0'));
  QCOMPARE(img.mid(3332, 8), QByteArray("0,0\0" "00\0\0", 8));
  QCOMPARE(quint8(img.at(3660)), quint8(5));
  QCOMPARE(quint8(img.at(3661)), quint8(3));
  QCOMPARE(img.mid(3866, 6), QByteArray("\x00\x14\x00\x00\x00\x14", 6));
  QCOMPARE(img.mid(3697, 8), cp1251("Объект 1"));
  QCOMPARE(img.mid(3849, 16), QByteArray("+79168999100\0\0\0\0", 16));

  // Write: stop-and-wait, one byte per acknowledgement, the zero byte after the image.
  auto write = [&](const QByteArray &image) {
    const QByteArray confirmation = c.writeImage(image);
    if (confirmation.isEmpty()) qWarning("%s", sim.log().right(600).constData());
    return confirmation;
  };
  QByteArray changed = img;
  changed[3697] = 'Z';
  changed[4122] = char(checksum(changed));
  QCOMPARE(write(changed), QByteArray("SAVE_OK\r\n"));
  QCOMPARE(c.bytes, QByteArray(4123, 'o'));
  QByteArray broken = img;
  broken[100] = char(broken[100] ^ 1);
  QCOMPARE(write(broken), QByteArray("ERR2\r\n"));

  // The simulator keeps only the good image.
  QVERIFY(c.readImage());
  QCOMPARE(c.bytes, changed);
  QVERIFY(sim.log().contains("SAVE: 4123 bytes"));
}

void TstLinkSim::dataHeldThroughModalBox() {
  Sim sim;
  QVERIFY(sim.start(22));
  Client c;
  QVERIFY(c.port.open(22));
  QVERIFY(c.handshake());

  // The handler of the key line asks for a state report and then sits in a modal box while
  // the 19 lines arrive.
  int duringBox = -1;
  bool boxDone = false;
  c.onLine = [&](const QByteArray &l) {
    if (l != "0A00001B2C3D4E5F\r\n") return;
    c.port.sendText("STATUS\r\n");
    QMessageBox box(QMessageBox::Critical, "t", "held");
    QTimer::singleShot(700, &box, [&] {
      duringBox = int(c.lines.size());
      box.done(0);
    });
    box.exec();
    boxDone = true;
  };
  c.port.sendText("TM\r\n");
  QTRY_VERIFY_WITH_TIMEOUT(boxDone, 5000);
  QCOMPARE(duringBox, 1);   // nothing was delivered while the handler ran
  // Nothing more comes from the simulator, so only draining the port can deliver these.
  QTRY_COMPARE_WITH_TIMEOUT(c.lines.size(), 20, 2000);
  QVERIFY(c.lines.at(19).size() >= 10);   // the clock line «hh:mm:ss» and CR LF
  QVERIFY(c.lines.at(2).contains(','));
}

void TstLinkSim::simulatorFaults() {
  Sim sim;
  QVERIFY(sim.start(24, {"--refuse-byte", "100", "--stop-after", "4000"}));
  Client c;
  QVERIFY(c.port.open(24));
  QVERIFY(c.handshake());
  // Write: bytes 0..99 acknowledged, byte 100 refused, nothing after.
  int sent = 0;
  c.onLine = [&](const QByteArray &l) {
    if (l != "SAVE\r\n") return;
    c.toBytes();
    c.port.sendBytes("N", 1);
    ++sent;
  };
  c.onByte = [&](std::uint8_t b) {
    if (b == 'o') {
      c.port.sendBytes("N", 1);
      ++sent;
    } else {
      c.toLines();
    }
  };
  c.port.sendText("SAVE\r\n");
  QVERIFY(pump([&] { return c.bytes.endsWith('e'); }, 5000));
  QCOMPARE(c.bytes, QByteArray(100, 'o') + 'e');
  QCOMPARE(sent, 101);
  // Read: the stream stops after 4000 bytes and no confirmation follows.
  c.lines.clear();
  c.bytes.clear();
  c.onLine = [&](const QByteArray &l) {
    if (l == "LOAD\r\n") c.toBytes();
  };
  c.onByte = nullptr;
  c.port.sendText("LOAD\r\n");
  QVERIFY(pump([&] { return c.bytes.size() >= 4000; }, 5000));
  QTest::qWait(300);
  QCOMPARE(c.bytes.size(), 4000);
  QCOMPARE(c.lines, (QList<QByteArray>{"LOAD\r\n"}));
}

void TstLinkSim::vanishedDeviceClosesThePort() {
  Sim sim;
  QVERIFY(sim.start(23));
  Client c;
  QSignalSpy lost(&c.port, &TComPort::portLost);
  QVERIFY(c.port.open(23));
  QTRY_VERIFY_WITH_TIMEOUT(c.sawLine("ATI\r\n"), 3000);
  sim.stop();
  QVERIFY(!QFileInfo(sim.link).isSymLink());   // the simulator took its port away
  QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 3000);
  QVERIFY(!c.port.isOpen());
  QVERIFY(!lost.first().first().toString().isEmpty());
  // Writes to the closed port are skipped; the loop stays responsive.
  c.port.sendText("PC\r\n");
  QElapsedTimer t;
  t.start();
  QTest::qWait(200);
  QVERIFY(t.elapsed() < 1000);
  QCOMPARE(lost.size(), 1);
}

void TstLinkSim::mainWindowPortPicker() {
  // COM1 is the simulator, COM2 a character device that is no serial port.
  Sim sim;
  QVERIFY(sim.start(1));
  QVERIFY(QFile::link("/dev/null", runtime_ + "/serialcomm/COM2"));
  ModalWatcher boxes;
  Progress = new TProgress;
  auto *w = new TQuorlan;
  Quorlan = w;

  // Start-up opened the first port of the list and sent "BYE".
  QCOMPARE(w->ComboBox1->itemText(0), QStringLiteral("COM1"));
  QCOMPARE(w->ComboBox1->itemText(1), QStringLiteral("COM2"));
  QVERIFY(w->ComboBox1->itemData(0, Qt::ToolTipRole).toString().contains("COM1"));
  QCOMPARE(w->ComboBox1->currentText(), QStringLiteral("COM1"));
  QCOMPARE(w->PortOpen, 1);
  QCOMPARE(w->LinkMode, QStringLiteral("NO_PC"));
  QVERIFY(w->ApdDataPacket1->armed());
  QVERIFY(!w->ApdDataPacket2->armed());
  QTRY_COMPARE_WITH_TIMEOUT(sim.count("< BYE"), 1, 3000);
  QTRY_COMPARE_WITH_TIMEOUT(w->Label41->text(), QStringLiteral("ATI\r\n"), 3000);
  QVERIFY(boxes.boxes.isEmpty());

  // Typing COM1 into the emptied picker: four attempts, three refused.
  QLineEdit *edit = w->ComboBox1->lineEdit();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Backspace);
  QCOMPARE(boxes.boxes.size(), 1);
  boxes.boxes.clear();
  QTest::keyClicks(edit, "COM1");
  QCOMPARE(boxes.boxes.size(), 3);
  for (const auto &b : boxes.boxes) {
    QCOMPARE(b.title, QStringLiteral("Ошибка"));
    QCOMPARE(b.text, QStringLiteral("Ошибка открытия порта"));
    QCOMPARE(b.icon, QMessageBox::Critical);
    QVERIFY(!b.informative.isEmpty());
  }
  QCOMPARE(w->PortOpen, 1);
  QCOMPARE(w->Label39->text(), QStringLiteral("Идет поиск"));
  QTRY_COMPARE_WITH_TIMEOUT(sim.count("< BYE"), 2, 3000);
  // Enter in the field changes nothing, so it opens nothing.
  QTest::keyClick(edit, Qt::Key_Return);
  QTest::qWait(200);
  QCOMPARE(sim.count("< BYE"), 2);

  // Picking the port already open closes it, opens it again and says "BYE" again.
  boxes.boxes.clear();
  emit w->ComboBox1->activated(0);
  QTRY_COMPARE_WITH_TIMEOUT(sim.count("< BYE"), 3, 3000);
  QCOMPARE(w->PortOpen, 1);
  QVERIFY(boxes.boxes.isEmpty());

  // A device that cannot be a serial port: the system's reason is shown.
  w->ComboBox1->setCurrentIndex(1);
  emit w->ComboBox1->activated(1);
  QCOMPARE(boxes.boxes.size(), 1);
  // The reason names the device in Russian, with Qt's own words after it.
  QVERIFY2(boxes.boxes.first().informative.contains(QStringLiteral("устройств"), Qt::CaseInsensitive) ||
               boxes.boxes.first().informative.contains(QStringLiteral("доступ")),
           qPrintable(boxes.boxes.first().informative));
  QVERIFY(boxes.boxes.first().informative.contains(QLatin1Char('(')));
  QCOMPARE(w->PortOpen, 0);
  QCOMPARE(w->Label39->text(), QStringLiteral("Ошибка открытия порта"));
  QVERIFY(!w->N5->menuAction()->isEnabled());
  QVERIFY(!w->Button1->isEnabled());
  w->ComboBox1->setCurrentIndex(0);
  emit w->ComboBox1->activated(0);
  QCOMPARE(w->PortOpen, 1);

  // The re-arm tick serves "NO_PC", "PC" and "SAVE" only.
  w->ApdDataPacket1->setArmed(false);
  w->Timer2Timer();
  QVERIFY(w->ApdDataPacket1->armed() && w->ApdDataPacket1->autoRearm());
  w->LinkMode = QStringLiteral("LOAD");
  w->ApdDataPacket1->setArmed(false);
  w->Timer2Timer();
  QVERIFY(!w->ApdDataPacket1->armed() && !w->ApdDataPacket2->armed());
  w->LinkMode = QStringLiteral("SAVE");
  w->Timer2Timer();
  QVERIFY(w->ApdDataPacket2->armed() && w->ApdDataPacket2->autoRearm());
  QVERIFY(!w->ApdDataPacket1->armed());
  w->ApdDataPacket2->setArmed(false);
  w->LinkMode = QStringLiteral("PC");
  w->Timer2Timer();
  QVERIFY(w->ApdDataPacket1->armed());

  // The device vanishes: port closed, menu and read buttons off, one box; picking reconnects.
  w->N5->menuAction()->setEnabled(true);
  w->Button1->setEnabled(true);
  w->Button3->setEnabled(true);
  boxes.boxes.clear();
  sim.stop();
  QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), 1, 3000);
  QCOMPARE(boxes.boxes.first().text, QStringLiteral("Связь с портом потеряна"));
  QVERIFY(!boxes.boxes.first().informative.isEmpty());
  QCOMPARE(w->Label39->text(), QStringLiteral("Связь с портом потеряна"));
  QCOMPARE(w->PortOpen, 0);
  QVERIFY(!w->N5->menuAction()->isEnabled());
  QVERIFY(!w->Button1->isEnabled());
  QVERIFY(!w->Button3->isEnabled());

  Sim again;
  QVERIFY(again.start(1));
  emit w->ComboBox1->activated(0);
  QCOMPARE(w->PortOpen, 1);
  QTRY_COMPARE_WITH_TIMEOUT(again.count("< BYE"), 1, 3000);

  // Closing says "BYE" once more and closes the port.
  w->close();
  QTRY_COMPARE_WITH_TIMEOUT(again.count("< BYE"), 2, 3000);
  QVERIFY(!w->ApdComPort1->isOpen());
  delete w;
  Quorlan = nullptr;
  delete Progress;
  Progress = nullptr;
}

QTEST_MAIN(TstLinkSim)
#include "tst_link_sim.moc"
