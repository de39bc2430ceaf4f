#pragma once
// The reaction trees as data. Their shape and captions are a storage format: the encoder and
// decoder address nodes by absolute pre-order index and read captions at fixed character
// positions, so everything that knows those positions lives here.

#include <QString>
#include <QtGlobal>
#include <array>
#include <vector>

namespace trees {

inline constexpr int kTreeCount = 3;          // 1 contact inputs, 2 analog inputs, 3 bus sensors
inline constexpr int kContactBlock = 45;      // nodes per root of tree 1
inline constexpr int kContactBlocks = 10;
inline constexpr int kChannelBlock = 69;      // nodes per root of trees 2 and 3
inline constexpr int kChannelBlocks = 8;

// Node indices within a block, relative to its root. Below every event hangs one reaction group:
// "Реле" and 8 relay states, "Телефоны" and 9 slots, "Сообщение" and the message text.
inline constexpr int kReactionSize = 21;
struct EventNodes {
  int relays;      // relay state 1
  int phoneSlots;  // telephone slot 1
  int message;
};
constexpr EventNodes reactionsAt(int groupNode) {
  return {groupNode + 1, groupNode + 10, groupNode + 20};
}
// Contact block: root; per event its node, then its reactions.
inline constexpr std::array<EventNodes, 2> kContactEvents = {
    reactionsAt(2), reactionsAt(2 + kReactionSize + 1)};
// Channel block: root; "Выше MAX порога" with its threshold; "Норма"; "Ниже MIN порога" with its
// threshold; each event followed by its reactions.
inline constexpr int kUpperThreshold = 2;
inline constexpr int kLowerThreshold = kUpperThreshold + kReactionSize + 1 + kReactionSize + 1 + 1;
inline constexpr std::array<EventNodes, 3> kChannelEvents = {
    reactionsAt(kUpperThreshold + 1), reactionsAt(kUpperThreshold + 1 + kReactionSize + 1),
    reactionsAt(kLowerThreshold + 1)};
static_assert(kContactBlock == 1 + 2 * (1 + kReactionSize));
static_assert(kChannelBlock == kLowerThreshold + 1 + kReactionSize);

inline constexpr int kNoPicture = -1;

// Picture indices into the trees' image list.
enum Picture : int {
  PicRelayGroup = 1,
  PicPhoneGroup = 2,
  PicMessageGroup = 3,
  PicInput = 4,
  PicRelayState = 5,
  PicSecurity = 8,
  PicMains = 9,
  PicAbove = 10,
  PicNormal = 11,
  PicBelow = 12,
  PicUpperThreshold = 13,
  PicLowerThreshold = 14,
  PictureCount = 15,
};

struct StartupNode {
  QString caption;  // start-up caption
  int level;        // 0 root .. 3 leaf
  int picture;      // index into the image list, or kNoPicture
};

int blockSize(int tree);   // 45 or 69; 0 for an unknown tree
int blockCount(int tree);  // 10 or 8
int nodeCount(int tree);   // 450 or 552

// The whole start-up tree in pre-order (index = absolute node index); empty for an unknown tree.
std::vector<StartupNode> startupNodes(int tree);

// Fixed texts of the captions.
inline const QString kRelayGroup = QStringLiteral("Реле");
inline const QString kPhoneGroup = QStringLiteral("Телефоны");
inline const QString kMessageGroup = QStringLiteral("Сообщение");
inline const QString kThresholdPrefix = QStringLiteral("Порог ");
inline const QString kThresholdWord = QStringLiteral("Порог");
inline const QString kSwitchOn = QStringLiteral("Включить");
inline const QString kSwitchOff = QStringLiteral("Выключить");
inline const QString kLeaveAlone = QStringLiteral("Не изменять");
inline const QString kEmptySlot = QStringLiteral(" - Нет");
inline const QString kDispatcherTag = QStringLiteral(" (Д.Ц.)");

// "N - <word>": the caption of a relay state or an empty slot at 1-based place N.
QString placeCaption(int place, const QString &word);
QString relayStateCaption(int place, const QString &stateWord);
QString emptySlotCaption(int place);
// Telephone slot holding a copy of subscriber n's (1..8) number, or the dispatcher's.
QString subscriberSlotCaption(const QString &number, int subscriber);
QString dispatcherSlotCaption(const QString &number);

enum class RelayState { Unknown, On, Off, Unchanged };
// The state word starts at character 5; it is compared at its full length.
RelayState relayState(const QString &caption);
// Keeps characters 1..4 (digit and " - ") and appends the state word.
QString withRelayState(const QString &caption, RelayState state);

// The six-character tag a slot caption ends in (" - Нет", "(аб.1)".."(аб.8)", "(Д.Ц.)");
// shorter captions are returned whole.
QString slotTag(const QString &caption);
// 0 empty, 1..8 subscriber, 9 dispatcher, -1 not a slot tag.
int slotTarget(const QString &caption);

bool isThreshold(const QString &caption);           // begins with "Порог"
QString thresholdValue(const QString &caption);     // characters from position 7 on
QString thresholdCaption(const QString &value);     // "Порог " + value

}  // namespace trees
