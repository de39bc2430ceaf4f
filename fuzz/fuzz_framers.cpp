// The line and byte framers under any chunking. One script of steps (bytes to feed, arming and
// auto re-arm changes, clock moves, time-out checks) and one script of what each delivery's
// handler does (the same changes, plus bytes fed from inside the handler) run three times: each
// stretch of bytes fed whole, in fuzzer-chosen chunks, and byte by byte. Every run must deliver
// exactly what a plain byte-at-a-time model delivers (nothing lost, doubled or reordered), the
// runs must agree with each other when no handler fed bytes, and the kept input stays within
// its caps.
#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <deque>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "link/Framers.h"

namespace {

enum class Kind : std::uint8_t {
  LineArmed, LineAuto, ByteArmed, ByteAuto, Advance, CheckTimeouts, ToBytes, ToLines, Feed, Count
};

struct Op {
  Kind kind;
  bool on = false;
  std::int64_t ms = 0;
  std::string bytes;
};

struct Script {
  std::vector<Op> steps;                  // top level
  std::vector<std::vector<Op>> handler;   // [k]: what the handler of delivery k does
  std::vector<std::size_t> chunks;        // chunk sizes, used in turn
};

// Times that matter: none, a little, just below, at and beyond the 120.12 s time-out.
std::int64_t pickMs(FuzzedDataProvider &p) {
  static constexpr std::int64_t kTable[] = {0, 1, 55, 1000, 60000, TPacketFramers::kTimeoutMs - 1,
                                            TPacketFramers::kTimeoutMs, TPacketFramers::kTimeoutMs + 1, 130000};
  const std::uint8_t v = p.ConsumeIntegral<std::uint8_t>();
  return v < 128 ? kTable[v % std::size(kTable)] : std::int64_t(v - 128) * 1000;
}

Op pickOp(FuzzedDataProvider &p, bool inHandler) {
  Op op{Kind(p.ConsumeIntegralInRange<int>(0, int(Kind::Count) - 1)), false, 0, {}};
  op.on = p.ConsumeBool();
  if (op.kind == Kind::Advance) op.ms = pickMs(p);
  if (op.kind == Kind::Feed) op.bytes = p.ConsumeRandomLengthString(inHandler ? 64 : 600);
  return op;
}

Script parse(FuzzedDataProvider &p) {
  Script s;
  const int handlers = p.ConsumeIntegralInRange<int>(0, 24);
  for (int k = 0; k < handlers; ++k) {
    std::vector<Op> ops(std::size_t(p.ConsumeIntegralInRange<int>(0, 3)));
    for (Op &op : ops) op = pickOp(p, true);
    s.handler.push_back(std::move(ops));
  }
  const int chunks = p.ConsumeIntegralInRange<int>(1, 8);
  for (int k = 0; k < chunks; ++k) s.chunks.push_back(p.ConsumeIntegralInRange<std::size_t>(1, 40));
  while (p.remaining_bytes() > 0) s.steps.push_back(pickOp(p, false));
  return s;
}

struct Delivery {
  bool line;
  QByteArray bytes;
  std::int64_t atMs;
  bool operator==(const Delivery &) const = default;
};

// What both the framers and the model offer the script.
struct Target {
  virtual ~Target() = default;
  virtual void setArmed(bool line, bool on) = 0;
  virtual void setAuto(bool line, bool on) = 0;
  virtual void checkTimeouts() = 0;
  virtual void feed(const std::string &bytes) = 0;
  std::int64_t now = 1000;
  std::vector<Delivery> log;
  const Script *script = nullptr;
  bool nestedFeed = false;

  void apply(const Op &op) {
    switch (op.kind) {
      case Kind::LineArmed: setArmed(true, op.on); break;
      case Kind::LineAuto: setAuto(true, op.on); break;
      case Kind::ByteArmed: setArmed(false, op.on); break;
      case Kind::ByteAuto: setAuto(false, op.on); break;
      case Kind::Advance: now += op.ms; break;
      case Kind::CheckTimeouts: checkTimeouts(); break;
      case Kind::ToBytes:
        setArmed(true, false), setAuto(true, false), setArmed(false, true), setAuto(false, true);
        break;
      case Kind::ToLines:
        setArmed(false, false), setAuto(false, false), setArmed(true, true), setAuto(true, true);
        break;
      case Kind::Feed: feed(op.bytes); break;
      case Kind::Count: break;
    }
  }
  // Runs delivery k's part of the handler script.
  void delivered(bool line, QByteArray bytes) {
    const std::size_t k = log.size();
    log.push_back({line, std::move(bytes), now});
    if (k < script->handler.size())
      for (const Op &op : script->handler[k]) {
        if (op.kind == Kind::Feed) nestedFeed = nestedFeed || !op.bytes.empty();
        apply(op);
      }
  }
};

// The framers as the link uses them.
struct Real final : Target {
  TPacketFramers f{[this] { return now; }};
  std::size_t outerChunk = 0;

  Real() {
    f.onLine = [this](const QByteArray &line) {
      FUZZ_CHECK(f.delivering(), "a line handler runs outside a delivery");
      checkBounds();
      delivered(true, line);
      checkBounds();
    };
    f.onByte = [this](const std::uint8_t *d, int n) {
      FUZZ_CHECK(n == 1, "%d bytes delivered at once", n);
      checkBounds();
      delivered(false, QByteArray(reinterpret_cast<const char *>(d), n));
      checkBounds();
    };
  }
  void checkBounds() const {
    FUZZ_CHECK(f.collectedLineBytes() <= TPacketFramers::kMaxLine, "%lld line bytes collected",
               (long long)f.collectedLineBytes());
    FUZZ_CHECK(f.storedInputBytes() <= qsizetype(outerChunk) + 2 * TPacketFramers::kMaxHeld,
               "%lld input bytes kept for a chunk of %zu", (long long)f.storedInputBytes(), outerChunk);
  }
  TDataPacket &m(bool line) { return line ? f.line : f.byte; }
  void setArmed(bool line, bool on) override { m(line).setArmed(on); }
  void setAuto(bool line, bool on) override { m(line).setAutoRearm(on); }
  void checkTimeouts() override { f.checkTimeouts(); }
  void feed(const std::string &bytes) override {
    const bool outer = !f.delivering();
    if (outer) outerChunk = bytes.size();
    f.feed(bytes.data(), qsizetype(bytes.size()));
    if (outer) {
      checkBounds();
      FUZZ_CHECK(f.heldBytes() == 0, "%lld bytes left unprocessed after a feed", (long long)f.heldBytes());
    }
  }
};

// One byte at a time, in the order fed; bytes fed while a handler runs queue behind the rest.
struct Model final : Target {
  struct Matcher {
    bool armed = false, autoRearm = false;
    std::int64_t since = 0;
  } line, byte;
  std::string text;       // the line so far (only while it fits)
  std::size_t length = 0; // its length, however long
  bool lastCr = false;    // its last byte is CR
  std::deque<char> queue;
  bool draining = false;

  Matcher &m(bool isLine) { return isLine ? line : byte; }
  void setArmed(bool isLine, bool on) override {
    Matcher &x = m(isLine);
    if (on && !x.armed) x.since = now;
    x.armed = on;
    if (!on && isLine) text.clear(), length = 0, lastCr = false;
  }
  void setAuto(bool isLine, bool on) override { m(isLine).autoRearm = on; }
  // The line matcher drops a stale partial line and listens on; the byte matcher disarms.
  void checkTimeouts() override {
    if (line.armed && now - line.since >= TPacketFramers::kTimeoutMs) {
      text.clear(), length = 0, lastCr = false;
      line.since = now;
    }
    if (byte.armed && now - byte.since >= TPacketFramers::kTimeoutMs) setArmed(false, false);
  }
  void feed(const std::string &bytes) override {
    queue.insert(queue.end(), bytes.begin(), bytes.end());
    if (draining) return;
    draining = true;
    while (!queue.empty()) {
      const char b = queue.front();
      queue.pop_front();
      process(b);
    }
    draining = false;
  }
  void process(char b) {
    checkTimeouts();
    if (line.armed) {
      const bool crlf = lastCr && b == '\n';
      ++length;
      if (length <= std::size_t(TPacketFramers::kMaxLine)) text.push_back(b);
      lastCr = b == '\r';
      if (!crlf) return;
      const bool fits = length <= std::size_t(TPacketFramers::kMaxLine);
      const QByteArray whole = QByteArray::fromStdString(text);
      text.clear(), length = 0, lastCr = false;
      if (!fits) return;   // too long: dropped whole, the matcher stays armed
      line.armed = false;
      delivered(true, whole);
      if (line.autoRearm) setArmed(true, true);
    } else if (byte.armed) {
      byte.armed = false;
      delivered(false, QByteArray(1, b));
      if (byte.autoRearm) setArmed(false, true);
    }
  }
};

// How a run splits a stretch of bytes for the outer feed() calls.
enum class Split { Whole, Chunks, Bytes };

void run(Target &t, const Script &s, Split split) {
  t.script = &s;
  std::size_t chunk = 0;
  for (const Op &op : s.steps) {
    if (op.kind != Kind::Feed) {
      t.apply(op);
      continue;
    }
    std::size_t at = 0;
    while (at < op.bytes.size()) {
      std::size_t n = op.bytes.size() - at;
      if (split == Split::Bytes) n = 1;
      if (split == Split::Chunks) n = std::min(n, s.chunks[chunk++ % s.chunks.size()]);
      t.feed(op.bytes.substr(at, n));
      at += n;
    }
  }
}

void compare(const std::vector<Delivery> &got, const std::vector<Delivery> &want, const char *what) {
  const std::size_t n = std::min(got.size(), want.size());
  for (std::size_t i = 0; i < n; ++i)
    FUZZ_CHECK(got[i] == want[i], "%s: delivery %zu is %s \"%s\" at %lld, expected %s \"%s\" at %lld", what, i,
               got[i].line ? "line" : "byte", got[i].bytes.toPercentEncoding().constData(), (long long)got[i].atMs,
               want[i].line ? "line" : "byte", want[i].bytes.toPercentEncoding().constData(), (long long)want[i].atMs);
  FUZZ_CHECK(got.size() == want.size(), "%s: %zu deliveries, expected %zu", what, got.size(), want.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  FuzzedDataProvider p(data, size);
  const Script s = parse(p);
  std::vector<Delivery> first;
  bool nested = false;
  for (const Split split : {Split::Whole, Split::Chunks, Split::Bytes}) {
    static const char *const kNames[] = {"fed whole", "fed in chunks", "fed byte by byte"};
    const char *name = kNames[int(split)];
    Real real;
    Model model;
    run(real, s, split);
    run(model, s, split);
    compare(real.log, model.log, name);
    FUZZ_CHECK(real.f.line.armed() == model.line.armed && real.f.byte.armed() == model.byte.armed,
               "%s: armed line %d byte %d, the model has %d %d", name, real.f.line.armed(), real.f.byte.armed(),
               model.line.armed, model.byte.armed);
    const std::size_t kept = model.length <= std::size_t(TPacketFramers::kMaxLine) ? model.length : 0;
    FUZZ_CHECK(std::size_t(real.f.collectedLineBytes()) == kept, "%s: %lld line bytes collected, the model has %zu",
               name, (long long)real.f.collectedLineBytes(), kept);
    nested = nested || real.nestedFeed;
    if (split == Split::Whole) first = real.log;
    else if (!nested) compare(real.log, first, name);
  }
  return 0;
}
