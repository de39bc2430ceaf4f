#include "image/FieldNames.h"

#include <QHash>

#include "image/ControlTable.h"
#include "image/Cp1251.h"
#include "image/ReactionTrees.h"
#include "image/TextRules.h"
#include "image/ThresholdText.h"

namespace fieldnames {

namespace {

// A window text as a part of a name: spaces collapsed, a label's closing colon dropped.
QString tidy(const QString &text) {
  QString t = text.simplified();
  if (t.endsWith(QLatin1Char(':'))) t.chop(1);
  return t;
}

void finish(Field &f) {
  QStringList parts;
  for (const QString &p : f.tabs + f.groups + QStringList{f.row, f.column, f.label})
    if (!tidy(p).isEmpty()) parts << tidy(p);
  f.name = parts.join(kSeparator);
}

// The tree's nodes under their names: relays and slots by their place, the message, and the
// thresholds; the names are the captions above them, as the tree shows them at start-up.
void addTree(std::vector<Field> &out, int tree, const QStringList &tabs) {
  const std::vector<trees::StartupNode> nodes = trees::startupNodes(tree);
  QString captions[4];
  int place = 0;
  for (int i = 0; i < int(nodes.size()); ++i) {
    const trees::StartupNode &n = nodes[std::size_t(i)];
    captions[n.level] = n.caption;
    place = n.level == 3 && i > 0 && nodes[std::size_t(i - 1)].level == 3 ? place + 1 : 1;
    Field f{Kind::Relay, tree, i, tabs, {}, {}, {}, {}, {}};
    if (n.level == 2 && trees::isThreshold(n.caption)) {
      f.kind = Kind::Threshold;
      f.groups = {captions[0], captions[1]};
      f.label = trees::kThresholdWord;
    } else if (n.level == 3 && captions[2] == trees::kMessageGroup) {
      f.kind = Kind::Message;
      f.groups = {captions[0], captions[1]};
      f.label = trees::kMessageGroup;
    } else if (n.level == 3) {
      f.kind = captions[2] == trees::kRelayGroup ? Kind::Relay : Kind::Slot;
      f.groups = {captions[0], captions[1], captions[2]};
      f.label = QString::number(place);
    } else {
      continue;
    }
    finish(f);
    out.push_back(f);
  }
}

Kind kindOf(controls::Kind kind) {
  switch (kind) {
    case controls::Kind::Spin: return Kind::Spin;
    case controls::Kind::Text: return Kind::Text;
    case controls::Kind::Check: return Kind::Check;
    case controls::Kind::Radio: return Kind::Radio;
    case controls::Kind::SmsCentre:
    case controls::Kind::Tree: break;
  }
  return Kind::SmsCentre;
}

// The settings in the window's page order, each named by its words in the control table.
std::vector<Field> build() {
  std::vector<Field> out;
  for (const controls::Setting &s : controls::settings()) {
    const controls::Words &w = s.words;
    if (s.kind == controls::Kind::Tree) {
      addTree(out, s.number, w.tabs);
      continue;
    }
    Field f{kindOf(s.kind), s.number, -1, w.tabs, w.groups, w.column, w.row, w.label, {}};
    finish(f);
    out.push_back(f);
  }
  return out;
}

// The raw text a field holds (before escaping).
QString rawValue(const Field &f, const ConfigValue &v) {
  switch (f.kind) {
    case Kind::Spin: return QString::number(v.spins[f.number]);
    case Kind::Text: return v.texts[f.number];
    case Kind::Check: return v.checks[f.number] ? kYes : kNo;
    case Kind::Radio: {
      const int i = f.number == 1 ? v.modeByKey : v.modeBySms;
      return i >= 0 && i < controls::radioItems().size() ? controls::radioItems()[i] : QString();
    }
    case Kind::SmsCentre: return v.smsCentre;
    case Kind::Relay: {
      const QString c = v.caption(f.number, f.node);
      return trees::relayState(c) == trees::RelayState::Unknown ? c : c.mid(4);
    }
    case Kind::Slot: {
      const QString c = v.caption(f.number, f.node);
      return trees::slotTarget(c) == 0 ? kNoSlot : c;
    }
    case Kind::Message: return v.caption(f.number, f.node);
    case Kind::Threshold: return trees::thresholdValue(v.caption(f.number, f.node));
  }
  return {};
}

bool storable(const QString &text) {
  for (const char32_t c : text.toUcs4())
    if (unicodeToCp1251(c) < 0) return false;
  return true;
}

QString tooLong(int limit) {
  return QStringLiteral("не более %1 символов").arg(limit);
}

QString checkText(const QString &text, int limit) {
  if (text.size() > limit) return tooLong(limit);
  if (!storable(text)) return QStringLiteral("символ, которого нет в кодировке контроллера");
  return {};
}

QString refusedChar(const QString &text, qsizetype at, const QString &allowed) {
  return QStringLiteral("недопустимый символ \"%1\": можно только %2").arg(text.mid(at, 1), allowed);
}

}  // namespace

const std::vector<Field> &allFields() {
  static const std::vector<Field> fields = build();
  return fields;
}

const Field *fieldByName(const QString &name) {
  static const QHash<QString, const Field *> index = [] {
    QHash<QString, const Field *> h;
    for (const Field &f : allFields()) h.insert(f.name, &f);
    return h;
  }();
  return index.value(name.simplified(), nullptr);
}

QString escapeValue(const QString &text) {
  QString out;
  out.reserve(text.size());
  for (const QChar c : text) {
    const ushort code = c.unicode();
    if (c == QLatin1Char('\\'))
      out += QStringLiteral("\\\\");
    else if (code < 0x20 || (code >= 0x7f && code < 0xa0))
      out += QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
    else
      out += c;
  }
  return out;
}

bool unescapeValue(const QString &text, QString *out) {
  QString r;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text.at(i) != QLatin1Char('\\')) {
      r += text.at(i);
      continue;
    }
    if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\\')) {
      r += QLatin1Char('\\');
      ++i;
      continue;
    }
    if (i + 3 < text.size() && text.at(i + 1) == QLatin1Char('x')) {
      bool ok = false;
      const uint code = text.mid(i + 2, 2).toUInt(&ok, 16);
      if (ok) {
        r += QChar(char16_t(code));
        i += 3;
        continue;
      }
    }
    return false;
  }
  *out = r;
  return true;
}

QString valueText(const Field &f, const ConfigValue &v) { return escapeValue(rawValue(f, v)); }

QString applyValue(const Field &f, ConfigValue &v, const QString &escaped) {
  QString text;
  if (!unescapeValue(escaped, &text)) return QStringLiteral("неверная запись \"\\\" в значении");
  if (text == rawValue(f, v)) return {};
  switch (f.kind) {
    case Kind::Spin: {
      const controls::SpinField *s = controls::spinField(f.number);
      bool ok = false;
      const int n = text.trimmed().toInt(&ok);
      if (!ok || n < s->min || n > s->max)
        return QStringLiteral("нужно целое число от %1 до %2").arg(s->min).arg(s->max);
      v.spins[f.number] = n;
      return {};
    }
    case Kind::Text: {
      const controls::TextField *t = controls::textField(f.number);
      if (QString why = checkText(text, t->maxLength); !why.isEmpty()) return why;
      if (t->phone) {
        if (const qsizetype at = textrules::firstRefused(text, textrules::phoneChar); at >= 0)
          return refusedChar(text, at, QStringLiteral("цифры и \"+\""));
      }
      // An identifier is stored only whole; a shorter one would silently stay unwritten.
      if (t->exactOnly && !text.isEmpty() && text.size() != t->width)
        return QStringLiteral("ровно %1 символов или пусто").arg(t->width);
      v.texts[f.number] = text;
      return {};
    }
    case Kind::Check:
      if (text != kYes && text != kNo) return QStringLiteral("нужно \"%1\" или \"%2\"").arg(kYes, kNo);
      v.checks[f.number] = text == kYes;
      return {};
    case Kind::Radio: {
      const int i = int(controls::radioItems().indexOf(text));
      if (i < 0) return QStringLiteral("нужно \"%1\"").arg(controls::radioItems().join(QStringLiteral("\" или \"")));
      (f.number == 1 ? v.modeByKey : v.modeBySms) = i;
      return {};
    }
    case Kind::SmsCentre: {
      // The field holds 16 characters; a longer number would be cut on saving.
      if (QString why = checkText(text, 16); !why.isEmpty()) return why;
      if (const qsizetype at = textrules::firstRefused(text, textrules::phoneChar); at >= 0)
        return refusedChar(text, at, QStringLiteral("цифры и \"+\""));
      v.smsCentre = text;
      return {};
    }
    case Kind::Relay: {
      for (const auto &[word, state] : {std::pair{trees::kSwitchOn, trees::RelayState::On},
                                        std::pair{trees::kSwitchOff, trees::RelayState::Off},
                                        std::pair{trees::kLeaveAlone, trees::RelayState::Unchanged}})
        if (text == word) {
          v.setCaption(f.number, f.node, trees::relayStateCaption(f.label.toInt(), word));
          return {};
        }
      return QStringLiteral("нужно \"%1\", \"%2\" или \"%3\"")
          .arg(trees::kSwitchOn, trees::kSwitchOff, trees::kLeaveAlone);
    }
    case Kind::Slot: {
      // "Нет", the short tags "аб.1" and "Д.Ц.", or a caption as dump shows it.
      int target = text == kNoSlot ? 0 : trees::slotTarget(text);
      if (target < 0 && !text.startsWith(QLatin1Char('(')))
        target = trees::slotTarget(QLatin1Char('(') + text + QLatin1Char(')'));
      if (target < 0) return QStringLiteral("нужно \"Нет\", \"аб.1\"…\"аб.8\" или \"Д.Ц.\"");
      if (target == 0) {
        v.setCaption(f.number, f.node, trees::emptySlotCaption(f.label.toInt()));
        return {};
      }
      // As the window's menu: a subscriber without a number cannot be chosen.
      const QString number = v.texts[2 + target];
      if (number.isEmpty())
        return target == 9 ? QStringLiteral("номер диспетчерского центра не задан")
                           : QStringLiteral("номер абонента %1 не задан").arg(target);
      v.setCaption(f.number, f.node,
                   target == 9 ? trees::dispatcherSlotCaption(number)
                               : trees::subscriberSlotCaption(number, target));
      return {};
    }
    case Kind::Message:
      if (QString why = checkText(text, 32); !why.isEmpty()) return why;
      v.setCaption(f.number, f.node, text);
      return {};
    case Kind::Threshold: {
      // The sensor tree stores four characters, the analog one a number from ten.
      const bool sensor = f.number == 3;
      const int limit = sensor ? 4 : 10;
      if (text.size() > limit) return tooLong(limit);
      if (const qsizetype at = textrules::firstRefused(text, textrules::thresholdChar); at >= 0)
        return refusedChar(text, at, QStringLiteral("цифры, \",\" и \"-\""));
      if (!sensor && !parseThreshold(text)) return QStringLiteral("не число");
      v.setCaption(f.number, f.node, trees::thresholdCaption(text));
      return {};
    }
  }
  return QStringLiteral("неизвестное поле");
}

}  // namespace fieldnames
