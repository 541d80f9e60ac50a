#include "support/helper/BVPrivilegedOperations.h"

#include "support/BVSpawn.h"
#include "support/helper/BVPrivilegedPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

bool exists(const QString &path)
{
    struct stat st;
    return lstat(QFile::encodeName(path).constData(), &st) == 0;
}

QString errnoText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// Runs one of the system's file tools with exactly these arguments: no shell, no search path,
// its output discarded. Answers 0 when it ended with status 0.
int runTool(const char *tool, const QStringList &arguments, QString *message)
{
    std::vector<QByteArray> storage {QByteArray(tool)};
    for (const QString &argument : arguments)
        storage.push_back(QFile::encodeName(argument));
    BVSpawn spawn(std::move(storage));
    spawn.discard(STDIN_FILENO, O_RDONLY);
    spawn.discard(STDOUT_FILENO, O_WRONLY);
    spawn.discard(STDERR_FILENO, O_WRONLY);
    pid_t pid = 0;
    const int error = spawn.start(&pid);
    if (error != 0) {
        *message = QStringLiteral("%1: %2").arg(QString::fromLatin1(tool), errnoText(error));
        return error;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return 0;
    *message
        = QStringLiteral("%1 failed with status %2").arg(QString::fromLatin1(tool)).arg(WEXITSTATUS(status));
    return EIO;
}

int refuse(const QString &path, const char *what, QString *message)
{
    *message = QStringLiteral("Unable to %1 path %2 because it is a system directory.")
                   .arg(QLatin1String(what), path);
    return EPERM;
}

int checkDestination(const QString &destination, const QString &home, QString *message)
{
    if (!BVPrivilegedPaths::mayChange(destination, home))
        return refuse(destination, "replace", message);
    if (exists(destination)) {
        *message = destination + QStringLiteral(": ") + errnoText(EEXIST);
        return EEXIST;
    }
    return 0;
}

int copyItem(const QString &source, const QString &destination, QString *message)
{
    // -T: the destination is the new item itself, never a folder to put it in.
    return runTool("/bin/cp",
        {QStringLiteral("-R"), QStringLiteral("-p"), QStringLiteral("-T"), QStringLiteral("--"), source,
            destination},
        message);
}

int removeItem(const QString &path, QString *message)
{
    return runTool("/bin/rm",
        {QStringLiteral("-R"), QStringLiteral("-d"), QStringLiteral("-f"),
            QStringLiteral("--one-file-system"), QStringLiteral("--"), path},
        message);
}

int moveItem(const QString &source, const QString &destination, QString *message)
{
    // Never replaces: the kernel refuses an existing destination atomically.
    if (renameat2(AT_FDCWD, QFile::encodeName(source).constData(), AT_FDCWD,
            QFile::encodeName(destination).constData(), RENAME_NOREPLACE)
        == 0)
        return 0;
    const int error = errno;
    if (error != EXDEV) {
        *message = QStringLiteral("%1 -> %2: %3").arg(source, destination, errnoText(error));
        return error;
    }
    if (const int copied = copyItem(source, destination, message); copied != 0)
        return copied;
    return removeItem(source, message);
}

} // namespace

bool BVPrivilegedOperations::isKnownOperation(const QString &name)
{
    static const QStringList names = {QStringLiteral("remove"), QStringLiteral("move"),
        QStringLiteral("copy"), QStringLiteral("mkdir"), QStringLiteral("trash")};
    return names.contains(name);
}

int BVPrivilegedOperations::perform(const QStringList &request, const Context &context, QString *message)
{
    message->clear();
    const QString operation = request.value(0);
    const int arguments = request.size() - 1;
    const bool twoPaths = operation == QLatin1String("move") || operation == QLatin1String("copy")
        || operation == QLatin1String("trash");
    if (!isKnownOperation(operation) || arguments != (twoPaths ? 2 : 1)) {
        *message = QStringLiteral("Unknown request: %1").arg(request.join(u' '));
        return EINVAL;
    }
    for (int i = 1; i < request.size(); ++i) {
        if (!QDir::isAbsolutePath(request[i])) {
            *message = QStringLiteral("Not an absolute path: %1").arg(request[i]);
            return EINVAL;
        }
    }
    const QString first = QDir::cleanPath(request[1]);
    const QString second = twoPaths ? QDir::cleanPath(request[2]) : QString();

    if (operation == QLatin1String("mkdir"))
        return runTool("/bin/mkdir", {QStringLiteral("-p"), QStringLiteral("--"), first}, message);

    if (operation == QLatin1String("remove")) {
        if (!BVPrivilegedPaths::mayChange(first, context.home))
            return refuse(first, "delete", message);
        return removeItem(first, message);
    }

    if (!exists(first)) {
        *message = first + QStringLiteral(": ") + errnoText(ENOENT);
        return ENOENT;
    }
    if (operation != QLatin1String("copy") && !BVPrivilegedPaths::mayChange(first, context.home))
        return refuse(first, operation == QLatin1String("trash") ? "trash" : "move", message);
    if (operation == QLatin1String("trash")) {
        const QString trash = BVPrivilegedPaths::resolvedPath(context.trashFiles);
        if (context.trashFiles.isEmpty()
            || BVPrivilegedPaths::resolvedPath(QFileInfo(second).absolutePath()) != trash) {
            *message = QStringLiteral("%1 is not in the Trash").arg(second);
            return EPERM;
        }
    }
    if (const int checked = checkDestination(second, context.home, message); checked != 0)
        return checked;
    if (operation == QLatin1String("copy"))
        return copyItem(first, second, message);
    return moveItem(first, second, message);
}
