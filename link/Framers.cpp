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
  }
}

TPacketFramers::TPacketFramers(Clock clock) : line(*this), byte(*this) {
  setClock(std::move(clock));
}

void TPacketFramers::setClock(Clock clock) {
  clock_ = clock ? std::move(clock) : Clock(steadyMs);
}

void TPacketFramers::expire(TDataPacket &m) {
  if (m.armed_ && now() - m.armedAtMs_ >= kTimeoutMs) {
    // Not re-armed even with auto re-arm set; the re-arm tick brings it back.
    m.setArmed(false);
  }
}

void TPacketFramers::checkTimeouts() {
  expire(line);
  expire(byte);
}

void TPacketFramers::feed(const char *data, qsizetype size) {
  if (size <= 0) return;
  const qsizetype room = kMaxHeld - heldBytes();
  if (size > room) {
    droppedHeld_ += static_cast<std::uint64_t>(size - room);
    size = room;
  }
  held_.append(data, size);
  if (draining_) return;   // a handler is running further up the stack: it feeds these later

  FlagGuard guard(draining_);
  while (heldPos_ < held_.size()) {
    const auto b = static_cast<std::uint8_t>(held_.at(heldPos_++));
    process(b);
  }
  held_.clear();
  heldPos_ = 0;
}

void TPacketFramers::process(std::uint8_t b) {
  checkTimeouts();
  if (line.armed_) {
    // Both armed: the line matcher takes everything, the byte matcher waits.
    if (lineBuf_.size() >= kMaxLine) lineBuf_.clear();
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
