#pragma once
// "Открыть" and "Сохранить" of the main window without their dialogs: a configuration file is
// exactly one image.

#include <QString>

#include "image/ConfigImageTypes.h"

class TProgress;
class TQuorlan;

class TEditorFiles {
public:
  // The file commands of `window`, whose image builds show in `progress`.
  TEditorFiles(TQuorlan *window, TProgress *progress) : window_(window), progress_(progress) {}

  // False when the operation failed; the operator has been told why. A file that cannot be
  // read leaves the received image as it was; a refused save leaves the file as it was.
  bool open(const QString &path);
  // The same for an image from elsewhere (the journal of exchanges).
  bool openImage(const ConfigImageBytes &image);
  bool save(const QString &path);

private:
  TQuorlan *window_;
  TProgress *progress_;
};
