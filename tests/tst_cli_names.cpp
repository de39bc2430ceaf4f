// The names dump, diff and set use, against the real main window: every field's tabs, group
// frames and label are the texts the window shows around that control, every control and every
// reaction-tree setting has exactly one name.
#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSet>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTreeWidget>

#include "widgets/EditorWidgets.h"
#include "editor/TreePanel.h"
#include "editor/Unit1.h"
#include "image/FieldNames.h"
#include "testsupport.h"

using fieldnames::Field;
using fieldnames::Kind;

namespace {

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
  for (QGridLayout *g : w->parentWidget()->findChildren<QGridLayout *>()) {
    const int i = g->indexOf(w);
    if (i < 0) continue;
    int r, c, rs, cs;
    g->getItemPosition(i, &r, &c, &rs, &cs);
    return {g, r, c};
  }
  if (auto *g = qobject_cast<QGridLayout *>(w->parentWidget()->layout())) {
    const int i = g->indexOf(w);
    if (i >= 0) {
      int r, c, rs, cs;
      g->getItemPosition(i, &r, &c, &rs, &cs);
      return {g, r, c};
    }
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

class TestCliNames : public QObject {
  Q_OBJECT
  TQuorlan *w = nullptr;

  QWidget *control(const Field &f) {
    switch (f.kind) {
      case Kind::Spin: return w->SpinEdit(f.number);
      case Kind::Text: return w->Edit(f.number);
      case Kind::Check: return w->CheckBox(f.number);
      case Kind::Radio: return w->findChild<QGroupBox *>(QStringLiteral("RadioGroup%1").arg(f.number));
      case Kind::SmsCentre: return w->ComboBox2;
      default: return nullptr;
    }
  }

private slots:
  void initTestCase() {
    testsupport::startWindows();
    w = Quorlan;
    QVERIFY(w);
  }
  void cleanupTestCase() { testsupport::stopWindows(); }
  void init() { testsupport::resetEditor(Quorlan); }

  void namesAreUniqueAndFoundByName() {
    QSet<QString> seen;
    for (const Field &f : fieldnames::allFields()) {
      QVERIFY2(!seen.contains(f.name), qPrintable(f.name));
      seen.insert(f.name);
      QCOMPARE(fieldnames::fieldByName(f.name), &f);
    }
  }

  void pageFieldsCarryTheWindowsTexts() {
    for (const Field &f : fieldnames::allFields()) {
      if (f.node >= 0) continue;
      QWidget *c = control(f);
      QVERIFY2(c, qPrintable(f.name));
      QCOMPARE(tabsAbove(c), f.tabs);
      QCOMPARE(groupsAbove(c), f.groups);
      QLabel *buddy = buddyLabel(w, c);
      if (f.kind == Kind::Radio) {
        QCOMPARE(static_cast<QGroupBox *>(c)->title(), f.label);
      } else if (f.kind == Kind::Check && !buddy) {
        QCOMPARE(static_cast<QCheckBox *>(c)->text(), f.label);
      } else if (f.label.isEmpty()) {
        QVERIFY2(!buddy, qPrintable(f.name + QStringLiteral(": the window labels it ") +
                                    (buddy ? buddy->text() : QString())));
      } else {
        QVERIFY2(buddy, qPrintable(f.name));
        // The first column's label also names the row ("Вход 1    min").
        const QString shown = buddy->text().simplified();
        QVERIFY2(shown == f.label || shown == f.row + QLatin1Char(' ') + f.label,
                 qPrintable(f.name + QStringLiteral(" / ") + buddy->text()));
      }
      if (!f.column.isEmpty()) {
        const Cell cell = cellOf(c);
        QVERIFY2(cell.grid, qPrintable(f.name));
        QCOMPARE(textAt(cell.grid, 0, cell.column), f.column);
        QVERIFY2(textAt(cell.grid, cell.row, 0).simplified().startsWith(f.row), qPrintable(f.name));
      }
    }
  }

  void everyControlHasOneName() {
    QMap<QString, int> count;
    for (const Field &f : fieldnames::allFields())
      if (QWidget *c = control(f)) ++count[c->objectName()];
    for (auto *s : w->findChildren<TSpinEdit *>()) QCOMPARE(count.value(s->objectName()), 1);
    for (auto *e : w->findChildren<QLineEdit *>())
      if (e->objectName().startsWith(QLatin1String("Edit"))) QCOMPARE(count.value(e->objectName()), 1);
    for (auto *b : w->findChildren<QCheckBox *>()) QCOMPARE(count.value(b->objectName()), 1);
    QCOMPARE(count.value(QStringLiteral("RadioGroup1")), 1);
    QCOMPARE(count.value(QStringLiteral("RadioGroup2")), 1);
    QCOMPARE(count.value(QStringLiteral("ComboBox2")), 1);
  }

  void treeFieldsFollowTheTreesCaptions() {
    QMap<int, int> settings;   // tree -> named nodes
    for (const Field &f : fieldnames::allFields()) {
      if (f.node < 0) continue;
      ++settings[f.number];
      QTreeWidget *tree = w->Trees->tree(f.number);
      QVERIFY(tree);
      QCOMPARE(tabsAbove(tree), f.tabs);
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
};

QTEST_MAIN(TestCliNames)
#include "tst_cli_names.moc"
