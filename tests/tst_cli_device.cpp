// quorlan-cli against simulated controllers on pseudo-terminals: a write with backup and
// verify, a verify that finds a changed byte, several controllers at once with one silent, and
// ports named wrongly.
#include <QtTest>

#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "clisupport.h"
#include "ptysupport.h"
#include "image/FieldNames.h"
#include "simsupport.h"

namespace {

QByteArray fileBytes(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray imageBytes(const ConfigValue &v) {
  ConfigImageBytes image{};
  (void)encodeImage(v, image);
  return QByteArray(reinterpret_cast<const char *>(image.data()), int(image.size()));
}

ConfigValue sample() {
  ConfigValue v = ConfigValue::startup();
  v.texts[1] = QStringLiteral("Склад 7");
  v.texts[3] = QStringLiteral("+79161234567");
  v.spins[1] = 4;
  return v;
}

}  // namespace

class TestCliDevice : public QObject {
  Q_OBJECT
  QTemporaryDir dir;
  QString config;

  QString path(const QString &name) const { return dir.filePath(name); }

private slots:
  void initTestCase() {
    testsupport::isolateRuntimeDir();
    QVERIFY(dir.isValid());
    config = path(QStringLiteral("sample.cfg"));
    QVERIFY(saveValue(config, sample()));
  }

  // The backup holds what the controller had, the controller then holds the file, and with
  // stderr not a terminal nothing but the result is printed.
  void writeWithBackupAndVerify() {
    Sim sim;
    QVERIFY(sim.start(41));
    const QString backup = path(QStringLiteral("backup.cfg"));
    const CliRun r = runCli({QStringLiteral("write"), QStringLiteral("--port"), QStringLiteral("COM41"), config,
                             QStringLiteral("--verify"), QStringLiteral("--backup"), backup});
    QVERIFY2(r.code == 0, qPrintable(r.out + r.err));
    QVERIFY2(r.out.contains(QStringLiteral("COM41: записано и проверено (")), qPrintable(r.out));
    QCOMPARE(r.err, QString());   // no progress bar off a terminal
    QCOMPARE(fileBytes(backup), imageBytes(ConfigValue::startup()));
    QTRY_COMPARE_WITH_TIMEOUT(sim.count("checksum good"), 1, 3000);

    const QString back = path(QStringLiteral("back.cfg"));
    const CliRun read = runCli({QStringLiteral("read"), QStringLiteral("--port"), QStringLiteral("COM41"),
                                QStringLiteral("-o"), back});
    QCOMPARE(read.code, 0);
    QCOMPARE(fileBytes(back), fileBytes(config));
  }

  // The controller confirms but keeps a changed byte: the read-back names the setting.
  void verifyFindsAChangedByte() {
    Sim sim;
    QVERIFY(sim.start(42, {QStringLiteral("--fault"), QStringLiteral("store-changed:3660")}));
    const CliRun r = runCli({QStringLiteral("write"), QStringLiteral("--port"), QStringLiteral("COM42"), config,
                             QStringLiteral("--verify")});
    QCOMPARE(r.code, 3);
    QVERIFY2(r.out.contains(QStringLiteral("Общие установки › Количество попыток отправки сообщения = 4 → 5")),
             qPrintable(r.out));
    QVERIFY2(r.out.contains(QStringLiteral("COM42: проверка не совпала")), qPrintable(r.out));
    QTRY_COMPARE_WITH_TIMEOUT(sim.count("byte 3660 stored changed"), 1, 3000);
  }

  void severalPortsOneSilent() {
    Sim a, b;
    QVERIFY(a.start(43));
    QVERIFY(b.start(44));
    testsupport::TestPty silent;
    QVERIFY(silent.open());
    const QString backup = path(QStringLiteral("backup-{port}.cfg"));
    const CliRun r = runCli({QStringLiteral("write"), QStringLiteral("--port"), QStringLiteral("COM43"),
                             QStringLiteral("--port"), silent.device, QStringLiteral("--port"), QStringLiteral("COM44"),
                             config, QStringLiteral("--verify"), QStringLiteral("--backup"), backup,
                             QStringLiteral("--wait"), QStringLiteral("1")});
    QCOMPARE(r.code, 1);
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY2(lines.size() == 5, qPrintable(r.out));   // two backups, three results
    QVERIFY2(lines.contains(QStringLiteral("COM43: копия: ") + path(QStringLiteral("backup-COM43.cfg"))), qPrintable(r.out));
    QVERIFY2(lines[2].startsWith(QStringLiteral("COM43: записано и проверено (")), qPrintable(r.out));
    QVERIFY2(lines[3].startsWith(silent.device + QStringLiteral(": ошибка: контроллер не отвечает")), qPrintable(r.out));
    QVERIFY2(lines[4].startsWith(QStringLiteral("COM44: записано и проверено (")), qPrintable(r.out));
    QCOMPARE(fileBytes(path(QStringLiteral("backup-COM44.cfg"))), imageBytes(ConfigValue::startup()));
    QTRY_COMPARE_WITH_TIMEOUT(a.count("checksum good"), 1, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(b.count("checksum good"), 1, 3000);
  }

  // On a terminal the bar shows the bytes and the time left, and is wiped before the result.
  void progressBarOnATerminal() {
    Sim sim;
    QVERIFY(sim.start(46));
    testsupport::TestPty terminal;
    QVERIFY(terminal.open());
    QProcess p;
    p.setStandardErrorFile(terminal.device);
    p.start(cliBinary(), {QStringLiteral("write"), QStringLiteral("--port"), QStringLiteral("COM46"), config,
                          QStringLiteral("--verify")});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
    ::fcntl(terminal.master, F_SETFL, O_NONBLOCK);
    QByteArray shown;
    char buf[4096];
    for (ssize_t n; (n = ::read(terminal.master, buf, sizeof buf)) > 0;) shown.append(buf, int(n));
    const QString text = QString::fromUtf8(shown);
    QVERIFY2(text.contains(QStringLiteral("/8246 байт, осталось ")), qPrintable(text));
    QVERIFY2(text.endsWith(QStringLiteral("\r\033[K")), qPrintable(text));
  }

  void infoAndTime() {
    Sim sim;
    QVERIFY(sim.start(45, {QStringLiteral("--tm-key"), QStringLiteral("0A0000AABBCCDDEE")}));
    const CliRun info = runCli({QStringLiteral("info"), QStringLiteral("--port"), QStringLiteral("COM45")});
    QCOMPARE(info.code, 0);
    QVERIFY2(info.out.startsWith(QStringLiteral("Версия: 2.10\nМастер ключ: 0A0000AABBCCDDEE\nДатчик 1: 28FF4A1B02160345\nДатчик 2: нет\n")),
             qPrintable(info.out));
    QVERIFY(info.out.contains(QStringLiteral("Датчик 8: 28FF33D4C2150418\n")));
    const CliRun time = runCli({QStringLiteral("time"), QStringLiteral("--port"), QStringLiteral("COM45")});
    QCOMPARE(time.code, 0);
    QVERIFY2(time.out.contains(QStringLiteral("Дата: ")) && time.out.contains(QStringLiteral("Время: ")), qPrintable(time.out));
  }

  void portsNamedWrongly_data() {
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("why");
    QTest::newRow("not a name") << "USB1" << 2 << "COM<номер>";
    QTest::newRow("no number") << "COMx" << 2 << "COM<номер>";
    QTest::newRow("a folder") << "/tmp" << 2 << "не символьное устройство";
    QTest::newRow("missing path") << "/dev/nonexistent-tty" << 2 << "нет такого устройства";
    QTest::newRow("absent port") << "COM250" << 1 << "COM250 в системе не найден";
  }
  void portsNamedWrongly() {
    QFETCH(QString, port);
    QFETCH(int, code);
    QFETCH(QString, why);
    const CliRun r = runCli({QStringLiteral("info"), QStringLiteral("--port"), port});
    QCOMPARE(r.code, code);
    QVERIFY2((r.out + r.err).contains(why), qPrintable(r.out + r.err));
  }

  void severalPortsNeedPerPortFiles() {
    const CliRun r = runCli({QStringLiteral("read"), QStringLiteral("--port"), QStringLiteral("COM1"),
                             QStringLiteral("--port"), QStringLiteral("COM2"), QStringLiteral("-o"), path(QStringLiteral("x.cfg"))});
    QCOMPARE(r.code, 2);
    QVERIFY(r.err.contains(QStringLiteral("{port}")));
  }
};

QTEST_GUILESS_MAIN(TestCliDevice)
#include "tst_cli_device.moc"
