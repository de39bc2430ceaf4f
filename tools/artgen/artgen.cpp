// Draws the program's own artwork: the splash picture (black where the desktop shows through)
// and the application icon, also at the sizes the desktop's icon theme takes (drawn at each size
// rather than scaled, so the large ones stay sharp). Run once; the PNGs are committed under
// resources/.
//   g++ -std=c++20 -fPIC tools/artgen/artgen.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/artgen
//   QT_QPA_PLATFORM=offscreen /tmp/artgen resources
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

static void drawIcon(QPainter &p, const QRectF &r) {
  // A controller box with an antenna and three signal arcs.
  p.setRenderHint(QPainter::Antialiasing);
  const qreal u = r.width() / 64.0;
  QLinearGradient body(r.topLeft(), r.bottomRight());
  body.setColorAt(0, QColor(40, 110, 190));
  body.setColorAt(1, QColor(15, 50, 110));
  p.setPen(QPen(QColor(10, 30, 70), 2 * u));
  p.setBrush(body);
  p.drawRoundedRect(QRectF(r.x() + 8 * u, r.y() + 26 * u, 48 * u, 32 * u), 5 * u, 5 * u);
  p.setBrush(QColor(120, 230, 120));
  for (int i = 0; i < 4; ++i)
    p.drawEllipse(QPointF(r.x() + (17 + 10 * i) * u, r.y() + 50 * u), 2.6 * u, 2.6 * u);
  p.setBrush(QColor(200, 230, 255));
  p.drawRect(QRectF(r.x() + 15 * u, r.y() + 32 * u, 34 * u, 10 * u));
  p.setPen(QPen(QColor(230, 60, 40), 3 * u, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(r.x() + 46 * u, r.y() + 26 * u), QPointF(r.x() + 46 * u, r.y() + 8 * u));
  p.setBrush(Qt::NoBrush);
  for (int i = 1; i <= 3; ++i) {
    const qreal rad = 5.0 * i * u;
    p.drawArc(QRectF(r.x() + 46 * u - rad, r.y() + 8 * u - rad, 2 * rad, 2 * rad), 20 * 16, 50 * 16);
  }
}

int main(int argc, char **argv) {
  QGuiApplication app(argc, argv);
  const QString dir = argc > 1 ? argv[1] : "resources";

  QImage icon(64, 64, QImage::Format_ARGB32);
  icon.fill(Qt::transparent);
  { QPainter p(&icon); drawIcon(p, QRectF(0, 0, 64, 64)); }
  icon.save(dir + "/quorlan.png");
  for (const int size : {16, 32, 48, 64, 128, 256}) {
    QImage sized(size, size, QImage::Format_ARGB32);
    sized.fill(Qt::transparent);
    { QPainter p(&sized); drawIcon(p, QRectF(0, 0, size, size)); }
    sized.save(QStringLiteral("%1/icons/quorlan-%2.png").arg(dir).arg(size));
  }

  // Splash: 642 x 479, a rounded card on black; the window shows its middle 567 x 443.
  QImage splash(642, 479, QImage::Format_RGB32);
  splash.fill(Qt::black);
  {
    QPainter p(&splash);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF card(50, 30, 542, 419);
    QPainterPath path;
    path.addRoundedRect(card, 28, 28);
    QLinearGradient g(card.topLeft(), card.bottomLeft());
    g.setColorAt(0, QColor(166, 202, 240));
    g.setColorAt(1, QColor(40, 90, 160));
    p.fillPath(path, g);
    p.setPen(QPen(QColor(255, 255, 255, 200), 3));
    p.drawPath(path);
    drawIcon(p, QRectF(card.center().x() - 80, card.y() + 40, 160, 160));
    QFont f("DejaVu Sans", 40, QFont::Bold);
    p.setFont(f);
    p.setPen(QColor(1, 20, 60));  // not pure black: black is the see-through key
    p.drawText(QRectF(card.x(), card.y() + 215, card.width(), 70), Qt::AlignCenter, "Quorlan");
    f.setPointSize(16);
    f.setBold(false);
    p.setFont(f);
    p.setPen(QColor(250, 250, 255));
    p.drawText(QRectF(card.x(), card.y() + 285, card.width(), 40), Qt::AlignCenter,
               QString::fromUtf8("Конфигуратор контроллеров KORVEL"));
    f.setPointSize(12);
    p.setFont(f);
    p.drawText(QRectF(card.x(), card.y() + 330, card.width(), 30), Qt::AlignCenter,
               QString::fromUtf8("версия 18 · загрузка…"));
  }
  splash.save(dir + "/splash.png");
  std::printf("wrote %s/quorlan.png, %s/icons/quorlan-*.png and %s/splash.png\n", qPrintable(dir),
              qPrintable(dir), qPrintable(dir));
  return 0;
}
