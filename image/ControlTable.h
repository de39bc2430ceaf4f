#pragma once
// The one table of the editor's settings. A row holds what the window calls a setting and where
// it shows it (tabs, group frames, the analog page's row and column, the label), its limits and
// start-up value, and the image bytes it fills. The window builds its controls and their texts
// from it, the codec walks it, and the command line names settings by its words. Offsets come
// from image/ConfigLayout.h.

#include <QString>
#include <QStringList>
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
  int maxLength;     // how many characters may be typed
  const char *start; // start-up text (UTF-8)
  int offset;        // image offset
  int width;         // bytes the image holds for it
  TextRule rule;     // how the decoder reads it back
  bool exactOnly;    // stored only when exactly `width` characters long
  bool phone = false;   // only "0".."9" and "+" may be typed
};

// A check box CheckBox<number> as one bit (or, for bit -1, the whole byte 1/0).
struct CheckField {
  int number;
  int offset;
  int bit;           // -1: the byte is 1 when checked, else 0
};

inline constexpr int kSpinCount = 83;    // SpinEdit1..SpinEdit83
inline constexpr int kTextCount = 28;    // Edit1..Edit28
inline constexpr int kCheckCount = 24;   // CheckBox1..CheckBox24
inline constexpr int kAnalogInputCount = 8;

// The spin fields of analog input a (0..7). Input 8's low end of the measured range is
// SpinEdit67, not SpinEdit35, which belongs to the reaction delays.
constexpr int signalMinSpin(int a) { return 12 + a; }
constexpr int signalMaxSpin(int a) { return 20 + a; }
constexpr int rangeMinSpin(int a) { return a < 7 ? 28 + a : 67; }
constexpr int rangeMaxSpin(int a) { return 68 + a; }
constexpr int unitsEdit(int a) { return 21 + a; }

// Where the window shows a setting and what it calls it, as the widgets carry the texts.
struct Words {
  QStringList tabs;    // tab texts, outermost first
  QStringList groups;  // group frame titles, outermost first
  QString row;         // analog page: the row's label ("Вход 1")
  QString column;      // analog page: the column heading above the field
  QString label;       // its label, or a check box's or radio group's own text; may be empty
};

enum class Kind {
  Spin,        // SpinEdit<number>
  Text,        // Edit<number>
  Check,       // CheckBox<number>
  Radio,       // RadioGroup<number>
  SmsCentre,   // ComboBox2 (number 2)
  Tree,        // reaction tree <number>, all its nodes; its words are its tabs
};

struct Setting {
  Kind kind;
  int number;
  Words words;
};

// Every setting in the order of the window's pages.
std::span<const Setting> settings();
const Words &wordsOf(Kind kind, int number);
// The two items of each radio group; the item index is what the image keeps.
const QStringList &radioItems();

std::span<const SpinField> spinFields();
std::span<const TextField> textFields();
std::span<const CheckField> checkFields();

const SpinField *spinField(int number);
const TextField *textField(int number);

// The settings part of the image as one ordered walk: the encoder writes and the decoder reads
// these steps in this order, and the progress window moves at the Progress steps.
enum class Step {
  Spins,       // SpinEdit first..last
  Texts,       // Edit first..last
  Checks,      // CheckBox first..last
  ModeRights,  // the two radio groups, one byte
  SmsCentre,   // the SMS centre box
  Progress,    // the progress position `first`
};
struct ImageStep {
  Step step;
  int first = 0, last = 0;
};
std::span<const ImageStep> imageSteps();

}  // namespace controls
