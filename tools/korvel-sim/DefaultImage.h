#pragma once
// The configuration image an untouched editor builds, for the simulator's LOAD replies.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

constexpr std::size_t kImageSize = 4123;
using Image = std::array<std::uint8_t, kImageSize>;

// UTF-8 in, Windows-1251 out; characters the code page lacks become '?'.
std::string toWindows1251(const std::string &utf8);

std::uint8_t checksumOf(const Image &image);   // sum of bytes 0..4121 modulo 256
bool checksumOk(const Image &image);
Image defaultImage();

}  // namespace sim
