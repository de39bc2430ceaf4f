#pragma once
// Text out of the command-line companion: UTF-8 on stdout and stderr, exit codes scripts rely on.

#include <QJsonObject>
#include <QString>
#include <cstdio>

namespace cli {

enum Exit : int {
  kOk = 0,
  kDeviceFailure = 1,   // the controller or the port failed, or the protocol went wrong
  kBadInput = 2,        // bad arguments, a bad or unwritable file, a refused value
  kMismatch = 3,        // the configuration read back differs from the one written
  // diff's codes, as diff(1) has them: 0 the same, 1 different, 2 could not compare.
  kDiffers = 1,
  kTrouble = 2,
  // Stopped by a signal: 128 and its number, as a shell reports it.
  kSignalBase = 128,
};

// The switches every command takes before or after its name.
struct Global {
  bool quiet = false;     // -q: no progress bar
  bool verbose = false;   // -v: every exchange with the controller on stderr
};
Global &global();

// UTF-8 bytes; on a Windows console, whose code page is rarely UTF-8, the text itself.
void write(std::FILE *stream, const QString &text);

inline void out(const QString &text) { write(stdout, text); }
inline void outLine(const QString &text) { out(text + QLatin1Char('\n')); }
inline void errLine(const QString &text) {
  std::fflush(stdout);
  write(stderr, QStringLiteral("quorlan-cli: ") + text + QLatin1Char('\n'));
}

// Seconds with the decimal comma, as everything else the operator reads.
inline QString seconds(qint64 ms) {
  return QString::number(double(ms) / 1000.0, 'f', 1).replace(QLatin1Char('.'), QLatin1Char(','));
}

// One JSON object on one line, keys in Qt's (sorted) order.
QString jsonLine(const QJsonObject &o);

}  // namespace cli
