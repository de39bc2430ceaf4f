#include "image/ControlTable.h"

#include <algorithm>
#include <tuple>
#include <vector>

#include "image/ConfigLayout.h"

namespace controls {
namespace {

using namespace layout;

QString u(const char *text) { return QString::fromUtf8(text); }

struct Table {
  std::vector<Setting> settings;
  std::vector<SpinField> spins;
  std::vector<TextField> texts;
  std::vector<CheckField> checks;
  Words at;   // the tabs, frames, row and column of the rows that follow

  void add(Kind kind, int number, const QString &label) {
    Words w = at;
    w.label = label;
    settings.push_back({kind, number, w});
  }
  void spin(const QString &label, SpinField f) { spins.push_back(f); add(Kind::Spin, f.number, label); }
  void text(const QString &label, TextField f) { texts.push_back(f); add(Kind::Text, f.number, label); }
  void check(const QString &label, CheckField f) { checks.push_back(f); add(Kind::Check, f.number, label); }
};

// A delay: a whole byte of seconds, 0 at start-up.
SpinField delay(int number, int offset) { return {number, 0, 255, 0, false, offset, 1}; }

// One row per setting, page by page as the window lays them out.
Table build() {
  Table t;
  const auto input = [](int i) { return u("Вход %1").arg(i + 1); };

  t.at.tabs = {u("Общие установки")};
  t.text(u("Название объекта (ID)"), {1, 8, "Объект 1", kObjectId, kObjectIdWidth, TextRule::NonZero, false});
  t.text(u("Пароль доступа"), {2, 8, "Пароль", kPassword, kPasswordWidth, TextRule::NonZero, false});
  t.spin(u("Количество попыток отправки сообщения"), {1, 0, 255, 5, false, kSendAttempts, 1});
  t.add(Kind::SmsCentre, 2, u("Номер SMS центра"));
  t.check(u("Возможность передачи данных по каналу CSD"), {8, kCsdEnabled, -1});
  t.spin(u("Частота/период создания архивов (мин.)"), {11, 0, 254, 0, true, kArchivePeriod, 1});
  t.at.groups = {u("Разрешенные  номера")};
  // Edit3..Edit10 the subscribers, Edit11 the dispatcher centre.
  const auto number = [](int n) {
    return TextField{3 + n, 16, "", phone(n), kPhoneWidth, TextRule::UpToZero, false, true};
  };
  for (int n = 0; n < 8; ++n) t.text(u("Абонент %1:").arg(n + 1), number(n));
  t.text(u("Основной абонент (Диспетчерский центр)"), number(8));
  t.at.groups = {u("Структура статусного сообщения")};
  const char *const content[] = {"Контактные входы и реле", "АЦП (Аналоговые входы)", "mLan (Цифровая шина)"};
  for (int b = 0; b < 3; ++b) t.check(u(content[b]), {1 + b, kStatusContent, b});
  t.at.groups = {u("Время отправки статуса")};
  const char *const hours[] = {" 00:00 Часов", " 06:00 Часов", " 12:00 Часов", " 18:00 Часов"};
  for (int b = 0; b < 4; ++b) t.check(u(hours[b]), {4 + b, kStatusSchedule, b});
  t.at.groups.clear();

  t.at.tabs = {u("Настройка датчиков"), u("Контактные")};
  t.add(Kind::Tree, 1, {});

  t.at.tabs[1] = u("Аналоговые (АЦП)");
  const QString signal = u("Диапазон входного сигнала мА/В"), range = u("Диапазон измерений датчика");
  const QString min = u("min"), max = u("max");
  for (int a = 0; a < kAnalogInputCount; ++a) {
    const int rec = analogInput(a);
    t.at.row = input(a);
    t.at.column = signal;
    t.spin(min, {signalMinSpin(a), 0, 19, 0, false, rec + kSignalMin, 1});
    t.spin(max, {signalMaxSpin(a), 0, 20, 20, false, rec + kSignalMax, 1});
    t.at.column = range;
    t.spin(min, {rangeMinSpin(a), -9999, 9998, 0, false, rec + kRangeMin, 2});
    t.spin(max, {rangeMaxSpin(a), -9999, 9998, 20, false, rec + kRangeMax, 2});
    t.at.column = u("Единицы измерения датчика");
    t.text({}, {unitsEdit(a), 6, "", rec + kUnits, kUnitsWidth, TextRule::NonZero, false});
  }
  t.at.row.clear();
  t.at.column.clear();
  t.add(Kind::Tree, 2, {});

  t.at.tabs[1] = u("Параметрические (mLan)");
  t.at.groups = {u("Идентификаторы датчиков")};
  for (int k = 0; k < 8; ++k)
    t.text(QString::number(k + 1), {13 + k, 16, "", sensorId(k), kSensorIdWidth, TextRule::AllOrNothing, true});
  t.at.groups.clear();
  t.add(Kind::Tree, 3, {});

  t.at.tabs = {u("Настройка датчиков"), u("Задержки"), u("Задержки по входам")};
  t.at.groups = {u("Интервал присутствия сигнала для сработки контактных входов (1 ед.=1сек)")};
  for (int i = 0; i < 8; ++i) t.spin(input(i), delay(76 + i, kContactPresenceTimes + i));
  for (const auto &[title, contacts, contactBytes, analogs, analogBytes] :
       {std::tuple{"Задержки реакции после сработки входа (1 ед.=1сек)", 35, kContactReactionDelays, 43,
                   kAnalogReactionDelays},
        std::tuple{"Интервалы нечувствительности после реакции (1 ед.=1сек)", 51, kContactInsensitivity, 59,
                   kAnalogInsensitivity}}) {
    t.at.groups = {u(title), u("Контактные входы")};
    for (int i = 0; i < 8; ++i) t.spin(input(i), delay(contacts + i, contactBytes + i));
    t.at.groups = {u(title), u("Аналоговые входы")};
    for (int i = 0; i < 8; ++i) t.spin(input(i), delay(analogs + i, analogBytes + i));
  }
  t.at.tabs[2] = u("Задержки реле");
  t.at.groups = {u("Длительность включения реле (1 ед.=1сек)")};
  for (int r = 0; r < 8; ++r) t.spin(u("Реле %1").arg(r + 1), delay(3 + r, kRelayOnTimes + r));

  t.at.tabs = {u("Режим охраны")};
  t.at.groups.clear();
  t.add(Kind::Radio, 1, u("Смена режимов по электронному ключу TM"));
  t.add(Kind::Radio, 2, u("Смена режимов по SMS"));
  const QString disarmed = u("Снимаемые с охраны входы");
  t.at.groups = {disarmed, u("контактные входы")};
  for (int i = 0; i < 8; ++i) t.check(u(" %1").arg(i + 1), {9 + i, kDisarmContacts, i});
  t.at.groups = {disarmed, u("аналоговые входы")};
  for (int i = 0; i < 8; ++i) t.check(u(" %1").arg(i + 1), {17 + i, kDisarmAnalogs, i});
  t.at.groups = {u("Мастер ключ")};
  t.text({}, {12, 16, "", kMasterKey, kMasterKeyWidth, TextRule::AllOrNothing, false});
  t.at.groups.clear();
  t.spin(u("Задержка постановки на охрану (Сек.)"), delay(2, kArmingDelay));

  // Looked up and walked by number.
  const auto byNumber = [](const auto &a, const auto &b) { return a.number < b.number; };
  std::sort(t.spins.begin(), t.spins.end(), byNumber);
  std::sort(t.texts.begin(), t.texts.end(), byNumber);
  std::sort(t.checks.begin(), t.checks.end(), byNumber);
  return t;
}

const Table &table() {
  static const Table t = build();
  return t;
}

}  // namespace

std::span<const Setting> settings() { return table().settings; }
std::span<const SpinField> spinFields() { return table().spins; }
std::span<const TextField> textFields() { return table().texts; }
std::span<const CheckField> checkFields() { return table().checks; }

const Words &wordsOf(Kind kind, int number) {
  for (const Setting &s : table().settings)
    if (s.kind == kind && s.number == number) return s.words;
  Q_ASSERT_X(false, "wordsOf", "no such setting");
  static const Words none;
  return none;
}

const QStringList &radioItems() {
  static const QStringList items = {u("Разрешена"), u("Запрещена")};
  return items;
}

const SpinField *spinField(int number) {
  for (const auto &f : table().spins)
    if (f.number == number) return &f;
  return nullptr;
}

const TextField *textField(int number) {
  for (const auto &f : table().texts)
    if (f.number == number) return &f;
  return nullptr;
}

std::span<const ImageStep> imageSteps() {
  static constexpr ImageStep steps[] = {
      {Step::Texts, 2, 2},       // Password
      {Step::Texts, 13, 20},     // SensorIds, only complete ones are stored
      {Step::Progress, 85},
      {Step::Spins, 3, 10},      // RelayOnTimes
      {Step::Spins, 11, 11},     // ArchivePeriod
      {Step::Texts, 12, 12},     // MasterKey
      {Step::Checks, 9, 24},     // DisarmContacts, DisarmAnalogs
      {Step::Progress, 90},
      {Step::Spins, 1, 1},       // SendAttempts
      {Step::ModeRights},
      {Step::Checks, 4, 7},      // StatusSchedule
      {Step::Checks, 1, 3},      // StatusContent
      {Step::Spins, 35, 42},     // ContactReactionDelays
      {Step::Spins, 43, 50},     // AnalogReactionDelays
      {Step::Progress, 95},
      {Step::Spins, 2, 2},       // ArmingDelay
      {Step::Spins, 51, 58},     // ContactInsensitivity
      {Step::Spins, 59, 66},     // AnalogInsensitivity
      {Step::Texts, 1, 1},       // ObjectId
      {Step::Texts, 3, 11},      // Phones
      {Step::SmsCentre},
      {Step::Checks, 8, 8},      // CsdEnabled, the byte after the SMS centre
      {Step::Spins, 12, 19},     // analog inputs: signal minimum
      {Step::Spins, 20, 27},     //   signal maximum
      {Step::Spins, 28, 34},     //   low end of the measured range, inputs 1..7
      {Step::Spins, 67, 67},     //   and input 8
      {Step::Spins, 68, 75},     //   high end of the measured range
      {Step::Texts, 21, 28},     //   units
      {Step::Spins, 76, 83},     // ContactPresenceTimes
  };
  return steps;
}

}  // namespace controls
