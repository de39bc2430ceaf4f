#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

// A whole controller configuration: 4123 bytes, the last one an 8-bit additive checksum.
inline constexpr std::size_t kConfigImageSize = 4123;
using ConfigImageBytes = std::array<std::uint8_t, kConfigImageSize>;
