#include "support/BVLocalPaths.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QUuid>

#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <random>

// Folder roles on a freedesktop system:
//   library      $XDG_DATA_HOME/Brightvane          (machine: /var/lib/Brightvane)
//   preferences  library + "/Preferences"
//   logs         library + "/Logs"                  (machine: /var/log)
//   caches       $XDG_CACHE_HOME                    (machine: /var/cache)
//   applications $XDG_DATA_HOME/applications        (machine: /usr/share/applications)
//   desktop      the XDG desktop folder; Trash: $XDG_DATA_HOME/Trash
// Everything is derived from HOME and the XDG variables at the moment of use.

namespace {

QString envPath(const char *name)
{
    const QByteArray value = qgetenv(name);
    // Relative values are invalid for XDG variables and are ignored.
    if (value.isEmpty() || !value.startsWith('/'))
        return {};
    return QDir::cleanPath(QString::fromLocal8Bit(value));
}

struct ConsoleUser
{
    QString name;
    QString home;
};

// The person at the screen, for a superuser process: the user who asked for the privilege
// (pkexec or sudo) or, failing that, the login user of this session.
ConsoleUser consoleUser()
{
    uid_t uid = uid_t(-1);
    for (const char *var : {"PKEXEC_UID", "SUDO_UID"}) {
        bool ok = false;
        const uint value = qEnvironmentVariable(var).toUInt(&ok);
        if (ok) {
            uid = uid_t(value);
            break;
        }
    }
    if (uid == uid_t(-1)) {
        QFile f(QStringLiteral("/proc/self/loginuid"));
        if (f.open(QIODevice::ReadOnly)) {
            bool ok = false;
            const qulonglong value = f.readAll().trimmed().toULongLong(&ok);
            if (ok && value != 4294967295ULL && value != 0)
                uid = uid_t(value);
        }
    }
    if (uid == uid_t(-1))
        return {};
    struct passwd pw;
    struct passwd *result = nullptr;
    char buffer[4096];
    if (getpwuid_r(uid, &pw, buffer, sizeof buffer, &result) != 0 || !result)
        return {};
    return {QString::fromLocal8Bit(pw.pw_name), QString::fromLocal8Bit(pw.pw_dir)};
}

QString ownHome()
{
    return QDir::cleanPath(QDir::homePath());
}

// A user-domain folder of a superuser process is re-rooted from the superuser's home into the
// console user's.
QString userPath(const QString &path)
{
    if (!BVLocalPaths::isSuperuser())
        return path;
    const QString rootHome = ownHome();
    const ConsoleUser user = consoleUser();
    if (user.home.isEmpty() || rootHome == user.home)
        return path;
    if (path == rootHome)
        return user.home;
    if (path.startsWith(rootHome + u'/'))
        return user.home + path.mid(rootHome.size());
    return path;
}

QString dataHome()
{
    const QString xdg = envPath("XDG_DATA_HOME");
    return userPath(xdg.isEmpty() ? ownHome() + QStringLiteral("/.local/share") : xdg);
}

QString configHome()
{
    const QString xdg = envPath("XDG_CONFIG_HOME");
    return userPath(xdg.isEmpty() ? ownHome() + QStringLiteral("/.config") : xdg);
}

// The XDG desktop folder from user-dirs.dirs, $HOME/Desktop when it names none.
QString desktopFromUserDirs()
{
    const QString home = BVLocalPaths::userDirectory();
    QFile f(configHome() + QStringLiteral("/user-dirs.dirs"));
    if (f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        while (!f.atEnd()) {
            const QString line = QString::fromUtf8(f.readLine()).trimmed();
            if (!line.startsWith(QLatin1String("XDG_DESKTOP_DIR=")))
                continue;
            QString value = line.mid(16);
            if (value.startsWith(u'"') && value.endsWith(u'"') && value.size() >= 2)
                value = value.mid(1, value.size() - 2);
            value.replace(QLatin1String("$HOME"), home);
            if (value.startsWith(u'/') && value != home)
                return QDir::cleanPath(value);
        }
    }
    return home + QStringLiteral("/Desktop");
}

} // namespace

bool BVLocalPaths::isSuperuser()
{
    return geteuid() == 0;
}

QString BVLocalPaths::applicationDirectory(bool user)
{
    return user ? dataHome() + QStringLiteral("/applications") : QStringLiteral("/usr/share/applications");
}

QString BVLocalPaths::adminApplicationDirectory(bool user)
{
    return user ? userDirectory() + QStringLiteral("/.local/sbin") : QStringLiteral("/usr/sbin");
}

QString BVLocalPaths::documentDirectory(bool user)
{
    if (!user)
        return QStringLiteral("/usr/local/share/Documents");
    const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return userPath(docs.isEmpty() ? ownHome() + QStringLiteral("/Documents") : docs);
}

QString BVLocalPaths::libraryDirectory(bool user)
{
    return user ? dataHome() + QStringLiteral("/Brightvane") : QStringLiteral("/var/lib/Brightvane");
}

QString BVLocalPaths::prefsDirectory(bool user)
{
    return libraryDirectory(user) + QStringLiteral("/Preferences");
}

QString BVLocalPaths::cacheDirectory(bool user)
{
    if (!user)
        return QStringLiteral("/var/cache");
    const QString xdg = envPath("XDG_CACHE_HOME");
    return userPath(xdg.isEmpty() ? ownHome() + QStringLiteral("/.cache") : xdg);
}

QString BVLocalPaths::appSupportDirectory(bool user)
{
    return libraryDirectory(user) + QStringLiteral("/Application Support");
}

QString BVLocalPaths::logDirectory(bool user)
{
    return user ? libraryDirectory(true) + QStringLiteral("/Logs") : QStringLiteral("/var/log");
}

QString BVLocalPaths::desktopDirectory()
{
    return desktopFromUserDirs();
}

QString BVLocalPaths::userDirectory()
{
    return userPath(ownHome());
}

QString BVLocalPaths::trashDirectory()
{
    return dataHome() + QStringLiteral("/Trash");
}

QString BVLocalPaths::systemLibraryDirectory()
{
    return QStringLiteral("/usr/lib");
}

QString BVLocalPaths::localDocumentationDirectory()
{
    return QStringLiteral("/usr/share/doc");
}

QString BVLocalPaths::tempDirectory()
{
    return QDir::cleanPath(QDir::tempPath());
}

QString BVLocalPaths::username()
{
    if (isSuperuser()) {
        const ConsoleUser user = consoleUser();
        if (!user.name.isEmpty())
            return user.name;
    }
    struct passwd pw;
    struct passwd *result = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &pw, buffer, sizeof buffer, &result) == 0 && result)
        return QString::fromLocal8Bit(pw.pw_name);
    return qEnvironmentVariable("USER");
}

QString BVLocalPaths::tempFile()
{
    return tempDirectory() + u'/' + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()
        + randomString(8);
}

QString BVLocalPaths::randomString(int count)
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    // Reseeded on every call from the current time and the processor clock.
    const auto now = std::chrono::system_clock::now().time_since_epoch().count();
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    std::mt19937_64 generator(uint64_t(now) ^ (uint64_t(ticks) << 1) ^ uint64_t(std::clock()));
    QString result;
    result.reserve(std::max(0, count));
    for (int i = 0; i < count; ++i)
        result.append(QLatin1Char(alphabet[generator() % 36]));
    return result;
}

bool BVLocalPaths::isPathSystemDirectory(const QString &path, bool exactMatch)
{
    if (path == QLatin1String("/"))
        return true;
    if (path.size() < 3)
        return false;
    QString p = path;
    if (p.endsWith(u'/'))
        p.chop(1);

    const QStringList protectedFolders = {
        applicationDirectory(true),
        applicationDirectory(false),
        adminApplicationDirectory(true),
        adminApplicationDirectory(false),
        documentDirectory(true),
        documentDirectory(false),
        libraryDirectory(true),
        libraryDirectory(false),
        prefsDirectory(true),
        prefsDirectory(false),
        cacheDirectory(true),
        cacheDirectory(false),
        appSupportDirectory(true),
        appSupportDirectory(false),
        desktopDirectory(),
        userDirectory(),
        systemLibraryDirectory(),
        localDocumentationDirectory(),
        QStringLiteral("/"),
        QStringLiteral("/home"),
        QStringLiteral("/media"),
        QStringLiteral("/mnt"),
    };
    if (protectedFolders.contains(p))
        return true;
    if (exactMatch)
        return false;
    // Whole path components only: "/usr/local" is inside "/usr", "/usrdata" is not.
    for (const char *root : {"/usr", "/var", "/etc", "/proc", "/sys", "/boot"}) {
        const QLatin1String r(root);
        if (p == r || p.startsWith(r + u'/'))
            return true;
    }
    return false;
}
