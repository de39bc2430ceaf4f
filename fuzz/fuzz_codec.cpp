// The window-free decoder and encoder on any image with a valid checksum (the input is padded
// to 4123 bytes and its checksum fixed). decode -> encode -> decode -> encode: the second round
// trip changes nothing, and every field the decoder reads whole survives the first one as its
// reading rule says.
#include <QString>
#include <bit>
#include <cmath>
#include <cstring>

#include "FuzzSupport.h"
#include "image/Checksum.h"
#include "image/ConfigCodec.h"
#include "image/ConfigLayout.h"
#include "image/ControlTable.h"
#include "image/ImageNumbers.h"

namespace {

using namespace layout;

bool sameValue(const ConfigValue &a, const ConfigValue &b) {
  return a.spins == b.spins && a.texts == b.texts && a.checks == b.checks && a.modeByKey == b.modeByKey &&
         a.modeBySms == b.modeBySms && a.smsCentre == b.smsCentre && a.captions == b.captions;
}

// Expected bytes of a text field after one round trip, by the decoder's rule.
void expectText(const ConfigImageBytes &in, const ConfigImageBytes &out, int offset, int width,
                controls::TextRule rule, bool exactOnly, const char *what) {
  std::vector<std::uint8_t> kept;
  bool zeroSeen = false;
  for (int i = 0; i < width; ++i) {
    const std::uint8_t b = in[std::size_t(offset + i)];
    if (b == 0) zeroSeen = true;
    switch (rule) {
      case controls::TextRule::UpToZero: if (!zeroSeen) kept.push_back(b); break;
      case controls::TextRule::NonZero: if (b != 0) kept.push_back(b); break;
      case controls::TextRule::AllOrNothing: kept.push_back(b); break;
    }
  }
  if (rule == controls::TextRule::AllOrNothing && zeroSeen) kept.clear();
  (void)exactOnly;   // an identifier with a zero reads as empty and is then not stored: zeros too
  for (int i = 0; i < width; ++i) {
    const std::uint8_t want = std::size_t(i) < kept.size() ? kept[std::size_t(i)] : 0;
    FUZZ_CHECK(out[std::size_t(offset + i)] == want, "%s: byte %d of the field at %d is %02x, expected %02x", what,
               i, offset, out[std::size_t(offset + i)], want);
  }
}

void expectByte(const ConfigImageBytes &out, int offset, std::uint8_t want, const char *what) {
  FUZZ_CHECK(out[std::size_t(offset)] == want, "%s at %d: %02x, expected %02x", what, offset,
             out[std::size_t(offset)], want);
}

void checkFields(const ConfigImageBytes &in, const ConfigImageBytes &out) {
  for (const auto &f : controls::spinFields()) {
    if (f.bytes == 2) {
      const int want = std::clamp(int(readInt16BE(in, f.offset)), f.min, f.max);
      FUZZ_CHECK(readInt16BE(out, f.offset) == want, "SpinEdit%d at %d: %d, expected %d", f.number, f.offset,
                 int(readInt16BE(out, f.offset)), want);
    } else {
      expectByte(out, f.offset, std::uint8_t(std::clamp(int(in[std::size_t(f.offset)]), f.min, f.max)), "spin");
    }
  }
  for (const auto &f : controls::textFields())
    expectText(in, out, f.offset, f.width, f.rule, f.exactOnly, "text");
  expectText(in, out, kSmsCentre, kSmsCentreWidth, controls::TextRule::UpToZero, false, "SMS centre");
  expectByte(out, kStatusContent, in[kStatusContent] & 0x07, "status content");
  expectByte(out, kStatusSchedule, in[kStatusSchedule] & 0x0F, "status schedule");
  expectByte(out, kDisarmContacts, in[kDisarmContacts], "disarm contacts");
  expectByte(out, kDisarmAnalogs, in[kDisarmAnalogs], "disarm analogs");
  expectByte(out, kCsdEnabled, in[kCsdEnabled] == 1 ? 1 : 0, "CSD");
  // Combinations the editor does not offer keep its start-up choice (both allowed).
  expectByte(out, kModeChangeRights, in[kModeChangeRights] <= 3 ? in[kModeChangeRights] : 3, "mode rights");

  for (int k = 0; k < 8; ++k) {
    for (const int offset : {analogUpperThreshold(k), analogLowerThreshold(k)}) {
      const float a = readFloatLE(in, offset), b = readFloatLE(out, offset);
      if (std::isnan(a))
        FUZZ_CHECK(std::isnan(b) && std::signbit(a) == std::signbit(b), "NaN threshold at %d became %08x", offset,
                   readFloatBitsLE(out, offset));
      else
        FUZZ_CHECK(readFloatBitsLE(in, offset) == readFloatBitsLE(out, offset), "threshold at %d: %08x became %08x",
                   offset, readFloatBitsLE(in, offset), readFloatBitsLE(out, offset));
    }
    expectText(in, out, sensorUpperThreshold(k), kSensorThresholdWidth, controls::TextRule::NonZero, false,
               "sensor threshold");
    expectText(in, out, sensorLowerThreshold(k), kSensorThresholdWidth, controls::TextRule::NonZero, false,
               "sensor threshold");
  }

  auto record = [&](int rec) {
    for (int r = 0; r < kRelayCount; ++r) {
      const std::uint8_t b = in[std::size_t(rec + kRecordRelays + r)];
      const bool known = b == kRelayOn || b == kRelayOff || b == kRelayUnchanged;
      // An unknown code leaves the start-up caption, "Не изменять".
      expectByte(out, rec + kRecordRelays + r, known ? b : kRelayUnchanged, "relay code");
    }
    for (int s = 0; s < kSlotCount; ++s) {
      const std::uint8_t b = in[std::size_t(rec + kRecordSlots + s)];
      const bool known = b >= kSlotFirstSubscriber && b <= kSlotDispatcher;
      expectByte(out, rec + kRecordSlots + s, known ? b : kSlotEmpty, "slot code");
    }
    expectText(in, out, rec + kRecordMessage, kMessageWidth, controls::TextRule::NonZero, false, "message");
  };
  for (int b = 0; b < kContactBlocks; ++b)
    for (int e = 0; e < kContactEvents; ++e) record(contactRecord(b, e));
  for (int b = 0; b < kChannelBlocks; ++b)
    for (int e = 0; e < kChannelEvents; ++e) {
      record(sensorRecord(b, e));
      record(analogRecord(b, e));
    }
  for (const auto &[from, count] : {std::pair{kReserved1, kReserved1Size}, std::pair{kReserved2, kReserved2Size},
                                   std::pair{kReserved3, kReserved3Size}})
    for (int i = from; i < from + count; ++i) expectByte(out, i, 0, "reserved");
  FUZZ_CHECK(checksumMatches(out), "the built image's checksum does not match");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const ConfigValue startup = ConfigValue::startup();
  ConfigImageBytes image{};
  std::memcpy(image.data(), data, std::min(size, image.size()));
  storeChecksum(image);

  // A wrong checksum is refused and the value left alone.
  {
    ConfigImageBytes bad = image;
    bad[kChecksum] = std::uint8_t(bad[kChecksum] + 1);
    ConfigValue v = startup;
    FUZZ_CHECK(!decodeImage(bad, v), "an image with a wrong checksum was decoded");
    FUZZ_CHECK(sameValue(v, startup), "a refused image changed the value");
  }

  ConfigValue v1 = startup;
  FUZZ_CHECK(decodeImage(image, v1), "an image with a good checksum was refused");
  ConfigImageBytes img1{};
  const auto err1 = encodeImage(v1, img1);
  FUZZ_CHECK(!err1, "a decoded threshold is refused: \"%s\"", qPrintable(err1->text));
  checkFields(image, img1);

  // Decoded over the value it came from, and over a fresh editor: the same value, the same image.
  ConfigValue v2 = v1;
  FUZZ_CHECK(decodeImage(img1, v2), "a built image was refused");
  FUZZ_CHECK(sameValue(v1, v2), "decoding the built image changed the value");
  ConfigValue v3 = startup;
  FUZZ_CHECK(decodeImage(img1, v3), "a built image was refused");
  ConfigImageBytes img2{};
  const auto err2 = encodeImage(v3, img2);
  FUZZ_CHECK(!err2, "a decoded threshold is refused the second time: \"%s\"", qPrintable(err2->text));
  for (std::size_t i = 0; i < img1.size(); ++i)
    FUZZ_CHECK(img1[i] == img2[i], "the second round trip changed byte %zu: %02x -> %02x", i, img1[i], img2[i]);
  return 0;
}
