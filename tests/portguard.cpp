// Linked into every suite: no test may reach this machine's serial ports. A technician's laptop
// may have a controller on its adapter, and listing the system's ports alone opens every
// /dev/ttyS* on Linux. Asking for that list, or opening a device under /dev that is neither a
// pseudo-terminal nor a null device, fails the test that did it.

#include <QFileInfo>
#include <QtTest>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

#include "link/ComPort.h"
#include "link/PortNames.h"

namespace {

void refuse(const QString &what) {
  const QByteArray message = ("a test reached this machine's serial ports: " + what).toUtf8();
  if (QTest::currentTestFunction())
    QTest::qFail(message.constData(), __FILE__, __LINE__);
  else
    qFatal("%s", message.constData());
}

QList<TPortEntry> refuseScan() {
  refuse(QStringLiteral("the system's port list"));
  return {};
}

bool madeByTheTest(const QString &device) {
#ifdef Q_OS_WIN
  refuse(device);   // every port on Windows is the machine's
  return false;
#else
  const QString path = QFileInfo(device).canonicalFilePath();
  struct stat st{};
  if (path.isEmpty() || !path.startsWith(QLatin1String("/dev/")) ||
      ::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
    return true;   // no device: the open fails on its own
  if (path.startsWith(QLatin1String("/dev/pts/")) || major(st.st_rdev) == 1)   // ptys, /dev/null
    return true;
  refuse(device + QStringLiteral(" (") + path + QLatin1Char(')'));
  return false;
#endif
}

const bool installed = [] {
  PortNames::setDeviceScan(&refuseScan);
  TQtSerialIo::setOpenCheck(&madeByTheTest);
  return true;
}();

}  // namespace
