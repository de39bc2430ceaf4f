#pragma once
// Small helpers shared by the tests.

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/Startup.h"
#include "runtimesupport.h"
#include "editor/Unit1.h"
#include "link/Link.h"
#include "link/PortNames.h"
#include "widgets/Unit5.h"

// The editor as one configuration value, read or set at once, without the encoder's progress
// window or the window's state.
class TQuorlanProbe {
public:
  explicit TQuorlanProbe(TQuorlan &w) : w_(w) {}
  ConfigValue value() const { return w_.collectValue(); }
  void setValue(const ConfigValue &v) const { w_.applyValue(v); }
  TLink *link() const { return w_.link_; }

private:
  TQuorlan &w_;
};

namespace testsupport {

// A link on the real serial port code that lists only the virtual ports of this test's runtime
// folder (pseudo-terminals the test made), never a device of the machine.
inline std::unique_ptr<TLink> ownPortsLink() {
  auto link = std::make_unique<TLink>();
  link->setPortLister(&PortNames::virtualPorts);
  return link;
}

// The main window, then the progress window handed to it, as at start; it talks through `link`,
// or through a link on the test's own virtual ports.
struct MainWindowOnly {
  TQuorlan *w = nullptr;
  std::unique_ptr<TLink> ownLink;
  explicit MainWindowOnly(TLink *link = nullptr) {
    if (!link) {
      ownLink = ownPortsLink();
      link = ownLink.get();
    }
    w = new TQuorlan(*link);
    Progress = new TProgress;
    w->setProgress(Progress);
    Quorlan = w;
  }
  ~MainWindowOnly() {
    w->close();
    delete w;
    Quorlan = nullptr;
    delete Progress;
    Progress = nullptr;
    ownLink.reset();
  }
};

// Records every modal message box that appears and answers it with OK, until stopped.
class ModalWatcher : public QObject {
public:
  explicit ModalWatcher(int periodMs = 20) {
    connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
    timer_.start(periodMs);
  }
  struct Seen {
    QString title, text, informative;
    QMessageBox::Icon icon;
  };
  QList<Seen> boxes;
  // Called with each modal widget that is not a message box; it must close it.
  std::function<void(QWidget *)> onOtherModal;

private:
  void poll() {
    QWidget *w = QApplication::activeModalWidget();
    if (!w) return;
    if (auto *box = qobject_cast<QMessageBox *>(w)) {
      boxes.append({box->windowTitle(), box->text(), box->informativeText(), box->icon()});
      box->done(QMessageBox::Ok);
    } else if (onOtherModal) {
      onOtherModal(w);
    }
  }
  QTimer timer_;
};

inline std::unique_ptr<TLink> &windowsLink() {
  static std::unique_ptr<TLink> link;
  return link;
}

// Creates the program's windows as it does at start, in a runtime folder of this process's own,
// on a link that sees only the test's own virtual ports. A virtual port that refuses to open
// shows a box, answered here.
inline void startWindows() {
  isolateRuntimeDir();
  ModalWatcher portMessages;
  windowsLink() = ownPortsLink();
  createWindows(windowsLink().get());
  Quorlan->buildPendingPages();   // the probes reach into every page
}

// The same, with the main window shown and the start-up check of the SMS centre number passed.
inline bool startShownWindows() {
  startWindows();
  Quorlan->show();
  QDeadlineTimer settle(150);
  while (!settle.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 20);
  return Quorlan->isVisible();
}

// A window shared by a suite's tests, back to the editor's start values before each test, so
// no test sees what another left behind.
inline void resetEditor(TQuorlan *w) {
  if (Progress) Progress->closeWindow();
  w->setEnabled(true);
  TQuorlanProbe(*w).setValue(ConfigValue::startup());
}

// As the program ends: the main window closed first, then everything destroyed.
inline void stopWindows() {
  if (Quorlan) Quorlan->close();
  destroyWindows();
  windowsLink().reset();
}

}  // namespace testsupport
