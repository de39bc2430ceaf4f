#pragma once
// Windows-1251 at the image and wire boundary. The table is explicit so that no mapping depends
// on which codecs the Qt build carries. Byte 0x98 has no assigned character; it decodes to
// U+0098 and encodes back to 0x98, so no image byte is lost on the way through the editor.
// A character with no Windows-1251 code is written as '?'.

#include <QByteArray>
#include <QString>
#include <cstdint>

inline constexpr char kCp1251Unmapped = '?';

QChar cp1251ToUnicode(std::uint8_t byte);
// The byte for one code point, or -1 when it has none.
int unicodeToCp1251(char32_t codePoint);

QString fromCp1251(const char *bytes, int size);
inline QString fromCp1251(const QByteArray &bytes) { return fromCp1251(bytes.constData(), int(bytes.size())); }
// One byte per code point (a surrogate pair is one character and becomes one '?').
QByteArray toCp1251(const QString &text);
