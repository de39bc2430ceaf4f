#include "image/ReactionTrees.h"

namespace trees {

int blockSize(int tree) {
  switch (tree) {
    case 1: return kContactBlock;
    case 2: case 3: return kChannelBlock;
    default: return 0;
  }
}

int blockCount(int tree) {
  switch (tree) {
    case 1: return kContactBlocks;
    case 2: case 3: return kChannelBlocks;
    default: return 0;
  }
}

int nodeCount(int tree) { return blockSize(tree) * blockCount(tree); }

QString placeCaption(int place, const QString &word) {
  return QString::number(place) + QStringLiteral(" - ") + word;
}

QString relayStateCaption(int place, const QString &stateWord) {
  return placeCaption(place, stateWord);
}

QString emptySlotCaption(int place) { return QString::number(place) + kEmptySlot; }

QString subscriberSlotCaption(const QString &number, int subscriber) {
  return number + QStringLiteral(" (аб.") + QString::number(subscriber) + QLatin1Char(')');
}

QString dispatcherSlotCaption(const QString &number) { return number + kDispatcherTag; }

namespace {

// Relays, slots and message of one event, appended after the event node itself.
void appendReactions(std::vector<StartupNode> &out, const QString &message) {
  const std::size_t first = out.size();
  out.push_back({kRelayGroup, 2, PicRelayGroup});
  for (int r = 1; r <= 8; ++r) out.push_back({relayStateCaption(r, kLeaveAlone), 3, PicRelayState});
  out.push_back({kPhoneGroup, 2, PicPhoneGroup});
  for (int s = 1; s <= 9; ++s) out.push_back({emptySlotCaption(s), 3, kNoPicture});
  out.push_back({kMessageGroup, 2, PicMessageGroup});
  out.push_back({message, 3, kNoPicture});
  Q_ASSERT(out.size() - first == std::size_t(kReactionSize));
}

void appendContactBlock(std::vector<StartupNode> &out, int k) {
  const QString n = QString::number(k + 1);
  QString root, firstEvent, firstText, secondEvent, secondText;
  int picture = PicInput;
  if (k < 8) {
    root = QStringLiteral("Вход ") + n;
    firstEvent = QStringLiteral("Замыкание");
    firstText = root + QStringLiteral(" Замкнут");
    secondEvent = QStringLiteral("Размыкание");
    secondText = root + QStringLiteral(" Разомкнут");
  } else if (k == 8) {
    root = QStringLiteral("Сеть 220 В");
    picture = PicMains;
    firstEvent = QStringLiteral("Восстановление");
    firstText = QStringLiteral("Контроль питания:Да");
    secondEvent = QStringLiteral("Пропадание");
    secondText = QStringLiteral("Контроль питания:Нет");
  } else {
    root = QStringLiteral("ОХРАНА");
    picture = PicSecurity;
    firstEvent = QStringLiteral("Постановка");
    firstText = QStringLiteral("Смена режима работы:Охрана");
    secondEvent = QStringLiteral("Снятие");
    secondText = QStringLiteral("Смена режима работы:ТО");
  }
  out.push_back({root, 0, picture});
  out.push_back({firstEvent, 1, kNoPicture});
  appendReactions(out, firstText);
  out.push_back({secondEvent, 1, kNoPicture});
  appendReactions(out, secondText);
}

void appendChannelBlock(std::vector<StartupNode> &out, int k, const QString &word, bool sensors) {
  const QString root = word + QLatin1Char(' ') + QString::number(k + 1);
  out.push_back({root, 0, PicInput});
  out.push_back({QStringLiteral("Выше MAX порога"), 1, PicAbove});
  out.push_back({thresholdCaption(QStringLiteral("0,0")), 2, PicUpperThreshold});
  appendReactions(out, root + QStringLiteral(" выше нормы"));
  out.push_back({QStringLiteral("Норма"), 1, PicNormal});
  appendReactions(out, root + QStringLiteral(" норма"));
  out.push_back({QStringLiteral("Ниже MIN порога"), 1, PicBelow});
  // The sensor tree's lower threshold starts without a decimal part.
  out.push_back({thresholdCaption(sensors ? QStringLiteral("00") : QStringLiteral("0,0")), 2,
                 PicLowerThreshold});
  appendReactions(out, root + QStringLiteral(" ниже нормы"));
}

}  // namespace

std::vector<StartupNode> startupNodes(int tree) {
  std::vector<StartupNode> out;
  out.reserve(nodeCount(tree));
  for (int k = 0; k < blockCount(tree); ++k) {
    if (tree == 1)
      appendContactBlock(out, k);
    else
      appendChannelBlock(out, k, tree == 2 ? QStringLiteral("АЦП") : QStringLiteral("Датчик"),
                         tree == 3);
  }
  Q_ASSERT(int(out.size()) == nodeCount(tree));
  return out;
}

RelayState relayState(const QString &caption) {
  const auto is = [&](const QString &word) { return caption.mid(4, word.size()) == word; };
  if (is(kSwitchOn)) return RelayState::On;
  if (is(kSwitchOff)) return RelayState::Off;
  if (is(kLeaveAlone)) return RelayState::Unchanged;
  return RelayState::Unknown;
}

QString withRelayState(const QString &caption, RelayState state) {
  switch (state) {
    case RelayState::On: return caption.left(4) + kSwitchOn;
    case RelayState::Off: return caption.left(4) + kSwitchOff;
    case RelayState::Unchanged: return caption.left(4) + kLeaveAlone;
    case RelayState::Unknown: break;
  }
  return caption;
}

QString slotTag(const QString &caption) { return caption.right(6); }

int slotTarget(const QString &caption) {
  const QString tag = slotTag(caption);
  if (tag == kEmptySlot) return 0;
  if (tag == QStringLiteral("(Д.Ц.)")) return 9;
  for (int n = 1; n <= 8; ++n)
    if (tag == QStringLiteral("(аб.") + QString::number(n) + QLatin1Char(')')) return n;
  return -1;
}

bool isThreshold(const QString &caption) { return caption.startsWith(kThresholdWord); }

QString thresholdValue(const QString &caption) { return caption.mid(6); }

QString thresholdCaption(const QString &value) { return kThresholdPrefix + value; }

}  // namespace trees
