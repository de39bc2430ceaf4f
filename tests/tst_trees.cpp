// The reaction trees as built at start-up: every node's caption, level and picture against the
// block tables, the node index against the trees' own pre-order, the trees' fixed properties,
// the pictures, the caption grammar the encoder and decoder rely on, and the names the command
// line gives the trees' settings.
#include <QtTest>

#include <QMenu>
#include <QTreeWidget>

#include "widgets/Unit5.h"
#include "image/ReactionTrees.h"
#include "editor/TreePictures.h"
#include "editor/TreePanel.h"
#include "editor/Unit1.h"
#include "editor/Unit2.h"
#include "editor/Unit3.h"
#include "image/FieldNames.h"
#include "testsupport.h"

namespace {

struct Expect {
  QString caption;
  int level;
  int picture;
};

// Relays, slots and message of one event whose "Реле" node sits at block offset e.
bool reactionAt(int o, int e, const QString &message, Expect &out) {
  const int d = o - e;
  if (d == 0) out = {QStringLiteral("Реле"), 2, 1};
  else if (d >= 1 && d <= 8) out = {QStringLiteral("%1 - Не изменять").arg(d), 3, 5};
  else if (d == 9) out = {QStringLiteral("Телефоны"), 2, 2};
  else if (d >= 10 && d <= 18) out = {QStringLiteral("%1 - Нет").arg(d - 9), 3, -1};
  else if (d == 19) out = {QStringLiteral("Сообщение"), 2, 3};
  else if (d == 20) out = {message, 3, -1};
  else return false;
  return true;
}

// Written out from the block tables, independently of the program's own generator.
Expect expectedContact(int index) {
  const int k = index / 45, o = index % 45;
  const QString in = QStringLiteral("Вход %1").arg(k + 1);
  const QString roots[3] = {in, QStringLiteral("Сеть 220 В"), QStringLiteral("ОХРАНА")};
  const int r = k < 8 ? 0 : k - 7;
  const QString first[3] = {QStringLiteral("Замыкание"), QStringLiteral("Восстановление"),
                            QStringLiteral("Постановка")};
  const QString second[3] = {QStringLiteral("Размыкание"), QStringLiteral("Пропадание"),
                             QStringLiteral("Снятие")};
  const QString text1[3] = {in + QStringLiteral(" Замкнут"), QStringLiteral("Контроль питания:Да"),
                            QStringLiteral("Смена режима работы:Охрана")};
  const QString text2[3] = {in + QStringLiteral(" Разомкнут"), QStringLiteral("Контроль питания:Нет"),
                            QStringLiteral("Смена режима работы:ТО")};
  const int rootPictures[3] = {4, 9, 8};
  Expect e;
  if (o == 0) return {roots[r], 0, rootPictures[r]};
  if (o == 1) return {first[r], 1, -1};
  if (o == 23) return {second[r], 1, -1};
  if (reactionAt(o, 2, text1[r], e) || reactionAt(o, 24, text2[r], e)) return e;
  return {QStringLiteral("?"), -9, -9};
}

Expect expectedChannel(int tree, int index) {
  const int k = index / 69, o = index % 69;
  const QString root = (tree == 2 ? QStringLiteral("АЦП %1") : QStringLiteral("Датчик %1")).arg(k + 1);
  Expect e;
  switch (o) {
    case 0: return {root, 0, 4};
    case 1: return {QStringLiteral("Выше MAX порога"), 1, 10};
    case 2: return {QStringLiteral("Порог 0,0"), 2, 13};
    case 24: return {QStringLiteral("Норма"), 1, 11};
    case 46: return {QStringLiteral("Ниже MIN порога"), 1, 12};
    case 47: return {tree == 2 ? QStringLiteral("Порог 0,0") : QStringLiteral("Порог 00"), 2, 14};
    default: break;
  }
  if (reactionAt(o, 3, root + QStringLiteral(" выше нормы"), e) ||
      reactionAt(o, 25, root + QStringLiteral(" норма"), e) ||
      reactionAt(o, 48, root + QStringLiteral(" ниже нормы"), e))
    return e;
  return {QStringLiteral("?"), -9, -9};
}

int depth(const QTreeWidgetItem *item) {
  int d = 0;
  while ((item = item->parent())) ++d;
  return d;
}

void preorder(QTreeWidgetItem *item, QList<QTreeWidgetItem *> &out) {
  out.append(item);
  for (int i = 0; i < item->childCount(); ++i) preorder(item->child(i), out);
}

}  // namespace

class TestTrees : public QObject {
  Q_OBJECT
  TQuorlan *w = nullptr;

  QList<QTreeWidgetItem *> walk(QTreeWidget *t) {
    QList<QTreeWidgetItem *> all;
    for (int i = 0; i < t->topLevelItemCount(); ++i) preorder(t->topLevelItem(i), all);
    return all;
  }

private slots:
  void initTestCase() {
    testsupport::startWindows();
    w = Quorlan;
  }
  void cleanupTestCase() { testsupport::stopWindows(); }
  void init() { testsupport::resetEditor(Quorlan); }

  void everyNodeMatchesTheBlockTables_data() {
    QTest::addColumn<int>("tree");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("roots");
    QTest::newRow("contacts") << 1 << 450 << 10;
    QTest::newRow("analog") << 2 << 552 << 8;
    QTest::newRow("sensors") << 3 << 552 << 8;
  }
  void everyNodeMatchesTheBlockTables() {
    QFETCH(int, tree);
    QFETCH(int, count);
    QFETCH(int, roots);
    QTreeWidget *t = w->Trees->tree(tree);
    QVERIFY(t);
    QCOMPARE(t->objectName(), QStringLiteral("TreeView%1").arg(tree));
    QCOMPARE(t->topLevelItemCount(), roots);
    const QList<QTreeWidgetItem *> all = walk(t);
    QCOMPARE(all.size(), count);
    for (int i = 0; i < count; ++i) {
      const Expect e = tree == 1 ? expectedContact(i) : expectedChannel(tree, i);
      QTreeWidgetItem *node = all[i];
      const QByteArray where = QByteArray::number(i);
      QVERIFY2(w->Trees->node(tree, i) == node, where);  // the index is the view's pre-order
      QVERIFY2(node->text(0) == e.caption, where + " " + node->text(0).toUtf8());
      QVERIFY2(depth(node) == e.level, where);
      QVERIFY2(node->data(0, trees::kPictureRole).toInt() == e.picture, where);
      QVERIFY2(node->icon(0).isNull() == (e.picture < 0), where);
      QVERIFY2(!(node->flags() & Qt::ItemIsEditable), where);
    }
    QVERIFY(!w->Trees->node(tree, -1));
    QVERIFY(!w->Trees->node(tree, count));
    QVERIFY(!w->Trees->node(0, 0));
    QVERIFY(!w->Trees->node(4, 0));
  }

  void examplesReadAsDescribed() {
    QCOMPARE(w->Trees->node(1, 112)->text(0), QStringLiteral("Вход 3 Замкнут"));
    QCOMPARE(w->Trees->node(1, 361)->text(0), QStringLiteral("Восстановление"));
    QCOMPARE(w->Trees->node(1, 427)->text(0), QStringLiteral("Смена режима работы:Охрана"));
    QCOMPARE(w->Trees->node(1, 449)->text(0), QStringLiteral("Смена режима работы:ТО"));
    QCOMPARE(w->Trees->node(2, 254)->text(0), QStringLiteral("Порог 0,0"));
    QCOMPARE(w->Trees->node(3, 254)->text(0), QStringLiteral("Порог 00"));
    QCOMPARE(w->Trees->node(3, 551)->text(0), QStringLiteral("Датчик 8 ниже нормы"));
    // Relay r of the second event of block k, slot s of the first event.
    QCOMPARE(w->Trees->node(1, 45 * 4 + 24 + 6)->text(0), QStringLiteral("6 - Не изменять"));
    QCOMPARE(w->Trees->node(1, 45 * 7 + 11 + 9)->text(0), QStringLiteral("9 - Нет"));
  }

  void treesAreReadOnlyUnsortedAndStartOnNodeZero() {
    for (int t = 1; t <= 3; ++t) {
      QTreeWidget *v = w->Trees->tree(t);
      QVERIFY(v->isHeaderHidden());
      QVERIFY(!v->isSortingEnabled());
      QCOMPARE(v->editTriggers(), QAbstractItemView::NoEditTriggers);
      QCOMPARE(v->currentItem(), w->Trees->node(t, 0));
      QCOMPARE(w->Trees->selectedNode(t), w->Trees->node(t, 0));
      QCOMPARE(v->selectedItems().size(), 1);
    }
    // Each tree fills its own page.
    QCOMPARE(w->TreeView1->parentWidget(), w->treePage1);
    QCOMPARE(w->TreeView2->parentWidget(), w->treePage2);
    QCOMPARE(w->TreeView3->parentWidget(), w->treePage3);
    QVERIFY(!w->Trees->tree(0) && !w->Trees->tree(4));
    // One panel, built once.
    QCOMPARE(w->findChildren<TTreePanel *>().size(), 1);
    QCOMPARE(w->Trees->tree(1), w->TreeView1);
    QCOMPARE(walk(w->TreeView1).size(), 450);
    QCOMPARE(w->PopupMenu1->actions().size(), 10);
  }

  void picturesAreFifteenDistinctSixteenPixelImages() {
    const auto &images = trees::pictureImages();
    QCOMPARE(int(images.size()), 15);
    for (std::size_t i = 0; i < images.size(); ++i) {
      QCOMPARE(images[i].size(), QSize(16, 16));
      bool drawn = false;
      for (int y = 0; y < 16 && !drawn; ++y)
        for (int x = 0; x < 16 && !drawn; ++x) drawn = qAlpha(images[i].pixel(x, y)) > 0;
      QVERIFY2(drawn, QByteArray::number(int(i)));
      for (std::size_t j = 0; j < i; ++j)
        QVERIFY2(images[i] != images[j], QByteArray::number(int(i)) + "==" + QByteArray::number(int(j)));
    }
    // Thresholds: the upper arrow is red and its top row carries colour, the lower one its bottom.
    auto rowHasRed = [](const QImage &im, int y) {
      for (int x = 0; x < 16; ++x) {
        const QRgb p = im.pixel(x, y);
        if (qAlpha(p) > 128 && qRed(p) > 150 && qGreen(p) < 100) return true;
      }
      return false;
    };
    QVERIFY(rowHasRed(images[13], 3) && !rowHasRed(images[13], 15));
    QVERIFY(rowHasRed(images[14], 12) && !rowHasRed(images[14], 0));
    QVERIFY(trees::pictureIcon(-1).isNull());
    QVERIFY(trees::pictureIcon(15).isNull());
    QVERIFY(!trees::pictureIcon(4).isNull());
  }

  // The positions the encoder and decoder read: state word from character 5, slot tag the
  // last six characters, threshold value from character 7.
  // Each named tree setting is the node the window shows under the captions its name joins.
  void treeFieldsFollowTheTreesCaptions() {
    using fieldnames::Field;
    using fieldnames::Kind;
    QMap<int, int> settings;   // tree -> named nodes
    for (const Field &f : fieldnames::allFields()) {
      if (f.node < 0) continue;
      ++settings[f.number];
      QTreeWidgetItem *node = w->Trees->node(f.number, f.node);
      QVERIFY2(node, qPrintable(f.name));
      QStringList above;
      for (QTreeWidgetItem *p = node->parent(); p; p = p->parent()) above.prepend(p->text(0));
      switch (f.kind) {
        case Kind::Relay:
        case Kind::Slot:
          QCOMPARE(above, f.groups);
          QCOMPARE(QString::number(node->parent()->indexOfChild(node) + 1), f.label);
          QCOMPARE(above.last(), f.kind == Kind::Relay ? QStringLiteral("Реле") : QStringLiteral("Телефоны"));
          break;
        case Kind::Message:
          QCOMPARE(above.mid(0, 2), f.groups);
          QCOMPARE(above.last(), f.label);
          break;
        case Kind::Threshold:
          QCOMPARE(above, f.groups);
          QVERIFY(node->text(0).startsWith(f.label));
          break;
        default:
          QFAIL(qPrintable(f.name));
      }
    }
    // Contacts: 10 inputs x 2 events x (8 relays, 9 slots, 1 message); channels: 8 x 3 x 18
    // and two thresholds each.
    QCOMPARE(settings.value(1), 10 * 2 * 18);
    QCOMPARE(settings.value(2), 8 * (3 * 18 + 2));
    QCOMPARE(settings.value(3), 8 * (3 * 18 + 2));
  }

  void captionGrammar() {
    using trees::RelayState;
    QCOMPARE(trees::relayState(QStringLiteral("3 - Включить")), RelayState::On);
    QCOMPARE(trees::relayState(QStringLiteral("3 - Выключить")), RelayState::Off);
    QCOMPARE(trees::relayState(QStringLiteral("8 - Не изменять")), RelayState::Unchanged);
    QCOMPARE(trees::relayState(QStringLiteral("3 - Включи")), RelayState::Unknown);
    QCOMPARE(trees::relayState(QStringLiteral("Вкл")), RelayState::Unknown);
    QCOMPARE(trees::relayState(QString()), RelayState::Unknown);
    QCOMPARE(trees::withRelayState(QStringLiteral("6 - Не изменять"), RelayState::Off),
             QStringLiteral("6 - Выключить"));
    QCOMPARE(trees::withRelayState(QStringLiteral("6 - Выключить"), RelayState::On),
             QStringLiteral("6 - Включить"));

    QCOMPARE(trees::slotTag(QStringLiteral("4 - Нет")), QStringLiteral(" - Нет"));
    QCOMPARE(trees::slotTarget(QStringLiteral("4 - Нет")), 0);
    QCOMPARE(trees::slotTarget(QStringLiteral("+79161234567 (аб.2)")), 2);
    QCOMPARE(trees::slotTarget(QStringLiteral(" (аб.8)")), 8);  // copied from an empty field
    QCOMPARE(trees::slotTarget(QStringLiteral("+7916 (Д.Ц.)")), 9);
    QCOMPARE(trees::slotTarget(QStringLiteral("(аб.9)")), -1);
    QCOMPARE(trees::slotTarget(QStringLiteral("Нет")), -1);
    QCOMPARE(trees::subscriberSlotCaption(QStringLiteral("+7916"), 5), QStringLiteral("+7916 (аб.5)"));
    QCOMPARE(trees::dispatcherSlotCaption(QStringLiteral("+7916")), QStringLiteral("+7916 (Д.Ц.)"));

    QVERIFY(trees::isThreshold(QStringLiteral("Порог 12,5")));
    QVERIFY(trees::isThreshold(QStringLiteral("Порог")));
    QVERIFY(!trees::isThreshold(QStringLiteral("Пор")));
    QCOMPARE(trees::thresholdValue(QStringLiteral("Порог 12,5")), QStringLiteral("12,5"));
    QCOMPARE(trees::thresholdValue(QStringLiteral("Порог ")), QString());
    QCOMPARE(trees::thresholdValue(QStringLiteral("Порог")), QString());
    QCOMPARE(trees::thresholdCaption(QStringLiteral("-8,3")), QStringLiteral("Порог -8,3"));
  }
};

QTEST_MAIN(TestTrees)
#include "tst_trees.moc"
