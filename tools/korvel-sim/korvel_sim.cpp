// korvel-sim: plays a KORVEL GSM controller on a pseudo-terminal, so the configurator can be
// run and tested without hardware. POSIX and the C++ standard library only.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "DefaultImage.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

volatile sig_atomic_t gStop = 0;
void onSignal(int) { gStop = 1; }

constexpr double kCharMs = 10.0 * 1000.0 / 9600.0;   // one 8N1 character at 9600 baud
constexpr std::size_t kMaxLine = 4096;
constexpr double kByteGapMs = 2000;      // a transfer that stalls this long is abandoned
constexpr double kPayloadGapMs = 40;     // end of an unterminated RS-485 payload
constexpr double kTrailerWaitMs = 500;   // for the 0x00 after a written image

struct Options {
  int port = 9;
  std::string version = "2.10";
  std::string imageFile;
  bool pace = false;
  long refuseByte = -1;
  bool err2 = false;
  bool noEcho = false;
  long stopAfter = -1;
  long strayBeforeAck = -1;
  int statusLines = 19;
  int idLines = 8;
  bool silent = false;
  double announceMs = 1000;
  std::string tmKey = "0A00001B2C3D4E5F";
};

void usage(FILE *f) {
  std::fputs(
      "Usage: korvel-sim [options]\n"
      "Plays a KORVEL GSM controller on a pseudo-terminal registered as the virtual port\n"
      "COM<N> in $XDG_RUNTIME_DIR/serialcomm (/tmp/serialcomm-<uid> without XDG_RUNTIME_DIR).\n"
      "Prints \"COM<N> <link> <pty>\" on standard output once ready; logs to standard error.\n"
      "Stops on SIGINT, SIGTERM, or end of standard input when that is a pipe or socket.\n"
      "\n"
      "  --help               this text\n"
      "  --port N             virtual port number (default 9)\n"
      "  --version V          firmware version sent after \"Ver.\" (default 2.10)\n"
      "  --image FILE         4123-byte image for LOAD (default: an untouched editor's image)\n"
      "  --baud-pace          emulate 9600 8N1 timing, about 1.04 ms a character each way\n"
      "  --announce-ms MS     interval of the \"ATI\" announcement (default 1000)\n"
      "  --tm-key KEY         master key returned for TM (default 0A00001B2C3D4E5F)\n"
      "Fault injection:\n"
      "  --refuse-byte K      answer image byte K (from 0) of a SAVE with \"e\"\n"
      "  --err2               answer \"ERR2\" after every SAVE\n"
      "  --no-echo            do not echo SAVE and LOAD (nothing follows)\n"
      "  --stop-after K       stop acknowledging (SAVE) or streaming (LOAD) after K bytes\n"
      "  --stray-before-ack K send a stray byte '?' before the acknowledgement of byte K\n"
      "  --status-lines N     send only N of the 19 STATUS lines\n"
      "  --id-lines N         send only N of the 8 ID lines\n"
      "  --silent             complete the handshake, then answer no command at all\n",
      f);
}

bool parseLong(const char *s, long *out) {
  if (!s || !*s) return false;
  char *end = nullptr;
  errno = 0;
  const long v = std::strtol(s, &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *out = v;
  return true;
}

std::string timestamp() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  const long ms = static_cast<long>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03ld", tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
  return buf;
}

std::string printable(const std::string &s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c < 0x20 || c == 0x7F) {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02X", c);
      out += b;
    } else out += static_cast<char>(c);
  }
  return out;
}

void logf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void logf(const char *fmt, ...) {
  std::fprintf(stderr, "[%s] ", timestamp().c_str());
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
  std::fputc('\n', stderr);
}

std::string hexSpaced(const std::vector<std::uint8_t> &bytes) {
  std::string out;
  char b[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(b, sizeof b, "%02X", bytes[i]);
    if (i) out += ' ';
    out += b;
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

class Controller {
public:
  Controller(const Options &o, int masterFd, const sim::Image &image)
      : opt_(o), fd_(masterFd), image_(image), rng_(std::random_device{}()) {
    nextAnnounce_ = Clock::now();
  }

  // One pass of the loop: the time-driven parts.
  void tick(Clock::time_point now) {
    processInput(now);
    if (state_ == State::Announce && now >= nextAnnounce_) {
      sendLine("ATI");
      nextAnnounce_ = now + std::chrono::milliseconds(static_cast<long>(opt_.announceMs));
    }
    if (state_ == State::AwaitPcOk && Ms(now - stateSince_).count() > 3000) {
      logf("no PC_OK, announcing again");
      enter(State::Announce, now);
    }
    if (state_ == State::SaveBytes && Ms(now - lastByte_).count() > kByteGapMs) {
      logf("SAVE abandoned after %zu of %zu bytes (no byte for %.0f ms)", saveCount_,
           sim::kImageSize, kByteGapMs);
      enter(State::Connected, now);
    }
    if (state_ == State::SaveTrailer && Ms(now - lastByte_).count() > kTrailerWaitMs) {
      logf("no byte after the image; checking it anyway");
      finishSave(now);
    }
    if (state_ == State::SendPayload || state_ == State::SetupPayload) {
      if (!payload_.empty() && Ms(now - lastByte_).count() > kPayloadGapMs) {
        if (state_ == State::SendPayload) finishSendPayload(now);
        else finishSetupPayload(now);
      } else if (payload_.empty() && Ms(now - stateSince_).count() > kByteGapMs) {
        logf("no RS-485 payload came");
        enter(State::Connected, now);
      }
    }
  }

  void received(const std::uint8_t *data, std::size_t n, Clock::time_point now) {
    for (std::size_t i = 0; i < n; ++i) inQueue_.push_back(data[i]);
    processInput(now);
  }

  // Earliest moment something time-driven is due, for the poll timeout.
  double msUntilDue(Clock::time_point now) const {
    double due = 50;
    if (state_ == State::Announce) due = std::min(due, Ms(nextAnnounce_ - now).count());
    if (!inQueue_.empty() && opt_.pace) due = std::min(due, inTimed_ ? Ms(inReady_ - now).count() : 0.0);
    if (!outQueue_.empty() && opt_.pace) due = std::min(due, outTimed_ ? Ms(outReady_ - now).count() : 0.0);
    if (state_ == State::SendPayload || state_ == State::SetupPayload) due = std::min(due, 10.0);
    return std::max(0.0, due);
  }

  // Paced output waits on the clock, not on the descriptor.
  bool wantsWrite() const { return !outQueue_.empty() && !opt_.pace; }

  // Writes what may go out now; false when the descriptor is dead.
  bool flush(Clock::time_point now) {
    while (!outQueue_.empty()) {
      std::size_t n = outQueue_.size();
      if (opt_.pace) {
        // Each character leaves once its own character time has passed.
        if (!outTimed_) {
          outReady_ = std::max(outReady_, now) + std::chrono::microseconds(static_cast<long>(kCharMs * 1000));
          outTimed_ = true;
        }
        if (now < outReady_) return true;
        n = 1;
      }
      std::vector<std::uint8_t> chunk(outQueue_.begin(), outQueue_.begin() + static_cast<long>(std::min<std::size_t>(n, 4096)));
      const ssize_t w = ::write(fd_, chunk.data(), chunk.size());
      if (w < 0) {
        if (errno == EAGAIN || errno == EINTR) return true;
        logf("write to the pseudo-terminal failed: %s", std::strerror(errno));
        return false;
      }
      outQueue_.erase(outQueue_.begin(), outQueue_.begin() + w);
      outTimed_ = false;
    }
    return true;
  }

  bool announcing() const { return state_ == State::Announce; }

private:
  enum class State {
    Announce, AwaitPcOk, Connected, SaveBytes, SaveTrailer, ReleLine, TimeLine, DateLine,
    SendPayload, SetupPayload
  };

  void enter(State s, Clock::time_point now) {
    state_ = s;
    stateSince_ = now;
    if (s == State::Announce) nextAnnounce_ = now;
  }

  void sendRaw(const std::string &bytes) {
    for (unsigned char c : bytes) outQueue_.push_back(c);
  }
  void sendLine(const std::string &text) {
    logf("> %s", printable(text).c_str());
    sendRaw(text + "\r\n");
  }

  void processInput(Clock::time_point now) {
    while (!inQueue_.empty()) {
      if (opt_.pace) {
        // A byte is there only once its character time on the wire has passed.
        if (!inTimed_) {
          inReady_ = std::max(inReady_, now) + std::chrono::microseconds(static_cast<long>(kCharMs * 1000));
          inTimed_ = true;
        }
        if (now < inReady_) return;
        inTimed_ = false;
      }
      const std::uint8_t b = inQueue_.front();
      inQueue_.pop_front();
      onByte(b, now);
    }
  }

  void onByte(std::uint8_t b, Clock::time_point now) {
    lastByte_ = now;
    switch (state_) {
      case State::SaveBytes: saveByte(b, now); return;
      case State::SaveTrailer:
        if (b != 0) logf("byte after the image is 0x%02X, not 0x00", b);
        finishSave(now);
        return;
      case State::SendPayload:
        if (payload_.size() < 256) payload_.push_back(b);
        return;
      case State::SetupPayload:
        if (payload_.size() < 16) payload_.push_back(b);
        if (payload_.size() == 4) finishSetupPayload(now);
        return;
      default: break;
    }
    line_.push_back(static_cast<char>(b));
    if (line_.size() >= 2 && line_[line_.size() - 2] == '\r' && line_.back() == '\n') {
      std::string text = line_.substr(0, line_.size() - 2);
      line_.clear();
      onLine(text, now);
    } else if (line_.size() >= kMaxLine) {
      logf("line longer than %zu bytes dropped", kMaxLine);
      line_.clear();
    }
  }

  void onLine(const std::string &text, Clock::time_point now) {
    logf("< %s", printable(text).c_str());
    if (text == "BYE") {
      enter(State::Announce, now);
      return;
    }
    switch (state_) {
      case State::ReleLine:
        relays_ = text.substr(0, 9);
        logf("relays now %s", printable(relays_).c_str());
        enter(State::Connected, now);
        return;
      case State::TimeLine:
        timeLine_ = text;
        enter(State::DateLine, now);
        return;
      case State::DateLine: finishTime(text, now); return;
      default: break;
    }
    if (text == "PC") {
      sendLine("Ver." + opt_.version);
      enter(State::AwaitPcOk, now);
      return;
    }
    if (text == "PC_OK") {
      if (state_ == State::AwaitPcOk) logf("connected");
      enter(State::Connected, now);
      return;
    }
    if (state_ != State::Connected) {
      logf("ignored: no handshake yet");
      return;
    }
    if (opt_.silent) {
      logf("ignored: --silent");
      return;
    }
    if (text == "SAVE") startSave(now);
    else if (text == "LOAD") startLoad();
    else if (text == "TIME") {
      sendLine("TIME_OK");
      enter(State::TimeLine, now);
    } else if (text == "TM") sendLine(opt_.tmKey);
    else if (text == "ID") sendIds();
    else if (text == "STATUS") sendStatus();
    else if (text == "RELE") enter(State::ReleLine, now);
    else if (text == "SEND RS-485") {
      payload_.clear();
      enter(State::SendPayload, now);
    } else if (text == "READ RS-485") sendLine(rs485_);
    else if (text == "SETUP RS-485") {
      payload_.clear();
      enter(State::SetupPayload, now);
    } else logf("unknown command ignored");
  }

  // ---- SAVE ----
  void startSave(Clock::time_point now) {
    if (opt_.noEcho) {
      logf("SAVE not echoed (--no-echo)");
      return;
    }
    sendLine("SAVE");
    saveCount_ = 0;
    saveStart_ = now;
    enter(State::SaveBytes, now);
  }

  void saveByte(std::uint8_t b, Clock::time_point now) {
    const std::size_t idx = saveCount_++;
    received_[idx] = b;
    if (opt_.stopAfter >= 0 && static_cast<long>(idx) >= opt_.stopAfter) {
      if (static_cast<long>(idx) == opt_.stopAfter) logf("acknowledgements stop at byte %zu (--stop-after)", idx);
    } else if (opt_.refuseByte == static_cast<long>(idx)) {
      logf("> e (refusing byte %zu, --refuse-byte)", idx);
      sendRaw("e");
      logf("SAVE refused after %zu bytes", saveCount_);
      enter(State::Connected, now);
      return;
    } else {
      if (opt_.strayBeforeAck == static_cast<long>(idx)) {
        logf("> ? (stray byte before acknowledgement %zu)", idx);
        sendRaw("?");
      }
      sendRaw("o");
    }
    if (saveCount_ == sim::kImageSize) enter(State::SaveTrailer, now);
  }

  void finishSave(Clock::time_point now) {
    const bool good = sim::checksumOk(received_);
    logf("SAVE: %zu bytes in %.0f ms, checksum %s", saveCount_, Ms(now - saveStart_).count(),
         good ? "good" : "wrong");
    if (good && !opt_.err2) {
      image_ = received_;
      sendLine("SAVE_OK");
    } else {
      sendLine("ERR2");
    }
    enter(State::Connected, now);
  }

  // ---- LOAD ----
  void startLoad() {
    if (opt_.noEcho) {
      logf("LOAD not echoed (--no-echo)");
      return;
    }
    sendLine("LOAD");
    std::size_t n = sim::kImageSize;
    if (opt_.stopAfter >= 0) n = std::min<std::size_t>(n, static_cast<std::size_t>(opt_.stopAfter));
    for (std::size_t i = 0; i < n; ++i) outQueue_.push_back(image_[i]);
    logf("> %zu image bytes", n);
    if (n == sim::kImageSize) sendLine("LOAD_OK");
    else logf("LOAD stream stops after %zu bytes (--stop-after)", n);
  }

  // ---- TIME ----
  void finishTime(const std::string &dateLine, Clock::time_point now) {
    int h = 0, mi = 0, s = 0, d = 0, mo = 0, y = 0;
    const bool okTime = std::sscanf(timeLine_.c_str(), "%d:%d:%d", &h, &mi, &s) == 3;
    const bool okDate = std::sscanf(dateLine.c_str(), "%d.%d.%d", &d, &mo, &y) == 3;
    if (okTime && okDate) {
      std::tm tm{};
      tm.tm_hour = h; tm.tm_min = mi; tm.tm_sec = s;
      tm.tm_mday = d; tm.tm_mon = mo - 1; tm.tm_year = (y < 100 ? y + 100 : y - 1900);
      tm.tm_isdst = -1;
      const std::time_t set = std::mktime(&tm);
      if (set != static_cast<std::time_t>(-1)) clockOffset_ = set - std::time(nullptr);
      logf("clock set to %s %s", printable(dateLine).c_str(), printable(timeLine_).c_str());
    } else {
      logf("time or date line not understood; clock unchanged");
    }
    const std::time_t t = std::time(nullptr) + clockOffset_;
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "DATE%02d.%02d.%02d %02d:%02d:%02d", tm.tm_mday, tm.tm_mon + 1,
                  tm.tm_year % 100, tm.tm_hour, tm.tm_min, tm.tm_sec);
    sendLine(buf);
    enter(State::Connected, now);
  }

  // ---- ID, STATUS ----
  void sendIds() {
    static const char *ids[8] = {"28FF4A1B02160345", "0000000000000000", "28FF91C3A4150221",
                                 "28FF0D7E61160390", "0000000000000000", "28FFB2205315047A",
                                 "28FF6C9A011603E1", "28FF33D4C2150418"};
    for (int i = 0; i < opt_.idLines && i < 8; ++i) sendLine(ids[i]);
  }

  void sendStatus() {
    ++polls_;
    std::uniform_real_distribution<double> jitter(-0.05, 0.05);
    std::vector<std::string> lines;
    // Inputs change from poll to poll: a counter shown in binary, input 1 last.
    std::string inputs(8, '0');
    for (int i = 0; i < 8; ++i)
      if (((polls_ >> (7 - i)) & 1u) != 0) inputs[static_cast<std::size_t>(i)] = '1';
    lines.push_back(inputs);
    for (int i = 0; i < 8; ++i) {
      const double v = 4.0 + 2.0 * i + std::sin(polls_ * 0.3 + i) + jitter(rng_);
      lines.push_back(decimalComma(v, 2));
    }
    for (int i = 0; i < 8; ++i) {
      if (i == 1 || i == 4) lines.push_back("N/A");
      else lines.push_back(decimalComma(21.5 + i + 0.5 * std::sin(polls_ * 0.2 + i), 1));
    }
    const std::time_t t = std::time(nullptr) + clockOffset_;
    std::tm tm{};
    localtime_r(&t, &tm);
    char date[48], tim[48];
    std::snprintf(date, sizeof date, "%02d.%02d.%02d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year % 100);
    std::snprintf(tim, sizeof tim, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    lines.push_back(date);
    lines.push_back(tim);
    for (int i = 0; i < opt_.statusLines && i < static_cast<int>(lines.size()); ++i)
      sendLine(lines[static_cast<std::size_t>(i)]);
  }

  static std::string decimalComma(double v, int digits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*f", digits, v);
    std::string s = buf;
    for (char &c : s)
      if (c == '.') c = ',';
    return s;
  }

  // ---- RS-485 ----
  void finishSendPayload(Clock::time_point now) {
    std::string text(payload_.begin(), payload_.end());
    payload_.clear();
    logf("< %s (RS-485 payload)", printable(text).c_str());
    const bool crc = !text.empty() && text.back() == '1';
    if (!text.empty()) text.pop_back();
    std::vector<std::uint8_t> frame;
    bool ok = text.size() % 2 == 0;
    for (std::size_t i = 0; ok && i + 1 < text.size(); i += 2) {
      unsigned v = 0;
      ok = std::sscanf(text.substr(i, 2).c_str(), "%2X", &v) == 1;
      frame.push_back(static_cast<std::uint8_t>(v));
    }
    if (!ok) {
      sendLine("ERR");
      sendLine("");
    } else {
      if (crc) {
        const std::uint16_t c = crc16Modbus(frame);
        frame.push_back(static_cast<std::uint8_t>(c & 0xFF));
        frame.push_back(static_cast<std::uint8_t>(c >> 8));
      }
      sendLine(hexSpaced(frame));   // the request as it went out on the bus
      sendLine(hexSpaced(frame));   // the device on the bus echoes it
    }
    enter(State::Connected, now);
  }

  void finishSetupPayload(Clock::time_point now) {
    std::string text(payload_.begin(), payload_.end());
    payload_.clear();
    logf("< %s (RS-485 settings)", printable(text).c_str());
    bool digits = text.size() == 4;
    for (char c : text) digits = digits && c >= '0' && c <= '9';
    if (digits) rs485_ = text;
    sendLine(digits ? "OK" : "ERR");
    enter(State::Connected, now);
  }

  const Options &opt_;
  int fd_;
  sim::Image image_;
  sim::Image received_{};
  std::mt19937 rng_;
  State state_ = State::Announce;
  Clock::time_point stateSince_{}, nextAnnounce_{}, lastByte_{}, saveStart_{};
  Clock::time_point inReady_{}, outReady_{};
  bool inTimed_ = false, outTimed_ = false;
  std::deque<std::uint8_t> inQueue_, outQueue_;
  std::string line_;
  std::vector<std::uint8_t> payload_;
  std::size_t saveCount_ = 0;
  std::string timeLine_;
  std::string relays_ = "000000000";
  std::string rs485_ = "3300";
  long clockOffset_ = 0;
  unsigned polls_ = 0;
};

std::string virtualFolder() {
  const char *rt = std::getenv("XDG_RUNTIME_DIR");
  if (rt && *rt) return std::string(rt) + "/serialcomm";
  return "/tmp/serialcomm-" + std::to_string(::getuid());
}

}  // namespace

int main(int argc, char **argv) {
  Options opt;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
    auto number = [&](long *out) {
      const char *v = value();
      if (!parseLong(v, out)) {
        std::fprintf(stderr, "korvel-sim: %s needs a number\n", a.c_str());
        std::exit(2);
      }
    };
    long n = 0;
    if (a == "--help" || a == "-h") { usage(stdout); return 0; }
    else if (a == "--port") { number(&n); if (n <= 0 || n > 999999) { std::fprintf(stderr, "korvel-sim: bad port\n"); return 2; } opt.port = static_cast<int>(n); }
    else if (a == "--version") { const char *v = value(); if (!v) { usage(stderr); return 2; } opt.version = v; }
    else if (a == "--image") { const char *v = value(); if (!v) { usage(stderr); return 2; } opt.imageFile = v; }
    else if (a == "--tm-key") { const char *v = value(); if (!v) { usage(stderr); return 2; } opt.tmKey = v; }
    else if (a == "--baud-pace") opt.pace = true;
    else if (a == "--announce-ms") { number(&n); opt.announceMs = static_cast<double>(std::max(10L, n)); }
    else if (a == "--refuse-byte") number(&opt.refuseByte);
    else if (a == "--err2") opt.err2 = true;
    else if (a == "--no-echo") opt.noEcho = true;
    else if (a == "--stop-after") number(&opt.stopAfter);
    else if (a == "--stray-before-ack") number(&opt.strayBeforeAck);
    else if (a == "--status-lines") { number(&n); opt.statusLines = static_cast<int>(std::clamp(n, 0L, 19L)); }
    else if (a == "--id-lines") { number(&n); opt.idLines = static_cast<int>(std::clamp(n, 0L, 8L)); }
    else if (a == "--silent") opt.silent = true;
    else {
      std::fprintf(stderr, "korvel-sim: unknown option %s\n", a.c_str());
      usage(stderr);
      return 2;
    }
  }

  sim::Image image = sim::defaultImage();
  if (!opt.imageFile.empty()) {
    std::ifstream in(opt.imageFile, std::ios::binary);
    std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) {
      std::fprintf(stderr, "korvel-sim: cannot read %s\n", opt.imageFile.c_str());
      return 1;
    }
    if (data.size() != sim::kImageSize) {
      std::fprintf(stderr, "korvel-sim: %s has %zu bytes, an image has %zu\n", opt.imageFile.c_str(),
                   data.size(), sim::kImageSize);
      return 1;
    }
    for (std::size_t i = 0; i < sim::kImageSize; ++i) image[i] = static_cast<std::uint8_t>(data[i]);
    if (!sim::checksumOk(image)) logf("note: %s has a wrong checksum", opt.imageFile.c_str());
  }

  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    std::perror("korvel-sim: pseudo-terminal");
    return 1;
  }
  const char *pts = ::ptsname(master);
  if (!pts) {
    std::perror("korvel-sim: ptsname");
    return 1;
  }
  const std::string ptsPath = pts;
  // Holding the slave open keeps the master readable while no configurator has the port open.
  const int slave = ::open(ptsPath.c_str(), O_RDWR | O_NOCTTY);
  if (slave < 0) {
    std::perror("korvel-sim: open slave");
    return 1;
  }
  termios tio{};
  if (::tcgetattr(slave, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    ::tcsetattr(slave, TCSANOW, &tio);
  }
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

  const std::string folder = virtualFolder();
  ::mkdir(folder.c_str(), 0700);
  const std::string link = folder + "/COM" + std::to_string(opt.port);
  struct stat st {};
  if (::lstat(link.c_str(), &st) == 0) {
    logf("replacing existing %s", link.c_str());
    ::unlink(link.c_str());
  }
  if (::symlink(ptsPath.c_str(), link.c_str()) != 0) {
    std::fprintf(stderr, "korvel-sim: cannot create %s: %s\n", link.c_str(), std::strerror(errno));
    return 1;
  }

  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGHUP, &sa, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  struct stat in {};
  const bool watchStdin = ::fstat(0, &in) == 0 && (S_ISFIFO(in.st_mode) || S_ISSOCK(in.st_mode));

  logf("COM%d is %s -> %s, version %s%s", opt.port, link.c_str(), ptsPath.c_str(),
       opt.version.c_str(), opt.pace ? ", paced at 9600 baud" : "");
  std::printf("COM%d %s %s\n", opt.port, link.c_str(), ptsPath.c_str());
  std::fflush(stdout);

  Controller ctl(opt, master, image);
  int rc = 0;
  std::uint8_t buf[4096];
  while (!gStop) {
    auto now = Clock::now();
    ctl.tick(now);
    if (!ctl.flush(now)) { rc = 1; break; }
    // Announcements nobody reads would pile up in the terminal: drop them.
    if (ctl.announcing()) {
      int queued = 0;
      if (::ioctl(slave, FIONREAD, &queued) == 0 && queued > 64) ::tcflush(slave, TCIFLUSH);
    }
    pollfd fds[2] = {{master, static_cast<short>(POLLIN | (ctl.wantsWrite() ? POLLOUT : 0)), 0},
                     {0, POLLIN, 0}};
    const double dueMs = ctl.msUntilDue(now);
    timespec timeout{static_cast<time_t>(dueMs / 1000),
                     static_cast<long>(std::fmod(dueMs, 1000.0) * 1e6)};
    const int pr = ::ppoll(fds, watchStdin ? 2 : 1, &timeout, nullptr);
    if (pr < 0) {
      if (errno == EINTR) continue;
      std::perror("korvel-sim: poll");
      rc = 1;
      break;
    }
    now = Clock::now();
    if (fds[0].revents & POLLIN) {
      const ssize_t r = ::read(master, buf, sizeof buf);
      if (r > 0) ctl.received(buf, static_cast<std::size_t>(r), now);
    }
    if (watchStdin && (fds[1].revents & (POLLIN | POLLHUP))) {
      char junk[256];
      const ssize_t r = ::read(0, junk, sizeof junk);
      if (r <= 0) {
        logf("end of input");
        break;
      }
    }
  }
  if (gStop) logf("signal received");
  // Remove the link only if it is still ours.
  char target[4096];
  const ssize_t tl = ::readlink(link.c_str(), target, sizeof target - 1);
  if (tl > 0) {
    target[tl] = '\0';
    if (ptsPath == target) ::unlink(link.c_str());
  }
  ::close(slave);
  ::close(master);
  logf("stopped");
  return rc;
}
