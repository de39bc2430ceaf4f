#pragma once
// Byte layout of the controller configuration image. Every offset the encoder and decoder use
// is named here, and only here: the control table takes its offsets from these.

#include <cstdint>

#include "image/ConfigImageTypes.h"

namespace layout {

// ---- regions ----
inline constexpr int kContactReactions = 0;      // 10 blocks of 98 bytes
inline constexpr int kSensorReactions = 980;     // 8 blocks of 147 bytes (bus sensors)
inline constexpr int kAnalogReactions = 2156;    // 8 blocks of 147 bytes (analog inputs)
inline constexpr int kSensorThresholds = 3332;   // 8 pairs of 4-character texts
inline constexpr int kAnalogThresholds = 3396;   // 8 pairs of single-precision numbers
inline constexpr int kPassword = 3490;
inline constexpr int kPasswordWidth = 8;
inline constexpr int kSensorIds = 3498;          // 8 identifiers of 16 characters
inline constexpr int kSensorIdWidth = 16;
inline constexpr int kRelayOnTimes = 3626;
inline constexpr int kArchivePeriod = 3641;
inline constexpr int kMasterKey = 3642;
inline constexpr int kMasterKeyWidth = 16;
inline constexpr int kDisarmContacts = 3658;
inline constexpr int kDisarmAnalogs = 3659;
inline constexpr int kSendAttempts = 3660;
inline constexpr int kModeChangeRights = 3661;
inline constexpr int kStatusSchedule = 3662;
inline constexpr int kStatusContent = 3663;
inline constexpr int kContactReactionDelays = 3664;
inline constexpr int kAnalogReactionDelays = 3672;
inline constexpr int kArmingDelay = 3680;
inline constexpr int kContactInsensitivity = 3681;
inline constexpr int kAnalogInsensitivity = 3689;
inline constexpr int kObjectId = 3697;
inline constexpr int kObjectIdWidth = 8;
inline constexpr int kPhones = 3705;             // 9 numbers of 16 characters
inline constexpr int kPhoneWidth = 16;
inline constexpr int kPhoneCount = 9;
inline constexpr int kSmsCentre = 3849;
inline constexpr int kSmsCentreWidth = 16;
inline constexpr int kCsdEnabled = 3865;
inline constexpr int kAnalogInputs = 3866;       // 8 records of 16 bytes
inline constexpr int kAnalogInputSize = 16;
inline constexpr int kContactPresenceTimes = 3994;
inline constexpr int kChecksum = 4122;
inline constexpr int kChecksummedBytes = 4122;   // bytes 0..4121

// Reserved ranges (always zero in built images).
inline constexpr int kReserved1 = 3460, kReserved1Size = 30;
inline constexpr int kReserved2 = 3634, kReserved2Size = 7;
inline constexpr int kReserved3 = 4002, kReserved3Size = 120;

// ---- reaction records ----
inline constexpr int kRecordSize = 49;
inline constexpr int kRecordRelays = 0;          // 8 action codes
inline constexpr int kRelayCount = 8;
inline constexpr int kRecordSlots = 8;           // 9 subscriber codes
inline constexpr int kSlotCount = 9;
inline constexpr int kRecordMessage = 17;        // 32 characters
inline constexpr int kMessageWidth = 32;

inline constexpr int kContactBlocks = 10;
inline constexpr int kContactBlockSize = 98;     // 2 records
inline constexpr int kContactEvents = 2;
inline constexpr int kChannelBlocks = 8;         // analog inputs, bus sensors
inline constexpr int kChannelBlockSize = 147;    // 3 records
inline constexpr int kChannelEvents = 3;

constexpr int contactRecord(int block, int event) {
  return kContactReactions + kContactBlockSize * block + kRecordSize * event;
}
constexpr int sensorRecord(int block, int event) {
  return kSensorReactions + kChannelBlockSize * block + kRecordSize * event;
}
constexpr int analogRecord(int block, int event) {
  return kAnalogReactions + kChannelBlockSize * block + kRecordSize * event;
}

// ---- thresholds ----
inline constexpr int kThresholdPairSize = 8;
inline constexpr int kSensorThresholdWidth = 4;
constexpr int sensorUpperThreshold(int k) { return kSensorThresholds + kThresholdPairSize * k; }
constexpr int sensorLowerThreshold(int k) { return sensorUpperThreshold(k) + 4; }
constexpr int analogUpperThreshold(int k) { return kAnalogThresholds + kThresholdPairSize * k; }
constexpr int analogLowerThreshold(int k) { return analogUpperThreshold(k) + 4; }

// ---- analog input records ----
inline constexpr int kSignalMin = 0;
inline constexpr int kSignalMax = 1;
inline constexpr int kRangeMin = 2;              // signed 16-bit, high byte first
inline constexpr int kRangeMax = 4;
inline constexpr int kUnits = 6;
inline constexpr int kUnitsWidth = 10;
constexpr int analogInput(int a) { return kAnalogInputs + kAnalogInputSize * a; }

constexpr int phone(int n) { return kPhones + kPhoneWidth * n; }
constexpr int sensorId(int k) { return kSensorIds + kSensorIdWidth * k; }

// ---- value codes ----
inline constexpr std::uint8_t kRelayOn = 0x5A;        // 'Z'
inline constexpr std::uint8_t kRelayOff = 0x52;       // 'R'
inline constexpr std::uint8_t kRelayUnchanged = 0x4E; // 'N'
inline constexpr std::uint8_t kRelayNone = 0x00;      // caption not recognised
inline constexpr std::uint8_t kSlotFirstSubscriber = 0x31;  // '1'..'8'
inline constexpr std::uint8_t kSlotDispatcher = 0x39;       // '9'
inline constexpr std::uint8_t kSlotEmpty = 0x4E;            // 'N'

inline constexpr std::uint8_t kModeChangeByKey = 0x01;
inline constexpr std::uint8_t kModeChangeBySms = 0x02;

static_assert(kChecksum == int(kConfigImageSize) - 1);
static_assert(kContactReactions + kContactBlocks * kContactBlockSize == kSensorReactions);
static_assert(kSensorReactions + kChannelBlocks * kChannelBlockSize == kAnalogReactions);
static_assert(kAnalogReactions + kChannelBlocks * kChannelBlockSize == kSensorThresholds);
static_assert(kSensorThresholds + kChannelBlocks * kThresholdPairSize == kAnalogThresholds);
static_assert(kAnalogThresholds + kChannelBlocks * kThresholdPairSize == kReserved1);
static_assert(kReserved1 + kReserved1Size == kPassword);
static_assert(kSensorIds + 8 * kSensorIdWidth == kRelayOnTimes);
static_assert(kRelayOnTimes + 8 == kReserved2 && kReserved2 + kReserved2Size == kArchivePeriod);
static_assert(kPhones + kPhoneCount * kPhoneWidth == kSmsCentre);
static_assert(kSmsCentre + kSmsCentreWidth == kCsdEnabled);
static_assert(kAnalogInputs + 8 * kAnalogInputSize == kContactPresenceTimes);
static_assert(kContactPresenceTimes + 8 == kReserved3 && kReserved3 + kReserved3Size == kChecksum);
static_assert(kRecordMessage + kMessageWidth == kRecordSize);

}  // namespace layout
