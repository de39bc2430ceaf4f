#pragma once
// The image's only integrity check: byte 4122 is the 8-bit wrapping sum of bytes 0..4121.

#include <cstdint>

#include "image/ConfigImageTypes.h"

std::uint8_t imageChecksum(const ConfigImageBytes &image);
void storeChecksum(ConfigImageBytes &image);
bool checksumMatches(const ConfigImageBytes &image);
