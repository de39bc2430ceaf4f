#pragma once
// Creates the program's windows in their fixed order (the main window first, the secondary
// windows hidden after it) and destroys them again.

void createWindows();
void destroyWindows();

// Installs Qt's own Russian texts (file dialogs, the edit fields' context menus, standard
// buttons). False when the system has none; Qt's English stays then.
bool loadQtTranslations();
