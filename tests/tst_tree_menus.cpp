// Context requests on the reaction trees through real mouse events: which nodes get which menu
// or dialog, what each menu command writes, the telephone menu's rewriting, and requests on
// empty space and from the keyboard.
#include <QtTest>

#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>

#include "widgets/Unit5.h"
#include "image/ReactionTrees.h"
#include "editor/TreePanel.h"
#include "editor/Unit1.h"
#include "editor/Unit2.h"
#include "editor/Unit3.h"
#include "testsupport.h"

using testsupport::ModalWatcher;

namespace {

QStringList captions(const QMenu *menu) {
  QStringList out;
  for (const QAction *a : menu->actions()) out << TTreePanel::menuCaption(a);
  return out;
}

void typeText(QWidget *w, const QString &text) {
  for (const QChar ch : text)
    QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

}  // namespace

class TestTreeMenus : public QObject {
  Q_OBJECT
  TQuorlan *w = nullptr;

  // Brings the tree's page forward and the node into view.
  QPoint showNode(int tree, int index) {
    QWidget *pages[] = {nullptr, w->treePage1, w->treePage2, w->treePage3};
    w->PageControl1->setCurrentIndex(1);  // "Настройка датчиков"
    w->PageControl2->setCurrentWidget(pages[tree]);
    QTreeWidget *t = w->Trees->tree(tree);
    QTreeWidgetItem *node = w->Trees->node(tree, index);
    for (QTreeWidgetItem *p = node->parent(); p; p = p->parent()) p->setExpanded(true);
    t->scrollToItem(node);
    QCoreApplication::processEvents();
    return t->visualItemRect(node).center();
  }

  // A right press and release at a point of the tree's viewport, delivered through the window
  // as the platform would deliver it.
  void rightClickAt(int tree, const QPoint &viewportPos) {
    QWidget *vp = w->Trees->tree(tree)->viewport();
    const QPoint inWindow = vp->mapTo(w, viewportPos);
    QTest::mousePress(w->windowHandle(), Qt::RightButton, Qt::NoModifier, inWindow);
    QTest::mouseRelease(w->windowHandle(), Qt::RightButton, Qt::NoModifier, inWindow);
  }
  void rightClick(int tree, int index) { rightClickAt(tree, showNode(tree, index)); }

  QMenu *openMenu() { return qobject_cast<QMenu *>(QApplication::activePopupWidget()); }

  void choose(QMenu *menu, const QString &caption) {
    for (QAction *a : menu->actions())
      if (TTreePanel::menuCaption(a) == caption) {
        QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, menu->actionGeometry(a).center());
        QTRY_VERIFY(!menu->isVisible());
        return;
      }
    QFAIL(qPrintable(QStringLiteral("no item ") + caption));
  }

  void closeMenus() {
    while (QWidget *p = QApplication::activePopupWidget()) p->close();
  }

private slots:
  void initTestCase() {
    QVERIFY(testsupport::startShownWindows());
    w = Quorlan;
  }
  void cleanupTestCase() { testsupport::stopWindows(); }
  void cleanup() {
    closeMenus();
    for (QLineEdit *e : w->phoneEdits) e->clear();
  }
  void init() { testsupport::resetEditor(w); }

  void menusExistWithTheirItems() {
    for (int n = 1; n <= 9; ++n) QVERIFY(w->findChild<QMenu *>(QStringLiteral("PopupMenu%1").arg(n)));
    const QStringList phone = {"Удалить", "- Нет -", "- Нет -", "- Нет -", "- Нет -", "- Нет -",
                               "- Нет -", "- Нет -", "- Нет -", "- Нет -"};
    const QStringList relay = {"Включить", "Выключить", "Не изменять"};
    for (QMenu *m : {w->PopupMenu1, w->PopupMenu4, w->PopupMenu7}) QCOMPARE(captions(m), phone);
    for (QMenu *m : {w->PopupMenu2, w->PopupMenu5, w->PopupMenu8}) QCOMPARE(captions(m), relay);
    for (QMenu *m : {w->PopupMenu3, w->PopupMenu6, w->PopupMenu9}) QVERIFY(m->actions().isEmpty());

    // Items carry their handlers' names: telephone then relay items of tree 1, 2 and 3.
    const QList<QStringList> names = {
        {"N12", "N13", "N14", "N15", "N16", "N17", "N18", "N19", "N20", "N21", "N22", "N23", "N24"},
        {"N110", "N25", "N26", "N27", "N28", "N29", "N30", "N31", "N32", "N33", "N34", "N35", "N36"},
        {"N37", "N38", "N39", "N40", "N41", "N42", "N43", "N44", "N45", "N46", "N47", "N48", "N49"}};
    const QList<QMenu *> menus = {w->PopupMenu1, w->PopupMenu2, w->PopupMenu4, w->PopupMenu5, w->PopupMenu7, w->PopupMenu8};
    for (int t = 0; t < 3; ++t) {
      QStringList shown;
      for (const QAction *a : menus[2 * t]->actions() + menus[2 * t + 1]->actions()) shown << a->objectName();
      QCOMPARE(shown, names[t]);
    }
  }

  void nonLeafNodesGetNoMenuAndNoDialog_data() {
    QTest::addColumn<int>("tree");
    QTest::addColumn<int>("index");
    QTest::newRow("contact root") << 1 << 45;
    QTest::newRow("contact event") << 1 << 45 + 23;
    QTest::newRow("contact Реле") << 1 << 45 + 2;
    QTest::newRow("contact Телефоны") << 1 << 45 + 11;
    QTest::newRow("contact Сообщение") << 1 << 45 + 43;
    QTest::newRow("mains root") << 1 << 360;
    QTest::newRow("analog root") << 2 << 69;
    QTest::newRow("analog event") << 2 << 69 + 24;
    QTest::newRow("analog Реле") << 2 << 69 + 48;
    QTest::newRow("analog Телефоны") << 2 << 69 + 12;
    QTest::newRow("sensor Сообщение") << 3 << 69 * 7 + 67;
    QTest::newRow("sensor event") << 3 << 69 * 7 + 46;
  }
  void nonLeafNodesGetNoMenuAndNoDialog() {
    QFETCH(int, tree);
    QFETCH(int, index);
    ModalWatcher watcher;
    int dialogs = 0;
    watcher.onOtherModal = [&](QWidget *m) {
      ++dialogs;
      if (auto *d = qobject_cast<QDialog *>(m)) d->done(QDialog::Rejected);
    };
    const QString before = w->Trees->node(tree, index)->text(0);
    rightClick(tree, index);
    QCoreApplication::processEvents();
    QCOMPARE(w->Trees->selectedNode(tree), w->Trees->node(tree, index));
    QVERIFY(!QApplication::activePopupWidget());
    QCOMPARE(dialogs, 0);
    QVERIFY(watcher.boxes.isEmpty());
    const QMenu *empty[] = {nullptr, w->PopupMenu3, w->PopupMenu6, w->PopupMenu9};
    QCOMPARE(w->Trees->attachedMenu(tree), empty[tree]);
    QCOMPARE(w->Trees->node(tree, index)->text(0), before);
  }

  void relayCommandsRewriteTheStateWord() {
    const int six = 45 * 2 + 24 + 6;  // relay 6, second event, input 3
    rightClick(1, six);
    QMenu *menu = openMenu();
    QCOMPARE(menu, w->PopupMenu2);
    choose(menu, QStringLiteral("Выключить"));
    QCOMPARE(w->Trees->node(1, six)->text(0), QStringLiteral("6 - Выключить"));
    QCOMPARE(trees::relayState(w->Trees->node(1, six)->text(0)), trees::RelayState::Off);

    rightClick(1, six);
    choose(openMenu(), QStringLiteral("Включить"));
    QCOMPARE(w->Trees->node(1, six)->text(0), QStringLiteral("6 - Включить"));

    // The other trees' menus act on their own tree only.
    const int analog = 69 * 5 + 26 + 1;  // relay 2 of "Норма", АЦП 6
    rightClick(2, analog);
    QCOMPARE(openMenu(), w->PopupMenu5);
    choose(openMenu(), QStringLiteral("Включить"));
    QCOMPARE(w->Trees->node(2, analog)->text(0), QStringLiteral("2 - Включить"));
    QCOMPARE(w->Trees->node(1, six)->text(0), QStringLiteral("6 - Включить"));

    const int sensor = 69 * 7 + 49 + 7;  // relay 8 of "Ниже MIN порога", Датчик 8
    rightClick(3, sensor);
    QCOMPARE(openMenu(), w->PopupMenu8);
    choose(openMenu(), QStringLiteral("Выключить"));
    rightClick(3, sensor);
    choose(openMenu(), QStringLiteral("Не изменять"));
    QCOMPARE(w->Trees->node(3, sensor)->text(0), QStringLiteral("8 - Не изменять"));
    QCOMPARE(w->Trees->node(2, analog)->text(0), QStringLiteral("2 - Включить"));
  }

  void telephoneMenuIsRewrittenBeforeEveryShowing() {
    const int slot3 = 14;  // input 1, "Замыкание", slot 3
    w->phoneEdits[1]->setText(QStringLiteral("+79161234567"));
    rightClick(1, slot3);
    QMenu *menu = openMenu();
    QCOMPARE(menu, w->PopupMenu1);
    QCOMPARE(captions(menu),
             QStringList({"Удалить", "1 - Нет", "+79161234567 (аб.2)", "3 - Нет", "4 - Нет",
                          "5 - Нет", "6 - Нет", "7 - Нет", "8 - Нет", "9 - Нет"}));
    // An unset entry gives the slot's own digit, not the entry's.
    choose(menu, QStringLiteral("5 - Нет"));
    QCOMPARE(w->Trees->node(1, slot3)->text(0), QStringLiteral("3 - Нет"));

    rightClick(1, slot3);
    choose(openMenu(), QStringLiteral("+79161234567 (аб.2)"));
    QCOMPARE(w->Trees->node(1, slot3)->text(0), QStringLiteral("+79161234567 (аб.2)"));
    QCOMPARE(trees::slotTarget(w->Trees->node(1, slot3)->text(0)), 2);

    // The slot holds a copy: a later change of the number leaves it.
    w->phoneEdits[1]->setText(QStringLiteral("+70000000000"));
    QCOMPARE(w->Trees->node(1, slot3)->text(0), QStringLiteral("+79161234567 (аб.2)"));

    // Dispatcher in item 9; subscriber 2 cleared shows "2 - Нет" again.
    w->phoneEdits[1]->clear();
    w->phoneEdits[8]->setText(QStringLiteral("+74951112233"));
    w->phoneEdits[7]->setText(QStringLiteral("88"));
    rightClick(1, slot3);
    QCOMPARE(captions(openMenu()),
             QStringList({"Удалить", "1 - Нет", "2 - Нет", "3 - Нет", "4 - Нет", "5 - Нет",
                          "6 - Нет", "7 - Нет", "88 (аб.8)", "+74951112233 (Д.Ц.)"}));
    choose(openMenu(), QStringLiteral("+74951112233 (Д.Ц.)"));
    QCOMPARE(w->Trees->node(1, slot3)->text(0), QStringLiteral("+74951112233 (Д.Ц.)"));
    rightClick(1, slot3);
    choose(openMenu(), QStringLiteral("Удалить"));
    QCOMPARE(w->Trees->node(1, slot3)->text(0), QStringLiteral("3 - Нет"));
  }

  void telephoneMenusOfTheOtherTreesAndVerbatimCaptions() {
    // Text that reached the field without a key release is copied as it stands, "&" included.
    w->phoneEdits[0]->setText(QStringLiteral("+7&1"));
    const int slot9 = 69 * 2 + 58 + 8;  // АЦП 3, "Ниже MIN порога", slot 9
    rightClick(2, slot9);
    QCOMPARE(openMenu(), w->PopupMenu4);
    QCOMPARE(TTreePanel::menuCaption(w->PopupMenu4->actions().at(1)), QStringLiteral("+7&1 (аб.1)"));
    QCOMPARE(w->PopupMenu4->actions().at(1)->text(), QStringLiteral("+7&&1 (аб.1)"));
    choose(openMenu(), QStringLiteral("+7&1 (аб.1)"));
    QCOMPARE(w->Trees->node(2, slot9)->text(0), QStringLiteral("+7&1 (аб.1)"));
    // Clearing in tree 2 writes the slot's own digit.
    rightClick(2, slot9);
    choose(openMenu(), QStringLiteral("Удалить"));
    QCOMPARE(w->Trees->node(2, slot9)->text(0), QStringLiteral("9 - Нет"));

    const int slot1 = 13;  // Датчик 1, "Выше MAX порога", slot 1
    w->phoneEdits[3]->setText(QStringLiteral("+7444"));
    rightClick(3, slot1);
    QCOMPARE(openMenu(), w->PopupMenu7);
    choose(openMenu(), QStringLiteral("+7444 (аб.4)"));
    QCOMPARE(w->Trees->node(3, slot1)->text(0), QStringLiteral("+7444 (аб.4)"));
    QCOMPARE(w->Trees->node(2, 13)->text(0), QStringLiteral("1 - Нет"));
  }

  void rightClickOnEmptySpaceActsOnTheSelectedNode() {
    QTreeWidget *t = w->TreeView1;
    t->collapseAll();
    const int relay4 = 45 * 9 + 2 + 4;  // "ОХРАНА", "Постановка", relay 4
    const QPoint at = showNode(1, relay4);
    QTest::mouseClick(t->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QCOMPARE(w->Trees->selectedNode(1), w->Trees->node(1, relay4));
    t->scrollToTop();
    QCoreApplication::processEvents();
    const QPoint empty(t->viewport()->width() / 2, t->viewport()->height() - 4);
    QVERIFY2(!t->itemAt(empty), "the tree has no empty space below its last node");
    rightClickAt(1, empty);
    QCOMPARE(w->Trees->selectedNode(1), w->Trees->node(1, relay4));
    QCOMPARE(openMenu(), w->PopupMenu2);
    choose(openMenu(), QStringLiteral("Выключить"));
    QCOMPARE(w->Trees->node(1, relay4)->text(0), QStringLiteral("4 - Выключить"));
    t->collapseAll();
  }

  void menuKeyActsOnTheSelectedNode() {
    const int relay1 = 45 * 8 + 24 + 1;  // "Сеть 220 В", "Пропадание", relay 1
    w->TreeView1->setCurrentItem(w->Trees->node(1, relay1));
    showNode(1, relay1);
    w->TreeView1->setFocus();
    // What the platform sends for the keyboard's menu key.
    QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(5, 5),
                          w->TreeView1->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(w->TreeView1, &key);
    QCOMPARE(openMenu(), w->PopupMenu2);
    choose(openMenu(), QStringLiteral("Включить"));
    QCOMPARE(w->Trees->node(1, relay1)->text(0), QStringLiteral("1 - Включить"));
  }

  void thresholdNodesOpenTheThresholdDialog() {
    ModalWatcher watcher;
    QString prefilled;
    int target = 0;
    watcher.onOtherModal = [&](QWidget *m) {
      QCOMPARE(m, static_cast<QWidget *>(Form3));
      prefilled = Form3->Edit1->text();
      target = w->Trees->dialogTarget();
      Form3->Edit1->clear();
      QTest::mouseClick(Form3->Button1, Qt::LeftButton);
    };
    w->Trees->node(2, 254)->setText(0, QStringLiteral("Порог 12,5"));
    rightClick(2, 254);
    QTRY_VERIFY(!Form3->isVisible());
    QCOMPARE(prefilled, QStringLiteral("12,5"));
    QCOMPARE(target, 2);
    QCOMPARE(w->Trees->node(2, 254)->text(0), QStringLiteral("Порог 0,0"));
    QCOMPARE(Form3->Edit1->text(), QStringLiteral("0,0"));
    QVERIFY(!QApplication::activePopupWidget());
    QCOMPARE(w->Trees->attachedMenu(2), w->PopupMenu6);

    watcher.onOtherModal = [&](QWidget *) {
      prefilled = Form3->Edit1->text();
      target = w->Trees->dialogTarget();
      Form3->Edit1->setText(QStringLiteral("-8,3"));
      QTest::mouseClick(Form3->Button1, Qt::LeftButton);
    };
    rightClick(3, 2);  // Датчик 1 upper threshold
    QTRY_VERIFY(!Form3->isVisible());
    QCOMPARE(prefilled, QStringLiteral("0,0"));
    QCOMPARE(target, 3);
    QCOMPARE(w->Trees->node(3, 2)->text(0), QStringLiteral("Порог -8,3"));
    QCOMPARE(w->Trees->node(2, 2)->text(0), QStringLiteral("Порог 0,0"));
    QVERIFY(watcher.boxes.isEmpty());
  }

  void messageNodesOpenTheSmsDialog() {
    ModalWatcher watcher;
    QString prefilled;
    int target = 0;
    watcher.onOtherModal = [&](QWidget *m) {
      QCOMPARE(m, static_cast<QWidget *>(SMS));
      prefilled = SMS->Edit21->text();
      target = w->Trees->dialogTarget();
      SMS->Edit21->clear();
      typeText(SMS->Edit21, QStringLiteral("Тревога вход 1"));
      QTest::mouseClick(SMS->Button1, Qt::LeftButton);
    };
    rightClick(1, 22);
    QTRY_VERIFY(!SMS->isVisible());
    QCOMPARE(prefilled, QStringLiteral("Вход 1 Замкнут"));
    QCOMPARE(target, 1);
    QCOMPARE(w->Trees->node(1, 22)->text(0), QStringLiteral("Тревога вход 1"));
    QCOMPARE(w->Trees->attachedMenu(1), w->PopupMenu3);
    QVERIFY(!QApplication::activePopupWidget());

    watcher.onOtherModal = [&](QWidget *) {
      prefilled = SMS->Edit21->text();
      target = w->Trees->dialogTarget();
      SMS->Edit21->setText(QStringLiteral("не то"));
      QTest::mouseClick(SMS->Button2, Qt::LeftButton);
    };
    rightClick(3, 551);
    QTRY_VERIFY(!SMS->isVisible());
    QCOMPARE(prefilled, QStringLiteral("Датчик 8 ниже нормы"));
    QCOMPARE(target, 3);
    QCOMPARE(w->Trees->node(3, 551)->text(0), QStringLiteral("Датчик 8 ниже нормы"));
    // DialogTarget keeps its last value.
    QCOMPARE(w->Trees->dialogTarget(), 3);
  }
};

QTEST_MAIN(TestTreeMenus)
#include "tst_tree_menus.moc"
