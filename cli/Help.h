#pragma once
// The help texts of the program and of each command.

#include <QString>

namespace cli {

QString programHelp();
// Empty for an unknown command.
QString commandHelp(const QString &command);
// True when the arguments ask for help; prints the command's help then.
bool helpAsked(const QString &command, const QStringList &args);

}  // namespace cli
