// The state and control window against the real link on the in-process controller, in virtual
// time: what each command writes, what each reply shows, and the buttons in between.
#include <QtTest>

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

#include "FakeController.h"
#include "widgets/EditorWidgets.h"
#include "link/StateReplies.h"
#include "state/Unit6.h"
#include "testsupport.h"

namespace {

using korvel::Fault;
using korvel::FaultSwitch;

korvel::Options withFaults(std::vector<FaultSwitch> faults) {
  korvel::Options o;
  o.faults = std::move(faults);
  return o;
}

// A connected controller and the window on its link.
struct Bench {
  explicit Bench(std::vector<FaultSwitch> faults = {}) : rig(withFaults(std::move(faults))), form(&rig.link) {}
  bool connect() {
    const bool ok = rig.connect();
    rig.takeWritten();
    return ok;
  }
  QStringList memo() const { return form.Memo1->toPlainText().split(QLatin1Char('\n')); }
  // Everything the window shows: fields, boxes, button captions and states, the log.
  QStringList shown() const {
    QStringList s;
    for (int n : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 19, 20}) s << form.Edit(n)->text();
    for (int n = 1; n <= 18; ++n) s << (form.CheckBox(n)->isChecked() ? QStringLiteral("on") : QStringLiteral("off"));
    for (const QPushButton *p : {form.Button1, form.Button2, form.Button3, form.Button5, form.BitBtn1, form.BitBtn2})
      s << p->text() + (p->isEnabled() ? QStringLiteral(" +") : QStringLiteral(" -"));
    const std::array<int, 4> radios = settings();
    for (int i : radios) s << QString::number(i);
    return s + memo();
  }
  std::array<int, 4> settings() const {
    return {form.RadioGroup1->itemIndex(), form.RadioGroup2->itemIndex(), form.RadioGroup3->itemIndex(),
            form.RadioGroup4->itemIndex()};
  }
  // The buttons as the operator sees them: Обновить, Автообновление, Остановить, Управление.
  QString buttons() const {
    QString s;
    for (const QWidget *w : std::initializer_list<const QWidget *>{form.Button3, form.BitBtn1, form.BitBtn2, form.GroupBox5})
      s += w->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
    return s;
  }

  FakeRig rig;
  TForm6 form;
};

const QStringList kEmptyLog = {QStringLiteral("ЗАПРОС: "), {}, {}, QStringLiteral("ОТВЕТ: ")};

}  // namespace

class TestStateWindow : public QObject {
  Q_OBJECT
private slots:
  void openingResetsFields();
  void statusReply_data();
  void statusReply();
  void shortStatusReplyTimesOut();
  void automaticPolling();
  void timeoutWhilePolling();
  void mainWindowCommandWhilePolling();
  void relays();
  void rs485Send();
  void rs485LineAfterReply_data();
  void rs485LineAfterReply();
  void rs485Settings_data();
  void rs485Settings();
  void rs485Setup();
  void transferPausesPolling_data();
  void transferPausesPolling();
  void failedLinkFreesButtons();
};

void TestStateWindow::openingResetsFields() {
  Bench b;
  TForm6 &f = b.form;
  QVERIFY(!f.isVisible());
  QCOMPARE(b.buttons(), QStringLiteral("1101"));
  QCOMPARE(b.settings(), (std::array<int, 4>{3, 3, 0, 0}));
  QVERIFY(!f.CheckBox(18)->isChecked());
  QVERIFY(b.connect());

  // Everything the opening touches, and what it must leave alone, away from its start.
  f.Button3->click();
  b.rig.advance(1000);
  f.CheckBox(9)->click();
  f.Edit(17)->setText(QStringLiteral("0A1B"));
  f.Button1->click();
  b.rig.advance(1000);
  f.RadioGroup1->setItemIndex(5);
  QVERIFY(f.CheckBox(1)->isChecked());   // the simulator's first poll: input 1 on
  QVERIFY(b.memo().at(0) != kEmptyLog.at(0));
  const QString date = f.Edit(19)->text(), time = f.Edit(20)->text();
  QVERIFY(!date.isEmpty() && !time.isEmpty());
  b.rig.takeWritten();

  f.N9Click();
  QVERIFY(f.isVisible());
  QCOMPARE(b.memo(), kEmptyLog);
  for (int n = 1; n <= 8; ++n) {
    QVERIFY(!f.CheckBox(n)->isChecked());
    QCOMPARE(f.Edit(n)->text(), QStringLiteral("0,0"));
    QCOMPARE(f.Edit(n + 8)->text(), QStringLiteral("N/A"));
  }
  QVERIFY(f.Edit(17)->text().isEmpty());
  QVERIFY(f.CheckBox(9)->isChecked());
  QCOMPARE(f.Edit(19)->text(), date);
  QCOMPARE(f.Edit(20)->text(), time);
  QCOMPARE(f.RadioGroup1->itemIndex(), 5);
  b.rig.advance(3000);
  QCOMPARE(b.rig.takeWritten(), QByteArray());
}

void TestStateWindow::statusReply_data() {
  QTest::addColumn<QString>("reply");   // replaces the simulator's lines from the first on
  QTest::addColumn<QString>("inputs");  // CheckBox1..8 expected
  QTest::newRow("first character is input 8") << "10000000" << "00000001";
  QTest::newRow("last character is input 1") << "00000001" << "10000000";
  QTest::newRow("short line") << "1" << "00000001";
  QTest::newRow("only 1 counts") << "2x1 1\t11" << "11010100";
  QStringList odd = {"01010101", "<b>4,25</b>", " 6,5 ", "-0,1", "&7", "1e3", "", "9,9", "10,0", "N/A"};
  for (int n = 11; n <= 17; ++n) odd << QStringLiteral("%1,%1").arg(n);
  odd << "31.12.99" << "23:59:59";
  QTest::newRow("every line as sent") << odd.join(QLatin1Char('\n')) << "10101010";
}

void TestStateWindow::statusReply() {
  QFETCH(QString, reply);
  QFETCH(QString, inputs);
  Bench b({{Fault::Reply, -1, 0, reply.toStdString(), "STATUS"}});
  QVERIFY(b.connect());
  QSignalSpy lines(&b.rig.link, &TLink::statusLine);
  TForm6 &f = b.form;

  f.Button3->click();
  QCOMPARE(b.rig.takeWritten(), QByteArray("STATUS\r\n"));
  QCOMPARE(b.buttons(), QStringLiteral("0101"));
  b.rig.advance(0);
  QCOMPARE(lines.size(), kStatusLines);

  QString shown;
  for (int n = 1; n <= 8; ++n) shown += f.CheckBox(n)->isChecked() ? QLatin1Char('1') : QLatin1Char('0');
  QCOMPARE(shown, inputs);
  const int fields[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 19, 20};
  for (int i = 0; i < 18; ++i)
    QCOMPARE(f.Edit(fields[i])->text(), lines.at(i + 1).at(1).toString());

  // "OK" for the second after the reply, then the caption and the button back; a single
  // request sends nothing more.
  QCOMPARE(f.Button3->text(), QStringLiteral("OK"));
  b.rig.advance(999);
  QCOMPARE(f.Button3->text(), QStringLiteral("OK"));
  QVERIFY(!f.Button3->isEnabled());
  b.rig.advance(1);
  QCOMPARE(f.Button3->text(), QStringLiteral("Обновить"));
  QCOMPARE(b.buttons(), QStringLiteral("1101"));
  b.rig.advance(10000);
  QCOMPARE(b.rig.takeWritten(), QByteArray());
}

void TestStateWindow::shortStatusReplyTimesOut() {
  Bench b({{Fault::CutReply, 5, 0, {}, "STATUS"}});
  QVERIFY(b.connect());
  TForm6 &f = b.form;
  f.N9Click();
  f.Button3->click();
  b.rig.advance(6999);
  QVERIFY(f.Edit(4)->text() != QStringLiteral("0,0"));   // lines 2..5 shown
  QCOMPARE(f.Edit(5)->text(), QStringLiteral("0,0"));
  QVERIFY(!f.Button3->isEnabled());

  testsupport::ModalWatcher boxes;
  b.rig.advance(1);
  QCOMPARE(boxes.boxes.size(), 1);
  QCOMPARE(boxes.boxes[0].title, QStringLiteral("Ошибка"));
  QCOMPARE(boxes.boxes[0].text, QStringLiteral("Контроллер не ответил"));
  QCOMPARE(boxes.boxes[0].icon, QMessageBox::Critical);
  QCOMPARE(b.buttons(), QStringLiteral("1101"));
  QCOMPARE(f.Button3->text(), QStringLiteral("Обновить"));
}

void TestStateWindow::automaticPolling() {
  Bench b({{Fault::LateReply, -1, 500, {}, "STATUS"}});
  QVERIFY(b.connect());
  TForm6 &f = b.form;
  f.N9Click();
  QSignalSpy complete(&b.rig.link, &TLink::statusComplete);

  f.BitBtn1->click();
  QCOMPARE(b.rig.takeWritten(), QByteArray("STATUS\r\n"));
  QCOMPARE(b.buttons(), QStringLiteral("0010"));
  b.rig.advance(499);
  QCOMPARE(complete.size(), 0);
  b.rig.advance(1);
  QCOMPARE(complete.size(), 1);
  QCOMPARE(f.Button3->text(), QStringLiteral("OK"));
  // The next request exactly a second after the last line.
  b.rig.advance(999);
  QCOMPARE(b.rig.takeWritten(), QByteArray());
  b.rig.advance(1);
  QCOMPARE(b.rig.takeWritten(), QByteArray("STATUS\r\n"));
  QCOMPARE(f.Button3->text(), QStringLiteral("Обновить"));
  QCOMPARE(b.buttons(), QStringLiteral("0010"));

  // The picture of the window in the documentation.
  if (const QString shot = qEnvironmentVariable("STATE_WINDOW_SHOT"); !shot.isEmpty()) QVERIFY(f.grab().save(shot));

  // Stopped while a reply is on its way: it still fills the window, nothing follows.
  f.CheckBox(2)->setChecked(false);
  f.BitBtn2->click();
  QCOMPARE(b.buttons(), QStringLiteral("1101"));
  b.rig.advance(500);
  QCOMPARE(complete.size(), 2);
  QVERIFY(f.CheckBox(2)->isChecked());   // the simulator's second poll: input 2 on
  b.rig.advance(10000);
  QCOMPARE(b.rig.takeWritten(), QByteArray());
  QCOMPARE(f.Button3->text(), QStringLiteral("Обновить"));
  QCOMPARE(b.buttons(), QStringLiteral("1101"));
}

void TestStateWindow::mainWindowCommandWhilePolling() {
  // The key asked for during a poll's second of "OK": the poll is dropped, the caption comes
  // back, and polling goes on once the key has come.
  Bench b;
  QVERIFY(b.connect());
  TForm6 &f = b.form;
  f.BitBtn1->click();
  b.rig.advance(10);
  QCOMPARE(f.Button3->text(), QStringLiteral("OK"));
  b.rig.takeWritten();
  b.rig.link.readMasterKey();
  QCOMPARE(f.Button3->text(), QStringLiteral("Обновить"));
  b.rig.advance(1100);
  QCOMPARE(b.rig.takeWritten(), QByteArray("TM\r\nSTATUS\r\n"));
  QCOMPARE(b.buttons(), QStringLiteral("0010"));
}

void TestStateWindow::timeoutWhilePolling() {
  Bench b({{Fault::Silent, -1, 0, {}, "STATUS"}});
  QVERIFY(b.connect());
  TForm6 &f = b.form;
  f.BitBtn1->click();
  b.rig.advance(6999);
  testsupport::ModalWatcher boxes;
  QCOMPARE(boxes.boxes.size(), 0);
  b.rig.advance(1);
  QCOMPARE(boxes.boxes.size(), 1);
  QCOMPARE(boxes.boxes[0].text, QStringLiteral("Контроллер не ответил"));
  // Polling stays on but waits: only a manual request can bring the cycle back.
  QCOMPARE(b.buttons(), QStringLiteral("1010"));
  b.rig.takeWritten();
  b.rig.advance(20000);
  QCOMPARE(b.rig.takeWritten(), QByteArray());

  f.Button3->click();
  QCOMPARE(b.rig.takeWritten(), QByteArray("STATUS\r\n"));
  for (int n = 1; n <= kStatusLines; ++n) b.rig.probe.ApdDataPacket1StringPacket(QByteArray::number(n) + "\r\n");
  QCOMPARE(f.Edit(20)->text(), QStringLiteral("19"));
  b.rig.advance(1000);
  QCOMPARE(b.rig.takeWritten(), QByteArray("STATUS\r\n"));
  QCOMPARE(b.buttons(), QStringLiteral("0010"));
}

void TestStateWindow::relays() {
  Bench b;
  QVERIFY(b.connect());
  TForm6 &f = b.form;
  f.CheckBox(11)->click();
  QCOMPARE(b.rig.takeWritten(), QByteArray("RELE\r\n001000000\r\n"));
  b.rig.advance(100);
  QCOMPARE(b.rig.io->core.relays(), std::string("001000000"));
  f.CheckBox(11)->click();
  QCOMPARE(b.rig.takeWritten(), QByteArray("RELE\r\n000000000\r\n"));

  // The modem relay is the ninth digit; every click sends all boxes as they now are, a box set
  // by the program included, while setting it sends nothing.
  f.CheckBox(9)->click();
  f.CheckBox(16)->click();
  f.CheckBox(17)->click();
  QCOMPARE(b.rig.takeWritten(),
           QByteArray("RELE\r\n100000000\r\nRELE\r\n100000010\r\nRELE\r\n100000011\r\n"));
  f.CheckBox(10)->setChecked(true);
  QCOMPARE(b.rig.takeWritten(), QByteArray());
  f.CheckBox(17)->click();
  QCOMPARE(b.rig.takeWritten(), QByteArray("RELE\r\n110000010\r\n"));
  b.rig.advance(100);
  QCOMPARE(b.rig.io->core.relays(), std::string("110000010"));
}

void TestStateWindow::rs485Send() {
  Bench b({{Fault::Reply, -1, 0, "01 02\n03 04", "SEND RS-485"}});
  QVERIFY(b.connect());
  TForm6 &f = b.form;
  f.Edit(17)->setText(QStringLiteral("0A1B"));
  f.Button1->click();
  QCOMPARE(b.rig.takeWritten(), QByteArray("SEND RS-485\r\n0A1B0"));
  QVERIFY(!f.Button1->isEnabled());
  b.rig.advance(100);   // the payload has no line end: the controller waits a moment for more
  QCOMPARE(b.memo(), (QStringList{"ЗАПРОС: 01 02", "", "", "ОТВЕТ: 03 04"}));
  QCOMPARE(f.Button1->text(), QStringLiteral("OK"));
  b.rig.advance(1000);
  QCOMPARE(f.Button1->text(), QStringLiteral("Отправить команду"));
  QVERIFY(f.Button1->isEnabled());

  f.CheckBox(18)->click();
  f.Button1->click();
  QCOMPARE(b.rig.takeWritten(), QByteArray("SEND RS-485\r\n0A1B1"));
  QCOMPARE(b.memo(), kEmptyLog);   // the last exchange's log goes with the new command
  b.rig.advance(2000);

  // Refused before anything is sent.
  for (const QString &bad : {QStringLiteral("0a1b"), QStringLiteral("0A1"), QString()}) {
    f.Edit(17)->setText(bad);
    testsupport::ModalWatcher boxes;
    f.Button1->click();
    QTRY_COMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].title, QStringLiteral("Ошибка"));
    QCOMPARE(boxes.boxes[0].text, rs485CommandMessage(checkRs485Command(bad)));
    QVERIFY(!boxes.boxes[0].text.isEmpty());
    QVERIFY(f.Button1->isEnabled());
  }
  QCOMPARE(b.rig.takeWritten(), QByteArray());

  // Typing stops at 60 characters, all of which go out with the flag.
  f.Edit(17)->clear();
  f.CheckBox(18)->click();
  QTest::keyClicks(f.Edit(17), QString(31, QLatin1Char('A')) + QString(31, QLatin1Char('5')));
  QCOMPARE(f.Edit(17)->text().size(), 60);
  f.Button1->click();
  QCOMPARE(b.rig.takeWritten(),
           "SEND RS-485\r\n" + QByteArray(31, 'A') + QByteArray(29, '5') + "0");
}

void TestStateWindow::rs485LineAfterReply_data() {
  QTest::addColumn<int>("gapMs");   // between the reply's lines, and so before the third one
  QTest::newRow("third line at once") << 0;
  QTest::newRow("third line at the end of the second") << 999;
}

void TestStateWindow::rs485LineAfterReply() {
  QFETCH(int, gapMs);
  // The reply has two lines; a third one after them finds the link idle and changes nothing,
  // not even how long "OK" stays.
  Bench b({{Fault::Reply, -1, 0, "01 02\n03 04\n05 06", "SEND RS-485"},
           {Fault::SlowLines, -1, double(gapMs), {}, "SEND RS-485"}});
  QVERIFY(b.connect());
  TForm6 &f = b.form;
  QStringList atSecond;
  std::int64_t secondAt = -1;
  // Connected after the window: its own handler has run when this one takes the picture.
  QObject::connect(&b.rig.link, &TLink::rs485Line, &f, [&](int n, const QString &) {
    if (n == 2 && secondAt < 0) {
      atSecond = b.shown();
      secondAt = b.rig.clock.nowMs();
    }
  });
  QSignalSpy received(&b.rig.link, &TLink::lineShown);
  QSignalSpy replies(&b.rig.link, &TLink::rs485Line);
  f.Edit(17)->setText(QStringLiteral("0A1B"));
  f.Button1->click();
  for (int t = 0; t < 5000 && secondAt < 0; ++t) b.rig.advance(1);
  QVERIFY(secondAt >= 0);
  QCOMPARE(atSecond.mid(atSecond.size() - 4), (QStringList{"ЗАПРОС: 01 02", "", "", "ОТВЕТ: 03 04"}));
  b.rig.advance(secondAt + gapMs - b.rig.clock.nowMs());
  QCOMPARE(received.last().at(0).toString(), QStringLiteral("05 06\r\n"));
  QCOMPARE(replies.size(), 2);
  QCOMPARE(b.rig.link.mode(), LinkMode::PC);
  QCOMPARE(b.shown(), atSecond);
  QCOMPARE(f.Button1->text(), QStringLiteral("OK"));
  b.rig.advance(secondAt + 999 - b.rig.clock.nowMs());
  QCOMPARE(b.shown(), atSecond);
  b.rig.advance(1);
  QCOMPARE(f.Button1->text(), QStringLiteral("Отправить команду"));
  QVERIFY(f.Button1->isEnabled());
  QCOMPARE(b.memo(), (QStringList{"ЗАПРОС: 01 02", "", "", "ОТВЕТ: 03 04"}));
  QCOMPARE(b.rig.takeWritten(), QByteArray("SEND RS-485\r\n0A1B0"));
}

void TestStateWindow::rs485Settings_data() {
  QTest::addColumn<QString>("reply");
  QTest::addColumn<QList<int>>("selected");
  QTest::addColumn<bool>("understood");
  QTest::newRow("115200 7 even 2") << "9221" << QList<int>{9, 2, 2, 1} << true;
  QTest::newRow("beyond the last item") << "9999" << QList<int>{9, 3, 2, 1} << true;
  QTest::newRow("letter third") << "12x1" << QList<int>{1, 2, 0, 0} << false;
  QTest::newRow("markup") << "<b>" << QList<int>{3, 3, 0, 0} << false;
}

void TestStateWindow::rs485Settings() {
  QFETCH(QString, reply);
  QFETCH(QList<int>, selected);
  QFETCH(bool, understood);
  Bench b({{Fault::Reply, -1, 0, reply.toStdString(), "READ RS-485"}});
  QVERIFY(b.connect());
  TForm6 &f = b.form;
  testsupport::ModalWatcher boxes;
  f.Button5->click();
  QCOMPARE(b.rig.takeWritten(), QByteArray("READ RS-485\r\n"));
  QVERIFY(!f.Button5->isEnabled());
  b.rig.advance(0);
  const std::array<int, 4> got = b.settings();
  QCOMPARE(QList<int>(got.begin(), got.end()), selected);
  if (understood) {
    QCOMPARE(f.Button5->text(), QStringLiteral("OK"));
    b.rig.advance(1000);
    QCOMPARE(boxes.boxes.size(), 0);
  } else {
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].title, QStringLiteral("Ошибка"));
    QVERIFY(boxes.boxes[0].text.contains(QStringLiteral("«") + reply + QStringLiteral("»")));
  }
  QVERIFY(f.Button5->isEnabled());
  QCOMPARE(f.Button5->text(), QStringLiteral("Считать настройки"));
}

void TestStateWindow::rs485Setup() {
  Bench b({{Fault::Reply, -1, 0, "OK & <i>1</i>", "SETUP RS-485"}});
  QVERIFY(b.connect());
  TForm6 &f = b.form;
  f.Button2->click();
  QCOMPARE(b.rig.takeWritten(), QByteArray("SETUP RS-485\r\n3300"));
  QVERIFY(!f.Button2->isEnabled());
  b.rig.advance(0);
  QCOMPARE(f.Button2->text(), QStringLiteral("OK && <i>1</i>"));   // shown as "OK & <i>1</i>"
  b.rig.advance(1000);
  QCOMPARE(f.Button2->text(), QStringLiteral("Установить настройки"));
  QVERIFY(f.Button2->isEnabled());

  f.RadioGroup1->item(9)->click();
  f.RadioGroup2->item(2)->click();
  f.RadioGroup3->item(2)->click();
  f.RadioGroup4->item(1)->click();
  f.Button2->click();
  QCOMPARE(b.rig.takeWritten(), QByteArray("SETUP RS-485\r\n9221"));
  b.rig.advance(0);
  QCOMPARE(b.rig.io->core.rs485Settings(), std::string("9221"));
}

void TestStateWindow::transferPausesPolling_data() {
  QTest::addColumn<bool>("write");
  QTest::addColumn<int>("loadOkLateMs");   // "LOAD_OK" after the last image byte; -1: never
  QTest::newRow("write") << true << 0;
  QTest::newRow("read") << false << 0;
  QTest::newRow("read, LOAD_OK after the next tick") << false << 950;
  QTest::newRow("read, LOAD_OK never comes") << false << -1;
}

void TestStateWindow::transferPausesPolling() {
  QFETCH(bool, write);
  QFETCH(int, loadOkLateMs);
  // The echo comes late, so the transfer lasts a while in virtual time.
  std::vector<FaultSwitch> faults = {{Fault::EchoDelay, -1, 3000, {}, {}}};
  if (loadOkLateMs > 0) faults.push_back({Fault::SlowLines, -1, double(loadOkLateMs), {}, "LOAD"});
  if (loadOkLateMs < 0) faults.push_back({Fault::NoLoadOk, -1, 0, {}, "LOAD"});
  Bench b(faults);
  QVERIFY(b.connect());
  TForm6 &f = b.form;
  auto transfer = [&] {
    if (write)
      b.rig.link.startWrite(sim::defaultImage());
    else
      b.rig.link.startRead();
  };
  const QList<QWidget *> locked = {f.Button1, f.Button2, f.Button3, f.Button5, f.BitBtn1,
                                   f.CheckBox(9), f.CheckBox(13), f.CheckBox(17)};

  // Idle window: the commands are locked for the transfer and come back after it.
  transfer();
  for (QWidget *w : locked) QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
  f.CheckBox(9)->click();
  f.Button3->click();
  b.rig.advance(5000);
  QVERIFY(!b.rig.link.transferActive());
  const QByteArray sent = b.rig.takeWritten();
  QVERIFY(!sent.contains("RELE") && !sent.contains("STATUS"));
  for (QWidget *w : locked) QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));

  // Polling, in the second after a reply: paused for the transfer, then on again once the
  // link is idle. The re-arm tick falls on whole seconds of the rig's clock: the transfer
  // ends 900 ms before one.
  b.rig.advance(1100 - b.rig.clock.nowMs() % 1000);
  QSignalSpy lines(&b.rig.link, &TLink::statusLine);
  f.BitBtn1->click();
  b.rig.advance(0);
  QCOMPARE(f.Button3->text(), QStringLiteral("OK"));
  b.rig.takeWritten();
  transfer();
  QCOMPARE(f.Button3->text(), QStringLiteral("Обновить"));   // that second never ends
  QVERIFY(f.BitBtn2->isEnabled());   // the operator may still stop it
  b.rig.advance(2900);
  QVERIFY(b.rig.link.transferActive());
  const QByteArray during = b.rig.takeWritten();
  QVERIFY(!during.contains("STATUS") && !during.contains("RELE"));
  b.rig.advance(200);
  QVERIFY(!b.rig.link.transferActive());
  b.rig.advance(2000);
  QVERIFY(b.rig.takeWritten().contains("STATUS\r\n"));
  QCOMPARE(b.buttons(), QStringLiteral("0010"));
  QVERIFY(lines.size() >= 2 * kStatusLines && lines.size() % kStatusLines == 0);
  for (const QList<QVariant> &line : lines) QVERIFY(line.at(1).toString() != QStringLiteral("LOAD_OK"));
}

void TestStateWindow::failedLinkFreesButtons() {
  {
    // No port yet: the request fails at once and the button is not left waiting.
    Bench b;
    b.form.Button3->click();
    QCOMPARE(b.buttons(), QStringLiteral("1101"));
  }
  // The device goes away while a request waits for its reply, or in the second after one:
  // polling stops, and nothing is sent (nor fails) after the loss.
  for (const bool waiting : {true, false}) {
    Bench b(waiting ? std::vector<FaultSwitch>{{Fault::Silent, -1, 0, {}, "STATUS"}} : std::vector<FaultSwitch>{});
    QVERIFY(b.connect());
    QSignalSpy failed(&b.rig.link, &TLink::exchangeFailed);
    b.form.BitBtn1->click();
    b.rig.advance(waiting ? 100 : 500);
    QCOMPARE(b.rig.link.mode(), waiting ? LinkMode::STATUS : LinkMode::PC);
    b.rig.io->close();
    emit b.rig.io->failed(QStringLiteral("Устройство отключено"));
    b.rig.advance(100);
    QVERIFY(!b.rig.link.portOpen());
    QCOMPARE(b.buttons(), QStringLiteral("1101"));
    QCOMPARE(b.form.Button3->text(), QStringLiteral("Обновить"));
    b.rig.advance(20000);
    QCOMPARE(failed.size(), 0);
    QVERIFY(!b.rig.probe.watchdog().isActive());
  }
}

QTEST_MAIN(TestStateWindow)
#include "tst_state_window.moc"
