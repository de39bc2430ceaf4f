#pragma once
// Creates the program's windows and wires them together: the splash while the main window
// builds itself, then the secondary windows, hidden, the state window on the same link; the
// progress window among them is handed to the main window, which the caller then shows. The
// windows talk through `link`, which stays the caller's; without one, through a link of the
// program's own on the system's serial ports.
// Destroys them again, and the program's own link.

#include <QString>
#include <QStringList>

class TLink;

void createWindows(TLink *link = nullptr);
void destroyWindows();

// The one link to the controller, shared by both windows; null outside the two calls above.
extern TLink *theLink;

// Installs Qt's own Russian texts (file dialogs, the edit fields' context menus, standard
// buttons). False when the system has none; Qt's English stays then.
bool loadQtTranslations();

// The configuration file the program was started with: the first argument after the program's
// name that is no option (a double-click on a file passes its path so). Empty when none.
QString fileArgument(const QStringList &arguments);

// Opens `path` in the main window as «Файл → Открыть» does, with the same messages for a file
// that is missing, no regular file or no configuration. Runs from the event loop, once the
// start-up check of the SMS centre number has passed: that check is for the start values, not
// for a file's.
void openAtStart(const QString &path);
