#include "journal/Journal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QVariant>
#include <atomic>

namespace journal {

namespace {

// Another program recording at the same moment holds the write lock for a few milliseconds;
// waiting this long for it covers a slow disk without leaving an exchange hanging.
constexpr int kBusyMs = 5000;

// SQLite's own codes (the driver's native error code): the file is no database, or a damaged one.
bool damaged(const QSqlError &e) {
  const int code = e.nativeErrorCode().toInt() & 0xff;
  return code == 11 /* SQLITE_CORRUPT */ || code == 26 /* SQLITE_NOTADB */;
}

QString text(const QSqlError &e) {
  const QString t = e.driverText().isEmpty() ? e.text() : e.driverText();
  return e.databaseText().isEmpty() ? t : e.databaseText();
}

const char *const kColumns =
    "id, time, program, operation, port, device, version, master_key, ok, outcome, file";

Entry fromRow(const QSqlQuery &q) {
  Entry e;
  e.id = q.value(0).toLongLong();
  e.time = QDateTime::fromMSecsSinceEpoch(q.value(1).toLongLong(), Qt::UTC);
  e.program = q.value(2).toString();
  e.operation = q.value(3).toString();
  e.port = q.value(4).toString();
  e.device = q.value(5).toString();
  e.version = q.value(6).toString();
  e.masterKey = q.value(7).toString();
  e.ok = q.value(8).toBool();
  e.outcome = q.value(9).toString();
  e.file = q.value(10).toString();
  return e;
}

// Binds a string as text, never NULL, so filters compare as they read.
QVariant str(const QString &s) { return s.isNull() ? QString(QLatin1String("")) : s; }
QVariant blob(const QByteArray &b) { return b.isNull() ? QByteArray("") : b; }

}  // namespace

QString unavailableText(const QString &path, const QString &why) {
  return QStringLiteral("Журнал обменов недоступен (%1): %2").arg(QDir::toNativeSeparators(path), why);
}

QString operationText(const QString &operation) {
  if (operation == QLatin1String("write")) return QStringLiteral("запись");
  if (operation == QLatin1String("read")) return QStringLiteral("чтение");
  return operation;
}

Journal::Journal() {
  static std::atomic<int> serial{0};
  connection_ = QStringLiteral("quorlan-journal-%1").arg(++serial);
}

Journal::~Journal() { close(); }

QString Journal::defaultPath() {
  const QString forced = qEnvironmentVariable("QUORLAN_JOURNAL");
  if (!forced.isEmpty()) return forced;
  // The window and the command line have names of their own; their journal is one.
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/quorlan/journal.sqlite");
}

bool Journal::isOpen() const {
  return QSqlDatabase::contains(connection_) && QSqlDatabase::database(connection_, false).isOpen();
}

void Journal::close() {
  if (!QSqlDatabase::contains(connection_)) return;
  {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    db.close();
  }
  QSqlDatabase::removeDatabase(connection_);
}

bool Journal::open(const QString &path, QString *notice) {
  close();
  path_ = path;
  error_.clear();
  if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
    error_ = QStringLiteral("нет драйвера SQLite для Qt");
    return false;
  }
  const QFileInfo info(path);
  if (!QDir().mkpath(info.absolutePath())) {
    error_ = QStringLiteral("не удалось создать папку %1").arg(QDir::toNativeSeparators(info.absolutePath()));
    return false;
  }
  if (openFile(path)) return true;
  if (error_ != QLatin1String("damaged")) return false;
  // A damaged file is kept for whoever wants to look into it; the journal starts anew.
  close();
  const QString aside = path + QStringLiteral(".corrupt-") +
                        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
  QString target = aside;
  for (int n = 2; QFileInfo::exists(target); ++n) target = aside + QStringLiteral("-%1").arg(n);
  if (!QFile::rename(path, target)) {
    error_ = QStringLiteral("файл поврежден и не переименован");
    return false;
  }
  for (const char *suffix : {"-wal", "-shm"})
    if (QFileInfo::exists(path + QLatin1String(suffix)))
      QFile::rename(path + QLatin1String(suffix), target + QLatin1String(suffix));
  if (notice)
    *notice = QStringLiteral("Журнал обменов был поврежден и сохранен как %1; начат новый")
                  .arg(QDir::toNativeSeparators(target));
  error_.clear();
  return openFile(path);
}

bool Journal::openFile(const QString &path) {
  QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
  db.setDatabaseName(path);
  db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyMs));
  if (!db.open()) {
    error_ = text(db.lastError());
    return false;
  }
  return prepare();
}

bool Journal::prepare() {
  QSqlDatabase db = QSqlDatabase::database(connection_, false);
  QSqlQuery q(db);
  auto run = [&](const QString &sql) {
    if (q.exec(sql)) return true;
    error_ = damaged(q.lastError()) ? QStringLiteral("damaged") : text(q.lastError());
    return false;
  };
  // The first statement reads the header: a file that is no database fails here.
  if (!run(QStringLiteral("PRAGMA schema_version"))) return false;
  // Readers never block the writer, and a writer waits for another one (the busy time-out).
  if (!run(QStringLiteral("PRAGMA journal_mode=WAL"))) return false;
  // In WAL mode a commit then waits for no disk flush; a power cut may lose the last entries
  // but never damages the file.
  if (!run(QStringLiteral("PRAGMA synchronous=NORMAL"))) return false;
  if (!run(QStringLiteral("CREATE TABLE IF NOT EXISTS entries ("
                          " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                          " time INTEGER NOT NULL, program TEXT NOT NULL, operation TEXT NOT NULL,"
                          " port TEXT NOT NULL, device TEXT NOT NULL, version TEXT NOT NULL,"
                          " master_key TEXT NOT NULL, ok INTEGER NOT NULL, outcome TEXT NOT NULL,"
                          " file TEXT NOT NULL, image BLOB NOT NULL, before BLOB NOT NULL,"
                          " read_back BLOB NOT NULL)")))
    return false;
  if (!run(QStringLiteral("CREATE INDEX IF NOT EXISTS entries_time ON entries(time)"))) return false;
  if (!run(QStringLiteral("CREATE INDEX IF NOT EXISTS entries_port ON entries(port COLLATE NOCASE)")))
    return false;
  if (!run(QStringLiteral("CREATE INDEX IF NOT EXISTS entries_key ON entries(master_key COLLATE NOCASE)")))
    return false;
  // A damaged page past the header shows here, not in every later statement.
  if (!run(QStringLiteral("SELECT count(*) FROM entries"))) return false;
  return true;
}

qint64 Journal::record(const Entry &e) {
  if (!isOpen()) {
    if (error_.isEmpty()) error_ = QStringLiteral("журнал не открыт");
    return 0;
  }
  QSqlQuery q(QSqlDatabase::database(connection_, false));
  q.prepare(QStringLiteral("INSERT INTO entries (time, program, operation, port, device, version,"
                           " master_key, ok, outcome, file, image, before, read_back)"
                           " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
  const QDateTime time = e.time.isValid() ? e.time : QDateTime::currentDateTimeUtc();
  q.addBindValue(time.toMSecsSinceEpoch());
  for (const QString &s : {e.program, e.operation, e.port, e.device, e.version, e.masterKey})
    q.addBindValue(str(s));
  q.addBindValue(e.ok ? 1 : 0);
  q.addBindValue(str(e.outcome));
  q.addBindValue(str(e.file));
  q.addBindValue(blob(e.image));
  q.addBindValue(blob(e.before));
  q.addBindValue(blob(e.readBack));
  if (!q.exec()) {
    error_ = text(q.lastError());
    return 0;
  }
  return q.lastInsertId().toLongLong();
}

QList<Entry> Journal::list(const Filter &f) const {
  QList<Entry> entries;
  if (!isOpen()) return entries;
  QString sql = QStringLiteral("SELECT %1 FROM entries").arg(QLatin1String(kColumns));
  QStringList where;
  QVariantList binds;
  if (!f.port.isEmpty()) {
    where << QStringLiteral("port = ? COLLATE NOCASE");
    binds << f.port;
  }
  if (!f.masterKey.isEmpty()) {
    where << QStringLiteral("master_key = ? COLLATE NOCASE");
    binds << f.masterKey;
  }
  if (f.from.isValid()) {
    where << QStringLiteral("time >= ?");
    binds << f.from.toMSecsSinceEpoch();
  }
  if (f.to.isValid()) {
    where << QStringLiteral("time < ?");
    binds << f.to.toMSecsSinceEpoch();
  }
  if (f.ok) {
    where << QStringLiteral("ok = ?");
    binds << (*f.ok ? 1 : 0);
  }
  if (!where.isEmpty()) sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
  sql += QStringLiteral(" ORDER BY time DESC, id DESC");
  if (f.limit > 0) sql += QStringLiteral(" LIMIT %1").arg(f.limit);
  QSqlQuery q(QSqlDatabase::database(connection_, false));
  q.setForwardOnly(true);
  q.prepare(sql);
  for (const QVariant &b : binds) q.addBindValue(b);
  if (!q.exec()) {
    error_ = text(q.lastError());
    return entries;
  }
  while (q.next()) entries << fromRow(q);
  return entries;
}

std::optional<Entry> Journal::entry(qint64 id) const {
  if (!isOpen()) return std::nullopt;
  QSqlQuery q(QSqlDatabase::database(connection_, false));
  q.prepare(QStringLiteral("SELECT %1, image, before, read_back FROM entries WHERE id = ?")
                .arg(QLatin1String(kColumns)));
  q.addBindValue(id);
  if (!q.exec()) {
    error_ = text(q.lastError());
    return std::nullopt;
  }
  if (!q.next()) return std::nullopt;
  Entry e = fromRow(q);
  e.image = q.value(11).toByteArray();
  e.before = q.value(12).toByteArray();
  e.readBack = q.value(13).toByteArray();
  return e;
}

}  // namespace journal
