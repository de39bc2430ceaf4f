#pragma once
// Texts of the analog thresholds, as the threshold captions show them ("Порог " + text):
// decimal numbers with the comma as separator. The decoder writes them without exponent; the
// reader also takes an exponent form ("1,5E-5", "1E20").

#include <QString>
#include <optional>

// The plain 10-character text: the number widened to double, 15 significant digits, fixed
// notation for magnitudes 0,0001 .. < 1E15, otherwise exponent notation; trailing zeros
// dropped; cut to 10 characters; "0" shown as "0,0". Infinities are "INF"/"-INF", NaN is
// "NAN" (or "-NAN" with the sign bit set).
QString plainThresholdText(float value);

// The text the decoder shows: the plain text when it has no exponent and reads back as the same
// single-precision value, otherwise the shortest decimal without exponent that does, however
// long ("0,000015", "100000000000000000000"). parseThreshold(thresholdText(v)) gives v's bits
// back for every v that is not NaN; a NaN comes back as the quiet NaN of the same sign.
QString thresholdText(float value);

// Reads a threshold text: optional "-", digits with at most one ",", at least one digit, then
// optionally "E" and a signed exponent; or "INF", "-INF", "NAN", "-NAN". Rounds once, straight
// to single precision. Magnitudes too small for single precision become a signed zero; texts
// that are not numbers, or whose value lies beyond the single-precision range, give nothing.
std::optional<float> parseThreshold(const QString &text);
