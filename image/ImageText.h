#pragma once
// Texts in the image: Windows-1251, one byte per character, zero-padded, no terminator.

#include <QString>
#include <cstdint>
#include <span>

#include "image/ConfigImageTypes.h"

using ImageField = std::span<const std::uint8_t>;

// Bytes offset .. offset+width-1 of an image; the offsets are layout constants.
ImageField imageField(const ConfigImageBytes &image, int offset, int width);

// The three ways the decoder reads a text back.
QString readUpToZero(ImageField field);      // characters before the first zero byte
QString readAllOrNothing(ImageField field);  // every character, or empty if any byte is zero
QString readNonZero(ImageField field);       // every non-zero byte, zero bytes skipped

// Writes the text's first `width` characters at offset and zeroes the rest of the field; never
// touches a byte outside it. Returns the number of characters that did not fit.
int writeText(ConfigImageBytes &image, int offset, int width, const QString &text);
