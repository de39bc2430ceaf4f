#include "image/ImageText.h"

#include <QByteArray>
#include <QtGlobal>

#include "image/Cp1251.h"

ImageField imageField(const ConfigImageBytes &image, int offset, int width) {
  Q_ASSERT(offset >= 0 && width >= 0 && std::size_t(offset) + std::size_t(width) <= image.size());
  return ImageField(image).subspan(std::size_t(offset), std::size_t(width));
}

QString readUpToZero(ImageField field) {
  QString out;
  for (std::uint8_t b : field) {
    if (b == 0) break;
    out.append(cp1251ToUnicode(b));
  }
  return out;
}

QString readAllOrNothing(ImageField field) {
  for (std::uint8_t b : field)
    if (b == 0) return {};
  return fromCp1251(reinterpret_cast<const char *>(field.data()), int(field.size()));
}

QString readNonZero(ImageField field) {
  QString out;
  for (std::uint8_t b : field)
    if (b != 0) out.append(cp1251ToUnicode(b));
  return out;
}

int writeText(ConfigImageBytes &image, int offset, int width, const QString &text) {
  Q_ASSERT(offset >= 0 && width >= 0 && std::size_t(offset) + std::size_t(width) <= image.size());
  const QByteArray bytes = toCp1251(text);
  const int n = qMin(int(bytes.size()), width);
  for (int i = 0; i < width; ++i) image[offset + i] = i < n ? std::uint8_t(bytes[i]) : 0;
  return int(bytes.size()) - n;
}
