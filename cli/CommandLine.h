#pragma once
// The command line: the help texts of the program and of each command, and the arguments of
// one command, read the same way for every command: its help on "--help" or "-h", its options,
// the words between them, and a complaint that points to the help.

#include <QHash>
#include <QList>
#include <QSet>
#include <QStringList>
#include <functional>

namespace cli {

QString programHelp();
// Empty for an unknown command.
QString commandHelp(const QString &command);

struct Option {
  QString name;           // "--verify", "-o"
  bool valued = false;    // takes the next argument as its value
  QString missing = {};   // said when the value is missing; "после NAME нужно значение" if empty
  // Takes each value as it comes and says what is wrong with it; a complaint is made in the
  // order of the arguments, so a bad value is told before a bad option after it.
  std::function<QString(const QString &value)> take = {};
};

struct Arguments {
  QStringList words;                    // the arguments that are no option nor its value
  QHash<QString, QStringList> values;   // the values of each valued option, in order
  QSet<QString> flags;                  // the valueless options given
  int exit = -1;                        // the command's exit code once help or a complaint is out

  bool done() const { return exit >= 0; }
  QString last(const QString &option) const {
    const QStringList v = values.value(option);
    return v.isEmpty() ? QString() : v.last();
  }
};

// Reads `args` (the command's own, after its name). Anything beginning with "-" that is no
// option of the command is refused; with `dashWords`, a lone "-" and an argument holding "="
// are words (a file called "-", an assignment).
Arguments parseArguments(const QString &command, const QStringList &args, const QList<Option> &options,
                         bool dashWords = false);

// Says what is wrong and where the command's help is; returns kBadInput.
int usage(const QString &command, const QString &why);

}  // namespace cli
