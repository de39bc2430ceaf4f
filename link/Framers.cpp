#include "link/Framers.h"

#include <chrono>

namespace {
std::int64_t steadyMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Resets the busy flags even if a handler leaves by an exception, so the framers never stay
// stuck holding input.
struct FlagGuard {
  bool &flag;
  explicit FlagGuard(bool &f) : flag(f) { flag = true; }
  ~FlagGuard() { flag = false; }
};
}  // namespace

void TDataPacket::setArmed(bool on) {
  if (on == armed_) return;   // arming an armed matcher keeps its line and its deadline
  armed_ = on;
  if (on) {
    armedAtMs_ = owner_.now();
  } else if (this == &owner_.line) {
    owner_.lineBuf_.clear();
    owner_.skip_ = TPacketFramers::Skip::No;
  }
}

TPacketFramers::TPacketFramers(Clock clock) : line(*this), byte(*this) {
  setClock(std::move(clock));
}

void TPacketFramers::setClock(Clock clock) {
  clock_ = clock ? std::move(clock) : Clock(steadyMs);
}

void TPacketFramers::discardInput() {
  lineBuf_.clear();
  skip_ = Skip::No;
  held_.clear();
  batchPos_ = batch_.size();   // an outer feed() further up the stack ends its pass here
  if (line.armed_) line.armedAtMs_ = now();
  if (byte.armed_) byte.armedAtMs_ = now();
}

void TPacketFramers::expire(TDataPacket &m) {
  if (!m.armed_ || now() - m.armedAtMs_ < kTimeoutMs) return;
  if (&m == &line) {
    // A line that never completed is dropped, but the matcher goes on listening: a reply whose
    // first byte comes after the time-out must not find nobody armed.
    lineBuf_.clear();
    skip_ = Skip::No;
    m.armedAtMs_ = now();
    return;
  }
  // Not re-armed even with auto re-arm set; the re-arm tick brings it back.
  m.setArmed(false);
}

void TPacketFramers::checkTimeouts() {
  expire(line);
  expire(byte);
}

void TPacketFramers::feed(const char *data, qsizetype size) {
  if (size <= 0) return;
  if (draining_) {
    // A handler is running further up the stack: it works these through later.
    const qsizetype room = kMaxHeld - held_.size();
    if (size > room) {
      droppedHeld_ += static_cast<std::uint64_t>(size - room);
      size = room;
    }
    held_.append(data, size);
    return;
  }

  FlagGuard guard(draining_);
  // Normally both are empty here; after a handler left by an exception, what nobody has seen
  // yet still comes first. A copy: a handler may change the caller's buffer.
  batch_.remove(0, batchPos_);
  batch_.append(held_).append(data, size);
  held_.clear();
  batchPos_ = 0;
  for (;;) {
    while (batchPos_ < batch_.size()) process(static_cast<std::uint8_t>(batch_.at(batchPos_++)));
    if (held_.isEmpty()) break;
    // Worked-through bytes are let go batch by batch, so handlers that keep feeding never make
    // the stored input grow beyond the cap.
    batch_.swap(held_);
    held_.clear();
    batchPos_ = 0;
  }
  // Emptied but kept, as the next delivery needs room again; a batch grown by held input is let go.
  if (batch_.capacity() > 2 * kMaxLine) batch_.clear();
  else batch_.resize(0);
  batchPos_ = 0;
}

void TPacketFramers::process(std::uint8_t b) {
  checkTimeouts();
  if (line.armed_) {
    // Both armed: the line matcher takes everything, the byte matcher waits.
    if (skip_ == Skip::No && lineBuf_.size() >= kMaxLine) {
      // One byte too many for a line: the line is dropped, including what is still to come.
      skip_ = lineBuf_.endsWith('\r') ? Skip::AfterCr : Skip::Yes;
      lineBuf_.clear();
    }
    if (skip_ != Skip::No) {
      const bool ends = b == '\n' && skip_ == Skip::AfterCr;
      skip_ = ends ? Skip::No : b == '\r' ? Skip::AfterCr : Skip::Yes;
      return;
    }
    lineBuf_.append(static_cast<char>(b));
    const qsizetype n = lineBuf_.size();
    if (n >= 2 && lineBuf_.at(n - 2) == '\r' && lineBuf_.at(n - 1) == '\n') {
      QByteArray whole;
      whole.swap(lineBuf_);
      line.armed_ = false;
      {
        FlagGuard busy(delivering_);
        if (onLine) onLine(whole);
      }
      if (line.autoRearm_) line.setArmed(true);
    }
  } else if (byte.armed_) {
    byte.armed_ = false;
    {
      FlagGuard busy(delivering_);
      if (onByte) onByte(&b, 1);
    }
    if (byte.autoRearm_) byte.setArmed(true);
  }
  // Neither armed: the byte is lost, as nobody is listening.
}
