#include "link/PortTrouble.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <vector>
#endif

namespace PortTrouble {

namespace {
const QString kDefaultGroup = QStringLiteral("dialout");
const QString kModemManager = QStringLiteral("ModemManager");

#ifdef Q_OS_UNIX
// A name the system or another program chose, on one line and of sane length.
QString cleanName(const QByteArray &raw) {
  QString out;
  for (const QChar c : QString::fromLocal8Bit(raw.left(256)).trimmed())
    if (c.category() != QChar::Other_Control) out += c;
  return out;
}

bool allDigits(const char *s) {
  if (!*s) return false;
  for (; *s; ++s)
    if (*s < '0' || *s > '9') return false;
  return true;
}

QList<QByteArray> entriesOf(const QByteArray &folder) {
  QList<QByteArray> out;
  DIR *d = ::opendir(folder.constData());
  if (!d) return out;
  while (const dirent *e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    out.append(QByteArray(e->d_name));
  }
  ::closedir(d);
  return out;
}

bool userListedIn(const group *g, const char *user) {
  if (!g || !user) return false;
  for (char **m = g->gr_mem; m && *m; ++m)
    if (std::strcmp(*m, user) == 0) return true;
  return false;
}

bool sessionHasGroup(gid_t gid) {
  if (::getegid() == gid) return true;
  const int n = ::getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(n));
  const int got = ::getgroups(n, groups.data());
  for (int i = 0; i < got; ++i)
    if (groups[std::size_t(i)] == gid) return true;
  return false;
}
#endif
}  // namespace

QList<Holder> holdersOf(const QString &device, const QString &procRoot) {
  QList<Holder> out;
#ifdef Q_OS_UNIX
  struct stat dev {};
  if (::stat(QFile::encodeName(device).constData(), &dev) != 0 || !S_ISCHR(dev.st_mode)) return out;
  const QByteArray root = QFile::encodeName(procRoot);
  for (const QByteArray &pid : entriesOf(root)) {
    if (!allDigits(pid.constData()) || pid.size() > 12) continue;
    const QByteArray fdFolder = root + '/' + pid + "/fd";
    bool holds = false;
    for (const QByteArray &fd : entriesOf(fdFolder)) {
      struct stat st {};
      if (::stat((fdFolder + '/' + fd).constData(), &st) == 0 && S_ISCHR(st.st_mode) &&
          st.st_rdev == dev.st_rdev) {
        holds = true;
        break;
      }
    }
    if (!holds) continue;
    QFile comm(QFile::decodeName(root + '/' + pid + "/comm"));
    Holder h;
    h.pid = pid.toLongLong();
    if (comm.open(QIODevice::ReadOnly)) h.command = cleanName(comm.read(256));
    out.append(h);
  }
#else
  Q_UNUSED(device);
  Q_UNUSED(procRoot);
#endif
  return out;
}

Facts factsFor(const QString &device) {
  Facts f;
  f.device = device;
#ifdef Q_OS_UNIX
  const QByteArray path = QFile::encodeName(device);
  struct stat st {};
  if (::stat(path.constData(), &st) != 0) return f;
  f.permitted = ::access(path.constData(), R_OK | W_OK) == 0 || errno != EACCES;
  // The device's group is the one to join when its members may read and write it.
  const group *g = nullptr;
  if ((st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) g = ::getgrgid(st.st_gid);
  if (g) f.group = QString::fromLocal8Bit(g->gr_name);
  if (!f.permitted) {
    if (!g) g = ::getgrnam(kDefaultGroup.toLatin1().constData());
    const passwd *pw = ::getpwuid(::geteuid());
    if (g && pw) f.groupNeedsNewLogin = userListedIn(g, pw->pw_name) && !sessionHasGroup(g->gr_gid);
  } else {
    f.holders = holdersOf(device);
  }
#endif
  return f;
}

QString explain(const Facts &f) {
  if (!f.permitted) {
    const QString group = f.group.isEmpty() ? kDefaultGroup : f.group;
    if (f.groupNeedsNewLogin)
      return QStringLiteral("Нет прав на доступ к %1. Пользователь уже записан в группу %2, но "
                            "она действует только после нового входа: выйдите из системы и "
                            "войдите снова.")
          .arg(f.device, group);
    return QStringLiteral("Нет прав на доступ к %1: пользователь должен входить в группу %2. "
                          "Выполните «sudo usermod -aG %2 $USER» и войдите в систему заново.")
        .arg(f.device, group);
  }
  QString text;
  bool modemManager = false;
  if (f.holders.isEmpty()) {
    text = QStringLiteral("Порт %1 занят другой программой или недоступен.").arg(f.device);
  } else {
    QStringList who;
    for (const Holder &h : f.holders) {
      who << QStringLiteral("%1 (PID %2)")
                 .arg(h.command.isEmpty() ? QStringLiteral("?") : h.command)
                 .arg(h.pid);
      modemManager = modemManager || h.command == kModemManager;
    }
    text = QStringLiteral("Порт %1 занят другой программой: %2.").arg(f.device, who.join(QStringLiteral(", ")));
  }
  const bool acm = QFileInfo(f.device).fileName().startsWith(QLatin1String("ttyACM"));
  if (modemManager)
    text += QStringLiteral(" ModemManager проверяет новые устройства как модемы и обычно вскоре "
                           "отпускает порт; его можно остановить: «sudo systemctl stop ModemManager».");
  else if (f.holders.isEmpty() && acm)
    text += QStringLiteral(" Часто это ModemManager, который проверяет новые устройства ttyACM как "
                           "модемы; его можно остановить: «sudo systemctl stop ModemManager».");
  return text;
}

}  // namespace PortTrouble
