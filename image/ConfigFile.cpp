#include "image/ConfigFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <QSaveFile>
#include <algorithm>
#else
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr qint64 kSize = qint64(kConfigImageSize);

bool fail(ConfigFileError *error, const char16_t *what, const QString &path,
          const QString &reason) {
  if (error) {
    error->what = QString::fromUtf16(what).arg(QDir::toNativeSeparators(path));
    error->reason = reason;
  }
  return false;
}

constexpr char16_t kOpenFailed[] = u"Не удалось открыть файл \"%1\"";
constexpr char16_t kReadFailed[] = u"Ошибка чтения файла \"%1\"";
constexpr char16_t kSaveFailed[] = u"Не удалось сохранить файл \"%1\"";

QString shortFile(qint64 got) {
  return QStringLiteral("Файл короче конфигурации: %1 байт вместо %2").arg(got).arg(kSize);
}

#ifndef Q_OS_WIN

QString systemReason(int err) { return qt_error_string(err); }

QString notRegular(mode_t mode) {
  if (S_ISDIR(mode)) return QStringLiteral("Это папка, а не файл");
  if (S_ISCHR(mode) || S_ISBLK(mode)) return QStringLiteral("Это устройство, а не файл");
  if (S_ISFIFO(mode)) return QStringLiteral("Это канал (FIFO), а не файл");
  if (S_ISSOCK(mode)) return QStringLiteral("Это сокет, а не файл");
  return QStringLiteral("Это не обычный файл");
}

struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

int openFile(const QByteArray &path, int flags, mode_t mode = 0) {
  int fd;
  do fd = ::open(path.constData(), flags | O_CLOEXEC | O_NOCTTY, mode);
  while (fd < 0 && errno == EINTR);
  return fd;
}

// Both return how much was done; when that is short, errno says why (0 at the end of the file).
qint64 readAt(int fd, char *data, qint64 size, off_t at) {
  qint64 done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, data + done, size_t(size - done), at + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = 0;
      break;
    }
    done += n;
  }
  return done;
}

qint64 writeAt(int fd, const char *data, qint64 size, off_t at) {
  qint64 done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd, data + done, size_t(size - done), at + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      break;
    }
    done += n;
  }
  return done;
}

// Used on the way out of a failure, where the first error is the one to report.
void truncateTo(int fd, off_t size) {
  while (::ftruncate(fd, size) != 0 && errno == EINTR) {
  }
}

bool syncFile(int fd) {
  int r;
  do r = ::fsync(fd);
  while (r != 0 && errno == EINTR);
  return r == 0;
}

// A file that did not exist: nothing old to protect, and created as any new file is (mode from
// the umask). A failed write removes it again.
bool writeNew(const QString &path, const QByteArray &native, const char *data,
              ConfigFileError *error) {
  const Fd f{openFile(native, O_WRONLY | O_CREAT | O_EXCL, 0666)};
  if (f.fd < 0) return fail(error, kSaveFailed, path, systemReason(errno));
  if (writeAt(f.fd, data, kSize, 0) != kSize || !syncFile(f.fd)) {
    const int err = errno;
    ::unlink(native.constData());
    return fail(error, kSaveFailed, path, systemReason(err));
  }
  return true;
}

enum class Beside { Done, Failed, NotPossible };

// The new image goes into a file beside the old one, which takes its place only when complete,
// so a failure leaves the old file whole. NotPossible when no such file can be made (folder not
// writable) or it cannot get the old file's owner: the caller writes in place then.
Beside replaceBeside(const QString &path, const QByteArray &target, const struct stat &old,
                     const char *data, ConfigFileError *error) {
  const qsizetype slash = target.lastIndexOf('/');
  QByteArray temp = target.left(slash + 1) + '.' + target.mid(slash + 1) + ".XXXXXX";
  const Fd f{::mkostemp(temp.data(), O_CLOEXEC)};
  if (f.fd < 0) {
    if (errno == EACCES || errno == EPERM) return Beside::NotPossible;
    fail(error, kSaveFailed, path, systemReason(errno));
    return Beside::Failed;
  }
  struct stat made {};
  if (::fstat(f.fd, &made) != 0 ||
      ((made.st_uid != old.st_uid || made.st_gid != old.st_gid) &&
       ::fchown(f.fd, old.st_uid, old.st_gid) != 0)) {
    ::unlink(temp.constData());
    return Beside::NotPossible;
  }
  QString reason;
  if (::fchmod(f.fd, old.st_mode & 07777) != 0 || writeAt(f.fd, data, kSize, 0) != kSize ||
      !syncFile(f.fd)) {
    reason = systemReason(errno);
  } else {
    // Never rename over something that has taken the old file's name meanwhile.
    struct stat now {};
    if (::stat(target.constData(), &now) != 0 || now.st_dev != old.st_dev ||
        now.st_ino != old.st_ino)
      reason = QStringLiteral("Файл изменён другой программой во время сохранения");
    else if (::rename(temp.constData(), target.constData()) != 0) {
      if (errno == EBUSY) {  // the name is a mount point: only writing in place reaches it
        ::unlink(temp.constData());
        return Beside::NotPossible;
      }
      reason = systemReason(errno);
    }
  }
  if (reason.isEmpty()) return Beside::Done;
  ::unlink(temp.constData());
  fail(error, kSaveFailed, path, reason);
  return Beside::Failed;
}

// Rewrites the file itself, for a file with several names or one in a folder we may not write.
// Space past the old end is taken first, before any old byte is touched; if overwriting fails
// after all, the old bytes are put back.
bool writeInPlace(const QString &path, const QByteArray &target, const char *data,
                  ConfigFileError *error) {
  const Fd f{openFile(target, O_RDWR | O_NONBLOCK)};
  struct stat st {};
  if (f.fd < 0 || ::fstat(f.fd, &st) != 0)
    return fail(error, kSaveFailed, path, systemReason(errno));
  if (!S_ISREG(st.st_mode)) return fail(error, kSaveFailed, path, notRegular(st.st_mode));
  const off_t oldSize = st.st_size;
  const qint64 head = qMin<qint64>(oldSize, kSize);
  QByteArray old(head, Qt::Uninitialized);
  if (readAt(f.fd, old.data(), head, 0) != head)
    return fail(error, kSaveFailed, path, systemReason(errno ? errno : EIO));
  if (head < kSize && writeAt(f.fd, data + head, kSize - head, head) != kSize - head) {
    const int err = errno;
    truncateTo(f.fd, oldSize);
    return fail(error, kSaveFailed, path, systemReason(err));
  }
  const qint64 done = writeAt(f.fd, data, head, 0);
  if (done != head || !syncFile(f.fd)) {
    const int err = errno;
    writeAt(f.fd, old.constData(), done, 0);
    truncateTo(f.fd, oldSize);
    syncFile(f.fd);
    return fail(error, kSaveFailed, path, systemReason(err));
  }
  if (oldSize > kSize && ::ftruncate(f.fd, kSize) != 0)
    return fail(error, kSaveFailed, path, systemReason(errno));
  return true;
}

#endif  // !Q_OS_WIN

}  // namespace

#ifndef Q_OS_WIN

bool readConfigFile(const QString &path, ConfigImageBytes &out, ConfigFileError *error) {
  const QByteArray native = QFile::encodeName(path);
  struct stat st {};
  // Checked before opening: opening a FIFO waits for a writer for ever, and opening a device
  // can reset whatever hangs on it.
  if (::stat(native.constData(), &st) != 0)
    return fail(error, kOpenFailed, path, systemReason(errno));
  if (!S_ISREG(st.st_mode)) return fail(error, kOpenFailed, path, notRegular(st.st_mode));
  // Without blocking, and checked again, in case the name was given to something else meanwhile.
  const Fd f{openFile(native, O_RDONLY | O_NONBLOCK)};
  if (f.fd < 0 || ::fstat(f.fd, &st) != 0)
    return fail(error, kOpenFailed, path, systemReason(errno));
  if (!S_ISREG(st.st_mode)) return fail(error, kOpenFailed, path, notRegular(st.st_mode));
  ConfigImageBytes image;
  const qint64 got = readAt(f.fd, reinterpret_cast<char *>(image.data()), kSize, 0);
  if (got != kSize)
    return fail(error, kReadFailed, path, errno ? systemReason(errno) : shortFile(got));
  out = image;
  return true;
}

bool writeConfigFile(const QString &path, const ConfigImageBytes &image, ConfigFileError *error) {
  const QByteArray native = QFile::encodeName(path);
  const char *data = reinterpret_cast<const char *>(image.data());
  struct stat st {};
  if (::stat(native.constData(), &st) != 0) {
    if (errno != ENOENT) return fail(error, kSaveFailed, path, systemReason(errno));
    return writeNew(path, native, data, error);
  }
  // A device or FIFO would be replaced by a plain file (or, written to, get the image).
  if (!S_ISREG(st.st_mode)) return fail(error, kSaveFailed, path, notRegular(st.st_mode));
  if (::access(native.constData(), W_OK) != 0) {
    // Replacing the file would go round its protection.
    return fail(error, kSaveFailed, path,
                errno == EACCES ? QStringLiteral("Файл защищён от записи") : systemReason(errno));
  }
  // A symbolic link stays a link: its target is what gets replaced.
  const QString canonical = QFileInfo(path).canonicalFilePath();
  const QByteArray target = canonical.isEmpty() ? native : QFile::encodeName(canonical);
  if (st.st_nlink == 1) {
    const Beside b = replaceBeside(path, target, st, data, error);
    if (b != Beside::NotPossible) return b == Beside::Done;
  }
  return writeInPlace(path, target, data, error);
}

#else

bool readConfigFile(const QString &path, ConfigImageBytes &out, ConfigFileError *error) {
  QFile file(path);
  if (QFileInfo(path).isDir())
    return fail(error, kOpenFailed, path, QStringLiteral("Это папка, а не файл"));
  if (!file.open(QIODevice::ReadOnly)) return fail(error, kOpenFailed, path, file.errorString());
  const QByteArray data = file.read(kSize);
  if (data.size() != kSize)
    return fail(error, kReadFailed, path,
                data.size() < 0 ? file.errorString() : shortFile(data.size()));
  std::copy(data.begin(), data.end(), out.begin());
  return true;
}

bool writeConfigFile(const QString &path, const ConfigImageBytes &image, ConfigFileError *error) {
  const QFileInfo info(path);
  if (info.isDir()) return fail(error, kSaveFailed, path, QStringLiteral("Это папка, а не файл"));
  if (info.exists() && !info.isWritable())
    return fail(error, kSaveFailed, path, QStringLiteral("Файл защищён от записи"));
  // Unbuffered: a buffered QSaveFile reports a failed final flush as a successful commit.
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
    return fail(error, kSaveFailed, path, file.errorString());
  if (file.write(reinterpret_cast<const char *>(image.data()), kSize) != kSize) {
    const QString reason = file.errorString();
    file.cancelWriting();
    file.commit();  // with writing cancelled this only removes the temporary file
    return fail(error, kSaveFailed, path, reason);
  }
  if (!file.commit()) return fail(error, kSaveFailed, path, file.errorString());
  return true;
}

#endif
