// quorlan-cli on configuration files: check, dump, diff and set as a script sees them, and the
// shell's completion of its commands and setting names.
#include <QtTest>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>

#include "clisupport.h"
#include "image/FieldNames.h"
#include "image/ReactionTrees.h"

namespace {

// A configuration with something set on every page.
ConfigValue sample() {
  ConfigValue v = ConfigValue::startup();
  v.texts[1] = QStringLiteral("Склад 7");
  v.texts[3] = QStringLiteral("+79161234567");
  v.texts[11] = QStringLiteral("+79990000001");
  v.spins[1] = 3;
  v.spins[68] = -250;
  v.checks[8] = true;
  v.checks[5] = true;
  v.modeBySms = 1;
  v.texts[22] = QStringLiteral("атм");
  // Input 1, closing: relay 2 on, slot 1 subscriber 1, slot 2 the dispatcher.
  v.setCaption(1, trees::kContactEvents[0].relays + 1, trees::relayStateCaption(2, trees::kSwitchOn));
  v.setCaption(1, trees::kContactEvents[0].phoneSlots, trees::subscriberSlotCaption(v.texts[3], 1));
  v.setCaption(1, trees::kContactEvents[0].phoneSlots + 1, trees::dispatcherSlotCaption(v.texts[11]));
  v.setCaption(2, trees::kUpperThreshold, trees::thresholdCaption(QStringLiteral("12,5")));
  v.setCaption(1, trees::kContactEvents[1].message, QStringLiteral("Дверь\\открыта"));
  return v;
}

QMap<QString, QString> parseDump(const QString &text) {
  QMap<QString, QString> m;
  for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    const qsizetype at = line.indexOf(QStringLiteral(" = "));
    m.insert(line.left(at), line.mid(at + 3));
  }
  return m;
}

}  // namespace

class TestCliFiles : public QObject {
  Q_OBJECT
  QTemporaryDir dir;
  QString startup, changed, changedDump, setAll;
  CliRun refusedAll;

  // Row tables are run as one command each, as a production line would: every row checks its
  // own part of the outcome.
  static QList<QPair<QString, QString>> changes() {
    return {
        {"Общие установки › Название объекта (ID)", "Цех 12"},
        {"Общие установки › Разрешенные номера › Абонент 8", "+79001112233"},
        {"Общие установки › Частота/период создания архивов (мин.)", "254"},
        {"Настройка датчиков › Аналоговые (АЦП) › Вход 8 › Диапазон измерений датчика › min", "-9999"},
        {"Настройка датчиков › Задержки › Задержки реле › Длительность включения реле (1 ед.=1сек) › Реле 3", "7"},
        {"Режим охраны › Снимаемые с охраны входы › аналоговые входы › 3", "да"},
        {"Режим охраны › Смена режимов по электронному ключу TM", "Запрещена"},
        {"Общие установки › Номер SMS центра", "+79262909090"},
        {"Настройка датчиков › Аналоговые (АЦП) › АЦП 8 › Норма › Реле › 8", "Выключить"},
        {"Настройка датчиков › Параметрические (mLan) › Датчик 3 › Норма › Телефоны › 9", "аб.1"},
        {"Настройка датчиков › Контактные › Вход 1 › Замыкание › Телефоны › 1", "Нет"},
        {"Настройка датчиков › Контактные › ОХРАНА › Снятие › Сообщение", "Снято с охраны, объект 7"},
        {"Настройка датчиков › Аналоговые (АЦП) › АЦП 4 › Ниже MIN порога › Порог", "-8,25"},
        {"Настройка датчиков › Параметрические (mLan) › Датчик 2 › Выше MAX порога › Порог", "25,5"},
        {"Настройка датчиков › Параметрические (mLan) › Идентификаторы датчиков › 4", "28FF0D7E61160390"},
        {"Режим охраны › Мастер ключ", "0A00001B2C3D4E5F"},
    };
  }
  static QList<QPair<QString, QString>> refusals() {
    return {
        {"Общие установки › Разрешенные номера › Абонент 2=+7916x", "недопустимый символ \"x\""},
        {"Общие установки › Разрешенные номера › Абонент 3=+7916123456789012", "не более 16"},
        {"Общие установки › Название объекта (ID)=Склад 12345", "не более 8"},
        {"Общие установки › Пароль доступа=пароль★", "кодировке"},
        {"Общие установки › Частота/период создания архивов (мин.)=255", "от 0 до 254"},
        {"Настройка датчиков › Задержки › Задержки реле › Длительность включения реле (1 ед.=1сек) › Реле 3=5с", "от 0 до 255"},
        {"Общие установки › Возможность передачи данных по каналу CSD=yes", "\"да\" или \"нет\""},
        {"Режим охраны › Смена режимов по SMS=Нет", "Разрешена"},
        {"Настройка датчиков › Контактные › Вход 2 › Замыкание › Реле › 1=Вкл", "Включить"},
        {"Настройка датчиков › Контактные › Вход 2 › Замыкание › Телефоны › 1=аб.5", "абонента 5 не задан"},
        {"Настройка датчиков › Аналоговые (АЦП) › АЦП 1 › Норма › Сообщение=" + QString(33, QLatin1Char('x')), "не более 32"},
        {"Настройка датчиков › Аналоговые (АЦП) › АЦП 1 › Выше MAX порога › Порог=4.5", "недопустимый символ \".\""},
        {"Настройка датчиков › Аналоговые (АЦП) › АЦП 2 › Выше MAX порога › Порог=1,2,3", "не число"},
        {"Настройка датчиков › Параметрические (mLan) › Датчик 1 › Выше MAX порога › Порог=12,25", "не более 4"},
        {"Настройка датчиков › Параметрические (mLan) › Идентификаторы датчиков › 1=28FF", "ровно 16"},
        {"Общие установки › Нет такого=1", "нет настройки \"Общие установки › Нет такого\""},
        {"Общие установки › Пароль доступа=a\\q", "неверная запись"},
    };
  }

  QString path(const QString &name) const { return dir.filePath(name); }

private slots:
  void initTestCase() {
    QVERIFY(dir.isValid());
    startup = path(QStringLiteral("startup.cfg"));
    changed = path(QStringLiteral("changed.cfg"));
    QVERIFY(saveValue(startup, ConfigValue::startup()));
    QVERIFY(saveValue(changed, sample()));
    const CliRun dump = runCli({QStringLiteral("dump"), changed});
    QCOMPARE(dump.code, 0);
    changedDump = dump.out;

    setAll = path(QStringLiteral("set.cfg"));
    QStringList args{QStringLiteral("set"), changed};
    for (const auto &[name, value] : changes()) args << name + QLatin1Char('=') + value;
    const CliRun set = runCli(args + QStringList{QStringLiteral("-o"), setAll});
    QVERIFY2(set.code == 0, qPrintable(set.err));

    args = QStringList{QStringLiteral("set"), changed, QStringLiteral("Общие установки › Пароль доступа=1234")};
    for (const auto &[assignment, why] : refusals()) args << assignment;
    refusedAll = runCli(args + QStringList{QStringLiteral("-o"), path(QStringLiteral("refused.cfg"))});
  }

  void namesAreUniqueAndFoundByName() {
    QSet<QString> seen;
    for (const fieldnames::Field &f : fieldnames::allFields()) {
      QVERIFY2(!seen.contains(f.name), qPrintable(f.name));
      seen.insert(f.name);
      QCOMPARE(fieldnames::fieldByName(f.name), &f);
    }
  }

  void dumpShowsValuesAsTheWindowDoes_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::newRow("text") << "Общие установки › Название объекта (ID)" << "Склад 7";
    QTest::newRow("spin") << "Общие установки › Количество попыток отправки сообщения" << "3";
    QTest::newRow("negative") << "Настройка датчиков › Аналоговые (АЦП) › Вход 1 › Диапазон измерений датчика › max" << "-250";
    QTest::newRow("check on") << "Общие установки › Возможность передачи данных по каналу CSD" << "да";
    QTest::newRow("check off") << "Общие установки › Время отправки статуса › 00:00 Часов" << "нет";
    QTest::newRow("check hour") << "Общие установки › Время отправки статуса › 06:00 Часов" << "да";
    QTest::newRow("radio") << "Режим охраны › Смена режимов по SMS" << "Запрещена";
    QTest::newRow("radio default") << "Режим охраны › Смена режимов по электронному ключу TM" << "Разрешена";
    QTest::newRow("units") << "Настройка датчиков › Аналоговые (АЦП) › Вход 2 › Единицы измерения датчика" << "атм";
    QTest::newRow("relay") << "Настройка датчиков › Контактные › Вход 1 › Замыкание › Реле › 2" << "Включить";
    QTest::newRow("relay untouched") << "Настройка датчиков › Контактные › Вход 1 › Замыкание › Реле › 1" << "Не изменять";
    QTest::newRow("slot") << "Настройка датчиков › Контактные › Вход 1 › Замыкание › Телефоны › 1" << "+79161234567 (аб.1)";
    QTest::newRow("dispatcher") << "Настройка датчиков › Контактные › Вход 1 › Замыкание › Телефоны › 2" << "+79990000001 (Д.Ц.)";
    QTest::newRow("empty slot") << "Настройка датчиков › Контактные › Вход 1 › Замыкание › Телефоны › 3" << "Нет";
    QTest::newRow("threshold") << "Настройка датчиков › Аналоговые (АЦП) › АЦП 1 › Выше MAX порога › Порог" << "12,5";
    QTest::newRow("sensor threshold") << "Настройка датчиков › Параметрические (mLan) › Датчик 1 › Ниже MIN порога › Порог" << "00";
    QTest::newRow("escaped") << "Настройка датчиков › Контактные › Вход 1 › Размыкание › Сообщение" << "Дверь\\\\открыта";
    QTest::newRow("mains") << "Настройка датчиков › Контактные › Сеть 220 В › Пропадание › Сообщение" << "Контроль питания:Нет";
  }
  void dumpShowsValuesAsTheWindowDoes() {
    QFETCH(QString, name);
    QFETCH(QString, value);
    const auto values = parseDump(changedDump);
    QVERIFY2(values.contains(name), qPrintable(name));
    QCOMPARE(values.value(name), value);
  }

  void jsonHoldsTheSameAsText() {
    const CliRun json = runCli({QStringLiteral("dump"), changed, QStringLiteral("--json")});
    QCOMPARE(json.code, 0);
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(json.out.toUtf8(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    const auto values = parseDump(changedDump);
    QCOMPARE(qsizetype(o.size()), qsizetype(fieldnames::allFields().size()));
    QCOMPARE(qsizetype(values.size()), qsizetype(o.size()));
    for (auto it = values.begin(); it != values.end(); ++it) QCOMPARE(o.value(it.key()).toString(), it.value());
  }

  // Every name dump prints goes back through set with its own value, and nothing changes.
  void everyDumpedNameIsAcceptedBySet() {
    QStringList args{QStringLiteral("set"), changed};
    for (const QString &line : changedDump.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) args << line;
    QCOMPARE(args.size() - 2, qsizetype(fieldnames::allFields().size()));
    const QString out = path(QStringLiteral("same.cfg"));
#ifdef Q_OS_WIN
    // A Windows command line holds 32767 characters: the names go in parts, each set on the
    // output of the part before.
    QList<QStringList> parts;
    qsizetype length = 0;
    for (const QString &a : args.mid(2)) {
      if (parts.isEmpty() || length + a.size() > 16000) {
        parts.append(QStringList{});
        length = 0;
      }
      parts.last() << a;
      length += a.size() + 3;
    }
    for (qsizetype i = 0; i < parts.size(); ++i) {
      const QStringList partArgs = QStringList{QStringLiteral("set"), i ? out : changed} + parts[i] +
                                   QStringList{QStringLiteral("-o"), out};
      const CliRun set = runCli(partArgs);
      QVERIFY2(set.code == 0, qPrintable(set.err));
    }
#else
    args << QStringLiteral("-o") << out;
    const CliRun set = runCli(args);
    QVERIFY2(set.code == 0, qPrintable(set.err));
#endif
    QCOMPARE(runCli({QStringLiteral("dump"), out}).out, changedDump);
    QCOMPARE(runCli({QStringLiteral("diff"), changed, out}).out, QString());
  }

  void setChangesWhatItIsTold_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    for (const auto &[name, value] : changes()) QTest::newRow(qPrintable(name.section(QStringLiteral(" › "), -2))) << name << value;
  }
  void setChangesWhatItIsTold() {
    QFETCH(QString, name);
    QFETCH(QString, value);
    ConfigImageBytes image{};
    QVERIFY(readConfigFile(setAll, image));
    ConfigValue v = ConfigValue::startup();
    QVERIFY(decodeImage(image, v));
    const fieldnames::Field *f = fieldnames::fieldByName(name);
    QVERIFY(f);
    const QString shown = value == QStringLiteral("аб.1") ? QStringLiteral("+79161234567 (аб.1)") : value;
    QCOMPARE(fieldnames::valueText(*f, v), shown);
  }

  // diff lists exactly the changed settings, each with both values, and exits as diff(1) does:
  // 1 when the files differ, 0 when they are the same.
  void diffListsOnlyWhatDiffers() {
    const CliRun diff = runCli({QStringLiteral("diff"), changed, setAll});
    QCOMPARE(diff.code, 1);
    const QStringList lines = diff.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), changes().size());
    const auto before = parseDump(changedDump);
    for (const auto &[name, value] : changes()) {
      const QString prefix = name + QStringLiteral(" = ") + before.value(name) + QStringLiteral(" → ");
      QVERIFY2(std::any_of(lines.begin(), lines.end(), [&](const QString &l) { return l.startsWith(prefix); }),
               qPrintable(prefix));
    }
    const CliRun same = runCli({QStringLiteral("diff"), changed, changed});
    QCOMPARE(same.code, 0);
    QCOMPARE(same.out, QString());
  }

  // --json: one object; the outcome as a keyword or a boolean, the words beside it.
  void fileCommandsInJson_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("changedFile");   // the second file: the changed one, or a bad one
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");   // compact JSON
    QTest::newRow("check good") << "check" << true << 0 << "ok" << "true";
    QTest::newRow("check checksum") << "check" << true << 0 << "checksum" << "\"3B\"";
    QTest::newRow("check bad") << "check" << false << 2 << "ok" << "false";
    QTest::newRow("diff differs") << "diff" << true << 1 << "same" << "false";
    QTest::newRow("diff same") << "diff" << false << 0 << "same" << "true";
    QTest::newRow("diff names") << "diff" << true << 1 << "differences"
        << "[{\"a\":\"Склад 7\",\"b\":\"Цех 12\",\"name\":\"Общие установки › Название объекта (ID)\"}]";
  }
  void fileCommandsInJson() {
    QFETCH(QString, command);
    QFETCH(bool, changedFile);
    QFETCH(int, code);
    QFETCH(QString, key);
    QFETCH(QString, value);
    const QString bad = path(QStringLiteral("short.cfg"));
    QFile f(bad);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("short");
    f.close();
    QString only = path(QStringLiteral("one-change.cfg"));
    const CliRun set = runCli({QStringLiteral("set"), changed, QStringLiteral("Общие установки › Название объекта (ID)=Цех 12"),
                               QStringLiteral("-o"), only});
    QCOMPARE(set.code, 0);
    const QStringList args = command == QLatin1String("check") ? QStringList{command, changedFile ? startup : bad}
                                                                : QStringList{command, changed, changedFile ? only : changed};
    const CliRun r = runCli(args + QStringList{QStringLiteral("--json")});
    QCOMPARE(r.code, code);
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    const QJsonValue v = o.value(key);
    const QString compact = v.isArray() ? QString::fromUtf8(QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact))
                                        : QString::fromUtf8(QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
    QCOMPARE(compact, value);
    if (!changedFile && command == QLatin1String("check"))
      QVERIFY(o.value("error").toString().contains(QStringLiteral("размер 5 байт")));
  }

  // Names after dump's file choose a setting or a group.
  void dumpChosenSettings_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("lines");
    QTest::newRow("one") << "Общие установки › Название объекта (ID)" << 0 << 1;
    QTest::newRow("group") << "Общие установки › Разрешенные номера" << 0 << 9;
    QTest::newRow("not a whole level") << "Общие установки › Разреш" << 2 << 0;
  }
  void dumpChosenSettings() {
    QFETCH(QString, name);
    QFETCH(int, code);
    QFETCH(int, lines);
    const CliRun r = runCli({QStringLiteral("dump"), changed, name});
    QCOMPARE(r.code, code);
    QCOMPARE(r.out.count(QLatin1Char('\n')), lines);
    if (lines) QVERIFY(changedDump.contains(r.out));
  }

  // The shell's completion, called as bash calls it: the words so far and the one completed.
#ifndef Q_OS_WIN
  void completion_data() {
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QStringList>("replies");
    QTest::newRow("command") << QStringList{"-q", "wr"} << QStringList{"write"};
    QTest::newRow("option") << QStringList{"write", "--no"} << QStringList{"--no-verify"};
    QTest::newRow("first level") << QStringList{"set", "a.cfg", "Общ"} << QStringList{"Общие\\ установки\\ ›\\ "};
    QTest::newRow("whole name to set") << QStringList{"set", "a.cfg", "-o", "b.cfg", "Общие\\ установки\\ ›\\ Назв"}
                                       << QStringList{"Общие\\ установки\\ ›\\ Название\\ объекта\\ \\(ID\\)\\="};
    QTest::newRow("quoted, with = and :") << QStringList{"dump", "a.cfg", "'Общие установки › Время отправки статуса › 00:0"}
                                          << QStringList{"Общие установки › Время отправки статуса › 00:00 Часов"};
    QTest::newRow("file first") << QStringList{"set", "Общ"} << QStringList{};
  }
  void completion() {
    QFETCH(QStringList, words);
    QFETCH(QStringList, replies);
    // The words go in as the shell holds them, quotes and backslashes included.
    QString script = QStringLiteral("source '%1/packaging/quorlan-cli.bash-completion'\nCOMP_WORDS=('%2'")
                         .arg(QStringLiteral(QUORLAN_SOURCE_DIR), cliBinary());
    for (const QString &w : words) script += QStringLiteral(" '") + QString(w).replace(QStringLiteral("'"), QStringLiteral("'\\''")) + QLatin1Char('\'');
    script += QStringLiteral(")\nCOMP_CWORD=%1\n_quorlan_cli 2>/dev/null\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n").arg(words.size());
    QProcess bash;
    bash.start(QStringLiteral("bash"), {QStringLiteral("-c"), script});
    QVERIFY(bash.waitForFinished(30000));
    QCOMPARE(bash.exitCode(), 0);
    const QStringList got = QString::fromUtf8(bash.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(got, replies);
    // What completes a name goes through the shell whole.
    for (const QString &reply : replies) {
      if (!reply.contains(QStringLiteral("\\ "))) continue;
      QProcess echo;
      echo.start(QStringLiteral("bash"), {QStringLiteral("-c"), QStringLiteral("printf %s ") + reply});
      QVERIFY(echo.waitForFinished(10000));
      QVERIFY(fieldnames::fieldByName(QString::fromUtf8(echo.readAllStandardOutput()).chopped(1)) ||
              reply.endsWith(QStringLiteral("›\\ ")));
    }
  }
#endif

  void refusedValueIsNamed_data() {
    QTest::addColumn<QString>("why");
    for (const auto &[assignment, why] : refusals()) QTest::newRow(qPrintable(assignment.left(assignment.indexOf(QLatin1Char('='))).section(QStringLiteral(" › "), -2))) << why;
  }
  void refusedValueIsNamed() {
    QFETCH(QString, why);
    QVERIFY2(refusedAll.err.contains(why), qPrintable(refusedAll.err));
  }
  // A good change next to the refused ones is not written either.
  void refusedValueWritesNothing() {
    QCOMPARE(refusedAll.code, 2);
    QVERIFY(refusedAll.err.contains(QStringLiteral("ничего не записано")));
    QVERIFY(!QFile::exists(path(QStringLiteral("refused.cfg"))));
  }

  void badFilesAreNamed_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("why");
    QFile f(startup);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray good = f.readAll();
    QByteArray wrongSum = good;
    wrongSum[100] = char(wrongSum[100] + 1);
    QTest::newRow("wrong checksum") << wrongSum << "неверная контрольная сумма";
    QTest::newRow("short") << good.left(4000) << "размер 4000 байт";
    QTest::newRow("long") << good + "x" << "размер 4124 байт";
    QTest::newRow("empty") << QByteArray() << "размер 0 байт";
  }
  void badFilesAreNamed() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, why);
    const QString bad = path(QStringLiteral("bad.cfg"));
    QFile f(bad);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    f.close();
    const QString out = path(QStringLiteral("from-bad.cfg"));
    QList<QStringList> commands{{QStringLiteral("check"), bad}};
    if (QByteArray(QTest::currentDataTag()) == "wrong checksum")
      commands += {{QStringLiteral("dump"), bad}, {QStringLiteral("diff"), startup, bad},
                   {QStringLiteral("set"), bad, QStringLiteral("Общие установки › Пароль доступа=1"), QStringLiteral("-o"), out}};
    for (const QStringList &args : commands) {
      const CliRun r = runCli(args);
      QCOMPARE(r.code, 2);
      QVERIFY2(r.err.contains(why), qPrintable(r.err));
      QVERIFY(r.out.isEmpty());
    }
    QVERIFY(!QFile::exists(out));
  }
  void goodFilePassesCheck() { QCOMPARE(runCli({QStringLiteral("check"), startup}).code, 0); }

  void argumentsAndHelp() {
    const QStringList commands{"check", "dump", "diff", "set", "read", "write", "time", "info"};
    QList<QStringList> runs{{},
                            {QStringLiteral("frobnicate")},
                            {QStringLiteral("dump")},
                            {QStringLiteral("dump"), startup, QStringLiteral("--xml")},
                            {QStringLiteral("set"), startup, QStringLiteral("Общие установки › Пароль доступа=1")},
                            {QStringLiteral("--help")}};
    for (const QString &c : commands) runs.append({c, QStringLiteral("--help")});
    runs << QStringList{QStringLiteral("--version")} << QStringList{QStringLiteral("version")};
    const QList<CliRun> r = runClis(runs);
    for (int i = 0; i < 5; ++i) QVERIFY2(r[i].code == 2, qPrintable(runs[i].join(' ')));
    QVERIFY(r[5].out.contains(QStringLiteral("Коды завершения")));
    // No command: the overview goes where errors go.
    QCOMPARE(r[0].out, QString());
    QVERIFY(r[0].err.startsWith(QStringLiteral("Использование: quorlan-cli КОМАНДА")));
    for (const CliRun &v : r.mid(r.size() - 2)) {
      QCOMPARE(v.code, 0);
      QCOMPARE(v.out, QStringLiteral("quorlan-cli %1 (Qt %2)\n").arg(QStringLiteral(QUORLAN_VERSION), QString::fromLatin1(qVersion())));
    }
    for (int i = 0; i < commands.size(); ++i) {
      QCOMPARE(r[6 + i].code, 0);
      QVERIFY2(r[6 + i].out.startsWith(QStringLiteral("Использование: quorlan-cli ") + commands[i]),
               qPrintable(commands[i]));
    }
  }

  // One parser reads every command: an option it does not know, a missing value and a bad
  // port are told in the order they stand, then where the help is; "-" and "ИМЯ=ЗНАЧЕНИЕ" are
  // words to the file commands, options to the others.
  void complaintsInTheirOrder_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("why");
    QTest::newRow("unknown option") << QStringList{"dump", "a.cfg", "--xml"} << "неизвестный параметр --xml";
    QTest::newRow("value missing") << QStringList{"set", "a.cfg", "x=1", "-o"} << "после -o нужно значение";
    QTest::newRow("a dash is a file") << QStringList{"check", "-", "--frob"} << "неизвестный параметр --frob";
    QTest::newRow("bad port first") << QStringList{"info", "--port", "USB1", "--frob"}
                                    << "\"USB1\": порт пишется как COM<номер> или путь устройства";
    QTest::newRow("unknown before a bad port") << QStringList{"info", "--frob", "--port", "USB1"}
                                               << "неизвестный параметр --frob";
    QTest::newRow("a dash is an option") << QStringList{"read", "--port", "COM1", "-"} << "неизвестный параметр -";
    QTest::newRow("-o only for read") << QStringList{"time", "--port", "COM1", "-o", "x"} << "неизвестный параметр -o";
    QTest::newRow("bad wait") << QStringList{"read", "--port", "COM1", "--wait", "0"} << "--wait: нужно число секунд";
    QTest::newRow("wait nan") << QStringList{"read", "--port", "COM1", "--wait", "nan"} << "--wait: нужно число секунд";
  }
  void complaintsInTheirOrder() {
    QFETCH(QStringList, args);
    QFETCH(QString, why);
    const CliRun r = runCli(args);
    QCOMPARE(r.code, 2);
    QCOMPARE(r.out, QString());
    QCOMPARE(r.err, QStringLiteral("quorlan-cli: %1\nquorlan-cli: подробнее: quorlan-cli %2 --help\n").arg(why, args[0]));
  }
};

QTEST_GUILESS_MAIN(TestCliFiles)
#include "tst_cli_files.moc"
