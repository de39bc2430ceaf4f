#pragma once
// The controller simulator as the link tests use it: one process on a virtual port of this
// test's runtime folder, and a port client recording what its two framers deliver.

#include <QtTest>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <functional>

#include "link/ComPort.h"
#include "link/PortNames.h"
#include "runtimesupport.h"

namespace {

QString simBinary() {
  const QString env = qEnvironmentVariable("KORVEL_SIM");
  if (!env.isEmpty()) return env;
  return QCoreApplication::applicationDirPath() + QStringLiteral("/../korvel-sim");
}

// One simulator process on virtual port COM<port> of this test's runtime folder.
class Sim {
public:
  bool start(int port, const QStringList &extra = {}) {
    proc.setProgram(simBinary());
    proc.setArguments(QStringList{"--port", QString::number(port), "--announce-ms", "100"} + extra);
    proc.start();
    if (!proc.waitForStarted(5000)) return false;
    QDeadlineTimer deadline(5000);
    while (!proc.canReadLine() && !deadline.hasExpired()) proc.waitForReadyRead(50);
    const QList<QByteArray> parts = proc.readLine().trimmed().split(' ');
    if (parts.size() != 3) return false;
    link = QString::fromLocal8Bit(parts.at(1));
    return true;
  }
  QByteArray log() {
    err += proc.readAllStandardError();
    return err;
  }
  int count(const QByteArray &what) { return int(log().count(what)); }
  void stop() {
    if (proc.state() == QProcess::NotRunning) return;
    proc.terminate();
    proc.waitForFinished(5000);
  }
  ~Sim() { stop(); }

  QProcess proc;
  QString link;
  QByteArray err;
};

// A bare client on the port's framers, standing in for a link.
struct ClientPort : TComPort {
  TPacketFramers &framers = framers_;
  // Virtual port COM<number> of this test's runtime folder.
  bool open(int number, QString *reason = nullptr) {
    return openDevice(PortNames::virtualPortFolder() + QStringLiteral("/COM%1").arg(number), reason);
  }
};

// A port with both handlers recorded.
struct Client {
  ClientPort port;
  QList<QByteArray> lines;
  QByteArray bytes;
  std::function<void(const QByteArray &)> onLine;
  std::function<void(std::uint8_t)> onByte;
  Client() {
    port.framers.onLine = [this](const QByteArray &l) {
      lines << l;
      if (onLine) onLine(l);
    };
    port.framers.onByte = [this](const std::uint8_t *d, int) {
      bytes.append(static_cast<char>(*d));
      if (onByte) onByte(*d);
    };
    port.framers.line.setArmed(true);
    port.framers.line.setAutoRearm(true);
  }
  bool sawLine(const QByteArray &l) const { return lines.contains(l); }
  void toBytes() {
    port.framers.line.setArmed(false);
    port.framers.line.setAutoRearm(false);
    port.framers.byte.setArmed(true);
    port.framers.byte.setAutoRearm(true);
  }
  void toLines() {
    port.framers.byte.setArmed(false);
    port.framers.byte.setAutoRearm(false);
    port.framers.line.setArmed(true);
    port.framers.line.setAutoRearm(true);
  }
  bool handshake() {
    if (!QTest::qWaitFor([&] { return sawLine("ATI\r\n"); }, 3000)) return false;
    (void)port.sendText("PC\r\n");
    if (!QTest::qWaitFor([&] { return sawLine("Ver.2.10\r\n"); }, 3000)) return false;
    (void)port.sendText("PC_OK\r\n");
    QTest::qWait(100);
    lines.clear();
    return true;
  }
};

}  // namespace
