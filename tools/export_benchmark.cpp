// Movie export beside the ffmpeg tool doing the same job on the same file in the same run:
// 10 s of the 1080p sample to ProRes 422 HQ and to H.264 (LPCM audio both), and a trim by stream
// copy. While each export runs, the main thread's event loop is timed (a 10 ms timer), with the
// activity window showing the job, to find the longest stall.
//
//   bv_export_benchmark [--repeat N] [SAMPLE]   (default: the sample made by tools/bv-make-sample,
//                                                best of 3)

#include "export/BVAVExport.h"
#include "export/BVActivityController.h"
#include "export/BVActivityItemExport.h"
#include "platform/media/MediaAsset.h"
#include "support/BVLog.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <QUrl>

#include <sys/resource.h>

#include <cstdio>

namespace {

// Processor time (user and system, all threads) of this process or of its reaped children.
double processorSeconds(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Run
{
    double seconds = 0;
    double processor = 0;
    double longestStallMs = 0;
    bool ok = false;
};

Run runEngine(const QString &source, const QString &out, const std::optional<QString> &video, int32_t audio,
    BVActivityController &controller)
{
    QFile::remove(out);
    auto engine = BVAVExport::create();
    engine->asset = MediaAsset::assetWithURL(QUrl::fromLocalFile(source));
    engine->asset->waitUntilLoaded();
    engine->outputURL = out;
    engine->videoCodec = video;
    engine->audioCodec = audio;
    engine->timeRange = MediaTimeRange(MediaTime::zero(), MediaTime(10, 1));
    auto item = BVActivityItemExport::activityItemWithAVExport(engine, QStringLiteral("Export: benchmark"));

    Run run;
    QElapsedTimer clock;
    QElapsedTimer tick;
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        run.longestStallMs = std::max(run.longestStallMs, tick.nsecsElapsed() / 1e6 - 10);
        tick.restart();
    });
    const double processorBefore = processorSeconds(RUSAGE_SELF);
    clock.start();
    tick.start();
    probe.start();
    controller.addItem(item);
    // Waits for events like the application's own loop does (the probe wakes it every 10 ms); the
    // overload with a time limit does not wait and would spin a processor beside the export.
    while (item->status() == BVActivityItem::Running || item->status() == BVActivityItem::Queued)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    run.seconds = clock.nsecsElapsed() / 1e9;
    run.processor = processorSeconds(RUSAGE_SELF) - processorBefore;
    run.ok = item->status() == BVActivityItem::Finished;
    return run;
}

Run runTool(const QStringList &arguments)
{
    const double processorBefore = processorSeconds(RUSAGE_CHILDREN);
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.start(QStringLiteral("ffmpeg"), arguments);
    process.waitForFinished(-1);
    if (process.exitCode() != 0)
        std::fprintf(stderr, "ffmpeg failed: %s\n", process.readAllStandardError().constData());
    Run run;
    run.seconds = clock.nsecsElapsed() / 1e9;
    run.processor = processorSeconds(RUSAGE_CHILDREN) - processorBefore;
    run.ok = process.exitCode() == 0;
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QDir().mkpath(BVLog::sharedController()->logFolder());
    QStringList options = app.arguments().mid(1);
    int repeat = 3;
    if (options.size() >= 2 && options.first() == QLatin1String("--repeat")) {
        repeat = std::max(1, options.at(1).toInt());
        options = options.mid(2);
    }
    QString source = options.isEmpty() ? QString() : options.first();
    const QString media = QStringLiteral(BV_BENCHMARK_MEDIA_DIR);
    if (source.isEmpty()) {
        QProcess make;
        make.start(QStringLiteral(BV_SOURCE_DIR "/tools/bv-make-sample"),
            {QStringLiteral("--variant"), QStringLiteral("movie"), QStringLiteral("--output"), media});
        make.waitForFinished(-1);
        source = QString::fromLocal8Bit(make.readAllStandardOutput()).trimmed();
    }
    QDir().mkpath(media);
    BVActivityController controller;
    std::printf("export of 10 s of %s (best of %d)\n", qPrintable(source), repeat);
    std::printf("%-22s %10s %10s %8s %14s %18s\n", "job", "reelmark", "ffmpeg", "ratio", "GUI stall max",
        "cpu reelmark/ffmpeg");

    const struct
    {
        const char *name;
        std::optional<QString> video;
        int32_t audio;
        QStringList ffmpeg;
    } jobs[] = {
        {"ProRes 422 HQ + LPCM", MediaVideoCodec::proRes422HQ, BVAVExport::audioFormatLinearPCM,
            {QStringLiteral("-c:v"), QStringLiteral("prores_ks"), QStringLiteral("-profile:v"),
                QStringLiteral("3"), QStringLiteral("-pix_fmt"), QStringLiteral("yuv422p10le"),
                QStringLiteral("-c:a"), QStringLiteral("pcm_s16le")}},
        {"H.264 + LPCM", MediaVideoCodec::h264, BVAVExport::audioFormatLinearPCM,
            {QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-pix_fmt"),
                QStringLiteral("yuv420p"), QStringLiteral("-c:a"), QStringLiteral("pcm_s16le")}},
        {"trim (stream copy)", std::nullopt, BVAVExport::audioCodecCopy,
            {QStringLiteral("-c"), QStringLiteral("copy")}},
    };
    int jobNumber = 0;
    for (const auto &job : jobs) {
        // Each job keeps its files, to compare the pictures of both afterwards.
        const QString suffix = QStringLiteral("-%1.mov").arg(++jobNumber);
        Run best;
        best.seconds = 1e9;
        best.processor = 1e9;
        double tool = 1e9;
        double toolProcessor = 1e9;
        double stall = 0;
        bool ok = true;
        for (int attempt = 0; attempt < repeat; ++attempt) {
            const Run run = runEngine(
                source, media + QStringLiteral("/bench-reelmark") + suffix, job.video, job.audio, controller);
            ok = ok && run.ok;
            best.seconds = std::min(best.seconds, run.seconds);
            best.processor = std::min(best.processor, run.processor);
            stall = std::max(stall, run.longestStallMs);
            QStringList arguments {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                QStringLiteral("error"), QStringLiteral("-nostdin"), QStringLiteral("-y"),
                QStringLiteral("-i"), source, QStringLiteral("-t"), QStringLiteral("10"),
                QStringLiteral("-map"), QStringLiteral("0:v:0"), QStringLiteral("-map"),
                QStringLiteral("0:a:0")};
            arguments << job.ffmpeg << media + QStringLiteral("/bench-ffmpeg") + suffix;
            const Run toolRun = runTool(arguments);
            tool = std::min(tool, toolRun.seconds);
            toolProcessor = std::min(toolProcessor, toolRun.processor);
        }
        std::printf("%-22s %9.2fs %9.2fs %8.2f %11.1f ms %8.1fs/%.1fs%s\n", job.name, best.seconds, tool,
            tool / best.seconds, stall, best.processor, toolProcessor, ok ? "" : "  (export FAILED)");
        std::fflush(stdout);
    }
    std::printf("ratio = ffmpeg time / reelmark time (1 = as fast; above 1 = faster than ffmpeg)\n");
    return 0;
}
