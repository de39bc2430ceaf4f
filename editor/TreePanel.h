#pragma once
// The three reaction trees of the main window with their nine context menus: building, node
// lookup, the context requests, the menu commands, the value dialogs' target, and the rules
// by which those write captions. The window lays down the pages and keeps the handlers; the
// panel does the work.

#include <QObject>
#include <QString>
#include <array>
#include <functional>
#include <vector>

class QAction;
class QMenu;
class QPoint;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

class TTreePanel : public QObject {
  Q_OBJECT
public:
  // The number in telephone field `slot` (1..8 subscribers, 9 the dispatcher), empty if none.
  using PhoneNumber = std::function<QString(int slot)>;

  // Builds the trees into the three pages (each with a layout) and the menus, all owned by
  // `window`; the first node of each tree is selected.
  TTreePanel(QWidget *window, const std::array<QWidget *, 3> &pages, PhoneNumber phoneNumber);

  QTreeWidget *tree(int n) const;                        // 1..3, else null
  QMenu *menu(int n) const;                              // PopupMenu1..9, else null
  // Menus of tree t: 3t-2 telephone (clear, slots 1..9), 3t-1 relay (on, off, unchanged), 3t
  // empty. Item captions are held verbatim in QAction::data().
  static QString menuCaption(const QAction *item);

  // Captions in pre-order; setting writes only those that differ, and never past the tree.
  std::vector<QString> captions(int tree) const;
  void setCaptions(int tree, const std::vector<QString> &captions);
  QTreeWidgetItem *node(int tree, int index) const;      // absolute pre-order index
  QTreeWidgetItem *selectedNode(int tree) const;         // the node menus and dialogs act on
  QMenu *attachedMenu(int tree) const;                   // the menu the last request attached

  // A context request; mousePos in the tree's viewport coordinates, (-1,-1) from the keyboard.
  void contextPopup(int tree, const QPoint &mousePos);

  // The menu commands, on the selected node of their tree.
  void clearSlot(int tree);
  void chooseSlot(int tree, int slot);                   // 1..9
  void setRelay(int tree, const QString &stateWord);

  // The tree whose selected node a value dialog's OK writes into (0: none).
  int dialogTarget() const { return dialogTarget_; }
  void setDialogTarget(int tree) { dialogTarget_ = tree; }
  void messageAccepted(const QString &text);
  void thresholdAccepted(const QString &value);

signals:
  // A tree received a context request (its handler decides what to do with it).
  void contextRequested(int tree, const QPoint &mousePos);
  // A message or threshold node asks for its dialog, opened with the node's text or value.
  void messageDialogRequested(const QString &text);
  void thresholdDialogRequested(const QString &value);

private:
  std::array<QTreeWidget *, 3> trees_{};
  std::array<QMenu *, 9> menus_{};
  PhoneNumber phoneNumber_;
  int dialogTarget_ = 0;
};
