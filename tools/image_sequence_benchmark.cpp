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
    void syncScrubber() override { ++ticks; }
    void drawFrame(const QImage &) override { ++drawn; }

    bool ready = false;
    int emptyEvents = 0;
    int ticks = 0;
    std::atomic<int> drawn {0};
};

void measureDecodeRate(const QStringList &files)
{
    QElapsedTimer timer;
    timer.start();
    int decoded = 0;
    for (const QString &file : files)
        decoded += BVImageSequence::decodeImageFile(file).isNull() ? 0 : 1;
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    std::printf("  decode, one core:   %d frames in %.2f s = %.1f frames/s (%.1f ms/frame)\n", decoded,
        seconds, decoded / seconds, 1000 * seconds / std::max(decoded, 1));
}

void measurePlayback(const QStringList &files, double fps)
{
    BVImageSequence sequence;
    CountingDelegate delegate;
    sequence.setDelegate(&delegate);
    sequence.setFps(fps);
    QElapsedTimer timer;
    timer.start();
    sequence.loadFiles(files);
    while (!delegate.ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double readySeconds = double(timer.nsecsElapsed()) / 1e9;

    const int drawnBeforePlay = delegate.drawn.load();
    timer.restart();
    sequence.play();
    while (sequence.isPlaying()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(500);
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    QThread::msleep(100);
    QCoreApplication::processEvents();
    const int shown = delegate.drawn.load() - drawnBeforePlay;
    std::printf("  ready after:        %.3f s\n", readySeconds);
    std::printf("  playback at %.3g:   %d ticks in %.2f s = %.2f ticks/s; %d frames shown = %.2f frames/s\n",
        fps, delegate.ticks, seconds, delegate.ticks / seconds, shown, shown / seconds);
    std::printf(
        "  frames not shown:   %d (cache empty %d times)\n", delegate.ticks - shown, delegate.emptyEvents);
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
