#include "support/BVSystemConsole.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>

#include <cstdio>
#include <mutex>
#include <unistd.h>

namespace {

std::mutex &consoleMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::function<void(const QString &)> &consoleObserver()
{
    static std::function<void(const QString &)> observer;
    return observer;
}

QString programName()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationName();
    QString path = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    return path.isEmpty() ? QStringLiteral("unknown") : QFileInfo(path).fileName();
}

} // namespace

void BVSystemConsole::log(const QString &message)
{
    const QString line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))
        + QLatin1Char(' ') + programName() + QStringLiteral("[%1] ").arg(getpid()) + message;
    std::function<void(const QString &)> observer;
    {
        std::lock_guard lock(consoleMutex());
        const QByteArray bytes = line.toUtf8();
        std::fprintf(stderr, "%s\n", bytes.constData());
        std::fflush(stderr);
        observer = consoleObserver();
    }
    if (observer)
        observer(message);
}

void BVSystemConsole::setObserver(std::function<void(const QString &)> observer)
{
    std::lock_guard lock(consoleMutex());
    consoleObserver() = std::move(observer);
}
