#include "DeviceCommands.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTime>
#include <QTimer>
#include <csignal>
#include <memory>
#ifdef Q_OS_WIN
#include <QDir>
#include <io.h>
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "FileCommands.h"
#include "JournalCommands.h"
#include "CommandLine.h"
#include "Output.h"
#include "image/Checksum.h"
#include "image/ConfigFile.h"
#include "image/ControlTable.h"
#include "link/Link.h"
#include "link/PortNames.h"

namespace cli {

namespace {

constexpr int kImageBytes = int(kConfigImageSize);
// The link reports each 39th byte; the bar shows bytes.
constexpr int kBytesPerStep = 39;
// Replies that bring several lines (the sensor ids) have no watchdog after their first line.
constexpr int kLineReplyGuardMs = 10000;
// Quiet on the line after the handshake before the first command.
constexpr int kSettleMs = 150;

struct PortChoice {
  QString shown;    // as the operator wrote it
  QString device;   // a device path; empty for a window name
  int number = 0;   // the window's COM number
};

struct Plan {
  QString command;
  ConfigImageBytes image{};   // what write sends
  QString source;             // write: the file it came from
  QString output;             // read: where to save, {port} replaced per port
  QString backup;             // write: where to save what was there
  bool verify = true;          // write: read back and compare
  int waitMs = 10000;
};

// An outcome in the windows' words, within a line: from a small letter.
QString lowerFirst(QString text) {
  if (!text.isEmpty()) text[0] = text[0].toLower();
  return text;
}
QString said(ExchangeOutcome outcome) { return lowerFirst(outcomeText(outcome)); }
// What one port's exchange came to, in one place: the printed lines, the JSON object and anything
// that records exchanges are all made from it.
struct PortResult {
  QString port;              // as the operator wrote it (COM numbers as COM<n>)
  QString command;
  int code = kOk;            // the exit code this port alone would give
  QString outcome;           // a stable keyword: "ok", "mismatch", "no-connection"...
  QString text;              // the result in words, as the result line says it
  qint64 elapsedMs = 0;
  QString stage;             // the step it ended in: connect, backup, write, verify, read, time, key, ids
  int stageBytes = 0;        // bytes of that step's transfer gone over
  bool incompleteWrite = false;   // stopped in a write's byte phase: the controller may hold part of it
  bool verified = false;     // a write read back equal
  QString file, backup;      // read's file; write's backup
  QString version, masterKey, date, time;
  QStringList sensors;       // info: eight ids, empty for no sensor
  Differences differences;   // a write's read-back
  QStringList details;       // the lines printed before the result line

  QJsonObject json() const {
    QJsonObject o{{QStringLiteral("port"), port},
                  {QStringLiteral("command"), command},
                  {QStringLiteral("outcome"), outcome},
                  {QStringLiteral("code"), code},
                  {QStringLiteral("result"), text},
                  {QStringLiteral("seconds"), double(elapsedMs) / 1000.0}};
    auto put = [&](const char *key, const QString &value) {
      if (!value.isEmpty()) o.insert(QLatin1String(key), value);
    };
    put("file", file);
    put("backup", backup);
    put("version", version);
    put("masterKey", masterKey);
    put("date", date);
    put("time", time);
    if (!sensors.isEmpty()) o.insert(QStringLiteral("sensors"), QJsonArray::fromStringList(sensors));
    if (command == QLatin1String("write")) o.insert(QStringLiteral("verified"), verified);
    if (outcome == QLatin1String("mismatch")) o.insert(QStringLiteral("differences"), differences.json());
    if (outcome == QLatin1String("interrupted")) {
      o.insert(QStringLiteral("stage"), stage);
      o.insert(QStringLiteral("stageBytes"), stageBytes);
      o.insert(QStringLiteral("incompleteWrite"), incompleteWrite);
    }
    return o;
  }
};

// "\r", "\n" and "\xNN" for what a terminal would not show as itself.
QString escaped(const QByteArray &bytes) {
  QString text;
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\r') text += QStringLiteral("\\r");
    else if (c == '\n') text += QStringLiteral("\\n");
    else if (c == '\\') text += QStringLiteral("\\\\");
    else if (c >= 0x20 && c < 0x7F) text += QLatin1Char(ch);
    else text += QStringLiteral("\\x") + QStringLiteral("%1").arg(c, 2, 16, QLatin1Char('0')).toUpper();
  }
  return text;
}

// -v: one time-stamped line on stderr for each thing said on the line.
void exchangeLine(const QString &port, const QString &what) {
  write(stderr, QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz ")) + port + QLatin1Char(' ') + what +
                    QLatin1Char('\n'));
  std::fflush(stderr);
}

QString perPort(const QString &pattern, const PortChoice &choice) {
  QString name = choice.device.isEmpty() ? choice.shown : QFileInfo(choice.device).fileName();
  return QString(pattern).replace(QStringLiteral("{port}"), name);
}

class PortJob : public QObject {
public:
  // KeyFirst: a write reads the master key first, for the journal.
  enum class Step { Connect, KeyFirst, Backup, Write, Verify, Read, Time, Key, Ids, Done };

  PortJob(PortChoice choice, Plan plan) : choice_(std::move(choice)), plan_(std::move(plan)) {
    result_.port = choice_.shown;
    result_.command = plan_.command;
    wait_.setSingleShot(true);
    connect(&wait_, &QTimer::timeout, this, [this] {
      if (step_ == Step::Connect)
        fail(kDeviceFailure, "no-connection", QStringLiteral("контроллер не отвечает (нет подключения за %1 с)")
                                 .arg(plan_.waitMs / 1000.0));
      else
        fail(kDeviceFailure, "incomplete-reply", QStringLiteral("контроллер ответил не полностью"));
    });
    connectLink();
    if (global().verbose) showExchange();
  }

  const PortChoice &choice() const { return choice_; }
  const PortResult &result() const { return result_; }
  bool finished() const { return ended_; }
  std::function<void()> onFinished;

  // Bytes of the transfers this job makes, and how many have gone over.
  int totalBytes() const {
    if (plan_.command == QLatin1String("read")) return kImageBytes;
    if (plan_.command != QLatin1String("write")) return 0;
    return kImageBytes * (1 + !plan_.backup.isEmpty() + plan_.verify);
  }
  int doneBytes() const { return finished() ? totalBytes() : std::min(totalBytes(), done_ + current_); }

  void start() {
    clock_.start();
    link_.startRearmTick();
    QString why;
    const bool opened = choice_.device.isEmpty() ? link_.openPort(choice_.number, &why)
                                                 : link_.openPath(choice_.device, &why);
    if (!opened) {
      fail(kDeviceFailure, "port-error", QStringLiteral("порт не открыт: ") + why);
      return;
    }
    device_ = choice_.device.isEmpty() ? link_.portEntry().device : choice_.device;
    link_.listen();
    wait_.start(plan_.waitMs);
  }

  // Ctrl-C or SIGTERM: the exchange ends where it stands, and the result says where that was.
  void interrupt(int signal) {
    if (ended_) return;
    const QString bytes = QStringLiteral("%1 из %2 байт").arg(current_).arg(kImageBytes);
    QString why;
    switch (step_) {
      case Step::Connect: why = QStringLiteral("при подключении, обмена еще не было"); break;
      case Step::Backup:
        why = QStringLiteral("при чтении копии (%1); в контроллер ничего не записано").arg(bytes);
        break;
      case Step::Write:
        if (writeBytesBegun_) {
          result_.incompleteWrite = true;
          why = QStringLiteral("при записи (%1): в контроллере может остаться неполная конфигурация, "
                               "ее нужно записать снова")
                    .arg(bytes);
        } else {
          why = QStringLiteral("до передачи байтов записи");
        }
        break;
      case Step::Verify:
        why = QStringLiteral("при проверке (%1): конфигурация записана (SAVE_OK), но не проверена").arg(bytes);
        break;
      case Step::Read: why = QStringLiteral("при чтении (%1); файл не сохранен").arg(bytes); break;
      default: why = QStringLiteral("в ожидании ответа контроллера"); break;
    }
    result_.stage = stageName(step_);
    result_.stageBytes = current_;
    finish(kSignalBase + signal, "interrupted", QStringLiteral("прервано ") + why);
  }

private:
  static QString stageName(Step s) {
    switch (s) {
      case Step::Connect: return QStringLiteral("connect");
      case Step::Backup: return QStringLiteral("backup");
      case Step::Write: return QStringLiteral("write");
      case Step::Verify: return QStringLiteral("verify");
      case Step::Read: return QStringLiteral("read");
      case Step::Time: return QStringLiteral("time");
      case Step::Key: case Step::KeyFirst: return QStringLiteral("key");
      case Step::Ids: return QStringLiteral("ids");
      case Step::Done: break;
    }
    return QStringLiteral("done");
  }

  // Bytes sent one by one (a write's image) are shown in runs, not a line each.
  void showExchange() {
    connect(&link_, &TLink::bytesSent, this, [this](const QByteArray &bytes) {
      if (bytes.size() == 1) {
        pendingSent_ += bytes;
        if (pendingSent_.size() >= 32) flushSent();
        return;
      }
      flushSent();
      exchangeLine(choice_.shown, QStringLiteral("→ ") + escaped(bytes));
    });
    connect(&link_, &TLink::lineShown, this, [this](const QString &line) {
      flushSent();
      exchangeLine(choice_.shown, QStringLiteral("← ") + escaped(line.toLatin1()));
    });
    connect(&link_, &TLink::imageReceived, this, [this](const ConfigImageBytes &image) {
      exchangeLine(choice_.shown, QStringLiteral("← %1 байт конфигурации").arg(image.size()));
    });
  }
  void flushSent() {
    if (pendingSent_.isEmpty()) return;
    exchangeLine(choice_.shown, QStringLiteral("→ ") + escaped(pendingSent_));
    pendingSent_.clear();
  }

  void connectLink() {
    TLink *l = &link_;
    // Announcements queued in the line while nobody listened are each answered, and each
    // brings a "Ver." line back; a command sent among them would meet a handshake reply in its
    // echo wait. The first command goes out once the line has been quiet for a moment.
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    connect(&settle_, &QTimer::timeout, this, [this] {
      if (step_ == Step::Connect) advance();
    });
    connect(l, &TLink::connected, this, [this](const QString &version) {
      if (step_ != Step::Connect) return;
      wait_.stop();
      result_.version = version.trimmed();
      settle_.start();
    });
    connect(l, &TLink::lineShown, this, [this] {
      if (step_ == Step::Connect && settle_.isActive()) settle_.start();
    });
    connect(l, &TLink::transferActiveChanged, this, [this](bool active) {
      if (!active && awaitingLink_) later();
    });
    connect(l, &TLink::transferProgress, this,
            [this](int position) { current_ = std::min(kImageBytes, position * kBytesPerStep); });
    connect(l, &TLink::writeEchoed, this, [this] { writeBytesBegun_ = step_ == Step::Write; });
    connect(l, &TLink::imageReceived, this, [this](const ConfigImageBytes &image) { received(image); });
    connect(l, &TLink::saveConfirmed, this, [this] {
      if (step_ != Step::Write) return;
      writeBytesBegun_ = false;
      transferDone();
      later();
    });
    connect(l, &TLink::saveFailed, this,
            [this] { fail(kDeviceFailure, "save-failed", QStringLiteral("контроллер ответил ERR2: ") + said(ExchangeOutcome::SaveFailed)); });
    connect(l, &TLink::writeIncomplete, this,
            [this] { fail(kDeviceFailure, "write-incomplete", said(ExchangeOutcome::WriteIncomplete)); });
    connect(l, &TLink::readIncomplete, this,
            [this] { fail(kDeviceFailure, "read-incomplete", said(ExchangeOutcome::ReadIncomplete)); });
    connect(l, &TLink::writeRefused, this,
            [this] { refused_ = true; });   // the failure itself comes with the watchdog
    connect(l, &TLink::watchdogExpired, this, [this](WatchdogReason reason) {
      const QString prefix = refused_ ? QStringLiteral("контроллер отклонил байт: ") : QString();
      const char *refusedKey = "byte-refused";
      switch (reason) {
        case WatchdogReason::NoReply:
          fail(kDeviceFailure, refused_ ? refusedKey : "no-reply", prefix + lowerFirst(outcomeText(reason)));
          break;
        case WatchdogReason::TransferStalled:
          fail(kDeviceFailure, refused_ ? refusedKey : "transfer-stalled", prefix + lowerFirst(outcomeText(reason)));
          break;
        case WatchdogReason::SaveUnconfirmed:
          fail(kDeviceFailure, refused_ ? refusedKey : "save-unconfirmed", prefix + lowerFirst(outcomeText(reason)));
          break;
        default: break;
      }
    });
    connect(l, &TLink::exchangeFailed, this, [this](const QString &detail) {
      fail(kDeviceFailure, "transfer-error", said(ExchangeOutcome::TransferStalled) + QStringLiteral(": ") + detail);
    });
    connect(l, &TLink::portLost, this, [this](const QString &reason) {
      fail(kDeviceFailure, "port-lost", said(ExchangeOutcome::PortLost) + QStringLiteral(": ") + reason);
    });
    connect(l, &TLink::dateReported, this, [this](const QString &date, const QString &time) {
      if (step_ != Step::Time) return;
      wait_.stop();
      result_.date = date;
      result_.time = time;
      result_.details << QStringLiteral("Дата: ") + date << QStringLiteral("Время: ") + time;
      finish(kOk, "ok", QStringLiteral("время установлено"));
    });
    connect(l, &TLink::masterKeyRead, this, [this](const QString &key) {
      if (step_ == Step::KeyFirst) {
        result_.masterKey = key.trimmed();
        later();
        return;
      }
      if (step_ != Step::Key) return;
      result_.masterKey = key;
      // Named as the window's frame around the key.
      result_.details << controls::wordsOf(controls::Kind::Text, 12).groups[0] + QStringLiteral(": ") + key;
      later();
    });
    connect(l, &TLink::sensorIdRead, this, [this](int n, const QString &id) {
      if (step_ != Step::Ids) return;
      result_.sensors << id;
      result_.details << QStringLiteral("Датчик %1: %2").arg(n).arg(id.isEmpty() ? QStringLiteral("нет") : id);
      if (n == 8) finish(kOk, "ok", QStringLiteral("прочитано"));
      else wait_.start(kLineReplyGuardMs);
    });
  }

  Step nextStep() const {
    const QString &c = plan_.command;
    switch (step_) {
      case Step::Connect:
        if (c == QLatin1String("read")) return Step::Read;
        if (c == QLatin1String("time")) return Step::Time;
        if (c == QLatin1String("info")) return Step::Key;
#ifdef QUORLAN_WITH_JOURNAL
        return Step::KeyFirst;
#else
        return plan_.backup.isEmpty() ? Step::Write : Step::Backup;
#endif
      case Step::KeyFirst: return plan_.backup.isEmpty() ? Step::Write : Step::Backup;
      case Step::Backup: return Step::Write;
      case Step::Write: return plan_.verify ? Step::Verify : Step::Done;
      case Step::Key: return Step::Ids;
      default: return Step::Done;
    }
  }

  // Steps start outside the link's own signal handlers.
  void later() { QTimer::singleShot(0, this, [this] { advance(); }); }

  // The next step starts once the link is free; a transfer's outcome may come before it is,
  // and the link's transferActiveChanged then brings the step.
  void advance() {
    if (ended_) return;
    awaitingLink_ = link_.transferActive();
    if (awaitingLink_) return;
    step_ = nextStep();
    current_ = 0;
    switch (step_) {
      case Step::Backup: case Step::Read: case Step::Verify: link_.startRead(); break;
      case Step::Write: link_.startWrite(plan_.image); break;
      case Step::Time: link_.setControllerClock(); wait_.start(kLineReplyGuardMs); break;
      case Step::Key: case Step::KeyFirst: link_.readMasterKey(); break;
      case Step::Ids: link_.readSensorIds(); wait_.start(kLineReplyGuardMs); break;
      case Step::Done:
        finish(kOk, "ok", plan_.command == QLatin1String("write")
                        ? (plan_.verify ? QStringLiteral("записано и проверено") : QStringLiteral("записано"))
                        : QStringLiteral("считано"));
        break;
      case Step::Connect: break;
    }
  }

  void transferDone() {
    done_ += kImageBytes;
    current_ = 0;
  }

  bool save(const QString &pattern, const ConfigImageBytes &image) {
    const QString path = perPort(pattern, choice_);
    ConfigFileError error;
    if (writeConfigFile(path, image, &error)) return true;
    fail(kBadInput, "file-error", error.what + (error.reason.isEmpty() ? QString() : QStringLiteral(": ") + error.reason));
    return false;
  }

  void received(const ConfigImageBytes &image) {
    if (step_ != Step::Backup && step_ != Step::Read && step_ != Step::Verify) return;
    transferDone();
    const QByteArray bytes(reinterpret_cast<const char *>(image.data()), qsizetype(image.size()));
    if (step_ == Step::Backup) before_ = bytes;
    else if (step_ == Step::Verify) readBack_ = bytes;
    else received_ = bytes;
    if (step_ == Step::Verify) {
      if (image == plan_.image) {
        result_.verified = true;
        later();
        return;
      }
      result_.differences = compareImages(plan_.image, image);
      result_.details = result_.differences.lines();
      if (!checksumMatches(image)) result_.details.prepend(QStringLiteral("контрольная сумма считанной конфигурации неверна"));
      finish(kMismatch, "mismatch", QStringLiteral("проверка не совпала, различий: %1").arg(result_.details.size()));
      return;
    }
    // A configuration the window would refuse to open is not kept as if it were good.
    if (!checksumMatches(image)) {
      fail(kDeviceFailure, "bad-checksum", QStringLiteral("считанная конфигурация с неверной контрольной суммой"));
      return;
    }
    if (!save(step_ == Step::Backup ? plan_.backup : plan_.output, image)) return;
    if (step_ == Step::Backup) {
      result_.backup = perPort(plan_.backup, choice_);
      result_.details << QStringLiteral("копия: ") + result_.backup;
    } else {
      result_.file = perPort(plan_.output, choice_);
    }
    later();
  }

  void fail(int code, const char *outcome, const QString &why) { finish(code, outcome, QStringLiteral("ошибка: ") + why); }

  void finish(int code, const char *outcome, const QString &text) {
    if (ended_) return;
    ended_ = true;
    flushSent();
    wait_.stop();
    settle_.stop();
    if (result_.stage.isEmpty()) result_.stage = stageName(step_);
    step_ = Step::Done;
    result_.code = code;
    result_.outcome = QString::fromLatin1(outcome);
    result_.text = text;
    result_.elapsedMs = clock_.elapsed();
    if (link_.portOpen() && !link_.transferActive()) link_.sayGoodbye();
    record();
    if (onFinished) QTimer::singleShot(0, this, onFinished);
  }

  // Reads and writes go into the journal, whatever their outcome.
  void record() {
    const QString &c = plan_.command;
    if (c != QLatin1String("read") && c != QLatin1String("write")) return;
    ExchangeRecord r;
    r.operation = c;
    r.port = choice_.shown;
    r.device = device_;
    r.version = result_.version;
    r.masterKey = result_.masterKey;
    r.ok = result_.code == kOk;
    r.outcome = result_.text;
    if (c == QLatin1String("write")) {
      r.file = plan_.source;
      r.image = QByteArray(reinterpret_cast<const char *>(plan_.image.data()), qsizetype(plan_.image.size()));
      r.before = before_;
      r.readBack = readBack_;
    } else {
      r.file = QFileInfo(perPort(plan_.output, choice_)).absoluteFilePath();
      r.image = received_;
    }
    recordExchange(r);
  }

  PortChoice choice_;
  const Plan plan_;
  TLink link_;
  QTimer wait_;
  QTimer settle_;
  QElapsedTimer clock_;
  Step step_ = Step::Connect;
  bool refused_ = false;
  bool awaitingLink_ = false;   // a step is due once the link's transfer is over
  bool writeBytesBegun_ = false;   // from a write's echo to its "SAVE_OK"
  bool ended_ = false;
  int done_ = 0, current_ = 0;
  QByteArray pendingSent_;
  PortResult result_;
  QString device_;   // the device the port opened, for the journal
  QByteArray received_, before_, readBack_;
};

// "COM12" by the window's names, or the path of a character device.
bool parsePort(const QString &text, PortChoice *choice, QString *why) {
  choice->shown = text;
#ifndef Q_OS_WIN
  if (text.startsWith(QLatin1Char('/'))) {
    struct stat st{};
    if (::stat(QFile::encodeName(text).constData(), &st) != 0) {
      *why = QStringLiteral("%1: нет такого устройства").arg(text);
      return false;
    }
    if (!S_ISCHR(st.st_mode)) {
      *why = QStringLiteral("%1: не символьное устройство").arg(text);
      return false;
    }
    choice->device = text;
    return true;
  }
#else
  // A port in the device namespace (\\.\COM12): only opening it tells whether it is one, and
  // the open error says why not.
  if (text.startsWith(QLatin1String("\\\\.\\")) || text.startsWith(QLatin1String("//./"))) {
    choice->device = QDir::toNativeSeparators(text);
    return true;
  }
#endif
  int number = 0;
  if (text.left(3).compare(QLatin1String("COM"), Qt::CaseInsensitive) == 0 &&
      PortNames::portNumberFromText(text, &number) && number > 0) {
    choice->number = number;
    choice->shown = QStringLiteral("COM%1").arg(number);
    return true;
  }
  *why = QStringLiteral("\"%1\": порт пишется как COM<номер> или путь устройства").arg(text);
  return false;
}

// The bar redraws its line with "\r" and "\033[K".
bool stderrIsTerminal() {
#ifdef Q_OS_WIN
  // A console takes the escape sequence only when asked to; NUL is a character device too, but
  // no console.
  if (!_isatty(_fileno(stderr))) return false;
  const HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  return GetConsoleMode(h, &mode) &&
         ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) ||
          SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING));
#else
  return ::isatty(STDERR_FILENO) == 1;
#endif
}

#ifndef Q_OS_WIN
// Signals come in through a pipe the event loop watches; the handler itself only writes a byte.
volatile std::sig_atomic_t g_signal = 0;
volatile std::sig_atomic_t g_barShown = 0;
int g_signalPipe[2] = {-1, -1};

extern "C" void onStopSignal(int signal) {
  if (g_signal != 0) {
    // The second one ends at once, with a half-drawn bar wiped so the prompt starts clean.
    if (g_barShown) (void)!::write(STDERR_FILENO, "\r\033[K", 4);
    ::_exit(kSignalBase + signal);
  }
  g_signal = signal;
  const char byte = 1;
  (void)!::write(g_signalPipe[1], &byte, 1);
}
#endif

// Ctrl-C and SIGTERM while the exchanges run: `stop` gets the signal's number once. On Windows
// the console's default (the process ends) stays.
class StopSignals {
public:
  explicit StopSignals(std::function<void(int)> stop) {
#ifndef Q_OS_WIN
    if (::pipe(g_signalPipe) != 0) return;
    for (const int fd : g_signalPipe) {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
      ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    notifier_ = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [stop = std::move(stop)] {
      char byte;
      while (::read(g_signalPipe[0], &byte, 1) > 0) {
      }
      stop(int(g_signal));
    });
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &oldInt_);
    ::sigaction(SIGTERM, &action, &oldTerm_);
    installed_ = true;
#else
    Q_UNUSED(stop);
#endif
  }
  ~StopSignals() {
#ifndef Q_OS_WIN
    if (!installed_) return;
    ::sigaction(SIGINT, &oldInt_, nullptr);
    ::sigaction(SIGTERM, &oldTerm_, nullptr);
    notifier_.reset();
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
#endif
  }
  static void barShown(bool shown) {
#ifndef Q_OS_WIN
    g_barShown = shown;
#else
    Q_UNUSED(shown);
#endif
  }

private:
#ifndef Q_OS_WIN
  std::unique_ptr<QSocketNotifier> notifier_;
  struct sigaction oldInt_ {}, oldTerm_ {};
  bool installed_ = false;
#endif
};

// The bar on a terminal: bytes of all ports together and the time left at the rate so far. Not
// with -q, nor with -v, whose lines it would cut.
class ProgressBar {
public:
  explicit ProgressBar(const std::vector<std::unique_ptr<PortJob>> &jobs) : jobs_(jobs) {
    enabled_ = stderrIsTerminal() && !global().quiet && !global().verbose;
    for (const auto &j : jobs_) total_ += j->totalBytes();
    if (!enabled_ || total_ == 0) return;
    clock_.start();
    QObject::connect(&timer_, &QTimer::timeout, [this] { draw(); });
    timer_.start(200);
  }
  void clear() {
    timer_.stop();
    if (!shown_) return;
    StopSignals::barShown(false);
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
  }

private:
  void draw() {
    int done = 0;
    for (const auto &j : jobs_) done += j->doneBytes();
    if (done == 0) return;
    constexpr int kWidth = 30;
    const int filled = int(qint64(done) * kWidth / total_);
    const qint64 ms = clock_.elapsed();
    const qint64 leftMs = done >= total_ ? 0 : ms * (total_ - done) / done;
    const QString line = QStringLiteral("\r[%1%2] %3/%4 байт, осталось %5 с\033[K")
                             .arg(QString(filled, QLatin1Char('#')), QString(kWidth - filled, QLatin1Char('.')))
                             .arg(done)
                             .arg(total_)
                             .arg((leftMs + 999) / 1000);
    cli::write(stderr, line);
    std::fflush(stderr);
    shown_ = true;
    StopSignals::barShown(true);
  }

  const std::vector<std::unique_ptr<PortJob>> &jobs_;
  bool enabled_ = false, shown_ = false;
  int total_ = 0;
  QElapsedTimer clock_;
  QTimer timer_;
};

}  // namespace

int deviceCommand(const QString &command, const QStringList &args) {
  Plan plan;
  plan.command = command;
  QList<PortChoice> ports;
  const QString badWait = QStringLiteral("--wait: нужно число секунд");
  QList<Option> options{
      {QStringLiteral("--port"), true, QStringLiteral("после --port нужен порт"),
       [&](const QString &v) {
         PortChoice choice;
         QString why;
         if (parsePort(v, &choice, &why)) ports << choice;
         return why;
       }},
      {QStringLiteral("--wait"), true, badWait, [&](QString v) {
         bool ok = false;
         const double s = v.replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
         if (!ok || !(s > 0 && s <= 3600)) return badWait;   // "nan" and "inf" are numbers to toDouble
         plan.waitMs = int(s * 1000);
         return QString();
       }},
      {QStringLiteral("--json")},
      {QStringLiteral("-q")}, {QStringLiteral("--quiet")},
      {QStringLiteral("-v")}, {QStringLiteral("--verbose")}};
  if (command == QLatin1String("read"))
    options << Option{QStringLiteral("-o"), true, QStringLiteral("после -o нужен файл")};
  if (command == QLatin1String("write"))
    options << Option{QStringLiteral("--backup"), true, QStringLiteral("после --backup нужен файл")}
            << Option{QStringLiteral("--verify")} << Option{QStringLiteral("--no-verify")};
  const Arguments a = parseArguments(command, args, options);
  if (a.done()) return a.exit;
  plan.output = a.last(QStringLiteral("-o"));
  plan.backup = a.last(QStringLiteral("--backup"));
  if (a.flags.contains(QStringLiteral("--verify")) && a.flags.contains(QStringLiteral("--no-verify")))
    return usage(command, QStringLiteral("--verify и --no-verify вместе"));
  plan.verify = !a.flags.contains(QStringLiteral("--no-verify"));
  const bool json = a.flags.contains(QStringLiteral("--json"));
  if (a.flags.contains(QStringLiteral("-q")) || a.flags.contains(QStringLiteral("--quiet"))) global().quiet = true;
  if (a.flags.contains(QStringLiteral("-v")) || a.flags.contains(QStringLiteral("--verbose"))) global().verbose = true;
  if (ports.isEmpty()) return usage(command, QStringLiteral("нужен --port"));
  for (int i = 0; i < ports.size(); ++i)
    for (int k = 0; k < i; ++k)
      if (ports[i].shown == ports[k].shown) return usage(command, QStringLiteral("порт %1 указан дважды").arg(ports[i].shown));
  if (command == QLatin1String("write")) {
    if (a.words.size() != 1) return usage(command, QStringLiteral("нужен один файл конфигурации"));
    QString why;
    plan.source = QFileInfo(a.words[0]).absoluteFilePath();
    if (!loadImage(a.words[0], plan.image, &why)) {
      errLine(why);
      return kBadInput;
    }
  } else if (!a.words.isEmpty()) {
    return usage(command, QStringLiteral("лишний параметр \"%1\"").arg(a.words[0]));
  }
  if (command == QLatin1String("read") && plan.output.isEmpty())
    return usage(command, QStringLiteral("нужен -o ФАЙЛ"));
  // Several ports would otherwise save into one file, each over the one before.
  for (const QString &pattern : {plan.output, plan.backup})
    if (!pattern.isEmpty() && ports.size() > 1 && !pattern.contains(QStringLiteral("{port}")))
      return usage(command, QStringLiteral("при нескольких портах имя файла должно содержать {port}"));

  std::vector<std::unique_ptr<PortJob>> jobs;
  for (const PortChoice &choice : ports) jobs.push_back(std::make_unique<PortJob>(choice, plan));
  int open = int(jobs.size());
  for (auto &job : jobs)
    job->onFinished = [&open] {
        if (--open == 0) QCoreApplication::quit();
    };
  int stoppedBy = 0;
  StopSignals stopSignals([&](int signal) {
    if (stoppedBy) return;
    stoppedBy = signal;
    for (auto &job : jobs) job->interrupt(signal);
  });
  ProgressBar bar(jobs);
  for (auto &job : jobs) job->start();
  if (open > 0) QCoreApplication::exec();
  bar.clear();

  if (json) {
    // One object a line, one line a port, in the order the ports were given.
    for (const auto &job : jobs) outLine(jsonLine(job->result().json()));
  } else {
    const bool several = jobs.size() > 1;
    for (const auto &job : jobs) {
      const PortResult &r = job->result();
      const QString prefix = several ? r.port + QStringLiteral(": ") : QString();
      QStringList lines;
      if (!r.version.isEmpty() && command == QLatin1String("info")) lines << QStringLiteral("Версия: ") + r.version;
      lines << r.details;
      for (const QString &line : lines) outLine(prefix + line);
    }
    for (const auto &job : jobs)
      outLine(QStringLiteral("%1: %2 (%3 с)").arg(job->result().port, job->result().text, seconds(job->result().elapsedMs)));
  }
  if (stoppedBy) return kSignalBase + stoppedBy;
  int worst = kOk;
  for (const auto &job : jobs) {
    const int c = job->result().code;
    // A device failure says most about a batch, then a mismatch, then a file that could not be kept.
    if (c == kDeviceFailure || (c == kMismatch && worst != kDeviceFailure) || (c == kBadInput && worst == kOk))
      worst = c;
  }
  return worst;
}

int portsCommand(const QStringList &args) {
  const Arguments a = parseArguments(QStringLiteral("ports"), args, {{QStringLiteral("--virtual")}});
  if (a.done()) return a.exit;
  if (!a.words.isEmpty()) return usage(QStringLiteral("ports"), QStringLiteral("лишний параметр \"%1\"").arg(a.words[0]));
  const QList<TPortEntry> list =
      a.flags.contains(QStringLiteral("--virtual")) ? PortNames::virtualPorts() : PortNames::systemPorts();
  QString text;
  for (const TPortEntry &e : list) text += e.name + QLatin1Char('\n');
  out(text);
  return kOk;
}

}  // namespace cli
