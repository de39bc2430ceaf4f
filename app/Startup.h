#pragma once
// Creates the program's windows and wires them together: the splash while the main window
// builds itself (with the progress window it is given), then the secondary windows, hidden.
// Destroys them again.

void createWindows();
void destroyWindows();

// Installs Qt's own Russian texts (file dialogs, the edit fields' context menus, standard
// buttons). False when the system has none; Qt's English stays then.
bool loadQtTranslations();
