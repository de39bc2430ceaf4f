#pragma once
// Commands on controllers: read, write, time, info. One exchange per port, all in one event
// loop, each on its own link.

#include <QStringList>

namespace cli {

int deviceCommand(const QString &command, const QStringList &args);
// The port names --port takes, one a line, as the window lists them (completion offers them);
// with --virtual only the simulator's virtual ports.
int portsCommand(const QStringList &args);

}  // namespace cli
