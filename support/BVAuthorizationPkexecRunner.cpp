#include "support/BVAuthorizationPkexecRunner.h"

#include "support/BVSystemConsole.h"
#include "support/BVWaitLoop.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

const QByteArray kReady = QByteArrayLiteral("BVAUTH_READY");
const QByteArray kDone = QByteArrayLiteral("BVAUTH_DONE ");

} // namespace

BVAuthorizationPkexecRunner::BVAuthorizationPkexecRunner(QStringList launcher)
    : m_launcher(std::move(launcher))
{ }

BVAuthorizationPkexecRunner::~BVAuthorizationPkexecRunner()
{
    closeShell();
}

QByteArray BVAuthorizationPkexecRunner::shellQuote(const QString &word)
{
    QByteArray bytes = word.toUtf8();
    bytes.replace('\'', QByteArrayLiteral("'\\''"));
    return '\'' + bytes + '\'';
}

bool BVAuthorizationPkexecRunner::hasRight() const
{
    return m_shell > 0 && m_socket >= 0;
}

bool BVAuthorizationPkexecRunner::obtainRight()
{
    if (hasRight())
        return true;
    if (m_launcher.isEmpty())
        return false;
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        BVSystemConsole::log("Unable to authorize: %@", QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    std::vector<QByteArray> storage;
    for (const QString &word : m_launcher)
        storage.push_back(QFile::encodeName(word));
    std::vector<char *> argv;
    for (QByteArray &bytes : storage)
        argv.push_back(bytes.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pair[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pair[1]);
    if (error != 0) {
        ::close(pair[0]);
        BVSystemConsole::log("Unable to authorize: %@", QString::fromLocal8Bit(strerror(error)));
        return false;
    }
    m_shell = pid;
    m_socket = pair[0];
    m_pending.clear();
    // The shell answers only once the user has authenticated; a refusal ends the launcher.
    QByteArray line;
    if (sendLine("echo " + kReady) && readLine(&line) && line == kReady)
        return true;
    closeShell();
    return false;
}

void BVAuthorizationPkexecRunner::releaseRight()
{
    closeShell();
}

int BVAuthorizationPkexecRunner::execute(
    const QString &tool, const QStringList &arguments, bool wait, int *exitStatus)
{
    if (exitStatus)
        *exitStatus = -1;
    if (!hasRight())
        return EPERM;
    QByteArray command = shellQuote(tool);
    for (const QString &argument : arguments)
        command += ' ' + shellQuote(argument);
    command += " </dev/null >/dev/null 2>&1";
    if (!wait) {
        if (!sendLine(command + " &"))
            return EPIPE;
        return 0;
    }
    QByteArray line;
    if (!sendLine(command + "; echo \"" + kDone + "$?\"") || !readLine(&line) || !line.startsWith(kDone)) {
        closeShell();
        return EPIPE;
    }
    if (exitStatus) {
        bool ok = false;
        const int status = line.mid(kDone.size()).trimmed().toInt(&ok);
        *exitStatus = ok ? status : -1;
    }
    return 0;
}

bool BVAuthorizationPkexecRunner::sendLine(const QByteArray &line)
{
    const QByteArray bytes = line + '\n';
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::send(m_socket, bytes.constData() + written, bytes.size() - written, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            closeShell();
            return false;
        }
        written += n;
    }
    return true;
}

bool BVAuthorizationPkexecRunner::readLine(QByteArray *line)
{
    const bool onMainThread = BVWaitLoop::canHandleEvents();
    for (;;) {
        const qsizetype end = m_pending.indexOf('\n');
        if (end >= 0) {
            *line = m_pending.left(end);
            m_pending.remove(0, end + 1);
            return true;
        }
        if (m_socket < 0)
            return false;
        pollfd descriptor {m_socket, POLLIN, 0};
        const int ready = ::poll(&descriptor, 1, onMainThread ? 0 : -1);
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready <= 0) {
            BVWaitLoop::pass(0.01);
            continue;
        }
        char buffer[512];
        const ssize_t n = ::recv(m_socket, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        m_pending.append(buffer, n);
    }
}

void BVAuthorizationPkexecRunner::closeShell()
{
    if (m_socket >= 0) {
        // End of input makes the shell exit; tools it started in the background go on.
        ::close(m_socket);
        m_socket = -1;
    }
    if (m_shell > 0) {
        int status = 0;
        while (waitpid(m_shell, &status, 0) < 0 && errno == EINTR) { }
        m_shell = 0;
    }
    m_pending.clear();
}
