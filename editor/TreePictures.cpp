#include "editor/TreePictures.h"

#include "image/ReactionTrees.h"

#include <QPainter>
#include <QPixmap>
#include <QPainterPath>
#include <QPolygonF>
#include <functional>

namespace trees {

namespace {

using Draw = std::function<void(QPainter &)>;

QImage paint(const Draw &draw) {
  QImage image(kPictureSize, kPictureSize, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  draw(p);
  return image;
}

QPen pen(const QColor &colour, qreal width = 1.0) {
  return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void bullet(QPainter &p) {
  p.setPen(pen(QColor(90, 90, 90)));
  p.setBrush(QColor(190, 190, 190));
  p.drawEllipse(QRectF(4.5, 4.5, 7, 7));
}

// A relay: coil housing with a switching lever on top.
void relay(QPainter &p) {
  p.setPen(pen(QColor(20, 40, 110)));
  p.setBrush(QColor(70, 110, 200));
  p.drawRoundedRect(QRectF(2.5, 6.5, 11, 8), 1.5, 1.5);
  p.setPen(pen(Qt::white, 1.2));
  for (int i = 0; i < 3; ++i) p.drawArc(QRectF(3.5 + 3 * i, 8.5, 3, 4), 0, 180 * 16);
  p.setPen(pen(QColor(40, 40, 40), 1.4));
  p.drawLine(QPointF(3, 4.5), QPointF(12, 1.5));
  p.setBrush(QColor(40, 40, 40));
  p.drawEllipse(QRectF(2, 3.5, 2, 2));
  p.drawEllipse(QRectF(12, 3.5, 2, 2));
}

// A mobile handset: body, screen and keypad.
void phone(QPainter &p) {
  p.setPen(pen(QColor(30, 30, 30)));
  p.setBrush(QColor(70, 70, 80));
  p.drawRoundedRect(QRectF(4.5, 0.5, 7, 15), 1.5, 1.5);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(150, 220, 255));
  p.drawRect(QRectF(5.5, 2, 5, 5));
  p.setBrush(QColor(230, 230, 230));
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 3; ++col) p.drawRect(QRectF(5.5 + 1.8 * col, 8.5 + 2 * row, 1.2, 1.2));
}

void envelope(QPainter &p) {
  p.setPen(pen(QColor(120, 90, 30)));
  p.setBrush(QColor(255, 250, 220));
  p.drawRect(QRectF(1.5, 3.5, 13, 9));
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(QPolygonF({QPointF(1.5, 3.5), QPointF(8, 9), QPointF(14.5, 3.5)}));
  p.drawLine(QPointF(1.5, 12.5), QPointF(6, 8));
  p.drawLine(QPointF(14.5, 12.5), QPointF(10, 8));
}

void arrow(QPainter &p, const QColor &fill, const QColor &edge, qreal rotation) {
  p.translate(8, 8);
  p.rotate(rotation);
  p.translate(-8, -8);
  // Pointing right before rotation.
  const QPolygonF shape({QPointF(1.5, 5.5), QPointF(8.5, 5.5), QPointF(8.5, 1.5), QPointF(14.5, 8),
                         QPointF(8.5, 14.5), QPointF(8.5, 10.5), QPointF(1.5, 10.5)});
  p.setPen(pen(edge));
  p.setBrush(fill);
  p.drawPolygon(shape);
}

// A relay state: a contact lever between two terminals.
void contact(QPainter &p, qreal leverEndY) {
  p.setPen(pen(QColor(60, 60, 60), 1.4));
  p.drawLine(QPointF(1, 11), QPointF(4, 11));
  p.drawLine(QPointF(12, 11), QPointF(15, 11));
  p.setPen(pen(QColor(200, 100, 0), 1.6));
  p.drawLine(QPointF(4.5, 11), QPointF(12, leverEndY));
  p.setPen(pen(QColor(60, 60, 60)));
  p.setBrush(Qt::white);
  p.drawEllipse(QRectF(3, 9.5, 3, 3));
  p.drawEllipse(QRectF(10.5, 9.5, 3, 3));
}

void padlock(QPainter &p) {
  p.setPen(pen(QColor(90, 90, 100), 1.8));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(4.5, 1.5, 7, 9), 0, 180 * 16);
  p.drawLine(QPointF(4.5, 6), QPointF(4.5, 7.5));
  p.drawLine(QPointF(11.5, 6), QPointF(11.5, 7.5));
  p.setPen(pen(QColor(120, 80, 0)));
  p.setBrush(QColor(230, 180, 30));
  p.drawRoundedRect(QRectF(2.5, 7.5, 11, 8), 1, 1);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(60, 40, 0));
  p.drawEllipse(QRectF(7, 9.5, 2, 2));
  p.drawRect(QRectF(7.5, 11, 1, 2.5));
}

void warningBolt(QPainter &p) {
  p.setPen(pen(QColor(40, 40, 40)));
  p.setBrush(QColor(255, 210, 0));
  p.drawPolygon(QPolygonF({QPointF(8, 0.8), QPointF(15.3, 14.8), QPointF(0.7, 14.8)}));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(20, 20, 20));
  p.drawPolygon(QPolygonF({QPointF(8.8, 4.5), QPointF(5.5, 10), QPointF(7.8, 10), QPointF(6.8, 13.8),
                           QPointF(10.5, 8.3), QPointF(8.2, 8.3)}));
}

void circled(QPainter &p, const QColor &fill, const std::function<void(QPainter &)> &mark) {
  p.setPen(pen(fill.darker(160)));
  p.setBrush(fill);
  p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
  p.setPen(pen(Qt::white, 2.0));
  p.setBrush(Qt::NoBrush);
  mark(p);
}

std::vector<QImage> drawAll() {
  std::vector<QImage> list;
  list.reserve(PictureCount);
  list.push_back(paint(bullet));                                                    // 0
  list.push_back(paint(relay));                                                     // 1
  list.push_back(paint(phone));                                                     // 2
  list.push_back(paint(envelope));                                                  // 3
  list.push_back(paint([](QPainter &p) { arrow(p, QColor(40, 180, 40), QColor(0, 90, 0), 0); }));  // 4
  list.push_back(paint([](QPainter &p) { contact(p, 5); }));                        // 5
  list.push_back(paint([](QPainter &p) { contact(p, 11); }));                       // 6
  list.push_back(paint([](QPainter &p) { contact(p, 3); }));                        // 7
  list.push_back(paint(padlock));                                                   // 8
  list.push_back(paint(warningBolt));                                               // 9
  list.push_back(paint([](QPainter &p) {                                            // 10
    circled(p, QColor(30, 160, 60), [](QPainter &q) {
      q.drawLine(QPointF(4, 8), QPointF(12, 8));
      q.drawLine(QPointF(8, 4), QPointF(8, 12));
    });
  }));
  list.push_back(paint([](QPainter &p) {                                            // 11
    circled(p, QColor(40, 100, 210), [](QPainter &q) {
      q.drawPolyline(QPolygonF({QPointF(5, 12), QPointF(5, 4), QPointF(11, 12), QPointF(11, 4)}));
    });
  }));
  list.push_back(paint([](QPainter &p) {                                            // 12
    circled(p, QColor(230, 120, 20), [](QPainter &q) { q.drawLine(QPointF(4, 8), QPointF(12, 8)); });
  }));
  list.push_back(paint([](QPainter &p) { arrow(p, QColor(220, 30, 30), QColor(120, 0, 0), -90); }));  // 13
  list.push_back(paint([](QPainter &p) { arrow(p, QColor(220, 30, 30), QColor(120, 0, 0), 90); }));   // 14
  return list;
}

}  // namespace

const std::vector<QImage> &pictureImages() {
  static const std::vector<QImage> list = drawAll();
  return list;
}

QIcon pictureIcon(int index) {
  // Not cached: pixmaps must not outlive the application object.
  const auto &images = pictureImages();
  if (index < 0 || index >= int(images.size())) return {};
  return QIcon(QPixmap::fromImage(images[index]));
}

}  // namespace trees
