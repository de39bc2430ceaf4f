// Program start: the windows in their order, then the event loop until the main window closes.
#include <QApplication>
#include <QIcon>

#include "app/Startup.h"
#include "editor/Unit1.h"

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  // Also the caption of plain notices. No display name: X11 would append it to every caption.
  QApplication::setApplicationName(QStringLiteral("Quorlan"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/resources/quorlan.png")));
  // The installed desktop entry's name: Wayland finds the entry, and so the icon, by it.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.quorlan.Quorlan"));
  loadQtTranslations();   // without them Qt's own dialogs and menus speak English
  createWindows();
  Quorlan->show();
  openAtStart(fileArgument(QApplication::arguments()));
  const int rc = app.exec();
  destroyWindows();
  return rc;
}
