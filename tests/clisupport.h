#pragma once
// Runs quorlan-cli as a script would: arguments in, exit code, stdout and stderr out.

#include <QtTest>

#include <QProcess>
#include <memory>
#include <vector>

#include "image/ConfigCodec.h"
#include "image/ConfigFile.h"

namespace {

QString cliBinary() {
  const QString env = qEnvironmentVariable("QUORLAN_CLI");
  if (!env.isEmpty()) return env;
#ifdef Q_OS_WIN
  return QCoreApplication::applicationDirPath() + QStringLiteral("/../quorlan-cli.exe");
#else
  return QCoreApplication::applicationDirPath() + QStringLiteral("/../quorlan-cli");
#endif
}

struct CliRun {
  int code = -1;
  QString out, err;
};

// What a stream carried, as text: on Windows the C library ends each line with CR LF there.
QString textOf(const QByteArray &bytes) {
  QString text = QString::fromUtf8(bytes);
#ifdef Q_OS_WIN
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
#endif
  return text;
}

CliRun runCli(const QStringList &args, int timeoutMs = 30000) {
  QProcess p;
  p.start(cliBinary(), args);
  CliRun r;
  if (!p.waitForFinished(timeoutMs)) {
    p.kill();
    p.waitForFinished();
    r.err = QStringLiteral("timed out");
    return r;
  }
  r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = textOf(p.readAllStandardOutput());
  r.err = textOf(p.readAllStandardError());
  return r;
}

// Runs several at once: each run's start-up need not wait for the one before.
inline QList<CliRun> runClis(const QList<QStringList> &argLists, int timeoutMs = 30000) {
  std::vector<std::unique_ptr<QProcess>> procs;
  for (const QStringList &args : argLists) {
    procs.push_back(std::make_unique<QProcess>());
    procs.back()->start(cliBinary(), args);
  }
  QList<CliRun> runs;
  for (auto &p : procs) {
    CliRun r;
    if (!p->waitForFinished(timeoutMs)) {
      p->kill();
      p->waitForFinished();
      r.err = QStringLiteral("timed out");
    } else {
      r.code = p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1;
      r.out = textOf(p->readAllStandardOutput());
      r.err = textOf(p->readAllStandardError());
    }
    runs.append(r);
  }
  return runs;
}

bool saveValue(const QString &path, const ConfigValue &v) {
  ConfigImageBytes image{};
  if (encodeImage(v, image)) return false;
  return writeConfigFile(path, image);
}

}  // namespace
