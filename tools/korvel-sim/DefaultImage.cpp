#include "DefaultImage.h"

#include <algorithm>

namespace sim {

std::string toWindows1251(const std::string &utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    std::uint32_t cp = 0;
    std::size_t len = 1;
    if (c < 0x80) cp = c;
    else if ((c >> 5) == 0x6) { cp = c & 0x1F; len = 2; }
    else if ((c >> 4) == 0xE) { cp = c & 0x0F; len = 3; }
    else if ((c >> 3) == 0x1E) { cp = c & 0x07; len = 4; }
    else { out += '?'; ++i; continue; }
    if (i + len > utf8.size()) { out += '?'; break; }
    for (std::size_t k = 1; k < len; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += len;
    if (cp < 0x80) out += static_cast<char>(cp);
    else if (cp >= 0x0410 && cp <= 0x044F) out += static_cast<char>(0xC0 + (cp - 0x0410));
    else if (cp == 0x0401) out += static_cast<char>(0xA8);
    else if (cp == 0x0451) out += static_cast<char>(0xB8);
    else if (cp == 0x2116) out += static_cast<char>(0xB9);
    else out += '?';
  }
  return out;
}

std::uint8_t checksumOf(const Image &image) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i + 1 < kImageSize; ++i) sum = static_cast<std::uint8_t>(sum + image[i]);
  return sum;
}

bool checksumOk(const Image &image) { return checksumOf(image) == image[kImageSize - 1]; }

namespace {
void putText(Image &img, std::size_t offset, std::size_t field, const std::string &utf8) {
  const std::string cp = toWindows1251(utf8);
  const std::size_t n = std::min(cp.size(), field);
  for (std::size_t i = 0; i < n; ++i) img[offset + i] = static_cast<std::uint8_t>(cp[i]);
}

// Every relay "leave unchanged", every telephone slot empty, and the message text.
void putReaction(Image &img, std::size_t offset, const std::string &message) {
  for (std::size_t i = 0; i < 8 + 9; ++i) img[offset + i] = 0x4E;
  putText(img, offset + 17, 32, message);
}
}  // namespace

Image defaultImage() {
  Image img{};
  for (int k = 0; k < 10; ++k) {
    const std::size_t base = 98 * static_cast<std::size_t>(k);
    std::string first, second;
    if (k < 8) {
      first = "Вход " + std::to_string(k + 1) + " Замкнут";
      second = "Вход " + std::to_string(k + 1) + " Разомкнут";
    } else if (k == 8) {
      first = "Контроль питания:Да";
      second = "Контроль питания:Нет";
    } else {
      first = "Смена режима работы:Охрана";
      second = "Смена режима работы:ТО";
    }
    putReaction(img, base, first);
    putReaction(img, base + 49, second);
  }
  for (int k = 0; k < 8; ++k) {
    const std::string n = std::to_string(k + 1);
    const std::size_t sensor = 980 + 147 * static_cast<std::size_t>(k);
    const std::size_t analog = 2156 + 147 * static_cast<std::size_t>(k);
    putReaction(img, sensor, "Датчик " + n + " выше нормы");
    putReaction(img, sensor + 49, "Датчик " + n + " норма");
    putReaction(img, sensor + 98, "Датчик " + n + " ниже нормы");
    putReaction(img, analog, "АЦП " + n + " выше нормы");
    putReaction(img, analog + 49, "АЦП " + n + " норма");
    putReaction(img, analog + 98, "АЦП " + n + " ниже нормы");
    putText(img, 3332 + 8 * static_cast<std::size_t>(k), 4, "0,0");
    putText(img, 3336 + 8 * static_cast<std::size_t>(k), 4, "00");
    const std::size_t input = 3866 + 16 * static_cast<std::size_t>(k);
    img[input + 1] = 20;     // SignalMax
    img[input + 4] = 0x00;   // RangeMax 20, high byte first
    img[input + 5] = 0x14;
  }
  putText(img, 3490, 8, "Пароль");
  img[3660] = 5;   // SendAttempts
  img[3661] = 3;   // ModeChangeRights: key and SMS
  putText(img, 3697, 8, "Объект 1");
  putText(img, 3849, 16, "+79168999100");
  img[kImageSize - 1] = checksumOf(img);
  return img;
}

}  // namespace sim
