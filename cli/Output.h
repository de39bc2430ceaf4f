#pragma once
// Text out of the command-line companion: UTF-8 on stdout and stderr, exit codes scripts rely on.

#include <QString>
#include <cstdio>

namespace cli {

enum Exit : int {
  kOk = 0,
  kDeviceFailure = 1,   // the controller or the port failed, or the protocol went wrong
  kBadInput = 2,        // bad arguments, a bad or unwritable file, a refused value
  kMismatch = 3,        // the configuration read back differs from the one written
};

inline void out(const QString &text) {
  const QByteArray b = text.toUtf8();
  std::fwrite(b.constData(), 1, size_t(b.size()), stdout);
}
inline void outLine(const QString &text) { out(text + QLatin1Char('\n')); }
inline void errLine(const QString &text) {
  std::fflush(stdout);
  const QByteArray b = (QStringLiteral("quorlan-cli: ") + text + QLatin1Char('\n')).toUtf8();
  std::fwrite(b.constData(), 1, size_t(b.size()), stderr);
}

// Seconds with the decimal comma, as everything else the operator reads.
inline QString seconds(qint64 ms) {
  return QString::number(double(ms) / 1000.0, 'f', 1).replace(QLatin1Char('.'), QLatin1Char(','));
}

}  // namespace cli
