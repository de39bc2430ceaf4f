// Port names: Linux devices as COM<n>, the virtual-port folder, the picker's order and the
// port number read from the picker's text.
#include <QtTest>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include "link/ComPort.h"
#include "link/PortNames.h"
#include "testsupport.h"

namespace {
TPortEntry dev(const QString &path) { return {QString(), path, QStringLiteral("d"), 0}; }
TPortEntry virt(int n, const QString &path) {
  return {QStringLiteral("COM%1").arg(n), path, QStringLiteral("v"), n};
}
QStringList names(const QList<TPortEntry> &l) {
  QStringList out;
  for (const auto &e : l) out << e.name;
  return out;
}
}  // namespace

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
  const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
  qunsetenv("XDG_RUNTIME_DIR");
  const QString fallback = PortNames::virtualPortFolder();
  const QByteArray fb = QFile::encodeName(fallback);
  if (QFileInfo::exists(fallback)) {
    qWarning("%s exists: the fallback folder is not checked", fb.constData());
  } else {
    QCOMPARE(::mkdir(fb.constData(), 0700), 0);
    QCOMPARE(::chmod(fb.constData(), 0777), 0);
    QVERIFY(QFile::link("/dev/null", fallback + "/COM777"));
    const QStringList planted = names(PortNames::systemPorts());
    QVERIFY(QFile::remove(fallback + "/COM777"));
    QCOMPARE(::rmdir(fb.constData()), 0);
    QVERIFY(!planted.contains("COM777"));
    PortNames::systemPorts();
    struct stat st {};
    const bool made = ::lstat(fb.constData(), &st) == 0;
    ::rmdir(fb.constData());
    QVERIFY(made && S_ISDIR(st.st_mode));
    QCOMPARE(st.st_mode & 07777, mode_t(0700));
    QCOMPARE(st.st_uid, ::geteuid());
  }
  if (!saved.isEmpty()) qputenv("XDG_RUNTIME_DIR", saved);
}

void TstPortNames::systemListIncludesVirtualPorts() {
  const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
  qunsetenv("XDG_RUNTIME_DIR");
  QVERIFY(PortNames::virtualPortFolder().startsWith("/tmp/serialcomm-"));
  const QString runtime = testsupport::isolateRuntimeDir();
  QCOMPARE(PortNames::virtualPortFolder(), runtime + "/serialcomm");
  QVERIFY(QDir(runtime).mkdir("serialcomm",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
  // A number far above anything a real device gets.
  QVERIFY(QFile::link("/dev/null", runtime + "/serialcomm/COM777"));
  const QList<TPortEntry> all = PortNames::systemPorts();
  QVERIFY(names(all).contains("COM777"));
  const QStringList sorted = [&] {
    QList<TPortEntry> copy = all;
    PortNames::sortForPicker(copy);
    return names(copy);
  }();
  QCOMPARE(names(all), sorted);
  QCOMPARE(PortNames::entryForNumber(777).device, runtime + "/serialcomm/COM777");
  QVERIFY(PortNames::entryForNumber(778).device.isEmpty());
  QVERIFY(PortNames::entryForNumber(0).device.isEmpty());
  if (!saved.isEmpty()) qputenv("XDG_RUNTIME_DIR", saved);
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

QTEST_GUILESS_MAIN(TstPortNames)
#include "tst_portnames.moc"
