#pragma once
// Commands on controllers: read, write, time, info. One exchange per port, all in one event
// loop, each on its own link.

#include <QStringList>

namespace cli {

int deviceCommand(const QString &command, const QStringList &args);

}  // namespace cli
