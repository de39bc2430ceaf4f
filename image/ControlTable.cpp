#include "image/ControlTable.h"

#include <vector>

#include "image/ConfigLayout.h"

namespace controls {
namespace {

using namespace layout;

std::vector<SpinField> makeSpins() {
  std::vector<SpinField> v;
  v.push_back({1, 0, 255, 5, false, kSendAttempts, 1});
  v.push_back({2, 0, 255, 0, false, kArmingDelay, 1});
  for (int i = 0; i < 8; ++i) v.push_back({3 + i, 0, 255, 0, false, kRelayOnTimes + i, 1});
  v.push_back({11, 0, 254, 0, true, kArchivePeriod, 1});
  for (int a = 0; a < kAnalogInputCount; ++a) {
    const int rec = analogInput(a);
    v.push_back({signalMinSpin(a), 0, 19, 0, false, rec + kSignalMin, 1});
    v.push_back({signalMaxSpin(a), 0, 20, 20, false, rec + kSignalMax, 1});
    v.push_back({rangeMinSpin(a), -9999, 9998, 0, false, rec + kRangeMin, 2});
    v.push_back({rangeMaxSpin(a), -9999, 9998, 20, false, rec + kRangeMax, 2});
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
  v.push_back({1, 8, "Объект 1", kObjectId, kObjectIdWidth, TextRule::NonZero, false});
  v.push_back({2, 8, "Пароль", kPassword, kPasswordWidth, TextRule::NonZero, false});
  for (int n = 0; n < kPhoneCount; ++n)  // Edit3..Edit10 subscribers, Edit11 dispatcher centre
    v.push_back({3 + n, 16, "", phone(n), kPhoneWidth, TextRule::UpToZero, false});
  v.push_back({12, 16, "", kMasterKey, kMasterKeyWidth, TextRule::AllOrNothing, false});
  for (int k = 0; k < 8; ++k)
    v.push_back({13 + k, 16, "", sensorId(k), kSensorIdWidth, TextRule::AllOrNothing, true});
  for (int a = 0; a < kAnalogInputCount; ++a)
    v.push_back({unitsEdit(a), 6, "", analogInput(a) + kUnits, kUnitsWidth, TextRule::NonZero, false});
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

std::span<const ImageStep> imageSteps() {
  static constexpr ImageStep steps[] = {
      {Step::Texts, 2, 2},       // Password
      {Step::Texts, 13, 20},     // SensorIds, only complete ones are stored
      {Step::Progress, 85},
      {Step::Spins, 3, 10},      // RelayOnTimes
      {Step::Spins, 11, 11},     // ArchivePeriod
      {Step::Texts, 12, 12},     // MasterKey
      {Step::Checks, 9, 24},     // DisarmContacts, DisarmAnalogs
      {Step::Progress, 90},
      {Step::Spins, 1, 1},       // SendAttempts
      {Step::ModeRights},
      {Step::Checks, 4, 7},      // StatusSchedule
      {Step::Checks, 1, 3},      // StatusContent
      {Step::Spins, 35, 42},     // ContactReactionDelays
      {Step::Spins, 43, 50},     // AnalogReactionDelays
      {Step::Progress, 95},
      {Step::Spins, 2, 2},       // ArmingDelay
      {Step::Spins, 51, 58},     // ContactInsensitivity
      {Step::Spins, 59, 66},     // AnalogInsensitivity
      {Step::Texts, 1, 1},       // ObjectId
      {Step::Texts, 3, 11},      // Phones
      {Step::SmsCentre},
      {Step::Checks, 8, 8},      // CsdEnabled, the byte after the SMS centre
      {Step::Spins, 12, 19},     // analog inputs: signal minimum
      {Step::Spins, 20, 27},     //   signal maximum
      {Step::Spins, 28, 34},     //   low end of the measured range, inputs 1..7
      {Step::Spins, 67, 67},     //   and input 8
      {Step::Spins, 68, 75},     //   high end of the measured range
      {Step::Texts, 21, 28},     //   units
      {Step::Spins, 76, 83},     // ContactPresenceTimes
  };
  return steps;
}

}  // namespace controls
