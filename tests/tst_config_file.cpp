// Configuration files without windows: what may be opened and replaced, what a save keeps of
// the old file, and what a failed save leaves behind. One check goes through the main window.
#include <QtTest>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "widgets/Unit5.h"
#include "editor/EditorFiles.h"
#include "editor/Unit1.h"
#include "image/ConfigFile.h"
#include "testsupport.h"

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
struct stat statOf(const QString &path) {
  struct stat st {};
  if (::lstat(QFile::encodeName(path).constData(), &st) != 0) st.st_mode = 0;
  return st;
}
QStringList entries(const QString &dir) {
  return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                             QDir::Name);
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

}  // namespace

class TstConfigFile : public QObject {
  Q_OBJECT
  QTemporaryDir tmp;
  QString d;

private slots:
  void initTestCase();
  void readsOnlyRegularFiles();
  void neverReplacesDevicesOrFifos();
  void saveIntoMissingFolderFails_data();
  void saveIntoMissingFolderFails();
  void keepsOwnerModeAndLinks();
  void replacesBesideUnderReadOnlyFolder();
  void writesInPlaceWhereNothingCanBeCreated();
  void failedInPlaceSaveKeepsOldBytes();
  void windowRefusesFifo();
  void windowsDeviceNames_data();
  void windowsDeviceNames();
};

void TstConfigFile::initTestCase() {
  testsupport::isolateRuntimeDir();
  QVERIFY(tmp.isValid());
  d = tmp.path();
}

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

void TstConfigFile::saveIntoMissingFolderFails_data() {
  QTest::addColumn<QString>("below");   // the file's path below a fresh folder
  QTest::addColumn<int>("err");         // what the system says about it
  QTest::newRow("missing folder") << "absent/config" << ENOENT;
  QTest::newRow("missing folders") << "absent/deeper/config" << ENOENT;
  QTest::newRow("a file for a folder") << "plain/config" << ENOTDIR;
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
  Progress = new TProgress;
  TQuorlan *w;
  {
    testsupport::ModalWatcher startup;
    w = new TQuorlan(nullptr, nullptr, Progress);
  }
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
  delete w;
  delete Progress;
  Progress = nullptr;
  QVERIFY(!opened);
  QVERIFY(untouched);
  QCOMPARE(boxes.size(), 1);
  QVERIFY(boxes[0].text.contains(QDir::toNativeSeparators(fifo)));
  QVERIFY2(boxes[0].informative.contains("канал"), qPrintable(boxes[0].informative));
}

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
