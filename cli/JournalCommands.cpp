#include "JournalCommands.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "CommandLine.h"
#include "FileCommands.h"
#include "Output.h"
#include "image/ConfigFile.h"

#ifdef QUORLAN_WITH_JOURNAL
#include <memory>

#include "journal/Journal.h"
#endif

namespace cli {

#ifndef QUORLAN_WITH_JOURNAL

int journalCommand(const QStringList &args) {
  if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
    out(commandHelp(QStringLiteral("journal")));
    return kOk;
  }
  errLine(QStringLiteral("журнал обменов не встроен в эту сборку (нет Qt SQL)"));
  return kBadInput;
}

void recordExchange(const ExchangeRecord &) {}

#else

namespace {

bool openJournal(journal::Journal &j) {
  const QString path = journal::Journal::defaultPath();
  QString notice;
  if (!j.open(path, &notice)) {
    errLine(journal::unavailableText(path, j.lastError()));
    return false;
  }
  if (!notice.isEmpty()) errLine(notice);
  return true;
}

// The process's journal, opened at the first exchange that ends and closed with the
// application, while Qt SQL's own globals are still there.
std::unique_ptr<journal::Journal> recording;

journal::Journal *recorder() {
  static bool tried = false;
  if (!tried) {
    tried = true;
    qAddPostRoutine([] { recording.reset(); });
    recording = std::make_unique<journal::Journal>();
    if (!openJournal(*recording)) recording.reset();
  }
  return recording.get();
}

QString localTime(const QDateTime &t) { return t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")); }

bool parseDay(const QString &text, QDate *day) {
  *day = QDate::fromString(text, Qt::ISODate);
  return day->isValid();
}

bool parseId(const QString &text, qint64 *id) {
  bool ok = false;
  *id = text.toLongLong(&ok);
  return ok && *id > 0;
}

// An entry's image, or a complaint.
bool entryImage(const journal::Journal &j, qint64 id, ConfigImageBytes *image) {
  const auto e = j.entry(id);
  if (!e) {
    errLine(QStringLiteral("в журнале нет записи %1").arg(id));
    return false;
  }
  if (e->image.size() != qsizetype(kConfigImageSize)) {
    errLine(QStringLiteral("у записи %1 нет конфигурации (%2)").arg(id).arg(e->outcome));
    return false;
  }
  std::copy(e->image.begin(), e->image.end(), reinterpret_cast<char *>(image->data()));
  return true;
}

int listEntries(const QStringList &args) {
  const QString command = QStringLiteral("journal");
  journal::Filter filter;
  auto day = [&](const QString &v, QDate *d) {
    return parseDay(v, d) ? QString() : QStringLiteral("\"%1\": дата пишется как ГГГГ-ММ-ДД").arg(v);
  };
  QList<Option> options{
      {QStringLiteral("--port"), true, QStringLiteral("после --port нужен порт"),
       [&](const QString &v) { filter.port = v; return QString(); }},
      {QStringLiteral("--key"), true, QStringLiteral("после --key нужен мастер ключ"),
       [&](const QString &v) { filter.masterKey = v; return QString(); }},
      {QStringLiteral("--date"), true, QStringLiteral("после --date нужна дата"),
       [&](const QString &v) {
         QDate d;
         const QString why = day(v, &d);
         if (why.isEmpty()) {
           filter.from = d.startOfDay();
           filter.to = d.addDays(1).startOfDay();
         }
         return why;
       }},
      {QStringLiteral("--from"), true, QStringLiteral("после --from нужна дата"),
       [&](const QString &v) {
         QDate d;
         const QString why = day(v, &d);
         if (why.isEmpty()) filter.from = d.startOfDay();
         return why;
       }},
      {QStringLiteral("--to"), true, QStringLiteral("после --to нужна дата"),
       [&](const QString &v) {
         QDate d;
         const QString why = day(v, &d);
         if (why.isEmpty()) filter.to = d.addDays(1).startOfDay();
         return why;
       }},
      {QStringLiteral("--outcome"), true, QStringLiteral("после --outcome нужно ok или error"),
       [&](const QString &v) {
         if (v == QLatin1String("ok")) filter.ok = true;
         else if (v == QLatin1String("error")) filter.ok = false;
         else return QStringLiteral("--outcome: ok или error");
         return QString();
       }},
      {QStringLiteral("--json")}};
  const Arguments a = parseArguments(command, args, options);
  if (a.done()) return a.exit;
  if (!a.words.isEmpty()) return usage(command, QStringLiteral("лишний параметр \"%1\"").arg(a.words[0]));
  journal::Journal j;
  if (!openJournal(j)) return kBadInput;
  const QList<journal::Entry> entries = j.list(filter);
  if (!j.lastError().isEmpty()) {
    errLine(journal::unavailableText(j.path(), j.lastError()));
    return kBadInput;
  }
  QString text;
  if (a.flags.contains(QStringLiteral("--json"))) {
    QJsonArray array;
    for (const journal::Entry &e : entries)
      array << QJsonObject{{QStringLiteral("id"), e.id},
                           {QStringLiteral("time"), e.time.toString(Qt::ISODateWithMs)},
                           {QStringLiteral("program"), e.program},
                           {QStringLiteral("operation"), e.operation},
                           {QStringLiteral("port"), e.port},
                           {QStringLiteral("device"), e.device},
                           {QStringLiteral("version"), e.version},
                           {QStringLiteral("master_key"), e.masterKey},
                           {QStringLiteral("ok"), e.ok},
                           {QStringLiteral("outcome"), e.outcome},
                           {QStringLiteral("file"), e.file}};
    text = QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
  } else {
    for (const journal::Entry &e : entries) {
      QStringList cells{QString::number(e.id), localTime(e.time), e.port, journal::operationText(e.operation), e.outcome};
      if (!e.version.isEmpty()) cells << QStringLiteral("версия ") + e.version;
      if (!e.masterKey.isEmpty()) cells << QStringLiteral("ключ ") + e.masterKey;
      if (!e.file.isEmpty()) cells << e.file;
      text += cells.join(QStringLiteral("  ")) + QLatin1Char('\n');
    }
  }
  out(text);
  return kOk;
}

int showEntry(const QStringList &args) {
  const QString command = QStringLiteral("journal");
  const Arguments a = parseArguments(command, args, {{QStringLiteral("--json")}});
  if (a.done()) return a.exit;
  qint64 id = 0;
  if (a.words.size() != 1 || !parseId(a.words[0], &id)) return usage(command, QStringLiteral("нужен номер записи"));
  journal::Journal j;
  ConfigImageBytes image{};
  if (!openJournal(j) || !entryImage(j, id, &image)) return kBadInput;
  out(settingsText(valueOf(image), a.flags.contains(QStringLiteral("--json"))));
  return kOk;
}

int diffEntries(const QStringList &args) {
  const QString command = QStringLiteral("journal");
  const Arguments a = parseArguments(command, args, {}, true);
  if (a.done()) return a.exit;
  if (a.words.size() != 2) return usage(command, QStringLiteral("нужны два номера записей или номер и файл"));
  journal::Journal j;
  if (!openJournal(j)) return kBadInput;
  ConfigImageBytes images[2]{};
  for (int i = 0; i < 2; ++i) {
    qint64 id = 0;
    QString why;
    if (parseId(a.words[i], &id)) {
      if (!entryImage(j, id, &images[i])) return kBadInput;
    } else if (!loadImage(a.words[i], images[i], &why)) {
      errLine(why);
      return kBadInput;
    }
  }
  const QStringList lines = differences(images[0], images[1]);
  if (!lines.isEmpty()) out(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
  return lines.isEmpty() ? kOk : kDiffers;   // as diff does
}

int exportEntry(const QStringList &args) {
  const QString command = QStringLiteral("journal");
  const Arguments a = parseArguments(command, args, {{QStringLiteral("-o"), true, QStringLiteral("после -o нужен файл")}});
  if (a.done()) return a.exit;
  qint64 id = 0;
  if (a.words.size() != 1 || !parseId(a.words[0], &id)) return usage(command, QStringLiteral("нужен номер записи"));
  const QString output = a.last(QStringLiteral("-o"));
  if (output.isEmpty()) return usage(command, QStringLiteral("нужен -o ФАЙЛ"));
  journal::Journal j;
  ConfigImageBytes image{};
  if (!openJournal(j) || !entryImage(j, id, &image)) return kBadInput;
  ConfigFileError error;
  if (!writeConfigFile(output, image, &error)) {
    errLine(error.what + (error.reason.isEmpty() ? QString() : QStringLiteral(": ") + error.reason));
    return kBadInput;
  }
  return kOk;
}

}  // namespace

int journalCommand(const QStringList &args) {
  const QString sub = args.value(0);
  if (sub == QLatin1String("show")) return showEntry(args.mid(1));
  if (sub == QLatin1String("diff")) return diffEntries(args.mid(1));
  if (sub == QLatin1String("export")) return exportEntry(args.mid(1));
  return listEntries(args);
}

void recordExchange(const ExchangeRecord &r) {
  journal::Journal *j = recorder();
  if (!j) return;
  journal::Entry e;
  e.program = QStringLiteral("quorlan-cli");
  e.operation = r.operation;
  e.port = r.port;
  e.device = r.device;
  e.version = r.version;
  e.masterKey = r.masterKey;
  e.ok = r.ok;
  e.outcome = r.outcome;
  e.file = r.file;
  e.image = r.image;
  e.before = r.before;
  e.readBack = r.readBack;
  static bool warned = false;
  if (!j->record(e) && !warned) {
    warned = true;
    errLine(journal::unavailableText(j->path(), j->lastError()));
  }
}

#endif

}  // namespace cli
