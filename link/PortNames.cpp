#include "link/PortNames.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QSet>
#include <QStringList>
#include <algorithm>
#include <climits>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "image/TextRules.h"

namespace PortNames {

namespace {
constexpr int kFirstFreeNumber = 97;
constexpr int kRangeSize = 32;   // each fixed family covers 32 numbers

#ifndef Q_OS_WIN
// "COM" followed by a positive decimal number without leading zeros or anything else.
int numberOfComName(const QString &name) {
  static const QRegularExpression re(QStringLiteral("^COM([1-9][0-9]{0,8})$"));
  const auto m = re.match(name);
  return m.hasMatch() ? m.captured(1).toInt() : 0;
}

// Whoever can put a link into the folder chooses where the program's COM<n> leads, and so who
// gets the configuration sent to it: only a real folder of this user that nobody else may
// write into is trusted.
bool isPrivateFolder(const QByteArray &folder) {
  struct stat st {};
  return ::lstat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
         st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}
#endif
}  // namespace

QString virtualPortFolder() {
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty()) return QString::fromLocal8Bit(runtime) + QStringLiteral("/serialcomm");
#ifdef Q_OS_WIN
  return QDir::tempPath() + QStringLiteral("/serialcomm");
#else
  return QStringLiteral("/tmp/serialcomm-%1").arg(::getuid());
#endif
}

int fixedNumberForDevice(const QString &devicePath) {
  static const QRegularExpression re(QStringLiteral("^/dev/tty(S|USB|ACM)([0-9]{1,3})$"));
  const auto m = re.match(devicePath);
  if (!m.hasMatch()) return 0;
  const int k = m.captured(2).toInt();
  if (k >= kRangeSize) return 0;
  const QString family = m.captured(1);
  if (family == QLatin1String("S")) return 1 + k;
  if (family == QLatin1String("USB")) return 33 + k;
  return 65 + k;
}

void sortForPicker(QList<TPortEntry> &entries) {
  std::stable_sort(entries.begin(), entries.end(), [](const TPortEntry &a, const TPortEntry &b) {
    return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
  });
}

QList<TPortEntry> assignNames(const QList<TPortEntry> &devices,
                              const QList<TPortEntry> &virtualPorts) {
  QList<TPortEntry> out;
  QSet<int> taken;
  for (const TPortEntry &v : virtualPorts) {
    if (v.number <= 0 || taken.contains(v.number)) continue;
    taken.insert(v.number);
    out.append(v);
  }
  // Devices in a fixed order, so the free numbers do not depend on the system's listing order.
  QList<TPortEntry> sorted = devices;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const TPortEntry &a, const TPortEntry &b) { return a.device < b.device; });
  QList<TPortEntry> others;
  QSet<QString> seenDevices;
  for (const TPortEntry &d : sorted) {
    if (seenDevices.contains(d.device)) continue;
    seenDevices.insert(d.device);
    const int n = fixedNumberForDevice(d.device);
    if (n == 0) {
      others.append(d);
      continue;
    }
    if (taken.contains(n)) continue;   // a virtual port of that number wins
    taken.insert(n);
    TPortEntry e = d;
    e.number = n;
    e.name = QStringLiteral("COM%1").arg(n);
    out.append(e);
  }
  int next = kFirstFreeNumber;
  for (const TPortEntry &d : others) {
    while (taken.contains(next)) ++next;
    taken.insert(next);
    TPortEntry e = d;
    e.number = next;
    e.name = QStringLiteral("COM%1").arg(next);
    out.append(e);
  }
  sortForPicker(out);
  return out;
}

QList<TPortEntry> scanVirtualFolder(const QString &folder) {
  QList<TPortEntry> out;
#ifndef Q_OS_WIN
  if (!isPrivateFolder(QFile::encodeName(folder))) return out;
  const QDir dir(folder);
  const QStringList names = dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot,
                                          QDir::Name);
  for (const QString &name : names) {
    const int n = numberOfComName(name);
    if (n == 0) continue;
    const QString path = dir.filePath(name);
    const QByteArray native = QFile::encodeName(path);
    struct stat linkStat {}, targetStat {};
    if (::lstat(native.constData(), &linkStat) != 0 || !S_ISLNK(linkStat.st_mode)) continue;
    if (::stat(native.constData(), &targetStat) != 0 || !S_ISCHR(targetStat.st_mode)) continue;
    TPortEntry e;
    e.name = name;
    e.number = n;
    e.device = path;
    e.description = QStringLiteral("виртуальный порт, %1").arg(QFileInfo(path).symLinkTarget());
    out.append(e);
  }
#else
  Q_UNUSED(folder);
#endif
  return out;
}

namespace {
QList<TPortEntry> serialDevices() {
  QList<TPortEntry> devices;
  const auto infos = QSerialPortInfo::availablePorts();
  for (const QSerialPortInfo &info : infos) {
    TPortEntry e;
    e.usbIds = info.hasVendorIdentifier() && info.hasProductIdentifier();
    if (e.usbIds) {
      e.vendorId = info.vendorIdentifier();
      e.productId = info.productIdentifier();
    }
    e.serialNumber = info.serialNumber();
#ifdef Q_OS_WIN
    e.name = info.portName();
    e.device = info.portName();
    e.description = info.description();
    int v = 0;
    e.number = portNumberFromText(e.name, &v) ? v : 0;
#else
    e.device = info.systemLocation();
    e.description = info.description().isEmpty() ? info.manufacturer() : info.description();
#endif
    devices.append(e);
  }
  return devices;
}

DeviceScan deviceScan = &serialDevices;
}  // namespace

DeviceScan setDeviceScan(DeviceScan scan) {
  return std::exchange(deviceScan, scan ? scan : &serialDevices);
}

QList<TPortEntry> systemPorts() {
  QList<TPortEntry> devices = deviceScan();
#ifdef Q_OS_WIN
  sortForPicker(devices);
  return devices;
#else
  return assignNames(devices, virtualPorts());
#endif
}

QList<TPortEntry> virtualPorts() {
#ifdef Q_OS_WIN
  return {};
#else
  const QString folder = virtualPortFolder();
  // The shared fallback name is taken for this user before anybody else can take it.
  if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
    ::mkdir(QFile::encodeName(folder).constData(), 0700);
  return assignNames({}, scanVirtualFolder(folder));
#endif
}

bool portNumberFromText(const QString &text, int *number) {
  const QString tail = text.mid(3);
  if (tail.isEmpty()) return false;
  qsizetype i = 0;
  bool negative = false;
  if (tail.at(0) == QLatin1Char('-') || tail.at(0) == QLatin1Char('+')) {
    negative = tail.at(0) == QLatin1Char('-');
    i = 1;
  }
  if (i >= tail.size()) return false;
  long long v = 0;
  for (; i < tail.size(); ++i) {
    const QChar c = tail.at(i);
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    v = v * 10 + (c.unicode() - '0');
    if (v > INT_MAX) return false;
  }
  *number = static_cast<int>(negative ? -v : v);
  return true;
}

namespace {
QString hex4(quint16 v) { return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper(); }

bool sameAdapter(const TPortEntry &a, const TPortEntry &b) {
  return !a.serialNumber.isEmpty() && a.serialNumber == b.serialNumber && a.usbIds == b.usbIds &&
         a.vendorId == b.vendorId && a.productId == b.productId;
}
}  // namespace

QString tooltipFor(const TPortEntry &entry) {
  QStringList lines{entry.device};
  const QString description = textrules::oneLine(entry.description);
  if (!description.isEmpty()) lines << description;
  QStringList usb;
  if (entry.usbIds)
    usb << QStringLiteral("USB VID %1, PID %2").arg(hex4(entry.vendorId), hex4(entry.productId));
  const QString serial = textrules::oneLine(entry.serialNumber);
  if (!serial.isEmpty()) usb << QStringLiteral("серийный номер %1").arg(serial);
  if (!usb.isEmpty()) lines << usb.join(QStringLiteral(", "));
  return lines.join(QLatin1Char('\n'));
}

qsizetype findReturned(const TPortEntry &lost, const QList<TPortEntry> &ports) {
  if (lost.device.isEmpty()) return -1;
  for (qsizetype i = 0; i < ports.size(); ++i)
    if (sameAdapter(lost, ports.at(i))) return i;
  for (qsizetype i = 0; i < ports.size(); ++i) {
    const TPortEntry &e = ports.at(i);
    if (e.device != lost.device) continue;
    const bool otherAdapter = !lost.serialNumber.isEmpty() && !e.serialNumber.isEmpty() &&
                              !sameAdapter(lost, e);
    return otherAdapter ? -1 : i;
  }
  return -1;
}

}  // namespace PortNames
