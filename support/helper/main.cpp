// reelmark-privileged-helper: performs the fixed file operations of BVPrivilegedOperations with
// administrator rights, started through pkexec by the programs of this project. Nothing it is sent
// is ever read by a shell.
//
//   reelmark-privileged-helper OPERATION ARGUMENT...   one operation; exit status 0 or an error number
//   reelmark-privileged-helper OPERATION --serve       answers "READY", then serves requests on
//                                                      standard input until it closes
//
// OPERATION names what the administrator prompt asks for. A request is its words, each ended by a
// NUL byte, and an empty word after the last; the answer is one line: "0", or an error number and
// a message.
#include "support/helper/BVPrivilegedOperations.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <unistd.h>

namespace {

// The person the helper works for: the user pkexec was called by, else the caller itself.
BVPrivilegedOperations::Context context()
{
    BVPrivilegedOperations::Context result;
    const char *pkexecUID = std::getenv("PKEXEC_UID");
    const passwd *user = pkexecUID ? getpwuid(uid_t(std::strtoul(pkexecUID, nullptr, 10))) : nullptr;
    if (user && user->pw_dir)
        result.home = QFile::decodeName(user->pw_dir);
    else if (!pkexecUID && std::getenv("HOME"))
        result.home = QFile::decodeName(std::getenv("HOME"));
    else if (const passwd *self = getpwuid(getuid()))
        result.home = QFile::decodeName(self->pw_dir);
    const char *dataHome = pkexecUID ? nullptr : std::getenv("XDG_DATA_HOME");
    const QString data
        = dataHome && *dataHome ? QFile::decodeName(dataHome) : result.home + QStringLiteral("/.local/share");
    result.trashFiles = data + QStringLiteral("/Trash/files");
    return result;
}

bool writeAll(const QByteArray &bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += n;
    }
    return true;
}

QByteArray answer(int code, const QString &message)
{
    if (code == 0)
        return "0\n";
    QByteArray text = message.toUtf8();
    text.replace('\n', ' ');
    text.replace('\r', ' ');
    return QByteArray::number(code) + ' ' + text + '\n';
}

int serve(const BVPrivilegedOperations::Context &context)
{
    if (!writeAll("READY\n"))
        return EPIPE;
    QByteArray buffer;
    QStringList request;
    char block[4096];
    for (;;) {
        qsizetype end;
        while ((end = buffer.indexOf('\0')) >= 0) {
            const QByteArray word = buffer.left(end);
            buffer.remove(0, end + 1);
            if (!word.isEmpty()) {
                request.append(QFile::decodeName(word));
                continue;
            }
            QString message;
            const int code = BVPrivilegedOperations::perform(request, context, &message);
            request.clear();
            if (!writeAll(answer(code, message)))
                return EPIPE;
        }
        const ssize_t n = ::read(STDIN_FILENO, block, sizeof block);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0; // the program that started us has gone or released the right
        buffer.append(block, n);
        if (buffer.size() > 1 << 20)
            return E2BIG;
    }
}

} // namespace

int main(int argc, char **argv)
{
    QStringList words;
    for (int i = 1; i < argc; ++i)
        words.append(QFile::decodeName(argv[i]));
    if (words.isEmpty() || !BVPrivilegedOperations::isKnownOperation(words.first())) {
        std::fprintf(stderr,
            "usage: reelmark-privileged-helper remove|move|copy|mkdir|trash ARGUMENT... | OPERATION "
            "--serve\n");
        return EINVAL;
    }
    const BVPrivilegedOperations::Context ctx = context();
    if (words.size() == 2 && words[1] == QLatin1String("--serve"))
        return serve(ctx);
    QString message;
    const int code = BVPrivilegedOperations::perform(words, ctx, &message);
    if (code != 0)
        std::fprintf(stderr, "%s\n", message.toUtf8().constData());
    return code;
}
