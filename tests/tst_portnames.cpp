// Port names and facts: Linux devices as COM<n>, the virtual-port folder, the picker's order,
// the port number read from the picker's text, the tooltip's USB facts, finding a lost adapter
// again, and what an open refused for rights or by another program's hold says.
#include <QtTest>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "link/ComPort.h"
#include "link/PortNames.h"
#include "link/PortTrouble.h"
#include "runtimesupport.h"

namespace {
TPortEntry dev(const QString &path) { return {QString(), path, QStringLiteral("d"), 0}; }
TPortEntry virt(int n, const QString &path) {
  return {QStringLiteral("COM%1").arg(n), path, QStringLiteral("v"), n};
}
TPortEntry usb(const QString &path, quint16 vid, quint16 pid, const QString &serial) {
  TPortEntry e = dev(path);
  e.usbIds = true;
  e.vendorId = vid;
  e.productId = pid;
  e.serialNumber = serial;
  return e;
}
// A pseudo-terminal whose slave stays open here; closed with the object.
struct Pty {
  int master = -1, slave = -1;
  QString path;
  Pty() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return;
    path = QString::fromLocal8Bit(::ptsname(master));
    slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  }
  ~Pty() {
    if (slave >= 0) ::close(slave);
    if (master >= 0) ::close(master);
  }
};
QStringList said(QList<PortTrouble::Holder> holders) {
  std::sort(holders.begin(), holders.end(), [](const auto &x, const auto &y) { return x.pid < y.pid; });
  QStringList out;
  for (const auto &h : holders) out << QStringLiteral("%1 %2").arg(h.pid).arg(h.command);
  return out;
}
QStringList names(const QList<TPortEntry> &l) {
  QStringList out;
  for (const auto &e : l) out << e.name;
  return out;
}
}  // namespace

Q_DECLARE_METATYPE(TPortEntry)
Q_DECLARE_METATYPE(PortTrouble::Facts)

class TstPortNames : public QObject {
  Q_OBJECT
private slots:
  void fixedNumbers();
  void assignAndMerge();
  void pickerOrder();
  void virtualFolderScan();
  void virtualFolderMustBePrivate();
  void systemListIncludesVirtualPorts();
  void nonTerminalIsNamedAsSuch();
  void numberFromText_data();
  void numberFromText();
  void tooltip_data();
  void tooltip();
  void returnedAdapter_data();
  void returnedAdapter();
  void holdersInAProcFolder();
  void holdersOfThisProcess();
  void troubleText_data();
  void troubleText();
  void heldPortNamesItsHolder();
};

void TstPortNames::fixedNumbers() {
  using PortNames::fixedNumberForDevice;
  QCOMPARE(fixedNumberForDevice("/dev/ttyS0"), 1);
  QCOMPARE(fixedNumberForDevice("/dev/ttyS31"), 32);
  QCOMPARE(fixedNumberForDevice("/dev/ttyUSB0"), 33);
  QCOMPARE(fixedNumberForDevice("/dev/ttyUSB31"), 64);
  QCOMPARE(fixedNumberForDevice("/dev/ttyACM0"), 65);
  QCOMPARE(fixedNumberForDevice("/dev/ttyACM31"), 96);
  // Beyond a family's 32 numbers, or another kind of device: no fixed number.
  QCOMPARE(fixedNumberForDevice("/dev/ttyS32"), 0);
  QCOMPARE(fixedNumberForDevice("/dev/ttyUSB40"), 0);
  QCOMPARE(fixedNumberForDevice("/dev/ttyAMA0"), 0);
  QCOMPARE(fixedNumberForDevice("/dev/ttyS"), 0);
  QCOMPARE(fixedNumberForDevice("/tmp/ttyS0"), 0);
}

void TstPortNames::assignAndMerge() {
  const QList<TPortEntry> devices = {dev("/dev/rfcomm0"), dev("/dev/ttyUSB1"), dev("/dev/ttyS0"),
                                     dev("/dev/ttyAMA0"), dev("/dev/ttyS2"), dev("/dev/ttyS2")};
  const QList<TPortEntry> virtuals = {virt(1, "/run/x/COM1"), virt(97, "/run/x/COM97")};
  const QList<TPortEntry> out = PortNames::assignNames(devices, virtuals);
  // ttyS0 loses COM1 to the virtual port; the other devices take 98 and 99 in path order.
  QCOMPARE(names(out), (QStringList{"COM1", "COM3", "COM34", "COM97", "COM98", "COM99"}));
  QCOMPARE(out.at(0).device, QStringLiteral("/run/x/COM1"));
  QCOMPARE(out.at(1).device, QStringLiteral("/dev/ttyS2"));
  QCOMPARE(out.at(2).device, QStringLiteral("/dev/ttyUSB1"));
  QCOMPARE(out.at(4).device, QStringLiteral("/dev/rfcomm0"));
  QCOMPARE(out.at(5).device, QStringLiteral("/dev/ttyAMA0"));
  for (const auto &e : out) QCOMPARE(e.name, QStringLiteral("COM%1").arg(e.number));

  // The same devices listed in another order get the same names.
  QList<TPortEntry> reversed(devices.rbegin(), devices.rend());
  QCOMPARE(names(PortNames::assignNames(reversed, virtuals)), names(out));
  QVERIFY(PortNames::assignNames({}, {}).isEmpty());
}

void TstPortNames::pickerOrder() {
  QList<TPortEntry> l = {virt(2, "b"), virt(10, "c"), virt(1, "a"), virt(33, "d")};
  PortNames::sortForPicker(l);
  QCOMPARE(names(l), (QStringList{"COM1", "COM10", "COM2", "COM33"}));
}

void TstPortNames::virtualFolderScan() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString d = dir.path();
  QFile plain(d + "/plain");
  QVERIFY(plain.open(QIODevice::WriteOnly));
  plain.close();
  QVERIFY(QFile::link("/dev/null", d + "/COM3"));     // character device: listed
  QVERIFY(QFile::link("/dev/zero", d + "/COM12"));    // listed
  QVERIFY(QFile::link(d + "/plain", d + "/COM4"));    // a regular file behind the link
  QVERIFY(QFile::copy(d + "/plain", d + "/COM5"));    // not a link at all
  QVERIFY(QFile::link(d + "/gone", d + "/COM6"));     // dangling
  QVERIFY(QFile::link("/dev/null", d + "/COM07"));    // not a port name
  QVERIFY(QFile::link("/dev/null", d + "/COMX"));
  QVERIFY(QFile::link("/dev/null", d + "/com8"));
  QVERIFY(QDir(d).mkdir("COM9"));
  QList<TPortEntry> found = PortNames::scanVirtualFolder(d);
  PortNames::sortForPicker(found);
  QCOMPARE(names(found), (QStringList{"COM12", "COM3"}));
  QCOMPARE(found.at(1).number, 3);
  QCOMPARE(found.at(1).device, d + "/COM3");
  QVERIFY(PortNames::tooltipFor(found.at(1)).contains(d + "/COM3"));
  QVERIFY(PortNames::scanVirtualFolder(d + "/missing").isEmpty());
}

void TstPortNames::virtualFolderMustBePrivate() {
  // Whoever may put links into the folder chooses where COM<n> leads.
  QTemporaryDir dir;
  const QString d = dir.path() + "/ports";
  const QByteArray native = QFile::encodeName(d);
  QCOMPARE(::mkdir(native.constData(), 0700), 0);
  QVERIFY(QFile::link("/dev/null", d + "/COM3"));
  QCOMPARE(names(PortNames::scanVirtualFolder(d)), QStringList{"COM3"});
  QVERIFY(QFile::link(d, dir.path() + "/alias"));
  QVERIFY(PortNames::scanVirtualFolder(dir.path() + "/alias").isEmpty());
  for (const mode_t mode : {0777, 0720, 0702}) {
    QCOMPARE(::chmod(native.constData(), mode), 0);
    QVERIFY2(PortNames::scanVirtualFolder(d).isEmpty(), qPrintable(QString::number(mode, 8)));
  }
  QCOMPARE(::chmod(native.constData(), 0700), 0);
  if (::geteuid() == 0) {
    QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
    QVERIFY(PortNames::scanVirtualFolder(d).isEmpty());
  }

  // Without a runtime folder the shared fallback name is used: a folder someone else made
  // there is ignored, and a missing one is made private before anybody can take it.
  const testsupport::UnsetEnv noRuntime("XDG_RUNTIME_DIR");
  const QString fallback = PortNames::virtualPortFolder();
  const QByteArray fb = QFile::encodeName(fallback);
  if (QFileInfo::exists(fallback)) {
    qWarning("%s exists: the fallback folder is not checked", fb.constData());
  } else {
    QCOMPARE(::mkdir(fb.constData(), 0700), 0);
    QCOMPARE(::chmod(fb.constData(), 0777), 0);
    QVERIFY(QFile::link("/dev/null", fallback + "/COM777"));
    const QStringList planted = names(PortNames::virtualPorts());
    QVERIFY(QFile::remove(fallback + "/COM777"));
    QCOMPARE(::rmdir(fb.constData()), 0);
    QVERIFY(!planted.contains("COM777"));
    PortNames::virtualPorts();
    struct stat st {};
    const bool made = ::lstat(fb.constData(), &st) == 0;
    ::rmdir(fb.constData());
    QVERIFY(made && S_ISDIR(st.st_mode));
    QCOMPARE(st.st_mode & 07777, mode_t(0700));
    QCOMPARE(st.st_uid, ::geteuid());
  }
}

void TstPortNames::systemListIncludesVirtualPorts() {
  {
    const testsupport::UnsetEnv noRuntime("XDG_RUNTIME_DIR");
    QVERIFY(PortNames::virtualPortFolder().startsWith("/tmp/serialcomm-"));
  }
  const QString runtime = testsupport::isolateRuntimeDir();
  QCOMPARE(PortNames::virtualPortFolder(), runtime + "/serialcomm");
  QVERIFY(QDir(runtime).mkdir("serialcomm",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
  // A number far above anything a real device gets.
  QVERIFY(QFile::link("/dev/null", runtime + "/serialcomm/COM777"));
  // The machine's devices as a scan might report them, in no order.
  const PortNames::DeviceScan guard = PortNames::setDeviceScan([] {
    return QList<TPortEntry>{{QString(), "/dev/ttyUSB0", "adapter"}, {QString(), "/dev/ttyS0"}};
  });
  const QList<TPortEntry> all = PortNames::systemPorts();
  PortNames::setDeviceScan(guard);
  QCOMPARE(names(all), (QStringList{"COM1", "COM33", "COM777"}));
  const QStringList sorted = [&] {
    QList<TPortEntry> copy = all;
    PortNames::sortForPicker(copy);
    return names(copy);
  }();
  QCOMPARE(names(all), sorted);
  QCOMPARE(all.at(2).device, runtime + "/serialcomm/COM777");
  QCOMPARE(names(PortNames::virtualPorts()), QStringList{"COM777"});
}

void TstPortNames::nonTerminalIsNamedAsSuch() {
  // A virtual port leading to something that is no terminal: the box must say so.
  QTemporaryDir dir;
  const QString port = dir.path() + "/COM5";
  QVERIFY(QFile::link("/dev/null", port));
  TQtSerialIo io;
  QVERIFY(!io.open(port));
  const QString expected = QStringLiteral("Устройство %1 не является последовательным портом.");
  QVERIFY2(io.errorString().startsWith(expected.arg(port)), qPrintable(io.errorString()));
  QVERIFY(!io.errorString().contains("No error"));
}

void TstPortNames::numberFromText_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<bool>("ok");
  QTest::addColumn<int>("number");
  QTest::newRow("COM3") << "COM3" << true << 3;
  QTest::newRow("COM12") << "COM12" << true << 12;
  QTest::newRow("other prefix") << "XYZ5" << true << 5;
  QTest::newRow("C") << "C" << false << 0;
  QTest::newRow("CO") << "CO" << false << 0;
  QTest::newRow("COM") << "COM" << false << 0;
  QTest::newRow("empty") << "" << false << 0;
  QTest::newRow("letters") << "COMx" << false << 0;
  QTest::newRow("blank") << "COM 1" << false << 0;
  QTest::newRow("sign only") << "COM-" << false << 0;
  QTest::newRow("overflow") << "COM99999999999" << false << 0;
  QTest::newRow("no ports") << "НЕТ!" << false << 0;
}

void TstPortNames::numberFromText() {
  QFETCH(QString, text);
  QFETCH(bool, ok);
  QFETCH(int, number);
  int n = 0;
  QCOMPARE(PortNames::portNumberFromText(text, &n), ok);
  if (ok) QCOMPARE(n, number);
}

void TstPortNames::tooltip_data() {
  QTest::addColumn<TPortEntry>("entry");
  QTest::addColumn<QStringList>("lines");
  QTest::newRow("virtual port") << virt(3, "/run/x/COM3") << QStringList{"/run/x/COM3", "v"};
  QTest::newRow("no description") << TPortEntry{"COM1", "/dev/ttyS0", "", 1}
                                  << QStringList{"/dev/ttyS0"};
  TPortEntry ftdi = usb("/dev/ttyUSB0", 0x0403, 0x6001, "A50285BI");
  ftdi.description = "FT232R USB UART";
  QTest::newRow("usb adapter") << ftdi
                               << QStringList{"/dev/ttyUSB0", "FT232R USB UART",
                                              "USB VID 0403, PID 6001, серийный номер A50285BI"};
  QTest::newRow("ids, no serial") << usb("/dev/ttyACM0", 0x2341, 0x0043, "")
                                  << QStringList{"/dev/ttyACM0", "d", "USB VID 2341, PID 0043"};
  TPortEntry serialOnly = dev("COM4");
  serialOnly.serialNumber = "7&1B2";
  QTest::newRow("serial, no ids") << serialOnly << QStringList{"COM4", "d", "серийный номер 7&1B2"};
  // What a device says of itself cannot add lines of its own.
  TPortEntry odd = usb("/dev/ttyUSB1", 0xABCD, 0x00ef, "S1\nS2\r");
  odd.description = "Line1\nLine2\tend";
  QTest::newRow("control characters")
      << odd << QStringList{"/dev/ttyUSB1", "Line1 Line2 end", "USB VID ABCD, PID 00EF, серийный номер S1 S2"};
}

void TstPortNames::tooltip() {
  QFETCH(TPortEntry, entry);
  QFETCH(QStringList, lines);
  QCOMPARE(PortNames::tooltipFor(entry).split('\n'), lines);
}

void TstPortNames::returnedAdapter_data() {
  QTest::addColumn<TPortEntry>("lost");
  QTest::addColumn<QList<TPortEntry>>("now");
  QTest::addColumn<int>("found");
  const TPortEntry a = usb("/dev/ttyUSB0", 0x0403, 0x6001, "A1");
  QTest::newRow("not back") << a << QList<TPortEntry>{dev("/dev/ttyS0")} << -1;
  QTest::newRow("nothing listed") << a << QList<TPortEntry>{} << -1;
  QTest::newRow("same path") << a << QList<TPortEntry>{dev("/dev/ttyS0"), a} << 1;
  QTest::newRow("same serial, another path")
      << a << QList<TPortEntry>{dev("/dev/ttyUSB0"), usb("/dev/ttyUSB1", 0x0403, 0x6001, "A1")} << 1;
  QTest::newRow("another adapter on the path")
      << a << QList<TPortEntry>{usb("/dev/ttyUSB0", 0x0403, 0x6001, "B2")} << -1;
  QTest::newRow("same serial of another maker")
      << a << QList<TPortEntry>{usb("/dev/ttyUSB1", 0x10C4, 0xEA60, "A1")} << -1;
  QTest::newRow("path now without serial")
      << a << QList<TPortEntry>{dev("/dev/ttyUSB0")} << 0;
  const TPortEntry v = virt(3, "/run/x/COM3");
  QTest::newRow("virtual port back") << v << QList<TPortEntry>{virt(1, "/run/x/COM1"), v} << 1;
  QTest::newRow("no serials, another path")
      << dev("/dev/ttyUSB0") << QList<TPortEntry>{dev("/dev/ttyUSB1")} << -1;
  QTest::newRow("empty serials do not match")
      << usb("/dev/ttyUSB0", 1, 2, "") << QList<TPortEntry>{usb("/dev/ttyUSB1", 1, 2, "")} << -1;
  QTest::newRow("nothing was open") << TPortEntry{} << QList<TPortEntry>{TPortEntry{}} << -1;
}

void TstPortNames::returnedAdapter() {
  QFETCH(TPortEntry, lost);
  QFETCH(QList<TPortEntry>, now);
  QFETCH(int, found);
  QCOMPARE(int(PortNames::findReturned(lost, now)), found);
}

void TstPortNames::holdersInAProcFolder() {
  // A folder laid out as /proc: processes by number, their open files as links in fd/.
  Pty pty;
  QVERIFY(pty.slave >= 0);
  QTemporaryDir proc;
  const QString p = proc.path();
  auto process = [&](const QString &pid, const QByteArray &comm, const QStringList &files) {
    QVERIFY(QDir(p).mkpath(pid + "/fd"));
    if (!comm.isNull()) {
      QFile f(p + "/" + pid + "/comm");
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(comm);
    }
    for (int i = 0; i < files.size(); ++i)
      QVERIFY(QFile::link(files.at(i), p + "/" + pid + "/fd/" + QString::number(i + 3)));
  };
  process("612", "ModemManager\n", {"/dev/null", pty.path});
  process("700", "other\n", {"/dev/null", "/dev/zero"});
  process("701", "gone\n", {p + "/missing"});
  process("702", QByteArray(), {pty.path});   // no name to be had
  process("self", "self\n", {pty.path});      // not a process number
  QVERIFY(QDir(p).mkdir("800"));              // no fd folder

  QCOMPARE(said(PortTrouble::holdersOf(pty.path, p)), (QStringList{"612 ModemManager", "702 "}));
  // Reached through a link (a virtual port): the same device, the same holders.
  QVERIFY(QFile::link(pty.path, p + "/COM3"));
  QCOMPARE(PortTrouble::holdersOf(p + "/COM3", p).size(), 2);
  // /dev/zero by one of them; a missing device or folder finds nobody.
  QCOMPARE(said(PortTrouble::holdersOf("/dev/zero", p)), QStringList{"700 other"});
  QVERIFY(PortTrouble::holdersOf(p + "/missing", p).isEmpty());
  QVERIFY(PortTrouble::holdersOf(pty.path, p + "/missing").isEmpty());
}

void TstPortNames::holdersOfThisProcess() {
  Pty pty;
  QVERIFY(pty.slave >= 0);
  const PortTrouble::Facts facts = PortTrouble::factsFor(pty.path);
  QVERIFY(facts.permitted);   // ours
  QCOMPARE(facts.device, pty.path);
  bool self = false;
  for (const auto &h : facts.holders) self = self || h.pid == ::getpid();
  QVERIFY(self);
}

void TstPortNames::troubleText_data() {
  using PortTrouble::Facts;
  QTest::addColumn<Facts>("facts");
  QTest::addColumn<QStringList>("says");
  QTest::addColumn<QStringList>("never");
  const QString usermod = QStringLiteral("sudo usermod -aG %1 $USER");
  const QString mmStop = QStringLiteral("sudo systemctl stop ModemManager");
  QTest::newRow("no rights") << Facts{"/dev/ttyUSB0", false, "", false, {}}
                             << QStringList{"/dev/ttyUSB0", "dialout", usermod.arg("dialout"), "войдите"}
                             << QStringList{"занят", mmStop};
  QTest::newRow("no rights, the device's group")
      << Facts{"/dev/ttyUSB0", false, "uucp", false, {}}
      << QStringList{"uucp", usermod.arg("uucp")} << QStringList{"dialout"};
  QTest::newRow("joined, not logged in again")
      << Facts{"/dev/ttyACM0", false, "dialout", true, {}}
      << QStringList{"/dev/ttyACM0", "dialout", "войдите снова"} << QStringList{"usermod", "занят"};
  QTest::newRow("held by ModemManager")
      << Facts{"/dev/ttyACM0", true, "dialout", false, {{612, "ModemManager"}}}
      << QStringList{"/dev/ttyACM0", "занят", "ModemManager (PID 612)", mmStop}
      << QStringList{"usermod", "dialout"};
  QTest::newRow("held by two")
      << Facts{"/dev/ttyUSB0", true, "dialout", false, {{100, "minicom"}, {200, ""}}}
      << QStringList{"minicom (PID 100)", "? (PID 200)"} << QStringList{"ModemManager", "usermod"};
  QTest::newRow("held, holder unknown, ttyACM")
      << Facts{"/dev/ttyACM1", true, "", false, {}}
      << QStringList{"/dev/ttyACM1", "занят", "ModemManager", mmStop} << QStringList{"PID", "usermod"};
  QTest::newRow("held, holder unknown, ttyUSB")
      << Facts{"/dev/ttyUSB3", true, "", false, {}}
      << QStringList{"/dev/ttyUSB3", "занят"} << QStringList{"ModemManager", "PID", "usermod"};
}

void TstPortNames::troubleText() {
  QFETCH(PortTrouble::Facts, facts);
  QFETCH(QStringList, says);
  QFETCH(QStringList, never);
  const QString text = PortTrouble::explain(facts);
  for (const QString &s : says) QVERIFY2(text.contains(s), qPrintable(s + " not in: " + text));
  for (const QString &s : never) QVERIFY2(!text.contains(s), qPrintable(s + " in: " + text));
}

void TstPortNames::heldPortNamesItsHolder() {
  // A port this process already has open is refused to a second opener (its lock), as one that
  // another program holds: the reason names the holder, and Qt's own words follow.
  Pty pty;
  QVERIFY(pty.master >= 0);
  TComPort first, second;
  QString reason;
  QVERIFY2(first.openDevice(pty.path, &reason), qPrintable(reason));
  QVERIFY(!second.openDevice(pty.path, &reason));
  const QString self = QStringLiteral("(PID %1)").arg(::getpid());
  QVERIFY2(reason.contains(QStringLiteral("занят другой программой")) && reason.contains(self),
           qPrintable(reason));
  QVERIFY(reason.contains(QStringLiteral("\n(")));
}

QTEST_GUILESS_MAIN(TstPortNames)
#include "tst_portnames.moc"
