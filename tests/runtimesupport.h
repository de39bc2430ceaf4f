#pragma once
// Helpers of the window-free suites as well: a runtime folder of the test's own, and an event
// loop that runs at the speed of the link.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

namespace testsupport {

// Gives this test process a runtime folder of its own, so virtual ports of parallel tests
// never meet. Call before anything scans ports.
inline QString isolateRuntimeDir() {
  static QTemporaryDir dir;
  qputenv("XDG_RUNTIME_DIR", dir.path().toLocal8Bit());
  return dir.path();
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

}  // namespace testsupport
