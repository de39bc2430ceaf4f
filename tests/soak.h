#pragma once
// Random tests: a seed printed for every run and taken from QUORLAN_SEED to replay one, and
// long loops cut to a tenth unless QUORLAN_SOAK is set.

#include <QRandomGenerator>
#include <QtGlobal>
#include <algorithm>

namespace soak {

inline int rounds(int full) {
  return qEnvironmentVariableIsSet("QUORLAN_SOAK") ? full : std::max(1, full / 10);
}

inline quint32 seed(const char *what) {
  bool ok = false;
  const quint32 given = qEnvironmentVariable("QUORLAN_SEED").toUInt(&ok);
  const quint32 used = ok ? given : QRandomGenerator::global()->generate();
  qInfo("%s: seed %u (QUORLAN_SEED=%u replays it)", what, used, used);
  return used;
}

}  // namespace soak
