#pragma once
// Numbers in the image: 16-bit values signed and high byte first, analog thresholds IEEE 754
// single precision with the least significant byte first.

#include <bit>
#include <cstdint>

#include "image/ConfigImageTypes.h"

inline std::int16_t readInt16BE(const ConfigImageBytes &image, int offset) {
  return std::int16_t(std::uint16_t(image[offset] << 8 | image[offset + 1]));
}

// Stores the low 16 bits of value.
inline void writeInt16BE(ConfigImageBytes &image, int offset, int value) {
  const auto u = std::uint16_t(value);
  image[offset] = std::uint8_t(u >> 8);
  image[offset + 1] = std::uint8_t(u);
}

inline std::uint32_t readFloatBitsLE(const ConfigImageBytes &image, int offset) {
  return std::uint32_t(image[offset]) | std::uint32_t(image[offset + 1]) << 8 |
         std::uint32_t(image[offset + 2]) << 16 | std::uint32_t(image[offset + 3]) << 24;
}

inline float readFloatLE(const ConfigImageBytes &image, int offset) {
  return std::bit_cast<float>(readFloatBitsLE(image, offset));
}

inline void writeFloatLE(ConfigImageBytes &image, int offset, float value) {
  const auto u = std::bit_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) image[offset + i] = std::uint8_t(u >> (8 * i));
}
