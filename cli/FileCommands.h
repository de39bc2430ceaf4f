#pragma once
// Commands on configuration files: check, dump, diff, set.

#include <QStringList>

#include "image/ConfigImageTypes.h"
#include "image/ConfigValue.h"

namespace cli {

// Reads a configuration file and checks its size and checksum. On failure says what is wrong
// and returns false.
bool loadImage(const QString &path, ConfigImageBytes &image, QString *why);
// The configuration the window would show for a good image.
ConfigValue valueOf(const ConfigImageBytes &image);
// The differing fields of two images in dump's words ("NAME = A → B"); bytes the window shows
// nowhere are listed by offset when no field differs.
QStringList differences(const ConfigImageBytes &a, const ConfigImageBytes &b);

int checkCommand(const QStringList &args);
int dumpCommand(const QStringList &args);
int diffCommand(const QStringList &args);
int setCommand(const QStringList &args);

}  // namespace cli
