#include "image/ConfigFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <QRandomGenerator>
#include <string>
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <aclapi.h>
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

// What a path that is no regular file is, in the operator's words.
QString folderText() { return QStringLiteral("Это папка, а не файл"); }
QString deviceText() { return QStringLiteral("Это устройство, а не файл"); }
QString fifoText() { return QStringLiteral("Это канал (FIFO), а не файл"); }
QString otherText() { return QStringLiteral("Это не обычный файл"); }

// The platform's file primitives, the same on both sides: File (closes on scope exit),
// readAt/writeAt (return how much was done; when short, lastError() says why, 0 at the end of
// the file), truncateTo and syncFile (false on failure, lastError() says why), systemReason.
#ifndef Q_OS_WIN

QString systemReason(int err) { return qt_error_string(err); }
int lastError() { return errno; }
constexpr int kIoError = EIO;

QString notRegular(mode_t mode) {
  if (S_ISDIR(mode)) return folderText();
  if (S_ISCHR(mode) || S_ISBLK(mode)) return deviceText();
  if (S_ISFIFO(mode)) return fifoText();
  if (S_ISSOCK(mode)) return QStringLiteral("Это сокет, а не файл");
  return otherText();
}

struct File {
  int h;
  ~File() {
    if (h >= 0) ::close(h);
  }
};

int openFile(const QByteArray &path, int flags, mode_t mode = 0) {
  int fd;
  do fd = ::open(path.constData(), flags | O_CLOEXEC | O_NOCTTY, mode);
  while (fd < 0 && errno == EINTR);
  return fd;
}

qint64 readAt(const File &f, char *data, qint64 size, qint64 at) {
  qint64 done = 0;
  while (done < size) {
    const ssize_t n = ::pread(f.h, data + done, size_t(size - done), off_t(at + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = 0;
      break;
    }
    done += n;
  }
  return done;
}

qint64 writeAt(const File &f, const char *data, qint64 size, qint64 at) {
  qint64 done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(f.h, data + done, size_t(size - done), off_t(at + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      break;
    }
    done += n;
  }
  return done;
}

bool truncateTo(const File &f, qint64 size) {
  int r;
  do r = ::ftruncate(f.h, off_t(size));
  while (r != 0 && errno == EINTR);
  return r == 0;
}

bool syncFile(const File &f) {
  int r;
  do r = ::fsync(f.h);
  while (r != 0 && errno == EINTR);
  return r == 0;
}

#else  // Q_OS_WIN

QString systemReason(int err) {
  wchar_t *text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, DWORD(err), 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  const QString reason = n ? QString::fromWCharArray(text, int(n)).trimmed()
                           : QStringLiteral("Системная ошибка %1").arg(err);
  LocalFree(text);
  return reason;
}
int lastError() { return int(GetLastError()); }
constexpr int kIoError = ERROR_READ_FAULT;

struct File {
  HANDLE h;
  ~File() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  bool ok() const { return h != INVALID_HANDLE_VALUE; }
};

std::wstring wide(const QString &path) { return QDir::toNativeSeparators(path).toStdWString(); }

// Others may read, write, rename and delete meanwhile, as on Linux; FILE_FLAG_BACKUP_SEMANTICS
// lets a folder open, so that it is told as one rather than as "access denied".
HANDLE openPath(const std::wstring &path, DWORD access, DWORD disposition) {
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS,
                     nullptr);
}

// Empty for a regular file on a disk, whose facts land in `info`; otherwise what it is.
QString notRegular(const File &f, BY_HANDLE_FILE_INFORMATION &info) {
  switch (GetFileType(f.h)) {
    case FILE_TYPE_DISK: break;
    case FILE_TYPE_CHAR: return deviceText();
    case FILE_TYPE_PIPE: return fifoText();
    default: return otherText();
  }
  if (!GetFileInformationByHandle(f.h, &info)) return systemReason(lastError());
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return folderText();
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) return deviceText();
  return {};
}

bool sameFile(const BY_HANDLE_FILE_INFORMATION &a, const BY_HANDLE_FILE_INFORMATION &b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

OVERLAPPED at(qint64 offset) {
  OVERLAPPED o{};
  o.Offset = DWORD(quint64(offset));
  o.OffsetHigh = DWORD(quint64(offset) >> 32);
  return o;
}

qint64 readAt(const File &f, char *data, qint64 size, qint64 offset) {
  qint64 done = 0;
  while (done < size) {
    OVERLAPPED o = at(offset + done);
    DWORD n = 0;
    if (!ReadFile(f.h, data + done, DWORD(qMin<qint64>(size - done, 1 << 30)), &n, &o)) {
      if (GetLastError() == ERROR_HANDLE_EOF) SetLastError(0);
      break;
    }
    if (n == 0) {
      SetLastError(0);
      break;
    }
    done += n;
  }
  return done;
}

qint64 writeAt(const File &f, const char *data, qint64 size, qint64 offset) {
  qint64 done = 0;
  while (done < size) {
    OVERLAPPED o = at(offset + done);
    DWORD n = 0;
    if (!WriteFile(f.h, data + done, DWORD(qMin<qint64>(size - done, 1 << 30)), &n, &o)) break;
    if (n == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      break;
    }
    done += n;
  }
  return done;
}

bool truncateTo(const File &f, qint64 size) {
  LARGE_INTEGER end;
  end.QuadPart = size;
  return SetFilePointerEx(f.h, end, nullptr, FILE_BEGIN) && SetEndOfFile(f.h);
}

bool syncFile(const File &f) { return FlushFileBuffers(f.h) != 0; }

#endif  // Q_OS_WIN

// Reads an opened regular file's first image.
bool readOpened(const QString &path, const File &f, ConfigImageBytes &out,
                ConfigFileError *error) {
  ConfigImageBytes image;
  const qint64 got = readAt(f, reinterpret_cast<char *>(image.data()), kSize, 0);
  if (got != kSize) {
    const int err = lastError();
    return fail(error, kReadFailed, path, err ? systemReason(err) : shortFile(got));
  }
  out = image;
  return true;
}

// Rewrites an opened regular file of `oldSize` bytes itself, for a file with several names or
// one in a folder we may not write. Space past the old end is taken first, before any old byte
// is touched; if overwriting fails after all, the old bytes are put back.
bool overwrite(const QString &path, const File &f, qint64 oldSize, const char *data,
               ConfigFileError *error) {
  const qint64 head = qMin<qint64>(oldSize, kSize);
  QByteArray old(head, Qt::Uninitialized);
  if (readAt(f, old.data(), head, 0) != head) {
    const int err = lastError();
    return fail(error, kSaveFailed, path, systemReason(err ? err : kIoError));
  }
  if (head < kSize && writeAt(f, data + head, kSize - head, head) != kSize - head) {
    const int err = lastError();
    truncateTo(f, oldSize);  // on the way out: the first error is the one to report
    return fail(error, kSaveFailed, path, systemReason(err));
  }
  const qint64 done = writeAt(f, data, head, 0);
  if (done != head || !syncFile(f)) {
    const int err = lastError();
    writeAt(f, old.constData(), done, 0);
    truncateTo(f, oldSize);
    syncFile(f);
    return fail(error, kSaveFailed, path, systemReason(err));
  }
  if (oldSize > kSize && !truncateTo(f, kSize))
    return fail(error, kSaveFailed, path, systemReason(lastError()));
  return true;
}

enum class Beside { Done, Failed, NotPossible };

#ifndef Q_OS_WIN

// A file that did not exist: nothing old to protect, and created as any new file is (mode from
// the umask). A failed write removes it again.
bool writeNew(const QString &path, const QByteArray &native, const char *data,
              ConfigFileError *error) {
  const File f{openFile(native, O_WRONLY | O_CREAT | O_EXCL, 0666)};
  if (f.h < 0) return fail(error, kSaveFailed, path, systemReason(errno));
  if (writeAt(f, data, kSize, 0) != kSize || !syncFile(f)) {
    const int err = errno;
    ::unlink(native.constData());
    return fail(error, kSaveFailed, path, systemReason(err));
  }
  return true;
}

// The new image goes into a file beside the old one, which takes its place only when complete,
// so a failure leaves the old file whole. NotPossible when no such file can be made (folder not
// writable) or it cannot get the old file's owner: the caller writes in place then.
Beside replaceBeside(const QString &path, const QByteArray &target, const struct stat &old,
                     const char *data, ConfigFileError *error) {
  const qsizetype slash = target.lastIndexOf('/');
  QByteArray temp = target.left(slash + 1) + '.' + target.mid(slash + 1) + ".XXXXXX";
  const File f{::mkostemp(temp.data(), O_CLOEXEC)};
  if (f.h < 0) {
    if (errno == EACCES || errno == EPERM) return Beside::NotPossible;
    fail(error, kSaveFailed, path, systemReason(errno));
    return Beside::Failed;
  }
  struct stat made {};
  if (::fstat(f.h, &made) != 0 ||
      ((made.st_uid != old.st_uid || made.st_gid != old.st_gid) &&
       ::fchown(f.h, old.st_uid, old.st_gid) != 0)) {
    ::unlink(temp.constData());
    return Beside::NotPossible;
  }
  QString reason;
  if (::fchmod(f.h, old.st_mode & 07777) != 0 || writeAt(f, data, kSize, 0) != kSize ||
      !syncFile(f)) {
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

bool writeInPlace(const QString &path, const QByteArray &target, const char *data,
                  ConfigFileError *error) {
  const File f{openFile(target, O_RDWR | O_NONBLOCK)};
  struct stat st {};
  if (f.h < 0 || ::fstat(f.h, &st) != 0)
    return fail(error, kSaveFailed, path, systemReason(errno));
  if (!S_ISREG(st.st_mode)) return fail(error, kSaveFailed, path, notRegular(st.st_mode));
  return overwrite(path, f, st.st_size, data, error);
}

#else  // Q_OS_WIN

bool writeNew(const QString &path, const std::wstring &native, const char *data,
              ConfigFileError *error) {
  int err = 0;
  {
    const File f{CreateFileW(native.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (!f.ok()) return fail(error, kSaveFailed, path, systemReason(lastError()));
    if (writeAt(f, data, kSize, 0) != kSize || !syncFile(f)) err = lastError();
  }
  if (err == 0) return true;
  DeleteFileW(native.c_str());
  return fail(error, kSaveFailed, path, systemReason(err));
}

enum class Kept { Yes, OwnerNot, Failed };

// The old file's owner and access list, given to the file that takes its place. OwnerNot when
// the owner cannot be given (that takes a privilege) or not even read.
Kept keepSecurity(const std::wstring &from, const std::wstring &to, int *err) {
  PSID owner = nullptr, madeOwner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr, madeSd = nullptr;
  Kept kept = Kept::Yes;
  if (GetNamedSecurityInfoW(from.c_str(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                            nullptr, &dacl, nullptr, &sd) != ERROR_SUCCESS ||
      GetNamedSecurityInfoW(to.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &madeOwner,
                            nullptr, nullptr, nullptr, &madeSd) != ERROR_SUCCESS) {
    kept = Kept::OwnerNot;
  } else if (owner && madeOwner && !EqualSid(owner, madeOwner) &&
             SetNamedSecurityInfoW(const_cast<LPWSTR>(to.c_str()), SE_FILE_OBJECT,
                                   OWNER_SECURITY_INFORMATION, owner, nullptr, nullptr,
                                   nullptr) != ERROR_SUCCESS) {
    kept = Kept::OwnerNot;
  } else {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(sd, &control, &revision);
    const SECURITY_INFORMATION what =
        DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED)
                                         ? PROTECTED_DACL_SECURITY_INFORMATION
                                         : UNPROTECTED_DACL_SECURITY_INFORMATION);
    const DWORD r = SetNamedSecurityInfoW(const_cast<LPWSTR>(to.c_str()), SE_FILE_OBJECT, what,
                                          nullptr, nullptr, dacl, nullptr);
    if (r != ERROR_SUCCESS) {
      *err = int(r);
      kept = Kept::Failed;
    }
  }
  LocalFree(sd);
  LocalFree(madeSd);
  return kept;
}

// A complete new file beside the old one takes its name in one step
// (MoveFileEx, written through), with the old file's owner, access list and attributes.
Beside replaceBeside(const QString &path, const std::wstring &target,
                     const BY_HANDLE_FILE_INFORMATION &old, const char *data,
                     ConfigFileError *error) {
  const qsizetype slash = qsizetype(target.find_last_of(L'\\') + 1);  // 0 when there is none
  std::wstring temp;
  File f{INVALID_HANDLE_VALUE};
  for (int i = 0; i < 100 && !f.ok(); ++i) {
    temp = target.substr(0, size_t(slash)) + L'.' + target.substr(size_t(slash)) + L'.' +
           QString::number(QRandomGenerator::global()->generate(), 16).toStdWString();
    f.h = CreateFileW(temp.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!f.ok() && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (!f.ok()) {
    const int err = lastError();
    if (err == ERROR_ACCESS_DENIED) return Beside::NotPossible;
    fail(error, kSaveFailed, path, systemReason(err));
    return Beside::Failed;
  }
  int err = 0;
  DWORD volumeFlags = 0;
  if (GetVolumeInformationByHandleW(f.h, nullptr, 0, nullptr, nullptr, &volumeFlags, nullptr, 0) &&
      (volumeFlags & FILE_PERSISTENT_ACLS)) {
    const Kept kept = keepSecurity(target, temp, &err);
    if (kept == Kept::OwnerNot) {
      CloseHandle(f.h);
      f.h = INVALID_HANDLE_VALUE;
      DeleteFileW(temp.c_str());
      return Beside::NotPossible;
    }
  }
  if (err == 0 && (writeAt(f, data, kSize, 0) != kSize || !syncFile(f))) err = lastError();
  CloseHandle(f.h);
  f.h = INVALID_HANDLE_VALUE;
  constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if (err == 0 && (old.dwFileAttributes & kKeptAttributes) &&
      !SetFileAttributesW(temp.c_str(), old.dwFileAttributes & kKeptAttributes))
    err = lastError();
  QString reason = err ? systemReason(err) : QString();
  if (reason.isEmpty()) {
    // Never replace something that has taken the old file's name meanwhile.
    const File now{openPath(target, 0, OPEN_EXISTING)};
    BY_HANDLE_FILE_INFORMATION info{};
    if (!now.ok() || !GetFileInformationByHandle(now.h, &info) || !sameFile(info, old))
      reason = QStringLiteral("Файл изменён другой программой во время сохранения");
  }
  if (reason.isEmpty() &&
      !MoveFileExW(temp.c_str(), target.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    if (GetLastError() == ERROR_ACCESS_DENIED) {  // the old file may not be deleted, or is held
      DeleteFileW(temp.c_str());                   // open without sharing: write in place
      return Beside::NotPossible;
    }
    reason = systemReason(lastError());
  }
  if (reason.isEmpty()) return Beside::Done;
  DeleteFileW(temp.c_str());
  fail(error, kSaveFailed, path, reason);
  return Beside::Failed;
}

bool writeInPlace(const QString &path, const std::wstring &target, const char *data,
                  ConfigFileError *error) {
  const File f{openPath(target, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING)};
  if (!f.ok()) return fail(error, kSaveFailed, path, systemReason(lastError()));
  BY_HANDLE_FILE_INFORMATION info{};
  if (const QString why = notRegular(f, info); !why.isEmpty())
    return fail(error, kSaveFailed, path, why);
  const qint64 size = qint64((quint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  return overwrite(path, f, size, data, error);
}

#endif  // Q_OS_WIN

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
  const File f{openFile(native, O_RDONLY | O_NONBLOCK)};
  if (f.h < 0 || ::fstat(f.h, &st) != 0)
    return fail(error, kOpenFailed, path, systemReason(errno));
  if (!S_ISREG(st.st_mode)) return fail(error, kOpenFailed, path, notRegular(st.st_mode));
  return readOpened(path, f, out, error);
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

#else  // Q_OS_WIN

bool readConfigFile(const QString &path, ConfigImageBytes &out, ConfigFileError *error) {
  // Opening a serial port can switch its lines, and a pipe would connect: refused by name first,
  // then by what the handle turns out to be.
  if (isWindowsDevicePath(path)) return fail(error, kOpenFailed, path, deviceText());
  const File f{openPath(wide(path), GENERIC_READ, OPEN_EXISTING)};
  if (!f.ok()) return fail(error, kOpenFailed, path, systemReason(lastError()));
  BY_HANDLE_FILE_INFORMATION info{};
  if (const QString why = notRegular(f, info); !why.isEmpty())
    return fail(error, kOpenFailed, path, why);
  return readOpened(path, f, out, error);
}

bool writeConfigFile(const QString &path, const ConfigImageBytes &image, ConfigFileError *error) {
  if (isWindowsDevicePath(path)) return fail(error, kSaveFailed, path, deviceText());
  const std::wstring native = wide(path);
  const char *data = reinterpret_cast<const char *>(image.data());
  BY_HANDLE_FILE_INFORMATION info{};
  {
    const File f{openPath(native, 0, OPEN_EXISTING)};  // only to ask what it is
    if (!f.ok()) {
      const int err = lastError();
      if (err != ERROR_FILE_NOT_FOUND) return fail(error, kSaveFailed, path, systemReason(err));
      return writeNew(path, native, data, error);
    }
    if (const QString why = notRegular(f, info); !why.isEmpty())
      return fail(error, kSaveFailed, path, why);
  }
  // Replacing the file would go round its protection: the read-only attribute or an access list
  // that denies writing.
  if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
    return fail(error, kSaveFailed, path, QStringLiteral("Файл защищён от записи"));
  {
    const File w{openPath(native, GENERIC_WRITE, OPEN_EXISTING)};
    if (!w.ok()) {
      const int err = lastError();
      return fail(error, kSaveFailed, path,
                  err == ERROR_ACCESS_DENIED ? QStringLiteral("Файл защищён от записи")
                                             : systemReason(err));
    }
  }
  // A symbolic link stays a link: its target is what gets replaced.
  const QString canonical = QFileInfo(path).canonicalFilePath();
  const std::wstring target = canonical.isEmpty() ? native : wide(canonical);
  if (info.nNumberOfLinks == 1) {
    const Beside b = replaceBeside(path, target, info, data, error);
    if (b != Beside::NotPossible) return b == Beside::Done;
  }
  return writeInPlace(path, target, data, error);
}

#endif  // Q_OS_WIN

bool isWindowsDevicePath(const QString &path) {
  QString p = path;
  p.replace(QLatin1Char('/'), QLatin1Char('\\'));
  if (p.startsWith(QLatin1String("\\\\.\\"))) return true;
  // \\?\ and \??\ hand the rest to the system unparsed: a drive or a share is a path, anything
  // else (GLOBALROOT, a volume, a device) is not.
  if (p.startsWith(QLatin1String("\\\\?\\")) || p.startsWith(QLatin1String("\\??\\"))) {
    const QStringView rest = QStringView(p).mid(4);
    const bool drive = rest.size() >= 3 && rest[0].isLetter() && rest[0].unicode() < 128 &&
                       rest[1] == QLatin1Char(':') && rest[2] == QLatin1Char('\\');
    if (!drive && !rest.startsWith(QLatin1String("UNC\\"), Qt::CaseInsensitive)) return true;
  }
  // The last name, up to its first dot or colon (an extension or a stream), without trailing
  // spaces: that is what Windows compares with its device names.
  QStringView name = QStringView(p).mid(p.lastIndexOf(QLatin1Char('\\')) + 1);
  if (name.size() >= 2 && name[1] == QLatin1Char(':') && name[0].unicode() < 128 &&
      name[0].isLetter())
    name = name.mid(2);  // "C:NUL"
  const qsizetype end = [&] {
    for (qsizetype i = 0; i < name.size(); ++i)
      if (name[i] == QLatin1Char('.') || name[i] == QLatin1Char(':')) return i;
    return name.size();
  }();
  name = name.left(end);
  while (!name.isEmpty() && name.back() == QLatin1Char(' ')) name.chop(1);
  for (const char *reserved : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (name.compare(QLatin1String(reserved), Qt::CaseInsensitive) == 0) return true;
  // COM and LPT with one digit, superscripts ¹ ² ³ included.
  if (name.size() == 4 && (name.left(3).compare(QLatin1String("COM"), Qt::CaseInsensitive) == 0 ||
                           name.left(3).compare(QLatin1String("LPT"), Qt::CaseInsensitive) == 0)) {
    const char16_t c = name[3].unicode();
    return (c >= u'0' && c <= u'9') || c == u'\u00B9' || c == u'\u00B2' || c == u'\u00B3';
  }
  return false;
}
