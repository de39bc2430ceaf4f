#pragma once
// Creates the program's windows in their fixed order (the main window first, the secondary
// windows hidden after it) and destroys them again.

void createWindows();
void destroyWindows();
