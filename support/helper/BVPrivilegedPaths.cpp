#include "support/helper/BVPrivilegedPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace {

QString cleanAbsolute(const QString &path)
{
    if (path.isEmpty())
        return {};
    return QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path));
}

// Folders of the system whose whole contents are protected, and those protected with what lies
// directly in them (their deeper contents belong to programs and users).
const QStringList &wholeTrees()
{
    static const QStringList trees = {QStringLiteral("bin"), QStringLiteral("boot"), QStringLiteral("dev"),
        QStringLiteral("etc"), QStringLiteral("proc"), QStringLiteral("root"), QStringLiteral("run"),
        QStringLiteral("sbin"), QStringLiteral("sys"), QStringLiteral("usr")};
    return trees;
}

const QStringList &firstLevels()
{
    static const QStringList levels = {QStringLiteral("opt"), QStringLiteral("srv"), QStringLiteral("var"),
        QStringLiteral("home"), QStringLiteral("media"), QStringLiteral("mnt"), QStringLiteral("lost+found")};
    return levels;
}

} // namespace

QString BVPrivilegedPaths::resolvedPath(const QString &path)
{
    const QString clean = cleanAbsolute(path);
    if (clean.isEmpty())
        return {};
    // The deepest part that exists is resolved; what follows it is kept as written.
    QString existing = clean;
    QStringList rest;
    while (
        !QFileInfo::exists(existing) && !QFileInfo(existing).isSymLink() && existing != QLatin1String("/")) {
        rest.prepend(QFileInfo(existing).fileName());
        existing = QFileInfo(existing).absolutePath();
    }
    QString resolved = QFileInfo(existing).canonicalFilePath();
    if (resolved.isEmpty()) // a dangling link: its folder resolved, the link's own name kept
        resolved = QDir(QFileInfo(existing).absolutePath()).canonicalPath() + u'/'
            + QFileInfo(existing).fileName();
    for (const QString &component : rest)
        resolved += (resolved.endsWith(u'/') ? QString() : QStringLiteral("/")) + component;
    return QDir::cleanPath(resolved);
}

bool BVPrivilegedPaths::isProtected(const QString &path, const QString &home)
{
    if (path.isEmpty() || path == QLatin1String("/") || !path.startsWith(u'/'))
        return true;
    const QString cleanHome = home.isEmpty() ? QString() : QDir::cleanPath(home);
    if (!cleanHome.isEmpty() && (path == cleanHome || path == QFileInfo(cleanHome).canonicalFilePath()))
        return true;
    const QStringList parts = path.mid(1).split(u'/');
    const QString &top = parts.first();
    const bool library = top.startsWith(QLatin1String("lib")); // lib, lib32, lib64, libx32
    if (library || wholeTrees().contains(top)) {
        // Only what is deeper than /usr/local's own folders belongs to the machine's owner.
        const bool local = top == QLatin1String("usr") && parts.value(1) == QLatin1String("local");
        return !local || parts.size() <= 3;
    }
    if (firstLevels().contains(top) || top == QLatin1String("tmp"))
        return parts.size() <= (top == QLatin1String("tmp") ? 1 : 2)
            || (top == QLatin1String("var") && parts.value(1) == QLatin1String("lib") && parts.size() <= 3);
    return parts.size() <= 1; // any folder at the top of the file system
}

bool BVPrivilegedPaths::mayChange(const QString &path, const QString &home)
{
    const QString written = cleanAbsolute(path);
    if (written.isEmpty())
        return false;
    return !isProtected(written, home) && !isProtected(resolvedPath(written), home);
}
