#pragma once
// The journal of exchanges: every read and write of a controller, from the window and from the
// command line, in one SQLite database in the user's data folder. Recording never stands in an
// exchange's way: a journal that cannot be opened or written says so once (lastError) and
// records nothing.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace journal {

struct Entry {
  qint64 id = 0;             // given by record()
  QDateTime time;            // when the exchange ended (UTC)
  QString program;           // "quorlan" or "quorlan-cli"
  QString operation;         // "read" or "write"
  QString port;              // "COM9"
  QString device;            // "/dev/ttyUSB0", when known
  QString version;           // the controller's, from its handshake
  QString masterKey;         // when read in that connection
  bool ok = false;
  QString outcome;           // as the operator was told
  QString file;              // the file written from or read into
  QByteArray image;          // the 4123 bytes written or read; empty when none came
  QByteArray before;         // what the controller held before a write (a backup)
  QByteArray readBack;       // what it held after a write (a verify)
};

struct Filter {
  QString port;              // exact, case-insensitive
  QString masterKey;         // exact, case-insensitive
  QDateTime from, to;        // either may be invalid (open)
  std::optional<bool> ok;
  int limit = 0;             // 0: all
};

class Journal {
public:
  Journal();
  ~Journal();
  Journal(const Journal &) = delete;
  Journal &operator=(const Journal &) = delete;

  // The database every program records into: $QUORLAN_JOURNAL when set, otherwise
  // journal.sqlite in the data folder of "quorlan".
  static QString defaultPath();

  // Opens (creating when missing) the database at `path`. A file that is no sound database is
  // renamed aside (journal.sqlite.corrupt-YYYYMMDD-hhmmss) and a new one started; `notice` then
  // says where it went.
  bool open(const QString &path, QString *notice = nullptr);
  bool isOpen() const;
  QString path() const { return path_; }
  // Why the last open, record or query failed.
  QString lastError() const { return error_; }

  // The new entry's id, or 0 when it could not be recorded.
  qint64 record(const Entry &entry);
  // Newest first, without the images.
  QList<Entry> list(const Filter &filter = {}) const;
  std::optional<Entry> entry(qint64 id) const;

private:
  bool openFile(const QString &path);
  bool prepare();
  void close();

  QString connection_;
  QString path_;
  mutable QString error_;
};

// "Журнал обменов недоступен (PATH): WHY" — the one warning both programs give.
QString unavailableText(const QString &path, const QString &why);
// An entry's operation as both programs show it: "запись", "чтение".
QString operationText(const QString &operation);

}  // namespace journal
