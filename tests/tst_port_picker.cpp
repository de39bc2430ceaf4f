// The port picker on virtual ports of pseudo-terminals: a picked name opens exactly that port,
// an open failure during start-up is shown where the main window is going to appear, and the
// list is scanned again when it opens without touching the open port.
#include <QtTest>

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextDocument>

#include <map>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "widgets/Unit5.h"
#include "editor/Unit1.h"
#include "link/Link.h"
#include "link/ComPort.h"
#include "link/PortNames.h"
#include "ptysupport.h"
#include "testsupport.h"

class TstPortPicker : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() { testsupport::isolateRuntimeDir(); }

  void aPickedPortOpensWhole() {
    testsupport::TestPty com1, com10, com33;
    QVERIFY(com1.open(1) && com10.open(10) && com33.open(33));
    testsupport::ModalWatcher boxes;
    testsupport::MainWindowOnly windows;
    TQuorlan *w = windows.w;
    QComboBox *picker = w->ComboBox1;
    // Typing may go as long as the longest listed name.
    QCOMPARE(picker->itemText(1), QStringLiteral("COM10"));
    for (const testsupport::TestPty *port : {&com10, &com33, &com1, &com33}) {
      const int index = picker->findText(QFileInfo(port->link).fileName());
      QVERIFY(index >= 0);
      picker->showPopup();
      picker->view()->setCurrentIndex(picker->model()->index(index, 0));
      QTest::keyClick(picker->view(), Qt::Key_Return);
      QCOMPARE(picker->currentText(), QFileInfo(port->link).fileName());
      QCOMPARE(TQuorlanProbe(*w).link()->portDevice(), port->link);
      QVERIFY(TQuorlanProbe(*w).link()->portOpen());
    }
    QVERIFY(boxes.boxes.isEmpty());
  }

  void popupListsThePortsOfNow_data() {
    QTest::addColumn<QList<int>>("atStart");
    QTest::addColumn<int>("removed");
    QTest::addColumn<int>("added");
    QTest::addColumn<QString>("text");
    QTest::newRow("a port open") << QList<int>{1, 5} << 5 << 7 << "COM1";
    QTest::newRow("the open port unplugged") << QList<int>{1} << 1 << 7 << "COM1";
    QTest::newRow("no port at start") << QList<int>{} << 0 << 7 << "НЕТ!";
  }

  void popupListsThePortsOfNow() {
    QFETCH(QList<int>, atStart);
    QFETCH(int, removed);
    QFETCH(int, added);
    QFETCH(QString, text);
    // The virtual ports alone, whatever serial devices this machine has.
    TLink link;
    link.setPortLister(&PortNames::virtualPorts);
    std::map<int, testsupport::TestPty> ports;
    for (int n : atStart) QVERIFY(ports[n].open(n));
    testsupport::ModalWatcher boxes;
    testsupport::MainWindowOnly windows(&link);
    QComboBox *picker = windows.w->ComboBox1;
    QCOMPARE(picker->currentText(), text);
    const QString openDevice = TQuorlanProbe(*windows.w).link()->portDevice();
    QCOMPARE(openDevice.isEmpty(), atStart.isEmpty());

    if (removed) ports[removed].unlist();
    QVERIFY(ports[added].open(added));
    const QString addedName = QStringLiteral("COM%1").arg(added);
    const QString removedName = QStringLiteral("COM%1").arg(removed);
    QSignalSpy edits(picker->lineEdit(), &QLineEdit::textEdited);
    QSignalSpy picks(picker, &QComboBox::activated);
    const QString addedDevice = ports[added].link;
    const QString removedDevice = removed ? PortNames::virtualPortFolder() + "/" + removedName : QString();
    QCOMPARE(picker->findData(addedDevice), -1);
    if (removed) QVERIFY(picker->findData(removedDevice) >= 0);
    picker->showPopup();
    const int at = picker->findData(addedDevice);
    QVERIFY(at >= 0);
    QCOMPARE(picker->itemText(at), addedName);
    QVERIFY(picker->itemData(at, Qt::ToolTipRole).toString().contains(addedDevice));
    if (removed) QCOMPARE(picker->findData(removedDevice), -1);
    picker->hidePopup();
    // The text stays, nothing was picked, and the open port was not opened again.
    QCOMPARE(picker->currentText(), text);
    QCOMPARE(TQuorlanProbe(*windows.w).link()->portDevice(), openDevice);
    QCOMPARE(edits.size() + picks.size(), 0);
    if (!atStart.isEmpty()) QCOMPARE(ports[atStart.first()].sent().count("BYE\r\n"), 1);
    QCOMPARE(ports[added].sent(), QByteArray());
    // The unplugged open port's item is gone, its name stays in the field.
    QCOMPARE(picker->currentIndex(), picker->findText(text));
    QVERIFY(boxes.boxes.isEmpty());
  }

  void tooltipShowsTheDevicesFacts_data() {
    QTest::addColumn<QString>("linkName");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("serial");
    QTest::newRow("usb adapter") << "ttyUSB0" << "FT232R USB UART" << "A50285BI";
    // A tooltip that looks like markup would be shown as rich text: the device's own words
    // must come out as they are.
    QTest::newRow("markup in the names") << "<b>tty" << "<i>UART</i>" << "<img src=x>";
  }

  void tooltipShowsTheDevicesFacts() {
    QFETCH(QString, linkName);
    QFETCH(QString, description);
    QFETCH(QString, serial);
    testsupport::TestPty port;
    QVERIFY(port.open(1));
    QTemporaryDir dir;
    const QString device = dir.path() + "/" + linkName;
    QVERIFY(QFile::link(QFileInfo(port.link).symLinkTarget(), device));
    TPortEntry e(QStringLiteral("COM1"), device, description, 1);
    e.usbIds = true;
    e.vendorId = 0x0403;
    e.productId = 0x6001;
    e.serialNumber = serial;
    TLink link;
    link.setPortLister([e] { return QList<TPortEntry>{e}; });
    testsupport::ModalWatcher boxes;
    testsupport::MainWindowOnly windows(&link);
    QCOMPARE(TQuorlanProbe(*windows.w).link()->portDevice(), device);
    const QString expected = device + "\n" + description + "\nUSB VID 0403, PID 6001, серийный номер " + serial;
    // What the operator sees: rich text is shown as its plain text.
    auto shown = [](const QString &tip) {
      if (!Qt::mightBeRichText(tip)) return tip;
      QTextDocument doc;
      doc.setHtml(tip);
      return doc.toPlainText();
    };
    QCOMPARE(shown(windows.w->ComboBox1->toolTip()), expected);
    QCOMPARE(shown(windows.w->ComboBox1->itemData(0, Qt::ToolTipRole).toString()), expected);
    QVERIFY(boxes.boxes.isEmpty());
  }

  void startUpOpenErrorShowsWhereTheWindowWillBe() {
    // COM1 is a character device that is no serial port: the start-up open fails.
    const QString link = PortNames::virtualPortFolder() + QStringLiteral("/COM1");
    QDir().mkpath(PortNames::virtualPortFolder());
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), link));
    QRect boxFrame;
    bool onTop = false;
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
      auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
      if (!box) return;
      boxFrame = box->frameGeometry();
      onTop = box->windowFlags() & Qt::WindowStaysOnTopHint;
      box->done(QMessageBox::Ok);
    });
    poll.start(20);
    {
      testsupport::MainWindowOnly windows;
      QFile::remove(link);
      QVERIFY(boxFrame.isValid());
      QVERIFY(onTop);   // above the splash, which stays on top too
      const QPoint offset = boxFrame.center() - windows.w->frameGeometry().center();
      QVERIFY2(offset.manhattanLength() <= 4,
               qPrintable(QStringLiteral("box %1,%2 window %3,%4")
                              .arg(boxFrame.center().x()).arg(boxFrame.center().y())
                              .arg(windows.w->frameGeometry().center().x())
                              .arg(windows.w->frameGeometry().center().y())));
    }
  }
};

QTEST_MAIN(TstPortPicker)
#include "tst_port_picker.moc"
