// Movie export beside the ffmpeg tool doing the same job on the same file in the same run:
// 10 s of the 1080p sample to ProRes 422 HQ and to H.264 (LPCM audio both), and a trim by stream
// copy. While each export runs, the main thread's event loop is timed (a 10 ms timer), with the
// activity window showing the job, to find the longest stall.
//
//   bv_export_benchmark [SAMPLE]   (default: the sample made by tools/bv-make-sample)

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

#include <cstdio>

namespace {

struct Run
{
    double seconds = 0;
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
    clock.start();
    tick.start();
    probe.start();
    controller.addItem(item);
    while (item->status() == BVActivityItem::Running || item->status() == BVActivityItem::Queued)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    run.seconds = clock.nsecsElapsed() / 1e9;
    run.ok = item->status() == BVActivityItem::Finished;
    return run;
}

double runTool(const QStringList &arguments)
{
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.start(QStringLiteral("ffmpeg"), arguments);
    process.waitForFinished(-1);
    if (process.exitCode() != 0)
        std::fprintf(stderr, "ffmpeg failed: %s\n", process.readAllStandardError().constData());
    return clock.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QDir().mkpath(BVLog::sharedController()->logFolder());
    QString source = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
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
    std::printf("export of 10 s of %s (best of 3)\n", qPrintable(source));
    std::printf("%-22s %10s %10s %8s %14s\n", "job", "reelmark", "ffmpeg", "ratio", "GUI stall max");

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
    for (const auto &job : jobs) {
        Run best;
        best.seconds = 1e9;
        double tool = 1e9;
        double stall = 0;
        bool ok = true;
        for (int attempt = 0; attempt < 3; ++attempt) {
            const Run run = runEngine(
                source, media + QStringLiteral("/bench-reelmark.mov"), job.video, job.audio, controller);
            ok = ok && run.ok;
            best.seconds = std::min(best.seconds, run.seconds);
            stall = std::max(stall, run.longestStallMs);
            QStringList arguments {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                QStringLiteral("error"), QStringLiteral("-nostdin"), QStringLiteral("-y"),
                QStringLiteral("-i"), source, QStringLiteral("-t"), QStringLiteral("10"),
                QStringLiteral("-map"), QStringLiteral("0:v:0"), QStringLiteral("-map"),
                QStringLiteral("0:a:0")};
            arguments << job.ffmpeg << media + QStringLiteral("/bench-ffmpeg.mov");
            tool = std::min(tool, runTool(arguments));
        }
        std::printf("%-22s %9.2fs %9.2fs %8.2f %11.1f ms%s\n", job.name, best.seconds, tool,
            tool / best.seconds, stall, ok ? "" : "  (export FAILED)");
        std::fflush(stdout);
    }
    std::printf("ratio = ffmpeg time / reelmark time (1 = as fast; above 1 = faster than ffmpeg)\n");
    return 0;
}
