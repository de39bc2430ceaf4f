// Threshold texts both ways. The first four bytes are a float's bits: its text must read back
// as the same bits (a NaN as a NaN of the same sign) and be a text the threshold field takes.
// The rest is a text: where parseThreshold and strtof (on the text with the decimal comma made
// a point) both take it, they must give the same float; a text in the documented grammar must be
// taken unless its value lies beyond single precision.
#include <QString>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "image/ThresholdText.h"

namespace {

bool sameFloat(float a, float b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
  return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

// The reader's grammar, written out separately: optional '-', digits with at most one ',', at
// least one digit, optionally E/e, an optional sign and at least one digit.
bool inGrammar(const std::string &s) {
  std::size_t i = 0;
  const std::size_t n = s.size();
  auto digit = [&](std::size_t k) { return k < n && s[k] >= '0' && s[k] <= '9'; };
  if (i < n && s[i] == '-') ++i;
  std::size_t digits = 0;
  while (digit(i)) ++i, ++digits;
  if (i < n && s[i] == ',') {
    ++i;
    while (digit(i)) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (s[i] == 'E' || s[i] == 'e')) {
    ++i;
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    if (!digit(i)) return false;
    while (digit(i)) ++i;
  }
  return i == n;
}

bool isSpecial(const std::string &s) {
  std::string u;
  for (char c : s) u += (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
  return u == "INF" || u == "-INF" || u == "NAN" || u == "-NAN";
}

void checkFloat(float v) {
  const QString text = thresholdText(v);
  const std::string t = text.toStdString();
  const std::optional<float> back = parseThreshold(text);
  FUZZ_CHECK(back.has_value(), "thresholdText(%a) = \"%s\" does not read back", double(v), t.c_str());
  FUZZ_CHECK(sameFloat(*back, v), "\"%s\" reads back as %08x, written from %08x", t.c_str(),
             std::bit_cast<std::uint32_t>(*back), std::bit_cast<std::uint32_t>(v));
  // What the field's character check lets through: digits, ',' and '-'; never an exponent.
  if (std::isfinite(v)) {
    FUZZ_CHECK(inGrammar(t) && t.find_first_of("Ee") == std::string::npos,
               "thresholdText(%a) = \"%s\" is no plain decimal", double(v), t.c_str());
    // Once more gives the same text: a value saved and loaded again shows the same caption.
    FUZZ_CHECK(thresholdText(*back) == text, "\"%s\" shown differently the second time", t.c_str());
  }
  const QString plain = plainThresholdText(v);
  FUZZ_CHECK(plain.size() <= 10, "plain text \"%s\" longer than 10", plain.toStdString().c_str());
}

void checkText(const std::string &s) {
  const QString text = QString::fromLatin1(s.data(), qsizetype(s.size()));
  const std::optional<float> parsed = parseThreshold(text);
  const bool grammar = inGrammar(s) || isSpecial(s);
  if (!grammar) {
    FUZZ_CHECK(!parsed, "\"%s\" is outside the grammar but read as %a", s.c_str(), double(*parsed));
    return;
  }
  if (s.find('.') != std::string::npos) return;   // unreachable: the grammar has no '.'
  std::string c = s;
  for (char &ch : c)
    if (ch == ',') ch = '.';
  errno = 0;
  char *end = nullptr;
  const float ref = std::strtof(c.c_str(), &end);
  const bool whole = end == c.c_str() + c.size();
  const bool overflow = errno == ERANGE && std::isinf(ref);
  if (!whole) return;   // strtof does not take it: nothing to compare
  if (overflow) {
    FUZZ_CHECK(!parsed, "\"%s\" overflows single precision but read as %a", s.c_str(), double(*parsed));
    return;
  }
  FUZZ_CHECK(parsed.has_value(), "\"%s\" is in the grammar, strtof gives %a, the reader refuses it",
             s.c_str(), double(ref));
  FUZZ_CHECK(sameFloat(*parsed, ref), "\"%s\": reader %08x, strtof %08x", s.c_str(),
             std::bit_cast<std::uint32_t>(*parsed), std::bit_cast<std::uint32_t>(ref));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size >= 4) {
    std::uint32_t bits;
    std::memcpy(&bits, data, 4);
    checkFloat(std::bit_cast<float>(bits));
    // The neighbours too: rounding faults sit at the edges between two floats.
    if ((bits & 0x7F800000u) != 0x7F800000u) {
      checkFloat(std::bit_cast<float>(bits + 1));
      if (bits & 0x7FFFFFFFu) checkFloat(std::bit_cast<float>(bits - 1));
    }
    data += 4;
    size -= 4;
  }
  if (size > 400) size = 400;
  checkText(std::string(reinterpret_cast<const char *>(data), size));
  return 0;
}
