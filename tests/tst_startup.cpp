// Start-up order and lifetime: the splash is on screen while the main window builds itself and
// is gone afterwards without ending the program; the secondary windows start hidden; closing the
// main window ends the event loop even while another window is shown.
#include <QtTest>

#include "app/Startup.h"
#include "app/Unit5.h"
#include "app/uZastavka.h"
#include "editor/Unit1.h"
#include "link/LinkProbe.h"
#include "editor/Unit2.h"
#include "editor/Unit3.h"
#include "state/Unit6.h"
#include "testsupport.h"

int main(int argc, char **argv) {
  testsupport::isolateRuntimeDir();
  QApplication app(argc, argv);
  int failures = 0;
  auto check = [&](bool ok, const char *what) {
    std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what);
    if (!ok) ++failures;
  };

  // Watch for the splash while the main window is constructed.
  bool splashSeen = false, splashPainted = false, splashSize = false, splashMasked = false;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [] {});
  class Spy : public QObject {
  public:
    std::function<void(QObject *, QEvent *)> onEvent;
    bool eventFilter(QObject *o, QEvent *e) override {
      onEvent(o, e);
      return false;
    }
  } spy;
  spy.onEvent = [&](QObject *o, QEvent *e) {
    if (o == Form4 && e->type() == QEvent::Show) {
      splashSeen = true;
      splashSize = Form4->size() == QSize(567, 443);
      splashMasked = !Form4->mask().isEmpty() && Form4->mask() != QRegion(Form4->rect());
    }
    if (o == Form4 && e->type() == QEvent::Paint) splashPainted = Quorlan == nullptr;
  };
  app.installEventFilter(&spy);

  testsupport::ModalWatcher portErrors;  // a real device of the machine may refuse to open
  createWindows();
  app.removeEventFilter(&spy);
  check(splashSeen && splashSize, "splash shown at 567x443 during construction");
  check(splashPainted, "splash painted before the main window was finished");
  check(splashMasked, "black parts of the splash are see-through");
  check(Form4 == nullptr, "splash destroyed after construction");
  check(SMS && Form3 && Progress && Form6, "secondary windows created");
  check(!SMS->isVisible() && !Form3->isVisible() && !Progress->isVisible() && !Form6->isVisible(),
        "secondary windows hidden");
  check(Form6->windowTitle() == QString::fromUtf8("Текущее состояние и управление"), "state window caption");
  const TLinkProbe link(*Quorlan->link());
  check(link.rearmTick().isActive() && link.rearmTick().interval() == 1000, "re-arm timer running");

  Quorlan->show();
  Form6->show();
  bool closedByUs = false;
  QTimer::singleShot(400, [&] {
    closedByUs = true;
    Quorlan->close();
  });
  QTimer::singleShot(5000, [&] { app.exit(99); });  // guard against a loop that never ends
  const int rc = app.exec();
  check(closedByUs && rc == 0, "event loop ran until the main window closed, with the state window open");
  destroyWindows();
  std::printf("%d passed, %d failed\n", 10 - failures, failures);
  return failures ? 1 : 0;
}
