// The port picker on virtual ports of pseudo-terminals: a picked name opens exactly that port,
// and an open failure during start-up is shown where the main window is going to appear.
#include <QtTest>

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QScreen>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "widgets/Unit5.h"
#include "editor/Unit1.h"
#include "link/Link.h"
#include "link/ComPort.h"
#include "link/PortNames.h"
#include "testsupport.h"

namespace {

// A pseudo-terminal whose slave is listed as virtual port COM<number>.
struct VirtualPort {
  int master = -1;
  QString link;
  bool open(int number) {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
    QDir().mkpath(PortNames::virtualPortFolder());
    link = PortNames::virtualPortFolder() + QStringLiteral("/COM%1").arg(number);
    QFile::remove(link);
    return QFile::link(QString::fromLocal8Bit(ptsname(master)), link);
  }
  ~VirtualPort() {
    if (!link.isEmpty()) QFile::remove(link);
    if (master >= 0) ::close(master);
  }
};

struct Windows {
  TQuorlan *w = nullptr;
  Windows() {
    Progress = new TProgress;
    w = new TQuorlan(nullptr, nullptr, Progress);
    Quorlan = w;
  }
  ~Windows() {
    w->hide();
    delete w;
    Quorlan = nullptr;
    delete Progress;
    Progress = nullptr;
  }
};

}  // namespace

class TstPortPicker : public QObject {
  Q_OBJECT
private slots:
  void initTestCase() { testsupport::isolateRuntimeDir(); }

  void aPickedPortOpensWhole() {
    VirtualPort com1, com10, com33;
    QVERIFY(com1.open(1) && com10.open(10) && com33.open(33));
    testsupport::ModalWatcher boxes;
    Windows windows;
    TQuorlan *w = windows.w;
    QComboBox *picker = w->ComboBox1;
    // Typing may go as long as the longest listed name.
    QCOMPARE(picker->itemText(1), QStringLiteral("COM10"));
    for (const VirtualPort *port : {&com10, &com33, &com1, &com33}) {
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
      Windows windows;
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
