#pragma once
// The one place where the editor's numbered controls, their limits, start-up values and the
// image bytes they fill meet. The window builds its controls from it, the encoder and decoder
// walk it, and the tests check it against the window.

#include <array>
#include <span>

namespace controls {

// An integer spin field. Values are stored as one unsigned byte, or as a signed 16-bit number
// high byte first when bytes == 2.
struct SpinField {
  int number;       // SpinEdit<number>
  int min, max;
  int start;        // start-up value
  bool typing;      // whether the value may be typed, not only stepped
  int offset;       // image offset
  int bytes;        // 1 or 2
};

enum class TextRule {
  UpToZero,      // characters up to the first zero byte
  AllOrNothing,  // all characters if none is zero, else empty
  NonZero,       // every non-zero byte, zero bytes skipped
};

// A text field Edit<number>.
struct TextField {
  int number;
  int maxLength;     // the control's character limit
  const char *start; // start-up text (UTF-8)
  int offset;        // image offset
  int width;         // bytes the image holds for it
  TextRule rule;     // how the decoder reads it back
  bool exactOnly;    // stored only when exactly `width` characters long
};

// A check box CheckBox<number> as one bit (or, for bitMask 0, the whole byte 1/0).
struct CheckField {
  int number;
  int offset;
  int bit;           // -1: the byte is 1 when checked, else 0
};

std::span<const SpinField> spinFields();
std::span<const TextField> textFields();
std::span<const CheckField> checkFields();

const SpinField *spinField(int number);
const TextField *textField(int number);

// The two mode-change radio groups share one byte: bit 0 for the TM key, bit 1 for SMS.
inline constexpr int kModeChangeRightsOffset = 3661;
inline constexpr int kSmsCentreOffset = 3849;
inline constexpr int kSmsCentreWidth = 16;

}  // namespace controls
