// Start-up state of the main window: every control's name, kind, limits and start-up value,
// the window's size and flags, the SMS centre check, the password placeholder and the menus;
// typed limits, the received-line box, the about box and Qt's own texts in Russian; every
// setting laid out where its words in the control table place it.
#include <QtTest>

#include <QCheckBox>
#include <QClipboard>
#include <QProgressBar>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QRegularExpression>
#include <QTextDocumentFragment>
#include <QWindow>
#include <cmath>
#include <memory>

#include "app/Startup.h"
#include "widgets/Unit5.h"
#include "widgets/EditorWidgets.h"
#include "editor/TreePanel.h"
#include "editor/Unit1.h"
#include "image/ControlTable.h"
#include "testsupport.h"

using testsupport::ModalWatcher;

namespace {

struct SpinExpect { int first, last, min, max, start; };
// Written out from the window's description, independently of the code's own table.
const SpinExpect kSpins[] = {
    {1, 1, 0, 255, 5},      {2, 2, 0, 255, 0},        {3, 10, 0, 255, 0},
    {11, 11, 0, 254, 0},    {12, 19, 0, 19, 0},       {20, 27, 0, 20, 20},
    {28, 34, -9999, 9998, 0}, {67, 67, -9999, 9998, 0}, {68, 75, -9999, 9998, 20},
    {35, 42, 0, 255, 0},    {43, 50, 0, 255, 0},      {51, 58, 0, 255, 0},
    {59, 66, 0, 255, 0},    {76, 83, 0, 255, 0},
};

struct EditExpect { int first, last, maxLength; const char *start; };
const EditExpect kEdits[] = {
    {1, 1, 8, "Объект 1"}, {2, 2, 8, "Пароль"}, {3, 11, 16, ""},
    {12, 12, 16, ""},      {13, 20, 16, ""},    {21, 28, 6, ""},
};

void typeText(QWidget *w, const QString &text) {
  for (const QChar ch : text)
    QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

// WCAG relative luminance and contrast ratio.
double luminance(QColor c) {
  auto lin = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
  return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
}
double contrast(QColor a, QColor b) {
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QStringList tabsAbove(const QWidget *w) {
  QStringList tabs;
  for (const QWidget *a = w; a; a = a->parentWidget()) {
    auto *stack = qobject_cast<QStackedWidget *>(a->parentWidget());
    auto *tabWidget = stack ? qobject_cast<QTabWidget *>(stack->parentWidget()) : nullptr;
    if (tabWidget) tabs.prepend(tabWidget->tabText(tabWidget->indexOf(const_cast<QWidget *>(a))));
  }
  return tabs;
}

QStringList groupsAbove(const QWidget *w) {
  QStringList groups;
  for (const QWidget *a = w->parentWidget(); a; a = a->parentWidget())
    if (auto *g = qobject_cast<const QGroupBox *>(a)) groups.prepend(g->title());
  return groups;
}

QLabel *buddyLabel(const QWidget *window, const QWidget *w) {
  for (QLabel *l : window->findChildren<QLabel *>())
    if (l->buddy() == w) return l;
  return nullptr;
}

// The grid cell around `w`: its layout and position.
struct Cell {
  QGridLayout *grid = nullptr;
  int row = -1, column = -1;
};
Cell cellOf(QWidget *w) {
  QList<QGridLayout *> grids = w->parentWidget()->findChildren<QGridLayout *>();
  if (auto *g = qobject_cast<QGridLayout *>(w->parentWidget()->layout())) grids << g;
  for (QGridLayout *g : grids) {
    const int i = g->indexOf(w);
    if (i < 0) continue;
    int r, c, rs, cs;
    g->getItemPosition(i, &r, &c, &rs, &cs);
    return {g, r, c};
  }
  return {};
}

QString textAt(QGridLayout *g, int row, int column) {
  for (int i = 0; i < g->count(); ++i) {
    int r, c, rs, cs;
    g->getItemPosition(i, &r, &c, &rs, &cs);
    if (r <= row && row < r + rs && c <= column && column < c + cs)
      if (auto *l = qobject_cast<QLabel *>(g->itemAt(i)->widget())) return l->text();
  }
  return {};
}

}  // namespace

class TestMainWindow : public QObject {
  Q_OBJECT
  TQuorlan *w = nullptr;

  template <class T> T *find(const QString &name) {
    auto *c = w->findChild<T *>(name);
    if (!c) qWarning("missing control %s", qPrintable(name));
    return c;
  }

private slots:
  void initTestCase() {
    QApplication::setApplicationName(QStringLiteral("Quorlan"));
    testsupport::startWindows();
    w = Quorlan;
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QTRY_VERIFY(!w->Timer1->isActive());  // the start-up run of the SMS centre check is over
  }
  void cleanupTestCase() { testsupport::stopWindows(); }
  void init() { testsupport::resetEditor(Quorlan); }

  void spinFieldsHaveTheirLimitsAndStartValues() {
    int count = 0;
    for (const auto &e : kSpins)
      for (int n = e.first; n <= e.last; ++n) {
        auto *s = find<QSpinBox>(QStringLiteral("SpinEdit%1").arg(n));
        QVERIFY2(s, qPrintable(QStringLiteral("SpinEdit%1").arg(n)));
        QCOMPARE(s->minimum(), e.min);
        QCOMPARE(s->maximum(), e.max);
        QCOMPARE(s->value(), e.start);
        ++count;
      }
    QCOMPARE(count, 83);
    QCOMPARE(w->findChildren<QSpinBox *>().size(), 83);
  }

  void onlyTheArchivePeriodTakesTyping() {
    for (auto *s : w->findChildren<TSpinEdit *>()) {
      auto *edit = s->findChild<QLineEdit *>();
      QVERIFY(edit);
      QCOMPARE(!edit->isReadOnly(), s->objectName() == QLatin1String("SpinEdit11"));
    }
    // Buttons still step a non-typing field, and it clamps at its ends.
    auto *high = find<QSpinBox>(QStringLiteral("SpinEdit20"));
    high->stepUp();
    QCOMPARE(high->value(), 20);
    auto *range = find<QSpinBox>(QStringLiteral("SpinEdit28"));
    range->setValue(-20000);
    QCOMPARE(range->value(), -9999);
    range->setValue(9999);
    QCOMPARE(range->value(), 9998);
    range->setValue(0);
    high->setFocus();
    QTest::keyClick(high, Qt::Key_Down);
    QCOMPARE(high->value(), 19);
    QTest::keyClick(high, Qt::Key_5);
    QCOMPARE(high->value(), 19);
    high->setValue(20);
    auto *archive = find<QSpinBox>(QStringLiteral("SpinEdit11"));
    archive->findChild<QLineEdit *>()->selectAll();
    QTest::keyClicks(archive, QStringLiteral("300"));
    archive->interpretText();
    QVERIFY(archive->value() <= 254);
    archive->setValue(0);
  }

  void textFieldsHaveTheirLimitsAndStartTexts() {
    for (const auto &e : kEdits)
      for (int n = e.first; n <= e.last; ++n) {
        auto *edit = find<QLineEdit>(QStringLiteral("Edit%1").arg(n));
        QVERIFY2(edit, qPrintable(QStringLiteral("Edit%1").arg(n)));
        QCOMPARE(typedLimit(edit), e.maxLength);
        QCOMPARE(edit->text(), QString::fromUtf8(e.start));
        QCOMPARE(edit->echoMode(), QLineEdit::Normal);
      }
  }

  void typedLimitsLimitTypingOnly() {
    // What the program puts in stays whole: the decoder gives a unit field 10 characters.
    QLineEdit *units = w->Edit(21);
    units->setText(QStringLiteral("кгс/см2 ab"));
    QCOMPARE(units->text(), QStringLiteral("кгс/см2 ab"));
    units->setFocus();
    units->end(false);
    QTest::keyClicks(units, QStringLiteral("x"));
    QCOMPARE(units->text(), QStringLiteral("кгс/см2 ab"));
    // Over the limit, typing only shortens it; undo brings back what was deleted.
    QTest::keyClick(units, Qt::Key_Backspace);
    QTest::keyClicks(units, QStringLiteral("y"));
    QCOMPARE(units->text(), QStringLiteral("кгс/см2 a"));
    while (units->isUndoAvailable()) units->undo();
    QCOMPARE(units->text(), QStringLiteral("кгс/см2 ab"));
    // An empty field takes 6 typed characters, and of a paste what fits.
    units->clear();
    QTest::keyClicks(units, QStringLiteral("12345678"));
    QCOMPARE(units->text(), QStringLiteral("123456"));
    units->clear();
    QApplication::clipboard()->setText(QStringLiteral("abcdefgh"));
    QTest::keyClick(units, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(units->text(), QStringLiteral("abcdef"));
    units->setCursorPosition(2);
    QTest::keyClick(units, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(units->text(), QStringLiteral("abcdef"));
    units->clear();

    // The port picker takes its longest listed name; a set text stays whole.
    QLineEdit *port = w->ComboBox1->lineEdit();
    const QString before = w->ComboBox1->currentText();
    w->ComboBox1->addItem(QStringLiteral("COM123"));
    QCOMPARE(typedLimit(port), 6);
    w->ComboBox1->removeItem(w->ComboBox1->count() - 1);
    int longest = 4;
    for (int i = 0; i < w->ComboBox1->count(); ++i)
      longest = std::max(longest, int(w->ComboBox1->itemText(i).size()));
    QCOMPARE(typedLimit(port), longest);
    w->ComboBox1->setEditText(QStringLiteral("COM12345"));
    QCOMPARE(w->ComboBox1->currentText(), QStringLiteral("COM12345"));
    w->ComboBox1->setEditText(before);
  }

  void checkBoxesRadioGroupsAndButtons() {
    for (int n = 1; n <= 24; ++n) {
      auto *c = find<QCheckBox>(QStringLiteral("CheckBox%1").arg(n));
      QVERIFY(c);
      QVERIFY(!c->isChecked());
    }
    QCOMPARE(find<QCheckBox>("CheckBox8")->text(), QString());
    QCOMPARE(find<QCheckBox>("CheckBox4")->text(), QString::fromUtf8(" 00:00 Часов"));
    QCOMPARE(find<QCheckBox>("CheckBox7")->text(), QString::fromUtf8(" 18:00 Часов"));
    QCOMPARE(find<QCheckBox>("CheckBox9")->text(), QStringLiteral(" 1"));
    QCOMPARE(find<QCheckBox>("CheckBox24")->text(), QStringLiteral(" 8"));
    for (const char *name : {"RadioGroup1", "RadioGroup2"}) {
      auto *g = find<TRadioGroup>(name);
      QVERIFY(g);
      QCOMPARE(g->itemIndex(), 0);
      QCOMPARE(g->item(0)->text(), QString::fromUtf8("Разрешена"));
      QCOMPARE(g->item(1)->text(), QString::fromUtf8("Запрещена"));
    }
    QVERIFY(!find<QPushButton>("Button3")->isEnabled());
    QCOMPARE(find<QPushButton>("Button3")->text(), QString::fromUtf8("Считать ID"));
    QCOMPARE(find<QPushButton>("Button1")->text(), QString::fromUtf8("Считать"));
  }

  void labelsNameTheirFields() {
    // Blanks and Cyrillic look-alike letters count.
    const QStringList expected = {
        "Название объекта (ID)", "Пароль доступа", "Количество попыток отправки сообщения",
        "Номер SMS центра", "Возможность передачи данных по каналу CSD",
        "Частота/период создания архивов (мин.)", "Абонент 1:", "Абонент 8:",
        "Основной абонент (Диспетчерский центр)", "СОМ-порт", "Вход 1    min", "Вход 8    min",
        "Реле 8", "Задержка постановки на охрану (Сек.)"};
    QStringList texts;
    for (auto *l : w->findChildren<QLabel *>()) texts << l->text();
    for (const QString &e : expected) QVERIFY2(texts.contains(e), qPrintable(e));
    for (auto *l : w->findChildren<QLabel *>())
      if (l->text() == QString::fromUtf8("Абонент 3:"))
        QCOMPARE(l->buddy()->objectName(), QStringLiteral("Edit5"));
    QCOMPARE(QString::fromUtf8("СОМ").toUtf8().size(), 6);  // Cyrillic, not Latin "COM"
    QStringList groups;
    for (auto *g : w->findChildren<QGroupBox *>()) groups << g->title();
    for (const char *g : {"Разрешенные  номера", "Структура статусного сообщения",
                          "Время отправки статуса", "Соединение с контроллером",
                          "Информация о контроллере", "Идентификаторы датчиков",
                          "Снимаемые с охраны входы", "контактные входы", "Мастер ключ",
                          "Длительность включения реле (1 ед.=1сек)"})
      QVERIFY2(groups.contains(QString::fromUtf8(g)), g);
    QCOMPARE(find<QLabel>("Label41")->text(), QString::fromUtf8("обмен"));
  }

  // The command line names a setting by its words in the control table: the window must lay
  // each control out under those tabs and frames, beside that label, in that analog column.
  void everySettingSitsWhereItsWordsSay() {
    using controls::Kind;
    for (const controls::Setting &s : controls::settings()) {
      const controls::Words &words = s.words;
      QWidget *c = nullptr;
      switch (s.kind) {
        case Kind::Spin: c = w->SpinEdit(s.number); break;
        case Kind::Text: c = w->Edit(s.number); break;
        case Kind::Check: c = w->CheckBox(s.number); break;
        case Kind::Radio: c = find<QGroupBox>(QStringLiteral("RadioGroup%1").arg(s.number)); break;
        case Kind::SmsCentre: c = w->ComboBox2; break;
        case Kind::Tree: c = w->Trees->tree(s.number); break;
      }
      const QString what = QStringLiteral("%1 %2").arg(int(s.kind)).arg(s.number);
      QVERIFY2(c, qPrintable(what));
      QCOMPARE(tabsAbove(c), words.tabs);
      if (s.kind == Kind::Tree) continue;
      QCOMPARE(groupsAbove(c), words.groups);
      QLabel *buddy = buddyLabel(w, c);
      if (s.kind == Kind::Radio) {
        QCOMPARE(static_cast<QGroupBox *>(c)->title(), words.label);
      } else if (s.kind == Kind::Check && !buddy) {
        QCOMPARE(static_cast<QCheckBox *>(c)->text(), words.label);
      } else if (words.label.isEmpty()) {
        QVERIFY2(!buddy, qPrintable(what + QStringLiteral(": the window labels it ") + (buddy ? buddy->text() : QString())));
      } else {
        QVERIFY2(buddy, qPrintable(what));
        // The first column's label also names the row ("Вход 1    min").
        const QString shown = buddy->text().simplified();
        QVERIFY2(shown == words.label || shown == words.row + QLatin1Char(' ') + words.label,
                 qPrintable(what + QStringLiteral(" / ") + buddy->text()));
      }
      if (!words.column.isEmpty()) {
        const Cell cell = cellOf(c);
        QVERIFY2(cell.grid, qPrintable(what));
        QCOMPARE(textAt(cell.grid, 0, cell.column), words.column);
        QVERIFY2(textAt(cell.grid, cell.row, 0).simplified().startsWith(words.row), qPrintable(what));
      }
    }
  }

  void receivedLinesNeverMoveTheEditor() {
    QLabel *line = w->Label41;
    QList<QWidget *> around{w->Edit1, w->phoneEdits[8], w->ComboBox1, w->Label39, w->Panel2, line};
    around << w->Label39->parentWidget();
    const auto geometries = [&] {
      QApplication::processEvents();   // the layout follows a change on its next pass
      QList<QRect> g;
      for (QWidget *x : around) g << QRect(x->mapTo(w, QPoint(0, 0)), x->size());
      return g;
    };
    const QList<QRect> before = geometries();
    const auto tooltip = [&] {
      QHelpEvent tip(QEvent::ToolTip, QPoint(2, 2), line->mapToGlobal(QPoint(2, 2)));
      QApplication::sendEvent(line, &tip);
      return line->toolTip();
    };
    const QString long80 = QString(16, u'Ж') + QString(64, u'x');
    for (const QString &shown : {QStringLiteral("ATI"), long80, QStringLiteral("a\nb\nc\nd\ne"),
                                 QStringLiteral("<b>x</b>")}) {
      const QString received = shown + QStringLiteral("\r\n");
      line->setText(received);
      QCOMPARE(line->text(), received);   // kept as received: the link code compares it
      QCOMPARE(geometries(), before);
      QCOMPARE(static_cast<TLineLabel *>(line)->shownText(), QString(shown).replace(u'\n', u' '));
      // The whole line as tooltip, never taken as markup.
      QVERIFY2(tooltip() == shown || tooltip().contains(shown.toHtmlEscaped()), qPrintable(tooltip()));
    }
    line->setText(QString::fromUtf8("обмен"));
  }

  void tabsInTheirOrder() {
    auto *p1 = find<QTabWidget>("PageControl1");
    QCOMPARE(p1->count(), 3);
    QCOMPARE(p1->tabText(0), QString::fromUtf8("Общие установки"));
    QCOMPARE(p1->tabText(1), QString::fromUtf8("Настройка датчиков"));
    QCOMPARE(p1->tabText(2), QString::fromUtf8("Режим охраны"));
    auto *p2 = find<QTabWidget>("PageControl2");
    QStringList t2;
    for (int i = 0; i < p2->count(); ++i) t2 << p2->tabText(i);
    QCOMPARE(t2, QStringList({QString::fromUtf8("Контактные"), QString::fromUtf8("Аналоговые (АЦП)"),
                              QString::fromUtf8("Параметрические (mLan)"), QString::fromUtf8("Задержки")}));
    auto *p3 = find<QTabWidget>("PageControl3");
    QCOMPARE(p3->tabText(0), QString::fromUtf8("Задержки по входам"));
    QCOMPARE(p3->tabText(1), QString::fromUtf8("Задержки реле"));
    QCOMPARE(p1->currentIndex(), 0);
    QCOMPARE(p2->currentIndex(), 0);
    QCOMPARE(p3->currentIndex(), 0);
  }

  void windowSizeFlagsAndMenus() {
    QCOMPARE(w->windowTitle(), QStringLiteral("Quorlan v.18"));
    QCOMPARE(w->width(), 603);
    QCOMPARE(w->height() - w->menuBar()->height(), 620);
    QCOMPARE(w->minimumSize(), w->maximumSize());
    QVERIFY(!(w->windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(w->windowFlags() & Qt::WindowSystemMenuHint);
    QVERIFY(w->statusBar()->currentMessage().isEmpty());
    QStringList menus;
    for (auto *a : w->menuBar()->actions()) menus << a->text();
    QCOMPARE(menus, QStringList({QString::fromUtf8("Файл"), QString::fromUtf8("Обмен с контроллером"),
                                 QString::fromUtf8("Справка")}));
    QVERIFY(!w->N5->menuAction()->isEnabled());
    QVERIFY(w->N1->menuAction()->isEnabled());
    // The disabled title is drawn readable on the bar: its darkest pixel against the bar's own
    // colour beside it, at least 3:1.
    const QImage bar = w->menuBar()->grab().toImage();
    const QRect title = w->menuBar()->actionGeometry(w->N5->menuAction());
    const QColor background = bar.pixelColor(title.left() + 1, title.top() + 1);
    QColor darkest = background;
    for (int y = title.top(); y <= title.bottom(); ++y)
      for (int x = title.left(); x <= title.right(); ++x)
        if (luminance(bar.pixelColor(x, y)) < luminance(darkest)) darkest = bar.pixelColor(x, y);
    QVERIFY2(contrast(darkest, background) >= 3.0,
             qPrintable(QStringLiteral("%1 on %2: %3").arg(darkest.name(), background.name())
                            .arg(contrast(darkest, background))));
    QCOMPARE(w->N6->text(), QString::fromUtf8("Сохранить конфигурацию"));
    QCOMPARE(w->N9->text(), QString::fromUtf8("Текущее состояние и управление"));
    QCOMPARE(w->findChild<QAction *>("N11")->text(), QString::fromUtf8("О программе"));
  }

  void smsCentreStartsWithTheFirstNumber() {
    QCOMPARE(w->ComboBox2->count(), 7);
    QCOMPARE(w->ComboBox2->itemText(6), QString::fromUtf8("+79272909090 Мегафон (Поволжье)"));
    QCOMPARE(w->ComboBox2->currentText(), QStringLiteral("+79168999100"));
  }

  void smsCentreCheck_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("left");
    QTest::addColumn<int>("messages");
    QTest::newRow("letter after +7916") << "+7916x" << "+7916" << 1;
    QTest::newRow("plus in the middle passes") << "79+16" << "79+16" << 0;
    QTest::newRow("blank cuts without message") << "+7916 12" << "+7916" << 0;
    QTest::newRow("Cyrillic letter") << QString::fromUtf8("+79я1") << "+79" << 1;
  }
  void smsCentreCheck() {
    QFETCH(QString, typed);
    QFETCH(QString, left);
    QFETCH(int, messages);
    ModalWatcher watcher;
    w->ComboBox2->setEditText(QString());
    w->ComboBox2->lineEdit()->setFocus();
    typeText(w->ComboBox2->lineEdit(), typed);
    QTRY_COMPARE_WITH_TIMEOUT(w->ComboBox2->currentText(), left, 1000);
    QCoreApplication::processEvents();   // a box posted for later would show now
    QCOMPARE(watcher.boxes.size(), messages);
    if (messages) {
      QCOMPARE(watcher.boxes[0].title, QString::fromUtf8("Ошибка"));
      QCOMPARE(watcher.boxes[0].icon, QMessageBox::Critical);
      QCOMPARE(watcher.boxes[0].text,
               QString::fromUtf8("НЕВЕРНЫЙ НОМЕР ТЕЛЕФОНА\r\n\r\nМожно вводить только цифры и символ "
                                 "\"+\"\r\nНомер начинается с символа \"+\", далее цифры"));
    }
  }

  void smsCentrePastedTextIsCheckedOnce() {
    ModalWatcher watcher;
    w->ComboBox2->setEditText(QString());
    QApplication::clipboard()->setText(QStringLiteral("+79a123"));
    w->ComboBox2->lineEdit()->setFocus();
    QTest::keyClick(w->ComboBox2->lineEdit(), Qt::Key_V, Qt::ControlModifier);
    QTRY_COMPARE_WITH_TIMEOUT(w->ComboBox2->currentText(), QStringLiteral("+79"), 1000);
    QCoreApplication::processEvents();
    QCOMPARE(watcher.boxes.size(), 1);
  }

  void smsCentrePickFromTheList() {
    ModalWatcher watcher;
    w->ComboBox2->showPopup();
    w->ComboBox2->setCurrentIndex(6);
    w->ComboBox2->hidePopup();
    QTRY_COMPARE_WITH_TIMEOUT(w->ComboBox2->currentText(), QStringLiteral("+79272909090"), 1000);
    QCoreApplication::processEvents();
    QCOMPARE(watcher.boxes.size(), 0);
  }

  void passwordPlaceholder() {
    QLineEdit *e = w->Edit2;
    e->setText(QString::fromUtf8("Пароль"));
    QTest::mouseClick(e, Qt::LeftButton);
    QCOMPARE(e->text(), QString());
    typeText(e, QStringLiteral("1234"));
    QTest::mouseClick(e, Qt::LeftButton);
    QCOMPARE(e->text(), QStringLiteral("1234"));
    e->setText(QString::fromUtf8("Пароль"));
  }

  void progressWindowOperations() {
    QCOMPARE(Progress->windowTitle(), QStringLiteral("Progress"));
    QVERIFY(!Progress->isShown());
    QCOMPARE(Progress->text(), QString::fromUtf8("Прогресс"));
    QCOMPARE(Progress->Label1->font().pixelSize(), 16);
    QVERIFY(Progress->windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(!(Progress->windowFlags() & Qt::WindowCloseButtonHint));
    QVERIFY(!(Progress->windowFlags() & Qt::WindowSystemMenuHint));
    Progress->closeWindow();  // hidden: nothing happens
    QVERIFY(!Progress->isShown());
    // The first show returns with the window exposed and painted, without running timers.
    int paints = 0;
    struct PaintCount : QObject {
      int *n;
      explicit PaintCount(int *count) : n(count) {}
      bool eventFilter(QObject *, QEvent *e) override {
        if (e->type() == QEvent::Paint) ++*n;
        return false;
      }
    } counter(&paints);
    Progress->Label1->installEventFilter(&counter);
    bool timerRan = false;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, [&] { timerRan = true; });
    timer.start(0);
    Progress->showWindow();
    Progress->Label1->removeEventFilter(&counter);
    QVERIFY(Progress->windowHandle()->isExposed());
    QVERIFY(paints > 0);
#ifdef Q_OS_WIN
    if (QGuiApplication::platformName() != QLatin1String("windows"))
      QEXPECT_FAIL("", "on Windows only the native platform exposes a window without the event "
                       "loop, and that loop runs timers there", Continue);
#endif
    QVERIFY(!timerRan);
    Progress->showWindow();
    QVERIFY(Progress->isShown());
    Progress->setPosition(106);
    QCOMPARE(Progress->ProgressBar1->value(), 100);
    Progress->setPosition(10);
    Progress->stepBy(3);
    QCOMPARE(Progress->ProgressBar1->value(), 13);
    Progress->setText(QString::fromUtf8("Рассчет массива"));
    Progress->repaintNow();
    QCOMPARE(Progress->Label1->text(), QString::fromUtf8("Рассчет массива"));
    QCOMPARE(Progress->frameGeometry().size().width(), 342);
    Progress->closeWindow();
    Progress->closeWindow();
    QVERIFY(!Progress->isShown());
    QCOMPARE(Progress->text(), QString::fromUtf8("Рассчет массива"));  // kept while hidden
  }

  void aboutBoxSaysWhatAndWhere() {
    QString text;
    int shownLines = 0;
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
      auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
      if (!box) return;
      text = QTextDocumentFragment::fromHtml(box->text()).toPlainText() + box->informativeText();
      for (QLabel *l : box->findChildren<QLabel *>())
        if (l->text() == box->text()) shownLines = l->height() / l->fontMetrics().lineSpacing();
      box->done(QMessageBox::Ok);
    });
    poll.start(20);
    w->N11Click();
    const QStringList lines = text.split(u'\n');
    QCOMPARE(lines.size(), 2);
    QCOMPARE(shownLines, 2);   // neither line wrapped
    QVERIFY(lines[0].contains(QStringLiteral("Quorlan v.18")));
    QVERIFY(lines[0].contains(QStringLiteral("Qt ") + QString::fromLatin1(qVersion())));
    QVERIFY(lines[1].contains(QStringLiteral("README.md")));
    for (const char *placeholder : {"@", "example", "000"}) QVERIFY(!text.contains(placeholder));
  }

  void qtOwnTextsAreRussian() {
    QVERIFY(loadQtTranslations());
    QLineEdit edit;
    std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    int texts = 0;
    for (QAction *a : menu->actions()) {
      if (a->isSeparator()) continue;
      ++texts;
      QVERIFY2(a->text().contains(QRegularExpression(QStringLiteral("[А-Яа-я]"))), qPrintable(a->text()));
    }
    QVERIFY(texts >= 5);
  }

  void exitClosesTheMainWindow() {
    w->N4Click();
    QVERIFY(!w->isVisible());
  }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
