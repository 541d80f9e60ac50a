// Waveform data of a 10-minute 48 kHz stereo WAV, beside the ffmpeg command decoding the same file
// to 16-bit PCM (`ffmpeg -f s16le`) in the same run. Prints wall time (median of the runs), CPU time
// and the throughput in audio seconds per second.
#include "platform/media/MediaAsset.h"
#include "player/time/BVAVFoundation.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>

#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int runs = 5;
constexpr double audioSeconds = 600;

double cpuSeconds(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

QString makeWav()
{
    const QString folder = QStringLiteral(BV_BENCHMARK_MEDIA_DIR);
    QDir().mkpath(folder);
    const QString path = folder + QStringLiteral("/tone-10min.wav");
    if (QFileInfo(path).size() > 0)
        return path;
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::ForwardedChannels);
    ffmpeg.start(QStringLiteral("ffmpeg"),
        {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
            QStringLiteral("-nostdin"), QStringLiteral("-y"), QStringLiteral("-f"), QStringLiteral("lavfi"),
            QStringLiteral("-i"), QStringLiteral("sine=frequency=440:sample_rate=48000:duration=600"),
            QStringLiteral("-af"), QStringLiteral("aformat=channel_layouts=stereo"), QStringLiteral("-c:a"),
            QStringLiteral("pcm_s16le"), path});
    ffmpeg.waitForFinished(-1);
    return ffmpeg.exitCode() == 0 ? path : QString();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString wav = makeWav();
    if (wav.isEmpty()) {
        std::fprintf(stderr, "could not generate the WAV file (is ffmpeg installed?)\n");
        return 1;
    }
    std::printf("file: %s (%.1f MB, %.0f s of 48 kHz stereo)\n", qPrintable(wav), QFileInfo(wav).size() / 1e6,
        audioSeconds);

    std::vector<double> oursWall, oursCpu, ffmpegWall, ffmpegCpu;
    size_t valueCount = 0;
    float normalize = 0;
    for (int run = 0; run < runs; ++run) {
        // Ours: a fresh asset each run, so loading is included.
        {
            const double cpu0 = cpuSeconds(RUSAGE_SELF);
            QElapsedTimer timer;
            timer.start();
            auto asset = MediaAsset::assetWithURL(QUrl::fromLocalFile(wav));
            const auto values = BVAVFoundation::waveformDataForAsset(asset, &normalize);
            oursWall.push_back(timer.nsecsElapsed() / 1e9);
            oursCpu.push_back(cpuSeconds(RUSAGE_SELF) - cpu0);
            valueCount = values ? values->size() : 0;
        }
        // The ffmpeg command decoding the same file to the same sample format.
        {
            const double cpu0 = cpuSeconds(RUSAGE_CHILDREN);
            QElapsedTimer timer;
            timer.start();
            QProcess ffmpeg;
            ffmpeg.start(QStringLiteral("ffmpeg"),
                {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                    QStringLiteral("-nostdin"), QStringLiteral("-threads"), QStringLiteral("1"),
                    QStringLiteral("-i"), wav, QStringLiteral("-f"), QStringLiteral("s16le"),
                    QStringLiteral("-y"), QStringLiteral("/dev/null")});
            ffmpeg.waitForFinished(-1);
            ffmpegWall.push_back(timer.nsecsElapsed() / 1e9);
            ffmpegCpu.push_back(cpuSeconds(RUSAGE_CHILDREN) - cpu0);
        }
    }
    std::printf("waveform values: %zu, normalize %.1f\n", valueCount, double(normalize));
    std::printf("%-34s %10s %10s %14s\n", "", "wall (s)", "cpu (s)", "audio s / s");
    std::printf("%-34s %10.3f %10.3f %14.0f\n", "waveformDataForAsset", median(oursWall), median(oursCpu),
        audioSeconds / median(oursWall));
    std::printf("%-34s %10.3f %10.3f %14.0f\n", "ffmpeg -f s16le (same file)", median(ffmpegWall),
        median(ffmpegCpu), audioSeconds / median(ffmpegWall));
    std::printf("medians of %d runs each, interleaved\n", runs);
    return 0;
}
