// The file commands "Открыть" and "Сохранить": the dialogs, then the files' own work.
#include <QFileDialog>

#include "editor/EditorFiles.h"
#include "editor/Unit1.h"

void TQuorlan::mmOpenClick() {
  const QString path = QFileDialog::getOpenFileName(this);
  if (path.isEmpty()) return;
  TEditorFiles(this, progress()).open(path);
}

void TQuorlan::mmSaveClick() {
  const QString path = QFileDialog::getSaveFileName(this, QString(), QString(), QString(), nullptr,
                                                    QFileDialog::DontConfirmOverwrite);
  if (path.isEmpty()) return;
  TEditorFiles(this, progress()).save(path);
}
