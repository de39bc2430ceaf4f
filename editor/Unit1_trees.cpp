// The main window's side of the reaction trees: the panel is built into the three pages, its
// menus' items call the window's handlers, and each handler hands over to the panel.
#include <QAction>
#include <QEvent>
#include <QLineEdit>
#include <QMenu>

#include "editor/TreePanel.h"
#include "editor/Unit1.h"
#include "image/ControlTable.h"
#include "image/ReactionTrees.h"
#include "widgets/FieldChecks.h"
#include "widgets/FormKit.h"

void TQuorlan::buildTrees() {
  Trees = new TTreePanel(this, {treePage1, treePage2, treePage3}, [this](int slot) {
    const QLineEdit *field = slot >= 1 && slot <= 9 ? phoneEdits[std::size_t(slot - 1)] : nullptr;
    return field ? field->text() : QString();
  });
  TreeView1 = Trees->tree(1);
  TreeView2 = Trees->tree(2);
  TreeView3 = Trees->tree(3);
  QMenu **menus[9] = {&PopupMenu1, &PopupMenu2, &PopupMenu3, &PopupMenu4, &PopupMenu5,
                      &PopupMenu6, &PopupMenu7, &PopupMenu8, &PopupMenu9};
  for (int n = 1; n <= 9; ++n) *menus[n - 1] = Trees->menu(n);
  // Per tree the telephone menu's items (clear, slots 1..9), then the relay menu's three, are
  // N12..N24, N110 and N25..N36, N37..N49, each calling its own handler.
  using Handler = void (TQuorlan::*)();
  static constexpr Handler kHandlers[trees::kTreeCount][13] = {
      {&TQuorlan::N12Click, &TQuorlan::N13Click, &TQuorlan::N14Click, &TQuorlan::N15Click,
       &TQuorlan::N16Click, &TQuorlan::N17Click, &TQuorlan::N18Click, &TQuorlan::N19Click,
       &TQuorlan::N20Click, &TQuorlan::N21Click, &TQuorlan::N22Click, &TQuorlan::N23Click,
       &TQuorlan::N24Click},
      {&TQuorlan::N110Click, &TQuorlan::N25Click, &TQuorlan::N26Click, &TQuorlan::N27Click,
       &TQuorlan::N28Click, &TQuorlan::N29Click, &TQuorlan::N30Click, &TQuorlan::N31Click,
       &TQuorlan::N32Click, &TQuorlan::N33Click, &TQuorlan::N34Click, &TQuorlan::N35Click,
       &TQuorlan::N36Click},
      {&TQuorlan::N37Click, &TQuorlan::N38Click, &TQuorlan::N39Click, &TQuorlan::N40Click,
       &TQuorlan::N41Click, &TQuorlan::N42Click, &TQuorlan::N43Click, &TQuorlan::N44Click,
       &TQuorlan::N45Click, &TQuorlan::N46Click, &TQuorlan::N47Click, &TQuorlan::N48Click,
       &TQuorlan::N49Click},
  };
  for (int t = 1; t <= trees::kTreeCount; ++t) {
    const QList<QAction *> items = Trees->menu(3 * t - 2)->actions() + Trees->menu(3 * t - 1)->actions();
    Q_ASSERT(items.size() == 13);
    for (int i = 0; i < items.size() && i < 13; ++i) {
      const int n = t == 1 ? 12 + i : t == 3 ? 37 + i : i == 0 ? 110 : 24 + i;
      items[i]->setObjectName(QStringLiteral("N%1").arg(n));
      connect(items[i], &QAction::triggered, this, kHandlers[t - 1][i]);
    }
  }
  connect(Trees, &TTreePanel::contextRequested, this, [this](int tree, const QPoint &pos) {
    switch (tree) {
      case 1: TreeView1ContextPopup(pos); break;
      case 2: TreeView2ContextPopup(pos); break;
      default: TreeView3ContextPopup(pos); break;
    }
  });
  connect(Trees, &TTreePanel::messageDialogRequested, this, &TQuorlan::messageDialogRequested);
  connect(Trees, &TTreePanel::thresholdDialogRequested, this, &TQuorlan::thresholdDialogRequested);

  // The telephone check after every key released in a number field.
  for (const auto &f : controls::textFields()) {
    if (!f.phone) continue;
    QLineEdit *edit = Edit(f.number);
    formkit::watch(this, edit, [this, edit](QEvent *e) { if (e->type() == QEvent::KeyRelease) Edit3KeyUp(edit); });
  }
}

void TQuorlan::TreeView1ContextPopup(const QPoint &mousePos) { Trees->contextPopup(1, mousePos); }
void TQuorlan::TreeView2ContextPopup(const QPoint &mousePos) { Trees->contextPopup(2, mousePos); }
void TQuorlan::TreeView3ContextPopup(const QPoint &mousePos) { Trees->contextPopup(3, mousePos); }

void TQuorlan::SMSAccepted(const QString &text) {
  buildPendingPages();
  Trees->messageAccepted(text);
}
void TQuorlan::Form3Accepted(const QString &value) {
  buildPendingPages();
  Trees->thresholdAccepted(value);
}

void TQuorlan::Edit3KeyUp(QLineEdit *sender) { if (sender) fieldcheck::refusePhone(this, sender); }

void TQuorlan::N12Click() { Trees->clearSlot(1); }
void TQuorlan::N13Click() { Trees->chooseSlot(1, 1); }
void TQuorlan::N14Click() { Trees->chooseSlot(1, 2); }
void TQuorlan::N15Click() { Trees->chooseSlot(1, 3); }
void TQuorlan::N16Click() { Trees->chooseSlot(1, 4); }
void TQuorlan::N17Click() { Trees->chooseSlot(1, 5); }
void TQuorlan::N18Click() { Trees->chooseSlot(1, 6); }
void TQuorlan::N19Click() { Trees->chooseSlot(1, 7); }
void TQuorlan::N20Click() { Trees->chooseSlot(1, 8); }
void TQuorlan::N21Click() { Trees->chooseSlot(1, 9); }
void TQuorlan::N22Click() { Trees->setRelay(1, trees::kSwitchOn); }
void TQuorlan::N23Click() { Trees->setRelay(1, trees::kSwitchOff); }
void TQuorlan::N24Click() { Trees->setRelay(1, trees::kLeaveAlone); }

void TQuorlan::N110Click() { Trees->clearSlot(2); }
void TQuorlan::N25Click() { Trees->chooseSlot(2, 1); }
void TQuorlan::N26Click() { Trees->chooseSlot(2, 2); }
void TQuorlan::N27Click() { Trees->chooseSlot(2, 3); }
void TQuorlan::N28Click() { Trees->chooseSlot(2, 4); }
void TQuorlan::N29Click() { Trees->chooseSlot(2, 5); }
void TQuorlan::N30Click() { Trees->chooseSlot(2, 6); }
void TQuorlan::N31Click() { Trees->chooseSlot(2, 7); }
void TQuorlan::N32Click() { Trees->chooseSlot(2, 8); }
void TQuorlan::N33Click() { Trees->chooseSlot(2, 9); }
void TQuorlan::N34Click() { Trees->setRelay(2, trees::kSwitchOn); }
void TQuorlan::N35Click() { Trees->setRelay(2, trees::kSwitchOff); }
void TQuorlan::N36Click() { Trees->setRelay(2, trees::kLeaveAlone); }

void TQuorlan::N37Click() { Trees->clearSlot(3); }
void TQuorlan::N38Click() { Trees->chooseSlot(3, 1); }
void TQuorlan::N39Click() { Trees->chooseSlot(3, 2); }
void TQuorlan::N40Click() { Trees->chooseSlot(3, 3); }
void TQuorlan::N41Click() { Trees->chooseSlot(3, 4); }
void TQuorlan::N42Click() { Trees->chooseSlot(3, 5); }
void TQuorlan::N43Click() { Trees->chooseSlot(3, 6); }
void TQuorlan::N44Click() { Trees->chooseSlot(3, 7); }
void TQuorlan::N45Click() { Trees->chooseSlot(3, 8); }
void TQuorlan::N46Click() { Trees->chooseSlot(3, 9); }
void TQuorlan::N47Click() { Trees->setRelay(3, trees::kSwitchOn); }
void TQuorlan::N48Click() { Trees->setRelay(3, trees::kSwitchOff); }
void TQuorlan::N49Click() { Trees->setRelay(3, trees::kLeaveAlone); }
