#include "support/BVAuthorizationPkexecRunner.h"

#include "support/BVSpawn.h"
#include "support/BVSystemConsole.h"
#include "support/BVWaitLoop.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const QByteArray kReady = QByteArrayLiteral("READY");

} // namespace

BVAuthorizationPkexecRunner::BVAuthorizationPkexecRunner(QStringList launcher)
    : m_launcher(std::move(launcher))
{ }

BVAuthorizationPkexecRunner::~BVAuthorizationPkexecRunner()
{
    closeHelper();
}

QString BVAuthorizationPkexecRunner::helperPath()
{
    const QString name = QStringLiteral("reelmark-privileged-helper");
    if (QCoreApplication::instance()) {
        const QString beside = QCoreApplication::applicationDirPath() + u'/' + name;
        if (QFileInfo(beside).isExecutable())
            return beside;
    }
    const QString built = QStringLiteral(BV_PRIVILEGED_HELPER_BUILT);
    if (QFileInfo(built).isExecutable())
        return built;
    return QStringLiteral(BV_PRIVILEGED_HELPER_INSTALLED);
}

QStringList BVAuthorizationPkexecRunner::defaultLauncher()
{
    return {QStringLiteral("/usr/bin/pkexec"), helperPath()};
}

bool BVAuthorizationPkexecRunner::hasRight() const
{
    return m_helper > 0 && m_socket >= 0;
}

bool BVAuthorizationPkexecRunner::obtainRight(const QString &operation)
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
    // The operation is the helper's first argument, which selects the prompt's message.
    storage.push_back(operation.isEmpty() ? QByteArray("mkdir") : QFile::encodeName(operation));
    storage.push_back("--serve");
    BVSpawn spawn(std::move(storage));
    spawn.connect(pair[1], STDIN_FILENO);
    spawn.connect(pair[1], STDOUT_FILENO);
    spawn.discard(STDERR_FILENO, O_WRONLY);
    pid_t pid = 0;
    const int error = spawn.start(&pid);
    ::close(pair[1]);
    if (error != 0) {
        ::close(pair[0]);
        BVSystemConsole::log("Unable to authorize: %@", QString::fromLocal8Bit(strerror(error)));
        return false;
    }
    m_helper = pid;
    m_socket = pair[0];
    m_pending.clear();
    // The helper answers only once the user has authenticated; a refusal ends the launcher.
    QByteArray line;
    if (readLine(&line) && line == kReady)
        return true;
    closeHelper();
    return false;
}

void BVAuthorizationPkexecRunner::releaseRight()
{
    closeHelper();
}

int BVAuthorizationPkexecRunner::perform(const QStringList &request, QString *message)
{
    message->clear();
    if (!hasRight())
        return EPERM;
    QByteArray line;
    if (!sendRequest(request) || !readLine(&line)) {
        closeHelper();
        *message = QStringLiteral("The privileged helper has gone");
        return EPIPE;
    }
    const qsizetype space = line.indexOf(' ');
    bool ok = false;
    const int code = line.left(space < 0 ? line.size() : space).toInt(&ok);
    if (!ok) {
        closeHelper();
        *message = QStringLiteral("The privileged helper answered: ") + QString::fromUtf8(line);
        return EPROTO;
    }
    if (space >= 0)
        *message = QString::fromUtf8(line.mid(space + 1));
    return code;
}

bool BVAuthorizationPkexecRunner::sendRequest(const QStringList &request)
{
    QByteArray bytes;
    for (const QString &word : request) {
        const QByteArray encoded = QFile::encodeName(word);
        if (encoded.isEmpty() || encoded.contains('\0'))
            return false;
        bytes += encoded + '\0';
    }
    bytes += '\0';
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::send(m_socket, bytes.constData() + written, bytes.size() - written, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
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

void BVAuthorizationPkexecRunner::closeHelper()
{
    if (m_socket >= 0) {
        // End of input makes the helper exit.
        ::close(m_socket);
        m_socket = -1;
    }
    if (m_helper > 0) {
        int status = 0;
        while (waitpid(m_helper, &status, 0) < 0 && errno == EINTR) { }
        m_helper = 0;
    }
    m_pending.clear();
}
