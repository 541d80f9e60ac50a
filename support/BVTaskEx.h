#pragma once

#include <QString>
#include <QStringList>

#include <sys/types.h>

// Runs command-line tools as child processes with their standard output and error discarded:
// waiting for the end, with or without a time limit, or returning at once. The waiting forms block
// the calling thread; on the main thread they keep handling interface events while they wait.
class BVTaskEx
{
public:
    // Runs the tool and waits for its end. True when it ran, whatever its exit status.
    static bool runTask(const QString &path, const QStringList &arguments);
    // Starts the tool and returns at once; its end is never observed (and it leaves no zombie).
    static void runTaskAndReturn(const QString &path, const QStringList &arguments);
    // Runs the tool and waits, terminating it when it still runs after the limit (whole seconds;
    // the fraction is dropped).
    static void runTask(const QString &path, const QStringList &arguments, double timeout);
    // Runs the tool, waits, and answers its exit status; -1 when it could not run or ended by a
    // signal. For callers that must know whether the tool did its job.
    static int runTaskForExitStatus(const QString &path, const QStringList &arguments);

    // True for an executable regular file; folders (application bundles) and desktop launchers
    // are not tools.
    static bool isExecutable(const QString &path);

    // The running child of a time-limited run, or 0.
    pid_t theTask() const { return m_theTask; }

private:
    BVTaskEx() = default;
    // Waits for the child; with a limit (seconds >= 0) terminates it once the limit has passed.
    // Answers the raw wait status, or -1 when the child could not be waited for.
    int waitForChild(const QString &path, double limitSeconds);

    pid_t m_theTask = 0;
};
