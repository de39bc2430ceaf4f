#pragma once
// Pseudo-terminals a test hands to the program as its serial ports.

#include <QDir>
#include <QFile>
#include <QString>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "link/PortNames.h"

namespace testsupport {

// The program gets the far end by `device`, or as virtual port COM<number> (`link`) when opened
// with a number; the test holds the near end, which never blocks on reading.
struct TestPty {
  int master = -1;
  QString device, link;
  QByteArray got;

  bool open(int number = 0) {
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return false;
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    device = QString::fromLocal8Bit(::ptsname(master));
    if (number <= 0) return true;
    QDir().mkpath(PortNames::virtualPortFolder());
    link = PortNames::virtualPortFolder() + QStringLiteral("/COM%1").arg(number);
    QFile::remove(link);
    return QFile::link(device, link);
  }
  // Everything the program wrote so far.
  QByteArray sent() {
    char buf[4096];
    for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) got.append(buf, n);
    return got;
  }
  // The virtual port leaves the list; the terminal stays.
  void unlist() {
    if (!link.isEmpty()) QFile::remove(link);
  }
  // The device is gone: unlisted and closed.
  void unplug() {
    unlist();
    if (master >= 0) ::close(master);
    master = -1;
  }
  ~TestPty() { unplug(); }
};

}  // namespace testsupport
