#include "support/BVFileManager.h"

#include "support/BVAuthorization.h"
#include "support/BVLocalPaths.h"
#include "support/BVLog.h"
#include "support/BVSystemConsole.h"
#include "support/BVWaitLoop.h"
#include "support/BVZipArchiveWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

// Platform choices:
// - The "locked" flag is the file system's immutable attribute (with append-only, which also
//   stops deletion), read and changed through FS_IOC_GETFLAGS / FS_IOC_SETFLAGS. Changing it needs
//   privileges; a failure is logged and the operation goes on.
// - Removable drives are mounted under "/media/" and "/mnt/"; a path there is on a mounted drive
//   when the mount table lists a mount point holding it.
// - The Trash is the freedesktop trash ($XDG_DATA_HOME/Trash with files/ and info/).
// - Archives are written in-process with libarchive.

namespace {

// How long a waiting pass sleeps off the main thread, in seconds.
constexpr double kBackgroundPass = 0.3;

fs::path nativePath(const QString &path)
{
    return fs::path(QFile::encodeName(path).toStdString());
}

QString errorText(const std::error_code &error)
{
    return QString::fromLocal8Bit(error.message().c_str());
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(strerror(error));
}

// Exists without following a final symbolic link: a dangling link is still something to remove.
// The error number of the last failed item operation on this thread: only a failure for lack of
// permission is worth asking the administrator about.
thread_local int t_failure = 0;

bool fail(int code)
{
    t_failure = code;
    return false;
}

bool isPermissionFailure()
{
    return t_failure == EACCES || t_failure == EPERM;
}

bool itemExists(const QString &path)
{
    struct stat st;
    return !path.isEmpty() && lstat(QFile::encodeName(path).constData(), &st) == 0;
}

QString parentFolder(const QString &path)
{
    return QFileInfo(QDir::cleanPath(path)).absolutePath();
}

bool isInside(const QString &path, const QString &folder)
{
    const QString p = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QString f = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    return p == f || p.startsWith(f + u'/');
}

bool copyItem(const QString &source, const QString &destination, QString *error)
{
    if (!itemExists(source)) {
        *error = source + QStringLiteral(": ") + errnoText(ENOENT);
        return fail(ENOENT);
    }
    if (itemExists(destination)) {
        *error = destination + QStringLiteral(": ") + errnoText(EEXIST);
        return fail(EEXIST);
    }
    if (QFileInfo(source).isDir() && isInside(destination, source)) {
        *error = destination + QStringLiteral(": a folder cannot be copied into itself");
        return fail(EINVAL);
    }
    std::error_code code;
    fs::copy(nativePath(source), nativePath(destination),
        fs::copy_options::recursive | fs::copy_options::copy_symlinks, code);
    if (!code)
        return true;
    *error = errorText(code);
    t_failure = code.value();
    // A half-made copy would look like a finished one to anyone waiting for the destination.
    std::error_code ignored;
    fs::remove_all(nativePath(destination), ignored);
    return false;
}

bool moveItem(const QString &source, const QString &destination, QString *error)
{
    if (!itemExists(source)) {
        *error = source + QStringLiteral(": ") + errnoText(ENOENT);
        return fail(ENOENT);
    }
    if (itemExists(destination)) {
        *error = destination + QStringLiteral(": ") + errnoText(EEXIST);
        return fail(EEXIST);
    }
    // Never replaces what appeared meanwhile, nor moves into a folder of the destination's name.
    if (renameat2(AT_FDCWD, QFile::encodeName(source).constData(), AT_FDCWD,
            QFile::encodeName(destination).constData(), RENAME_NOREPLACE)
        == 0)
        return true;
    if (errno != EXDEV) {
        const int code = errno;
        *error = errnoText(code);
        return fail(code);
    }
    // Another file system: copy, then remove the original.
    if (!copyItem(source, destination, error))
        return false;
    std::error_code code;
    fs::remove_all(nativePath(source), code);
    if (code) {
        *error = errorText(code);
        return fail(code.value());
    }
    return true;
}

bool sameItem(const QString &a, const QString &b)
{
    struct stat sa, sb;
    return lstat(QFile::encodeName(a).constData(), &sa) == 0
        && lstat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev
        && sa.st_ino == sb.st_ino;
}

bool isTrashFilesFolder(const QString &folder)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty() || QFileInfo(canonical).fileName() != QLatin1String("files"))
        return false;
    if (canonical == QFileInfo(BVLocalPaths::trashDirectory() + QStringLiteral("/files")).canonicalFilePath())
        return true;
    // Trash folders at the top of another file system: ".Trash/UID/files" or ".Trash-UID/files".
    const QString uid = QString::number(getuid());
    const QFileInfo trash(QFileInfo(canonical).absolutePath());
    return trash.fileName() == QStringLiteral(".Trash-") + uid
        || (trash.fileName() == uid && QFileInfo(trash.absolutePath()).fileName() == QLatin1String(".Trash"));
}

// The desktop's recycle operation. Qt moves an item into a "files" folder next to the current
// directory when the home trash is missing, so the trash is made first and the result checked.
bool recycleItem(const QString &path, QString *error)
{
    const QString trash = BVLocalPaths::trashDirectory();
    QDir().mkpath(trash + QStringLiteral("/files"));
    QDir().mkpath(trash + QStringLiteral("/info"));
    QString pathInTrash;
    QFile file(path);
    if (!file.moveToTrash()) {
        *error = file.errorString();
        // Trashing renames the item: it takes write permission on its folder.
        const bool writable = ::access(QFile::encodeName(parentFolder(path)).constData(), W_OK) == 0;
        return fail(writable ? EIO : errno);
    }
    pathInTrash = file.fileName();
    if (isTrashFilesFolder(QFileInfo(pathInTrash).absolutePath()))
        return true;
    // Not a trash: put the item back where it was.
    ::rename(QFile::encodeName(pathInTrash).constData(), QFile::encodeName(path).constData());
    *error = QStringLiteral("the item went to %1, which is not a trash folder").arg(pathInTrash);
    return false;
}

// Waits until the condition holds or the timeout has passed since start.
bool waitForState(std::chrono::steady_clock::time_point start, std::chrono::seconds timeout,
    const std::function<bool()> &condition)
{
    const double remaining
        = std::chrono::duration<double>(timeout - (std::chrono::steady_clock::now() - start)).count();
    return BVWaitLoop::waitUntil(condition, remaining > 0 ? remaining : 0, kBackgroundPass);
}

QString mountTableText()
{
    QFile table(QStringLiteral("/proc/self/mounts"));
    if (!table.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(table.readAll());
}

// Mount table fields escape space, tab, line feed and backslash as three octal digits.
QString decodeMountField(const QString &field)
{
    auto isOctal = [](QChar c) { return c >= u'0' && c <= u'7'; };
    QString result;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == u'\\' && i + 3 < field.size() && isOctal(field[i + 1]) && isOctal(field[i + 2])
            && isOctal(field[i + 3])) {
            result += QChar(field.mid(i + 1, 3).toInt(nullptr, 8));
            i += 3;
            continue;
        }
        result += field[i];
    }
    return result;
}

bool isUnderRemovableRoot(const QString &path)
{
    return path.startsWith(QLatin1String("/media/")) || path.startsWith(QLatin1String("/mnt/"));
}

} // namespace

bool BVFileManager::fileExistsAtPath(const QString &path)
{
    return !path.isEmpty() && QFileInfo::exists(path);
}

QString BVFileManager::mountPointForPath(const QString &path, const QString &mountTable)
{
    const QString clean = QDir::cleanPath(path);
    QString best;
    const QStringList lines = mountTable.split(u'\n', Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const QStringList fields = line.split(u' ', Qt::SkipEmptyParts);
        if (fields.size() < 2)
            continue;
        const QString mountPoint = QDir::cleanPath(decodeMountField(fields[1]));
        if (!isUnderRemovableRoot(mountPoint + u'/') || mountPoint == QLatin1String("/media")
            || mountPoint == QLatin1String("/mnt"))
            continue;
        if ((clean == mountPoint || clean.startsWith(mountPoint + u'/')) && mountPoint.size() > best.size())
            best = mountPoint;
    }
    return best;
}

bool BVFileManager::isDriveMountedForPath(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    if (!isUnderRemovableRoot(clean))
        return true;
    const QString mountPoint = mountPointForPath(clean, mountTableText());
    BVSystemConsole::log("mountpoint: %@", mountPoint.isEmpty() ? QStringLiteral("none") : mountPoint);
    return !mountPoint.isEmpty() && QFileInfo(mountPoint).isDir();
}

bool BVFileManager::isFileLocked(const QString &path)
{
    struct stat st;
    if (path.isEmpty() || lstat(QFile::encodeName(path).constData(), &st) != 0
        || (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)))
        return false;
    const int fd
        = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    const bool locked
        = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL));
    ::close(fd);
    return locked;
}

bool BVFileManager::unlockFile(const QString &path)
{
    struct stat st;
    const QByteArray native = QFile::encodeName(path);
    if (path.isEmpty() || lstat(native.constData(), &st) != 0)
        return true; // nothing there, nothing to unlock
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        return true; // links, devices and pipes carry no such attribute worth opening them for
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return true; // unreadable: the attribute cannot be read, so it is left as it is
    int flags = 0;
    bool ok = true;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL))) {
        flags &= ~(FS_IMMUTABLE_FL | FS_APPEND_FL);
        if (::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) {
            BVLog::appendLog("Unable to unlock file %@: %@", path, errnoText(errno));
            ok = false;
        }
    }
    ::close(fd);
    return ok;
}

bool BVFileManager::trashFile(const QString &path, bool shouldAuth)
{
    unlockFile(path);
    if (!itemExists(path))
        return true;
    QString error;
    if (recycleItem(path, &error))
        return true;
    if (!shouldAuth || !isPermissionFailure()) {
        BVLog::appendLog("Error trashing file: %@.", error);
        return false;
    }
    BVLog::appendLog("Error trashing file: %@. Authorizing...", error);
    return BVAuthorization::sharedController()->authTrashFile(path);
}

bool BVFileManager::removeFile(const QString &path, bool shouldAuth)
{
    unlockFile(path);
    if (!itemExists(path))
        return true;
    std::error_code code;
    fs::remove_all(nativePath(path), code);
    if (!code)
        return true;
    t_failure = code.value();
    if (!shouldAuth || !isPermissionFailure()) {
        BVLog::appendLog("Error removing file: %@.", errorText(code));
        return false;
    }
    BVLog::appendLog("Error removing file: %@. Authorizing...", errorText(code));
    return BVAuthorization::sharedController()->authRemoveFile(path);
}

bool BVFileManager::createDirectory(const QString &path, bool shouldAuth)
{
    if (path.isEmpty())
        return false;
    if (!isDriveMountedForPath(path)) {
        BVSystemConsole::log("Unable to create directory. Drive is not mounted.");
        return false;
    }
    std::error_code code;
    fs::create_directories(nativePath(path), code);
    if (!code && QFileInfo(path).isDir())
        return true;
    const QString reason = code ? errorText(code) : path + QStringLiteral(": ") + errnoText(EEXIST);
    t_failure = code ? code.value() : EEXIST;
    if (!shouldAuth || !isPermissionFailure()) {
        BVLog::appendLog("Error creating folder: %@.", reason);
        return false;
    }
    BVLog::appendLog("Error creating folder: %@. Authorizing...", reason);
    return BVAuthorization::sharedController()->authCreateDir(path);
}

bool BVFileManager::copyFile(const QString &source, const QString &destination, bool shouldAuth)
{
    if (source.isEmpty()) {
        BVLog::appendLogAndPrint("Error copying file: source path is nil");
        return false;
    }
    if (destination.isEmpty()) {
        BVLog::appendLogAndPrint("Error copying file %@: destination path is nil", source);
        return false;
    }
    unlockFile(parentFolder(destination));
    QString error;
    if (copyItem(source, destination, &error))
        return true;
    if (!shouldAuth || !isPermissionFailure()) {
        BVLog::appendLog("Error copying file: %@.", error);
        return false;
    }
    BVLog::appendLog("Error copying file: %@. Authorizing...", error);
    return BVAuthorization::sharedController()->authCopyFile(source, destination);
}

bool BVFileManager::moveFile(const QString &source, const QString &destination, bool shouldAuth)
{
    if (source.isEmpty() || destination.isEmpty()) {
        BVLog::appendLog(
            "Error moving file: %@.", source.isEmpty() ? "source path is nil" : "destination path is nil");
        return false;
    }
    if (itemExists(destination))
        unlockFile(destination);
    QString error;
    const bool caseOnly = source != destination && source.compare(destination, Qt::CaseInsensitive) == 0;
    // Two distinct items whose names differ in case (a case-sensitive file system) are an ordinary
    // move onto an existing destination, not a rename of one item.
    if (caseOnly && (!itemExists(destination) || sameItem(source, destination))) {
        const QString intermediate = uniqueFilename(destination);
        if (intermediate == destination) {
            if (moveItem(source, destination, &error))
                return true;
        } else if (moveItem(source, intermediate, &error)) {
            if (moveItem(intermediate, destination, &error))
                return true;
            ::rename(QFile::encodeName(intermediate).constData(), QFile::encodeName(source).constData());
        }
    } else if (moveItem(source, destination, &error)) {
        return true;
    }
    BVLog::appendLog("Error moving file: %@.", error);
    if (!shouldAuth || !isPermissionFailure())
        return false;
    BVLog::appendLog("Authorizing...");
    return BVAuthorization::sharedController()->authMoveFile(source, destination);
}

bool BVFileManager::trashFile(const QString &path, std::chrono::seconds timeout)
{
    const auto start = std::chrono::steady_clock::now();
    if (!trashFile(path))
        return false;
    return waitForState(start, timeout, [&] { return !itemExists(path); });
}

bool BVFileManager::removeFile(const QString &path, std::chrono::seconds timeout)
{
    const auto start = std::chrono::steady_clock::now();
    if (!removeFile(path))
        return false;
    return waitForState(start, timeout, [&] { return !itemExists(path); });
}

bool BVFileManager::createDirectory(const QString &path, std::chrono::seconds timeout)
{
    const auto start = std::chrono::steady_clock::now();
    if (!createDirectory(path))
        return false;
    return waitForState(start, timeout, [&] { return QFileInfo(path).isDir(); });
}

bool BVFileManager::copyFile(const QString &source, const QString &destination, std::chrono::seconds timeout)
{
    const auto start = std::chrono::steady_clock::now();
    if (!copyFile(source, destination))
        return false;
    return waitForState(start, timeout, [&] { return itemExists(destination); });
}

bool BVFileManager::moveFile(const QString &source, const QString &destination, std::chrono::seconds timeout)
{
    const auto start = std::chrono::steady_clock::now();
    if (!moveFile(source, destination))
        return false;
    // After a rename by letter case the source name may still resolve (case-insensitive drives).
    if (source != destination && source.compare(destination, Qt::CaseInsensitive) == 0)
        return true;
    return waitForState(start, timeout, [&] { return !itemExists(source); });
}

bool BVFileManager::compressFile(const QString &source, const QString &destinationFile, bool includeParent)
{
    if (source.isEmpty() || destinationFile.isEmpty() || !itemExists(source)) {
        BVLog::appendLog("Error compressing %@: the source does not exist", source);
        return false;
    }
    if (itemExists(destinationFile) && !trashFile(destinationFile)) {
        BVLog::appendLog(
            "Error compressing %@: unable to move the existing %@ to the trash", source, destinationFile);
        return false;
    }
    QString error;
    if (!BVZipArchiveWriter::write(source, destinationFile, includeParent, &error)) {
        BVLog::appendLog("Error compressing %@: %@", source, error);
        return false;
    }
    return fileExistsAtPath(destinationFile);
}

QString BVFileManager::pathExtension(const QString &path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(u'/'))
        p.chop(1);
    const QString name = p.mid(p.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0 || dot == name.size() - 1)
        return {};
    return name.mid(dot + 1);
}

QString BVFileManager::stringByDeletingPathExtension(const QString &path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(u'/'))
        p.chop(1);
    const QString extension = pathExtension(p);
    return extension.isEmpty() ? p : p.left(p.size() - extension.size() - 1);
}

QString BVFileManager::uniqueFilename(const QString &path)
{
    if (!itemExists(path))
        return path;
    const QString base = stringByDeletingPathExtension(path);
    const QString extension = pathExtension(path);
    for (long n = 2;; ++n) {
        QString candidate = base + QStringLiteral(" %1").arg(n);
        if (!extension.isEmpty())
            candidate += u'.' + extension;
        if (!itemExists(candidate))
            return candidate;
    }
}

QString BVFileManager::formatFileSize(double size)
{
    constexpr double kilo = 1024.0;
    if (size < kilo)
        return QString::asprintf("%0.0f B", size);
    if (size < kilo * kilo)
        return QString::asprintf("%0.2f KB", size / kilo);
    if (size < kilo * kilo * kilo)
        return QString::asprintf("%0.2f MB", size / (kilo * kilo));
    return QString::asprintf("%0.2f GB", size / (kilo * kilo * kilo));
}

bool BVFileManager::matchesWildcard(const QString &name, const QString &pattern)
{
    // Iterative matcher with backtracking to the last "*": linear in practice, no regex escaping.
    qsizetype n = 0, p = 0, starP = -1, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

QStringList BVFileManager::filesMatchingWildcardPath(
    const QString &wildcardPath, const QString &basePath, bool searchSubdirs)
{
    Q_UNUSED(searchSubdirs)
    auto join = [](const QString &folder, const QString &component) -> QString {
        if (folder.isEmpty())
            return component;
        if (folder.endsWith(u'/'))
            return folder + component;
        return folder + u'/' + component;
    };
    if (!wildcardPath.contains(u'*')) {
        if (basePath.isEmpty())
            return {wildcardPath};
        QString relative = wildcardPath;
        while (relative.startsWith(u'/'))
            relative.remove(0, 1);
        return {relative.isEmpty() ? basePath : join(basePath, relative)};
    }
    const QString start = basePath.isEmpty() ? QStringLiteral("/") : basePath;
    QStringList components = wildcardPath.split(u'/', Qt::SkipEmptyParts);
    if (wildcardPath.startsWith(u'/'))
        components.prepend(QStringLiteral("/"));
    QStringList current {start};
    for (const QString &component : components) {
        QStringList next;
        if (component == QLatin1String("/")) {
            next = {start};
        } else if (!component.contains(u'*')) {
            for (const QString &entry : current) {
                const QString candidate = join(entry, component);
                if (itemExists(candidate))
                    next.append(candidate);
            }
        } else {
            for (const QString &entry : current) {
                const QStringList names = QDir(entry).entryList(
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
                for (const QString &name : names) {
                    if (matchesWildcard(name, component) && itemExists(join(entry, name)))
                        next.append(join(entry, name));
                }
            }
        }
        current = next;
    }
    return current;
}
