#include "support/BVAuthorization.h"

#include "support/BVAuthorizationPkexecRunner.h"
#include "support/BVFileManager.h"
#include "support/BVLocalPaths.h"
#include "support/BVSystemConsole.h"
#include "support/BVTaskEx.h"
#include "support/helper/BVPrivilegedOperations.h"
#include "support/helper/BVPrivilegedPaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace {

// Tools get clean absolute paths: the protected-folder check cannot be dodged with "." or "//",
// and no path can be read as an option.
QString cleanAbsolutePath(const QString &path)
{
    if (path.isEmpty())
        return {};
    return QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path));
}

QString trashFilesFolder()
{
    return BVLocalPaths::trashDirectory() + QStringLiteral("/files");
}

QString trashInfoPath(const QString &nameInTrash)
{
    return BVLocalPaths::trashDirectory() + QStringLiteral("/info/") + nameInTrash
        + QStringLiteral(".trashinfo");
}

bool trashNameTaken(const QString &destination)
{
    return QFileInfo::exists(destination) || QFileInfo(destination).isSymLink()
        || QFileInfo::exists(trashInfoPath(QFileInfo(destination).fileName()));
}

// The desktop's trash keeps, beside each item, where it came from and when, so it can be restored.
void writeTrashInfo(const QString &originalPath, const QString &destination)
{
    QDir().mkpath(BVLocalPaths::trashDirectory() + QStringLiteral("/info"));
    QFile info(trashInfoPath(QFileInfo(destination).fileName()));
    if (!info.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    info.write("[Trash Info]\nPath=" + QUrl::toPercentEncoding(originalPath, "/")
        + "\nDeletionDate=" + QDateTime::currentDateTime().toString(Qt::ISODate).left(19).toUtf8() + '\n');
}

} // namespace

BVAuthorization *BVAuthorization::sharedController()
{
    // Created once, under the lock of a function-local static. Never destroyed: it may be used
    // from any thread until the process ends.
    static BVAuthorization *instance = new BVAuthorization();
    return instance;
}

BVAuthorization::BVAuthorization()
    : m_runner(std::make_unique<BVAuthorizationPkexecRunner>())
{
    // An authorisation handed down by a privileged parent does not exist on this platform: a child
    // started through the root shell already runs as the superuser.
    if (!BVLocalPaths::isSuperuser())
        m_userDirectory = BVLocalPaths::userDirectory();
}

BVAuthorization::~BVAuthorization() = default;

std::unique_ptr<BVAuthorizationRunner> BVAuthorization::setRunner(
    std::unique_ptr<BVAuthorizationRunner> runner)
{
    std::lock_guard lock(m_mutex);
    std::swap(m_runner, runner);
    return runner;
}

void BVAuthorization::setSuperuserForTesting(std::optional<bool> superuser)
{
    std::lock_guard lock(m_mutex);
    m_superuserOverride = superuser;
}

bool BVAuthorization::isSuperuser() const
{
    return m_superuserOverride.value_or(BVLocalPaths::isSuperuser());
}

bool BVAuthorization::isAuthorized() const
{
    std::lock_guard lock(m_mutex);
    return isSuperuser() || (m_runner && m_runner->hasRight());
}

bool BVAuthorization::authStart(const QString &operation)
{
    std::lock_guard lock(m_mutex);
    if (isAuthorized())
        return true;
    if (!m_hasGUI || !m_runner) {
        BVSystemConsole::log("Unable to authorize");
        return false;
    }
    if (m_runner->obtainRight(operation))
        return true;
    BVSystemConsole::log("Unable to authorize: administrator rights were refused or cancelled");
    return false;
}

void BVAuthorization::authEnd()
{
    std::lock_guard lock(m_mutex);
    if (m_runner)
        m_runner->releaseRight();
}

int BVAuthorization::authExecTask(const QString &tool, const QStringList &parameters, bool async)
{
    std::lock_guard lock(m_mutex);
    if (tool.isEmpty() || !QFileInfo::exists(tool)) {
        BVSystemConsole::log("Unable to execute task: path %@ doesn't exist", tool);
        return -2;
    }
    if (isSuperuser()) {
        if (async)
            BVTaskEx::runTaskAndReturn(tool, parameters);
        else
            BVTaskEx::runTask(tool, parameters);
        return 0;
    }
    BVSystemConsole::log("Unable to execute task %@ with administrator rights: only file operations are "
                         "performed with them",
        tool);
    return -1;
}

bool BVAuthorization::mayChange(const QString &path) const
{
    const QString home = m_userDirectory.isEmpty() ? BVLocalPaths::userDirectory() : m_userDirectory;
    return BVPrivilegedPaths::mayChange(path, home) && !BVLocalPaths::isPathSystemDirectory(path, true)
        && !BVLocalPaths::isPathSystemDirectory(BVPrivilegedPaths::resolvedPath(path), true);
}

bool BVAuthorization::runOperation(const QStringList &request)
{
    std::lock_guard lock(m_mutex);
    QString message;
    int code;
    if (isSuperuser()) {
        const QString home = m_userDirectory.isEmpty() ? BVLocalPaths::userDirectory() : m_userDirectory;
        code = BVPrivilegedOperations::perform(request, {home, trashFilesFolder()}, &message);
    } else {
        if (!authStart(request.value(0)))
            return false;
        code = m_runner->perform(request, &message);
    }
    if (code != 0) {
        BVSystemConsole::log("Privileged %@ failed: %@", request.join(u' '), message);
        return false;
    }
    return true;
}

bool BVAuthorization::authRemoveFile(const QString &path)
{
    const QString target = cleanAbsolutePath(path);
    if (target.isEmpty() || !mayChange(target)) {
        BVSystemConsole::log("Unable to delete path %@ because it is a system directory.", path);
        return false;
    }
    return runOperation({QStringLiteral("remove"), target});
}

bool BVAuthorization::authMoveFile(const QString &oldPath, const QString &newPath)
{
    if (oldPath.isEmpty()) {
        BVSystemConsole::log("Error in authMoveFile: old path is null");
        return false;
    }
    if (newPath.isEmpty()) {
        BVSystemConsole::log("Error in authMoveFile: new path is null");
        return false;
    }
    const QString source = cleanAbsolutePath(oldPath);
    const QString destination = cleanAbsolutePath(newPath);
    if (!mayChange(source)) {
        BVSystemConsole::log("Unable to move path %@ because it is a system directory.", oldPath);
        return false;
    }
    if (!mayChange(destination)) {
        BVSystemConsole::log(
            "Unable to move path %@ to %@ because it is a system directory.", oldPath, newPath);
        return false;
    }
    if (!BVFileManager::fileExistsAtPath(source)) {
        BVSystemConsole::log("Error in authMoveFile: %@ does not exist", oldPath);
        return false;
    }
    if (QFileInfo::exists(destination) || QFileInfo(destination).isSymLink()) {
        BVSystemConsole::log("Error in authMoveFile: %@ already exists", newPath);
        return false;
    }
    return runOperation({QStringLiteral("move"), source, destination});
}

bool BVAuthorization::authCopyFile(const QString &oldPath, const QString &newPath)
{
    if (oldPath.isEmpty()) {
        BVSystemConsole::log("Error in authCopyFile: old path is null");
        return false;
    }
    if (newPath.isEmpty()) {
        BVSystemConsole::log("Error in authCopyFile: new path is null");
        return false;
    }
    const QString source = cleanAbsolutePath(oldPath);
    const QString destination = cleanAbsolutePath(newPath);
    if (!BVFileManager::fileExistsAtPath(source)) {
        BVSystemConsole::log("Error in authCopyFile: %@ does not exist", oldPath);
        return false;
    }
    if (!mayChange(destination)) {
        BVSystemConsole::log("Unable to copy to path %@ because it is a system directory.", newPath);
        return false;
    }
    if (QFileInfo::exists(destination) || QFileInfo(destination).isSymLink()) {
        BVSystemConsole::log("Error in authCopyFile: %@ already exists", newPath);
        return false;
    }
    return runOperation({QStringLiteral("copy"), source, destination});
}

bool BVAuthorization::authCreateDir(const QString &path)
{
    const QString target = cleanAbsolutePath(path);
    if (target.isEmpty())
        return false;
    return runOperation({QStringLiteral("mkdir"), target});
}

QString BVAuthorization::trashDestinationForPath(const QString &path)
{
    const QString name = QFileInfo(QDir::cleanPath(path)).fileName();
    const QString destination = trashFilesFolder() + u'/' + name;
    if (!trashNameTaken(destination))
        return destination;
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    const QString extension = BVFileManager::pathExtension(destination);
    QString stamped = BVFileManager::stringByDeletingPathExtension(destination) + u'_' + stamp;
    if (!extension.isEmpty())
        stamped += u'.' + extension;
    // Two items of one name trashed within a second must not replace each other.
    for (int n = 2; trashNameTaken(stamped); ++n) {
        stamped = BVFileManager::stringByDeletingPathExtension(destination) + u'_' + stamp
            + QStringLiteral(" %1").arg(n) + (extension.isEmpty() ? QString() : u'.' + extension);
    }
    return stamped;
}

bool BVAuthorization::authTrashFile(const QString &path)
{
    const QString source = cleanAbsolutePath(path);
    if (source.isEmpty() || !mayChange(source)) {
        BVSystemConsole::log("Unable to trash path %@ because it is a system directory.", path);
        return false;
    }
    std::lock_guard lock(m_mutex);
    QDir().mkpath(trashFilesFolder());
    const QString destination = trashDestinationForPath(source);
    if (!BVFileManager::fileExistsAtPath(source)) {
        BVSystemConsole::log("Error in authMoveFile: %@ does not exist", path);
        return false;
    }
    if (!runOperation({QStringLiteral("trash"), source, destination}))
        return false;
    writeTrashInfo(source, destination);
    return true;
}
