#include "editor/ControlTable.h"

#include <vector>

namespace controls {
namespace {

// Offsets of the per-input settings and their records in the image.
constexpr int kRelayOnTimes = 3626;
constexpr int kArchivePeriod = 3641;
constexpr int kSendAttempts = 3660;
constexpr int kContactReactionDelays = 3664;
constexpr int kAnalogReactionDelays = 3672;
constexpr int kArmingDelay = 3680;
constexpr int kContactInsensitivity = 3681;
constexpr int kAnalogInsensitivity = 3689;
constexpr int kAnalogInputs = 3866;  // 8 records of 16 bytes
constexpr int kAnalogRecord = 16;
constexpr int kContactPresenceTimes = 3994;
constexpr int kPassword = 3490;
constexpr int kSensorIds = 3498;
constexpr int kMasterKey = 3642;
constexpr int kObjectId = 3697;
constexpr int kPhones = 3705;
constexpr int kDisarmContacts = 3658;
constexpr int kDisarmAnalogs = 3659;
constexpr int kStatusSchedule = 3662;
constexpr int kStatusContent = 3663;
constexpr int kCsdEnabled = 3865;

std::vector<SpinField> makeSpins() {
  std::vector<SpinField> v;
  v.push_back({1, 0, 255, 5, false, kSendAttempts, 1});
  v.push_back({2, 0, 255, 0, false, kArmingDelay, 1});
  for (int i = 0; i < 8; ++i) v.push_back({3 + i, 0, 255, 0, false, kRelayOnTimes + i, 1});
  v.push_back({11, 0, 254, 0, true, kArchivePeriod, 1});
  for (int i = 0; i < 8; ++i) {
    const int rec = kAnalogInputs + kAnalogRecord * i;
    v.push_back({12 + i, 0, 19, 0, false, rec + 0, 1});
    v.push_back({20 + i, 0, 20, 20, false, rec + 1, 1});
    // Input 8's low end of the measured range is SpinEdit67, not SpinEdit35.
    v.push_back({i < 7 ? 28 + i : 67, -9999, 9998, 0, false, rec + 2, 2});
    v.push_back({68 + i, -9999, 9998, 20, false, rec + 4, 2});
  }
  for (int i = 0; i < 8; ++i) {
    v.push_back({35 + i, 0, 255, 0, false, kContactReactionDelays + i, 1});
    v.push_back({43 + i, 0, 255, 0, false, kAnalogReactionDelays + i, 1});
    v.push_back({51 + i, 0, 255, 0, false, kContactInsensitivity + i, 1});
    v.push_back({59 + i, 0, 255, 0, false, kAnalogInsensitivity + i, 1});
    v.push_back({76 + i, 0, 255, 0, false, kContactPresenceTimes + i, 1});
  }
  return v;
}

std::vector<TextField> makeTexts() {
  std::vector<TextField> v;
  v.push_back({1, 8, "Объект 1", kObjectId, 8, TextRule::NonZero, false});
  v.push_back({2, 8, "Пароль", kPassword, 8, TextRule::NonZero, false});
  for (int n = 0; n < 9; ++n)  // Edit3..Edit10 subscribers, Edit11 dispatcher centre
    v.push_back({3 + n, 16, "", kPhones + 16 * n, 16, TextRule::UpToZero, false});
  v.push_back({12, 16, "", kMasterKey, 16, TextRule::AllOrNothing, false});
  for (int k = 0; k < 8; ++k)
    v.push_back({13 + k, 16, "", kSensorIds + 16 * k, 16, TextRule::AllOrNothing, true});
  for (int i = 0; i < 8; ++i)
    v.push_back({21 + i, 6, "", kAnalogInputs + kAnalogRecord * i + 6, 10, TextRule::NonZero, false});
  return v;
}

std::vector<CheckField> makeChecks() {
  std::vector<CheckField> v;
  for (int b = 0; b < 3; ++b) v.push_back({1 + b, kStatusContent, b});
  for (int b = 0; b < 4; ++b) v.push_back({4 + b, kStatusSchedule, b});
  v.push_back({8, kCsdEnabled, -1});
  for (int b = 0; b < 8; ++b) v.push_back({9 + b, kDisarmContacts, b});
  for (int b = 0; b < 8; ++b) v.push_back({17 + b, kDisarmAnalogs, b});
  return v;
}

const std::vector<SpinField> &spins() { static const auto v = makeSpins(); return v; }
const std::vector<TextField> &texts() { static const auto v = makeTexts(); return v; }
const std::vector<CheckField> &checks() { static const auto v = makeChecks(); return v; }

}  // namespace

std::span<const SpinField> spinFields() { return spins(); }
std::span<const TextField> textFields() { return texts(); }
std::span<const CheckField> checkFields() { return checks(); }

const SpinField *spinField(int number) {
  for (const auto &f : spins())
    if (f.number == number) return &f;
  return nullptr;
}

const TextField *textField(int number) {
  for (const auto &f : texts())
    if (f.number == number) return &f;
  return nullptr;
}

}  // namespace controls
