#pragma once
// Commands on configuration files: check, dump, diff, set.

#include <QJsonArray>
#include <QStringList>
#include <functional>

#include "image/ConfigImageTypes.h"
#include "image/ConfigValue.h"

namespace cli {

// Reads a configuration file and checks its size and checksum. On failure says what is wrong
// and returns false.
bool loadImage(const QString &path, ConfigImageBytes &image, QString *why);
// The configuration the window would show for a good image.
ConfigValue valueOf(const ConfigImageBytes &image);
// One differing setting, or a byte the window shows nowhere (name empty, `byte` its offset).
struct Difference {
  QString name;
  QString a, b;
  qint64 byte = -1;
};
struct Differences {
  QList<Difference> items;
  int moreBytes = 0;   // differing bytes past those listed
  bool empty() const { return items.isEmpty(); }
  QStringList lines() const;        // dump's words: "NAME = A → B"
  QJsonArray json() const;
};
// The differing fields of two images; bytes the window shows nowhere are listed by offset when
// no field differs.
Differences compareImages(const ConfigImageBytes &a, const ConfigImageBytes &b);
inline QStringList differences(const ConfigImageBytes &a, const ConfigImageBytes &b) {
  return compareImages(a, b).lines();
}

// Every setting (or those `wanted` takes) as dump prints it: "name = value" lines, or one JSON
// object in dump's order.
QString settingsText(const ConfigValue &v, bool json,
                     const std::function<bool(const QString &)> &wanted = {});

int checkCommand(const QStringList &args);
int dumpCommand(const QStringList &args);
int diffCommand(const QStringList &args);
int setCommand(const QStringList &args);
// Every setting's name, one a line: what completion offers to set and dump.
int namesCommand(const QStringList &args);

}  // namespace cli
