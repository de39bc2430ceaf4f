#pragma once
// The two receive framers of the serial port: the line matcher (whole CR LF lines) and the byte
// matcher (one byte at a time). Pure logic: bytes go in through feed(), deliveries come out
// through the two handlers. No widgets, no I/O, no timers of its own; the owner calls
// checkTimeouts() now and then, and the clock can be replaced for tests.

#include <QByteArray>
#include <cstdint>
#include <functional>

class TPacketFramers;

// One matcher as the rest of the program sees it: armed flag and auto re-arm flag.
class TDataPacket {
public:
  bool armed() const { return armed_; }
  void setArmed(bool on);
  bool autoRearm() const { return autoRearm_; }
  // Takes effect when the current delivery handler of this matcher returns.
  void setAutoRearm(bool on) { autoRearm_ = on; }

private:
  friend class TPacketFramers;
  explicit TDataPacket(TPacketFramers &owner) : owner_(owner) {}
  TPacketFramers &owner_;
  bool armed_ = false;
  bool autoRearm_ = false;
  std::int64_t armedAtMs_ = 0;
};

class TPacketFramers {
public:
  using Clock = std::function<std::int64_t()>;   // milliseconds, monotonic
  using LineHandler = std::function<void(const QByteArray &line)>;
  using ByteHandler = std::function<void(const std::uint8_t *data, int size)>;

  // 2184 ticks of 55 ms: a matcher that stays armed this long without completing a packet
  // drops what it has collected. The byte matcher then disarms itself; the line matcher stays
  // armed and counts afresh, so only the stale part of a line is lost, never a later line.
  static constexpr std::int64_t kTimeoutMs = 2184 * 55;
  // The longest line delivered, CR LF included. A longer one is dropped whole, up to and
  // including its CR LF; the line after it arrives intact.
  static constexpr int kMaxLine = 4096;
  // Bytes held while a handler runs; a feeder that keeps pushing past this loses the excess
  // rather than growing memory without end.
  static constexpr int kMaxHeld = 1 << 20;

  explicit TPacketFramers(Clock clock = {});
  TPacketFramers(const TPacketFramers &) = delete;
  TPacketFramers &operator=(const TPacketFramers &) = delete;

  TDataPacket line;   // ApdDataPacket1
  TDataPacket byte;   // ApdDataPacket2

  LineHandler onLine;
  ByteHandler onByte;

  // Received bytes, in arrival order. While a handler runs (a nested event loop of a modal box
  // included) the bytes are only held; the outermost call feeds them after the handler returns.
  void feed(const char *data, qsizetype size);
  void feed(const QByteArray &data) { feed(data.constData(), data.size()); }

  // Applies the 120.12 s time-out to both matchers. Also done before every fed byte.
  void checkTimeouts();

  bool delivering() const { return delivering_; }
  qsizetype heldBytes() const { return batch_.size() - batchPos_ + held_.size(); }
  // Everything kept for input, delivered or not: at most the chunk being fed plus 2 * kMaxHeld.
  qsizetype storedInputBytes() const { return batch_.size() + held_.size(); }
  qsizetype collectedLineBytes() const { return lineBuf_.size(); }
  std::uint64_t droppedHeldBytes() const { return droppedHeld_; }

  void setClock(Clock clock);

  // Forgets every received byte not yet delivered: the partial line, what is held and what is
  // still to be worked through. Armed matchers count their time-out afresh; their armed and
  // auto re-arm flags stay as they are.
  void discardInput();

private:
  friend class TDataPacket;
  std::int64_t now() const { return clock_(); }
  void process(std::uint8_t b);
  void expire(TDataPacket &m);

  Clock clock_;
  QByteArray lineBuf_;
  // The line matcher inside a line longer than kMaxLine, dropping it up to its CR LF.
  enum class Skip : std::uint8_t { No, Yes, AfterCr } skip_ = Skip::No;
  QByteArray batch_;          // the bytes being worked through now
  qsizetype batchPos_ = 0;
  QByteArray held_;           // fed while a handler runs; worked through after batch_
  bool delivering_ = false;   // a handler is running
  bool draining_ = false;     // an outer feed() is working through the input
  std::uint64_t droppedHeld_ = 0;
};
