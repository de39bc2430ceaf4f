#pragma once
// The journal of exchanges on the command line: `journal` lists, shows, compares and exports
// its entries; read and write record into it.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace cli {

int journalCommand(const QStringList &args);

// One exchange of read or write, as the journal keeps it. Recording never changes an
// exchange's outcome: a journal that cannot be opened or written says so once on stderr.
struct ExchangeRecord {
  QString operation;   // "read", "write"
  QString port, device, version, masterKey;
  bool ok = false;
  QString outcome, file;
  QByteArray image, before, readBack;
};
void recordExchange(const ExchangeRecord &record);

}  // namespace cli
