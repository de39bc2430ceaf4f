// korvel-sim: plays a KORVEL GSM controller on a pseudo-terminal, so the configurator can be
// run and tested without hardware. POSIX and the C++ standard library only; the controller
// itself is ControllerCore, this file gives it a terminal and the real clock.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>

#include "ControllerCore.h"

namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t gStop = 0;
void onSignal(int) { gStop = 1; }

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
      "  --ids A,B,...        the lines returned for ID (default: 8 sensor codes)\n"
      "  --seed N             seed of the STATUS readings' jitter (default: random)\n"
      "Fault injection:\n"
      "  --refuse-byte K      answer image byte K (from 0) of a SAVE with \"e\"\n"
      "  --err2               answer \"ERR2\" after every SAVE\n"
      "  --no-echo            do not echo SAVE and LOAD (nothing follows)\n"
      "  --stop-after K       stop acknowledging (SAVE) or streaming (LOAD) after K bytes\n"
      "  --stray-before-ack K send a stray byte '?' before the acknowledgement of byte K\n"
      "  --status-lines N     send only N of the 19 STATUS lines\n"
      "  --id-lines N         send only N of the ID lines\n"
      "  --silent             complete the handshake, then answer no command at all\n"
      "  --fault FAULT        one more fault, repeatable; FAULT is one of (K a byte position or\n"
      "                       line count, N milliseconds, C a command line such as TM or\n"
      "                       \"SEND RS-485\", T text to the end of FAULT):\n",
      f);
  std::fputs(korvel::faultHelp(), f);
  std::fputs(
      "  Reply lines are numbered from 0 and include those later in the same exchange: the SAVE\n"
      "  echo is line 0 and its confirmation line 1, \"TIME_OK\" line 0 and the date report\n"
      "  line 1. E.g. \"ERR2\" in place of the SAVE echo: --fault reply:SAVE:ERR2; before it:\n"
      "  --fault inject:SAVE:0:ERR2; vanishing: --fault vanish:SAVE:100, --fault vanish:TM.\n"
      "  A vanished device closes its pseudo-terminal and the program exits with status 0.\n",
      f);
}

// Digits only, at most `max`: no sign, overflow or trailing junk.
bool parseNumber(const char *s, long long max, long *out) {
  if (!s || !*s || std::strlen(s) > 10) return false;
  long long v = 0;
  for (const char *p = s; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    v = v * 10 + (*p - '0');
  }
  if (v > max) return false;
  *out = static_cast<long>(v);
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

void logLine(const std::string &line) { std::fprintf(stderr, "[%s] %s\n", timestamp().c_str(), line.c_str()); }

std::string virtualFolder() {
  const char *rt = std::getenv("XDG_RUNTIME_DIR");
  if (rt && *rt) return std::string(rt) + "/serialcomm";
  return "/tmp/serialcomm-" + std::to_string(::getuid());
}

// The image file must be exactly one image: a directory, a device or a file of another size
// is refused before anything is read from it.
bool readImage(const std::string &path, sim::Image *image) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    std::fprintf(stderr, "korvel-sim: %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    std::fprintf(stderr, "korvel-sim: %s is not a regular file\n", path.c_str());
    return false;
  }
  if (st.st_size != static_cast<off_t>(sim::kImageSize)) {
    std::fprintf(stderr, "korvel-sim: %s has %lld bytes, an image has %zu\n", path.c_str(),
                 static_cast<long long>(st.st_size), sim::kImageSize);
    return false;
  }
  FILE *f = std::fopen(path.c_str(), "rb");
  const std::size_t got = f ? std::fread(image->data(), 1, image->size(), f) : 0;
  if (f) std::fclose(f);
  if (got != sim::kImageSize) {
    std::fprintf(stderr, "korvel-sim: cannot read %s\n", path.c_str());
    return false;
  }
  return true;
}

// Local wall-clock time as seconds since 1970-01-01 of the local calendar: the controller's
// clock has no time zone.
std::int64_t localClock() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return static_cast<std::int64_t>(t) + tm.tm_gmtoff;
}

}  // namespace

int main(int argc, char **argv) {
  korvel::Options opt;
  opt.seed = std::random_device{}();
  opt.clockStart = localClock();
  int port = 9;
  std::string imageFile;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char * {
      if (i + 1 < argc) return argv[++i];
      std::fprintf(stderr, "korvel-sim: %s needs a value\n", a.c_str());
      std::exit(2);
    };
    auto number = [&](long long max) {
      long n = 0;
      if (!parseNumber(value(), max, &n)) {
        std::fprintf(stderr, "korvel-sim: %s needs a number from 0 to %lld\n", a.c_str(), max);
        std::exit(2);
      }
      return n;
    };
    auto fault = [&](korvel::Fault f, long at = -1, const std::string &command = {}) {
      opt.faults.push_back({f, at, 0, {}, command});
    };
    constexpr long kMaxPosition = 100000000;
    if (a == "--help" || a == "-h") { usage(stdout); return 0; }
    else if (a == "--port") {
      const long n = number(999999);
      if (n == 0) { std::fprintf(stderr, "korvel-sim: bad port\n"); return 2; }
      port = static_cast<int>(n);
    }
    else if (a == "--version") opt.version = value();
    else if (a == "--image") imageFile = value();
    else if (a == "--tm-key") opt.tmKey = value();
    else if (a == "--ids") {
      opt.ids.clear();
      std::string list = value();
      for (std::size_t from = 0;;) {
        const std::size_t comma = list.find(',', from);
        opt.ids.push_back(list.substr(from, comma == std::string::npos ? comma : comma - from));
        if (comma == std::string::npos) break;
        from = comma + 1;
      }
    }
    else if (a == "--seed") opt.seed = static_cast<std::uint32_t>(number(4294967295LL));
    else if (a == "--baud-pace") opt.pace = true;
    else if (a == "--announce-ms") opt.announceMs = static_cast<double>(std::max(10L, number(3600000)));
    else if (a == "--refuse-byte") fault(korvel::Fault::RefuseByte, number(kMaxPosition));
    else if (a == "--err2") fault(korvel::Fault::Err2);
    else if (a == "--no-echo") fault(korvel::Fault::NoEcho);
    else if (a == "--stop-after") fault(korvel::Fault::StopAfter, number(kMaxPosition));
    else if (a == "--stray-before-ack") {
      fault(korvel::Fault::StrayBeforeAck, number(kMaxPosition));
      opt.faults.back().text = "?";
    }
    else if (a == "--status-lines") fault(korvel::Fault::CutReply, std::min(number(kMaxPosition), 19L), "STATUS");
    else if (a == "--id-lines") fault(korvel::Fault::CutReply, std::min(number(kMaxPosition), 8L), "ID");
    else if (a == "--silent") fault(korvel::Fault::Silent);
    else if (a == "--fault") {
      std::string why;
      const auto f = korvel::parseFault(value(), &why);
      if (!f) {
        std::fprintf(stderr, "korvel-sim: --fault %s\n", why.c_str());
        return 2;
      }
      opt.faults.push_back(*f);
    }
    else {
      std::fprintf(stderr, "korvel-sim: unknown option %s\n", a.c_str());
      usage(stderr);
      return 2;
    }
  }

  sim::Image image = sim::defaultImage();
  if (!imageFile.empty()) {
    if (!readImage(imageFile, &image)) return 1;
    if (!sim::checksumOk(image)) logLine("note: " + imageFile + " has a wrong checksum");
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
  const std::string link = folder + "/COM" + std::to_string(port);
  struct stat st {};
  if (::lstat(link.c_str(), &st) == 0) {
    logLine("replacing existing " + link);
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
#ifdef __linux__
  // Paced characters are due every 1.04 ms; the default 50 us of timer slack is too coarse.
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif

  struct stat in {};
  const bool watchStdin = ::fstat(0, &in) == 0 && (S_ISFIFO(in.st_mode) || S_ISSOCK(in.st_mode));

  logLine("COM" + std::to_string(port) + " is " + link + " -> " + ptsPath + ", version " + opt.version +
          (opt.pace ? ", paced at 9600 baud" : ""));
  std::printf("COM%d %s %s\n", port, link.c_str(), ptsPath.c_str());
  std::fflush(stdout);

  korvel::ControllerCore ctl(std::move(opt), image);
  ctl.setLog(logLine);
  const Clock::time_point origin = Clock::now();
  auto nowMs = [&] { return std::chrono::duration<double, std::milli>(Clock::now() - origin).count(); };

  int rc = 0;
  bool vanished = false;
  double vanishedAt = -1, lastWrite = -1e9;
  std::string pending;   // taken from the controller, not yet accepted by the terminal
  std::uint8_t buf[4096];
  while (!gStop) {
    double now = nowMs();
    ctl.tick(now);
    pending += ctl.takeOutput(now);
    // Every character whose time has come goes out in one write.
    while (!pending.empty()) {
      const ssize_t w = ::write(master, pending.data(), pending.size());
      if (w < 0) {
        if (errno == EAGAIN || errno == EINTR) break;
        logLine(std::string("write to the pseudo-terminal failed: ") + std::strerror(errno));
        rc = 1;
        break;
      }
      pending.erase(0, static_cast<std::size_t>(w));
      lastWrite = now;
    }
    if (rc) break;
    // Gone: once what left before has been written and read (or a second has passed), close
    // the terminal. Closing it earlier would throw away what the other end has not read yet;
    // written bytes reach the other side's queue a moment later, hence the grace period.
    if (ctl.vanished() && ctl.nextDueMs() == HUGE_VAL) {
      if (vanishedAt < 0) vanishedAt = now;
      int unread = 0;
      if (::ioctl(slave, FIONREAD, &unread) != 0) unread = 0;
      const bool drained = pending.empty() && unread == 0 && now - lastWrite > 100;
      if (drained || now - vanishedAt > 1000) {
        vanished = true;
        break;
      }
    }
    // Announcements nobody reads would pile up in the terminal: drop them.
    if (ctl.announcing()) {
      int queued = 0;
      if (::ioctl(slave, FIONREAD, &queued) == 0 && queued > 64) ::tcflush(slave, TCIFLUSH);
    }
    const short events = static_cast<short>((vanishedAt < 0 ? POLLIN : 0) | (pending.empty() ? 0 : POLLOUT));
    pollfd fds[2] = {{master, events, 0}, {0, POLLIN, 0}};
    const double waitMs = std::clamp(ctl.nextDueMs() - nowMs(), 0.0, vanishedAt < 0 ? 1000.0 : 5.0);
    timespec timeout{static_cast<time_t>(waitMs / 1000), static_cast<long>(std::fmod(waitMs, 1000.0) * 1e6)};
    const int pr = ::ppoll(fds, watchStdin ? 2 : 1, &timeout, nullptr);
    if (pr < 0) {
      if (errno == EINTR) continue;
      std::perror("korvel-sim: poll");
      rc = 1;
      break;
    }
    if (fds[0].revents & POLLIN) {
      const ssize_t r = ::read(master, buf, sizeof buf);
      if (r > 0) ctl.received(buf, static_cast<std::size_t>(r), nowMs());
    }
    if (watchStdin && (fds[1].revents & (POLLIN | POLLHUP))) {
      char junk[256];
      const ssize_t r = ::read(0, junk, sizeof junk);
      if (r <= 0) {
        logLine("end of input");
        break;
      }
    }
  }
  if (gStop) logLine("signal received");
  // Remove the link only if it is still ours.
  char target[4096];
  const ssize_t tl = ::readlink(link.c_str(), target, sizeof target - 1);
  if (tl > 0) {
    target[tl] = '\0';
    if (ptsPath == target) ::unlink(link.c_str());
  }
  ::close(slave);
  ::close(master);
  logLine(vanished ? "device vanished: pseudo-terminal closed" : "stopped");
  return rc;
}
