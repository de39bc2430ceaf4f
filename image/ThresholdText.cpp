#include "image/ThresholdText.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

constexpr int kPlainWidth = 10;
constexpr int kSignificantDigits = 15;

// Significant digits without trailing zeros (at least one) and the decimal exponent of the
// first one: value = 0.d1d2.. * 10^(exponent+1).
struct Decimal {
  bool negative = false;
  std::string digits;
  int exponent = 0;
};

// Parses the output of "%.*e" or to_chars(scientific): "-d.ddde+XX".
Decimal fromScientific(const char *s) {
  Decimal d;
  if (*s == '-') { d.negative = true; ++s; }
  for (; *s && *s != 'e'; ++s)
    if (*s != '.') d.digits.push_back(*s);
  if (*s == 'e') d.exponent = std::atoi(s + 1);
  while (d.digits.size() > 1 && d.digits.back() == '0') d.digits.pop_back();
  return d;
}

std::string fixedForm(const Decimal &d) {
  std::string out = d.negative ? "-" : "";
  const int n = int(d.digits.size());
  if (d.exponent >= 0) {
    if (n <= d.exponent + 1) {
      out += d.digits;
      out.append(std::size_t(d.exponent + 1 - n), '0');
    } else {
      out += d.digits.substr(0, std::size_t(d.exponent + 1));
      out += ',';
      out += d.digits.substr(std::size_t(d.exponent + 1));
    }
  } else {
    out += "0,";
    out.append(std::size_t(-d.exponent - 1), '0');
    out += d.digits;
  }
  return out;
}

std::string exponentForm(const Decimal &d) {
  std::string out = d.negative ? "-" : "";
  out += d.digits[0];
  if (d.digits.size() > 1) {
    out += ',';
    out += d.digits.substr(1);
  }
  out += 'E';
  out += std::to_string(d.exponent);  // the minus sign only when negative
  return out;
}

std::optional<QString> specialText(float value) {
  if (std::isnan(value)) return QString::fromLatin1(std::signbit(value) ? "-NAN" : "NAN");
  if (std::isinf(value)) return QString::fromLatin1(value < 0 ? "-INF" : "INF");
  return std::nullopt;
}

bool sameValue(std::optional<float> parsed, float value) {
  if (!parsed) return false;
  if (std::isnan(value)) return std::isnan(*parsed) && std::signbit(*parsed) == std::signbit(value);
  return std::bit_cast<std::uint32_t>(*parsed) == std::bit_cast<std::uint32_t>(value);
}

}  // namespace

QString plainThresholdText(float value) {
  if (auto special = specialText(value)) return *special;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", kSignificantDigits - 1, double(value));
  const Decimal d = fromScientific(buf);
  const bool fixed = d.exponent >= -4 && d.exponent <= kSignificantDigits - 1;
  std::string text = fixed ? fixedForm(d) : exponentForm(d);
  if (text.size() > std::size_t(kPlainWidth)) text.resize(kPlainWidth);
  if (text == "0") text = "0,0";
  if (text == "-0") text = "-0,0";  // keeps the sign of a negative zero
  return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

QString thresholdText(float value) {
  // The threshold dialog refuses "E": a text shown with an exponent would be cut at the first
  // key pressed in it.
  const QString plain = plainThresholdText(value);
  if (!plain.contains(QLatin1Char('E')) && sameValue(parseThreshold(plain), value)) return plain;
  // The shortest digits that round back to this single-precision value, written out in full.
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf - 1, value, std::chars_format::scientific);
  *res.ptr = '\0';
  const std::string fixed = fixedForm(fromScientific(buf));
  return QString::fromLatin1(fixed.data(), qsizetype(fixed.size()));
}

std::optional<float> parseThreshold(const QString &text) {
  const QString upper = text.toUpper();
  if (upper == QLatin1String("INF")) return std::numeric_limits<float>::infinity();
  if (upper == QLatin1String("-INF")) return -std::numeric_limits<float>::infinity();
  if (upper == QLatin1String("NAN")) return std::numeric_limits<float>::quiet_NaN();
  if (upper == QLatin1String("-NAN")) return -std::numeric_limits<float>::quiet_NaN();

  // Check the grammar ourselves and hand from_chars a plain ASCII copy with '.'.
  auto isDigit = [&](qsizetype k) { return text[k] >= u'0' && text[k] <= u'9'; };
  const qsizetype n = text.size();
  qsizetype i = 0;
  const bool negative = i < n && text[i] == u'-';
  if (negative) ++i;
  std::string intPart, fracPart;
  for (; i < n && isDigit(i); ++i) intPart += char(text[i].unicode());
  const bool hasSeparator = i < n && text[i] == u',';
  if (hasSeparator)
    for (++i; i < n && isDigit(i); ++i) fracPart += char(text[i].unicode());
  if (intPart.empty() && fracPart.empty()) return std::nullopt;
  long long exponent = 0;
  std::string expPart;
  if (i < n && (text[i] == u'E' || text[i] == u'e')) {
    ++i;
    bool expNegative = false;
    if (i < n && (text[i] == u'-' || text[i] == u'+')) expNegative = text[i++] == u'-';
    for (; i < n && isDigit(i); ++i) {
      expPart += char(text[i].unicode());
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (text[i].unicode() - u'0');
    }
    if (expPart.empty()) return std::nullopt;
    if (expNegative) { exponent = -exponent; expPart.insert(0, 1, '-'); }
  }
  if (i != n) return std::nullopt;

  std::string s = negative ? "-" : "";
  s += intPart.empty() ? "0" : intPart;
  if (!fracPart.empty()) s += '.' + fracPart;
  if (!expPart.empty()) s += 'e' + expPart;

  // Decimal magnitude of the leading non-zero digit, to tell underflow from overflow.
  std::optional<long long> magnitude;
  const auto lead = intPart.find_first_not_of('0');
  if (lead != std::string::npos) {
    magnitude = (long long)(intPart.size() - lead) - 1 + exponent;
  } else if (const auto f = fracPart.find_first_not_of('0'); f != std::string::npos) {
    magnitude = -(long long)f - 1 + exponent;
  }

  float value = 0;
  const auto res = std::from_chars(s.data(), s.data() + s.size(), value);
  if (res.ptr != s.data() + s.size()) return std::nullopt;
  if (res.ec == std::errc::result_out_of_range) {
    // Too small for single precision rounds to zero; too large is not a storable value.
    if (magnitude && *magnitude < 0) return negative ? -0.0f : 0.0f;
    return std::nullopt;
  }
  if (res.ec != std::errc()) return std::nullopt;
  return value;
}
