#include "ControllerCore.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace korvel {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::size_t kMaxLine = 4096;
constexpr std::size_t kMaxInput = 1 << 16;   // a UART nobody empties overruns; so does this
constexpr std::size_t kMaxPayload = 1024;    // a 256-byte bus frame in hex is 513 characters
constexpr double kByteGapMs = 2000;          // a transfer that stalls this long is abandoned
constexpr double kPayloadGapMs = 40;         // end of an RS-485 payload nothing follows
constexpr double kTrailerWaitMs = 500;       // for the 0x00 after a written image
constexpr double kPcOkWaitMs = 3000;
constexpr double kLineWaitMs = 1000;         // the time, date or relay line after its command

// MinGW's printf checks follow msvcrt unless told that the C99 one (%zu) is in use.
#ifdef __MINGW32__
#define KORVEL_PRINTF gnu_printf
#else
#define KORVEL_PRINTF printf
#endif
std::string format(const char *fmt, ...) __attribute__((format(KORVEL_PRINTF, 1, 2)));
std::string format(const char *fmt, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

std::string printable(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c < 0x20 || c == 0x7F) out += format("\\x%02X", c);
    else out += static_cast<char>(c);
  }
  return out;
}

std::string hexSpaced(const std::vector<std::uint8_t> &bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i) out += ' ';
    out += format("%02X", bytes[i]);
  }
  return out;
}

std::uint16_t crc16Modbus(const std::vector<std::uint8_t> &bytes) {
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

int upperHexValue(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::vector<std::string> split(const std::string &text, char sep) {
  std::vector<std::string> out;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = text.find(sep, from);
    out.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
    if (at == std::string::npos) return out;
    from = at + 1;
  }
}

// Three fields of 1 to 4 digits, e.g. "9:05:07" or "08.12.26"; nothing else on the line. The
// width limit keeps every value far from overflowing.
bool parseFields(const std::string &line, char sep, int out[3]) {
  std::size_t i = 0;
  for (int f = 0; f < 3; ++f) {
    if (f > 0) {
      if (i >= line.size() || line[i] != sep) return false;
      ++i;
    }
    int v = 0, digits = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9' && digits < 4) {
      v = v * 10 + (line[i] - '0');
      ++i;
      ++digits;
    }
    if (digits == 0) return false;
    out[f] = v;
  }
  return i == line.size();
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t daysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t *y, int *m, int *d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = yoe + era * 400 + (*m <= 2);
}

int daysInMonth(std::int64_t y, int m) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : days[m - 1];
}

struct Civil {
  std::int64_t year;
  int month, day, hour, minute, second;
};

Civil civil(std::int64_t seconds) {
  std::int64_t days = seconds / 86400, rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  Civil c{};
  civilFromDays(days, &c.year, &c.month, &c.day);
  c.hour = static_cast<int>(rest / 3600);
  c.minute = static_cast<int>(rest / 60 % 60);
  c.second = static_cast<int>(rest % 60);
  return c;
}

std::string decimalComma(double v, int digits) {
  std::string s = format("%.*f", digits, v);
  std::replace(s.begin(), s.end(), '.', ',');
  return s;
}

// A bounded decimal: digits only, so no sign, overflow or trailing junk gets through.
bool parseBounded(std::string_view s, long max, long *out) {
  if (s.empty() || s.size() > 10) return false;
  long long v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v > max) return false;
  *out = static_cast<long>(v);
  return true;
}

struct FaultName {
  const char *name;
  Fault fault;
  const char *args;   // K position, N milliseconds, C command, T text (the rest); after '?' optional
  const char *help;
};

const FaultName kFaultNames[] = {
    {"refuse-byte", Fault::RefuseByte, "K", "answer SAVE image byte K (from 0) with \"e\""},
    {"err2", Fault::Err2, "", "confirm every SAVE with \"ERR2\""},
    {"no-save-reply", Fault::NoSaveReply, "", "neither \"SAVE_OK\" nor \"ERR2\" after the last acknowledgement"},
    {"no-echo", Fault::NoEcho, "?C", "do not echo SAVE and LOAD (or only command C); nothing follows"},
    {"stop-after", Fault::StopAfter, "K?C", "acknowledge (SAVE) or stream (LOAD) only K image bytes"},
    {"no-load-ok", Fault::NoLoadOk, "", "the whole LOAD image, then no \"LOAD_OK\""},
    {"no-date", Fault::NoDateReport, "", "\"TIME_OK\", but no date report after the time and date"},
    {"silent", Fault::Silent, "?C", "answer no command (or only command C) after the handshake"},
    {"reply", Fault::Reply, "CT", "reply lines of C replaced by these (separated by ';')"},
    {"cut", Fault::CutReply, "CK", "send only the first K lines of the reply to C"},
    {"inject", Fault::Inject, "CKT", "send the line T after the first K lines of the reply to C"},
    {"late", Fault::LateReply, "CN", "each part of the reply to C comes N ms late"},
    {"echo-delay", Fault::EchoDelay, "N?C", "the SAVE and LOAD echoes (or only C's) come N ms late"},
    {"ack-delay", Fault::AckDelay, "N", "each SAVE acknowledgement comes N ms after its byte"},
    {"slow-lines", Fault::SlowLines, "CN", "a gap of N ms between the lines of the reply to C"},
    {"unsolicited", Fault::Unsolicited, "NT", "send the line T N ms after each handshake"},
    {"unsolicited-raw", Fault::UnsolicitedRaw, "NT", "send the bytes T, no line end, N ms after each handshake"},
    {"stray-before-ack", Fault::StrayBeforeAck, "K?T", "send T (default ?) before acknowledging SAVE byte K"},
    {"stray-in-load", Fault::StrayInLoad, "K?T", "send T (default ?) after LOAD image byte K"},
    {"double-ack", Fault::DoubleAck, "K", "acknowledge SAVE image byte K twice"},
    {"store-changed", Fault::StoreChanged, "K", "confirm a good SAVE but store image byte K changed"},
    {"vanish", Fault::Vanish, "C?K",
     "vanish on the line C; with K: on SAVE image byte K,\n"
     "                           or after K LOAD image bytes"},
};

constexpr long kMaxPosition = 100000000;
constexpr long kMaxDelayMs = 3600000;

}  // namespace

std::optional<FaultSwitch> parseFault(std::string_view text, std::string *error) {
  auto fail = [&](const std::string &why) -> std::optional<FaultSwitch> {
    if (error) *error = why;
    return std::nullopt;
  };
  const std::size_t colon = text.find(':');
  const std::string_view name = text.substr(0, colon);
  const FaultName *def = nullptr;
  for (const FaultName &f : kFaultNames)
    if (name == f.name) def = &f;
  if (!def) return fail("unknown fault \"" + std::string(name) + "\"");
  FaultSwitch sw{def->fault, -1, 0, {}, {}};
  std::string_view rest = colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
  bool more = colon != std::string_view::npos;
  bool optional = false;
  for (const char *a = def->args; *a; ++a) {
    if (*a == '?') {
      optional = true;
      continue;
    }
    if (!more) {
      if (optional) break;
      return fail(std::string(def->name) + ": an argument is missing");
    }
    std::string_view arg;
    if (*a == 'T') {
      arg = rest;
      more = false;
    } else {
      const std::size_t c = rest.find(':');
      arg = rest.substr(0, c);
      more = c != std::string_view::npos;
      rest = more ? rest.substr(c + 1) : std::string_view();
    }
    long v = 0;
    switch (*a) {
      case 'K':
        if (!parseBounded(arg, kMaxPosition, &v)) return fail(std::string(def->name) + ": bad count \"" + std::string(arg) + "\"");
        sw.at = v;
        break;
      case 'N':
        if (!parseBounded(arg, kMaxDelayMs, &v)) return fail(std::string(def->name) + ": bad milliseconds \"" + std::string(arg) + "\"");
        sw.ms = static_cast<double>(v);
        break;
      case 'C':
        if (arg.empty()) return fail(std::string(def->name) + ": empty command");
        sw.command = arg;
        break;
      default:
        sw.text = arg;
        break;
    }
  }
  if (more) return fail(std::string(def->name) + ": too many arguments");
  if (sw.fault == Fault::Reply) std::replace(sw.text.begin(), sw.text.end(), ';', '\n');
  if ((sw.fault == Fault::StrayBeforeAck || sw.fault == Fault::StrayInLoad) && sw.text.empty()) sw.text = "?";
  return sw;
}

const char *faultHelp() {
  static const std::string text = [] {
    std::string s;
    for (const FaultName &f : kFaultNames) {
      std::string spelling = f.name;
      int optional = 0;
      for (const char *a = f.args; *a; ++a) {
        if (*a == '?') {
          spelling += '[';
          ++optional;
          continue;
        }
        spelling += ':';
        spelling += *a;
      }
      spelling += std::string(static_cast<std::size_t>(optional), ']');
      s += format("  %-24s %s\n", spelling.c_str(), f.help);
    }
    return s;
  }();
  return text.c_str();
}

ControllerCore::ControllerCore(Options options, Image image)
    : opt_(std::move(options)), image_(image), rng_(opt_.seed) {
  if (std::isnan(opt_.announceMs)) opt_.announceMs = 1000;
  opt_.announceMs = std::max(opt_.announceMs, 1.0);
}

void ControllerCore::setLog(std::function<void(const std::string &)> log) { log_ = std::move(log); }

void ControllerCore::log(const std::string &line) const {
  if (log_) log_(line);
}

void ControllerCore::start(double now) {
  if (started_) return;
  started_ = true;
  clockBase_ = static_cast<double>(opt_.clockStart) - now / 1000.0;
  stateSince_ = nextAnnounce_ = lastByte_ = now;
}

void ControllerCore::received(const std::uint8_t *data, std::size_t n, double nowMs) {
  start(nowMs);
  if (vanished_) return;
  std::size_t dropped = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (in_.size() >= kMaxInput) {
      ++dropped;
      continue;
    }
    // A character is there once it has crossed the wire: right after the one before it while
    // the line is busy, one character time after its arrival on an idle line.
    double at = nowMs;
    if (opt_.pace) at = std::max(inLast_, nowMs) + kCharMs;
    in_.push_back({at, data[i]});
    inLast_ = at;
  }
  if (dropped) log(format("input overrun: %zu bytes lost", dropped));
  advance(nowMs);
}

void ControllerCore::tick(double nowMs) {
  start(nowMs);
  advance(nowMs);
}

double ControllerCore::nextDueMs() const {
  if (!started_) return 0;
  double due = out_.empty() ? kInf : out_.front().at;
  if (!vanished_) due = std::min(due, nextInternal().first);
  return due;
}

std::string ControllerCore::takeOutput(double nowMs) {
  start(nowMs);
  advance(nowMs);
  std::string out;
  while (!out_.empty() && out_.front().at <= nowMs) {
    out.push_back(static_cast<char>(out_.front().byte));
    out_.pop_front();
  }
  return out;
}

bool ControllerCore::vanished() const { return vanished_; }
const Image &ControllerCore::image() const { return image_; }
const Image &ControllerCore::lastReceived() const { return received_; }
std::size_t ControllerCore::saveBytesReceived() const { return saveCount_ + (trailerCame_ ? 1 : 0); }
std::string ControllerCore::relays() const { return relays_; }
std::string ControllerCore::rs485Settings() const { return rs485_; }
bool ControllerCore::announcing() const { return state_ == State::Announce && !vanished_; }

// ---- time-driven work ----

std::pair<double, ControllerCore::Due> ControllerCore::nextInternal() const {
  std::pair<double, Due> best{kInf, Due::None};
  auto consider = [&](double at, Due what) {
    if (at < best.first) best = {at, what};
  };
  consider(pendingVanish_, Due::Vanish);
  if (!in_.empty()) consider(in_.front().at, Due::Input);
  for (const auto &u : unsolicited_) consider(u.first, Due::Unsolicited);
  double ackDelay = 0;
  for (const FaultSwitch &f : opt_.faults)
    if (f.fault == Fault::AckDelay) ackDelay = std::max(ackDelay, f.ms);
  switch (state_) {
    case State::Announce: consider(nextAnnounce_, Due::Announce); break;
    case State::AwaitPcOk: consider(stateSince_ + kPcOkWaitMs, Due::PcOkTimeout); break;
    case State::SaveBytes: consider(lastByte_ + kByteGapMs + ackDelay, Due::SaveStall); break;
    case State::SaveTrailer: consider(lastByte_ + kTrailerWaitMs + ackDelay, Due::Trailer); break;
    case State::SendPayload:
    case State::SetupPayload:
      if (payload_.empty()) consider(stateSince_ + kByteGapMs, Due::NoPayload);
      else consider(lastByte_ + kPayloadGapMs, Due::PayloadEnd);
      break;
    default: break;
  }
  return best;
}

void ControllerCore::advance(double now) {
  // Everything due is done at its own time, never at the (later) time of the call, so a late
  // caller changes nothing the program on the other end can see.
  while (!vanished_) {
    const auto [t, what] = nextInternal();
    if (what == Due::None || t > now) return;
    switch (what) {
      case Due::Vanish: vanish(t, pendingVanishWhy_); break;
      case Due::Input: {
        const std::uint8_t b = in_.front().byte;
        in_.pop_front();
        onByte(b, t);
        break;
      }
      case Due::Unsolicited: {
        auto it = std::find_if(unsolicited_.begin(), unsolicited_.end(),
                               [t = t](const auto &u) { return u.first == t; });
        const std::string text = it->second;
        unsolicited_.erase(it);
        log("> " + printable(text) + " (unsolicited)");
        emitRaw(text, t);
        break;
      }
      case Due::Announce:
        log("> ATI");
        emitRaw("ATI\r\n", t);
        nextAnnounce_ = t + opt_.announceMs;
        if (nextAnnounce_ + opt_.announceMs < now) nextAnnounce_ = now;   // no burst after a gap
        break;
      case Due::PcOkTimeout:
        log("no PC_OK, announcing again");
        enter(State::Announce, t);
        break;
      case Due::SaveStall:
        log(format("SAVE abandoned after %zu of %zu bytes (no byte for %.0f ms)", saveCount_,
                   sim::kImageSize, kByteGapMs));
        enter(State::Connected, t);
        break;
      case Due::Trailer:
        log("no byte after the image; checking it anyway");
        finishSave(t);
        break;
      case Due::PayloadEnd:
        if (state_ == State::SendPayload) finishSendPayload(t);
        else finishSetupPayload(t);
        break;
      case Due::NoPayload:
        log("no RS-485 payload came");
        enter(State::Connected, t);
        break;
      case Due::None: return;
    }
  }
}

void ControllerCore::enter(State s, double now) {
  state_ = s;
  stateSince_ = now;
  if (s == State::Announce) nextAnnounce_ = now;
}

// ---- input ----

void ControllerCore::onByte(std::uint8_t b, double t) {
  if (skipLineEnd_) {
    // A CR LF right after a payload belongs to it.
    if (b == '\r') return;
    skipLineEnd_ = false;
    if (b == '\n') return;
  }
  switch (state_) {
    case State::SaveBytes:
      lastByte_ = t;
      saveByte(b, t);
      return;
    case State::SaveTrailer:
      lastByte_ = t;
      trailerCame_ = true;
      if (b != 0) log(format("byte after the image is 0x%02X, not 0x00", b));
      finishSave(t);
      return;
    case State::SendPayload:
    case State::SetupPayload:
      lastByte_ = t;
      if (payloadByte(b, t)) return;
      break;
    default: break;
  }
  if (line_.empty()) lineStart_ = t;
  line_.push_back(static_cast<char>(b));
  if (line_.size() >= 2 && line_[line_.size() - 2] == '\r' && line_.back() == '\n') {
    const std::string text = line_.substr(0, line_.size() - 2);
    line_.clear();
    onLine(text, t, lineStart_);
  } else if (line_.size() >= kMaxLine) {
    log(format("line longer than %zu bytes dropped", kMaxLine));
    line_.clear();
  }
}

// The RS-485 payloads have no line end: a payload ends at the first character that cannot be
// part of it, which then starts the next line. False when b was not taken.
bool ControllerCore::payloadByte(std::uint8_t b, double t) {
  const bool send = state_ == State::SendPayload;
  if (send ? upperHexValue(b) >= 0 : (b >= '0' && b <= '9')) {
    if (payload_.size() < kMaxPayload) payload_.push_back(static_cast<char>(b));
    else if (payload_.size() == kMaxPayload) log("RS-485 payload too long; the rest is dropped");
    if (!send && payload_.size() == 4) {
      finishSetupPayload(t);
      skipLineEnd_ = true;
    }
    return true;
  }
  if (payload_.empty()) {
    log("no RS-485 payload came");
    enter(State::Connected, t);
  } else if (send) {
    finishSendPayload(t);
  } else {
    finishSetupPayload(t);
  }
  if (b == '\r') {
    skipLineEnd_ = true;
    return true;
  }
  return b == '\n';
}

void ControllerCore::onLine(const std::string &text, double t, double lineStart) {
  log("< " + printable(text));
  for (const FaultSwitch &f : opt_.faults)
    if (f.fault == Fault::Vanish && f.at < 0 && f.command == text) {
      vanish(t, "on " + printable(text));
      return;
    }
  if (text == "BYE") {
    enter(State::Announce, t);
    return;
  }
  if (state_ == State::ReleLine || state_ == State::TimeLine || state_ == State::DateLine) {
    if (lineStart - stateSince_ > kLineWaitMs) {
      // The line this state waits for never came; this one is a command of its own.
      log(format("line came %.0f ms after its command: taken as a command", lineStart - stateSince_));
      enter(State::Connected, t);
    } else if (state_ == State::ReleLine) {
      relays_ = text.substr(0, 9);
      log("relays now " + printable(relays_));
      enter(State::Connected, t);
      return;
    } else if (state_ == State::TimeLine) {
      timeLine_ = text;
      enter(State::DateLine, t);
      return;
    } else {
      finishTime(text, t);
      return;
    }
  }
  command(text, t);
}

void ControllerCore::command(const std::string &text, double t) {
  auto silenced = [&](bool handshake) {
    for (const FaultSwitch &f : opt_.faults)
      if (f.fault == Fault::Silent && (f.command == text || (f.command.empty() && !handshake))) return true;
    return false;
  };
  if (text == "PC" || text == "PC_OK") {
    if (silenced(true)) {
      log("ignored: silent");
      return;
    }
    if (text == "PC") {
      reply("PC", {{"Ver." + opt_.version, true}}, t);
      enter(State::AwaitPcOk, t);
      return;
    }
    if (state_ == State::AwaitPcOk) {
      log("connected");
      for (const FaultSwitch &f : opt_.faults)
        if (f.fault == Fault::Unsolicited) unsolicited_.push_back({t + f.ms, f.text + "\r\n"});
        else if (f.fault == Fault::UnsolicitedRaw) unsolicited_.push_back({t + f.ms, f.text});
    }
    enter(State::Connected, t);
    return;
  }
  if (state_ != State::Connected) {
    log("ignored: no handshake yet");
    return;
  }
  if (silenced(false)) {
    log("ignored: silent");
    return;
  }
  if (text == "SAVE") startSave(t);
  else if (text == "LOAD") startLoad(t);
  else if (text == "TIME") {
    reply("TIME", {{"TIME_OK", true}}, t, 0, false);
    enter(State::TimeLine, t);
  } else if (text == "TM") reply("TM", {{opt_.tmKey, true}}, t);
  else if (text == "ID") {
    std::vector<Part> parts;
    for (const std::string &id : opt_.ids) parts.push_back({id, true});
    reply("ID", parts, t);
  } else if (text == "STATUS") {
    std::vector<Part> parts;
    for (std::string &l : statusLines(t)) parts.push_back({std::move(l), true});
    reply("STATUS", parts, t);
  } else if (text == "RELE") enter(State::ReleLine, t);
  else if (text == "SEND RS-485") {
    payload_.clear();
    enter(State::SendPayload, t);
  } else if (text == "READ RS-485") reply("READ RS-485", {{rs485_, true}}, t);
  else if (text == "SETUP RS-485") {
    payload_.clear();
    enter(State::SetupPayload, t);
  } else log("unknown command ignored");
}

// ---- replies ----

bool ControllerCore::faulty(Fault f, const std::string &cmd) const {
  for (const FaultSwitch &s : opt_.faults)
    if (s.fault == f && (s.command.empty() || s.command == cmd)) return true;
  return false;
}

long ControllerCore::lineLimit(const std::string &cmd) const {
  long limit = std::numeric_limits<long>::max();
  for (const FaultSwitch &f : opt_.faults) {
    const bool mine = f.command.empty() || f.command == cmd;
    if (f.fault == Fault::CutReply && f.command == cmd && f.at >= 0) limit = std::min(limit, f.at);
    if (f.fault == Fault::NoEcho && mine && (cmd == "SAVE" || cmd == "LOAD")) limit = 0;
    if (f.fault == Fault::NoLoadOk && cmd == "LOAD") limit = std::min(limit, 1L);
    if (f.fault == Fault::NoSaveReply && cmd == "SAVE") limit = std::min(limit, 1L);
    if (f.fault == Fault::NoDateReport && cmd == "TIME") limit = std::min(limit, 1L);
  }
  return limit;
}

// The part of cmd's reply whose first line is reply line `first`, as the faults make it:
// replaced lines, then the cut, then injected lines. `last`: no further part follows.
std::vector<ControllerCore::Part> ControllerCore::shape(const std::string &cmd, std::vector<Part> parts,
                                                       long first, bool last) const {
  std::vector<std::string> given;
  for (const FaultSwitch &f : opt_.faults)
    if (f.fault == Fault::Reply && f.command == cmd) given = split(f.text, '\n');
  long index = first;
  for (Part &p : parts)
    if (p.line) {
      if (index >= 0 && static_cast<std::size_t>(index) < given.size()) p.bytes = given[static_cast<std::size_t>(index)];
      ++index;
    }
  if (last)
    for (std::size_t i = static_cast<std::size_t>(std::max(index, 0L)); i < given.size(); ++i) parts.push_back({given[i], true});

  const long limit = lineLimit(cmd);
  std::vector<Part> out;
  auto injectAfter = [&](long count, bool orLater) {
    for (const FaultSwitch &f : opt_.faults)
      if (f.fault == Fault::Inject && f.command == cmd && (f.at == count || (orLater && f.at > count)))
        out.push_back({f.text, true});
  };
  if (first == 0) injectAfter(0, false);
  index = first;
  for (Part &p : parts) {
    if (p.line) {
      if (index >= limit) break;
      out.push_back(std::move(p));
      ++index;
      injectAfter(index, false);
    } else {
      out.push_back(std::move(p));
    }
  }
  if (last) injectAfter(index, true);
  const long lines = static_cast<long>(std::count_if(parts.begin(), parts.end(), [](const Part &p) { return p.line; }));
  if (first + lines > limit) log(format("reply to %s cut after %ld lines", printable(cmd).c_str(), limit));
  return out;
}

void ControllerCore::emitRaw(const std::string &bytes, double notBefore) {
  if (vanished_) return;
  for (unsigned char c : bytes) {
    // Back to back while the line is busy; an idle line starts at notBefore.
    double at = std::max(notBefore, outLast_);
    if (opt_.pace) at += kCharMs;
    out_.push_back({at, c});
    outLast_ = at;
  }
}

void ControllerCore::queueReply(const std::string &cmd, const std::vector<Part> &parts, double t, double extraDelay) {
  double delay = extraDelay, gap = 0;
  for (const FaultSwitch &f : opt_.faults) {
    if (f.fault == Fault::LateReply && f.command == cmd) delay += f.ms;
    if (f.fault == Fault::SlowLines && f.command == cmd) gap = std::max(gap, f.ms);
  }
  const std::string note = delay > 0 ? format(" (%.0f ms late)", delay) : std::string();
  double at = t + delay;
  bool firstLine = true;
  for (const Part &p : parts) {
    if (p.line) {
      if (!firstLine && gap > 0) at = std::max(at, outLast_) + gap;
      firstLine = false;
      log("> " + printable(p.bytes) + note);
      emitRaw(p.bytes + "\r\n", at);
    } else {
      emitRaw(p.bytes, at);
    }
  }
}

void ControllerCore::reply(const std::string &cmd, std::vector<Part> parts, double t, long first, bool last,
                           double extraDelay) {
  queueReply(cmd, shape(cmd, std::move(parts), first, last), t, extraDelay);
}

double ControllerCore::echoDelay(const std::string &cmd) const {
  double d = 0;
  for (const FaultSwitch &f : opt_.faults)
    if (f.fault == Fault::EchoDelay && (f.command.empty() || f.command == cmd)) d += f.ms;
  return d;
}

long ControllerCore::position(Fault f, const std::string &cmd) const {
  long k = -1;
  for (const FaultSwitch &s : opt_.faults)
    if (s.fault == f && (s.command.empty() || s.command == cmd) && s.at >= 0) k = k < 0 ? s.at : std::min(k, s.at);
  return k;
}

bool ControllerCore::firesAt(Fault f, std::size_t index) const {
  for (const FaultSwitch &s : opt_.faults)
    if (s.fault == f && s.at >= 0 && static_cast<std::size_t>(s.at) == index) return true;
  return false;
}

// ---- SAVE ----

void ControllerCore::startSave(double t) {
  const std::vector<Part> parts = shape("SAVE", {{"SAVE", true}}, 0, false);
  // Only the echo opens the transfer; without it the configurator sends no image.
  const bool echoed = std::any_of(parts.begin(), parts.end(), [](const Part &p) { return p.line && p.bytes == "SAVE"; });
  if (!echoed) log("SAVE not echoed: no transfer");
  queueReply("SAVE", parts, t, echoDelay("SAVE"));
  if (!echoed) return;
  saveCount_ = 0;
  trailerCame_ = false;
  received_.fill(0);
  saveStart_ = t;
  enter(State::SaveBytes, t);
  lastByte_ = std::max(t, outLast_);
}

void ControllerCore::saveByte(std::uint8_t b, double t) {
  const std::size_t idx = saveCount_++;
  received_[idx] = b;
  for (const FaultSwitch &f : opt_.faults)
    if (f.fault == Fault::Vanish && f.command == "SAVE" && f.at >= 0 && static_cast<std::size_t>(f.at) == idx) {
      vanish(t, format("on SAVE image byte %zu", idx));
      return;
    }
  double ackDelay = 0;
  for (const FaultSwitch &f : opt_.faults)
    if (f.fault == Fault::AckDelay) ackDelay = std::max(ackDelay, f.ms);
  const long stop = position(Fault::StopAfter, "SAVE");
  if (stop >= 0 && static_cast<long>(idx) >= stop) {
    if (static_cast<long>(idx) == stop) log(format("acknowledgements stop at byte %zu (fault)", idx));
  } else if (firesAt(Fault::RefuseByte, idx)) {
    log(format("> e (refusing byte %zu)", idx));
    emitRaw("e", t + ackDelay);
    log(format("SAVE refused after %zu bytes", saveCount_));
    enter(State::Connected, t);
    return;
  } else {
    for (const FaultSwitch &f : opt_.faults)
      if (f.fault == Fault::StrayBeforeAck && f.at >= 0 && static_cast<std::size_t>(f.at) == idx) {
        log(format("> %s (stray bytes before acknowledgement %zu)", printable(f.text).c_str(), idx));
        emitRaw(f.text.empty() ? "?" : f.text, t + ackDelay);
      }
    emitRaw("o", t + ackDelay);
    if (firesAt(Fault::DoubleAck, idx)) {
      log(format("> o (byte %zu acknowledged twice)", idx));
      emitRaw("o", t + ackDelay);
    }
  }
  if (saveCount_ == sim::kImageSize) enter(State::SaveTrailer, t);
}

void ControllerCore::finishSave(double t) {
  const bool good = sim::checksumOk(received_);
  log(format("SAVE: %zu bytes in %.0f ms, checksum %s", saveCount_, t - saveStart_, good ? "good" : "wrong"));
  const bool accept = good && !faulty(Fault::Err2, "SAVE");
  // Kept only when confirmed: a device that says nothing cannot be trusted to have stored it.
  if (accept && lineLimit("SAVE") > 1) {
    image_ = received_;
    const long k = position(Fault::StoreChanged, "SAVE");
    if (k >= 0 && static_cast<std::size_t>(k) + 1 < sim::kImageSize) {
      // The checksum still matches: only a byte-for-byte read-back can tell.
      image_[static_cast<std::size_t>(k)] ^= 0x01;
      image_[sim::kImageSize - 1] = static_cast<std::uint8_t>(image_[sim::kImageSize - 1] +
          (image_[static_cast<std::size_t>(k)] & 0x01 ? 1 : -1));
      log(format("SAVE: byte %ld stored changed", k));
    }
  }
  reply("SAVE", {{accept ? "SAVE_OK" : "ERR2", true}}, t, 1, true);
  enter(State::Connected, t);
}

// ---- LOAD ----

void ControllerCore::startLoad(double t) {
  std::size_t n = sim::kImageSize;
  const long stop = position(Fault::StopAfter, "LOAD");
  if (stop >= 0) n = std::min(n, static_cast<std::size_t>(stop));
  long vanishAfter = -1;
  for (const FaultSwitch &f : opt_.faults)
    if (f.fault == Fault::Vanish && f.command == "LOAD" && f.at >= 0)
      vanishAfter = vanishAfter < 0 ? f.at : std::min(vanishAfter, f.at);
  if (vanishAfter >= 0) n = std::min(n, static_cast<std::size_t>(vanishAfter));
  std::string stream(image_.begin(), image_.begin() + static_cast<std::ptrdiff_t>(n));
  // Strays after byte K, from the last position backwards so earlier positions stay put.
  std::vector<const FaultSwitch *> strays;
  for (const FaultSwitch &f : opt_.faults)
    if (f.fault == Fault::StrayInLoad && f.at >= 0 && static_cast<std::size_t>(f.at) < n) strays.push_back(&f);
  std::sort(strays.begin(), strays.end(), [](const FaultSwitch *a, const FaultSwitch *b) { return a->at > b->at; });
  for (const FaultSwitch *f : strays) {
    log(format("> %s (stray bytes after image byte %ld)", printable(f->text).c_str(), f->at));
    stream.insert(static_cast<std::size_t>(f->at) + 1, f->text.empty() ? "?" : f->text);
  }

  std::vector<Part> parts{{"LOAD", true}, {stream, false}};
  if (n == sim::kImageSize && vanishAfter < 0) parts.push_back({"LOAD_OK", true});
  parts = shape("LOAD", std::move(parts), 0, true);
  // Only the echo opens the transfer; without it the configurator expects no image.
  auto raw = std::find_if(parts.begin(), parts.end(), [](const Part &p) { return !p.line; });
  const bool echoed = std::any_of(parts.begin(), raw, [](const Part &p) { return p.bytes == "LOAD"; });
  if (!echoed) {
    log("LOAD not echoed: no transfer");
    parts.erase(raw, parts.end());
  }
  queueReply("LOAD", parts, t, echoDelay("LOAD"));
  if (!echoed) return;
  log(format("> %zu image bytes", n));
  if (stop >= 0 && n < sim::kImageSize) log(format("LOAD stream stops after %zu bytes (fault)", n));
  if (vanishAfter >= 0 && !vanished_) {
    pendingVanish_ = std::max(t, outLast_);
    pendingVanishWhy_ = format("after %zu LOAD image bytes", n);
  }
}

// ---- TIME, STATUS ----

std::int64_t ControllerCore::clockAt(double t) const {
  return static_cast<std::int64_t>(std::floor(clockBase_ + t / 1000.0));
}

void ControllerCore::finishTime(const std::string &dateLine, double t) {
  int hms[3] = {}, dmy[3] = {};
  bool ok = parseFields(timeLine_, ':', hms) && parseFields(dateLine, '.', dmy);
  std::int64_t year = dmy[2] < 100 ? 2000 + dmy[2] : dmy[2];
  ok = ok && hms[0] < 24 && hms[1] < 60 && hms[2] < 60 && year >= 1970 && year <= 2099 && dmy[1] >= 1 &&
       dmy[1] <= 12 && dmy[0] >= 1 && dmy[0] <= daysInMonth(year, dmy[1]);
  if (ok) {
    const std::int64_t set = daysFromCivil(year, dmy[1], dmy[0]) * 86400 + hms[0] * 3600 + hms[1] * 60 + hms[2];
    clockBase_ = static_cast<double>(set) - t / 1000.0;
    log("clock set to " + printable(dateLine) + " " + printable(timeLine_));
  } else {
    log("time or date line not understood; clock unchanged");
  }
  const Civil c = civil(clockAt(t));
  reply("TIME",
        {{format("DATE%02d.%02d.%02d %02d:%02d:%02d", c.day, c.month, static_cast<int>(c.year % 100), c.hour,
                 c.minute, c.second),
          true}},
        t, 1, true);
  enter(State::Connected, t);
}

std::vector<std::string> ControllerCore::statusLines(double t) {
  ++polls_;
  std::uniform_real_distribution<double> jitter(-0.05, 0.05);
  std::vector<std::string> lines;
  // Inputs change from poll to poll: a counter shown in binary, input 1 last.
  std::string inputs(8, '0');
  for (int i = 0; i < 8; ++i)
    if (((polls_ >> (7 - i)) & 1u) != 0) inputs[static_cast<std::size_t>(i)] = '1';
  lines.push_back(inputs);
  for (int i = 0; i < 8; ++i) lines.push_back(decimalComma(4.0 + 2.0 * i + std::sin(polls_ * 0.3 + i) + jitter(rng_), 2));
  for (int i = 0; i < 8; ++i) {
    if (i == 1 || i == 4) lines.push_back("N/A");
    else lines.push_back(decimalComma(21.5 + i + 0.5 * std::sin(polls_ * 0.2 + i), 1));
  }
  const Civil c = civil(clockAt(t));
  lines.push_back(format("%02d.%02d.%02d", c.day, c.month, static_cast<int>(c.year % 100)));
  lines.push_back(format("%02d:%02d:%02d", c.hour, c.minute, c.second));
  return lines;
}

// ---- RS-485 ----

void ControllerCore::finishSendPayload(double t) {
  std::string text = payload_;
  payload_.clear();
  log("< " + printable(text) + " (RS-485 payload)");
  const bool crc = !text.empty() && text.back() == '1';
  if (!text.empty()) text.pop_back();
  std::vector<std::uint8_t> frame;
  const bool ok = text.size() % 2 == 0;
  for (std::size_t i = 0; ok && i + 1 < text.size(); i += 2)
    frame.push_back(static_cast<std::uint8_t>(upperHexValue(static_cast<std::uint8_t>(text[i])) * 16 +
                                              upperHexValue(static_cast<std::uint8_t>(text[i + 1]))));
  if (!ok) {
    reply("SEND RS-485", {{"ERR", true}, {"", true}}, t);
  } else {
    if (crc) {
      const std::uint16_t c = crc16Modbus(frame);
      frame.push_back(static_cast<std::uint8_t>(c & 0xFF));
      frame.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    // The request as it went out on the bus, then the bus device's echo of it.
    reply("SEND RS-485", {{hexSpaced(frame), true}, {hexSpaced(frame), true}}, t);
  }
  enter(State::Connected, t);
}

void ControllerCore::finishSetupPayload(double t) {
  const std::string text = payload_;
  payload_.clear();
  log("< " + printable(text) + " (RS-485 settings)");
  const bool digits = text.size() == 4 && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (digits) rs485_ = text;
  reply("SETUP RS-485", {{digits ? "OK" : "ERR", true}}, t);
  enter(State::Connected, t);
}

void ControllerCore::vanish(double t, const std::string &why) {
  vanished_ = true;
  pendingVanish_ = kInf;
  // What had not left yet is lost with the device.
  while (!out_.empty() && out_.back().at > t) out_.pop_back();
  in_.clear();
  unsolicited_.clear();
  log("device vanished " + why);
}

}  // namespace korvel
