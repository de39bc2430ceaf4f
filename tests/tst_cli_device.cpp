// quorlan-cli against simulated controllers on pseudo-terminals: a write with backup and
// verify, a verify that finds a changed byte, several controllers at once with one silent, the
// results in JSON, a run stopped by a signal, and ports named wrongly.
#include <QtTest>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <poll.h>
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

// What a finished program left on the terminal. The kernel hands the slave's last bytes to the
// master a moment after the writer exits: read until the hang-up, not until the first empty read.
QString terminalText(int master) {
  QByteArray shown;
  char buf[4096];
  for (pollfd pfd{master, POLLIN, 0}; ::poll(&pfd, 1, 2000) > 0;) {
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n == 0 || (n < 0 && errno != EAGAIN)) break;
    if (n > 0) shown.append(buf, int(n));
  }
  return QString::fromUtf8(shown);
}

QList<QJsonObject> jsonLines(const QString &text) {
  QList<QJsonObject> objects;
  for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
    objects << QJsonDocument::fromJson(line.toUtf8()).object();
  return objects;
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

  // The controller confirms but keeps a changed byte: the read-back, made unless --no-verify
  // says otherwise, names the setting.
  void verifyFindsAChangedByte_data() {
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("result");
    QTest::newRow("by default") << QStringList{} << 3 << "COM42: проверка не совпала";
    QTest::newRow("--verify") << QStringList{"--verify"} << 3 << "COM42: проверка не совпала";
    QTest::newRow("--no-verify") << QStringList{"--no-verify"} << 0 << "COM42: записано (";
  }
  void verifyFindsAChangedByte() {
    QFETCH(QStringList, extra);
    QFETCH(int, code);
    QFETCH(QString, result);
    Sim sim;
    QVERIFY(sim.start(42, {QStringLiteral("--fault"), QStringLiteral("store-changed:3660")}));
    const CliRun r = runCli(QStringList{QStringLiteral("write"), QStringLiteral("--port"), QStringLiteral("COM42"), config} + extra);
    QCOMPARE(r.code, code);
    QVERIFY2(r.out.contains(result), qPrintable(r.out));
    QCOMPARE(r.out.contains(QStringLiteral("Общие установки › Количество попыток отправки сообщения = 4 → 5")), code == 3);
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

  // One object a line for each port, in the order given: outcome keywords, numbers for seconds,
  // the read-back's differences by name.
  void severalPortsInJson() {
    Sim good, changed;
    QVERIFY(good.start(47));
    QVERIFY(changed.start(48, {QStringLiteral("--fault"), QStringLiteral("store-changed:3660")}));
    testsupport::TestPty silent;
    QVERIFY(silent.open());
    const CliRun r = runCli({QStringLiteral("write"), QStringLiteral("--json"), QStringLiteral("--port"), QStringLiteral("COM47"),
                             QStringLiteral("--port"), QStringLiteral("COM48"), QStringLiteral("--port"), silent.device, config,
                             QStringLiteral("--backup"), path(QStringLiteral("json-{port}.cfg")), QStringLiteral("--wait"), QStringLiteral("1")});
    QCOMPARE(r.code, 1);
    const QList<QJsonObject> o = jsonLines(r.out);
    QVERIFY2(o.size() == 3, qPrintable(r.out));
    QCOMPARE(o[0].value("port").toString(), QStringLiteral("COM47"));
    QCOMPARE(o[0].value("outcome").toString(), QStringLiteral("ok"));
    QCOMPARE(o[0].value("result").toString(), QStringLiteral("записано и проверено"));
    QCOMPARE(o[0].value("backup").toString(), path(QStringLiteral("json-COM47.cfg")));
    QVERIFY(o[0].value("seconds").isDouble() && o[0].value("seconds").toDouble() > 0);
    QCOMPARE(o[0].value("verified").toBool(), true);
    QCOMPARE(o[1].value("outcome").toString(), QStringLiteral("mismatch"));
    QCOMPARE(o[1].value("code").toInt(), 3);
    QCOMPARE(o[1].value("verified").toBool(), false);
    const QJsonObject d = o[1].value("differences").toArray().first().toObject();
    QCOMPARE(d.value("name").toString(), QStringLiteral("Общие установки › Количество попыток отправки сообщения"));
    QCOMPARE(d.value("a").toString() + d.value("b").toString(), QStringLiteral("45"));
    QCOMPARE(o[2].value("port").toString(), silent.device);
    QCOMPARE(o[2].value("outcome").toString(), QStringLiteral("no-connection"));
    QVERIFY(o[2].value("result").toString().startsWith(QStringLiteral("ошибка: контроллер не отвечает")));
  }

  // Ctrl-C or SIGTERM: each port's line says where it stood, a write stopped among its bytes says
  // the controller must be written again, the bar is wiped, and the code is 128 + the signal.
  void stoppedBySignal_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<QString>("said");
    QTest::newRow("Ctrl-C among the bytes") << int(SIGINT) << false
        << "COM49: прервано при записи (";
    QTest::newRow("SIGTERM while connecting") << int(SIGTERM) << true << ": прервано при подключении";
  }
  void stoppedBySignal() {
    QFETCH(int, signal);
    QFETCH(bool, silent);
    QFETCH(QString, said);
    Sim sim;
    QVERIFY(sim.start(49, {QStringLiteral("--fault"), QStringLiteral("stop-after:300")}));
    testsupport::TestPty quiet, terminal;
    QVERIFY(quiet.open());
    QVERIFY(terminal.open());
    QProcess p;
    p.setStandardErrorFile(terminal.device);
    p.start(cliBinary(), {QStringLiteral("write"), QStringLiteral("--port"), silent ? quiet.device : QStringLiteral("COM49"),
                          config, QStringLiteral("--json")});
    QVERIFY(p.waitForStarted());
    if (silent) QTest::qWait(300);
    else QTRY_VERIFY_WITH_TIMEOUT(sim.log().contains("acknowledgements stop at byte 300"), 10000);
    QTest::qWait(500);   // a bar is drawn every 200 ms; room for one on a loaded machine
    ::kill(pid_t(p.processId()), signal);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 128 + signal);
    const QJsonObject o = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    QCOMPARE(o.value("outcome").toString(), QStringLiteral("interrupted"));
    QCOMPARE(o.value("code").toInt(), 128 + signal);
    const QString line = o.value("port").toString() + QStringLiteral(": ") + o.value("result").toString();
    QVERIFY2(line.contains(said), qPrintable(line));
    QCOMPARE(o.value("incompleteWrite").toBool(), !silent);
    QCOMPARE(line.contains(QStringLiteral("неполная конфигурация, ее нужно записать снова")), !silent);
    QCOMPARE(o.value("stage").toString(), silent ? QStringLiteral("connect") : QStringLiteral("write"));
    const QString shown = terminalText(terminal.master);
    if (!silent) QVERIFY2(shown.contains(QStringLiteral("/8246 байт")), qPrintable(shown));
    QVERIFY2(shown.isEmpty() || shown.endsWith(QStringLiteral("\r\033[K")), qPrintable(shown));
  }

  // On a terminal the bar shows the bytes and the time left, and is wiped before the result.
  void progressBarOnATerminal() {
    // The read-back starts half a second late, so the bar is drawn between the halves however fast
    // the rest goes.
    Sim sim;
    QVERIFY(sim.start(46, {QStringLiteral("--fault"), QStringLiteral("echo-delay:500:LOAD")}));
    testsupport::TestPty terminal;
    QVERIFY(terminal.open());
    QProcess p;
    p.setStandardErrorFile(terminal.device);
    p.start(cliBinary(), {QStringLiteral("write"), QStringLiteral("--port"), QStringLiteral("COM46"), config,
                          QStringLiteral("--verify")});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
    const QString text = terminalText(terminal.master);
    QVERIFY2(text.contains(QStringLiteral("/8246 байт, осталось ")), qPrintable(text));
    QVERIFY2(text.endsWith(QStringLiteral("\r\033[K")), qPrintable(text));
    // -q keeps the terminal clean.
    p.start(cliBinary(), {QStringLiteral("-q"), QStringLiteral("write"), QStringLiteral("--port"), QStringLiteral("COM46"), config});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
    QCOMPARE(terminalText(terminal.master), QString());
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

    // One port takes one exchange at a time.
    QList<CliRun> json = runClis({{QStringLiteral("info"), QStringLiteral("--port"), QStringLiteral("COM45"), QStringLiteral("--json")},
                                  {QStringLiteral("ports"), QStringLiteral("--virtual")}});
    json.insert(1, runCli({QStringLiteral("-v"), QStringLiteral("time"), QStringLiteral("--port"), QStringLiteral("COM45"), QStringLiteral("--json")}));
    const QJsonObject i = QJsonDocument::fromJson(json[0].out.toUtf8()).object();
    QCOMPARE(i.value("outcome").toString(), QStringLiteral("ok"));
    QCOMPARE(i.value("version").toString(), QStringLiteral("2.10"));
    QCOMPARE(i.value("masterKey").toString(), QStringLiteral("0A0000AABBCCDDEE"));
    const QJsonArray sensors = i.value("sensors").toArray();
    QCOMPARE(sensors.size(), 8);
    QCOMPARE(sensors[1].toString(), QString());
    QCOMPARE(sensors[7].toString(), QStringLiteral("28FF33D4C2150418"));
    const QJsonObject t = QJsonDocument::fromJson(json[1].out.toUtf8()).object();
    QCOMPARE(t.value("result").toString(), QStringLiteral("время установлено"));
    QVERIFY(!t.value("date").toString().isEmpty() && !t.value("time").toString().isEmpty());
    // -v: what went each way, time-stamped, on stderr only.
    const QRegularExpression sent(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} COM45 → TIME\\\\r\\\\n$"),
                                  QRegularExpression::MultilineOption);
    QVERIFY2(json[1].err.contains(sent), qPrintable(json[1].err));
    QVERIFY2(json[1].err.contains(QStringLiteral(" COM45 ← Ver.")), qPrintable(json[1].err));
    QCOMPARE(json[2].out, QStringLiteral("COM45\n"));
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
