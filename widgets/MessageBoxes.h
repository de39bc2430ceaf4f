#pragma once
#include <QString>

class QWidget;

// Modal error box: caption "Ошибка", error icon, OK. `detail` (e.g. the system's reason) goes
// into the box's secondary text. Controller texts are shown as plain text, never as markup.
void errorBox(QWidget *owner, const QString &text, const QString &detail = {});

// Plain notice: no icon, the application's title as caption, OK.
void plainBox(QWidget *owner, const QString &text);

// "О программе": the program, its version and the Qt it runs on, with the owner's icon.
void aboutBox(QWidget *owner);
