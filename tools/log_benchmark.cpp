// Measures the log: the cost of appendLog on the GUI thread and the writer's sustained throughput.
// Runs in a temporary HOME so the real log folder is untouched.
#include "support/BVBundle.h"
#include "support/BVLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>

namespace {
// CPU time of the calling thread, so figures hold on a busy machine too.
double threadSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}
double processSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}
} // namespace

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
    const double cpuStart = threadSeconds();
    for (int i = 0; i < calls; ++i)
        BVLog::appendLog(
            "Seek to %@ finished in %0.2f ms (frame %li)", QStringLiteral("01:00:00:12"), 1.25, long(i));
    const qint64 callNs = timer.nsecsElapsed();
    const double callCpu = threadSeconds() - cpuStart;
    BVLog::finishWriting();
    const qint64 drainNs = timer.nsecsElapsed();
    std::printf("appendLog on the GUI thread: %.3f us per call wall, %.3f us CPU (%d calls, target < 2 us); "
                "all written after %.1f ms\n",
        double(callNs) / calls / 1000.0, callCpu / calls * 1e6, calls, double(drainNs) / 1e6);

    // 2. Writer throughput: 60 MB of log text, rotations at 500 KB included.
    const QString line = QString(240, u'x');
    constexpr int lines = 250000;
    const uint64_t before = BVLog::sharedController()->bytesWritten();
    Q_UNUSED(before);
    timer.restart();
    const double processStart = processSeconds();
    const double mainStart = threadSeconds();
    for (int i = 0; i < lines; ++i)
        BVLog::fastAppendLog(line);
    const double mainCpu = threadSeconds() - mainStart;
    BVLog::finishWriting();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    // The writer's own CPU time: the whole process less the thread that queued.
    const double writerCpu = processSeconds() - processStart - mainCpu;
    const double megabytes = double(lines) * (240 + 29) / 1e6;
    std::printf("writer: %.1f MB of entries in %.3f s wall = %.1f MB/s; writer CPU %.3f s = %.1f MB/s "
                "(target 50 MB/s)\n",
        megabytes, seconds, megabytes / seconds, writerCpu, megabytes / writerCpu);
    return 0;
}
