#pragma once
// Why a port would not open when the system says only "permission denied": the operator lacks
// the rights to the device, or another program holds it. Gathering the facts and wording them
// are apart, so the words can be checked on any facts.

#include <QList>
#include <QString>

namespace PortTrouble {

struct Holder {
  qint64 pid = 0;
  QString command;   // the process's name as the system keeps it ("ModemManager")
  bool operator==(const Holder &) const = default;
};

// Processes that have `device` open: every open file under `procRoot` ("/proc" on Linux) whose
// device numbers are the device's. Only processes whose open files this user may look at are
// found. Empty where the system has no such folder.
QList<Holder> holdersOf(const QString &device, const QString &procRoot = QStringLiteral("/proc"));

struct Facts {
  QString device;                 // as the operator picked it
  bool permitted = true;          // this user may read and write it
  QString group;                  // the group that may use it; empty when unknown
  bool groupNeedsNewLogin = false;   // the user is listed in that group, this session is not in it
  QList<Holder> holders;
};

// The facts the system gives about `device` now.
Facts factsFor(const QString &device);

// The operator's explanation, in Russian: what to do about missing rights, or who holds the port.
QString explain(const Facts &facts);

}  // namespace PortTrouble
