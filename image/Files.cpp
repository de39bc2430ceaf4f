// The file commands "Открыть" and "Сохранить": a configuration file is exactly one image.
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QSaveFile>
#include <cstring>

#include "app/Unit5.h"
#include "editor/MessageBoxes.h"
#include "editor/Unit1.h"

namespace {

QString shownName(const QString &path) { return QDir::toNativeSeparators(path); }

}  // namespace

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
  QFile file(path);
  if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
    errorBox(this, QStringLiteral("Не удалось открыть файл \"%1\"").arg(shownName(path)),
             QFileInfo(path).isDir() ? QStringLiteral("Это папка, а не файл") : file.errorString());
    return false;
  }
  // Read aside first: a short or failed read must leave IncomingImage as it was.
  const QByteArray data = file.read(qint64(kConfigImageSize));
  if (data.size() != qsizetype(kConfigImageSize)) {
    const QString reason =
        data.size() < 0 ? file.errorString()
                        : QStringLiteral("Файл короче конфигурации: %1 байт вместо %2")
                              .arg(data.size()).arg(kConfigImageSize);
    errorBox(this, QStringLiteral("Ошибка чтения файла \"%1\"").arg(shownName(path)), reason);
    return false;
  }
  file.close();
  std::memcpy(IncomingImage.data(), data.constData(), kConfigImageSize);
  setEnabled(true);
  show();
  repaint();
  return Load();
}

bool TQuorlan::saveFile(const QString &path) {
  if (!mass_out()) return false;
  // Written beside the old file and renamed over it only when complete, so a failure
  // (disk full, no permission, folder gone) leaves the old file whole. Unbuffered: a buffered
  // QSaveFile reports a failed final flush as a successful commit and puts the cut file in place.
  QSaveFile file(path);
  QString failure;
  const QFileInfo info(path);
  if (info.isDir()) {
    failure = QStringLiteral("Это папка, а не файл");
  } else if (info.exists() && !info.isWritable()) {
    failure = QStringLiteral("Файл защищён от записи");  // a rename would go round the protection
  } else if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
    failure = file.errorString();
  } else {
    const char *data = reinterpret_cast<const char *>(OutgoingImage.data());
    qint64 written = 0;
    while (written < qint64(kConfigImageSize)) {
      const qint64 n = file.write(data + written, qint64(kConfigImageSize) - written);
      if (n <= 0) break;
      written += n;
    }
    if (written != qint64(kConfigImageSize)) {
      failure = file.errorString();
      file.cancelWriting();
      file.commit();  // with writing cancelled this only removes the temporary file
    } else if (!file.commit()) {
      failure = file.errorString();
    }
  }
  Progress->closeWindow();
  setEnabled(true);
  show();
  repaint();
  if (!failure.isEmpty()) {
    errorBox(this, QStringLiteral("Не удалось сохранить файл \"%1\"").arg(shownName(path)), failure);
    return false;
  }
  return true;
}
