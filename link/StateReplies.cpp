#include "link/StateReplies.h"

#include <algorithm>

std::array<bool, 8> statusInputs(const QString &firstLine) {
  std::array<bool, 8> on{};
  for (int c = 0; c < 8 && c < firstLine.size(); ++c) on[std::size_t(7 - c)] = firstLine.at(c) == u'1';
  return on;
}

Rs485CommandCheck checkRs485Command(const QString &command) {
  if (command.isEmpty()) return Rs485CommandCheck::Empty;
  if (command.size() % 2 != 0) return Rs485CommandCheck::OddLength;
  for (const QChar c : command) {
    const bool hex = (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
    if (!hex) return Rs485CommandCheck::BadCharacter;
  }
  return Rs485CommandCheck::Ok;
}

QString rs485CommandMessage(Rs485CommandCheck check) {
  switch (check) {
    case Rs485CommandCheck::Ok: return {};
    case Rs485CommandCheck::Empty: return QStringLiteral("Введите данные");
    case Rs485CommandCheck::OddLength: return QStringLiteral("Ошибка длины данных");
    case Rs485CommandCheck::BadCharacter: return QStringLiteral("Неверные символы в последовательности");
  }
  return {};
}

Rs485Settings parseRs485Settings(const QByteArray &line) {
  Rs485Settings s;
  if (line.size() <= 3) return s;   // too short to carry settings: nothing changes
  for (int g = 0; g < 4; ++g) {
    const char c = line.at(g);
    if (c < '0' || c > '9') {
      s.ok = false;
      return s;
    }
    s.index[std::size_t(g)] = std::min(c - '0', kRs485GroupSizes[std::size_t(g)] - 1);
    s.count = g + 1;
  }
  return s;
}

QByteArray rs485SettingsString(const std::array<int, 4> &index) {
  QByteArray out;
  for (int g = 0; g < 4; ++g)
    out.append(char('0' + std::clamp(index[std::size_t(g)], 0, kRs485GroupSizes[std::size_t(g)] - 1)));
  return out;
}
