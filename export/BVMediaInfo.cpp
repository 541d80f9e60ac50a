#include "export/BVMediaInfo.h"

#include "platform/media/MediaFormatDescription.h"
#include "player/time/BVAVFoundation.h"
#include "player/time/BVPositionText.h"
#include "player/time/BVTimecode.h"
#include "support/BVFileManager.h"
#include "support/BVLog.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace {

QVariantMap row(const QString &description, const QString &value)
{
    return {{QStringLiteral("description"), description}, {QStringLiteral("value"), value}};
}

QString frameText(uint64_t frames, const BVMediaInfoSource &source)
{
    return BVPositionText::textForLength(
        int64_t(frames), source.timebase, source.ntsc, BVPositionText::Mode(source.timecodeDisplay));
}

// The medium date style and the short time style of the user's locale.
QString dateText(const QDateTime &date)
{
    const QLocale locale;
    return QStringLiteral("%1 %2").arg(locale.toString(date.date(), QStringLiteral("d MMM yyyy")),
        locale.toString(date.time(), QLocale::ShortFormat));
}

} // namespace

QString BVMediaInfo::trackValue(const std::shared_ptr<MediaAsset> &asset, const MediaTrack &track)
{
    const QString &type = track.mediaType();
    const QList<MediaFormatDescription> &formats = track.formatDescriptions();
    if (type == MediaType::video) {
        if (formats.isEmpty())
            return QStringLiteral("Video");
        QString name = formats.first().formatName();
        BVLog::appendLog("format: %@", name);
        if (name == QLatin1String("'avc1'"))
            name = QStringLiteral("H.264 (avc1)");
        return QStringLiteral("Video - %1").arg(name);
    }
    if (type == MediaType::audio) {
        if (formats.isEmpty() || !formats.first().audioStreamBasicDescription())
            return QStringLiteral("Audio");
        const MediaAudioStreamBasicDescription &asbd = *formats.first().audioStreamBasicDescription();
        QString format = MediaFormatDescription::fourCCString(asbd.formatID);
        if (format == QLatin1String("lpcm"))
            format = QStringLiteral("Linear PCM");
        else if (format == QLatin1String("aac "))
            format = QStringLiteral("AAC");
        const QString bits
            = asbd.bitsPerChannel ? QStringLiteral(" %1-bit").arg(asbd.bitsPerChannel) : QString();
        const QString channels = asbd.channelsPerFrame == 1 ? QStringLiteral("Mono")
            : asbd.channelsPerFrame == 2                    ? QStringLiteral("Stereo")
                                                            : QStringLiteral("Multi-Channel");
        return QStringLiteral("Audio - %1%2 %3KHz %4")
            .arg(format, bits, QString::asprintf("%0.1f", asbd.sampleRate / 1000), channels);
    }
    if (type == MediaType::timecode)
        return QStringLiteral("Timecode - %1")
            .arg(BVAVFoundation::timecodeStartForAsset(asset, track, BVTimecode::zeroTimecode()));
    if (type == MediaType::subtitle)
        return QStringLiteral("Subtitle");
    if (type == MediaType::closedCaption)
        return QStringLiteral("Closed-Caption");
    if (type == MediaType::metadata)
        return QStringLiteral("Metadata");
    if (type == MediaType::muxed)
        return QStringLiteral("Muxed");
    if (type == MediaType::text)
        return QStringLiteral("Text");
    return {};
}

QVariantList BVMediaInfo::pictureRows(const MediaTrack &track)
{
    const auto tr = [](const char *text) { return QCoreApplication::translate("BVMediaInfo", text); };
    QVariantList rows;
    const QVariantMap extensions = track.formatDescriptions().isEmpty()
        ? QVariantMap()
        : track.formatDescriptions().first().extensions();
    const QString matrix = extensions.value(QStringLiteral("YCbCrMatrix")).toString();
    if (!matrix.isEmpty()) {
        const bool assumed = extensions.value(QStringLiteral("YCbCrMatrixAssumed")).toBool();
        rows << row(tr("Color Matrix"), assumed ? tr("%1 (assumed: not tagged)").arg(matrix) : matrix);
    }
    const QString fields = extensions.value(QStringLiteral("FieldOrder")).toString();
    if (fields == QLatin1String("progressive"))
        rows << row(tr("Field Order"), tr("Progressive"));
    else if (fields == QLatin1String("top"))
        rows << row(tr("Field Order"), tr("Interlaced, top field first"));
    else if (fields == QLatin1String("bottom"))
        rows << row(tr("Field Order"), tr("Interlaced, bottom field first"));
    const QString pixelAspect = extensions.value(QStringLiteral("PixelAspectRatio")).toString();
    if (!pixelAspect.isEmpty())
        rows << row(tr("Pixel Aspect Ratio"), pixelAspect);
    const MediaPictureGeometry::Orientation orientation = track.preferredOrientation();
    if (!orientation.isIdentity()) {
        QString text = orientation.quarterTurns
            ? tr("Rotated %1\u00B0 clockwise").arg(MediaPictureGeometry::degrees(orientation))
            : QString();
        if (orientation.mirrored)
            text = text.isEmpty() ? tr("Mirrored") : tr("%1, mirrored").arg(text);
        rows << row(tr("Orientation"), text);
    }
    return rows;
}

QVariantList BVMediaInfo::infoRows(const BVMediaInfoSource &source)
{
    QVariantList rows;
    const bool sequence = source.isImageSequence && !source.files.isEmpty();
    const bool movie = !source.isImageSequence && source.asset;
    const QFileInfo firstFile = sequence ? QFileInfo(source.files.first()) : QFileInfo();

    // 1. Title
    QString title;
    if (sequence) {
        title = firstFile.completeBaseName();
    } else {
        for (const MediaMetadataItem &item : source.metadata) {
            if (item.commonKey() == QLatin1String("title")) {
                title = item.stringValue();
                break;
            }
        }
        if (title.isEmpty())
            title = source.veloFileID >= 0 || source.isVelo ? source.displayName : source.fileURL.fileName();
    }
    if (!title.isEmpty())
        rows << row(QStringLiteral("Title"), title);
    // 2. Path
    if (sequence) {
        rows << row(QStringLiteral("Path"), firstFile.absolutePath());
    } else if (movie && !source.isVelo && source.veloFileID < 0 && source.asset->url().isLocalFile()) {
        QString path = QUrl::fromPercentEncoding(source.asset->url().toString(QUrl::FullyEncoded).toUtf8());
        if (path.startsWith(QLatin1String("file://")))
            path = path.mid(7);
        rows << row(QStringLiteral("Path"), QFileInfo(path).path());
    }
    // 3, 4. Frame rate and duration
    // Variable-rate footage names the rate its timecode counts in, and says it varies.
    rows << row(QStringLiteral("Frame Rate"),
        source.frameIndex ? QString::asprintf("%0.2f (variable)", source.fps)
                          : QString::asprintf("%0.2f", source.fps));
    rows << row(QStringLiteral("Duration"), frameText(source.frameCount, source));
    // 5. Creation date
    const QDateTime created = sequence ? firstFile.birthTime()
        : movie                        ? source.asset->creationDate()
                                       : QDateTime();
    if (created.isValid())
        rows << row(QStringLiteral("Creation Date"), dateText(created.toLocalTime()));
    // 6, 7. Sizes and data rate
    if (sequence && firstFile.exists()) {
        const double size = double(firstFile.size());
        rows << row(
            QStringLiteral("Total Size"), BVFileManager::formatFileSize(size * double(source.frameCount)));
        rows << row(QStringLiteral("Data Rate"),
            QStringLiteral("%1/s").arg(BVFileManager::formatFileSize(size * source.fps)));
    } else if (movie && source.fileURL.isLocalFile() && QFileInfo::exists(source.fileURL.toLocalFile())) {
        const double size = double(QFileInfo(source.fileURL.toLocalFile()).size());
        rows << row(QStringLiteral("Size"), BVFileManager::formatFileSize(size));
        const double seconds = source.duration.isNumeric() ? source.duration.seconds() : 0;
        if (seconds > 0)
            rows << row(QStringLiteral("Data Rate"),
                QStringLiteral("%1/s").arg(BVFileManager::formatFileSize(size / seconds)));
    }
    // 8, 9. Resolution and aspect ratio
    QSizeF resolution = sequence ? source.firstImageSize : QSizeF();
    if (movie) {
        const QList<MediaTrack> video = source.asset->tracksWithMediaType(MediaType::video);
        if (!video.isEmpty())
            resolution = video.first().naturalSize();
    }
    if (resolution.width() > 0 && resolution.height() > 0) {
        rows << row(QStringLiteral("Resolution"),
            QString::asprintf("%0.0f x %0.0f", resolution.width(), resolution.height()));
        const double aspect = std::round(resolution.width() / resolution.height() * 100) / 100;
        rows << row(QStringLiteral("Aspect Ratio"), QString::asprintf("%0.02f", aspect));
    }
    // How the picture is read: its colour matrix (and whether it was assumed), field order,
    // pixel aspect and orientation.
    if (movie) {
        const QList<MediaTrack> video = source.asset->tracksWithMediaType(MediaType::video);
        if (!video.isEmpty())
            rows << pictureRows(video.first());
    }
    if (sequence && source.linearLight)
        rows << row(QCoreApplication::translate("BVMediaInfo", "Transfer Curve"),
            QCoreApplication::translate("BVMediaInfo", "Linear light, shown through the sRGB curve"));
    // 10. Selected range
    const MediaTimeRange &range = source.inOutRange;
    if (range.isValid() && range.duration().isNumeric() && range.duration() > MediaTime::zero())
        rows << row(QStringLiteral("Selected Range"),
            frameText(source.frameIndex ? uint64_t(std::max<int64_t>(0,
                          source.frameIndex->frameAtTime(range.end())
                              - source.frameIndex->frameAtTime(range.start())))
                                        : BVAVFoundation::framesAtTime(range.duration(), source.fps),
                source));
    // 11. Separator
    rows << QVariantMap {{QStringLiteral("type"), QStringLiteral("separator")}};
    // 12, 13. Tracks, numbered among all tracks
    if (movie) {
        const QList<MediaTrack> tracks = source.asset->tracks();
        rows << row(QStringLiteral("Number of Tracks"), QString::number(tracks.size()));
        for (qsizetype i = 0; i < tracks.size(); ++i) {
            const QString value = trackValue(source.asset, tracks.at(i));
            if (!value.isEmpty())
                rows << row(QStringLiteral("Track %1").arg(i + 1), value);
        }
    }
    return rows;
}

std::optional<QVariantList> BVMediaInfo::metadataRows(const BVMediaInfoSource &source)
{
    if (source.veloFileID != -1 || source.isImageSequence || !source.asset)
        return std::nullopt;
    QStringList logged;
    for (const MediaMetadataItem &item : source.metadata)
        logged << item.description();
    BVLog::appendLog("Metadata: %@", logged.join(QStringLiteral(", ")));
    QVariantList rows;
    for (const MediaMetadataItem &item : source.metadata) {
        const QString value = item.stringValue();
        if (item.commonKey().isEmpty() || value.isEmpty() || item.commonKey() == QLatin1String("title"))
            continue;
        rows << row(item.commonKey(), value);
    }
    return rows;
}
