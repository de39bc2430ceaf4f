// The main window on the in-process controller: what the operator sees at each end of an
// exchange — the progress window, the window's own state, and the messages.
#include <QtTest>

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidgetItem>

#include "FakeController.h"
#include "widgets/Unit5.h"
#include "widgets/MessageBoxes.h"
#include "editor/TreePanel.h"
#include "editor/Unit1.h"
#include "state/Unit6.h"
#include "testsupport.h"
#ifdef QUORLAN_WITH_JOURNAL
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>

#include "editor/EditorFiles.h"
#include "editor/JournalWindow.h"
#include "journal/Journal.h"
#endif

using testsupport::ModalWatcher;

namespace {

korvel::Options faults(std::initializer_list<const char *> names) {
  korvel::Options o;
  for (const char *s : names) o.faults.push_back(*korvel::parseFault(s));
  return o;
}

// A main window on the fake controller, connected.
struct Window {
  explicit Window(korvel::Options options = {}, korvel::Image image = sim::defaultImage())
      : rig(std::move(options), image) {
    w = new TQuorlan(rig.link);
    Progress = new TProgress;
    w->setProgress(Progress);
    Quorlan = w;
    w->show();
    for (int i = 0; i < 300 && rig.link.mode() != LinkMode::PC; ++i) rig.advance(10);
  }
  ~Window() {
    delete w;
    Quorlan = nullptr;
    delete Progress;
    Progress = nullptr;
  }
  bool settled() const { return w->isEnabled() && !Progress->isVisible(); }

  FakeRig rig;
  TQuorlan *w;
};

}  // namespace

class TstWindowLink : public QObject {
  Q_OBJECT

private slots:
  void initTestCase() { testsupport::isolateRuntimeDir(); }

  void connectsAndWritesWithProgress() {
    Window win;
    QCOMPARE(win.w->Label39->text(), QStringLiteral("Соединение установленно"));
    QVERIFY(win.w->N5->menuAction()->isEnabled());
    win.rig.takeWritten();
    QList<std::pair<QString, int>> seen;
    QObject::connect(&win.rig.link, &TLink::transferProgress, [&](int) {
      if (seen.isEmpty() || seen.last().second != Progress->position())
        seen.append({Progress->text(), Progress->position()});
    });
    win.w->N6->trigger();
    QVERIFY(!win.w->isEnabled());
    QVERIFY(Progress->isVisible());
    win.rig.advance(20000);
    QVERIFY(win.settled());
    QCOMPARE(win.rig.io->core.lastReceived(), win.w->OutgoingImage);
    QCOMPARE(seen.first(), (std::pair{QStringLiteral("Сохранение"), 0}));
    QCOMPARE(seen.last().second, 100);
    QCOMPARE(seen.size(), 101);   // the bar moved a step at a time, never back
  }

  void refusedThresholdSendsNothing() {
    Window win;
    ModalWatcher boxes;
    win.w->Trees->node(2, 2)->setText(0, QStringLiteral("Порог 1,2,3"));
    win.rig.takeWritten();
    win.w->N6->trigger();
    QTRY_COMPARE(boxes.boxes.size(), 1);
    QVERIFY(boxes.boxes[0].text.contains(QStringLiteral("АЦП 1")));
    QVERIFY(win.rig.takeWritten().isEmpty());
    QCOMPARE(win.rig.link.mode(), LinkMode::PC);
    QVERIFY(win.settled());
  }

  void everyFailureGivesTheWindowBack() {
    struct Case {
      const char *fault;
      bool read;
      std::int64_t runMs;
      QString message;
    };
    const Case cases[] = {
        {"no-echo:SAVE", false, 5000, QStringLiteral("Контроллер не ответил")},
        {"stop-after:10:LOAD", true, 3100, QStringLiteral("Ошибка передачи")},
        {"no-save-reply", false, 3100, QStringLiteral("Ошибка сохранения")},
        {"err2", false, 100, QStringLiteral("Ошибка CRC")},
        {"reply:SAVE:ERR2", false, 100, QStringLiteral("Ошибка CRC")},
        {"vanish:SAVE:1000", false, 100, QStringLiteral("Связь с портом потеряна")},
        {"vanish:LOAD:1000", true, 100, QStringLiteral("Связь с портом потеряна")},
    };
    for (const Case &c : cases) {
      Window win(faults({c.fault}));
      ModalWatcher boxes;
      (c.read ? win.w->N7 : win.w->N6)->trigger();
      QVERIFY(!win.w->isEnabled());
      win.rig.advance(c.runMs);
      QTRY_COMPARE(boxes.boxes.size(), 1);
      QVERIFY2(boxes.boxes[0].text == c.message, c.fault);
      QVERIFY2(win.settled(), c.fault);
    }
    {
      // A refused byte gives the window back at once; the message follows 3 s later.
      Window win(faults({"refuse-byte:100"}));
      ModalWatcher boxes;
      win.w->N6->trigger();
      win.rig.advance(100);
      QVERIFY(win.settled());
      QCoreApplication::processEvents();
      QCOMPARE(boxes.boxes.size(), 0);
      win.rig.advance(3000);
      QTRY_COMPARE(boxes.boxes.size(), 1);
      QCOMPARE(boxes.boxes[0].text, QStringLiteral("Ошибка передачи"));
    }
  }

  void windowDisabledUntilTheWriteIsConfirmed() {
    // The bar is full and closes; the window waits for the controller's verdict.
    Window win(faults({"no-save-reply"}));
    ModalWatcher boxes;
    QSignalSpy sent(&win.rig.link, &TLink::writeBytesSent);
    win.w->N6->trigger();
    for (int i = 0; i < 20000 && sent.isEmpty(); ++i) win.rig.advance(1);
    QVERIFY(!Progress->isVisible());
    QVERIFY(!win.w->isEnabled());
    win.rig.probe.ApdDataPacket1StringPacket("SAVE_OK\r\n");
    QVERIFY(win.settled());
    win.rig.advance(5000);
    QCoreApplication::processEvents();
    QCOMPARE(boxes.boxes.size(), 0);
  }

  // A message box shown while the controller's data is held (the date report, a read that
  // fails its checksum): automatic polling sends nothing until it closes, then goes on.
  void pollingWaitsWhileABoxHoldsData_data() {
    QTest::addColumn<bool>("read");
    QTest::addColumn<QString>("message");
    QTest::newRow("date report") << false << QString();
    QTest::newRow("bad checksum") << true << QStringLiteral("Ошибка целостности данных");
  }
  void pollingWaitsWhileABoxHoldsData() {
    QFETCH(bool, read);
    QFETCH(QString, message);
    korvel::Image image = sim::defaultImage();
    image[100] ^= 0x5A;   // the checksum no longer matches
    Window win({}, image);
    TForm6 form(&win.rig.link);
    QSignalSpy lines(&win.rig.link, &TLink::statusLine);
    form.BitBtn1->click();
    win.rig.advance(2500);
    QVERIFY(lines.size() >= 19);
    QStringList texts;
    QByteArray duringBox;
    // In the box's own event loop: eight seconds of the controller's time pass, then OK.
    QTimer boxDriver;
    std::int64_t openedAt = -1;
    QObject::connect(&boxDriver, &QTimer::timeout, [&] {
      auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
      if (!box) return;
      if (box->text() != texts.value(0, box->text())) {   // anything on top of it: noted, closed
        texts << box->text();
        box->done(QMessageBox::Ok);
        return;
      }
      if (openedAt < 0) {
        openedAt = win.rig.clock.nowMs();
        texts << box->text();
        win.rig.takeWritten();
      }
      win.rig.advance(100);
      if (win.rig.clock.nowMs() - openedAt >= 8000) {
        duringBox = win.rig.takeWritten();
        openedAt = -1;
        box->done(QMessageBox::Ok);
      }
    });
    boxDriver.start(2);
    (read ? win.w->N7 : win.w->N8)->trigger();
    for (int i = 0; i < 400 && texts.isEmpty(); ++i) win.rig.advance(50);
    QTRY_VERIFY(!QApplication::activeModalWidget());
    QCOMPARE(texts.value(1), QString());
    QCOMPARE(texts.size(), 1);
    if (!message.isEmpty()) QCOMPARE(texts[0], message);
    QVERIFY2(!duringBox.contains("STATUS"), duringBox.constData());
    lines.clear();
    win.rig.takeWritten();
    win.rig.advance(3000);
    QVERIFY(win.rig.takeWritten().contains("STATUS\r\n"));
    QCoreApplication::processEvents();
    QCOMPARE(texts.size(), 1);   // no "Контроллер не ответил" on top
    QVERIFY(lines.size() >= 19);
    QCOMPARE(lines[0][0].toInt(), 1);
    for (const QList<QVariant> &l : lines) QVERIFY(l.at(1).toString() != QStringLiteral("LOAD_OK"));
    form.BitBtn2->click();
  }

  void markupInADetailStaysText() {
    Window win;
    QString format;
    QTimer::singleShot(0, [&] {
      auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
      if (!box) return;
      if (auto *l = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        format = l->textFormat() == Qt::PlainText ? QStringLiteral("plain") : QStringLiteral("rich");
      box->done(0);
    });
    errorBox(win.w, QStringLiteral("Ошибка"), QStringLiteral("<b>/tmp/x<br>y</b>"));
    QCOMPARE(format, QStringLiteral("plain"));
  }

  void controllerTextsArePlain() {
    Window win(faults({"reply:TM:<b>x</b>", "reply:ID:<i>1</i>"}));
    win.w->Button1Click();
    win.rig.advance(100);
    win.w->Button3Click();
    win.rig.advance(100);
    QCOMPARE(win.w->Edit12->text(), QStringLiteral("<b>x</b>"));
    QCOMPARE(win.w->Edit(13)->text(), QStringLiteral("<i>1</i>"));
    QCOMPARE(win.w->Label41->textFormat(), Qt::PlainText);
    QCOMPARE(win.w->Label40->textFormat(), Qt::PlainText);
  }

#ifdef QUORLAN_WITH_JOURNAL
  // The window's writes and reads go into the journal, failed ones too; its journal window lists
  // them and opens an entry's image in the editor.
  void exchangesAreJournaled() {
    QTemporaryDir dir;
    const QByteArray given = qgetenv("QUORLAN_JOURNAL");
    const QString path = dir.filePath(QStringLiteral("journal.sqlite"));
    qputenv("QUORLAN_JOURNAL", QFile::encodeName(path));
    {
      Window win;
      const QString file = dir.filePath(QStringLiteral("unit.cfg"));
      QVERIFY(TEditorFiles(win.w, Progress).save(file));
      win.w->N6->trigger();
      win.rig.advance(20000);
      QVERIFY(win.settled());
      const ConfigImageBytes written = win.w->OutgoingImage;
      win.w->N7->trigger();
      win.rig.advance(20000);
      QVERIFY(win.settled());
      QCOMPARE(win.w->StatusBar1->currentMessage(), QString());

      journal::Journal j;
      QVERIFY(j.open(path));
      const QList<journal::Entry> entries = j.list();
      QCOMPARE(entries.size(), 2);
      const auto read = j.entry(entries[0].id), write = j.entry(entries[1].id);
      QCOMPARE(write->operation, QStringLiteral("write"));
      QCOMPARE(write->outcome, QStringLiteral("записано"));
      QCOMPARE(write->file, file);   // the image written is the file's
      QVERIFY(write->ok && !write->version.isEmpty() && !write->port.isEmpty());
      QCOMPARE(write->image, QByteArray(reinterpret_cast<const char *>(written.data()), int(written.size())));
      QCOMPARE(read->operation, QStringLiteral("read"));
      QVERIFY(read->ok);
      QCOMPARE(read->image, write->image);

      win.w->mmJournal->trigger();
      auto *journalWindow = win.w->findChild<TJournalWindow *>();
      QVERIFY(journalWindow);
      auto *table = journalWindow->findChild<QTableWidget *>(QStringLiteral("JournalTable"));
      QCOMPARE(table->rowCount(), 2);
      QCOMPARE(table->item(1, 3)->text(), QStringLiteral("запись"));
      win.w->IncomingImage = {};
      table->selectRow(1);
      journalWindow->findChild<QPushButton *>(QStringLiteral("JournalOpen"))->click();
      QCOMPARE(win.w->IncomingImage, written);
      journalWindow->close();
    }
    {
      Window win(faults({"err2"}));
      ModalWatcher boxes;
      win.w->N6->trigger();
      win.rig.advance(100);
      QTRY_COMPARE(boxes.boxes.size(), 1);
      journal::Journal j;
      QVERIFY(j.open(path));
      QTRY_COMPARE(j.list().size(), 3);   // recorded once the box is closed
      const QList<journal::Entry> entries = j.list();
      QVERIFY(!entries[0].ok);
      QCOMPARE(entries[0].outcome, QStringLiteral("Ошибка CRC"));
    }
    qputenv("QUORLAN_JOURNAL", QFile::encodeName(dir.filePath(QStringLiteral("journal.sqlite/inside"))));
    {
      // A journal that cannot be opened: one line on the status line, the exchanges as ever.
      Window win;
      for (int round = 0; round < 2; ++round) {
        win.w->N6->trigger();
        win.rig.advance(20000);
        QVERIFY(win.settled());
        QCOMPARE(win.rig.io->core.lastReceived(), win.w->OutgoingImage);
        const QString said = win.w->StatusBar1->currentMessage();
        if (round == 0) QVERIFY2(said.startsWith(QStringLiteral("Журнал обменов недоступен")), qPrintable(said));
        else QCOMPARE(said, QString());   // once a session
        win.w->StatusBar1->clearMessage();
      }
    }
    qputenv("QUORLAN_JOURNAL", given);
  }
#endif
};

QTEST_MAIN(TstWindowLink)
#include "tst_window_link.moc"
