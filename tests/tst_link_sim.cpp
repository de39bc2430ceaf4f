// The real port code against the controller simulator over a pseudo-terminal: the line and byte
// matchers on live data, data held through a modal box, a vanishing device, and the main
// window's port picker (start-up open, typing COM1, reopening, the re-arm tick).
#include <QtTest>

#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <fcntl.h>
#include <unistd.h>
#include <cstdlib>

#include "widgets/Unit5.h"
#include "editor/Unit1.h"
#include "link/ComPort.h"
#include "link/Link.h"
#include "link/LinkClock.h"
#include "link/LinkProbe.h"
#include "image/Checksum.h"
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
  void loadAndSaveThroughTheLink();
  void sendsKeepTheirOrderPastAFullTerminal();
  void dataHeldThroughModalBox();
  void vanishedDeviceClosesThePort();
  void mainWindowPortPicker();
  void exchangeMenuAgainstTheSimulator();
};

void TstLinkSim::initTestCase() {
  runtime_ = testsupport::isolateRuntimeDir();
  QVERIFY2(QFile::exists(simBinary()), qPrintable(simBinary()));
}

void TstLinkSim::loadAndSaveThroughTheLink() {
  // The product's transfers on a real pseudo-terminal: the simulator serves the untouched
  // editor's image, takes a changed one, refuses a broken one and keeps the good one.
  Sim sim;
  QVERIFY(sim.start(21));
  TLink link;
  link.setPortLister(&PortNames::virtualPorts);
  link.startRearmTick();
  QString reason;
  QVERIFY2(link.openPort(21, &reason), qPrintable(reason));
  link.listen();
  QVERIFY(pump([&] { return link.mode() == LinkMode::PC; }, 5000));

  bool done = false;
  ConfigImageBytes incoming{};
  QObject::connect(&link, &TLink::imageReceived, [&](const ConfigImageBytes &image) {
    incoming = image;
    done = true;
  });
  link.startRead();
  QVERIFY(pump([&] { return done && link.mode() == LinkMode::PC; }, 10000));
  const QByteArray img(reinterpret_cast<const char *>(incoming.data()), 4123);
  QCOMPARE(quint8(img.at(4122)), checksum(img));
  QCOMPARE(img.mid(0, 17), QByteArray(17, 'N'));
  QCOMPARE(img.mid(17, 32), cp1251("Вход 1 Замкнут") + QByteArray(18, '\0'));
  QCOMPARE(img.mid(3332, 8), QByteArray("0,0\0" "00\0\0", 8));
  QCOMPARE(img.mid(3866, 6), QByteArray("\x00\x14\x00\x00\x00\x14", 6));
  QCOMPARE(img.mid(3697, 8), cp1251("Объект 1"));

  int confirmed = 0, failed = 0;
  QObject::connect(&link, &TLink::saveConfirmed, [&] { ++confirmed; });
  QObject::connect(&link, &TLink::saveFailed, [&] { ++failed; });
  ConfigImageBytes changed = incoming;
  changed[3697] = 'Z';
  storeChecksum(changed);
  link.startWrite(changed);
  QVERIFY(pump([&] { return confirmed == 1; }, 20000));
  ConfigImageBytes broken = changed;
  broken[100] ^= 1;
  link.startWrite(broken);
  QVERIFY(pump([&] { return failed == 1; }, 20000));

  done = false;
  link.startRead();
  QVERIFY(pump([&] { return done; }, 10000));
  QCOMPARE(incoming, changed);
  QVERIFY(sim.log().contains("SAVE: 4123 bytes"));
  QVERIFY(!sim.log().contains("not 0x00"));   // the zero byte followed each image
  sim.stop();
}

void TstLinkSim::sendsKeepTheirOrderPastAFullTerminal() {
  // More than a pseudo-terminal holds, with nobody reading yet: the device takes what it can,
  // the port queues the rest (a full device is no lost device), and later sends, large or a
  // byte at a time, wait behind the queue instead of overtaking it.
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  QVERIFY(master >= 0);
  QVERIFY(::grantpt(master) == 0 && ::unlockpt(master) == 0);
  const QString slave = QString::fromLocal8Bit(::ptsname(master));
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  TComPort port;
  QString reason;
  QVERIFY2(port.openDevice(slave, &reason), qPrintable(reason));
  QByteArray sent;
  for (int i = 0; i < 3; ++i) {
    QByteArray chunk(60000 + i, Qt::Uninitialized);
    for (int k = 0; k < chunk.size(); ++k) chunk[k] = char((k * 7 + i * 13) & 0xFF);
    QVERIFY(port.sendText(chunk));
    sent += chunk;
    for (int k = 0; k < 40; ++k) {
      const char b = char(k + i);
      QVERIFY(port.sendText(QByteArray(1, b)));
      sent += b;
    }
  }
  QByteArray got;
  const bool all = pump([&] {
    char buf[65536];
    for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) got.append(buf, n);
    return got.size() >= sent.size();
  }, 20000);
  port.close();
  ::close(master);
  QVERIFY2(all, qPrintable(QStringLiteral("%1 of %2 bytes arrived").arg(got.size()).arg(sent.size())));
  QCOMPARE(got.size(), sent.size());
  QVERIFY(got == sent);
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
    QVERIFY(c.port.sendText("STATUS\r\n"));
    QMessageBox box(QMessageBox::Critical, "t", "held");
    QTimer::singleShot(700, &box, [&] {
      duringBox = int(c.lines.size());
      box.done(0);
    });
    box.exec();
    boxDone = true;
  };
  QVERIFY(c.port.sendText("TM\r\n"));
  QTRY_VERIFY_WITH_TIMEOUT(boxDone, 5000);
  QCOMPARE(duringBox, 1);   // nothing was delivered while the handler ran
  // Nothing more comes from the simulator, so only draining the port can deliver these.
  QTRY_COMPARE_WITH_TIMEOUT(c.lines.size(), 20, 2000);
  QVERIFY(c.lines.at(19).size() >= 10);   // the clock line «hh:mm:ss» and CR LF
  QVERIFY(c.lines.at(2).contains(','));
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
  // Writes to the closed port are refused with a reason; the loop stays responsive.
  QVERIFY(!c.port.sendText("PC\r\n"));
  QVERIFY(!c.port.lastError().isEmpty());
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
  const auto ownLink = testsupport::ownPortsLink();
  auto *w = new TQuorlan(*ownLink);
  Progress = new TProgress;
  w->setProgress(Progress);
  Quorlan = w;
  TLink *link = TQuorlanProbe(*w).link();
  const TLinkProbe probe(*link);

  // Start-up opened the first port of the list and sent "BYE".
  QCOMPARE(w->ComboBox1->itemText(0), QStringLiteral("COM1"));
  QCOMPARE(w->ComboBox1->itemText(1), QStringLiteral("COM2"));
  QVERIFY(w->ComboBox1->itemData(0, Qt::ToolTipRole).toString().contains("COM1"));
  QCOMPARE(w->ComboBox1->currentText(), QStringLiteral("COM1"));
  QVERIFY(link->portOpen());
  QCOMPARE(link->mode(), LinkMode::NO_PC);
  QVERIFY(probe.lineMatcher().armed());
  QVERIFY(!probe.byteMatcher().armed());
  QTRY_COMPARE_WITH_TIMEOUT(sim.count("< BYE"), 1, 3000);
  // The window answers the announcement: the handshake follows on its own.
  QTRY_COMPARE_WITH_TIMEOUT(link->mode(), LinkMode::PC, 3000);
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
  QVERIFY(link->portOpen());
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
  QVERIFY(link->portOpen());
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
  QVERIFY(!link->portOpen());
  QCOMPARE(w->Label39->text(), QStringLiteral("Ошибка открытия порта"));
  QVERIFY(!w->N5->menuAction()->isEnabled());
  QVERIFY(!w->Button1->isEnabled());
  w->ComboBox1->setCurrentIndex(0);
  emit w->ComboBox1->activated(0);
  QVERIFY(link->portOpen());

  // The re-arm tick serves "NO_PC", "PC" and "SAVE" only.
  probe.lineMatcher().setArmed(false);
  probe.Timer2Timer();
  QVERIFY(probe.lineMatcher().armed() && probe.lineMatcher().autoRearm());
  probe.setMode(LinkMode::LOAD);
  probe.lineMatcher().setArmed(false);
  probe.Timer2Timer();
  QVERIFY(!probe.lineMatcher().armed() && !probe.byteMatcher().armed());
  probe.setMode(LinkMode::SAVE);
  probe.Timer2Timer();
  QVERIFY(probe.byteMatcher().armed() && probe.byteMatcher().autoRearm());
  QVERIFY(!probe.lineMatcher().armed());
  probe.byteMatcher().setArmed(false);
  probe.setMode(LinkMode::PC);
  probe.Timer2Timer();
  QVERIFY(probe.lineMatcher().armed());

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
  QVERIFY(!link->portOpen());
  QVERIFY(!w->N5->menuAction()->isEnabled());
  QVERIFY(!w->Button1->isEnabled());
  QVERIFY(!w->Button3->isEnabled());

  Sim again;
  QVERIFY(again.start(1));
  emit w->ComboBox1->activated(0);
  QVERIFY(link->portOpen());
  QTRY_COMPARE_WITH_TIMEOUT(again.count("< BYE"), 1, 3000);

  // Closing says "BYE" once more and closes the port.
  w->close();
  QTRY_COMPARE_WITH_TIMEOUT(again.count("< BYE"), 2, 3000);
  QVERIFY(!probe.port().isOpen());
  delete w;
  Quorlan = nullptr;
  delete Progress;
  Progress = nullptr;
}

void TstLinkSim::exchangeMenuAgainstTheSimulator() {
  // The real window and the simulator process: connect, identifiers, key, clock, then a write
  // and a read that bring the edited object name back.
  Sim sim;
  QVERIFY(sim.start(1));
  ModalWatcher boxes;
  const auto ownLink = testsupport::ownPortsLink();
  auto *w = new TQuorlan(*ownLink);
  Progress = new TProgress;
  w->setProgress(Progress);
  Quorlan = w;
  TLink *link = TQuorlanProbe(*w).link();
  w->show();
  QTRY_COMPARE_WITH_TIMEOUT(w->Label39->text(), QStringLiteral("Соединение установленно"), 5000);
  QCOMPARE(w->Label40->text(), QStringLiteral("версия FLASH 2.10\r\n"));
  QVERIFY(w->N5->menuAction()->isEnabled() && w->Button1->isEnabled() && w->Button3->isEnabled());
  QCOMPARE(link->mode(), LinkMode::PC);

  QTest::mouseClick(static_cast<QAbstractButton *>(w->Button3), Qt::LeftButton);
  QTRY_COMPARE_WITH_TIMEOUT(w->Edit(20)->text(), QStringLiteral("28FF33D4C2150418"), 3000);
  QCOMPARE(w->Edit(13)->text(), QStringLiteral("28FF4A1B02160345"));
  QVERIFY(w->Edit(14)->text().isEmpty());
  QTest::mouseClick(static_cast<QAbstractButton *>(w->Button1), Qt::LeftButton);
  QTRY_COMPARE_WITH_TIMEOUT(w->Edit12->text(), QStringLiteral("0A00001B2C3D4E5F"), 3000);

  w->N8->trigger();
  QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), 1, 3000);
  QVERIFY2(boxes.boxes[0].text.startsWith(QStringLiteral("Дата: ")), qPrintable(boxes.boxes[0].text));
  QCOMPARE(boxes.boxes[0].icon, QMessageBox::NoIcon);
  boxes.boxes.clear();

  w->Edit1->setText(QStringLiteral("Насос 2"));
  w->N6->trigger();
  QVERIFY(!w->isEnabled());
  // pump(), not QTRY: a stop-and-wait write must not sleep between events.
  QVERIFY(pump([&] { return link->mode() == LinkMode::PC && w->isEnabled(); }, 20000));
  QVERIFY(!Progress->isVisible());
  QTRY_COMPARE_WITH_TIMEOUT(sim.count("checksum good"), 1, 3000);

  w->Edit1->setText(QStringLiteral("другое"));
  w->N7->trigger();
  QVERIFY(pump([&] { return w->Edit1->text() == QStringLiteral("Насос 2"); }, 20000));
  QTRY_COMPARE_WITH_TIMEOUT(link->mode(), LinkMode::PC, 3000);
  QVERIFY(w->isEnabled() && !Progress->isVisible());
  QVERIFY2(boxes.boxes.isEmpty(), boxes.boxes.isEmpty() ? "" : qPrintable(boxes.boxes[0].text));

  w->close();
  delete w;
  Quorlan = nullptr;
  delete Progress;
  Progress = nullptr;
}

QTEST_MAIN(TstLinkSim)
#include "tst_link_sim.moc"
