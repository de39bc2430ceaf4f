#include "Help.h"

#include <QStringList>

#include "Output.h"

namespace cli {

QString programHelp() {
  return QStringLiteral(
      "Использование: quorlan-cli КОМАНДА [ПАРАМЕТРЫ]\n"
      "Командная строка конфигуратора Quorlan для контроллеров KORVEL GSM.\n"
      "\n"
      "Файлы конфигурации:\n"
      "  check ФАЙЛ                      проверить размер и контрольную сумму\n"
      "  dump ФАЙЛ [--json]              все настройки текстом: ИМЯ = ЗНАЧЕНИЕ\n"
      "  diff ФАЙЛ_А ФАЙЛ_Б              только различающиеся настройки\n"
      "  set ФАЙЛ ИМЯ=ЗНАЧЕНИЕ... -o ВЫХОД   изменить настройки и сохранить в ВЫХОД\n"
      "Контроллер:\n"
      "  read --port ПОРТ -o ФАЙЛ        считать конфигурацию\n"
      "  write --port ПОРТ ФАЙЛ [--verify] [--backup ФАЙЛ]   записать конфигурацию\n"
      "  time --port ПОРТ                установить системное время\n"
      "  info --port ПОРТ                версия, мастер ключ, идентификаторы датчиков\n"
      "\n"
      "ПОРТ: имя как в окне программы (COM1, COM33...) или путь устройства (/dev/ttyUSB0).\n"
      "--port можно повторить: обмен идет со всеми контроллерами одновременно.\n"
      "\"quorlan-cli КОМАНДА --help\" описывает команду.\n"
      "\n"
      "Коды завершения: 0 успешно; 1 ошибка контроллера, порта или обмена;\n"
      "2 неверные параметры или файл, отклоненное значение; 3 проверка записи не совпала.\n");
}

QString commandHelp(const QString &command) {
  const QString portNote = QStringLiteral(
      "  --port ПОРТ        COM<n> или путь устройства; можно повторить\n"
      "  --wait СЕК         сколько ждать ответа контроллера на подключение (по умолчанию 10)\n");
  if (command == QLatin1String("check"))
    return QStringLiteral(
        "Использование: quorlan-cli check ФАЙЛ\n"
        "Проверяет, что файл - конфигурация: ровно 4123 байта и верная контрольная сумма.\n"
        "Код 0 - файл в порядке, 2 - сказано, что не так.\n");
  if (command == QLatin1String("dump"))
    return QStringLiteral(
        "Использование: quorlan-cli dump ФАЙЛ [--json]\n"
        "Печатает каждую настройку строкой \"ИМЯ = ЗНАЧЕНИЕ\". Имя - как в окне программы:\n"
        "вкладка › группа › подпись; для деревьев реакций: дерево › вход › событие.\n"
        "Значение - как его показывает окно; флажки - \"да\"/\"нет\"; управляющие символы\n"
        "и \"\\\" записаны как \\xNN и \\\\.\n"
        "  --json             то же одним объектом JSON\n");
  if (command == QLatin1String("diff"))
    return QStringLiteral(
        "Использование: quorlan-cli diff ФАЙЛ_А ФАЙЛ_Б\n"
        "Печатает только различающиеся настройки: \"ИМЯ = ЗНАЧЕНИЕ_А → ЗНАЧЕНИЕ_Б\".\n"
        "Код 0 и при различиях, и без них; 2 - файл неверен.\n");
  if (command == QLatin1String("set"))
    return QStringLiteral(
        "Использование: quorlan-cli set ФАЙЛ ИМЯ=ЗНАЧЕНИЕ... -o ВЫХОД\n"
        "Меняет настройки по именам, которые печатает dump, и сохраняет конфигурацию в ВЫХОД.\n"
        "Пределы и допустимые символы - как при вводе в окне. Если хоть одно значение\n"
        "отклонено, ничего не записывается (код 2).\n"
        "  -o ВЫХОД           файл, в который сохранить (может совпадать с ФАЙЛ)\n");
  if (command == QLatin1String("read"))
    return QStringLiteral(
               "Использование: quorlan-cli read --port ПОРТ... -o ФАЙЛ\n"
               "Считывает конфигурацию контроллера в файл.\n") +
           portNote +
           QStringLiteral("  -o ФАЙЛ            куда сохранить; при нескольких портах имя должно\n"
                          "                     содержать {port} - на его место встанет имя порта\n");
  if (command == QLatin1String("write"))
    return QStringLiteral(
               "Использование: quorlan-cli write --port ПОРТ... ФАЙЛ [--verify] [--backup ФАЙЛ]\n"
               "Записывает конфигурацию из файла в контроллер.\n") +
           portNote +
           QStringLiteral(
               "  --backup ФАЙЛ      сначала считать и сохранить то, что было в контроллере\n"
               "                     (при нескольких портах имя содержит {port})\n"
               "  --verify           после \"SAVE_OK\" считать конфигурацию и сравнить побайтно;\n"
               "                     различия печатаются словами dump, код 3\n");
  if (command == QLatin1String("time"))
    return QStringLiteral(
               "Использование: quorlan-cli time --port ПОРТ...\n"
               "Устанавливает часы контроллера по системному времени и печатает его отчет.\n") +
           portNote;
  if (command == QLatin1String("info"))
    return QStringLiteral(
               "Использование: quorlan-cli info --port ПОРТ...\n"
               "Печатает версию программы контроллера, мастер ключ и восемь идентификаторов\n"
               "датчиков.\n") +
           portNote;
  return {};
}

bool helpAsked(const QString &command, const QStringList &args) {
  if (!args.contains(QStringLiteral("--help")) && !args.contains(QStringLiteral("-h"))) return false;
  out(commandHelp(command));
  return true;
}

}  // namespace cli
