#include "image/Checksum.h"

#include "image/ConfigLayout.h"

std::uint8_t imageChecksum(const ConfigImageBytes &image) {
  std::uint8_t sum = 0;  // wraps at 256 by design
  for (int i = 0; i < layout::kChecksummedBytes; ++i) sum = std::uint8_t(sum + image[i]);
  return sum;
}

void storeChecksum(ConfigImageBytes &image) { image[layout::kChecksum] = imageChecksum(image); }

bool checksumMatches(const ConfigImageBytes &image) {
  return imageChecksum(image) == image[layout::kChecksum];
}
