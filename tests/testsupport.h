#pragma once
// Small helpers shared by the tests.

#include <QApplication>
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

namespace testsupport {

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
}

// As the program ends: the main window closed first, then everything destroyed.
inline void stopWindows() {
  if (Quorlan) Quorlan->close();
  destroyWindows();
}

}  // namespace testsupport
