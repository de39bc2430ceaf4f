// Windows-1251, the image's text fields, the editor's character checks and the checksum.
// Input: a mode byte, then data used as bytes, as UTF-16 text, or as an image.
#include <QList>
#include <QString>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>

#include "FuzzSupport.h"
#include "image/FieldChecks.h"
#include "image/Checksum.h"
#include "image/ConfigLayout.h"
#include "image/Cp1251.h"
#include "image/ImageText.h"

namespace {

// The code page's definition read off the byte -> character table: which code point each byte
// stands for, and so which code points have a byte.
const std::map<char32_t, int> &inverse() {
  static const std::map<char32_t, int> m = [] {
    std::map<char32_t, int> out;
    for (int b = 0; b < 256; ++b) {
      const char32_t cp = cp1251ToUnicode(std::uint8_t(b)).unicode();
      FUZZ_CHECK(out.emplace(cp, b).second, "bytes %02x and %02x decode to the same U+%04X",
                 out[cp], b, unsigned(cp));
    }
    return out;
  }();
  return m;
}

QString show(const QString &s) { return s.toHtmlEscaped(); }

// Bytes -> text -> bytes gives every byte back, one character per byte.
void bytesRoundTrip(const std::uint8_t *data, std::size_t size) {
  const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
  const QString text = fromCp1251(bytes);
  FUZZ_CHECK(text.size() == bytes.size(), "%lld bytes became %lld characters", (long long)bytes.size(),
             (long long)text.size());
  FUZZ_CHECK(toCp1251(text) == bytes, "bytes do not come back through the text");
  for (qsizetype i = 0; i < bytes.size(); ++i)
    FUZZ_CHECK(text.at(i) == cp1251ToUnicode(std::uint8_t(bytes[i])), "character %lld decoded apart", (long long)i);
}

// Text -> bytes: one byte per code point; a code point with a byte keeps it and comes back, one
// without becomes '?'.
void textToBytes(const QString &text) {
  const QList<uint> ucs = text.toUcs4();
  const QByteArray bytes = toCp1251(text);
  FUZZ_CHECK(bytes.size() == ucs.size(), "%lld code points became %lld bytes", (long long)ucs.size(),
             (long long)bytes.size());
  for (qsizetype i = 0; i < ucs.size(); ++i) {
    const char32_t cp = ucs[i];
    const auto it = inverse().find(cp);
    const int expected = it == inverse().end() ? -1 : it->second;
    FUZZ_CHECK(unicodeToCp1251(cp) == expected, "U+%04X: byte %d, the table says %d", unsigned(cp),
               unicodeToCp1251(cp), expected);
    const std::uint8_t got = std::uint8_t(bytes[i]);
    FUZZ_CHECK(got == (expected < 0 ? std::uint8_t(kCp1251Unmapped) : std::uint8_t(expected)),
               "U+%04X written as %02x", unsigned(cp), got);
    if (expected >= 0)
      FUZZ_CHECK(cp1251ToUnicode(got).unicode() == cp, "U+%04X does not come back", unsigned(cp));
  }
}

bool phoneChar(QChar c) { return (c >= u'0' && c <= u'9') || c == u'+'; }
bool thresholdChar(QChar c) { return (c >= u'0' && c <= u'9') || c == u',' || c == u'-'; }

template <typename Allowed>
void checkField(const QString &text, const fieldcheck::Result &r, Allowed allowed, const char *what) {
  qsizetype firstBad = text.size();
  for (qsizetype i = 0; i < text.size(); ++i)
    if (!allowed(text.at(i))) {
      firstBad = i;
      break;
    }
  FUZZ_CHECK(r.text == text.left(firstBad), "%s check keeps %lld characters, the first refused is at %lld",
             what, (long long)r.text.size(), (long long)firstBad);
  FUZZ_CHECK(r.refused == (firstBad < text.size()), "%s check: refused=%d with the first refused at %lld of %lld",
             what, int(r.refused), (long long)firstBad, (long long)text.size());
}

// A text written into a field: the field holds its bytes (cut to the width) and zeros, nothing
// outside the field changes, and the three readers give what their rule says.
void fieldRoundTrip(const QString &text, int offset, int width, std::uint8_t fill) {
  ConfigImageBytes image;
  image.fill(fill);
  const QByteArray bytes = toCp1251(text);
  const int cut = writeText(image, offset, width, text);
  FUZZ_CHECK(cut == std::max(0, int(bytes.size()) - width), "writeText reports %d cut of %lld in %d", cut,
             (long long)bytes.size(), width);
  for (int i = 0; i < int(image.size()); ++i) {
    std::uint8_t want = fill;
    if (i >= offset && i < offset + width) want = i - offset < bytes.size() ? std::uint8_t(bytes[i - offset]) : 0;
    FUZZ_CHECK(image[std::size_t(i)] == want, "byte %d is %02x, expected %02x (field %d+%d)", i,
               image[std::size_t(i)], want, offset, width);
  }
  const ImageField field = imageField(image, offset, width);
  const QByteArray stored = bytes.left(width);
  const qsizetype zero = stored.indexOf('\0');
  FUZZ_CHECK(readUpToZero(field) == fromCp1251(zero < 0 ? stored : stored.left(zero)), "readUpToZero");
  QByteArray nonZero = stored;
  nonZero.replace(QByteArray(1, '\0'), QByteArray());
  FUZZ_CHECK(readNonZero(field) == fromCp1251(nonZero), "readNonZero");
  const bool full = stored.size() == width && zero < 0;
  FUZZ_CHECK(readAllOrNothing(field) == (full ? fromCp1251(stored) : QString()), "readAllOrNothing");
  // A text the code page carries, without NUL, that fits comes back whole.
  if (!text.contains(QChar(0)) && bytes.size() <= width && fromCp1251(bytes) == text)
    FUZZ_CHECK(readUpToZero(field) == text && readNonZero(field) == text, "\"%s\" does not come back",
               qPrintable(show(text)));
}

void checksum(const std::uint8_t *data, std::size_t size) {
  ConfigImageBytes image{};
  std::memcpy(image.data(), data, std::min(size, image.size()));
  unsigned sum = 0;
  for (int i = 0; i < layout::kChecksummedBytes; ++i) sum += image[std::size_t(i)];
  FUZZ_CHECK(imageChecksum(image) == std::uint8_t(sum), "checksum %02x, the sum is %02x", imageChecksum(image),
             std::uint8_t(sum));
  storeChecksum(image);
  FUZZ_CHECK(checksumMatches(image), "a stored checksum does not match");
  // Any single changed byte, the checksum byte included, is caught.
  const std::size_t pos = size >= image.size() + 2 ? (std::size_t(data[image.size()]) << 8 | data[image.size() + 1]) % image.size()
                                                    : size % image.size();
  const std::uint8_t delta = size > image.size() + 2 ? data[image.size() + 2] : 1;
  if (delta == 0) return;
  image[pos] = std::uint8_t(image[pos] + delta);
  FUZZ_CHECK(!checksumMatches(image), "byte %zu changed by %u is not caught", pos, delta);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint8_t mode = data[0];
  const int offset = data[1] % int(kConfigImageSize);
  const std::uint8_t fill = data[2];
  data += 3;
  size -= 3;
  switch (mode % 3) {
    case 0: {
      bytesRoundTrip(data, std::min<std::size_t>(size, 4096));
      const QString text = fromCp1251(reinterpret_cast<const char *>(data), int(std::min<std::size_t>(size, 64)));
      const int width = int(std::min<std::size_t>(mode / 3 % 40, kConfigImageSize - std::size_t(offset)));
      fieldRoundTrip(text, offset, width, fill);
      break;
    }
    case 1: {
      // UTF-16 units as they come: lone surrogates and pairs included.
      const qsizetype n = qsizetype(std::min<std::size_t>(size, 512) / 2);
      QString text(n, Qt::Uninitialized);
      for (qsizetype i = 0; i < n; ++i) text[i] = QChar(char16_t(data[2 * i] | data[2 * i + 1] << 8));
      textToBytes(text);
      checkField(text, fieldcheck::phone(text), phoneChar, "phone");
      checkField(text, fieldcheck::threshold(text), thresholdChar, "threshold");
      const int width = int(std::min<std::size_t>(mode / 3 % 40, kConfigImageSize - std::size_t(offset)));
      fieldRoundTrip(text.left(64), offset, width, fill);
      break;
    }
    default:
      checksum(data, size);
      break;
  }
  return 0;
}
