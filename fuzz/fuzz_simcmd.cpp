// The simulator's command parser: any byte stream into ControllerCore::received, in chunks with
// time moving on, never crashes and keeps its output bounded; afterwards, once the line has been
// quiet and a CR LF has ended whatever was left, a handshake and a command are still answered.
//
// Input: a flags byte (bit 0: 9600-baud pacing; bit 1: a fault from the text before the first
// '\n' of the rest), then records of [gap byte][length byte][bytes]: the gap moves time on
// (0..255 * 40 ms), the bytes arrive at once.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "ControllerCore.h"
#include "FuzzSupport.h"

namespace {

// A reply grows with its command, never beyond this much per received byte (a LOAD is 6 bytes
// of command for 4123 image bytes and its lines), plus the "ATI" announcements over time.
constexpr double kOutPerInByte = 800;

struct Run {
  korvel::ControllerCore core;
  double now = 0;
  std::size_t in = 0, out = 0;
  std::string tail;   // the output since the last mark

  Run(korvel::Options o) : core(std::move(o), sim::defaultImage()) {}

  void take() {
    const std::string o = core.takeOutput(now);
    out += o.size();
    tail += o;
    if (tail.size() > 1 << 16) tail.erase(0, tail.size() - (1 << 15));
    const double due = core.nextDueMs();
    FUZZ_CHECK(!std::isnan(due), "next due time is NaN");
    FUZZ_CHECK(double(out) <= kOutPerInByte * double(in + 6) + 5.0 * (now / 1000.0 + 1.0),
               "%zu bytes out for %zu in after %.0f ms", out, in, now);
  }
  void send(std::string_view bytes) {
    in += bytes.size();
    core.received(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size(), now);
    take();
  }
  void wait(double ms) {
    // In steps, as the program's port reads: every due moment is visited on the way.
    const double end = now + ms;
    while (now < end) {
      const double due = core.nextDueMs();
      now = std::min(end, std::max(now + 1, std::isfinite(due) ? due : end));
      take();
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t flags = data[0];
  std::string_view rest(reinterpret_cast<const char *>(data + 1), size - 1);

  korvel::Options options;
  options.pace = flags & 1;
  if (flags & 2) {
    const std::size_t nl = rest.find('\n');
    const std::string_view spelling = rest.substr(0, nl);
    std::string error;
    if (auto f = korvel::parseFault(spelling, &error)) options.faults.push_back(*f);
    else FUZZ_CHECK(!error.empty(), "a refused fault spelling has no reason");
    rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
  }
  const bool clean = options.faults.empty();
  Run run(options);
  run.wait(0);

  std::size_t i = 0;
  while (i + 2 <= rest.size()) {
    const double gap = double(std::uint8_t(rest[i])) * 40;
    const std::size_t len = std::min<std::size_t>(std::uint8_t(rest[i + 1]), rest.size() - i - 2);
    run.wait(gap);
    run.send(rest.substr(i + 2, len));
    i += 2 + len;
  }

  if (!clean) {
    run.wait(10000);
    return 0;
  }
  // Quiet long enough for any transfer, payload or line wait to give up (a paced 64 KiB input
  // takes 68 s to cross the wire), then a CR LF ends whatever line was left, and quiet again.
  run.wait(run.core.nextDueMs() < 1e300 ? 75000 : 0);
  run.send("\r\n");
  run.wait(5000);
  run.tail.clear();
  run.send("PC\r\n");
  run.wait(1000);
  FUZZ_CHECK(run.tail.find("Ver.2.10\r\n") != std::string::npos, "no version line after garbage: \"%s\"",
             run.tail.substr(0, 200).c_str());
  run.send("PC_OK\r\n");
  run.wait(100);
  run.tail.clear();
  run.send("TM\r\n");
  run.wait(1000);
  FUZZ_CHECK(run.tail.find("0A00001B2C3D4E5F\r\n") != std::string::npos, "no key after garbage: \"%s\"",
             run.tail.substr(0, 200).c_str());
  return 0;
}
