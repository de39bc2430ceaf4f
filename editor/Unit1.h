#pragma once
// Main window: the configuration editor. Its controls are the configuration; the two image
// buffers live here too. The reaction trees (TTreePanel) and the exchange with the controller
// (TExchangePanel) are panels its handlers hand over to.

#include <QMainWindow>
#include <array>
#include <functional>
#include <vector>

#include "image/ConfigImageTypes.h"
#include "image/ConfigValue.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QStatusBar;
class QTabWidget;
class QTimer;
class QTreeWidget;
class TExchangeJournal;
class TExchangePanel;
class TLink;
class TProgress;
class TRadioGroup;
class TSmsCentreBox;
class TSpinEdit;
class TTreePanel;

class TQuorlan : public QMainWindow {
  Q_OBJECT
public:
  // The window talks to the controller through `link`, which stays its giver's: the program's
  // start-up hands it the link on the system's ports, a test one of its own. Building it leaves
  // the progress window alone: that one is made after it and handed over with setProgress()
  // before the window is shown.
  // With `hiddenPagesLater` (the program's start-up), the pages no tab shows at first are built
  // after the window's first paint, or before that by buildPendingPages().
  explicit TQuorlan(TLink &link, QWidget *parent = nullptr, bool hiddenPagesLater = false);
  ~TQuorlan() override;
  // Where the window shows its long operations from now on; it stays its giver's. Without
  // one the window makes a progress window of its own when it first needs it.
  void setProgress(TProgress *progress);

  // ---- editor controls (first tab) ----
  QTabWidget *PageControl1 = nullptr;   // top tabs
  QTabWidget *PageControl2 = nullptr;   // the sensors' tabs
  QTabWidget *PageControl3 = nullptr;   // the delays' tabs
  QLineEdit *Edit1 = nullptr;           // object name
  QLineEdit *Edit2 = nullptr;           // password
  std::array<QLineEdit *, 9> phoneEdits{};  // Edit3..Edit11
  QLineEdit *Edit12 = nullptr;          // master key
  std::array<QLineEdit *, 8> sensorIdEdits{};  // Edit13..Edit20
  std::array<QLineEdit *, 8> unitEdits{};      // Edit21..Edit28
  TSmsCentreBox *ComboBox2 = nullptr;
  QComboBox *ComboBox1 = nullptr;       // port picker
  QLabel *Label39 = nullptr, *Label40 = nullptr, *Label41 = nullptr;
  QWidget *Panel2 = nullptr;
  TRadioGroup *RadioGroup1 = nullptr, *RadioGroup2 = nullptr;
  QWidget *Button1 = nullptr;           // "Считать" (master key)
  QWidget *Button3 = nullptr;           // "Считать ID"
  QStatusBar *StatusBar1 = nullptr;

  // Builds the pages left for after the first paint, now. Whatever reads or writes the editor
  // (the accessors below, the codec, the files, the trees' dialogs, a tab opened) calls it
  // first; it does nothing once they stand.
  void buildPendingPages();

  // Spin fields and check boxes by their number: SpinEdit(n), CheckBox(n).
  TSpinEdit *SpinEdit(int n) const { pagesNeeded(); return spinEdits_.at(n); }
  QCheckBox *CheckBox(int n) const { pagesNeeded(); return checkBoxes_.at(n); }
  QLineEdit *Edit(int n) const { pagesNeeded(); return edits_.at(n); }   // Edit1..Edit28

  // ---- menu ----
  QMenu *N1 = nullptr;                  // "Файл"
  QMenu *N5 = nullptr;                  // "Обмен с контроллером"
  QMenu *N10 = nullptr;                 // "Справка"
  QAction *mmOpen = nullptr, *mmSave = nullptr, *N4 = nullptr;
  QAction *N6 = nullptr, *N7 = nullptr, *N8 = nullptr, *N9 = nullptr, *N11 = nullptr;
  QAction *mmJournal = nullptr;         // "Журнал обменов…"; absent in a build without the journal
  QTimer *Timer1 = nullptr;             // 50 ms one-shot SMS centre check

  // ---- reaction trees (pages are laid down by the window, the panel fills them) ----
  QWidget *treePage1 = nullptr, *treePage2 = nullptr, *treePage3 = nullptr;
  TTreePanel *Trees = nullptr;          // the trees, their menus and the dialogs' target
  TExchangePanel *Exchange = nullptr;   // the port, the exchange menu and what the link reports
  TExchangeJournal *Journal = nullptr;  // records the reads and writes; null without the journal
  QTreeWidget *TreeView1 = nullptr, *TreeView2 = nullptr, *TreeView3 = nullptr;
  // Context menus: telephone, relay and empty menu of TreeView1 (1..3), TreeView2 (4..6) and
  // TreeView3 (7..9).
  QMenu *PopupMenu1 = nullptr, *PopupMenu2 = nullptr, *PopupMenu3 = nullptr;
  QMenu *PopupMenu4 = nullptr, *PopupMenu5 = nullptr, *PopupMenu6 = nullptr;
  QMenu *PopupMenu7 = nullptr, *PopupMenu8 = nullptr, *PopupMenu9 = nullptr;
  // Context requests; mousePos in the tree's viewport coordinates, (-1,-1) from the keyboard.
  void TreeView1ContextPopup(const QPoint &mousePos);
  void TreeView2ContextPopup(const QPoint &mousePos);
  void TreeView3ContextPopup(const QPoint &mousePos);
  void Edit3KeyUp(QLineEdit *sender);                   // character check of Edit3..Edit11
  // What the SMS and threshold dialogs report on OK, written into the selected node of the
  // tree their request came from.
  void SMSAccepted(const QString &text);
  void Form3Accepted(const QString &value);
public slots:
  void N12Click();  void N13Click();  void N14Click();  void N15Click();  void N16Click();
  void N17Click();  void N18Click();  void N19Click();  void N20Click();  void N21Click();
  void N22Click();  void N23Click();  void N24Click();
  void N110Click(); void N25Click();  void N26Click();  void N27Click();  void N28Click();
  void N29Click();  void N30Click();  void N31Click();  void N32Click();  void N33Click();
  void N34Click();  void N35Click();  void N36Click();
  void N37Click();  void N38Click();  void N39Click();  void N40Click();  void N41Click();
  void N42Click();  void N43Click();  void N44Click();  void N45Click();  void N46Click();
  void N47Click();  void N48Click();  void N49Click();

signals:
  // A tree's message or threshold node asks for its dialog; start-up opens it.
  void messageDialogRequested(const QString &text);
  void thresholdDialogRequested(const QString &value);
  // "Текущее состояние и управление": start-up shows the state window.
  void stateWindowRequested();

public:
  // ---- image buffers: what a write or a save takes, what a read or an open brought ----
  ConfigImageBytes OutgoingImage{};
  ConfigImageBytes IncomingImage{};
  // The file opened or saved last and its image: a write of that same image is journaled as
  // coming from it.
  QString LastFile;
  ConfigImageBytes LastFileImage{};

public slots:
  void Timer1Timer();  void Edit2Click();  void ComboBox2CloseUp();  void ComboBox2KeyDown();
  void mmOpenClick();  void mmSaveClick();  void N4Click();  void N11Click();
  void N6Click();  void N7Click();  void N8Click();  void N9Click();   // the exchange menu
  void JournalClick();   // "Журнал обменов…"
  void ComboBox1Change();  void Button1Click();  void Button3Click();  // port, key, sensor ids
  // Builds OutgoingImage from the editor. On success the main window stays disabled and the
  // progress window shown for the caller to finish; false means a threshold text was refused:
  // the operator has been told, OutgoingImage is unchanged and the editor is usable again.
  bool mass_out();
  // Applies IncomingImage to the editor; false (and nothing changed) on a checksum mismatch.
  bool Load();

protected:
  bool event(QEvent *event) override;
  void closeEvent(QCloseEvent *event) override;

private:
  void FormCreate();
  void buildMenu();
  void buildGeneralPage(QWidget *page);
  void buildAnalogPage(QWidget *page);
  void buildSensorPage(QWidget *page);
  void buildInputDelaysPage(QWidget *page);
  void buildRelayDelaysPage(QWidget *page);
  void buildSecurityPage(QWidget *page);
  TSpinEdit *makeSpin(int n, QWidget *parent);
  QCheckBox *makeCheck(int n, const QString &caption, QWidget *parent);
  QLineEdit *makeEdit(int n, QWidget *parent);
  void buildTrees();
  void buildExchange();

  // A test seam: tests read and set the editor as a whole and reach the link through it
  // (tests/testsupport.h).
  friend class TQuorlanProbe;
  // The controls as a configuration value, and back.
  ConfigValue collectValue() const;
  void applyValue(const ConfigValue &value);
  void FormClose();  // on closing: "BYE" and close the port

  TProgress *progress();   // the one handed over, or one of its own made now
  TProgress *progress_ = nullptr;
  TLink *link_;
  void pagesNeeded() const {
    if (!pendingPages_.empty()) const_cast<TQuorlan *>(this)->buildPendingPages();
  }
  bool hiddenPagesLater_ = false;
  bool pagesQueued_ = false;
  std::vector<std::function<void()>> pendingPages_;   // builders of pages not built yet
  std::array<QLineEdit *, 29> edits_{};        // index = number, 1..28
  std::array<TSpinEdit *, 84> spinEdits_{};   // index = number, 1..83
  std::array<QCheckBox *, 25> checkBoxes_{};  // index = number, 1..24
};

extern TQuorlan *Quorlan;
