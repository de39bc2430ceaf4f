#pragma once
// A KORVEL GSM controller as seen from its serial line, without a clock or any I/O of its own:
// the caller feeds it bytes and time (milliseconds, any origin) and takes what it sends. The
// pseudo-terminal simulator runs it on the real clock, the tests' fake port on a virtual one.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "DefaultImage.h"

namespace korvel {

using Image = sim::Image;

// One character of 8N1 at 9600 baud, in milliseconds.
constexpr double kCharMs = 10.0 * 1000.0 / 9600.0;

// Misbehaviours the controller can be told to show. "Command" is a line the configurator sends
// ("TM", "STATUS", "SEND RS-485", ...); the lines a command brings back, including those that
// come later in the same exchange (the SAVE confirmation, the TIME date report, the RS-485
// replies after the payload), count as its reply, numbered from 0. Only the echo opens a SAVE
// or LOAD transfer: a reply whose echo is replaced or cut leaves the controller idle.
enum class Fault {
  RefuseByte,      // at=K: SAVE image byte K (from 0) answered with "e"; the transfer ends
  Err2,            // every SAVE confirmed with "ERR2", even a good one
  NoSaveReply,     // after the last SAVE acknowledgement neither "SAVE_OK" nor "ERR2"
  NoEcho,          // SAVE and LOAD (command narrows to one) not echoed, so no transfer
  StopAfter,       // at=K: only K bytes acknowledged (SAVE) or streamed (LOAD); command narrows
  NoLoadOk,        // the whole LOAD image, then no "LOAD_OK"
  NoDateReport,    // "TIME_OK", but no date report after the time and date lines
  Silent,          // command (empty: every command after the handshake) goes unanswered
  Reply,           // command, text: reply line i becomes text's line i (split at '\n'); lines
                   // the text lacks stay as they are, extra ones follow the reply
  CutReply,        // command, at=N: only the first N lines of the reply
  Inject,          // command, at=K, text: the line text sent after the reply's first K lines
  LateReply,       // command, ms: each part of the reply comes ms late
  EchoDelay,       // ms: the SAVE and LOAD echoes come ms late (command narrows to one)
  AckDelay,        // ms: each SAVE acknowledgement comes ms after its byte
  SlowLines,       // command, ms: a gap of ms between the reply's lines
  Unsolicited,     // ms, text: the line text sent ms after each completed handshake
  UnsolicitedRaw,  // ms, text: the bytes text, no line end, sent ms after each completed handshake
  StrayBeforeAck,  // at=K, text (default "?"): sent before the acknowledgement of SAVE byte K
  StrayInLoad,     // at=K, text (default "?"): sent after LOAD image byte K
  DoubleAck,       // at=K: SAVE image byte K acknowledged twice
  StoreChanged,    // at=K: a good SAVE is confirmed but stored with image byte K changed (and the
                   // checksum made to match), as a failing memory cell would
  Vanish,          // command: the device goes away on that line; with at=K, for SAVE on the
                   // arrival of image byte K (unacknowledged), for LOAD after K image bytes
};

struct FaultSwitch {
  Fault fault;
  long at = -1;
  double ms = 0;
  std::string text;
  std::string command;
};

// "NAME[:ARG...]" as the command line takes it, e.g. "inject:ID:3:ATI"; the last argument
// takes the rest of the text, so it may hold ':'. Reply lines are separated by ';' here.
std::optional<FaultSwitch> parseFault(std::string_view text, std::string *error = nullptr);
// The spellings parseFault takes, one per line, for --help.
const char *faultHelp();

struct Options {
  std::string version = "2.10";           // sent after "Ver."
  bool pace = false;                      // 9600 8N1 timing both ways
  double announceMs = 1000;               // "ATI" interval while nobody is connected
  std::string tmKey = "0A00001B2C3D4E5F"; // the reply to TM
  std::vector<std::string> ids = {        // the reply to ID, one line each
      "28FF4A1B02160345", "0000000000000000", "28FF91C3A4150221", "28FF0D7E61160390",
      "0000000000000000", "28FFB2205315047A", "28FF6C9A011603E1", "28FF33D4C2150418"};
  std::int64_t clockStart = 1767225600;   // controller clock at the first call, seconds since
                                          // 1970-01-01 00:00 of its own (local) time
  std::uint32_t seed = 1;                 // jitter of the STATUS readings
  std::vector<FaultSwitch> faults;
};

class ControllerCore {
public:
  ControllerCore(Options options, Image image);
  void setLog(std::function<void(const std::string &)> log);   // one line per event, optional
  // Bytes the program wrote, arriving at time nowMs (milliseconds, monotonic, any origin).
  void received(const std::uint8_t *data, std::size_t n, double nowMs);
  // Time-driven work due by nowMs: announcements, gaps, delayed/late replies, paced input.
  void tick(double nowMs);
  // Earliest time at which tick() or takeOutput() would do something; +infinity for never.
  // Before the first call it is 0: the first tick() starts the controller (and its "ATI").
  double nextDueMs() const;
  // Bytes that have left the controller by nowMs (with pacing: each at its character time), in
  // order. Does the work due by nowMs first.
  std::string takeOutput(double nowMs);
  // True once a Vanish fault has fired: the device is gone. After that the core takes and sends
  // nothing (what had left before is still handed out).
  bool vanished() const;
  const Image &image() const;              // the image it holds (replaced by a good SAVE)
  const Image &lastReceived() const;       // the bytes of the last SAVE as received
  std::size_t saveBytesReceived() const;   // bytes of the current/last SAVE, with the 0x00 after
  std::string relays() const;              // last RELE line ("000000000" at start)
  std::string rs485Settings() const;       // "3300" at start
  bool announcing() const;                 // nobody connected: "ATI" goes out periodically

private:
  enum class State {
    Announce, AwaitPcOk, Connected, SaveBytes, SaveTrailer, ReleLine, TimeLine, DateLine,
    SendPayload, SetupPayload
  };
  enum class Due {
    None, Vanish, Input, Unsolicited, Announce, PcOkTimeout, SaveStall, Trailer, PayloadEnd,
    NoPayload
  };
  struct Timed {
    double at;
    std::uint8_t byte;
  };
  struct Part {
    std::string bytes;
    bool line;   // a line without its CR LF; otherwise raw bytes
  };

  void log(const std::string &line) const;
  void start(double now);
  void advance(double now);
  std::pair<double, Due> nextInternal() const;
  void enter(State s, double now);

  void onByte(std::uint8_t b, double t);
  bool payloadByte(std::uint8_t b, double t);
  void onLine(const std::string &text, double t, double lineStart);
  void command(const std::string &text, double t);

  // Replies: shaped by the faults of the command, then queued with their character times.
  bool faulty(Fault f, const std::string &cmd) const;
  long lineLimit(const std::string &cmd) const;
  double echoDelay(const std::string &cmd) const;
  long position(Fault f, const std::string &cmd) const;   // smallest K of f for cmd, or -1
  bool firesAt(Fault f, std::size_t index) const;
  std::vector<Part> shape(const std::string &cmd, std::vector<Part> parts, long first, bool last) const;
  void queueReply(const std::string &cmd, const std::vector<Part> &parts, double t, double extraDelay);
  void emitRaw(const std::string &bytes, double notBefore);
  void reply(const std::string &cmd, std::vector<Part> parts, double t, long first = 0, bool last = true,
             double extraDelay = 0);

  void startSave(double t);
  void saveByte(std::uint8_t b, double t);
  void finishSave(double t);
  void startLoad(double t);
  void finishTime(const std::string &dateLine, double t);
  std::vector<std::string> statusLines(double t);
  void finishSendPayload(double t);
  void finishSetupPayload(double t);
  void vanish(double t, const std::string &why);
  std::int64_t clockAt(double t) const;

  Options opt_;
  Image image_;
  Image received_{};
  std::function<void(const std::string &)> log_;
  std::mt19937 rng_;

  bool started_ = false;
  static constexpr double kNever = std::numeric_limits<double>::infinity();
  bool vanished_ = false;
  double pendingVanish_ = kNever;
  std::string pendingVanishWhy_;
  State state_ = State::Announce;
  double stateSince_ = 0, nextAnnounce_ = 0, lastByte_ = 0, saveStart_ = 0, lineStart_ = 0;
  std::deque<Timed> in_, out_;
  double inLast_ = -kNever, outLast_ = -kNever;
  std::vector<std::pair<double, std::string>> unsolicited_;   // bytes as sent, line ends included
  std::string line_;
  std::string payload_;
  bool skipLineEnd_ = false;
  std::size_t saveCount_ = 0;
  bool trailerCame_ = false;
  std::string timeLine_;
  std::string relays_ = "000000000";
  std::string rs485_ = "3300";
  double clockBase_ = 0;   // controller seconds at time 0 of the caller's clock
  unsigned polls_ = 0;
};

}  // namespace korvel
