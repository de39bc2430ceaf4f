#include "editor/MessageBoxes.h"

#include <QGuiApplication>
#include <QMessageBox>

void errorBox(QWidget *owner, const QString &text, const QString &detail) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Ошибка"), text, QMessageBox::Ok, owner);
  box.setTextFormat(Qt::PlainText);
  if (!detail.isEmpty()) box.setInformativeText(detail);
  box.exec();
}

void plainBox(QWidget *owner, const QString &text) {
  QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), text,
                  QMessageBox::Ok, owner);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}
