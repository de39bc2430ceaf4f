// The file commands "Открыть" and "Сохранить": a configuration file is exactly one image.
#include <QFileDialog>

#include "app/Unit5.h"
#include "editor/MessageBoxes.h"
#include "editor/Unit1.h"
#include "image/ConfigFile.h"

void TQuorlan::mmOpenClick() {
  const QString path = QFileDialog::getOpenFileName(this);
  if (path.isEmpty()) return;
  openFile(path);
}

void TQuorlan::mmSaveClick() {
  const QString path = QFileDialog::getSaveFileName(this, QString(), QString(), QString(), nullptr,
                                                    QFileDialog::DontConfirmOverwrite);
  if (path.isEmpty()) return;
  saveFile(path);
}

bool TQuorlan::openFile(const QString &path) {
  // A file that cannot be read leaves IncomingImage as it was.
  ConfigFileError error;
  if (!readConfigFile(path, IncomingImage, &error)) {
    errorBox(this, error.what, error.reason);
    return false;
  }
  setEnabled(true);
  show();
  repaint();
  return Load();
}

bool TQuorlan::saveFile(const QString &path) {
  if (!mass_out()) return false;
  ConfigFileError error;
  const bool saved = writeConfigFile(path, OutgoingImage, &error);
  Progress->closeWindow();
  setEnabled(true);
  show();
  repaint();
  if (!saved) {
    errorBox(this, error.what, error.reason);
    return false;
  }
  return true;
}
