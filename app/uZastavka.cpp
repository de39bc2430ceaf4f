#include "app/uZastavka.h"

#include "widgets/Resources.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QScreen>

TForm4 *Form4 = nullptr;

namespace {
constexpr QSize kClientSize(567, 443);
}

TForm4::TForm4(QWidget *parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("Form4"));
  // It never counts as a main window: destroying it must not end the program.
  setAttribute(Qt::WA_QuitOnClose, false);
  setAttribute(Qt::WA_TranslucentBackground);
  setFixedSize(kClientSize);

  ensureResources();
  // Stored as shown, as plain pixels (the resource itself is compressed): decoding a PNG of it
  // took longer than everything else the splash does before it is on screen.
  const QImage picture(QStringLiteral(":/resources/splash.ppm"));
  // Centre the larger picture in the client area and cut off what sticks out.
  QImage visible(kClientSize, QImage::Format_RGB32);
  visible.fill(Qt::black);
  {
    QPainter painter(&visible);
    painter.drawImage(QPoint((kClientSize.width() - picture.width()) / 2,
                             (kClientSize.height() - picture.height()) / 2),
                      picture);
  }
  Image1 = new QLabel(this);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(QRect(QPoint(0, 0), kClientSize));
  const QPixmap pixmap = QPixmap::fromImage(visible);
  Image1->setPixmap(pixmap);
  // Black is the colour key: black pixels are see-through.
  setMask(pixmap.createMaskFromColor(Qt::black, Qt::MaskInColor));

  if (const QScreen *screen = QGuiApplication::primaryScreen())
    move(screen->geometry().center() - rect().center());
}
