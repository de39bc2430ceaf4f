#pragma once
// Creates the link to the controller and the program's windows, and wires them together: the
// splash while the main window builds itself (with the link and the progress window it is
// given), then the secondary windows, hidden, the state window on the same link.
// Destroys them again.

class TLink;

void createWindows();
void destroyWindows();

// The one link to the controller, shared by both windows; null outside the two calls above.
extern TLink *theLink;

// Installs Qt's own Russian texts (file dialogs, the edit fields' context menus, standard
// buttons). False when the system has none; Qt's English stays then.
bool loadQtTranslations();
