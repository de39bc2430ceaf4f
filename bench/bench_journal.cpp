// The journal of exchanges with 10,000 entries: how long recording them takes, and listing
// them all, filtered by port, master key, day and outcome, and showing one entry (its image
// read and turned into dump's lines). Prints figures; sets no limits.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "image/ConfigCodec.h"
#include "image/FieldNames.h"
#include "journal/Journal.h"

namespace {

constexpr int kEntries = 10000;
constexpr int kRuns = 9;

double medianMs(const std::function<void()> &work) {
  std::vector<double> times;
  for (int i = 0; i < kRuns; ++i) {
    QElapsedTimer t;
    t.start();
    work();
    times.push_back(double(t.nsecsElapsed()) / 1e6);
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir dir;
  journal::Journal j;
  if (!j.open(dir.filePath(QStringLiteral("journal.sqlite")))) {
    std::fprintf(stderr, "bench_journal: %s\n", qPrintable(j.lastError()));
    return 1;
  }
  ConfigImageBytes image{};
  (void)encodeImage(ConfigValue::startup(), image);
  const QByteArray bytes(reinterpret_cast<const char *>(image.data()), int(image.size()));
  const QDateTime start = QDateTime::fromString(QStringLiteral("2026-01-01T08:00:00Z"), Qt::ISODate);

  QElapsedTimer t;
  t.start();
  qint64 someId = 0;
  for (int i = 0; i < kEntries; ++i) {
    journal::Entry e;
    e.time = start.addSecs(qint64(i) * 900);   // one every quarter of an hour: about 104 days
    e.program = QStringLiteral("quorlan-cli");
    e.operation = i % 3 ? QStringLiteral("write") : QStringLiteral("read");
    e.port = QStringLiteral("COM%1").arg(1 + i % 40);
    e.version = QStringLiteral("3.21");
    e.masterKey = QStringLiteral("0A0000AABBCC%1").arg(i % 200, 4, 10, QLatin1Char('0'));
    e.ok = i % 17 != 0;
    e.outcome = e.ok ? QStringLiteral("записано и проверено") : QStringLiteral("ошибка: контроллер не ответил");
    e.image = bytes;
    if (e.operation == QLatin1String("write")) e.before = e.readBack = bytes;
    const qint64 id = j.record(e);
    if (!id) {
      std::fprintf(stderr, "bench_journal: %s\n", qPrintable(j.lastError()));
      return 1;
    }
    if (i == kEntries / 2) someId = id;
  }
  const double recordMs = double(t.nsecsElapsed()) / 1e6;

  int count = 0;
  auto listed = [&](const journal::Filter &f) { return [&j, &count, f] { count = int(j.list(f).size()); }; };
  std::printf("journal of %d entries (images of 4123 bytes, a write with backup and read-back)\n", kEntries);
  std::printf("%-40s %10.1f ms  (%.3f ms an entry)\n", "record, one at a time", recordMs, recordMs / kEntries);
  const double all = medianMs(listed({}));
  std::printf("%-40s %10.2f ms  %d entries\n", "list all", all, count);
  journal::Filter port;
  port.port = QStringLiteral("COM7");
  const double byPort = medianMs(listed(port));
  std::printf("%-40s %10.2f ms  %d entries\n", "list --port COM7", byPort, count);
  journal::Filter key;
  key.masterKey = QStringLiteral("0A0000AABBCC0042");
  const double byKey = medianMs(listed(key));
  std::printf("%-40s %10.2f ms  %d entries\n", "list --key", byKey, count);
  journal::Filter day;
  day.from = start.addDays(50);
  day.to = day.from.addDays(1);
  const double byDay = medianMs(listed(day));
  std::printf("%-40s %10.2f ms  %d entries\n", "list --date", byDay, count);
  journal::Filter failed;
  failed.ok = false;
  const double byOutcome = medianMs(listed(failed));
  std::printf("%-40s %10.2f ms  %d entries\n", "list --outcome error", byOutcome, count);
  int lines = 0;
  const double show = medianMs([&] {
    const auto e = j.entry(someId);
    ConfigImageBytes shown{};
    std::copy(e->image.begin(), e->image.end(), reinterpret_cast<char *>(shown.data()));
    ConfigValue v = ConfigValue::startup();
    decodeImage(shown, v);
    QString text;
    for (const fieldnames::Field &f : fieldnames::allFields())
      text += f.name + QStringLiteral(" = ") + fieldnames::valueText(f, v) + QLatin1Char('\n');
    lines = int(text.count(QLatin1Char('\n')));
  });
  std::printf("%-40s %10.2f ms  %d lines\n", "show one entry (as dump)", show, lines);
  return 0;
}
