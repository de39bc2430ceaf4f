#include "editor/EditorFiles.h"

#include "editor/Unit1.h"
#include "image/ConfigFile.h"
#include "widgets/MessageBoxes.h"
#include "widgets/Unit5.h"

bool TEditorFiles::open(const QString &path) {
  ConfigFileError error;
  if (!readConfigFile(path, window_->IncomingImage, &error)) {
    errorBox(window_, error.what, error.reason);
    return false;
  }
  if (!openImage(window_->IncomingImage)) return false;
  window_->LastFile = path;
  window_->LastFileImage = window_->IncomingImage;
  return true;
}

bool TEditorFiles::openImage(const ConfigImageBytes &image) {
  window_->IncomingImage = image;
  window_->setEnabled(true);
  window_->show();
  window_->repaint();
  return window_->Load();
}

bool TEditorFiles::save(const QString &path) {
  if (!window_->mass_out()) return false;
  ConfigFileError error;
  const bool saved = writeConfigFile(path, window_->OutgoingImage, &error);
  if (progress_) progress_->closeWindow();
  window_->setEnabled(true);
  window_->show();
  window_->repaint();
  if (!saved) {
    errorBox(window_, error.what, error.reason);
    return false;
  }
  window_->LastFile = path;
  window_->LastFileImage = window_->OutgoingImage;
  return true;
}
