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
#include "editor/Unit1.h"
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

// The main window, then the progress window handed to it, as at start; with `link`, it talks
// through that link.
struct MainWindowOnly {
  TQuorlan *w = nullptr;
  explicit MainWindowOnly(TLink *link = nullptr) {
    w = new TQuorlan(nullptr, link);
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
  }
};

// Gives this test process a runtime folder of its own, so virtual ports of parallel tests
// never meet. Call before anything scans ports.
inline QString isolateRuntimeDir() {
  static QTemporaryDir dir;
  qputenv("XDG_RUNTIME_DIR", dir.path().toLocal8Bit());
  return dir.path();
}

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

// Creates the program's windows as it does at start, in a runtime folder of this process's own.
// Whatever the port scan finds on this machine (a device that refuses to open shows a box) is
// answered and not tested here.
inline void startWindows() {
  isolateRuntimeDir();
  ModalWatcher portMessages;
  createWindows();
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

// Runs the event loop until pred holds. Unlike QTest::qWaitFor it never sleeps between
// passes, so a stop-and-wait exchange runs at the speed of the link.
inline bool pump(const std::function<bool()> &pred, int timeoutMs) {
  QTimer wake;
  wake.start(20);
  QDeadlineTimer deadline(timeoutMs);
  while (!pred()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// As the program ends: the main window closed first, then everything destroyed.
inline void stopWindows() {
  if (Quorlan) Quorlan->close();
  destroyWindows();
}

}  // namespace testsupport
