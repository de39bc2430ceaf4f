// The three reaction trees of the main window: building, node lookup, context requests and
// their menus, and the character check of the telephone fields that feed the menus.
#include <QAction>
#include <QContextMenuEvent>
#include <QEvent>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QTreeWidget>
#include <functional>
#include <vector>

#include "editor/FieldChecks.h"
#include "editor/MessageBoxes.h"
#include "image/ReactionTrees.h"
#include "editor/TreePictures.h"
#include "editor/Unit1.h"
#include "editor/Unit2.h"
#include "editor/Unit3.h"

namespace {

// A reaction tree: keeps its pre-order node index (the shape never changes after building)
// and the menu the last context request attached.
class TTreeView : public QTreeWidget {
public:
  explicit TTreeView(QWidget *parent) : QTreeWidget(parent) {}

  std::vector<QTreeWidgetItem *> nodes;
  QMenu *attached = nullptr;
  std::function<void(const QPoint &)> onContextPopup;

protected:
  void contextMenuEvent(QContextMenuEvent *event) override {
    event->accept();
    if (!onContextPopup) return;
    // A mouse request arrives in viewport coordinates; one from the keyboard names no place.
    onContextPopup(event->reason() == QContextMenuEvent::Mouse ? event->pos() : QPoint(-1, -1));
  }
};

TTreeView *view(const TQuorlan *w, int tree) { return static_cast<TTreeView *>(w->tree(tree)); }

int levelOf(const QTreeWidgetItem *item) {
  int level = 0;
  for (const QTreeWidgetItem *p = item->parent(); p; p = p->parent()) ++level;
  return level;
}

// 1-based place among its siblings: the digit relay and slot captions begin with.
int placeOf(QTreeWidgetItem *item) {
  if (QTreeWidgetItem *parent = item->parent()) return parent->indexOfChild(item) + 1;
  return item->treeWidget() ? item->treeWidget()->indexOfTopLevelItem(item) + 1 : 0;
}

void setMenuCaption(QAction *item, const QString &caption) {
  item->setData(caption);
  // Shown literally: no mnemonic from "&", no shortcut column from a tab.
  QString shown = caption;
  shown.replace(QLatin1Char('&'), QStringLiteral("&&")).replace(QLatin1Char('\t'), QLatin1Char(' '));
  item->setText(shown);
}

QAction *addItem(QMenu *menu, const QString &caption, TQuorlan *w, void (TQuorlan::*handler)()) {
  QAction *item = menu->addAction(QString());
  setMenuCaption(item, caption);
  QObject::connect(item, &QAction::triggered, w, handler);
  return item;
}

QMenu *makeMenu(TQuorlan *w, int number) {
  auto *menu = new QMenu(w);
  menu->setObjectName(QStringLiteral("PopupMenu%1").arg(number));
  return menu;
}

using Handler = void (TQuorlan::*)();

struct TreeMenus {
  QMenu *phone, *relay, *empty;
};

TreeMenus menusOf(const TQuorlan *w, int tree) {
  switch (tree) {
    case 1: return {w->PopupMenu1, w->PopupMenu2, w->PopupMenu3};
    case 2: return {w->PopupMenu4, w->PopupMenu5, w->PopupMenu6};
    case 3: return {w->PopupMenu7, w->PopupMenu8, w->PopupMenu9};
    default: return {nullptr, nullptr, nullptr};
  }
}

// Menus of one tree: telephone (clear, slots 1..9), relay (on, off, unchanged), empty.
void buildMenus(TQuorlan *w, int firstNumber, QMenu *&phone, QMenu *&relay, QMenu *&empty,
                Handler clear, const Handler (&slotHandlers)[9], const Handler (&relays)[3]) {
  phone = makeMenu(w, firstNumber);
  addItem(phone, QStringLiteral("Удалить"), w, clear);
  for (int n = 0; n < 9; ++n) addItem(phone, QStringLiteral("- Нет -"), w, slotHandlers[n]);
  relay = makeMenu(w, firstNumber + 1);
  addItem(relay, trees::kSwitchOn, w, relays[0]);
  addItem(relay, trees::kSwitchOff, w, relays[1]);
  addItem(relay, trees::kLeaveAlone, w, relays[2]);
  empty = makeMenu(w, firstNumber + 2);
}

TTreeView *buildTree(TQuorlan *w, int tree, QWidget *page, const std::vector<QIcon> &icons) {
  auto *v = new TTreeView(page);
  v->setObjectName(QStringLiteral("TreeView%1").arg(tree));
  v->setColumnCount(1);
  v->setHeaderHidden(true);
  v->setEditTriggers(QAbstractItemView::NoEditTriggers);
  v->setSortingEnabled(false);
  v->setSelectionMode(QAbstractItemView::SingleSelection);
  v->setUniformRowHeights(true);
  v->setIconSize(QSize(trees::kPictureSize, trees::kPictureSize));
  v->setContextMenuPolicy(Qt::DefaultContextMenu);

  // Items are linked up before they enter the view, so the view sees four insertions of
  // whole subtrees per tree rather than 1554 single ones.
  const std::vector<trees::StartupNode> startup = trees::startupNodes(tree);
  v->nodes.reserve(startup.size());
  QList<QTreeWidgetItem *> roots;
  QTreeWidgetItem *parents[4] = {};
  for (const trees::StartupNode &s : startup) {
    auto *item = new QTreeWidgetItem(QStringList(s.caption));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setData(0, trees::kPictureRole, s.picture);
    if (s.picture >= 0 && s.picture < int(icons.size())) item->setIcon(0, icons[s.picture]);
    if (s.level == 0)
      roots.append(item);
    else
      parents[s.level - 1]->addChild(item);
    if (s.level < 3) parents[s.level] = item;
    v->nodes.push_back(item);
  }
  v->addTopLevelItems(roots);
  v->onContextPopup = [w, tree](const QPoint &pos) {
    switch (tree) {
      case 1: w->TreeView1ContextPopup(pos); break;
      case 2: w->TreeView2ContextPopup(pos); break;
      default: w->TreeView3ContextPopup(pos); break;
    }
  };
  if (QLayout *layout = page->layout())
    layout->addWidget(v);
  return v;
}

// What a context request does, shared by the three trees.
void contextPopup(TQuorlan *w, int tree, const QPoint &mousePos) {
  TTreeView *v = view(w, tree);
  if (!v) return;
  if (QTreeWidgetItem *under = v->itemAt(mousePos)) v->setCurrentItem(under);
  QTreeWidgetItem *node = w->selectedNode(tree);
  if (!node) return;

  const TreeMenus menus = menusOf(w, tree);
  QMenu *attach = menus.empty;
  const QString caption = node->text(0);
  const int level = levelOf(node);
  if (level != 3) {
    if (tree != 1 && level == 2 && trees::isThreshold(caption) && Form3) {
      w->DialogTarget = tree;
      Form3->Edit1->setText(trees::thresholdValue(caption));
      if (!Form3->isVisible()) Form3->exec();
    }
  } else {
    const QString group = node->parent()->text(0);
    if (group == trees::kRelayGroup) {
      attach = menus.relay;
    } else if (group == trees::kPhoneGroup) {
      const QList<QAction *> items = menus.phone->actions();
      for (int n = 1; n <= 9 && n < items.size(); ++n) {
        QString text = trees::emptySlotCaption(n);
        const QLineEdit *field = w->phoneEdits[n - 1];
        const QString number = field ? field->text() : QString();
        if (!number.isEmpty())
          text = n <= 8 ? trees::subscriberSlotCaption(number, n) : trees::dispatcherSlotCaption(number);
        setMenuCaption(items[n], text);
      }
      attach = menus.phone;
    } else if (group == trees::kMessageGroup && SMS) {
      w->DialogTarget = tree;
      SMS->Edit21->setText(caption);
      if (!SMS->isVisible()) SMS->exec();
    }
  }
  v->attached = attach;
  if (attach->actions().isEmpty()) return;
  // From the keyboard the menu opens at the node; from the mouse at the pointer.
  const QPoint at = mousePos == QPoint(-1, -1) ? v->visualItemRect(node).bottomLeft() : mousePos;
  attach->popup(v->viewport()->mapToGlobal(at));
}

}  // namespace

void TQuorlan::SMSAccepted(const QString &text) {
  if (QTreeWidgetItem *node = selectedNode(DialogTarget)) node->setText(0, text);
}

void TQuorlan::Form3Accepted(const QString &value) {
  // The contact tree has no thresholds: target 1 writes nothing.
  if (DialogTarget != 2 && DialogTarget != 3) return;
  if (QTreeWidgetItem *node = selectedNode(DialogTarget))
    node->setText(0, trees::thresholdCaption(value));
}

namespace {

// Menu commands act on the selected node of their own tree.
void clearSlot(TQuorlan *w, int tree) {
  if (QTreeWidgetItem *node = w->selectedNode(tree))
    node->setText(0, trees::emptySlotCaption(placeOf(node)));
}

void chooseSlot(TQuorlan *w, int tree, int n) {
  QTreeWidgetItem *node = w->selectedNode(tree);
  const QList<QAction *> items = menusOf(w, tree).phone->actions();
  if (!node || n >= items.size()) return;
  const QString entry = TQuorlan::menuCaption(items[n]);
  // An unset entry clears the slot under the slot's own digit, not the entry's.
  node->setText(0, entry == trees::emptySlotCaption(n) ? trees::emptySlotCaption(placeOf(node)) : entry);
}

void setRelay(TQuorlan *w, int tree, const QString &stateWord) {
  if (QTreeWidgetItem *node = w->selectedNode(tree))
    node->setText(0, trees::relayStateCaption(placeOf(node), stateWord));
}

// Runs the telephone check after every key release in one of the nine number fields.
class TPhoneKeyFilter : public QObject {
public:
  explicit TPhoneKeyFilter(TQuorlan *w) : QObject(w), w_(w) {}

protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::KeyRelease)
      if (auto *edit = qobject_cast<QLineEdit *>(watched)) w_->Edit3KeyUp(edit);
    return false;
  }

private:
  TQuorlan *w_;
};

}  // namespace

void TQuorlan::buildTrees() {
  // Built once: a second call would leave the menus' actions and the node index doubled.
  if (TreeView1) return;
  std::vector<QIcon> icons;
  for (int i = 0; i < trees::PictureCount; ++i) icons.push_back(trees::pictureIcon(i));

  const Handler slots1[9] = {&TQuorlan::N13Click, &TQuorlan::N14Click, &TQuorlan::N15Click,
                             &TQuorlan::N16Click, &TQuorlan::N17Click, &TQuorlan::N18Click,
                             &TQuorlan::N19Click, &TQuorlan::N20Click, &TQuorlan::N21Click};
  const Handler slots2[9] = {&TQuorlan::N25Click, &TQuorlan::N26Click, &TQuorlan::N27Click,
                             &TQuorlan::N28Click, &TQuorlan::N29Click, &TQuorlan::N30Click,
                             &TQuorlan::N31Click, &TQuorlan::N32Click, &TQuorlan::N33Click};
  const Handler slots3[9] = {&TQuorlan::N38Click, &TQuorlan::N39Click, &TQuorlan::N40Click,
                             &TQuorlan::N41Click, &TQuorlan::N42Click, &TQuorlan::N43Click,
                             &TQuorlan::N44Click, &TQuorlan::N45Click, &TQuorlan::N46Click};
  const Handler relays1[3] = {&TQuorlan::N22Click, &TQuorlan::N23Click, &TQuorlan::N24Click};
  const Handler relays2[3] = {&TQuorlan::N34Click, &TQuorlan::N35Click, &TQuorlan::N36Click};
  const Handler relays3[3] = {&TQuorlan::N47Click, &TQuorlan::N48Click, &TQuorlan::N49Click};
  buildMenus(this, 1, PopupMenu1, PopupMenu2, PopupMenu3, &TQuorlan::N12Click, slots1, relays1);
  buildMenus(this, 4, PopupMenu4, PopupMenu5, PopupMenu6, &TQuorlan::N110Click, slots2, relays2);
  buildMenus(this, 7, PopupMenu7, PopupMenu8, PopupMenu9, &TQuorlan::N37Click, slots3, relays3);

  TreeView1 = buildTree(this, 1, treePage1, icons);
  TreeView2 = buildTree(this, 2, treePage2, icons);
  TreeView3 = buildTree(this, 3, treePage3, icons);

  auto *filter = new TPhoneKeyFilter(this);
  for (QLineEdit *edit : phoneEdits)
    if (edit) edit->installEventFilter(filter);
}

void TQuorlan::selectFirstNodes() {
  for (int t = 1; t <= trees::kTreeCount; ++t)
    if (QTreeWidget *v = tree(t))
      if (QTreeWidgetItem *first = v->topLevelItem(0)) v->setCurrentItem(first);
}

QTreeWidget *TQuorlan::tree(int n) const {
  switch (n) {
    case 1: return TreeView1;
    case 2: return TreeView2;
    case 3: return TreeView3;
    default: return nullptr;
  }
}

QTreeWidgetItem *TQuorlan::treeNode(int tree, int index) const {
  const TTreeView *v = view(this, tree);
  if (!v || index < 0 || std::size_t(index) >= v->nodes.size()) return nullptr;
  return v->nodes[std::size_t(index)];
}

QTreeWidgetItem *TQuorlan::selectedNode(int tree) const {
  const QTreeWidget *v = this->tree(tree);
  if (!v) return nullptr;
  const QList<QTreeWidgetItem *> selected = v->selectedItems();
  return selected.isEmpty() ? nullptr : selected.first();
}

QString TQuorlan::menuCaption(const QAction *item) {
  return item ? item->data().toString() : QString();
}

QMenu *TQuorlan::attachedMenu(int tree) const {
  const TTreeView *v = view(this, tree);
  return v ? v->attached : nullptr;
}

void TQuorlan::TreeView1ContextPopup(const QPoint &mousePos) { contextPopup(this, 1, mousePos); }
void TQuorlan::TreeView2ContextPopup(const QPoint &mousePos) { contextPopup(this, 2, mousePos); }
void TQuorlan::TreeView3ContextPopup(const QPoint &mousePos) { contextPopup(this, 3, mousePos); }

void TQuorlan::Edit3KeyUp(QLineEdit *sender) {
  if (!sender) return;
  const fieldcheck::Result r = fieldcheck::phone(sender->text());
  if (!r.refused) return;
  errorBox(this, fieldcheck::kPhoneMessage);
  sender->setText(r.text);
}

void TQuorlan::N12Click() { clearSlot(this, 1); }
void TQuorlan::N13Click() { chooseSlot(this, 1, 1); }
void TQuorlan::N14Click() { chooseSlot(this, 1, 2); }
void TQuorlan::N15Click() { chooseSlot(this, 1, 3); }
void TQuorlan::N16Click() { chooseSlot(this, 1, 4); }
void TQuorlan::N17Click() { chooseSlot(this, 1, 5); }
void TQuorlan::N18Click() { chooseSlot(this, 1, 6); }
void TQuorlan::N19Click() { chooseSlot(this, 1, 7); }
void TQuorlan::N20Click() { chooseSlot(this, 1, 8); }
void TQuorlan::N21Click() { chooseSlot(this, 1, 9); }
void TQuorlan::N22Click() { setRelay(this, 1, trees::kSwitchOn); }
void TQuorlan::N23Click() { setRelay(this, 1, trees::kSwitchOff); }
void TQuorlan::N24Click() { setRelay(this, 1, trees::kLeaveAlone); }

void TQuorlan::N110Click() { clearSlot(this, 2); }
void TQuorlan::N25Click() { chooseSlot(this, 2, 1); }
void TQuorlan::N26Click() { chooseSlot(this, 2, 2); }
void TQuorlan::N27Click() { chooseSlot(this, 2, 3); }
void TQuorlan::N28Click() { chooseSlot(this, 2, 4); }
void TQuorlan::N29Click() { chooseSlot(this, 2, 5); }
void TQuorlan::N30Click() { chooseSlot(this, 2, 6); }
void TQuorlan::N31Click() { chooseSlot(this, 2, 7); }
void TQuorlan::N32Click() { chooseSlot(this, 2, 8); }
void TQuorlan::N33Click() { chooseSlot(this, 2, 9); }
void TQuorlan::N34Click() { setRelay(this, 2, trees::kSwitchOn); }
void TQuorlan::N35Click() { setRelay(this, 2, trees::kSwitchOff); }
void TQuorlan::N36Click() { setRelay(this, 2, trees::kLeaveAlone); }

void TQuorlan::N37Click() { clearSlot(this, 3); }
void TQuorlan::N38Click() { chooseSlot(this, 3, 1); }
void TQuorlan::N39Click() { chooseSlot(this, 3, 2); }
void TQuorlan::N40Click() { chooseSlot(this, 3, 3); }
void TQuorlan::N41Click() { chooseSlot(this, 3, 4); }
void TQuorlan::N42Click() { chooseSlot(this, 3, 5); }
void TQuorlan::N43Click() { chooseSlot(this, 3, 6); }
void TQuorlan::N44Click() { chooseSlot(this, 3, 7); }
void TQuorlan::N45Click() { chooseSlot(this, 3, 8); }
void TQuorlan::N46Click() { chooseSlot(this, 3, 9); }
void TQuorlan::N47Click() { setRelay(this, 3, trees::kSwitchOn); }
void TQuorlan::N48Click() { setRelay(this, 3, trees::kSwitchOff); }
void TQuorlan::N49Click() { setRelay(this, 3, trees::kLeaveAlone); }
