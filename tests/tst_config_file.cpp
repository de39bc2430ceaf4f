// Configuration files without windows: what may be opened and replaced, what a save keeps of
// the old file, and what a failed save leaves behind. One check goes through the main window.
#include <QtTest>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

#include "widgets/Unit5.h"
#include "editor/EditorFiles.h"
#include "editor/Unit1.h"
#include "image/ConfigFile.h"
#include "testsupport.h"

namespace {
// A main window with its progress window; whatever start-up says (no port to open) is answered.
std::unique_ptr<testsupport::MainWindowOnly> windowAnsweringStartup() {
  testsupport::ModalWatcher startup;
  return std::make_unique<testsupport::MainWindowOnly>();
}
}  // namespace

namespace {

ConfigImageBytes pattern(int seed) {
  ConfigImageBytes image;
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = std::uint8_t(i * seed + seed);
  return image;
}
QByteArray bytesOf(const ConfigImageBytes &image) {
  return QByteArray(reinterpret_cast<const char *>(image.data()), qsizetype(image.size()));
}
QByteArray contents(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}
bool put(const QString &path, const QByteArray &data) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}
QStringList entries(const QString &dir) {
  return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                             QDir::Name);
}

#ifndef Q_OS_WIN
struct stat statOf(const QString &path) {
  struct stat st {};
  if (::lstat(QFile::encodeName(path).constData(), &st) != 0) st.st_mode = 0;
  return st;
}

// A FIFO that nobody writes to must be refused, not waited on: a hang ends the test instead.
struct Watchdog {
  Watchdog() { ::alarm(30); }
  ~Watchdog() { ::alarm(0); }
};

// A disk that fills up after `bytes`; the size limit makes writes fail as root too.
struct FileSizeLimit {
  struct rlimit saved {};
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &small);
  }
  ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &saved); }
};

constexpr uid_t kOtherUser = 65534;
#else
std::wstring wide(const QString &path) { return QDir::toNativeSeparators(path).toStdWString(); }
DWORD attributesOf(const QString &path) { return GetFileAttributesW(wide(path).c_str()); }

// Another program's handle on a file, with the sharing it allows others.
struct Holder {
  HANDLE h;
  Holder(const QString &path, DWORD share)
      : h(CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~Holder() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
#endif

}  // namespace

class TstConfigFile : public QObject {
  Q_OBJECT
  QTemporaryDir tmp;
  QString d;

private slots:
  void initTestCase();
#ifndef Q_OS_WIN  // FIFOs, device nodes, modes, owners and size limits are POSIX's
  void readsOnlyRegularFiles();
  void neverReplacesDevicesOrFifos();
#endif
  void saveIntoMissingFolderFails_data();
  void saveIntoMissingFolderFails();
#ifndef Q_OS_WIN
  void keepsOwnerModeAndLinks();
  void replacesBesideUnderReadOnlyFolder();
  void writesInPlaceWhereNothingCanBeCreated();
  void failedInPlaceSaveKeepsOldBytes();
  void windowRefusesFifo();
#else
  void cyrillicNamesAttributesAndLinks();
  void readOnlyFileIsRefused();
  void fileHeldOpenByAnotherProgram_data();
  void fileHeldOpenByAnotherProgram();
  void deviceNamesAreNeverOpened();
  void windowTellsWhy();
#endif
  void windowsDeviceNames_data();
  void windowsDeviceNames();
};

void TstConfigFile::initTestCase() {
  testsupport::isolateRuntimeDir();
  QVERIFY(tmp.isValid());
  d = tmp.path();
}

#ifndef Q_OS_WIN
void TstConfigFile::readsOnlyRegularFiles() {
  const QString fifo = d + "/fifo", device = d + "/device", shortFile = d + "/short";
  QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  QVERIFY(QFile::link("/dev/zero", device));
  QVERIFY(put(shortFile, bytesOf(pattern(3)).left(4000)));
  const struct {
    QString path, what, reason;
  } cases[] = {
      {fifo, "Не удалось открыть файл", "канал"},
      {device, "Не удалось открыть файл", "устройство"},
      {d, "Не удалось открыть файл", "папка"},
      {d + "/missing", "Не удалось открыть файл", qt_error_string(ENOENT)},
      {shortFile, "Ошибка чтения файла", "4000 байт вместо 4123"},
      // A regular file whose reading fails: the system's reason, not "0 bytes".
      {"/proc/self/mem", "Ошибка чтения файла", qt_error_string(EIO)},
  };
  Watchdog watchdog;
  for (const auto &c : cases) {
    const ConfigImageBytes before = pattern(7);
    ConfigImageBytes out = before;
    ConfigFileError error;
    QVERIFY2(!readConfigFile(c.path, out, &error), qPrintable(c.path));
    QVERIFY(out == before);
    QCOMPARE(error.what, c.what + " \"" + QDir::toNativeSeparators(c.path) + "\"");
    QVERIFY2(error.reason.contains(c.reason, Qt::CaseInsensitive), qPrintable(error.reason));
  }

  // Only the first image's worth of a longer file counts.
  const QString longer = d + "/longer";
  QVERIFY(put(longer, bytesOf(pattern(5)) + "tail"));
  ConfigImageBytes out{};
  QVERIFY(readConfigFile(longer, out));
  QVERIFY(out == pattern(5));
}

void TstConfigFile::neverReplacesDevicesOrFifos() {
  const QString fifo = d + "/save-fifo", device = d + "/save-device";
  QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  QStringList paths{fifo};
  // A copy of /dev/null's node; creating one needs root.
  if (::mknod(QFile::encodeName(device).constData(), S_IFCHR | 0600, makedev(1, 3)) == 0)
    paths << device;
  else
    qWarning("no device node (needs root): only the FIFO is checked");
  Watchdog watchdog;
  for (const QString &p : paths) {
    const mode_t kind = statOf(p).st_mode & S_IFMT;
    ConfigFileError error;
    QVERIFY2(!writeConfigFile(p, pattern(1), &error), qPrintable(p));
    QVERIFY(error.what.contains(QDir::toNativeSeparators(p)));
    const char *why = kind == S_IFIFO ? "канал" : "устройство";
    QVERIFY2(error.reason.contains(why), qPrintable(error.reason));
    QCOMPARE(statOf(p).st_mode & S_IFMT, kind);
  }
}

#endif

void TstConfigFile::saveIntoMissingFolderFails_data() {
  QTest::addColumn<QString>("below");   // the file's path below a fresh folder
  QTest::addColumn<int>("err");         // what the system says about it
#ifdef Q_OS_WIN
  QTest::newRow("missing folder") << "absent/config" << int(ERROR_PATH_NOT_FOUND);
  QTest::newRow("missing folders") << "absent/deeper/config" << int(ERROR_PATH_NOT_FOUND);
  QTest::newRow("a file for a folder") << "plain/config" << int(ERROR_PATH_NOT_FOUND);
#else
  QTest::newRow("missing folder") << "absent/config" << ENOENT;
  QTest::newRow("missing folders") << "absent/deeper/config" << ENOENT;
  QTest::newRow("a file for a folder") << "plain/config" << ENOTDIR;
#endif
}

void TstConfigFile::saveIntoMissingFolderFails() {
  QFETCH(QString, below);
  QFETCH(int, err);
  // Nothing is made on the way: no folder, no file, no temporary beside any of them.
  QTemporaryDir here(d + "/missingXXXXXX");
  QVERIFY(here.isValid());
  QVERIFY(put(here.filePath("plain"), "old"));
  const QString path = here.filePath(below);
  const QStringList outerBefore = entries(d);
  ConfigFileError error;
  QVERIFY(!writeConfigFile(path, pattern(8), &error));
  QCOMPARE(error.what, "Не удалось сохранить файл \"" + QDir::toNativeSeparators(path) + "\"");
  QCOMPARE(error.reason, qt_error_string(err));
  QCOMPARE(entries(here.path()), QStringList{"plain"});
  QCOMPARE(contents(here.filePath("plain")), QByteArray("old"));
  QCOMPARE(entries(d), outerBefore);
}

#ifndef Q_OS_WIN
void TstConfigFile::keepsOwnerModeAndLinks() {
  const bool root = ::geteuid() == 0;
  const QString sub = d + "/keep";
  QVERIFY(QDir().mkdir(sub));
  // One name with another owner and an unusual mode, one with two names, one behind a link.
  const QString single = sub + "/single", linked = sub + "/linked", twin = sub + "/twin",
                target = sub + "/target", alias = sub + "/alias";
  for (const QString &p : {single, linked, target}) QVERIFY(put(p, QByteArray(10000, 'o')));
  QCOMPARE(::chmod(QFile::encodeName(single).constData(), 0604), 0);
  if (root) QCOMPARE(::chown(QFile::encodeName(single).constData(), kOtherUser, kOtherUser), 0);
  QCOMPARE(::link(QFile::encodeName(linked).constData(), QFile::encodeName(twin).constData()), 0);
  QCOMPARE(::chmod(QFile::encodeName(target).constData(), 0640), 0);
  QVERIFY(QFile::link("target", alias));
  const struct stat singleBefore = statOf(single), linkedBefore = statOf(linked),
                    targetBefore = statOf(target);

  for (const QString &p : {single, linked, alias}) {
    ConfigFileError error;
    QVERIFY2(writeConfigFile(p, pattern(2), &error), qPrintable(error.reason));
  }
  for (const QString &p : {single, linked, twin, target})
    QCOMPARE(contents(p), bytesOf(pattern(2)));
  const struct stat singleAfter = statOf(single), linkedAfter = statOf(linked),
                    targetAfter = statOf(target);
  QCOMPARE(singleAfter.st_mode, singleBefore.st_mode);
  QCOMPARE(singleAfter.st_uid, singleBefore.st_uid);
  QCOMPARE(singleAfter.st_gid, singleBefore.st_gid);
  QCOMPARE(linkedAfter.st_ino, linkedBefore.st_ino);
  QCOMPARE(statOf(twin).st_ino, linkedBefore.st_ino);
  QCOMPARE(targetAfter.st_mode, targetBefore.st_mode);
  QVERIFY(S_ISLNK(statOf(alias).st_mode));
  QCOMPARE(entries(sub), (QStringList{"alias", "linked", "single", "target", "twin"}));
}

void TstConfigFile::replacesBesideUnderReadOnlyFolder() {
  // A writable folder inside a read-only one: the new image is made beside the old file and
  // renamed over it (a new inode), with nothing left in either folder. Root writes everywhere,
  // so as root the save runs as another user, for whom the outer folder is read-only too.
  const bool root = ::geteuid() == 0;
  const QString outer = d + "/readonly", inner = outer + "/open", file = inner + "/config";
  QVERIFY(QDir().mkpath(inner));
  QVERIFY(put(file, QByteArray(100, 'o')));
  QCOMPARE(::chmod(QFile::encodeName(file).constData(), 0640), 0);
  if (root) {
    QCOMPARE(::chmod(QFile::encodeName(d).constData(), 0755), 0);
    for (const QString &p : {inner, file})
      QCOMPARE(::chown(QFile::encodeName(p).constData(), kOtherUser, kOtherUser), 0);
  }
  QCOMPARE(::chmod(QFile::encodeName(outer).constData(), 0555), 0);
  const struct stat before = statOf(file);
  const bool asOther = !root || (::setegid(kOtherUser) == 0 && ::seteuid(kOtherUser) == 0);
  ConfigFileError error;
  const bool saved = asOther && writeConfigFile(file, pattern(9), &error);
  if (root) QVERIFY(::seteuid(0) == 0 && ::setegid(0) == 0);
  QCOMPARE(::chmod(QFile::encodeName(outer).constData(), 0755), 0);
  QVERIFY(asOther);
  QVERIFY2(saved, qPrintable(error.reason));
  QCOMPARE(contents(file), bytesOf(pattern(9)));
  const struct stat after = statOf(file);
  QVERIFY(after.st_ino != before.st_ino);
  QCOMPARE(after.st_mode, before.st_mode);
  QCOMPARE(after.st_uid, before.st_uid);
  QCOMPARE(entries(outer), QStringList{"open"});
  QCOMPARE(entries(inner), QStringList{"config"});
}

void TstConfigFile::writesInPlaceWhereNothingCanBeCreated() {
  // A folder the saving user may not write to, holding a file they may write. Root writes
  // everywhere, so as root the save runs as another user.
  const bool root = ::geteuid() == 0;
  const QString sub = d + "/locked", file = sub + "/config";
  QVERIFY(QDir().mkdir(sub));
  QVERIFY(put(file, QByteArray(100, 'o')));
  if (root) {
    QCOMPARE(::chmod(QFile::encodeName(d).constData(), 0755), 0);
    QCOMPARE(::chown(QFile::encodeName(file).constData(), kOtherUser, kOtherUser), 0);
  }
  QCOMPARE(::chmod(QFile::encodeName(sub).constData(), 0555), 0);
  const bool asOther = !root || (::setegid(kOtherUser) == 0 && ::seteuid(kOtherUser) == 0);
  ConfigFileError error;
  const bool saved = asOther && writeConfigFile(file, pattern(4), &error);
  if (root) QVERIFY(::seteuid(0) == 0 && ::setegid(0) == 0);
  QCOMPARE(::chmod(QFile::encodeName(sub).constData(), 0755), 0);
  QVERIFY(asOther);
  QVERIFY2(saved, qPrintable(error.reason));
  QCOMPARE(contents(file), bytesOf(pattern(4)));
  QCOMPARE(entries(sub), QStringList{"config"});
}

void TstConfigFile::failedInPlaceSaveKeepsOldBytes() {
  // Files with a second name are rewritten in place: a disk that fills up half-way must leave
  // the old bytes, whether the old file is longer or shorter than an image.
  const QString sub = d + "/full";
  QVERIFY(QDir().mkdir(sub));
  const QByteArray longOld(5000, 'L'), shortOld(100, 's');
  QVERIFY(put(sub + "/long", longOld));
  QVERIFY(put(sub + "/short", shortOld));
  for (const char *name : {"long", "short"}) {
    const QByteArray p = QFile::encodeName(sub + "/" + name);
    QCOMPARE(::link(p.constData(), (p + "-twin").constData()), 0);
  }
  QList<ConfigFileError> errors;
  QList<bool> results;
  {
    FileSizeLimit limit(1000);
    for (const char *name : {"long", "short", "new"}) {
      ConfigFileError error;
      results << writeConfigFile(sub + "/" + name, pattern(6), &error);
      errors << error;
    }
  }
  QCOMPARE(results, (QList<bool>{false, false, false}));
  for (const ConfigFileError &e : errors) {
    QVERIFY(e.what.startsWith("Не удалось сохранить файл"));
    QCOMPARE(e.reason, qt_error_string(EFBIG));
  }
  QCOMPARE(contents(sub + "/long"), longOld);
  QCOMPARE(contents(sub + "/long-twin"), longOld);
  QCOMPARE(contents(sub + "/short"), shortOld);
  QCOMPARE(entries(sub), (QStringList{"long", "long-twin", "short", "short-twin"}));
}

void TstConfigFile::windowRefusesFifo() {
  const QString fifo = d + "/window-fifo";
  QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const auto window = windowAnsweringStartup();
  TQuorlan *w = window->w;
  const ConfigImageBytes incoming = w->IncomingImage;
  bool opened;
  QList<testsupport::ModalWatcher::Seen> boxes;
  {
    Watchdog watchdog;
    testsupport::ModalWatcher watcher;
    opened = TEditorFiles(w, Progress).open(fifo);
    boxes = watcher.boxes;
  }
  const bool untouched = w->IncomingImage == incoming;
  QVERIFY(!opened);
  QVERIFY(untouched);
  QCOMPARE(boxes.size(), 1);
  QVERIFY(boxes[0].text.contains(QDir::toNativeSeparators(fifo)));
  QVERIFY2(boxes[0].informative.contains("канал"), qPrintable(boxes[0].informative));
}

#else  // Q_OS_WIN

// A new file, a replaced one and a hidden one with a second name, under Russian names: each
// save leaves exactly the image, the old file's attributes and names, and nothing beside.
void TstConfigFile::cyrillicNamesAttributesAndLinks() {
  const QString sub = d + QStringLiteral("/Конфигурации"),
                file = sub + QStringLiteral("/объект 7.cfg"),
                twin = sub + QStringLiteral("/объект 7 копия.cfg");
  QVERIFY(QDir().mkdir(sub));
  for (int seed : {1, 2}) {  // made, then replaced
    ConfigFileError error;
    QVERIFY2(writeConfigFile(file, pattern(seed), &error), qPrintable(error.reason));
    ConfigImageBytes back{};
    QVERIFY2(readConfigFile(file, back, &error), qPrintable(error.reason));
    QVERIFY(back == pattern(seed));
  }
  QVERIFY(SetFileAttributesW(wide(file).c_str(), FILE_ATTRIBUTE_HIDDEN));
  ConfigFileError error;
  QVERIFY2(writeConfigFile(file, pattern(3), &error), qPrintable(error.reason));
  QCOMPARE(contents(file), bytesOf(pattern(3)));
  QVERIFY(attributesOf(file) & FILE_ATTRIBUTE_HIDDEN);
  QVERIFY(CreateHardLinkW(wide(twin).c_str(), wide(file).c_str(), nullptr));
  QVERIFY2(writeConfigFile(twin, pattern(4), &error), qPrintable(error.reason));
  QCOMPARE(contents(file), bytesOf(pattern(4)));
  QCOMPARE(contents(twin), bytesOf(pattern(4)));
  QCOMPARE(entries(sub), (QStringList{QStringLiteral("объект 7 копия.cfg"), QStringLiteral("объект 7.cfg")}));
}

void TstConfigFile::readOnlyFileIsRefused() {
  const QString file = d + QStringLiteral("/защищённый.cfg");
  QVERIFY(put(file, QByteArray(100, 'o')));
  QVERIFY(SetFileAttributesW(wide(file).c_str(), FILE_ATTRIBUTE_READONLY));
  const QStringList before = entries(d);
  ConfigFileError error;
  QVERIFY(!writeConfigFile(file, pattern(5), &error));
  SetFileAttributesW(wide(file).c_str(), FILE_ATTRIBUTE_NORMAL);
  QCOMPARE(error.what, "Не удалось сохранить файл \"" + QDir::toNativeSeparators(file) + "\"");
  QCOMPARE(error.reason, QStringLiteral("Файл защищён от записи"));
  QCOMPARE(contents(file), QByteArray(100, 'o'));
  QCOMPARE(entries(d), before);
}

// Another program holds the file with the sharing given: the save is refused with the system's
// reason or done in full, never cut; reading is refused only where sharing forbids it.
void TstConfigFile::fileHeldOpenByAnotherProgram_data() {
  QTest::addColumn<int>("share");
  QTest::newRow("no sharing") << 0;
  QTest::newRow("reading shared") << int(FILE_SHARE_READ);
  QTest::newRow("reading and writing shared") << int(FILE_SHARE_READ | FILE_SHARE_WRITE);
  QTest::newRow("reading and deleting shared") << int(FILE_SHARE_READ | FILE_SHARE_DELETE);
}

void TstConfigFile::fileHeldOpenByAnotherProgram() {
  QFETCH(int, share);
  QTemporaryDir here(d + "/heldXXXXXX");
  const QString file = here.filePath(QStringLiteral("занят.cfg"));
  const QByteArray old = bytesOf(pattern(6)) + "tail";
  QVERIFY(put(file, old));
  bool saved, read;
  ConfigFileError saveError, readError;
  ConfigImageBytes got{};
  {
    const Holder holder(file, DWORD(share));
    QVERIFY(holder.h != INVALID_HANDLE_VALUE);
    saved = writeConfigFile(file, pattern(7), &saveError);
    read = readConfigFile(file, got, &readError);
  }
  if (saved) {
    QCOMPARE(contents(file), bytesOf(pattern(7)));
  } else {
    QVERIFY(saveError.what.contains(QDir::toNativeSeparators(file)));
    QVERIFY(!saveError.reason.isEmpty());
    QCOMPARE(contents(file), old);
  }
  if (share & FILE_SHARE_READ) {
    QVERIFY2(read, qPrintable(readError.reason));
    QVERIFY(got == (saved ? pattern(7) : pattern(6)));
  } else {
    QVERIFY(!read);
    QVERIFY(!readError.reason.isEmpty());
  }
  QCOMPARE(entries(here.path()), QStringList{QStringLiteral("занят.cfg")});
  // Let go, it saves as any file.
  QVERIFY2(writeConfigFile(file, pattern(8), &saveError), qPrintable(saveError.reason));
  QCOMPARE(contents(file), bytesOf(pattern(8)));
}

// Refused by name: a port that does not exist here would otherwise say "not found", and
// nothing is made in the folder.
void TstConfigFile::deviceNamesAreNeverOpened() {
  const QString sub = d + "/devices";
  QVERIFY(QDir().mkdir(sub));
  const QStringList paths{QStringLiteral("COM1"), QStringLiteral("COM9"), sub + "/NUL.cfg",
                          sub + "/lpt1.cfg", sub + QStringLiteral("/com3.конфиг"),
                          QStringLiteral("\\\\.\\COM9")};
  for (const QString &p : paths) {
    ConfigFileError error;
    QVERIFY2(!writeConfigFile(p, pattern(1), &error), qPrintable(p));
    QCOMPARE(error.reason, QStringLiteral("Это устройство, а не файл"));
    ConfigImageBytes out = pattern(2);
    QVERIFY2(!readConfigFile(p, out, &error), qPrintable(p));
    QCOMPARE(error.reason, QStringLiteral("Это устройство, а не файл"));
    QVERIFY(out == pattern(2));
  }
  QCOMPARE(entries(sub), QStringList());
}

// What the operator sees: the window says why, and its received image stays.
void TstConfigFile::windowTellsWhy() {
  const QString readOnly = d + QStringLiteral("/только чтение.cfg");
  QVERIFY(put(readOnly, "old"));
  QVERIFY(SetFileAttributesW(wide(readOnly).c_str(), FILE_ATTRIBUTE_READONLY));
  const auto window = windowAnsweringStartup();
  TQuorlan *w = window->w;
  const ConfigImageBytes incoming = w->IncomingImage;
  bool opened, saved;
  QList<testsupport::ModalWatcher::Seen> boxes;
  {
    testsupport::ModalWatcher watcher;
    opened = TEditorFiles(w, Progress).open(d + "/nul.cfg");
    saved = TEditorFiles(w, Progress).save(readOnly);
    boxes = watcher.boxes;
  }
  const bool untouched = w->IncomingImage == incoming;
  SetFileAttributesW(wide(readOnly).c_str(), FILE_ATTRIBUTE_NORMAL);
  QVERIFY(!opened);
  QVERIFY(!saved);
  QVERIFY(untouched);
  QCOMPARE(contents(readOnly), QByteArray("old"));
  QCOMPARE(boxes.size(), 2);
  QVERIFY(boxes[0].text.contains(QDir::toNativeSeparators(d + "/nul.cfg")));
  QCOMPARE(boxes[0].informative, QStringLiteral("Это устройство, а не файл"));
  QVERIFY(boxes[1].text.contains(QDir::toNativeSeparators(readOnly)));
  QCOMPARE(boxes[1].informative, QStringLiteral("Файл защищён от записи"));
}

#endif  // Q_OS_WIN

// The names Windows opens as devices, refused there before anything is opened; and the
// near misses that are ordinary files and must stay writable.
void TstConfigFile::windowsDeviceNames_data() {
  QTest::addColumn<QString>("path");
  QTest::addColumn<bool>("device");
  const struct {
    const char16_t *path;
    bool device;
  } rows[] = {
      {u"COM1", true},
      {u"com9", true},
      {u"COM0", true},
      {u"LPT3", true},
      {u"COM\u00B9", true},
      {u"lpt\u00B3.cfg", true},
      {u"NUL", true},
      {u"nul.txt", true},
      {u"Nul.tar.gz", true},
      {u"CON", true},
      {u"prn", true},
      {u"AUX.cfg", true},
      {u"CONIN$", true},
      {u"conout$", true},
      {u"NUL .cfg", true},
      {u"NUL:stream", true},
      {u"C:\\configs\\COM1.cfg", true},
      {u"C:/configs/aux", true},
      {u"D:NUL", true},
      {u"\\\\server\\share\\PRN", true},
      {u"\\\\.\\COM12", true},
      {u"//./pipe/quorlan", true},
      {u"\\\\.\\C:\\configs\\unit.cfg", true},
      {u"\\\\?\\GLOBALROOT\\Device\\Serial0", true},
      {u"\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}\\x.cfg", true},
      {u"\\??\\COM1", true},
      {u"\\\\?\\C:\\configs\\unit.cfg", false},
      {u"\\\\?\\UNC\\server\\share\\unit.cfg", false},
      {u"\\??\\D:\\unit.cfg", false},
      {u"COM10", false},
      {u"COM", false},
      {u"COMA", false},
      {u"LPT", false},
      {u"com1x.cfg", false},
      {u"xCOM1", false},
      {u"NULL", false},
      {u"console.cfg", false},
      {u"CON_1.cfg", false},
      {u"auxiliary.cfg", false},
      {u"C:\\COM1\\unit.cfg", false},
      {u"C:\\nul.d\\unit.cfg", false},
      {u"/home/tech/COM1-backup.cfg", false},
      {u"unit.cfg", false},
      {u"", false},  // nothing to compare
      {u"C:", false},
  };
  for (const auto &r : rows)
    QTest::newRow(QString::fromUtf16(r.path).toUtf8().constData())
        << QString::fromUtf16(r.path) << r.device;
}

void TstConfigFile::windowsDeviceNames() {
  QFETCH(QString, path);
  QFETCH(bool, device);
  QCOMPARE(isWindowsDevicePath(path), device);
}

QTEST_MAIN(TstConfigFile)
#include "tst_config_file.moc"
