#pragma once
// Configuration files without windows: a file is exactly one image. Used by the main window's
// "Открыть" and "Сохранить" and fit for tools without a display.

#include <QString>

#include "image/ConfigImageTypes.h"

// Why a file could not be read or written, for the operator.
struct ConfigFileError {
  QString what;     // what failed, naming the file: «Не удалось открыть файл "…"»
  QString reason;   // why: our own words, or the system's where it gave any
};

// Reads the first kConfigImageSize bytes of a regular file. Anything else (a folder, a device,
// a FIFO, a socket) is refused before it is opened, so nothing blocks and no device is touched.
// On failure `out` is left as it was.
bool readConfigFile(const QString &path, ConfigImageBytes &out, ConfigFileError *error = nullptr);

// Makes `path` a file holding exactly `image`. Only a regular file is ever replaced. An existing
// file keeps its owner, mode and hard links. A failure (disk full, no permission) leaves the old
// file as it was.
bool writeConfigFile(const QString &path, const ConfigImageBytes &image,
                     ConfigFileError *error = nullptr);

// True for a path Windows takes for a device rather than a file: a reserved name in any folder
// and with any extension (COM1, nul.txt, C:\x\LPT1.cfg), or the device namespace (\\.\COM3,
// \\?\GLOBALROOT\...). Windows opens those as devices, so they are refused before anything is
// opened. Plain text rules, the same on every system.
bool isWindowsDevicePath(const QString &path);
