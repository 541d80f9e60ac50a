#pragma once

// Helpers for the file utility, task and privilege tests: a privileged runner that records what it
// is asked to run, a console watcher, and access to the immutable attribute.
#include "support/BVAuthorization.h"
#include "support/BVAuthorizationRunner.h"
#include "support/BVLocalPaths.h"
#include "support/BVLog.h"
#include "support/BVSystemConsole.h"
#include "support/BVTaskEx.h"
#include "support/helper/BVPrivilegedOperations.h"

#include <QFile>
#include <QMutex>
#include <QStringList>

#include <fcntl.h>
#include <functional>
#include <linux/fs.h>
#include <memory>
#include <sys/ioctl.h>
#include <unistd.h>

namespace FileTest {

struct RunnerCall
{
    QStringList request;
    QString line() const { return request.join(u' '); }
};

// Stands in for the privilege prompt and the privileged helper. Whether the user grants the right
// is configurable; with performs set, the operation really runs (without privileges, through the
// same code the helper runs) so its effect shows.
class RecordingRunner : public BVAuthorizationRunner
{
public:
    bool grant = true;
    bool performs = true;
    int prompts = 0;
    int releases = 0;
    bool held = false;
    QStringList promptedFor;
    QList<RunnerCall> calls;
    // Runs instead of the operation when set; answers its error number.
    std::function<int(const RunnerCall &)> action;

    bool obtainRight(const QString &operation) override
    {
        if (held)
            return true;
        ++prompts;
        promptedFor.append(operation);
        held = grant;
        return held;
    }
    bool hasRight() const override { return held; }
    void releaseRight() override
    {
        ++releases;
        held = false;
    }
    int perform(const QStringList &request, QString *message) override
    {
        if (!held)
            return EPERM;
        RunnerCall call {request};
        calls.append(call);
        if (action)
            return action(call);
        if (!performs)
            return 0;
        return BVPrivilegedOperations::perform(request,
            {BVLocalPaths::userDirectory(), BVLocalPaths::trashDirectory() + QStringLiteral("/files")},
            message);
    }
};

// Installs a recording runner on the shared authorisation for the life of the scope and takes the
// ordinary-user road (tests run as any user, the superuser included).
class ScopedRunner
{
public:
    ScopedRunner()
    {
        auto runner = std::make_unique<RecordingRunner>();
        m_runner = runner.get();
        BVAuthorization::sharedController()->authEnd();
        m_previous = BVAuthorization::sharedController()->setRunner(std::move(runner));
        BVAuthorization::sharedController()->setSuperuserForTesting(false);
    }
    ~ScopedRunner()
    {
        BVAuthorization::sharedController()->setSuperuserForTesting(std::nullopt);
        BVAuthorization::sharedController()->setRunner(std::move(m_previous));
    }
    RecordingRunner *operator->() const { return m_runner; }
    RecordingRunner &operator*() const { return *m_runner; }

private:
    RecordingRunner *m_runner;
    std::unique_ptr<BVAuthorizationRunner> m_previous;
};

// Collects what is written to the system console while in scope.
class ConsoleWatcher
{
public:
    ConsoleWatcher()
    {
        BVSystemConsole::setObserver([this](const QString &line) {
            QMutexLocker lock(&m_mutex);
            m_lines.append(line);
        });
    }
    ~ConsoleWatcher() { BVSystemConsole::setObserver({}); }
    QStringList lines() const
    {
        QMutexLocker lock(&m_mutex);
        return m_lines;
    }
    bool contains(const QString &line) const { return lines().contains(line); }

private:
    mutable QMutex m_mutex;
    QStringList m_lines;
};

// Sets or clears the immutable attribute; false when the file system or the process cannot.
inline bool setImmutable(const QString &path, bool immutable)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

// The text of the program's current log once every queued write has reached it.
inline QString logText()
{
    BVLog::finishWriting();
    QFile file(BVLog::sharedController()->currentLogPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

} // namespace FileTest
