#include "support/BVTaskEx.h"

#include "support/BVBundle.h"
#include "support/BVLog.h"
#include "support/BVSpawn.h"
#include "support/BVSystemConsole.h"
#include "support/BVWaitLoop.h"

#include <QFileInfo>
#include <QProcess>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// How long a terminated tool may take to end before it is killed outright.
constexpr double kTerminateGraceSeconds = 1.0;

// Starts the tool in its own process group with output and error on the null device. Answers 0 or
// the error number of the failed start.
int spawnTool(const QString &path, const QStringList &arguments, pid_t *pid)
{
    std::vector<QByteArray> words {QFile::encodeName(path)};
    for (const QString &argument : arguments)
        words.push_back(argument.toUtf8());
    BVSpawn spawn(std::move(words));
    spawn.discard(STDOUT_FILENO, O_WRONLY);
    spawn.discard(STDERR_FILENO, O_WRONLY);
    // Its own group, so that terminating a tool also ends the helpers it started.
    spawn.ownProcessGroup();
    return spawn.start(pid);
}

void signalTool(pid_t pid, int signal)
{
    if (kill(-pid, signal) != 0)
        kill(pid, signal);
}

bool isPrefsync()
{
    const QString identifier = BVBundle::mainBundle().bundleIdentifier();
    return !identifier.isEmpty() && identifier == BVBundle::prefsync().bundleIdentifier();
}

bool checkExecutable(const QString &path)
{
    if (BVTaskEx::isExecutable(path))
        return true;
    BVLog::appendLogAndPrint("Error: %@ is not executable", path);
    return false;
}

} // namespace

bool BVTaskEx::isExecutable(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile() || info.suffix() == QLatin1String("desktop"))
        return false;
    return access(QFile::encodeName(path).constData(), X_OK) == 0;
}

int BVTaskEx::waitForChild(const QString &path, double limitSeconds)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const bool onMainThread = BVWaitLoop::canHandleEvents();
    bool terminated = false;
    Clock::time_point terminatedAt;
    for (;;) {
        int status = 0;
        // Without a limit a background thread simply blocks; everything else polls.
        const bool block = limitSeconds < 0 && !onMainThread;
        const pid_t result = waitpid(m_theTask, &status, block ? 0 : WNOHANG);
        if (result == m_theTask)
            return status;
        if (result < 0 && errno != EINTR) {
            BVLog::appendLog("Unable to wait for task %@: %@", path, QString::fromLocal8Bit(strerror(errno)));
            return -1;
        }
        const Clock::time_point now = Clock::now();
        if (limitSeconds >= 0 && !terminated
            && std::chrono::duration<double>(now - start).count() >= limitSeconds) {
            if (isPrefsync()) {
                BVSystemConsole::log("Task timed out. Terminating...");
                BVLog::appendLog("Task %@ timed out. Terminating...", path);
            } else {
                BVLog::appendLogAndPrint("Task %@ timed out. Terminating...", path);
            }
            signalTool(m_theTask, SIGTERM);
            terminated = true;
            terminatedAt = now;
        } else if (terminated
            && std::chrono::duration<double>(now - terminatedAt).count() >= kTerminateGraceSeconds) {
            // A tool that ignores the request would otherwise hold the caller forever.
            signalTool(m_theTask, SIGKILL);
        }
        if (onMainThread)
            BVWaitLoop::pass(0.01);
        else if (!block)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool BVTaskEx::runTask(const QString &path, const QStringList &arguments)
{
    if (!checkExecutable(path))
        return false;
    BVTaskEx task;
    const int error = spawnTool(path, arguments, &task.m_theTask);
    if (error != 0) {
        BVLog::appendLog("Exception running task %@: %@", path, QString::fromLocal8Bit(strerror(error)));
        return false;
    }
    task.waitForChild(path, -1);
    task.m_theTask = 0;
    return true;
}

int BVTaskEx::runTaskForExitStatus(const QString &path, const QStringList &arguments)
{
    if (!checkExecutable(path))
        return -1;
    BVTaskEx task;
    const int error = spawnTool(path, arguments, &task.m_theTask);
    if (error != 0) {
        BVLog::appendLog("Exception running task %@: %@", path, QString::fromLocal8Bit(strerror(error)));
        return -1;
    }
    const int status = task.waitForChild(path, -1);
    task.m_theTask = 0;
    if (status < 0 || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

void BVTaskEx::runTask(const QString &path, const QStringList &arguments, double timeout)
{
    if (!checkExecutable(path))
        return;
    BVTaskEx task;
    const int error = spawnTool(path, arguments, &task.m_theTask);
    if (error != 0) {
        BVLog::appendLog("Exception running task %@: %@", path, QString::fromLocal8Bit(strerror(error)));
        return;
    }
    const double limit = timeout > 0 ? static_cast<double>(static_cast<long long>(timeout)) : 0.0;
    task.waitForChild(path, limit);
    task.m_theTask = 0;
}

void BVTaskEx::runTaskAndReturn(const QString &path, const QStringList &arguments)
{
    if (!checkExecutable(path))
        return;
    // Started detached (double fork), so the child is reaped by the system and never by us.
    QProcess process;
    process.setProgram(path);
    process.setArguments(arguments);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    if (!process.startDetached())
        BVLog::appendLog("Exception running task %@: %@", path, process.errorString());
}
