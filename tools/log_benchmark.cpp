// Measures the log: the cost of appendLog on the GUI thread and the writer's sustained throughput.
// Runs in a temporary HOME so the real log folder is untouched.
#include "support/BVBundle.h"
#include "support/BVLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char **argv)
{
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/.local/share")));
    BVBundle::setMainBundle(BVBundle::reelmark());
    QCoreApplication app(argc, argv);
    BVLog::sharedController()->setAppName(QStringLiteral("LogBenchmark"));
    BVLog::createNewLog();
    BVLog::finishWriting();

    // 1. appendLog from the GUI thread: 100,000 calls of a typical formatted line.
    constexpr int calls = 100000;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < calls; ++i)
        BVLog::appendLog("Seek to %@ finished in %0.2f ms (frame %li)", QStringLiteral("01:00:00:12"), 1.25, long(i));
    const qint64 callNs = timer.nsecsElapsed();
    BVLog::finishWriting();
    const qint64 drainNs = timer.nsecsElapsed();
    std::printf("appendLog on the GUI thread: %.3f us per call (%d calls); all written after %.1f ms\n",
                double(callNs) / calls / 1000.0, calls, double(drainNs) / 1e6);

    // 2. Writer throughput: 60 MB of log text, rotations at 500 KB included.
    const QString line = QString(240, u'x');
    constexpr int lines = 250000;
    const uint64_t before = BVLog::sharedController()->bytesWritten();
    Q_UNUSED(before);
    timer.restart();
    for (int i = 0; i < lines; ++i)
        BVLog::fastAppendLog(line);
    BVLog::finishWriting();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const double megabytes = double(lines) * (240 + 29) / 1e6;
    std::printf("writer: %.1f MB of entries in %.3f s = %.1f MB/s (target 50 MB/s)\n", megabytes, seconds,
                megabytes / seconds);
    return 0;
}
