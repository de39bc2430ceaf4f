#include "FileCommands.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

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

QStringList differences(const ConfigImageBytes &a, const ConfigImageBytes &b) {
  QStringList lines;
  const ConfigValue va = valueOf(a), vb = valueOf(b);
  for (const fieldnames::Field &f : fieldnames::allFields()) {
    const QString x = fieldnames::valueText(f, va), y = fieldnames::valueText(f, vb);
    if (x != y) lines << f.name + QStringLiteral(" = ") + x + QStringLiteral(" → ") + y;
  }
  if (lines.isEmpty() && a != b) {
    // Bytes no field shows (reserved space, codes the window does not know).
    constexpr int kShown = 16;
    int listed = 0, more = 0;
    for (std::size_t i = 0; i < kConfigImageSize; ++i) {
      if (a[i] == b[i]) continue;
      if (listed++ < kShown)
        lines << QStringLiteral("байт %1 = %2 → %3").arg(i).arg(hex(a[i]), hex(b[i]));
      else
        ++more;
    }
    if (more) lines << QStringLiteral("и еще %1 байт").arg(more);
  }
  return lines;
}

int checkCommand(const QStringList &args) {
  const Arguments p = parseArguments(QStringLiteral("check"), args, {}, true);
  if (p.done()) return p.exit;
  if (p.words.size() != 1) return usage(QStringLiteral("check"), QStringLiteral("нужен один файл"));
  ConfigImageBytes image{};
  if (!loadOrSay(p.words[0], image)) return kBadInput;
  outLine(QStringLiteral("%1: конфигурация в порядке (%2 байта, контрольная сумма %3)")
              .arg(p.words[0])
              .arg(kConfigImageSize)
              .arg(hex(image[layout::kChecksum])));
  return kOk;
}

int dumpCommand(const QStringList &args) {
  const Arguments p = parseArguments(QStringLiteral("dump"), args, {{QStringLiteral("--json")}}, true);
  if (p.done()) return p.exit;
  if (p.words.size() != 1) return usage(QStringLiteral("dump"), QStringLiteral("нужен один файл"));
  ConfigImageBytes image{};
  if (!loadOrSay(p.words[0], image)) return kBadInput;
  const ConfigValue v = valueOf(image);
  const bool json = p.flags.contains(QStringLiteral("--json"));
  // JSON keeps dump's order; each key and value is escaped by Qt's own writer.
  auto quoted = [](const QString &s) {
    QByteArray a = QJsonDocument(QJsonArray{s}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(a.mid(1, a.size() - 2));
  };
  QString text;
  if (json) text += QStringLiteral("{\n");
  const auto &fields = fieldnames::allFields();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const QString value = fieldnames::valueText(fields[i], v);
    if (json)
      text += QStringLiteral("  ") + quoted(fields[i].name) + QStringLiteral(": ") + quoted(value) +
              (i + 1 < fields.size() ? QStringLiteral(",\n") : QStringLiteral("\n"));
    else
      text += fields[i].name + QStringLiteral(" = ") + value + QLatin1Char('\n');
  }
  if (json) text += QStringLiteral("}\n");
  out(text);
  return kOk;
}

int diffCommand(const QStringList &args) {
  const Arguments p = parseArguments(QStringLiteral("diff"), args, {}, true);
  if (p.done()) return p.exit;
  if (p.words.size() != 2) return usage(QStringLiteral("diff"), QStringLiteral("нужны два файла"));
  ConfigImageBytes a{}, b{};
  if (!loadOrSay(p.words[0], a) || !loadOrSay(p.words[1], b)) return kBadInput;
  const QStringList lines = differences(a, b);
  if (!lines.isEmpty()) out(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
  return kOk;
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

}  // namespace cli
