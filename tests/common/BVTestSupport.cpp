#include "common/BVTestSupport.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace BVTest {

extern QString g_home;

QString homeDirectory()
{
    return g_home;
}

QString makeTempFolder(const QString &prefix)
{
    static int counter = 0;
    const QString path = g_home + u'/' + prefix + QString::number(++counter);
    QDir().mkpath(path);
    return path;
}

bool waitFor(const std::function<bool()> &predicate, std::chrono::milliseconds timeout)
{
    QElapsedTimer timer;
    timer.start();
    while (!predicate()) {
        if (timer.elapsed() > timeout.count())
            return predicate();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

void spin(std::chrono::milliseconds duration)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < duration.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

QString sampleMedia(const QString &variant, const QStringList &extraArguments)
{
    // Cached per build, keyed by variant and arguments; a lock keeps parallel test processes from
    // generating the same file twice.
    const QByteArray key = QCryptographicHash::hash(
        (variant + u'|' + extraArguments.join(u'|')).toUtf8(), QCryptographicHash::Sha1)
                               .toHex()
                               .left(12);
    // BV_TEST_MEDIA_DIR shares the media of another build: the ThreadSanitizer run uses what the
    // sanitizer test build made, so that no test of it starts the tool while player threads run.
    const QString root = qEnvironmentVariableIsEmpty("BV_TEST_MEDIA_DIR")
        ? QStringLiteral(BV_BINARY_DIR "/test-media")
        : qEnvironmentVariable("BV_TEST_MEDIA_DIR");
    const QString folder = root + u'/' + variant + u'-' + QString::fromLatin1(key);
    QDir().mkpath(folder);
    // A file made before is used without starting the tool: a process started from a test that
    // already runs threads blinds ThreadSanitizer to the locks of those threads, and it is faster.
    const QString donePath = folder + QStringLiteral("/.done");
    const auto madeBefore = [&] {
        const QString path = QString::fromUtf8(readFile(donePath)).trimmed();
        return !path.isEmpty() && QFileInfo::exists(path) ? path : QString();
    };
    const QString lockPath = folder + QStringLiteral("/.lock");
    const int fd = ::open(QFile::encodeName(lockPath).constData(), O_CREAT | O_RDWR, 0644);
    if (fd >= 0)
        ::flock(fd, LOCK_EX);
    if (const QString path = madeBefore(); !path.isEmpty()) {
        if (fd >= 0)
            ::close(fd);
        return path;
    }
    QProcess tool;
    tool.setProgram(QStringLiteral(BV_SOURCE_DIR "/tools/bv-make-sample"));
    tool.setArguments(QStringList {QStringLiteral("--variant"), variant, QStringLiteral("--output"), folder}
        + extraArguments);
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.start();
    tool.waitForFinished(300000);
    const QString path = QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
    if (fd >= 0) {
        ::flock(fd, LOCK_UN);
        ::close(fd);
    }
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return {};
    writeFile(donePath, path.toUtf8());
    return path;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(data) == data.size();
}

QByteArray runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        ADD_FAILURE() << qPrintable(program) << " failed: " << process.readAllStandardError().constData();
        return {};
    }
    return process.readAllStandardOutput();
}

bool runFfmpeg(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("ffmpeg"),
        QStringList {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
            QStringLiteral("-nostdin"), QStringLiteral("-y")}
            + arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        ADD_FAILURE() << "ffmpeg failed: " << process.readAllStandardError().constData();
        return false;
    }
    return true;
}

} // namespace BVTest
