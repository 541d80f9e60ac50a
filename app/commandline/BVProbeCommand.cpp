#include "app/commandline/BVProbeCommand.h"

#include "platform/media/MediaAsset.h"
#include "platform/media/MediaFrameIndex.h"
#include "player/media/BVAVAsset.h"
#include "player/media/BVImageSequence.h"
#include "player/media/BVMediaObject.h"
#include "player/time/BVAVFoundation.h"
#include "support/BVLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeDatabase>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <cmath>
#include <memory>
#include <thread>

namespace {

constexpr int assetTimeoutMs = 60000;
constexpr int sequenceTimeoutMs = 15000;

// Records what the media object reports while the probe waits for it. Callbacks that arrive on
// other threads (frames, waveform) are not needed and are ignored.
class ProbeDelegate : public BVMediaObjectDelegate
{
public:
    void mediaStatusChanged(const QString &status) override
    {
        if (status == BVMediaStatus::loaded)
            loaded.store(true);
        else if (status == BVMediaStatus::unknown)
            unusable.store(true); // nothing of it can be read: there is no point in waiting
    }
    void prepareForPlayback() override { prepared.store(true); }
    void mediaPlaybackFailed(const BVError &error) override
    {
        failure = error;
        failed.store(true);
    }

    std::atomic<bool> loaded {false};
    std::atomic<bool> prepared {false};
    std::atomic<bool> failed {false};
    std::atomic<bool> unusable {false};
    BVError failure;
};

// Runs the event loop until the condition holds or the time is up; answers the condition.
bool spinUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

bool isNetworkAddress(const QString &argument)
{
    const QString scheme = QUrl(argument).scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

bool isImageFile(const QString &path)
{
    return QMimeDatabase().mimeTypeForFile(path).name().startsWith(QLatin1String("image/"));
}

bool isAudioFile(const QString &path)
{
    return QMimeDatabase().mimeTypeForFile(path).name().startsWith(QLatin1String("audio/"));
}

QJsonObject errorLine(const QString &file, const QString &reason)
{
    return QJsonObject {{QStringLiteral("file"), file}, {QStringLiteral("error"), reason}};
}

QJsonObject describe(const BVMediaObject &media, const QString &kind)
{
    QJsonArray chapters;
    for (const MediaTimedMetadataGroup &chapter : media.chapters()) {
        const MediaTime start
            = chapter.items().isEmpty() ? chapter.timeRange().start() : chapter.items().first().time();
        chapters.append(QJsonObject {{QStringLiteral("title"), chapter.title()},
            {QStringLiteral("time"), start.isNumeric() ? start.seconds() : 0.0}});
    }
    const MediaTime duration = media.duration();
    const QSizeF size = media.naturalSize();
    // Variable-rate footage: "fps" is the clock its frames are counted on, "averageFps" the rate
    // that counts them over the duration.
    const std::shared_ptr<const MediaFrameIndex> index = media.frameIndex();
    const double average = index ? index->averageRate() : media.fps();
    return QJsonObject {
        {QStringLiteral("kind"), kind},
        {QStringLiteral("fps"), std::round(media.fps() * 1e6) / 1e6},
        {QStringLiteral("averageFps"), std::round(average * 1e6) / 1e6},
        {QStringLiteral("variableFrameRate"), media.hasVariableFrameRate()},
        {QStringLiteral("timebase"), qint64(media.timebase())},
        {QStringLiteral("ntsc"), media.ntsc()},
        {QStringLiteral("dropFrame"), media.dropFrame()},
        {QStringLiteral("timecodeStart"), media.timecodeStart()},
        {QStringLiteral("frameCount"), qint64(media.frameCount())},
        {QStringLiteral("naturalWidth"), size.width()},
        {QStringLiteral("naturalHeight"), size.height()},
        {QStringLiteral("rotation"), MediaPictureGeometry::degrees(media.pictureOrientation())},
        {QStringLiteral("mirrored"), media.pictureOrientation().mirrored},
        {QStringLiteral("duration"),
            QJsonObject {{QStringLiteral("value"), qint64(duration.value())},
                {QStringLiteral("timescale"), duration.timescale()},
                {QStringLiteral("flags"), qint64(duration.flags())},
                {QStringLiteral("epoch"), qint64(duration.epoch())}}},
        {QStringLiteral("chapters"), chapters},
        {QStringLiteral("audioOnly"), media.isAudioOnly()},
    };
}

QJsonObject probeAsset(const QString &argument)
{
    QUrl url;
    if (isNetworkAddress(argument)) {
        url = QUrl(argument);
    } else {
        const QFileInfo info(argument);
        if (!info.exists())
            return errorLine(argument, QStringLiteral("No such file"));
        if (!info.isFile() || !info.isReadable())
            return errorLine(argument, QStringLiteral("The file cannot be read"));
        url = QUrl::fromLocalFile(info.absoluteFilePath());
    }
    auto asset = MediaAsset::assetWithURL(url);
    ProbeDelegate delegate;
    BVAVAsset media;
    media.setDelegate(&delegate);
    // An audio file is marked audio-only before it loads, as the document does for its type.
    if (url.isLocalFile() && isAudioFile(url.toLocalFile()))
        media.setIsAudioOnly(true);
    // Loading starts on a background thread, as the document starts it.
    std::thread([&media, asset] { media.loadAsset(asset); }).join();
    const bool finished
        = spinUntil([&] { return delegate.prepared.load() || delegate.failed.load(); }, assetTimeoutMs);
    QJsonObject line;
    if (delegate.failed.load()) {
        const QString reason = delegate.failure.localizedFailureReason();
        line = errorLine(argument,
            delegate.failure.localizedDescription()
                + (reason.isEmpty() ? QString() : QStringLiteral(" ") + reason));
    } else if (!finished) {
        line = errorLine(argument, QStringLiteral("Timed out while loading"));
    } else {
        line = describe(media, media.isAudioOnly() ? QStringLiteral("audio") : QStringLiteral("movie"));
        line.insert(QStringLiteral("file"), argument);
        line.insert(QStringLiteral("readable"), BVAVFoundation::isReadable(asset));
        line.insert(QStringLiteral("playable"), asset->isPlayable());
        // Every time above counts from the first picture; this is where it stands in the container.
        const MediaTime start = asset->startTime();
        line.insert(QStringLiteral("containerStart"), start.isNumeric() ? start.seconds() : 0.0);
        // An audio file counts its timecode at its recorder's rate or at the setting's.
        if (media.timecodeRateSource() != BVAVAsset::TimecodeRateSource::Media)
            line.insert(QStringLiteral("timecodeRateSource"),
                media.timecodeRateSource() == BVAVAsset::TimecodeRateSource::Recorder
                    ? QStringLiteral("iXML")
                    : QStringLiteral("defaultAudioTC"));
    }
    media.cleanup();
    return line;
}

QJsonObject probeSequence(const QStringList &files, double fps)
{
    QStringList paths;
    for (const QString &file : files) {
        const QFileInfo info(file);
        if (!info.exists())
            return errorLine(file, QStringLiteral("No such file"));
        paths.append(info.absoluteFilePath());
    }
    ProbeDelegate delegate;
    BVImageSequence sequence;
    sequence.setDelegate(&delegate);
    sequence.setFps(fps);
    sequence.loadFiles(paths);
    // "loaded" comes with the first decoded image, which gives the picture size.
    const bool loaded
        = spinUntil([&] { return delegate.loaded.load() || delegate.unusable.load(); }, sequenceTimeoutMs);
    QJsonObject line;
    if (!loaded || !delegate.loaded.load()) {
        line = errorLine(files.first(), QStringLiteral("None of the images could be read"));
    } else {
        line = describe(sequence, QStringLiteral("imageSequence"));
        line.insert(QStringLiteral("file"), files.first());
        line.insert(QStringLiteral("files"), qint64(files.size()));
        QJsonArray missing;
        for (const auto &[index, number] : sequence.missingFrames())
            missing.append(QJsonObject {
                {QStringLiteral("frame"), qint64(index)}, {QStringLiteral("number"), qint64(number)}});
        if (!missing.isEmpty())
            line.insert(QStringLiteral("missingFrames"), missing);
        line.insert(QStringLiteral("readable"), true);
        line.insert(QStringLiteral("playable"), true);
    }
    sequence.cleanup();
    return line;
}

void print(FILE *out, const QJsonObject &line)
{
    const QByteArray text = QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    std::fwrite(text.constData(), 1, size_t(text.size()), out);
    std::fflush(out);
}

} // namespace

int BVProbeCommand::run(const QStringList &arguments)
{
    return run(arguments, stdout);
}

int BVProbeCommand::run(const QStringList &arguments, FILE *out)
{
    QStringList files;
    double fps = 0;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--fps")) {
            bool ok = false;
            fps = i + 1 < arguments.size() ? arguments[i + 1].toDouble(&ok) : 0;
            if (!ok || !(fps > 0) || fps > 1000) {
                std::fprintf(stderr, "reelmark: --fps needs a frame rate above 0\n");
                return 2;
            }
            ++i;
        } else {
            files.append(arguments[i]);
        }
    }
    if (files.isEmpty()) {
        std::fprintf(stderr, "reelmark: --probe needs at least one file\n");
        return 2;
    }

    // The log goes to the usual log file, never between the lines of the report: its folder must
    // exist before anything logs (a first run has none yet).
    QDir().mkpath(BVLog::sharedController()->logFolder());

    // With a rate, the image files form one sequence, reported where its first file stands.
    // Without one, a still image is a sequence of one frame at the rate sequences open at.
    QStringList images;
    for (const QString &file : files)
        if (!isNetworkAddress(file) && QFileInfo(file).isFile() && isImageFile(file))
            images.append(file);

    int status = 0;
    bool sequenceDone = false;
    for (const QString &file : files) {
        QJsonObject line;
        if (images.contains(file) && !(fps > 0)) {
            line = probeSequence({file}, 24);
        } else if (images.contains(file)) {
            if (sequenceDone)
                continue;
            sequenceDone = true;
            line = probeSequence(images, fps);
        } else {
            line = probeAsset(file);
        }
        if (line.contains(QStringLiteral("error")))
            status = 1;
        print(out, line);
    }
    return status;
}
