// Start-up order, wiring and lifetime: the splash is on screen while the main window builds
// itself and is gone afterwards without ending the program; the secondary windows start hidden
// and answer the main window's requests; closing the main window ends the event loop even while
// another window is shown.
#include <QtTest>

#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "app/Startup.h"
#include "app/uZastavka.h"
#include "editor/EditorFiles.h"
#include "editor/TreePanel.h"
#include "editor/Unit1.h"
#include "link/LinkProbe.h"
#include "editor/Unit2.h"
#include "editor/Unit3.h"
#include "image/ConfigCodec.h"
#include "image/ConfigFile.h"
#include "image/ReactionTrees.h"
#include "link/LinkClock.h"
#include "state/Unit6.h"
#include "testsupport.h"
#include "widgets/EditorWidgets.h"
#include "widgets/Unit5.h"

QT_BEGIN_NAMESPACE
// QtCore's hook table; its entry 3 is called from every QObject's constructor.
extern Q_CORE_EXPORT quintptr qtHookData[];
QT_END_NAMESPACE

namespace {

// Every QObject made while installed, in the order of making.
QList<const QObject *> made;
quintptr previousAddHook = 0;
void recordMade(QObject *o) {
  made.append(o);
  if (previousAddHook) reinterpret_cast<void (*)(QObject *)>(previousAddHook)(o);
}

// Watches the splash while the windows are created.
class SplashSpy : public QObject {
public:
  bool seen = false, sizeRight = false, masked = false, paintedEarly = false;

  bool eventFilter(QObject *o, QEvent *e) override {
    if (Form4 && o == Form4 && e->type() == QEvent::Show) {
      seen = true;
      sizeRight = Form4->size() == QSize(567, 443);
      masked = !Form4->mask().isEmpty() && Form4->mask() != QRegion(Form4->rect());
    }
    if (Form4 && o == Form4 && e->type() == QEvent::Paint) paintedEarly = Quorlan == nullptr;
    return false;
  }
};

}  // namespace

class TstStartup : public QObject {
  Q_OBJECT
  SplashSpy spy;

private slots:
  void initTestCase() {
    qApp->installEventFilter(&spy);
    previousAddHook = qtHookData[3];
    qtHookData[3] = reinterpret_cast<quintptr>(&recordMade);
    testsupport::startWindows();  // a real device of the machine may refuse to open
    qtHookData[3] = previousAddHook;
    qApp->removeEventFilter(&spy);
    QVERIFY(Quorlan);
  }

  // The main window first, and no progress window of its own; the others after it in turn.
  void windowsAreMadeInTheirOrder() {
    // The last making at an address: an object gone before may have had it.
    const auto madeAt = [](const QObject *o) { return made.lastIndexOf(o); };
    QVERIFY(madeAt(Quorlan) >= 0);
    QVERIFY(madeAt(Quorlan) < madeAt(SMS));
    QVERIFY(madeAt(SMS) < madeAt(Form3));
    QVERIFY(madeAt(Form3) < madeAt(Progress));
    QVERIFY(madeAt(Progress) < madeAt(Form6));
    QVERIFY(Quorlan->findChildren<TProgress *>().isEmpty());
  }

  void splashShownWhileTheMainWindowBuilds() {
    QVERIFY2(spy.seen && spy.sizeRight, "splash shown at 567x443 during construction");
    QVERIFY2(spy.paintedEarly, "splash painted before the main window was finished");
    QVERIFY2(spy.masked, "black parts of the splash are see-through");
    QVERIFY2(Form4 == nullptr, "splash destroyed after construction");
  }

  void secondaryWindowsStartHidden() {
    QVERIFY(SMS && Form3 && Progress && Form6);
    QVERIFY(!SMS->isVisible() && !Form3->isVisible() && !Progress->isVisible() && !Form6->isVisible());
    QCOMPARE(Form6->windowTitle(), QString::fromUtf8("Текущее состояние и управление"));
    const TLinkProbe link(*theLink);
    QVERIFY(link.rearmTick().isActive());
    QCOMPARE(link.rearmTick().interval(), 1000);
  }

  // The main window reaches the others only through what start-up connected.
  void mainWindowRequestsReachTheirWindows_data() {
    QTest::addColumn<int>("tree");
    QTest::addColumn<int>("node");
    QTest::addColumn<bool>("threshold");
    QTest::addColumn<QString>("shown");
    QTest::newRow("message") << 2 << 69 * 2 + 45 << false << QString();
    QTest::newRow("analog threshold") << 2 << 69 * 4 + 47 << true << QStringLiteral("0,0");
    QTest::newRow("sensor threshold") << 3 << 69 * 6 + 2 << true << QStringLiteral("0,0");
  }
  void mainWindowRequestsReachTheirWindows() {
    QFETCH(int, tree);
    QFETCH(int, node);
    QFETCH(bool, threshold);
    QFETCH(QString, shown);
    QTreeWidgetItem *item = Quorlan->Trees->node(tree, node);
    QVERIFY(item);
    Quorlan->Trees->tree(tree)->setCurrentItem(item);
    if (shown.isEmpty()) shown = item->text(0);
    if (threshold) item->setText(0, trees::thresholdCaption(shown));
    TValueDialog *dialog = threshold ? static_cast<TValueDialog *>(Form3) : static_cast<TValueDialog *>(SMS);
    QString seen;
    bool wasVisible = false;
    QTimer::singleShot(0, dialog, [&] {
      wasVisible = dialog->isVisible();
      seen = dialog->findChild<QLineEdit *>()->text();
      dialog->Button2->click();
    });
    Quorlan->Trees->contextPopup(tree, QPoint(-1, -1));
    QVERIFY(wasVisible);
    QCOMPARE(seen, shown);
    QCOMPARE(Quorlan->Trees->dialogTarget(), tree);
  }

  void stateWindowOpensFromTheMenu() {
    QVERIFY(!Form6->isVisible());
    Quorlan->N9Click();
    QVERIFY(Form6->isVisible());
    Form6->hide();
  }

  void progressWindowAppearsOverTheMainWindow() {
    Quorlan->show();
    QVERIFY(QTest::qWaitForWindowExposed(Quorlan));
    Progress->move(0, 0);
    Progress->showWindow();
    const QRect shown = Progress->frameGeometry();
    Progress->closeWindow();
    QVERIFY2(Quorlan->frameGeometry().contains(shown.center()), qPrintable(QStringLiteral("%1,%2").arg(shown.x()).arg(shown.y())));
    QVERIFY(qAbs(shown.center().x() - Quorlan->frameGeometry().center().x()) < shown.width() / 2);
  }

  // A file named on the command line (a double-click on it) opens as «Файл → Открыть» opens it,
  // after the start-up check of the SMS centre number; a bad one gets the open's own message.
  void fileNamedAtStartOpens() {
    QCOMPARE(fileArgument({QStringLiteral("quorlan")}), QString());
    QCOMPARE(fileArgument({QStringLiteral("quorlan"), QStringLiteral("--x"), QString(),
                           QStringLiteral("a.cfg"), QStringLiteral("b.cfg")}),
             QStringLiteral("a.cfg"));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("склад 7.cfg"));
    const QString before = Quorlan->Edit1->text();
    const QString saved = QStringLiteral("Склад 7");
    Quorlan->Edit1->setText(saved);
    QVERIFY(TEditorFiles(Quorlan, Progress).save(path));
    Quorlan->Edit1->setText(before);

    Quorlan->Timer1->start();  // as just after start-up
    QString atCheck;
    const auto check = connect(Quorlan->Timer1, &QTimer::timeout, [&] { atCheck = Quorlan->Edit1->text(); });
    testsupport::ModalWatcher boxes;
    openAtStart(path);
    QVERIFY(testsupport::pump([&] { return Quorlan->Edit1->text() == saved; }, 5000));
    disconnect(check);
    QCOMPARE(atCheck, before);
    QCOMPARE(boxes.boxes.size(), 0);

    const QString missing = dir.filePath(QStringLiteral("nowhere.cfg"));
    ConfigFileError expected;
    ConfigImageBytes unused{};
    QVERIFY(!readConfigFile(missing, unused, &expected));
    openAtStart(missing);
    QVERIFY(testsupport::pump([&] { return !boxes.boxes.isEmpty(); }, 5000));
    QCOMPARE(boxes.boxes[0].title, QStringLiteral("Ошибка"));
    QCOMPARE(boxes.boxes[0].text, expected.what);
    QCOMPARE(boxes.boxes[0].informative, expected.reason);
    QCOMPARE(Quorlan->Edit1->text(), saved);
  }

  void closingTheMainWindowEndsTheLoop() {
    Quorlan->show();
    Form6->show();
    bool closedByUs = false;
    QTimer::singleShot(400, [&] {
      closedByUs = true;
      Quorlan->close();
    });
    QTimer::singleShot(5000, [] { qApp->exit(99); });  // guard against a loop that never ends
    const int rc = qApp->exec();
    QVERIFY2(closedByUs && rc == 0, "event loop ran until the main window closed, with the state window open");
  }

  // At start-up the pages no tab shows are built after the first paint; whatever reads the
  // editor before that gets them built first, with the same start values.
  void hiddenPagesFollowTheFirstPaint() {
    TLink link;
    link.setPortLister([] { return QList<TPortEntry>(); });
    const auto image = [](TQuorlan &w) {
      ConfigImageBytes bytes{};
      return encodeImage(TQuorlanProbe(w).value(), bytes, nullptr) ? ConfigImageBytes{} : bytes;
    };
    TQuorlan whole(link);
    TQuorlan early(link, nullptr, true);
    QVERIFY(!early.Trees && !early.findChild<TSpinEdit *>(QStringLiteral("SpinEdit12")));
    QCOMPARE(image(early), image(whole));
    QVERIFY(early.Trees && early.findChild<TSpinEdit *>(QStringLiteral("SpinEdit12")));
    TQuorlan shown(link, nullptr, true);
    shown.show();
    QVERIFY(QTest::qWaitForWindowExposed(&shown));
    QVERIFY(testsupport::pump([&] { return shown.Trees != nullptr; }, 5000));
    QCOMPARE(shown.Edit(21)->text(), whole.Edit(21)->text());
  }

  void cleanupTestCase() { testsupport::stopWindows(); }
};

QTEST_MAIN(TstStartup)
#include "tst_startup.moc"
