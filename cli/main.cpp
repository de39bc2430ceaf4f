// quorlan-cli: the configurator's files and exchanges without a window.
#include <QCoreApplication>

#include "CommandLine.h"
#include "DeviceCommands.h"
#include "FileCommands.h"
#include "JournalCommands.h"
#include "Output.h"

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("quorlan-cli"));
  QCoreApplication::setApplicationVersion(QStringLiteral(QUORLAN_VERSION));
  QStringList args = QCoreApplication::arguments().mid(1);
  // -q and -v may stand before the command too; the controller commands also take them after it.
  while (!args.isEmpty()) {
    if (args[0] == QLatin1String("-q") || args[0] == QLatin1String("--quiet")) cli::global().quiet = true;
    else if (args[0] == QLatin1String("-v") || args[0] == QLatin1String("--verbose")) cli::global().verbose = true;
    else break;
    args.removeFirst();
  }
  if (args.isEmpty()) {
    cli::write(stderr, cli::programHelp());
    return cli::kBadInput;
  }
  const QString command = args.takeFirst();
  if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
      command == QLatin1String("help")) {
    cli::out(args.isEmpty() || cli::commandHelp(args[0]).isEmpty() ? cli::programHelp()
                                                                  : cli::commandHelp(args[0]));
    return cli::kOk;
  }
  if (command == QLatin1String("--version") || command == QLatin1String("version")) {
    cli::outLine(QStringLiteral("quorlan-cli %1 (Qt %2)").arg(QCoreApplication::applicationVersion(),
                                                              QString::fromLatin1(qVersion())));
    return cli::kOk;
  }
  if (command == QLatin1String("check")) return cli::checkCommand(args);
  if (command == QLatin1String("dump")) return cli::dumpCommand(args);
  if (command == QLatin1String("diff")) return cli::diffCommand(args);
  if (command == QLatin1String("set")) return cli::setCommand(args);
  if (command == QLatin1String("names")) return cli::namesCommand(args);
  if (command == QLatin1String("ports")) return cli::portsCommand(args);
  if (command == QLatin1String("read") || command == QLatin1String("write") ||
      command == QLatin1String("time") || command == QLatin1String("info"))
    return cli::deviceCommand(command, args);
  if (command == QLatin1String("journal")) return cli::journalCommand(args);
  cli::errLine(QStringLiteral("неизвестная команда \"%1\"; список: quorlan-cli --help").arg(command));
  return cli::kBadInput;
}
