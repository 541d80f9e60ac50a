#include "app/commandline/BVExportCommand.h"

#include "export/BVAVExport.h"
#include "export/BVExportChoices.h"
#include "export/BVFrameExport.h"
#include "markers/BVMarkerStore.h"
#include "markers/BVStoredAnnotation.h"
#include "platform/defaults/BVUserDefaults.h"
#include "platform/media/MediaAsset.h"
#include "platform/media/MediaFrameIndex.h"
#include "platform/media/MediaFrameRate.h"
#include "player/time/BVAVFoundation.h"
#include "player/time/BVTimecode.h"
#include "support/BVLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QPainter>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

std::atomic<bool> interrupted {false};

void onInterrupt(int)
{
    interrupted.store(true);
}

struct Failure
{
    int status = 0;
    QString message;
};

// Where the media's frames and timecodes are: its frame rule, start timecode and counting.
struct MediaClock
{
    MediaFrameRate rate;
    int64_t timebase = 30;
    bool ntsc = false;
    bool dropFrame = false;
    QString start;
    int64_t startFrame = 0;
    std::shared_ptr<const MediaFrameIndex> realFrames;

    explicit MediaClock(const std::shared_ptr<MediaAsset> &asset)
        : rate(BVAVFoundation::frameRateForAsset(asset))
    {
        timebase = rate.timebase();
        ntsc = rate.isNtsc();
        dropFrame = BVAVFoundation::isDropFrame(asset);
        start = BVAVFoundation::timecodeStartForAsset(asset, BVTimecode::zeroTimecode());
        startFrame
            = std::max<int64_t>(BVTimecode::frameCountFromTimecode(start, timebase, ntsc, dropFrame, 0), 0);
        const QList<MediaTrack> video = asset->tracksWithMediaType(MediaType::video);
        if (!video.isEmpty())
            realFrames = video.first().frameIndex();
    }
    // Frames from the first frame to a displayed source timecode; -1 when it is not one.
    int64_t frameOf(const QString &timecode) const
    {
        if (timecode.split(QRegularExpression(QStringLiteral("[:;]"))).size() != 4)
            return -1;
        return BVTimecode::frameCountFromTimecode(timecode, timebase, ntsc, dropFrame, startFrame);
    }
    // The exact start of a frame: the real frame of variable-rate footage, else by the media's
    // frame rule.
    MediaTime timeOf(int64_t frame) const
    {
        if (realFrames)
            return realFrames->timeOfFrame(frame);
        return rate.timeOfFrame(frame);
    }
};

// Prints whole percentages (or a bar on a terminal) and ends the loop with the outcome.
class CommandDelegate : public BVAVExportDelegate
{
public:
    explicit CommandDelegate(QEventLoop &loop)
        : m_loop(loop)
        , m_terminal(isatty(STDERR_FILENO))
    { }

    void avExportProgress(BVAVExport *, double progress) override { show(int(std::lround(progress * 100))); }
    void avExportFinished(BVAVExport *) override
    {
        if (!m_cancelled)
            show(100);
        if (m_terminal)
            std::fputc('\n', stderr);
        m_loop.exit(m_cancelled ? 1 : 0);
    }
    void avExportFailed(BVAVExport *, const BVError &error) override
    {
        if (m_terminal)
            std::fputc('\n', stderr);
        m_message = error.localizedDescription();
        m_loop.exit(1);
    }
    void setCancelled() { m_cancelled = true; }
    bool cancelled() const { return m_cancelled; }
    const QString &message() const { return m_message; }

private:
    void show(int percent)
    {
        if (percent <= m_shown)
            return;
        m_shown = percent;
        if (m_terminal) {
            const int filled = percent * 40 / 100;
            std::fprintf(stderr, "\r[%s%s] %3d%%", QByteArray(filled, '#').constData(),
                QByteArray(40 - filled, ' ').constData(), percent);
        } else {
            std::fprintf(stderr, "%d%%\n", percent);
        }
        std::fflush(stderr);
    }

    QEventLoop &m_loop;
    bool m_terminal;
    bool m_cancelled = false;
    int m_shown = -1;
    QString m_message;
};

Failure usageError(const QString &message)
{
    return {2, message};
}

bool parseKbits(const QString &text, double *value)
{
    bool ok = false;
    *value = text.toDouble(&ok);
    return ok && *value >= 0;
}

// Applies the codec options to the engine as the panel would. Answers a failure for bad usage.
Failure applyOptions(BVAVExport &engine, const QStringList &options, QString *in, QString *out)
{
    static const QStringList videoNames {QStringLiteral("copy"), QStringLiteral("h264"),
        QStringLiteral("prores422"), QStringLiteral("prores422hq"), QStringLiteral("prores422lt"),
        QStringLiteral("prores422proxy"), QStringLiteral("prores4444"), QStringLiteral("photojpeg")};
    static const QStringList audioNames {QStringLiteral("copy"), QStringLiteral("lpcm"),
        QStringLiteral("aac"), QStringLiteral("alac"), QStringLiteral("none")};
    static const QStringList channelNames {QStringLiteral("mono"), QStringLiteral("stereo"),
        QStringLiteral("quad"), QStringLiteral("3.0"), QStringLiteral("4.0"), QStringLiteral("5.0"),
        QStringLiteral("5.1"), QStringLiteral("7.1")};
    int channels = 1;
    bool bigEndian = false;
    for (qsizetype i = 0; i < options.size(); ++i) {
        const QString &option = options.at(i);
        if (option == QLatin1String("--big-endian")) {
            bigEndian = true;
            continue;
        }
        if (option == QLatin1String("--float")) {
            engine.audioFloatingPoint = true;
            continue;
        }
        if (i + 1 >= options.size())
            return usageError(QStringLiteral("%1 needs a value").arg(option));
        const QString value = options.at(++i);
        double number = 0;
        if (option == QLatin1String("--in")) {
            *in = value;
        } else if (option == QLatin1String("--out")) {
            *out = value;
        } else if (option == QLatin1String("--video")) {
            if (!videoNames.contains(value))
                return usageError(QStringLiteral("unknown video codec %1").arg(value));
            engine.videoCodec = BVExportChoices::videoCodecAtIndex(int(videoNames.indexOf(value)));
        } else if (option == QLatin1String("--audio")) {
            if (!audioNames.contains(value))
                return usageError(QStringLiteral("unknown audio codec %1").arg(value));
            engine.audioCodec = BVExportChoices::audioCodecAtIndex(int(audioNames.indexOf(value)));
        } else if (option == QLatin1String("--size")) {
            const QStringList parts = value.split(u'x');
            bool okW = false, okH = false;
            const int w = parts.size() == 2 ? parts[0].toInt(&okW) : 0;
            const int h = parts.size() == 2 ? parts[1].toInt(&okH) : 0;
            if (!okW || !okH || w <= 0 || h <= 0)
                return usageError(QStringLiteral("--size needs WIDTHxHEIGHT"));
            engine.videoFrameSize = QSize(w, h);
        } else if (option == QLatin1String("--video-bitrate")) {
            if (!parseKbits(value, &number))
                return usageError(QStringLiteral("--video-bitrate needs kbit/s"));
            engine.videoBitrate = std::floor(number) * 1000;
        } else if (option == QLatin1String("--keyframes")) {
            bool ok = false;
            const int n = value.toInt(&ok);
            if (value == QLatin1String("auto")) {
                engine.videoKeyFrameInterval = engine.videoKeyFrameDuration = 0;
            } else if (value == QLatin1String("all")) {
                engine.videoKeyFrameInterval = engine.videoKeyFrameDuration = 1;
            } else if (ok && n >= 0) {
                engine.videoKeyFrameInterval = engine.videoKeyFrameDuration = n == 0 ? 24 : uint32_t(n);
            } else {
                return usageError(QStringLiteral("--keyframes needs auto, all or a number of frames"));
            }
        } else if (option == QLatin1String("--channels")) {
            if (!channelNames.contains(value))
                return usageError(QStringLiteral("unknown channel layout %1").arg(value));
            channels = int(channelNames.indexOf(value));
        } else if (option == QLatin1String("--audio-rate")) {
            if (!parseKbits(value, &number))
                return usageError(QStringLiteral("--audio-rate needs kHz"));
            engine.audioRate = uint32_t(std::ceil(number * 1000));
        } else if (option == QLatin1String("--audio-bitrate")) {
            if (!parseKbits(value, &number))
                return usageError(QStringLiteral("--audio-bitrate needs kbit/s"));
            engine.audioBitrate = uint32_t(std::ceil(number * 1000));
        } else if (option == QLatin1String("--audio-bits")) {
            bool ok = false;
            engine.audioSampleSize = value.toInt(&ok);
            if (!ok || engine.audioSampleSize <= 0)
                return usageError(QStringLiteral("--audio-bits needs a bit depth"));
        } else {
            return usageError(QStringLiteral("unknown option %1").arg(option));
        }
    }
    engine.audioLittleEndian = !bigEndian;
    const int32_t codec = engine.audioCodec;
    const bool listed = channels < BVExportChoices::channelTitles(codec).size();
    engine.audioLayout = listed ? BVExportChoices::channelLayout(codec, channels) : 0x650002;
    engine.audioChannelCount = listed ? BVExportChoices::channelCount(codec, channels) : 2;
    return {};
}

Failure runMovie(BVExportCommand::Mode mode, const QStringList &arguments)
{
    if (arguments.size() < 2)
        return usageError(QStringLiteral("%1 needs MEDIA and OUT")
                              .arg(mode == BVExportCommand::Mode::Trim ? QStringLiteral("--trim")
                                                                       : QStringLiteral("--export")));
    auto engine = BVAVExport::create();
    QString in, out;
    const QStringList options = arguments.mid(2);
    if (mode == BVExportCommand::Mode::Trim) {
        for (qsizetype i = 0; i < options.size(); i += 2) {
            if (i + 1 >= options.size()
                || (options[i] != QLatin1String("--in") && options[i] != QLatin1String("--out")))
                return usageError(QStringLiteral("--trim takes only --in TC and --out TC"));
        }
    }
    if (Failure failure = applyOptions(*engine, options, &in, &out); failure.status)
        return failure;
    if (in.isEmpty() != out.isEmpty())
        return usageError(QStringLiteral("--in and --out come together"));
    if (mode == BVExportCommand::Mode::Trim) {
        if (in.isEmpty())
            return usageError(QStringLiteral("--trim needs --in and --out"));
        engine->videoCodec = std::nullopt;
        engine->audioCodec = BVAVExport::audioCodecCopy;
    }

    const QFileInfo media(arguments.at(0));
    if (!media.exists())
        return {1, QStringLiteral("%1: no such file").arg(arguments.at(0))};
    engine->asset = MediaAsset::assetWithURL(QUrl::fromLocalFile(media.absoluteFilePath()));
    if (!engine->asset->waitUntilLoaded())
        return {1, engine->asset->error().localizedDescription()};
    engine->outputURL = QFileInfo(arguments.at(1)).absoluteFilePath();
    if (engine->outputURL == media.absoluteFilePath())
        return {1, QStringLiteral("the output would replace the media being read")};

    const MediaClock clock(engine->asset);
    engine->dropFrame = clock.dropFrame;
    engine->timecodeStart = clock.start;
    if (!in.isEmpty()) {
        const int64_t first = clock.frameOf(in);
        const int64_t last = clock.frameOf(out);
        if (first < 0)
            return usageError(QStringLiteral("%1 is not a timecode of this media").arg(in));
        if (last < 0)
            return usageError(QStringLiteral("%1 is not a timecode of this media").arg(out));
        if (last <= first)
            return usageError(QStringLiteral("the out point must follow the in point"));
        const MediaTime start = clock.timeOf(first);
        const MediaTime end = clock.timeOf(last);
        if (end > engine->asset->duration())
            return {1, QStringLiteral("%1 lies beyond the end of the media").arg(out)};
        engine->timeRange = MediaTimeRange(start, end - start);
        if (first > 0)
            engine->timecodeStart
                = BVTimecode::timecode(clock.start, first, clock.timebase, clock.ntsc, clock.dropFrame);
    }

    QEventLoop loop;
    CommandDelegate delegate(loop);
    engine->setDelegate(&delegate);
    interrupted.store(false);
    auto previous = std::signal(SIGINT, onInterrupt);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (interrupted.load() && !delegate.cancelled()) {
            delegate.setCancelled();
            engine->cancel();
        }
    });
    watch.start(100);
    engine->startExport();
    const int status = loop.exec();
    std::signal(SIGINT, previous);
    engine->setDelegate(nullptr);
    if (delegate.cancelled())
        return {1, QStringLiteral("cancelled; nothing was written")};
    if (status != 0)
        return {1, delegate.message()};
    return {};
}

// The drawing of a marker on the frame, found and drawn as the window's frame export does: the
// markers stored for the file, the frame counted by the media's frame rule. Null when none.
QImage annotationLayer(
    const QString &mediaPath, const std::shared_ptr<MediaAsset> &asset, int64_t frame, const QSizeF &size)
{
    if (!BVFrameExport::embedsAnnotation() || size.isEmpty())
        return {};
    const QList<BVMarker> markers
        = BVMarkerStore(BVMarkerStore::keyForURL(QUrl::fromLocalFile(mediaPath))).storedMarkers();
    if (markers.isEmpty())
        return {};
    const MediaFrameRate rate = BVAVFoundation::frameRateForAsset(asset);
    const QList<MediaTrack> video = asset->tracksWithMediaType(MediaType::video);
    const std::shared_ptr<const MediaFrameIndex> realFrames
        = video.isEmpty() ? nullptr : video.first().frameIndex();
    QImage layer(size.toSize(), QImage::Format_RGBA8888_Premultiplied);
    layer.fill(Qt::transparent);
    bool drawn = false;
    {
        QPainter painter(&layer);
        drawn = BVStoredAnnotation::drawStoredAnnotation(
            markers, frame,
            [rate, realFrames](const MediaTime &position) {
                return std::max<int64_t>(
                    0, realFrames ? realFrames->frameAtTime(position) : rate.frameAtTime(position));
            },
            painter, QRectF(QPointF(0, 0), size));
    }
    return drawn ? layer : QImage();
}

// The frame at a source timecode as the window saves it: upright by the file's orientation, turned
// by the "rotation" setting, deinterlaced when asked (the command line has no view to follow), the
// matte burnt in and the annotation of a marker at that frame drawn when the settings say so.
Failure runFrame(const QStringList &arguments)
{
    BVFrameExport::ViewOptions view;
    QStringList positional;
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--deinterlace"))
            view.deinterlace = true;
        else if (argument.startsWith(QLatin1String("--")))
            return usageError(QStringLiteral("unknown option %1").arg(argument));
        else
            positional << argument;
    }
    if (positional.size() != 3)
        return usageError(QStringLiteral("--export-frame needs MEDIA TC OUT"));
    const QString suffix = QFileInfo(positional.at(2)).suffix().toLower();
    int format = -1;
    if (suffix == QLatin1String("png"))
        format = BVFrameExport::PNG;
    else if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        format = BVFrameExport::JPEG;
    else if (suffix == QLatin1String("tif") || suffix == QLatin1String("tiff"))
        format = BVFrameExport::TIFF;
    if (format < 0)
        return usageError(QStringLiteral("OUT must end in .png, .jpg, .jpeg, .tif or .tiff"));
    const QFileInfo media(positional.at(0));
    if (!media.exists())
        return {1, QStringLiteral("%1: no such file").arg(positional.at(0))};
    auto asset = MediaAsset::assetWithURL(QUrl::fromLocalFile(media.absoluteFilePath()));
    if (!asset->waitUntilLoaded())
        return {1, asset->error().localizedDescription()};
    const MediaClock clock(asset);
    const int64_t frame = clock.frameOf(positional.at(1));
    if (frame < 0)
        return usageError(QStringLiteral("%1 is not a timecode of this media").arg(positional.at(1)));
    const QList<MediaTrack> video = asset->tracksWithMediaType(MediaType::video);
    if (video.isEmpty())
        return {1, QStringLiteral("the media has no pictures")};
    view.rotation = int(BVUserDefaults::standardUserDefaults()->integerForKey(QStringLiteral("rotation")));
    BVError error;
    std::optional<QImage> image = BVFrameExport::movieFrame(asset, clock.timeOf(frame), view, &error);
    if (!image)
        return {1, QStringLiteral("Failed to generate frame: %1").arg(error.localizedDescription())};
    const QSizeF size = BVFrameExport::rotatedSize(video.first().orientedSize(), view.rotation);
    const QImage layer = annotationLayer(media.absoluteFilePath(), asset, frame, size);
    BVFrameExport::AnnotationRenderer renderer;
    if (!layer.isNull())
        renderer = [layer](QPainter &painter, const QRectF &target) { painter.drawImage(target, layer); };
    const QString written = BVFrameExport::saveFrameWithSettings(
        *image, QFileInfo(positional.at(2)).absoluteFilePath(), format, size, renderer);
    if (written.isEmpty())
        return {1, QStringLiteral("%1 could not be written").arg(positional.at(2))};
    return {};
}

} // namespace

QString BVExportCommand::usage()
{
    return QStringLiteral(
        "       reelmark --export MEDIA OUT [--in TC --out TC] [--video copy|h264|prores422|prores422hq|\n"
        "                prores422lt|prores422proxy|prores4444|photojpeg] [--audio copy|lpcm|aac|alac|none]\n"
        "                [--size WxH] [--video-bitrate KBITS] [--keyframes auto|all|N]\n"
        "                [--channels mono|stereo|quad|3.0|4.0|5.0|5.1|7.1] [--audio-rate KHZ]\n"
        "                [--audio-bitrate KBITS] [--audio-bits N] [--big-endian] [--float]\n"
        "       reelmark --trim MEDIA OUT --in TC --out TC   (stream copy)\n"
        "       reelmark --export-frame MEDIA TC OUT.png|.jpg|.tif [--deinterlace]\n"
        "         TC: a source timecode as displayed; the out point's frame is the first one left out.\n"
        "         The frame is saved as the window saves it: upright, turned by the \"rotation\" setting,\n"
        "         the matte burnt in (\"mask\", \"frameAspectRatioMask\") and the drawing of a marker on\n"
        "         that frame drawn over it (\"frameEmbedAnnotation\"). Interlaced pictures keep their\n"
        "         woven fields unless --deinterlace is given.\n");
}

int BVExportCommand::run(Mode mode, const QStringList &arguments)
{
    // The log goes to the usual log file, never between the progress lines: its folder must exist
    // before anything logs.
    QDir().mkpath(BVLog::sharedController()->logFolder());
    Failure failure;
    if (mode == Mode::ExportFrame)
        failure = runFrame(arguments);
    else
        failure = runMovie(mode, arguments);
    if (failure.status == 2) {
        std::fprintf(stderr, "reelmark: %s\nUsage:\n%s", qPrintable(failure.message), qPrintable(usage()));
    } else if (failure.status != 0) {
        std::fprintf(stderr, "reelmark: %s\n", qPrintable(failure.message));
    }
    return failure.status;
}
