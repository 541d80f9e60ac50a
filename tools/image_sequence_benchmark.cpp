// Measures image-sequence playback: the decode rate of one core, and the sustained frame rate of a
// sequence played at rate 1 from the moment it is ready, as a player document would with autoplay.
//
//   bv_image_sequence_benchmark [--frames N] [--fps RATE] [--media DIR] [png|jpeg ...]
//
// The 1920x1080 sequences are generated with tools/bv-make-sample into DIR (default: a folder in
// the build tree) and kept for the next run.
#include "player/BVImageSequence.h"
#include "support/BVLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <sys/resource.h>

#include <atomic>
#include <cstdio>

namespace {

struct Options
{
    int frames = 240;
    double fps = 24;
    QString media = QStringLiteral(BV_BENCHMARK_MEDIA_DIR);
    QStringList variants;
};

QStringList generateSequence(const QString &variant, const Options &options)
{
    const QString folder = options.media + u'/' + variant + u'-' + QString::number(options.frames);
    QDir().mkpath(folder);
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.start(QStringLiteral(BV_SOURCE_DIR "/tools/bv-make-sample"),
        {QStringLiteral("--variant"), variant, QStringLiteral("--output"), folder, QStringLiteral("--frames"),
            QString::number(options.frames), QStringLiteral("--size"), QStringLiteral("1920x1080")});
    if (!tool.waitForFinished(-1) || tool.exitCode() != 0)
        return {};
    const QFileInfo first(QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed());
    QStringList files;
    for (const QString &name :
        first.dir().entryList({QStringLiteral("frame_*.") + first.suffix()}, QDir::Files, QDir::Name))
        files.append(first.dir().filePath(name));
    return files;
}

// CPU time of the whole process (every thread), in seconds: unlike wall time it barely moves with
// the load of other programs on the machine.
double processCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long peakResidentMegabytes()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

class CountingDelegate : public BVMediaObjectDelegate
{
public:
    void mediaStatusChanged(const QString &status) override
    {
        ready = ready || status == BVMediaStatus::ready;
    }
    void bufferStatusChanged(const QString &status) override
    {
        if (status == BVBufferStatus::empty)
            ++emptyEvents;
    }
    // Main thread, at every tick that moved the playhead. The tick that reaches the end shows no
    // frame, so it is not due.
    void syncScrubber() override
    {
        ++ticks;
        if (sequence && sequence->currentFrame() < sequence->frameCount())
            ++due;
    }
    void drawFrame(const QImage &) override { ++drawn; }

    const BVImageSequence *sequence = nullptr;
    bool ready = false;
    int emptyEvents = 0;
    int ticks = 0;
    int due = 0;
    std::atomic<int> drawn {0};
};

void measureDecodeRate(const QStringList &files)
{
    QElapsedTimer timer;
    timer.start();
    const double cpuBefore = processCpuSeconds();
    int decoded = 0;
    for (const QString &file : files)
        decoded += BVImageSequence::decodeImageFile(file).isNull() ? 0 : 1;
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const double cpuSeconds = processCpuSeconds() - cpuBefore;
    std::printf(
        "  decode, one core:   %d frames in %.2f s = %.1f frames/s (%.1f ms/frame, %.1f ms CPU/frame)\n",
        decoded, seconds, decoded / seconds, 1000 * seconds / std::max(decoded, 1),
        1000 * cpuSeconds / std::max(decoded, 1));
}

void measurePlayback(const QStringList &files, double fps)
{
    BVImageSequence sequence;
    CountingDelegate delegate;
    delegate.sequence = &sequence;
    sequence.setDelegate(&delegate);
    sequence.setFps(fps);
    QElapsedTimer timer;
    timer.start();
    sequence.loadFiles(files);
    while (!delegate.ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double readySeconds = double(timer.nsecsElapsed()) / 1e9;
    // The first frame is drawn once ready; it is not part of the playback count.
    while (delegate.drawn.load() == 0 && timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);

    const int drawnBeforePlay = delegate.drawn.load();
    const double cpuBeforePlay = processCpuSeconds();
    timer.restart();
    sequence.play();
    while (sequence.isPlaying()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(500);
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const double cpuSeconds = processCpuSeconds() - cpuBeforePlay;
    QThread::msleep(100);
    QCoreApplication::processEvents();
    const int shown = delegate.drawn.load() - drawnBeforePlay;
    std::printf("  ready after:        %.3f s\n", readySeconds);
    std::printf("  playback at %.3g:   %d ticks in %.2f s = %.2f ticks/s; %d frames shown = %.2f frames/s\n",
        fps, delegate.ticks, seconds, delegate.ticks / seconds, shown, shown / seconds);
    std::printf("  CPU while playing:  %.2f s = %.0f%% of one core, %.1f ms per frame shown\n", cpuSeconds,
        100 * cpuSeconds / seconds, 1000 * cpuSeconds / std::max(shown, 1));
    std::printf("  frames not shown:   %d of %d due (cache empty %d times)\n", delegate.due - shown,
        delegate.due, delegate.emptyEvents);
    sequence.cleanup();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Options options;
    const QStringList arguments = app.arguments().mid(1);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QStringLiteral("--frames") && i + 1 < arguments.size())
            options.frames = arguments[++i].toInt();
        else if (argument == QStringLiteral("--fps") && i + 1 < arguments.size())
            options.fps = arguments[++i].toDouble();
        else if (argument == QStringLiteral("--media") && i + 1 < arguments.size())
            options.media = arguments[++i];
        else
            options.variants.append(argument);
    }
    if (options.variants.isEmpty())
        options.variants = {QStringLiteral("png"), QStringLiteral("jpeg")};
    BVLog::createNewLog(QStringLiteral("bv_image_sequence_benchmark"));

    std::printf(
        "Image sequences, 1920x1080, %d frames, %d cores\n", options.frames, QThread::idealThreadCount());
    for (const QString &variant : options.variants) {
        const QStringList files = generateSequence(variant, options);
        if (files.isEmpty()) {
            std::fprintf(stderr, "could not make the %s sequence\n", qPrintable(variant));
            return 1;
        }
        std::printf("%s:\n", qPrintable(variant));
        measureDecodeRate(files);
        measurePlayback(files, options.fps);
    }
    std::printf("peak resident memory: %ld MB\n", peakResidentMegabytes());
    BVLog::finishWriting();
    return 0;
}
