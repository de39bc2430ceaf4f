#pragma once
// Helpers of the window-free suites as well: a runtime folder of the test's own, and an event
// loop that runs at the speed of the link.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocale>
#include <optional>
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

// Takes an environment variable away for a scope; it comes back however the test ends.
class UnsetEnv {
public:
  explicit UnsetEnv(const char *name) : name_(name) {
    if (qEnvironmentVariableIsSet(name)) saved_ = qgetenv(name);
    qunsetenv(name);
  }
  ~UnsetEnv() {
    if (saved_) qputenv(name_, *saved_);
  }
  UnsetEnv(const UnsetEnv &) = delete;
  UnsetEnv &operator=(const UnsetEnv &) = delete;

private:
  const char *name_;
  std::optional<QByteArray> saved_;
};

// The default locale for a scope; the previous one comes back however the test ends.
class DefaultLocale {
public:
  explicit DefaultLocale(const QLocale &locale) { QLocale::setDefault(locale); }
  ~DefaultLocale() { QLocale::setDefault(before_); }
  DefaultLocale(const DefaultLocale &) = delete;
  DefaultLocale &operator=(const DefaultLocale &) = delete;

private:
  QLocale before_;
};

}  // namespace testsupport
