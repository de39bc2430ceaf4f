// The journal of exchanges: recording and filtered listing, a damaged database kept aside, a
// journal that cannot be opened leaving the exchange alone, two writers at once, and the
// command line's journal commands and recording hooks against the simulator.
#include <QtTest>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <chrono>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <thread>

#include "clisupport.h"
#include "journal/Journal.h"
#include "simsupport.h"

namespace {

QByteArray fileBytes(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray imageOf(const ConfigValue &v) {
  ConfigImageBytes image{};
  (void)encodeImage(v, image);
  return QByteArray(reinterpret_cast<const char *>(image.data()), int(image.size()));
}

ConfigValue named(const QString &name) {
  ConfigValue v = ConfigValue::startup();
  v.texts[1] = name;
  return v;
}

journal::Entry entryAt(const QString &time, const QString &port, const QString &key, bool ok,
                       const QByteArray &image = {}) {
  journal::Entry e;
  e.time = QDateTime::fromString(time, Qt::ISODate);
  e.program = QStringLiteral("quorlan-cli");
  e.operation = QStringLiteral("write");
  e.port = port;
  e.masterKey = key;
  e.ok = ok;
  e.outcome = ok ? QStringLiteral("записано") : QStringLiteral("ошибка: контроллер не ответил");
  e.image = image;
  return e;
}

journal::Filter onPort(const QString &port) {
  journal::Filter f;
  f.port = port;
  return f;
}

QJsonArray listed(const QStringList &filters) {
  const CliRun r = runCli(QStringList{QStringLiteral("journal"), QStringLiteral("--json")} + filters);
  if (r.code != 0) qWarning() << r.err;
  return QJsonDocument::fromJson(r.out.toUtf8()).array();
}

}  // namespace

class TestJournal : public QObject {
  Q_OBJECT
  QTemporaryDir dir;
  int round = 0;

  QString path(const QString &name) const { return dir.filePath(name); }
  // Each case records into a journal of its own, the command line too.
  QString freshJournal() {
    const QString p = path(QStringLiteral("j%1/journal.sqlite").arg(++round));
    qputenv("QUORLAN_JOURNAL", QFile::encodeName(p));
    return p;
  }

private slots:
  void initTestCase() {
    testsupport::isolateRuntimeDir();
    QVERIFY(dir.isValid());
  }

  void recordsAndListsNewestFirstWithFilters() {
    journal::Journal j;
    QVERIFY2(j.open(freshJournal()), qPrintable(j.lastError()));
    const QByteArray image = imageOf(named(QStringLiteral("Узел 3")));
    QVERIFY(j.record(entryAt(QStringLiteral("2026-05-01T10:00:00Z"), QStringLiteral("COM3"), QStringLiteral("AA01"), true, image)));
    QVERIFY(j.record(entryAt(QStringLiteral("2026-05-02T10:00:00Z"), QStringLiteral("COM4"), QStringLiteral("BB02"), false)));
    journal::Entry full = entryAt(QStringLiteral("2026-05-03T10:00:00Z"), QStringLiteral("com3"), QStringLiteral("aa01"), true, image);
    full.before = imageOf(ConfigValue::startup());
    full.readBack = image;
    full.file = QStringLiteral("/tmp/насосная.cfg");
    full.version = QStringLiteral("3.21");
    const qint64 last = j.record(full);
    QVERIFY(last > 0);

    QList<journal::Entry> all = j.list();
    QCOMPARE(all.size(), 3);
    QCOMPARE(all[0].id, last);   // newest first
    QVERIFY(all[0].image.isEmpty());   // the list carries no images
    QCOMPARE(j.list(onPort(QStringLiteral("COM3"))).size(), 2);   // port, any case
    journal::Filter byKey;
    byKey.masterKey = QStringLiteral("AA01");
    QCOMPARE(j.list(byKey).size(), 2);
    journal::Filter failed;
    failed.ok = false;
    QCOMPARE(j.list(failed).size(), 1);
    QCOMPARE(j.list(failed)[0].port, QStringLiteral("COM4"));
    journal::Filter day;
    day.from = QDateTime::fromString(QStringLiteral("2026-05-02T00:00:00Z"), Qt::ISODate);
    day.to = day.from.addDays(1);
    QCOMPARE(j.list(day).size(), 1);

    const auto e = j.entry(last);
    QVERIFY(e);
    QCOMPARE(e->image, image);
    QCOMPARE(e->before, full.before);
    QCOMPARE(e->readBack, image);
    QCOMPARE(e->file, full.file);
    QCOMPARE(e->version, QStringLiteral("3.21"));
    QCOMPARE(e->time, full.time);
    QVERIFY(!j.entry(last + 100));
  }

  // The damaged file is renamed, never overwritten, and the journal records on.
  void damagedDatabaseKeptAsideAndNewOneStarted() {
    const QString p = freshJournal();
    QVERIFY(QDir().mkpath(QFileInfo(p).absolutePath()));
    {
      QFile f(p);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(QByteArray(8192, char(0x5a)));
    }
    journal::Journal j;
    QString notice;
    QVERIFY2(j.open(p, &notice), qPrintable(j.lastError()));
    QVERIFY2(notice.contains(QStringLiteral("поврежден")), qPrintable(notice));
    const QStringList aside = QDir(QFileInfo(p).absolutePath())
                                  .entryList({QStringLiteral("journal.sqlite.corrupt-*")}, QDir::Files);
    QCOMPARE(aside.size(), 1);
    QCOMPARE(fileBytes(QFileInfo(p).absolutePath() + QLatin1Char('/') + aside[0]), QByteArray(8192, char(0x5a)));
    QVERIFY(j.record(entryAt(QStringLiteral("2026-05-01T10:00:00Z"), QStringLiteral("COM1"), {}, true)));
    QCOMPARE(j.list().size(), 1);
  }

  // Threads with a connection each, as two programs would: every entry arrives.
  void twoWritersAtOnceLoseNothing() {
    const QString p = freshJournal();
    { journal::Journal j; QVERIFY(j.open(p)); }
    constexpr int kEach = 300;
    std::atomic<int> failures{0};
    auto writer = [&](const QString &port) {
      journal::Journal j;
      if (!j.open(p)) {
        ++failures;
        return;
      }
      for (int i = 0; i < kEach; ++i)
        if (!j.record(entryAt(QStringLiteral("2026-05-01T10:00:00Z"), port, {}, true))) ++failures;
    };
    std::thread a(writer, QStringLiteral("COM1")), b(writer, QStringLiteral("COM2"));
    a.join();
    b.join();
    QCOMPARE(failures.load(), 0);
    journal::Journal j;
    QVERIFY(j.open(p));
    QCOMPARE(j.list(onPort(QStringLiteral("COM1"))).size(), kEach);
    QCOMPARE(j.list(onPort(QStringLiteral("COM2"))).size(), kEach);

    // A program holding the journal locked for a moment: the next entry waits for it.
    std::atomic<bool> locked{false};
    std::thread holder([&] {
      journal::Journal other;
      if (!other.open(p)) return;
      other.record(entryAt(QStringLiteral("2026-05-02T10:00:00Z"), QStringLiteral("COM3"), {}, true));
      // Its own connection, in an exclusive transaction: nobody else may write meanwhile.
      QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
      db.setDatabaseName(p);
      if (db.open() && QSqlQuery(db).exec(QStringLiteral("BEGIN EXCLUSIVE"))) {
        locked = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        QSqlQuery(db).exec(QStringLiteral("COMMIT"));
      }
      locked = true;
      db.close();
    });
    while (!locked) std::this_thread::yield();
    QVERIFY2(j.record(entryAt(QStringLiteral("2026-05-02T10:00:01Z"), QStringLiteral("COM3"), {}, true)),
             qPrintable(j.lastError()));
    holder.join();
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    QCOMPARE(j.list(onPort(QStringLiteral("COM3"))).size(), 2);
  }

  void commandLineListsShowsComparesAndExports() {
    freshJournal();
    const QString a = path(QStringLiteral("a.cfg")), b = path(QStringLiteral("b.cfg"));
    QVERIFY(saveValue(a, named(QStringLiteral("Узел 3"))));
    QVERIFY(saveValue(b, named(QStringLiteral("Узел 4"))));
    journal::Journal j;
    QVERIFY(j.open(journal::Journal::defaultPath()));
    const qint64 first = j.record(entryAt(QStringLiteral("2026-05-01T10:00:00Z"), QStringLiteral("COM3"),
                                          QStringLiteral("AA01"), true, fileBytes(a)));
    const qint64 second = j.record(entryAt(QStringLiteral("2026-05-02T10:00:00Z"), QStringLiteral("COM4"),
                                           QStringLiteral("BB02"), true, fileBytes(b)));
    const qint64 failed = j.record(entryAt(QStringLiteral("2026-05-03T10:00:00Z"), QStringLiteral("COM4"), {}, false));

    QCOMPARE(listed({}).size(), 3);
    QCOMPARE(listed({})[0].toObject()[QStringLiteral("id")].toInteger(), failed);
    QCOMPARE(listed({QStringLiteral("--port"), QStringLiteral("COM4")}).size(), 2);
    QCOMPARE(listed({QStringLiteral("--key"), QStringLiteral("aa01")}).size(), 1);
    QCOMPARE(listed({QStringLiteral("--outcome"), QStringLiteral("error")}).size(), 1);
    QCOMPARE(listed({QStringLiteral("--date"), QStringLiteral("2026-05-02")}).size(), 1);
    QCOMPARE(listed({QStringLiteral("--from"), QStringLiteral("2026-05-02"), QStringLiteral("--to"),
                     QStringLiteral("2026-05-03")}).size(), 2);
    QCOMPARE(runCli({QStringLiteral("journal"), QStringLiteral("--date"), QStringLiteral("2 мая")}).code, 2);
    const CliRun text = runCli({QStringLiteral("journal")});
    QCOMPARE(text.code, 0);
    QCOMPARE(text.out.count(QLatin1Char('\n')), 3);
    QVERIFY(text.out.contains(QStringLiteral("ключ AA01")));

    const CliRun show = runCli({QStringLiteral("journal"), QStringLiteral("show"), QString::number(first)});
    QCOMPARE(show.code, 0);
    QCOMPARE(show.out, runCli({QStringLiteral("dump"), a}).out);
    const CliRun diff = runCli({QStringLiteral("journal"), QStringLiteral("diff"), QString::number(first),
                                QString::number(second)});
    QCOMPARE(diff.code, 1);   // differ, as diff says
    QCOMPARE(diff.out, runCli({QStringLiteral("diff"), a, b}).out);
    QVERIFY2(diff.out.contains(QStringLiteral("Узел 3 → Узел 4")), qPrintable(diff.out));
    const CliRun same = runCli({QStringLiteral("journal"), QStringLiteral("diff"), QString::number(first), a});
    QCOMPARE(same.code, 0);
    QCOMPARE(same.out, QString());
    const QString exported = path(QStringLiteral("exported.cfg"));
    QCOMPARE(runCli({QStringLiteral("journal"), QStringLiteral("export"), QString::number(second),
                     QStringLiteral("-o"), exported}).code, 0);
    QCOMPARE(fileBytes(exported), fileBytes(b));

    const CliRun empty = runCli({QStringLiteral("journal"), QStringLiteral("show"), QString::number(failed)});
    QCOMPARE(empty.code, 2);
    QVERIFY(empty.err.contains(QStringLiteral("нет конфигурации")));
    QCOMPARE(runCli({QStringLiteral("journal"), QStringLiteral("show"), QStringLiteral("999")}).code, 2);
  }

  // A write with backup and verify keeps the controller's version and key, the file, what the
  // controller held before and what it read back; a read keeps the image it brought.
  void commandLineRecordsItsExchanges() {
    const QString p = freshJournal();
    const QString config = path(QStringLiteral("unit.cfg"));
    QVERIFY(saveValue(config, named(QStringLiteral("Склад 7"))));
    Sim sim;
    QVERIFY(sim.start(47, {QStringLiteral("--tm-key"), QStringLiteral("0A0000AABBCCDDEE")}));
    const CliRun w = runCli({QStringLiteral("write"), QStringLiteral("--port"), QStringLiteral("COM47"), config,
                             QStringLiteral("--verify"), QStringLiteral("--backup"), path(QStringLiteral("before.cfg"))});
    QVERIFY2(w.code == 0, qPrintable(w.out + w.err));
    QCOMPARE(w.err, QString());
    const CliRun r = runCli({QStringLiteral("read"), QStringLiteral("--port"), QStringLiteral("COM47"),
                             QStringLiteral("-o"), path(QStringLiteral("read.cfg"))});
    QCOMPARE(r.code, 0);
    QCOMPARE(runCli({QStringLiteral("read"), QStringLiteral("--port"), QStringLiteral("COM48"),
                     QStringLiteral("-o"), path(QStringLiteral("none.cfg")), QStringLiteral("--wait"),
                     QStringLiteral("0.5")}).code, 1);

    journal::Journal j;
    QVERIFY(j.open(p));
    const QList<journal::Entry> entries = j.list();
    QCOMPARE(entries.size(), 3);
    QVERIFY(!entries[0].ok);
    QCOMPARE(entries[0].port, QStringLiteral("COM48"));
    const auto write = j.entry(entries[2].id);
    QVERIFY(write);
    QCOMPARE(write->operation, QStringLiteral("write"));
    QVERIFY(write->ok);
    QCOMPARE(write->outcome, QStringLiteral("записано и проверено"));
    QCOMPARE(write->port, QStringLiteral("COM47"));
    QVERIFY(!write->version.isEmpty());
    QCOMPARE(write->masterKey, QStringLiteral("0A0000AABBCCDDEE"));
    QCOMPARE(write->file, QFileInfo(config).absoluteFilePath());
    QCOMPARE(write->image, fileBytes(config));
    QCOMPARE(write->before, fileBytes(path(QStringLiteral("before.cfg"))));
    QCOMPARE(write->readBack, fileBytes(config));
    const auto read = j.entry(entries[1].id);
    QCOMPARE(read->operation, QStringLiteral("read"));
    QCOMPARE(read->image, fileBytes(config));
    QCOMPARE(read->file, QFileInfo(path(QStringLiteral("read.cfg"))).absoluteFilePath());
  }

  // A journal that cannot be opened is told in one line; the write is done all the same.
  void unopenableJournalWarnsOnceAndTheExchangeGoesOn() {
    freshJournal();
    const QString blocker = path(QStringLiteral("not-a-folder"));
    {
      QFile f(blocker);
      QVERIFY(f.open(QIODevice::WriteOnly));
    }
    qputenv("QUORLAN_JOURNAL", QFile::encodeName(blocker + QStringLiteral("/journal.sqlite")));
    const QString config = path(QStringLiteral("unit2.cfg"));
    QVERIFY(saveValue(config, named(QStringLiteral("Склад 8"))));
    Sim one, two;
    QVERIFY(one.start(49));
    QVERIFY(two.start(50));
    const CliRun w = runCli({QStringLiteral("write"), QStringLiteral("--port"), QStringLiteral("COM49"),
                             QStringLiteral("--port"), QStringLiteral("COM50"), config});
    QVERIFY2(w.code == 0, qPrintable(w.out + w.err));
    QCOMPARE(w.err.count(QLatin1Char('\n')), 1);
    QVERIFY2(w.err.contains(QStringLiteral("Журнал обменов недоступен")), qPrintable(w.err));
    QTRY_COMPARE_WITH_TIMEOUT(one.count("checksum good"), 1, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(two.count("checksum good"), 1, 3000);
  }
};

QTEST_MAIN(TestJournal)
#include "tst_journal.moc"
