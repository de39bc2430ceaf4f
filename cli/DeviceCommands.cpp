#include "DeviceCommands.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>
#include <memory>
#ifdef Q_OS_WIN
#include <QDir>
#include <io.h>
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "FileCommands.h"
#include "JournalCommands.h"
#include "CommandLine.h"
#include "Output.h"
#include "image/Checksum.h"
#include "image/ConfigFile.h"
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
  bool verify = false;
  int waitMs = 10000;
};

QString perPort(const QString &pattern, const PortChoice &choice) {
  QString name = choice.device.isEmpty() ? choice.shown : QFileInfo(choice.device).fileName();
  return QString(pattern).replace(QStringLiteral("{port}"), name);
}

class PortJob : public QObject {
public:
  // KeyFirst: a write reads the master key first, for the journal.
  enum class Step { Connect, KeyFirst, Backup, Write, Verify, Read, Time, Key, Ids, Done };

  PortJob(PortChoice choice, Plan plan) : choice_(std::move(choice)), plan_(std::move(plan)) {
    wait_.setSingleShot(true);
    connect(&wait_, &QTimer::timeout, this, [this] {
      if (step_ == Step::Connect)
        fail(kDeviceFailure, QStringLiteral("контроллер не отвечает (нет подключения за %1 с)")
                                 .arg(plan_.waitMs / 1000.0));
      else
        fail(kDeviceFailure, QStringLiteral("контроллер ответил не полностью"));
    });
    connectLink();
  }

  const PortChoice &choice() const { return choice_; }
  int code() const { return code_; }
  QString result() const { return result_; }
  qint64 elapsedMs() const { return elapsed_; }
  const QStringList &details() const { return details_; }
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
      fail(kDeviceFailure, QStringLiteral("порт не открыт: ") + why);
      return;
    }
    device_ = choice_.device.isEmpty() ? link_.portEntry().device : choice_.device;
    link_.listen();
    wait_.start(plan_.waitMs);
  }

private:
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
      version_ = version.trimmed();
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
    connect(l, &TLink::imageReceived, this, [this](const ConfigImageBytes &image) { received(image); });
    connect(l, &TLink::saveConfirmed, this, [this] {
      if (step_ != Step::Write) return;
      transferDone();
      later();
    });
    connect(l, &TLink::saveFailed, this,
            [this] { fail(kDeviceFailure, QStringLiteral("контроллер ответил ERR2: ошибка CRC")); });
    connect(l, &TLink::writeIncomplete, this,
            [this] { fail(kDeviceFailure, QStringLiteral("конфигурация записана не полностью")); });
    connect(l, &TLink::readIncomplete, this,
            [this] { fail(kDeviceFailure, QStringLiteral("конфигурация считана не полностью")); });
    connect(l, &TLink::writeRefused, this,
            [this] { refused_ = true; });   // the failure itself comes with the watchdog
    connect(l, &TLink::watchdogExpired, this, [this](WatchdogReason reason) {
      const QString prefix = refused_ ? QStringLiteral("контроллер отклонил байт: ") : QString();
      switch (reason) {
        case WatchdogReason::NoReply: fail(kDeviceFailure, prefix + QStringLiteral("контроллер не ответил")); break;
        case WatchdogReason::TransferStalled: fail(kDeviceFailure, prefix + QStringLiteral("ошибка передачи")); break;
        case WatchdogReason::SaveUnconfirmed: fail(kDeviceFailure, prefix + QStringLiteral("ошибка сохранения")); break;
        default: break;
      }
    });
    connect(l, &TLink::exchangeFailed, this, [this](const QString &detail) {
      fail(kDeviceFailure, QStringLiteral("ошибка передачи: ") + detail);
    });
    connect(l, &TLink::portLost, this, [this](const QString &reason) {
      fail(kDeviceFailure, QStringLiteral("связь с портом потеряна: ") + reason);
    });
    connect(l, &TLink::dateReported, this, [this](const QString &date, const QString &time) {
      if (step_ != Step::Time) return;
      wait_.stop();
      details_ << QStringLiteral("Дата: ") + date << QStringLiteral("Время: ") + time;
      finish(kOk, QStringLiteral("время установлено"));
    });
    connect(l, &TLink::masterKeyRead, this, [this](const QString &key) {
      if (step_ == Step::KeyFirst) {
        key_ = key.trimmed();
        later();
        return;
      }
      if (step_ != Step::Key) return;
      details_ << QStringLiteral("Мастер ключ: ") + key;
      later();
    });
    connect(l, &TLink::sensorIdRead, this, [this](int n, const QString &id) {
      if (step_ != Step::Ids) return;
      details_ << QStringLiteral("Датчик %1: %2").arg(n).arg(id.isEmpty() ? QStringLiteral("нет") : id);
      if (n == 8) finish(kOk, QStringLiteral("прочитано"));
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
        finish(kOk, plan_.command == QLatin1String("write")
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
    fail(kBadInput, error.what + (error.reason.isEmpty() ? QString() : QStringLiteral(": ") + error.reason));
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
        later();
        return;
      }
      details_ = differences(plan_.image, image);
      if (!checksumMatches(image)) details_.prepend(QStringLiteral("контрольная сумма считанной конфигурации неверна"));
      finish(kMismatch, QStringLiteral("проверка не совпала, различий: %1").arg(details_.size()));
      return;
    }
    // A configuration the window would refuse to open is not kept as if it were good.
    if (!checksumMatches(image)) {
      fail(kDeviceFailure, QStringLiteral("считанная конфигурация с неверной контрольной суммой"));
      return;
    }
    if (!save(step_ == Step::Backup ? plan_.backup : plan_.output, image)) return;
    if (step_ == Step::Backup) details_ << QStringLiteral("копия: ") + perPort(plan_.backup, choice_);
    later();
  }

  void fail(int code, const QString &why) { finish(code, QStringLiteral("ошибка: ") + why); }

  void finish(int code, const QString &result) {
    if (ended_) return;
    ended_ = true;
    wait_.stop();
    settle_.stop();
    step_ = Step::Done;
    code_ = code;
    result_ = result;
    elapsed_ = clock_.elapsed();
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
    r.version = version_;
    r.masterKey = key_;
    r.ok = code_ == kOk;
    r.outcome = result_;
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
  bool ended_ = false;
  int done_ = 0, current_ = 0;
  int code_ = kOk;
  QString result_, version_, key_, device_;
  QByteArray received_, before_, readBack_;
  QStringList details_;
  qint64 elapsed_ = 0;

public:
  QString version() const { return version_; }
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

// The bar on a terminal: bytes of all ports together and the time left at the rate so far.
class ProgressBar {
public:
  explicit ProgressBar(const std::vector<std::unique_ptr<PortJob>> &jobs) : jobs_(jobs) {
    enabled_ = stderrIsTerminal() && qEnvironmentVariableIsEmpty("QUORLAN_NO_PROGRESS");
    for (const auto &j : jobs_) total_ += j->totalBytes();
    if (!enabled_ || total_ == 0) return;
    clock_.start();
    QObject::connect(&timer_, &QTimer::timeout, [this] { draw(); });
    timer_.start(200);
  }
  void clear() {
    if (!shown_) return;
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
       }}};
  if (command == QLatin1String("read"))
    options << Option{QStringLiteral("-o"), true, QStringLiteral("после -o нужен файл")};
  if (command == QLatin1String("write"))
    options << Option{QStringLiteral("--backup"), true, QStringLiteral("после --backup нужен файл")}
            << Option{QStringLiteral("--verify")};
  const Arguments a = parseArguments(command, args, options);
  if (a.done()) return a.exit;
  plan.output = a.last(QStringLiteral("-o"));
  plan.backup = a.last(QStringLiteral("--backup"));
  plan.verify = a.flags.contains(QStringLiteral("--verify"));
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
  ProgressBar bar(jobs);
  for (auto &job : jobs) job->start();
  if (open > 0) QCoreApplication::exec();
  bar.clear();

  const bool several = jobs.size() > 1;
  int worst = kOk;
  for (const auto &job : jobs) {
    const QString prefix = several ? job->choice().shown + QStringLiteral(": ") : QString();
    QStringList lines;
    if (!job->version().isEmpty() && command == QLatin1String("info"))
      lines << QStringLiteral("Версия: ") + job->version();
    lines << job->details();
    for (const QString &line : lines) outLine(prefix + line);
  }
  for (const auto &job : jobs) {
    outLine(QStringLiteral("%1: %2 (%3 с)").arg(job->choice().shown, job->result(), seconds(job->elapsedMs())));
    const int c = job->code();
    // A device failure says most about a batch, then a mismatch, then a file that could not be kept.
    if (c == kDeviceFailure || (c == kMismatch && worst != kDeviceFailure) || (c == kBadInput && worst == kOk))
      worst = c;
  }
  return worst;
}

}  // namespace cli
