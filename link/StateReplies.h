#pragma once
// The state window's texts on the wire, as pure functions: the contact inputs of a status
// reply, the RS-485 command check, and the RS-485 port settings string.

#include <QByteArray>
#include <QString>
#include <array>

inline constexpr int kStatusLines = 19;

// Line 1 of a status reply: character 1 is input 8, character 8 input 1. [i] is input i+1,
// true only for a "1"; missing characters leave the input off.
std::array<bool, 8> statusInputs(const QString &firstLine);

enum class Rs485CommandCheck { Ok, Empty, OddLength, BadCharacter };
// Upper-case hexadecimal digits only, an even number of them.
Rs485CommandCheck checkRs485Command(const QString &command);
QString rs485CommandMessage(Rs485CommandCheck check);   // the operator's message; empty for Ok

// Item counts of the four settings groups: baud rate, data bits, parity, stop bits.
inline constexpr std::array<int, 4> kRs485GroupSizes = {10, 4, 3, 2};

// The "READ RS-485" reply: when the line (with its CR LF) is longer than 3 characters, its
// characters 1 to 4 are the item indexes, each clamped to its group's last item. `count` says
// how many were read before the first character that is not a digit; `ok` is false then.
struct Rs485Settings {
  std::array<int, 4> index{};
  int count = 0;
  bool ok = true;
};
Rs485Settings parseRs485Settings(const QByteArray &line);

// Four digits, one per group, from the item indexes.
QByteArray rs485SettingsString(const std::array<int, 4> &index);
