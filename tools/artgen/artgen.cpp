// Draws the program's own artwork: the splash picture (black where the desktop shows through)
// and the application icon, also at the sizes the desktop's icon theme takes (drawn at each size
// rather than scaled, so the large ones stay sharp), and packs those sizes into the Windows icon
// quorlan.ico. Run once; the results are committed under resources/.
//   g++ -std=c++20 -fPIC tools/artgen/artgen.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/artgen
//   QT_QPA_PLATFORM=offscreen /tmp/artgen resources         # everything
//   QT_QPA_PLATFORM=offscreen /tmp/artgen --ico resources   # only the .ico, from icons/*.png
#include <QFile>
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

static const int kIconSizes[] = {16, 32, 48, 64, 128, 256};

static void putLE(QByteArray &out, quint32 value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.append(char((value >> (8 * i)) & 0xFF));
}

// An icon image as Windows keeps it below 256 px: a 32-bit bitmap, bottom-up, followed by the
// 1-bit mask (set where the picture is see-through) that old readers draw with.
static QByteArray iconBitmap(const QImage &png) {
  const QImage img = png.convertToFormat(QImage::Format_ARGB32);  // straight alpha, as icons have it
  const int w = img.width(), h = img.height();
  const int maskStride = (w + 31) / 32 * 4;
  QByteArray out;
  putLE(out, 40, 4);                          // BITMAPINFOHEADER
  putLE(out, quint32(w), 4);
  putLE(out, quint32(2 * h), 4);              // the picture and its mask
  putLE(out, 1, 2);
  putLE(out, 32, 2);
  putLE(out, 0, 4);                           // BI_RGB
  putLE(out, quint32(w * h * 4 + maskStride * h), 4);
  putLE(out, 0, 16);
  for (int y = h - 1; y >= 0; --y) {
    const auto *line = reinterpret_cast<const QRgb *>(img.constScanLine(y));
    for (int x = 0; x < w; ++x) putLE(out, line[x], 4);  // B, G, R, A in memory order
  }
  for (int y = h - 1; y >= 0; --y) {
    const auto *line = reinterpret_cast<const QRgb *>(img.constScanLine(y));
    QByteArray row(maskStride, '\0');
    for (int x = 0; x < w; ++x)
      if (qAlpha(line[x]) == 0) row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
    out.append(row);
  }
  return out;
}

// quorlan.ico from the committed icons/quorlan-<size>.png, so it follows them byte for byte: the
// 256 px image as the PNG itself (as Windows' own icons hold it), the smaller ones as bitmaps,
// which every reader of icons takes (resource compilers, installer builders, old shells).
static bool writeIco(const QString &dir) {
  QList<QByteArray> images;
  for (const int size : kIconSizes) {
    QFile f(QStringLiteral("%1/icons/quorlan-%2.png").arg(dir).arg(size));
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray png = f.readAll();
    const QImage img = QImage::fromData(png, "PNG");
    if (img.size() != QSize(size, size)) return false;
    images.append(size >= 256 ? png : iconBitmap(img));
  }
  QByteArray ico;
  putLE(ico, 0, 2);
  putLE(ico, 1, 2);                           // an icon, not a cursor
  putLE(ico, quint32(images.size()), 2);
  quint32 offset = quint32(6 + 16 * images.size());
  for (int i = 0; i < images.size(); ++i) {
    const int size = kIconSizes[i];
    putLE(ico, size >= 256 ? 0 : size, 1);    // 0 stands for 256
    putLE(ico, size >= 256 ? 0 : size, 1);
    putLE(ico, 0, 2);                         // no palette
    putLE(ico, 1, 2);                         // planes
    putLE(ico, 32, 2);                        // bits per pixel
    putLE(ico, quint32(images[i].size()), 4);
    putLE(ico, offset, 4);
    offset += quint32(images[i].size());
  }
  for (const QByteArray &image : images) ico.append(image);
  QFile out(dir + "/quorlan.ico");
  return out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(ico) == ico.size();
}

int main(int argc, char **argv) {
  QGuiApplication app(argc, argv);
  const bool icoOnly = argc > 1 && QByteArray(argv[1]) == "--ico";
  const int dirArg = icoOnly ? 2 : 1;
  const QString dir = argc > dirArg ? argv[dirArg] : "resources";
  if (icoOnly) {
    if (!writeIco(dir)) {
      std::fprintf(stderr, "artgen: cannot make %s/quorlan.ico from %s/icons/\n", qPrintable(dir), qPrintable(dir));
      return 1;
    }
    std::printf("wrote %s/quorlan.ico\n", qPrintable(dir));
    return 0;
  }

  QImage icon(64, 64, QImage::Format_ARGB32);
  icon.fill(Qt::transparent);
  { QPainter p(&icon); drawIcon(p, QRectF(0, 0, 64, 64)); }
  icon.save(dir + "/quorlan.png");
  for (const int size : kIconSizes) {
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
  // Only the middle part is ever seen, and the program reads it at start-up: stored as shown,
  // as plain pixels (PPM), which load several times faster than a PNG.
  splash.copy(37, 18, 567, 443).save(dir + "/splash.ppm");
  if (!writeIco(dir)) {
    std::fprintf(stderr, "artgen: cannot make %s/quorlan.ico\n", qPrintable(dir));
    return 1;
  }
  std::printf("wrote %s/quorlan.png, %s/icons/quorlan-*.png, %s/quorlan.ico and %s/splash.ppm\n",
              qPrintable(dir), qPrintable(dir), qPrintable(dir), qPrintable(dir));
  return 0;
}
