#pragma once
// Small builders the windows lay their pages out with: labels that name their field, grids of
// labelled fields, menu items under an object name, and an event hook.

#include <QAction>
#include <QList>
#include <QMenu>
#include <QPair>
#include <QString>
#include <functional>

class QEvent;
class QGridLayout;
class QLabel;
class QTabWidget;
class QWidget;

namespace formkit {

// Plain text, so nothing in it is taken for markup; Alt + its letter focuses `buddy`.
QLabel *label(const QString &text, QWidget *buddy, QWidget *parent);

// A tab widget filling `page` (margins 2) under the given object name.
QTabWidget *tabsIn(QWidget *page, const QString &objectName);

// Label and field pairs going down columns of `rows` rows: the i-th pair at row i % rows,
// columns 2 * (i / rows) and the one after.
using Fields = QList<QPair<QString, QWidget *>>;
void fieldColumns(QGridLayout *grid, QWidget *labelParent, const Fields &fields, int rows);

template <class Receiver, class Slot>
QAction *menuItem(QMenu *menu, const char *objectName, const QString &text, Receiver *receiver,
                  Slot slot) {
  QAction *item = menu->addAction(text, receiver, slot);
  item->setObjectName(QString::fromLatin1(objectName));
  return item;
}

// Shows `seen` every event `watched` receives before `watched` handles it, for as long as
// `owner` lives.
void watch(QObject *owner, QObject *watched, std::function<void(QEvent *)> seen);

}  // namespace formkit
