// A port that follows the hardware: the open port's device goes away (the simulator stops and
// takes its virtual port along) and comes back (a new simulator on the same number); the window
// reopens it by itself, says so on the status line, and the controller's announcement runs the
// handshake as at start-up; an adapter is found again by its serial number under another path.
// An operator's pick ends the wait.
#include <QtTest>

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStatusBar>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "editor/Unit1.h"
#include "link/Link.h"
#include "link/LinkClock.h"
#include "link/PortNames.h"
#include "simsupport.h"
#include "ptysupport.h"
#include "testsupport.h"
#include "widgets/Unit5.h"

namespace {

// The return poll's period: a poll is due within it.
constexpr int kPollMs = 1000;

// A link on the test's own virtual ports whose timers (the window's return poll among them) run
// in virtual time.
struct VirtualTimeLink {
  TManualClock clock;
  TLink link{nullptr, &clock};
  VirtualTimeLink() { link.setPortLister(&PortNames::virtualPorts); }
};

bool exchangeReady(TQuorlan *w) {
  return w->Label39->text() == QStringLiteral("Соединение установленно") &&
         w->N5->menuAction()->isEnabled() && w->Button1->isEnabled() && w->Button3->isEnabled();
}

}  // namespace

class TstHotplug : public QObject {
  Q_OBJECT
private slots:
  // The simulator takes COM1, the first in the list, so the window opens it at start-up.
  void initTestCase() {
    testsupport::isolateRuntimeDir();
    QVERIFY2(QFile::exists(simBinary()), qPrintable(simBinary()));
  }

  void lostPortComesBack() {
    Sim sim;
    QVERIFY(sim.start(1));
    VirtualTimeLink link;
    testsupport::ModalWatcher boxes;
    testsupport::MainWindowOnly windows(&link.link);
    TQuorlan *w = windows.w;
    QCOMPARE(w->ComboBox1->currentText(), QStringLiteral("COM1"));
    QTRY_VERIFY_WITH_TIMEOUT(exchangeReady(w), 5000);

    sim.stop();
    // The one message about the loss, the commands off, and the wait on the status line.
    QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), 1, 5000);
    QCOMPARE(boxes.boxes.first().text, QStringLiteral("Связь с портом потеряна"));
    QVERIFY(!TQuorlanProbe(*w).link()->portOpen());
    QVERIFY(!w->N5->menuAction()->isEnabled());
    QCOMPARE(w->StatusBar1->currentMessage(),
             QStringLiteral("Порт COM1 отключен, ожидание его возвращения"));

    Sim again;
    QVERIFY(again.start(1));
    link.clock.advance(kPollMs);
    QCOMPARE(w->StatusBar1->currentMessage(), QStringLiteral("Порт COM1 снова открыт"));
    QVERIFY(TQuorlanProbe(*w).link()->portOpen());
    QCOMPARE(w->ComboBox1->currentText(), QStringLiteral("COM1"));
    QTRY_VERIFY_WITH_TIMEOUT(exchangeReady(w), 5000);
    QCOMPARE(TQuorlanProbe(*w).link()->mode(), LinkMode::PC);
    QCOMPARE(again.count("< BYE"), 1);
    // The link works: the key comes back.
    w->Edit12->clear();
    QTest::mouseClick(static_cast<QAbstractButton *>(w->Button1), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w->Edit12->text(), QStringLiteral("0A00001B2C3D4E5F"), 3000);
    QCOMPARE(boxes.boxes.size(), 1);
  }

  void anAdapterBackUnderAnotherPath() {
    // The adapter (serial number A1) was COM1 and comes back as COM2: the same adapter, so it
    // is opened there.
    QMap<QString, QString> serials;
    TManualClock clock;
    TLink link(nullptr, &clock);
    link.setPortLister([&serials] {
      QList<TPortEntry> l = PortNames::scanVirtualFolder(PortNames::virtualPortFolder());
      for (TPortEntry &e : l) {
        e.serialNumber = serials.value(e.device);
        e.usbIds = !e.serialNumber.isEmpty();
        e.vendorId = 0x0403;
        e.productId = 0x6001;
      }
      PortNames::sortForPicker(l);
      return l;
    });
    testsupport::TestPty first, second;
    QVERIFY(first.open(1));
    serials[first.link] = QStringLiteral("A1");
    testsupport::ModalWatcher boxes;
    testsupport::MainWindowOnly windows(&link);
    TQuorlan *w = windows.w;
    QCOMPARE(TQuorlanProbe(*w).link()->portDevice(), first.link);
    first.unplug();
    QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), 1, 5000);
    QCOMPARE(w->StatusBar1->currentMessage(), QStringLiteral("Порт COM1 отключен, ожидание его возвращения"));

    QVERIFY(second.open(2));
    serials[second.link] = QStringLiteral("A1");
    clock.advance(kPollMs);
    QCOMPARE(w->StatusBar1->currentMessage(), QStringLiteral("Порт COM1 снова открыт как COM2"));
    QCOMPARE(TQuorlanProbe(*w).link()->portDevice(), second.link);
    QCOMPARE(w->ComboBox1->currentText(), QStringLiteral("COM2"));
    QVERIFY(w->ComboBox1->toolTip().contains(QStringLiteral("серийный номер A1")));
    QTRY_VERIFY_WITH_TIMEOUT(second.sent().contains("BYE\r\n"), 2000);
    // The announcement of a controller on the new port is answered.
    QVERIFY(::write(second.master, "ATI\r\n", 5) == 5);
    QTRY_VERIFY_WITH_TIMEOUT(second.sent().contains("PC\r\n"), 2000);
    QCOMPARE(boxes.boxes.size(), 1);
  }

  void aPickEndsTheWait() {
    Sim sim, other;
    QVERIFY(sim.start(1));
    QVERIFY(other.start(4));
    VirtualTimeLink link;
    testsupport::ModalWatcher boxes;
    testsupport::MainWindowOnly windows(&link.link);
    TQuorlan *w = windows.w;
    QTRY_VERIFY_WITH_TIMEOUT(exchangeReady(w), 5000);
    sim.stop();
    QTRY_COMPARE_WITH_TIMEOUT(boxes.boxes.size(), 1, 5000);

    const int com4 = w->ComboBox1->findText(QStringLiteral("COM4"));
    QVERIFY(com4 >= 0);
    w->ComboBox1->setCurrentIndex(com4);
    emit w->ComboBox1->activated(com4);
    QCOMPARE(TQuorlanProbe(*w).link()->portDevice(), other.link);
    QVERIFY(w->StatusBar1->currentMessage().isEmpty());
    Sim again;
    QVERIFY(again.start(1));
    // Past several of the wait's polls: COM1 stays alone.
    link.clock.advance(3 * kPollMs);
    QCOMPARE(TQuorlanProbe(*w).link()->portDevice(), other.link);
    QCOMPARE(again.count("< BYE"), 0);
    QCOMPARE(w->ComboBox1->currentText(), QStringLiteral("COM4"));
    QVERIFY(w->StatusBar1->currentMessage().isEmpty());
    QCOMPARE(boxes.boxes.size(), 1);
  }
};

QTEST_MAIN(TstHotplug)
#include "tst_hotplug.moc"
