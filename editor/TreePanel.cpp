#include "editor/TreePanel.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QLayout>
#include <QMenu>
#include <QTreeWidget>

#include "editor/TreePictures.h"
#include "image/ReactionTrees.h"

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

QMenu *makeMenu(QWidget *window, int number) {
  auto *menu = new QMenu(window);
  menu->setObjectName(QStringLiteral("PopupMenu%1").arg(number));
  return menu;
}

TTreeView *buildTree(int tree, QWidget *page, const std::vector<QIcon> &icons) {
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
  if (QLayout *layout = page->layout()) layout->addWidget(v);
  return v;
}

}  // namespace

TTreePanel::TTreePanel(QWidget *window, const std::array<QWidget *, 3> &pages,
                       PhoneNumber phoneNumber)
    : QObject(window), phoneNumber_(std::move(phoneNumber)) {
  for (int t = 0; t < trees::kTreeCount; ++t) {
    QMenu *phone = menus_[3 * t] = makeMenu(window, 3 * t + 1);
    setMenuCaption(phone->addAction(QString()), QStringLiteral("Удалить"));
    for (int n = 0; n < 9; ++n) setMenuCaption(phone->addAction(QString()), QStringLiteral("- Нет -"));
    QMenu *relay = menus_[3 * t + 1] = makeMenu(window, 3 * t + 2);
    for (const QString &word : {trees::kSwitchOn, trees::kSwitchOff, trees::kLeaveAlone})
      setMenuCaption(relay->addAction(QString()), word);
    menus_[3 * t + 2] = makeMenu(window, 3 * t + 3);
  }

  std::vector<QIcon> icons;
  for (int i = 0; i < trees::PictureCount; ++i) icons.push_back(trees::pictureIcon(i));
  for (int t = 1; t <= trees::kTreeCount; ++t) {
    TTreeView *v = buildTree(t, pages[std::size_t(t - 1)], icons);
    v->onContextPopup = [this, t](const QPoint &pos) { emit contextRequested(t, pos); };
    trees_[std::size_t(t - 1)] = v;
    if (QTreeWidgetItem *first = v->topLevelItem(0)) v->setCurrentItem(first);
  }
}

QTreeWidget *TTreePanel::tree(int n) const {
  return n >= 1 && n <= trees::kTreeCount ? trees_[std::size_t(n - 1)] : nullptr;
}

QMenu *TTreePanel::menu(int n) const {
  return n >= 1 && n <= 9 ? menus_[std::size_t(n - 1)] : nullptr;
}

QString TTreePanel::menuCaption(const QAction *item) {
  return item ? item->data().toString() : QString();
}

std::vector<QString> TTreePanel::captions(int tree) const {
  std::vector<QString> out;
  if (const auto *v = static_cast<const TTreeView *>(this->tree(tree))) {
    out.reserve(v->nodes.size());
    for (const QTreeWidgetItem *item : v->nodes) out.push_back(item->text(0));
  }
  return out;
}

void TTreePanel::setCaptions(int tree, const std::vector<QString> &captions) {
  const auto *v = static_cast<const TTreeView *>(this->tree(tree));
  if (!v) return;
  for (std::size_t i = 0; i < captions.size() && i < v->nodes.size(); ++i)
    if (v->nodes[i]->text(0) != captions[i]) v->nodes[i]->setText(0, captions[i]);
}

QTreeWidgetItem *TTreePanel::node(int tree, int index) const {
  const auto *v = static_cast<const TTreeView *>(this->tree(tree));
  if (!v || index < 0 || std::size_t(index) >= v->nodes.size()) return nullptr;
  return v->nodes[std::size_t(index)];
}

QTreeWidgetItem *TTreePanel::selectedNode(int tree) const {
  const QTreeWidget *v = this->tree(tree);
  if (!v) return nullptr;
  const QList<QTreeWidgetItem *> selected = v->selectedItems();
  return selected.isEmpty() ? nullptr : selected.first();
}

QMenu *TTreePanel::attachedMenu(int tree) const {
  const auto *v = static_cast<const TTreeView *>(this->tree(tree));
  return v ? v->attached : nullptr;
}

void TTreePanel::contextPopup(int tree, const QPoint &mousePos) {
  auto *v = static_cast<TTreeView *>(this->tree(tree));
  if (!v) return;
  if (QTreeWidgetItem *under = v->itemAt(mousePos)) v->setCurrentItem(under);
  QTreeWidgetItem *node = selectedNode(tree);
  if (!node) return;

  QMenu *const phone = menu(3 * tree - 2), *const relay = menu(3 * tree - 1);
  QMenu *attach = menu(3 * tree);
  const QString caption = node->text(0);
  const int level = levelOf(node);
  if (level != 3) {
    if (tree != 1 && level == 2 && trees::isThreshold(caption)) {
      dialogTarget_ = tree;
      emit thresholdDialogRequested(trees::thresholdValue(caption));
    }
  } else {
    const QString group = node->parent()->text(0);
    if (group == trees::kRelayGroup) {
      attach = relay;
    } else if (group == trees::kPhoneGroup) {
      const QList<QAction *> items = phone->actions();
      for (int n = 1; n <= 9 && n < items.size(); ++n) {
        const QString number = phoneNumber_ ? phoneNumber_(n) : QString();
        QString text = trees::emptySlotCaption(n);
        if (!number.isEmpty())
          text = n <= 8 ? trees::subscriberSlotCaption(number, n) : trees::dispatcherSlotCaption(number);
        setMenuCaption(items[n], text);
      }
      attach = phone;
    } else if (group == trees::kMessageGroup) {
      dialogTarget_ = tree;
      emit messageDialogRequested(caption);
    }
  }
  v->attached = attach;
  if (attach->actions().isEmpty()) return;
  // From the keyboard the menu opens at the node; from the mouse at the pointer.
  const QPoint at = mousePos == QPoint(-1, -1) ? v->visualItemRect(node).bottomLeft() : mousePos;
  attach->popup(v->viewport()->mapToGlobal(at));
}

void TTreePanel::clearSlot(int tree) {
  if (QTreeWidgetItem *node = selectedNode(tree))
    node->setText(0, trees::emptySlotCaption(placeOf(node)));
}

void TTreePanel::chooseSlot(int tree, int slot) {
  QTreeWidgetItem *node = selectedNode(tree);
  const QMenu *phone = menu(3 * tree - 2);
  if (!node || !phone) return;
  const QList<QAction *> items = phone->actions();
  if (slot < 1 || slot >= items.size()) return;
  const QString entry = menuCaption(items[slot]);
  // An unset entry clears the slot under the slot's own digit, not the entry's.
  node->setText(0, entry == trees::emptySlotCaption(slot) ? trees::emptySlotCaption(placeOf(node)) : entry);
}

void TTreePanel::setRelay(int tree, const QString &stateWord) {
  if (QTreeWidgetItem *node = selectedNode(tree))
    node->setText(0, trees::relayStateCaption(placeOf(node), stateWord));
}

void TTreePanel::messageAccepted(const QString &text) {
  if (QTreeWidgetItem *node = selectedNode(dialogTarget_)) node->setText(0, text);
}

void TTreePanel::thresholdAccepted(const QString &value) {
  // The contact tree has no thresholds: target 1 writes nothing.
  if (dialogTarget_ != 2 && dialogTarget_ != 3) return;
  if (QTreeWidgetItem *node = selectedNode(dialogTarget_))
    node->setText(0, trees::thresholdCaption(value));
}
