// Measures image-sequence playback: the decode rate of one core, and the sustained frame rate of a
// sequence played at rate 1 from the moment it is ready, as a player document would with autoplay.
// The main thread waits in its event loop like the player's, so that the benchmark itself does not
// compete with the decoders; the load average of the machine is printed beside every figure.
//
//   bv_image_sequence_benchmark [--frames N] [--fps RATE] [--media DIR] [--window] [png|jpeg ...]
//
// With --window the sequence also plays in a player window (run it under a display, xvfb-run -a),
// which counts the different pictures the playback view paints against the frames played.
//
// The 1920x1080 sequences are generated with tools/bv-make-sample into DIR (default: a folder in
// the build tree) and kept for the next run.
#include "platform/defaults/BVUserDefaults.h"
#include "player/document/BVDocument.h"
#include "player/media/BVImageSequence.h"
#include "player/window/BVAVPlaybackView.h"
#include "player/window/BVDocumentWindowController.h"
#include "support/BVLog.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct Options
{
    // Twice the ten-second cache window: the second half plays from a cache topped up frame by frame.
    int frames = 480;
    double fps = 24;
    QString media = QStringLiteral(BV_BENCHMARK_MEDIA_DIR);
    QStringList variants;
    bool window = false;
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

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(u' ', 0, 2);
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
    // frame, so it is not due. A tick later than half an interval is counted as late.
    void syncScrubber() override
    {
        ++ticks;
        if (sequence && sequence->currentFrame() < sequence->frameCount())
            ++due;
        const qint64 now = clock.nsecsElapsed();
        if (ticks > 1) {
            const double gap = double(now - lastTickNs) / 1e6;
            maxGapMs = std::max(maxGapMs, gap);
            if (gap > 1.5 * intervalMs)
                ++lateTicks;
        }
        lastTickNs = now;
    }
    void drawFrame(const QImage &) override { ++drawn; }

    const BVImageSequence *sequence = nullptr;
    bool ready = false;
    int emptyEvents = 0;
    int ticks = 0;
    int due = 0;
    int lateTicks = 0;
    double intervalMs = 0;
    double maxGapMs = 0;
    qint64 lastTickNs = 0;
    QElapsedTimer clock;
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
    std::printf("  decode, one thread: %d frames in %.2f s = %.1f frames/s (%.1f ms/frame, %.1f ms CPU/frame)"
                " = %.0f frames per CPU second; load %s\n",
        decoded, seconds, decoded / seconds, 1000 * seconds / std::max(decoded, 1),
        1000 * cpuSeconds / std::max(decoded, 1), decoded / std::max(cpuSeconds, 1e-9),
        qPrintable(loadAverage()));
}

void measurePlayback(const QStringList &files, double fps)
{
    BVImageSequence sequence;
    CountingDelegate delegate;
    delegate.sequence = &sequence;
    delegate.intervalMs = 1000 / fps;
    sequence.setDelegate(&delegate);
    sequence.setFps(fps);
    QElapsedTimer timer;
    timer.start();
    sequence.loadFiles(files);
    while (!delegate.ready)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double readySeconds = double(timer.nsecsElapsed()) / 1e9;
    // The first frame is drawn once ready; it is not part of the playback count.
    while (delegate.drawn.load() == 0 && timer.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }

    const int drawnBeforePlay = delegate.drawn.load();
    const double cpuBeforePlay = processCpuSeconds();
    timer.restart();
    delegate.clock.start();
    sequence.play();
    // The frame timer wakes the loop at every tick; the tick at the end stops it.
    while (sequence.isPlaying())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
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
    std::printf(
        "  frames not shown:   %d of %d due (cache empty %d times); %d ticks late, longest gap %.0f ms; "
        "load %s\n",
        delegate.due - shown, delegate.due, delegate.emptyEvents, delegate.lateTicks, delegate.maxGapMs,
        qPrintable(loadAverage()));
    sequence.cleanup();
}

// Counts the paints of the playback view that show a picture it has not painted before.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(BVAVPlaybackView *view)
        : m_view(view)
        , m_lastKey(view->currentImage().cacheKey())
    {
        view->installEventFilter(this);
    }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_view && event->type() == QEvent::Paint) {
            ++paints;
            const qint64 key = m_view->currentImage().cacheKey();
            if (key != m_lastKey)
                ++pictures;
            m_lastKey = key;
        }
        return false;
    }

    int paints = 0;
    int pictures = 0;

private:
    BVAVPlaybackView *m_view;
    qint64 m_lastKey;
};

// The player window: the document's hand-over and the view's paints on top of the sequence.
void measureWindow(const QStringList &files, double fps)
{
    BVDocument document;
    document.loadImageSequence(files, fps);
    BVDocumentWindowController::showWindows(document);
    QElapsedTimer timer;
    timer.start();
    while (!document.isReady() && timer.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    auto *sequence = dynamic_cast<BVImageSequence *>(document.mediaObject());
    if (!document.isReady() || !sequence || !BVDocumentWindowController::of(document)->playbackView()) {
        std::printf("  window: the sequence did not become ready\n");
        return;
    }
    while (timer.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    PaintCounter counter(BVDocumentWindowController::of(document)->playbackView());
    const uint64_t start = sequence->currentFrame();
    const double cpuBefore = processCpuSeconds();
    timer.restart();
    document.playPause();
    while (sequence->isPlaying())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const double cpuSeconds = processCpuSeconds() - cpuBefore;
    timer.restart();
    while (timer.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const int64_t due
        = int64_t(std::min(sequence->currentFrame(), sequence->frameCount() - 1)) - int64_t(start);
    std::printf("  window %dx%d: %lld frames played in %.2f s; view painted %d pictures (%d paints) = %.2f "
                "pictures/s; %lld not painted; CPU %.0f%% of one core; load %s\n",
        BVDocumentWindowController::of(document)->playbackView()->width(),
        BVDocumentWindowController::of(document)->playbackView()->height(), static_cast<long long>(due),
        seconds, counter.pictures, counter.paints, counter.pictures / seconds,
        static_cast<long long>(due - counter.pictures), 100 * cpuSeconds / seconds,
        qPrintable(loadAverage()));
    document.cleanup();
}

} // namespace

int main(int argc, char **argv)
{
    bool window = false;
    for (int i = 1; i < argc; ++i)
        window = window || std::strcmp(argv[i], "--window") == 0;
    // The window's settings go to a folder of their own, never the user's.
    QTemporaryDir home;
    if (window) {
        qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
        qputenv("XDG_CACHE_HOME", home.filePath(QStringLiteral("cache")).toLocal8Bit());
    }
    std::unique_ptr<QCoreApplication> app = window ? std::make_unique<QApplication>(argc, argv)
                                                   : std::make_unique<QCoreApplication>(argc, argv);
    Options options;
    options.window = window;
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QStringLiteral("--frames") && i + 1 < arguments.size())
            options.frames = arguments[++i].toInt();
        else if (argument == QStringLiteral("--fps") && i + 1 < arguments.size())
            options.fps = arguments[++i].toDouble();
        else if (argument == QStringLiteral("--media") && i + 1 < arguments.size())
            options.media = arguments[++i];
        else if (argument == QStringLiteral("--window"))
            continue;
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
        if (options.window) {
            // No autoplay and no remembered position: the window starts at the first frame, paused.
            BVUserDefaults::standardUserDefaults()->setInteger(0, QStringLiteral("autoplay"));
            BVUserDefaults::standardUserDefaults()->setInteger(0, QStringLiteral("savePlaybackPos"));
            measureWindow(files, options.fps);
        }
    }
    std::printf("peak resident memory: %ld MB\n", peakResidentMegabytes());
    BVLog::finishWriting();
    return 0;
}
