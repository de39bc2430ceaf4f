#include "widgets/MessageBoxes.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>

namespace {

// A box for an owner not on screen yet (the main window while it is being built, with the
// splash up) would be placed against the owner's unplaced geometry, in a screen corner, and
// could fall behind the splash. It goes where the main window will appear, the screen's
// centre, and on top.
class TPlacedBox : public QMessageBox {
public:
  TPlacedBox(Icon icon, const QString &title, const QString &text, QWidget *owner)
      : QMessageBox(icon, title, text, QMessageBox::Ok, owner), owner_(owner) {
    setTextFormat(Qt::PlainText);
    if (!ownerShown()) setWindowFlag(Qt::WindowStaysOnTopHint);
  }

protected:
  void showEvent(QShowEvent *event) override {
    QMessageBox::showEvent(event);   // gives the box its final size
    if (ownerShown()) return;
    const QScreen *screen = owner_ ? owner_->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QSize frame = frameGeometry().size();
    move(screen->availableGeometry().center() - QPoint(frame.width() / 2, frame.height() / 2));
  }

private:
  bool ownerShown() const { return owner_ && owner_->window()->isVisible(); }
  QWidget *owner_;
};

}  // namespace

void errorBox(QWidget *owner, const QString &text, const QString &detail) {
  TPlacedBox box(QMessageBox::Critical, QStringLiteral("Ошибка"), text, owner);
  if (!detail.isEmpty()) {
    box.setInformativeText(detail);
    // The detail carries file names and the system's or the controller's words: never markup.
    if (auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
      label->setTextFormat(Qt::PlainText);
  }
  box.exec();
}

void aboutBox(QWidget *owner) {
  QMessageBox box(owner);
  box.setWindowTitle(QStringLiteral("О программе Quorlan"));
  box.setIconPixmap(owner->windowIcon().pixmap(64, 64));
  // Unbreakable lines: the box would wrap them at half the width of a small screen.
  box.setTextFormat(Qt::RichText);
  box.setText(QStringLiteral("<p style=\"white-space:pre\">Quorlan v.18, конфигуратор KORVEL GSM, Qt %1<br>"
                             "Документация: README.md в папке с исходниками</p>")
                  .arg(QString::fromLatin1(qVersion())));
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
}

void plainBox(QWidget *owner, const QString &text) {
  TPlacedBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), text, owner);
  box.exec();
}
