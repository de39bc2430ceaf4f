#include "FileCommands.h"

#include <QFileInfo>
#include <algorithm>
#include <vector>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "CommandLine.h"
#include "Output.h"
#include "image/Checksum.h"
#include "image/ConfigCodec.h"
#include "image/ConfigFile.h"
#include "image/ConfigLayout.h"
#include "image/FieldNames.h"

namespace cli {

namespace {

QString hex(std::uint8_t b) { return QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper(); }

bool loadOrSay(const QString &path, ConfigImageBytes &image) {
  QString why;
  if (loadImage(path, image, &why)) return true;
  errLine(why);
  return false;
}

}  // namespace

bool loadImage(const QString &path, ConfigImageBytes &image, QString *why) {
  const QFileInfo info(path);
  if (info.exists() && info.isFile() && info.size() != qint64(kConfigImageSize)) {
    *why = QStringLiteral("%1: размер %2 байт, а конфигурация - ровно %3 байта")
               .arg(path)
               .arg(info.size())
               .arg(kConfigImageSize);
    return false;
  }
  ConfigFileError error;
  ConfigImageBytes read{};
  if (!readConfigFile(path, read, &error)) {
    *why = error.what + (error.reason.isEmpty() ? QString() : QStringLiteral(": ") + error.reason);
    return false;
  }
  if (!checksumMatches(read)) {
    *why = QStringLiteral("%1: неверная контрольная сумма: в файле %2, по данным должно быть %3")
               .arg(path, hex(read[layout::kChecksum]), hex(imageChecksum(read)));
    return false;
  }
  image = read;
  return true;
}

ConfigValue valueOf(const ConfigImageBytes &image) {
  ConfigValue v = ConfigValue::startup();
  decodeImage(image, v);
  return v;
}

Differences compareImages(const ConfigImageBytes &a, const ConfigImageBytes &b) {
  Differences d;
  const ConfigValue va = valueOf(a), vb = valueOf(b);
  for (const fieldnames::Field &f : fieldnames::allFields()) {
    const QString x = fieldnames::valueText(f, va), y = fieldnames::valueText(f, vb);
    if (x != y) d.items << Difference{f.name, x, y};
  }
  if (d.items.isEmpty() && a != b) {
    // Bytes no field shows (reserved space, codes the window does not know).
    constexpr int kShown = 16;
    for (std::size_t i = 0; i < kConfigImageSize; ++i) {
      if (a[i] == b[i]) continue;
      if (d.items.size() < kShown)
        d.items << Difference{{}, hex(a[i]), hex(b[i]), qint64(i)};
      else
        ++d.moreBytes;
    }
  }
  return d;
}

QStringList Differences::lines() const {
  QStringList lines;
  for (const Difference &x : items)
    lines << (x.byte < 0 ? x.name : QStringLiteral("байт %1").arg(x.byte)) + QStringLiteral(" = ") + x.a +
                 QStringLiteral(" → ") + x.b;
  if (moreBytes) lines << QStringLiteral("и еще %1 байт").arg(moreBytes);
  return lines;
}

QJsonArray Differences::json() const {
  QJsonArray list;
  for (const Difference &x : items) {
    QJsonObject o{{QStringLiteral("a"), x.a}, {QStringLiteral("b"), x.b}};
    if (x.byte < 0) o.insert(QStringLiteral("name"), x.name);
    else o.insert(QStringLiteral("byte"), x.byte);
    list.append(o);
  }
  return list;
}

int checkCommand(const QStringList &args) {
  const Arguments p = parseArguments(QStringLiteral("check"), args, {{QStringLiteral("--json")}}, true);
  if (p.done()) return p.exit;
  if (p.words.size() != 1) return usage(QStringLiteral("check"), QStringLiteral("нужен один файл"));
  ConfigImageBytes image{};
  QString why;
  const bool good = loadImage(p.words[0], image, &why);
  if (!good) errLine(why);
  if (p.flags.contains(QStringLiteral("--json"))) {
    QJsonObject o{{QStringLiteral("file"), p.words[0]}, {QStringLiteral("ok"), good}};
    if (good) {
      o.insert(QStringLiteral("size"), qint64(kConfigImageSize));
      o.insert(QStringLiteral("checksum"), hex(image[layout::kChecksum]));
    } else {
      o.insert(QStringLiteral("error"), why);
    }
    outLine(jsonLine(o));
    return good ? kOk : kBadInput;
  }
  if (!good) return kBadInput;
  outLine(QStringLiteral("%1: конфигурация в порядке (%2 байта, контрольная сумма %3)")
              .arg(p.words[0])
              .arg(kConfigImageSize)
              .arg(hex(image[layout::kChecksum])));
  return kOk;
}

int dumpCommand(const QStringList &args) {
  const Arguments p = parseArguments(QStringLiteral("dump"), args, {{QStringLiteral("--json")}}, true);
  if (p.done()) return p.exit;
  if (p.words.isEmpty()) return usage(QStringLiteral("dump"), QStringLiteral("нужен один файл"));
  // Names after the file choose the settings: a whole name, or the start of names up to a " › ".
  const QStringList chosen = p.words.mid(1);
  auto wanted = [&](const QString &name) {
    return chosen.isEmpty() || std::any_of(chosen.begin(), chosen.end(), [&](const QString &c) {
             return name == c || name.startsWith(c + QStringLiteral(" › "));
           });
  };
  for (const QString &c : chosen) {
    const auto &all = fieldnames::allFields();
    if (std::none_of(all.begin(), all.end(), [&](const fieldnames::Field &f) {
          return f.name == c || f.name.startsWith(c + QStringLiteral(" › "));
        }))
      return usage(QStringLiteral("dump"), QStringLiteral("нет настройки \"%1\" (имена печатает dump)").arg(c));
  }
  ConfigImageBytes image{};
  if (!loadOrSay(p.words[0], image)) return kBadInput;
  const ConfigValue v = valueOf(image);
  out(settingsText(v, p.flags.contains(QStringLiteral("--json")), wanted));
  return kOk;
}

QString settingsText(const ConfigValue &v, bool json, const std::function<bool(const QString &)> &wanted) {
  // JSON keeps dump's order; each key and value is escaped by Qt's own writer.
  auto quoted = [](const QString &s) {
    QByteArray a = QJsonDocument(QJsonArray{s}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(a.mid(1, a.size() - 2));
  };
  QString text;
  if (json) text += QStringLiteral("{\n");
  std::vector<const fieldnames::Field *> fields;
  for (const fieldnames::Field &f : fieldnames::allFields())
    if (!wanted || wanted(f.name)) fields.push_back(&f);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const fieldnames::Field &field = *fields[i];
    const QString value = fieldnames::valueText(field, v);
    if (json)
      text += QStringLiteral("  ") + quoted(field.name) + QStringLiteral(": ") + quoted(value) +
              (i + 1 < fields.size() ? QStringLiteral(",\n") : QStringLiteral("\n"));
    else
      text += field.name + QStringLiteral(" = ") + value + QLatin1Char('\n');
  }
  if (json) text += QStringLiteral("}\n");
  return text;
}

int diffCommand(const QStringList &args) {
  const Arguments p = parseArguments(QStringLiteral("diff"), args, {{QStringLiteral("--json")}}, true);
  if (p.done()) return p.exit;
  if (p.words.size() != 2) return usage(QStringLiteral("diff"), QStringLiteral("нужны два файла"));
  ConfigImageBytes a{}, b{};
  if (!loadOrSay(p.words[0], a) || !loadOrSay(p.words[1], b)) return kTrouble;
  const Differences d = compareImages(a, b);
  if (p.flags.contains(QStringLiteral("--json"))) {
    QJsonObject o{{QStringLiteral("a"), p.words[0]},
                  {QStringLiteral("b"), p.words[1]},
                  {QStringLiteral("same"), d.empty()},
                  {QStringLiteral("differences"), d.json()}};
    if (d.moreBytes) o.insert(QStringLiteral("moreBytes"), d.moreBytes);
    outLine(jsonLine(o));
  } else if (!d.empty()) {
    out(d.lines().join(QLatin1Char('\n')) + QLatin1Char('\n'));
  }
  // As diff(1) does: a script tells "same" from "differs" from "could not compare".
  return d.empty() ? kOk : kDiffers;
}

int setCommand(const QStringList &args) {
  const Arguments p = parseArguments(QStringLiteral("set"), args, {{QStringLiteral("-o"), true}}, true);
  if (p.done()) return p.exit;
  const QStringList outputs = p.values.value(QStringLiteral("-o"));
  if (outputs.size() != 1) return usage(QStringLiteral("set"), QStringLiteral("нужен один -o ВЫХОД"));
  if (p.words.size() < 2)
    return usage(QStringLiteral("set"), QStringLiteral("нужны файл и хотя бы одно ИМЯ=ЗНАЧЕНИЕ"));
  ConfigImageBytes image{};
  if (!loadOrSay(p.words[0], image)) return kBadInput;
  ConfigValue v = valueOf(image);
  bool refused = false;
  for (const QString &assignment : p.words.mid(1)) {
    // Names may hold "=" themselves ("(1 ед.=1сек)"): the name ends at the first "=" that
    // closes a known one.
    const fieldnames::Field *f = nullptr;
    QString value;
    for (qsizetype eq = assignment.indexOf(QLatin1Char('=')); eq >= 0 && !f;
         eq = assignment.indexOf(QLatin1Char('='), eq + 1)) {
      const QString left = assignment.left(eq);
      f = fieldnames::fieldByName(left);
      value = assignment.mid(eq + 1);
      // A line of dump ("ИМЯ = ЗНАЧЕНИЕ") is taken as it is.
      if (f && left.endsWith(QLatin1Char(' ')) && value.startsWith(QLatin1Char(' '))) value.remove(0, 1);
    }
    if (!f) {
      const qsizetype eq = assignment.indexOf(QLatin1Char('='));
      errLine(eq < 0 ? QStringLiteral("\"%1\": нужно ИМЯ=ЗНАЧЕНИЕ").arg(assignment)
                     : QStringLiteral("нет настройки \"%1\" (имена печатает dump)")
                           .arg(assignment.left(eq).simplified()));
      refused = true;
      continue;
    }
    const QString why = fieldnames::applyValue(*f, v, value);
    if (!why.isEmpty()) {
      errLine(QStringLiteral("%1: значение \"%2\" отклонено: %3").arg(f->name, value, why));
      refused = true;
    }
  }
  if (refused) {
    errLine(QStringLiteral("ничего не записано"));
    return kBadInput;
  }
  ConfigImageBytes built{};
  if (const auto error = encodeImage(v, built)) {
    errLine(error->message() + QStringLiteral("; ничего не записано"));
    return kBadInput;
  }
  ConfigFileError error;
  if (!writeConfigFile(outputs[0], built, &error)) {
    errLine(error.what + (error.reason.isEmpty() ? QString() : QStringLiteral(": ") + error.reason));
    return kBadInput;
  }
  return kOk;
}

int namesCommand(const QStringList &args) {
  const Arguments p = parseArguments(QStringLiteral("names"), args, {});
  if (p.done()) return p.exit;
  if (!p.words.isEmpty()) return usage(QStringLiteral("names"), QStringLiteral("лишний параметр \"%1\"").arg(p.words[0]));
  QString text;
  for (const fieldnames::Field &f : fieldnames::allFields()) text += f.name + QLatin1Char('\n');
  out(text);
  return kOk;
}

}  // namespace cli
