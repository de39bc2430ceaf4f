#include "CommandLine.h"

#include <QList>
#include <algorithm>

#include "Output.h"

namespace cli {

namespace {

struct CommandText {
  QString heading;    // the group the overview starts with this command
  QString synopsis;   // after "quorlan-cli", the command's name first
  QString summary;    // its line in the overview
  QString body;       // its help after the usage line
};

const QList<CommandText> &commandTexts() {
  static const QString portNote = QStringLiteral(
      "  --port ПОРТ        COM<n> или путь устройства; можно повторить\n"
      "  --wait СЕК         сколько ждать ответа контроллера на подключение (по умолчанию 10)\n"
      "  --json             итог каждого порта строкой-объектом JSON\n"
      "  -q, --quiet        без полосы хода, только итоги и ошибки\n"
      "  -v, --verbose      каждая строка и каждый байт обмена с контроллером, со временем, в stderr\n");
  static const QList<CommandText> texts{
      {QStringLiteral("Файлы конфигурации:"), QStringLiteral("check ФАЙЛ [--json]"),
       QStringLiteral("проверить размер и контрольную сумму"),
       QStringLiteral("Проверяет, что файл - конфигурация: ровно 4123 байта и верная контрольная сумма.\n"
                      "Код 0 - файл в порядке, 2 - сказано, что не так.\n"
                      "  --json             итог объектом JSON\n")},
      {{}, QStringLiteral("dump ФАЙЛ [ИМЯ...] [--json]"), QStringLiteral("все настройки текстом: ИМЯ = ЗНАЧЕНИЕ"),
       QStringLiteral("Печатает каждую настройку строкой \"ИМЯ = ЗНАЧЕНИЕ\". Имя - как в окне программы:\n"
                      "вкладка › группа › подпись; для деревьев реакций: дерево › вход › событие.\n"
                      "Значение - как его показывает окно; флажки - \"да\"/\"нет\"; управляющие символы\n"
                      "и \"\\\" записаны как \\xNN и \\\\.\n"
                      "ИМЯ после файла оставляет только эту настройку или группу (начало имени до \" › \").\n"
                      "  --json             то же одним объектом JSON\n")},
      {{}, QStringLiteral("diff ФАЙЛ_А ФАЙЛ_Б [--json]"), QStringLiteral("только различающиеся настройки"),
       QStringLiteral("Печатает только различающиеся настройки: \"ИМЯ = ЗНАЧЕНИЕ_А → ЗНАЧЕНИЕ_Б\".\n"
                      "Код 0 - файлы одинаковы, 1 - различаются, 2 - файл неверен (как у diff).\n"
                      "  --json             различия объектом JSON\n")},
      {{}, QStringLiteral("set ФАЙЛ ИМЯ=ЗНАЧЕНИЕ... -o ВЫХОД"),
       QStringLiteral("изменить настройки и сохранить в ВЫХОД"),
       QStringLiteral("Меняет настройки по именам, которые печатает dump, и сохраняет конфигурацию в ВЫХОД.\n"
                      "Пределы и допустимые символы - как при вводе в окне. Если хоть одно значение\n"
                      "отклонено, ничего не записывается (код 2).\n"
                      "  -o ВЫХОД           файл, в который сохранить (может совпадать с ФАЙЛ)\n")},
      {QStringLiteral("Контроллер:"), QStringLiteral("read --port ПОРТ... -o ФАЙЛ"),
       QStringLiteral("считать конфигурацию"),
       QStringLiteral("Считывает конфигурацию контроллера в файл.\n") + portNote +
           QStringLiteral("  -o ФАЙЛ            куда сохранить; при нескольких портах имя должно\n"
                          "                     содержать {port} - на его место встанет имя порта\n")},
      {{}, QStringLiteral("write --port ПОРТ... ФАЙЛ [--no-verify] [--backup ФАЙЛ]"),
       QStringLiteral("записать конфигурацию"),
       QStringLiteral("Записывает конфигурацию из файла в контроллер.\n") + portNote +
           QStringLiteral("  --backup ФАЙЛ      сначала считать и сохранить то, что было в контроллере\n"
                          "                     (при нескольких портах имя содержит {port})\n"
                          "После \"SAVE_OK\" конфигурация считывается и сравнивается побайтно; различия\n"
                          "печатаются словами dump, код 3.\n"
                          "  --no-verify        не считывать обратно\n"
                          "  --verify           проверять (так и по умолчанию)\n")},
      {{}, QStringLiteral("time --port ПОРТ..."), QStringLiteral("установить системное время"),
       QStringLiteral("Устанавливает часы контроллера по системному времени и печатает его отчет.\n") + portNote},
      {{}, QStringLiteral("info --port ПОРТ..."),
       QStringLiteral("версия, мастер ключ, идентификаторы датчиков"),
       QStringLiteral("Печатает версию программы контроллера, мастер ключ и восемь идентификаторов\n"
                      "датчиков.\n") +
           portNote},
      {QStringLiteral("Журнал обменов:"),
       QStringLiteral("journal [show|diff|export] [ПАРАМЕТРЫ]"),
       QStringLiteral("записи о каждом чтении и записи"),
       QStringLiteral("Каждое чтение и запись (из окна и из командной строки) записывается в журнал:\n"
                      "время, порт, версия и мастер ключ контроллера, итог и сама конфигурация.\n"
                      "  journal [фильтры] [--json]    записи, новые первыми\n"
                      "    --port ПОРТ  --key МАСТЕР_КЛЮЧ  --date ГГГГ-ММ-ДД  --from ГГГГ-ММ-ДД\n"
                      "    --to ГГГГ-ММ-ДД  --outcome ok|error\n"
                      "  journal show N [--json]       настройки записи N, как их печатает dump\n"
                      "  journal diff N M              различия двух записей (вместо номера - файл)\n"
                      "  journal export N -o ФАЙЛ      сохранить конфигурацию записи N в файл\n"
                      "Журнал лежит в папке данных пользователя; переменная QUORLAN_JOURNAL задает\n"
                      "другой файл.\n")},
      {QStringLiteral("Для дополнения в оболочке:"), QStringLiteral("names"), QStringLiteral("имена всех настроек"),
       QStringLiteral("Печатает имя каждой настройки строкой, как их печатает dump.\n")},
      {{}, QStringLiteral("ports [--virtual]"), QStringLiteral("имена портов, как их принимает --port"),
       QStringLiteral("Печатает имена портов системы и виртуальных портов симулятора, по одному в строке.\n"
                      "  --virtual          только виртуальные порты\n")},
  };
  return texts;
}

}  // namespace

QString programHelp() {
  QString text = QStringLiteral(
      "Использование: quorlan-cli КОМАНДА [ПАРАМЕТРЫ]\n"
      "Командная строка конфигуратора Quorlan для контроллеров KORVEL GSM.\n"
      "\n");
  for (const CommandText &c : commandTexts()) {
    if (!c.heading.isEmpty()) text += c.heading + QLatin1Char('\n');
    // The overview shows one port; the summaries line up where the usage lines allow.
    const QString synopsis = QString(c.synopsis).replace(QStringLiteral("ПОРТ..."), QStringLiteral("ПОРТ"));
    constexpr qsizetype kColumn = 32;
    text += QStringLiteral("  ") + synopsis +
            QString(synopsis.size() < kColumn ? kColumn - synopsis.size() : 3, QLatin1Char(' ')) + c.summary +
            QLatin1Char('\n');
  }
  return text + QStringLiteral(
                    "\n"
                    "ПОРТ: имя как в окне программы (COM1, COM33...) или путь устройства (/dev/ttyUSB0).\n"
                    "--port можно повторить: обмен идет со всеми контроллерами одновременно.\n"
                    "\"quorlan-cli КОМАНДА --help\" описывает команду; \"quorlan-cli --version\" - версии.\n"
                    "-q (--quiet) и -v (--verbose) можно указать и перед командой.\n"
                    "\n"
                    "Коды завершения: 0 успешно; 1 ошибка контроллера, порта или обмена (у diff -\n"
                    "файлы различаются); 2 неверные параметры или файл, отклоненное значение;\n"
                    "3 проверка записи не совпала; 130 прервано Ctrl-C, 143 - сигналом SIGTERM.\n");
}

QString commandHelp(const QString &command) {
  for (const CommandText &c : commandTexts())
    if (c.synopsis.section(QLatin1Char(' '), 0, 0) == command)
      return QStringLiteral("Использование: quorlan-cli ") + c.synopsis + QLatin1Char('\n') + c.body;
  return {};
}

Arguments parseArguments(const QString &command, const QStringList &args, const QList<Option> &options,
                         bool dashWords) {
  Arguments p;
  auto refuse = [&](const QString &why) {
    p.exit = usage(command, why);
    return p;
  };
  // Help wins wherever it stands, even where an option would take it as its value.
  if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
    out(commandHelp(command));
    p.exit = kOk;
    return p;
  }
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString &a = args[i];
    const auto option =
        std::find_if(options.begin(), options.end(), [&](const Option &o) { return o.name == a; });
    if (option == options.end()) {
      const bool word = !a.startsWith(QLatin1Char('-')) ||
                        (dashWords && (a.size() == 1 || a.contains(QLatin1Char('='))));
      if (!word) return refuse(QStringLiteral("неизвестный параметр %1").arg(a));
      p.words << a;
    } else if (!option->valued) {
      p.flags.insert(a);
    } else if (i + 1 >= args.size()) {
      return refuse(option->missing.isEmpty() ? QStringLiteral("после %1 нужно значение").arg(a) : option->missing);
    } else {
      const QString &value = args[++i];
      const QString why = option->take ? option->take(value) : QString();
      if (!why.isEmpty()) return refuse(why);
      p.values[a] << value;
    }
  }
  return p;
}

int usage(const QString &command, const QString &why) {
  errLine(why);
  errLine(QStringLiteral("подробнее: quorlan-cli %1 --help").arg(command));
  return kBadInput;
}

}  // namespace cli
