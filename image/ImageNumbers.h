#pragma once
// Numbers in the image: 16-bit values signed and high byte first, analog thresholds IEEE 754
// single precision with the least significant byte first. Offsets are checked by the callers'
// layout, not here.

#include <QtEndian>
#include <bit>
#include <cstdint>

#include "image/ConfigImageTypes.h"

inline std::int16_t readInt16BE(const ConfigImageBytes &image, int offset) {
  return qFromBigEndian<std::int16_t>(image.data() + offset);
}

// Stores the low 16 bits of value.
inline void writeInt16BE(ConfigImageBytes &image, int offset, int value) {
  qToBigEndian(std::int16_t(value), image.data() + offset);
}

inline std::uint32_t readFloatBitsLE(const ConfigImageBytes &image, int offset) {
  return qFromLittleEndian<std::uint32_t>(image.data() + offset);
}

inline float readFloatLE(const ConfigImageBytes &image, int offset) {
  return std::bit_cast<float>(readFloatBitsLE(image, offset));
}

inline void writeFloatLE(ConfigImageBytes &image, int offset, float value) {
  qToLittleEndian(std::bit_cast<std::uint32_t>(value), image.data() + offset);
}
