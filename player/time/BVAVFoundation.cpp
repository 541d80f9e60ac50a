#include "player/time/BVAVFoundation.h"

#include "platform/media/MediaAssetReader.h"
#include "player/time/BVTimecode.h"
#include "support/BVLog.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

uint32_t readBigEndian32(const char *bytes)
{
    const auto *b = reinterpret_cast<const uint8_t *>(bytes);
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]);
}

} // namespace

double BVAVFoundation::fpsForAsset(const std::shared_ptr<MediaAsset> &asset)
{
    if (asset) {
        const QList<MediaTrack> video = asset->tracksWithMediaType(MediaType::video);
        if (!video.isEmpty())
            return double(video.first().nominalFrameRate());
    }
    return 29.97;
}

std::optional<QString> BVAVFoundation::timecodeTagForAsset(
    const std::shared_ptr<MediaAsset> &asset, bool *dropFrame)
{
    if (!asset)
        return std::nullopt;
    QString tag = asset->timecodeTag();
    // Drop-frame tags put ";" (or "." or ",") before the frames.
    const bool drop = tag.size() >= 3
        && (tag.at(tag.size() - 3) == u';' || tag.at(tag.size() - 3) == u'.'
            || tag.at(tag.size() - 3) == u',');
    if (drop)
        tag[tag.size() - 3] = u';';
    static const QRegularExpression shape(QStringLiteral("^\\d{1,2}:\\d{2}:\\d{2}[:;]\\d{2,3}$"));
    if (!shape.match(tag).hasMatch())
        return std::nullopt;
    if (tag.indexOf(u':') == 1)
        tag.prepend(u'0');
    if (dropFrame)
        *dropFrame = drop;
    return tag;
}

bool BVAVFoundation::isDropFrame(const std::shared_ptr<MediaAsset> &asset)
{
    if (!asset)
        return false;
    const QList<MediaTrack> timecodeTracks = asset->tracksWithMediaType(MediaType::timecode);
    if (timecodeTracks.isEmpty()) {
        bool drop = false;
        return timecodeTagForAsset(asset, &drop) && drop;
    }
    if (timecodeTracks.first().formatDescriptions().isEmpty())
        return false;
    const MediaFormatDescription &format = timecodeTracks.first().formatDescriptions().first();
    return format.mediaType() == MediaFormatDescription::fourCC("tmcd")
        && (format.timecodeFlags() & MediaFormatDescription::TimecodeFlagDropFrame);
}

uint64_t BVAVFoundation::framesAtTime(const MediaTime &time, double fps)
{
    return uint64_t(std::max<int64_t>(0, MediaFrameRate::fromFps(fps).frameAtTime(time)));
}

MediaTime BVAVFoundation::timeFromFrameCount(int64_t frameCount, double fps)
{
    return MediaFrameRate::fromFps(fps).timeOfFrame(frameCount);
}

MediaFrameRate BVAVFoundation::frameRateForAsset(const std::shared_ptr<MediaAsset> &asset)
{
    if (asset) {
        const QList<MediaTrack> video = asset->tracksWithMediaType(MediaType::video);
        if (!video.isEmpty()) {
            const MediaTrack &track = video.first();
            const MediaFrameRate exact(track.frameRateNumerator(), track.frameRateDenominator());
            if (exact.isValid())
                return exact;
            return MediaFrameRate::fromFps(double(track.nominalFrameRate()));
        }
    }
    return MediaFrameRate(30000, 1001);
}

QString BVAVFoundation::timecodeForAsset(const std::shared_ptr<MediaAsset> &asset, const MediaTime &time,
    const QString &fromStartPoint, bool dropFrame)
{
    return timecodeAtTime(time, frameRateForAsset(asset), fromStartPoint, dropFrame);
}

QString BVAVFoundation::timecodeAtTime(
    const MediaTime &time, double fps, const QString &fromStartPoint, bool dropFrame)
{
    return timecodeAtTime(time, MediaFrameRate::fromFps(fps), fromStartPoint, dropFrame);
}

QString BVAVFoundation::timecodeAtTime(
    const MediaTime &time, const MediaFrameRate &rate, const QString &fromStartPoint, bool dropFrame)
{
    const int64_t timebase = rate.timebase();
    const bool ntsc = rate.isNtsc();
    // A start point that is no timecode (-1) counts as zero, not as the 01:00:00;00 that a negative
    // start frame would stand for.
    const int64_t start = std::max<int64_t>(
        0, BVTimecode::frameCountFromTimecode(fromStartPoint, timebase, ntsc, dropFrame, 0));
    const int64_t frames = std::max<int64_t>(0, rate.frameAtTime(time));
    return BVTimecode::timecodeFromFrameCount(frames, timebase, ntsc, dropFrame, start);
}

QString BVAVFoundation::timecodeForAsset(
    const std::shared_ptr<MediaAsset> &asset, const MediaTime &time, const QString &fromStartPoint)
{
    return timecodeForAsset(asset, time, fromStartPoint, isDropFrame(asset));
}

QString BVAVFoundation::timecodeStartForAsset(
    const std::shared_ptr<MediaAsset> &asset, const QString &defaultStart)
{
    if (!asset)
        return defaultStart;
    const QList<MediaTrack> timecodeTracks = asset->tracksWithMediaType(MediaType::timecode);
    if (timecodeTracks.isEmpty())
        return timecodeTagForAsset(asset).value_or(defaultStart);
    return timecodeStartForAsset(asset, timecodeTracks.first(), defaultStart);
}

QString BVAVFoundation::timecodeStartForAsset(
    const std::shared_ptr<MediaAsset> &asset, const MediaTrack &timecodeTrack, const QString &defaultStart)
{
    if (!isReadable(asset) || !timecodeTrack.isValid())
        return defaultStart;
    const bool ntsc = frameRateForAsset(asset).isNtsc();
    const bool dropFrame = isDropFrame(asset);
    uint32_t frameQuanta = 0;
    if (!timecodeTrack.formatDescriptions().isEmpty())
        frameQuanta = timecodeTrack.formatDescriptions().first().frameQuanta();

    MediaAssetReader reader(asset, timecodeTrack, MediaAssetReader::Output::Passthrough);
    if (!reader.startReading())
        return defaultStart;
    while (std::optional<MediaSampleBuffer> sample = reader.copyNextSampleBuffer()) {
        if (sample->data().size() < 4)
            continue;
        const uint32_t frameNumber = readBigEndian32(sample->data().constData());
        reader.cancelReading();
        return BVTimecode::timecodeFromFrameCount(frameNumber, frameQuanta, ntsc, dropFrame, 0);
    }
    return defaultStart;
}

bool BVAVFoundation::isReadable(const std::shared_ptr<MediaAsset> &asset)
{
    if (!asset || !asset->isReadable())
        return false;
    const QUrl &url = asset->url();
    const QString extension = QFileInfo(url.path()).suffix().toLower();
    if (extension == QLatin1String("m3u") || extension == QLatin1String("m3u8"))
        return false;
    const QString scheme = url.scheme().toLower();
    return scheme != QLatin1String("http") && scheme != QLatin1String("https")
        && scheme != QLatin1String("ftp");
}

std::optional<std::vector<float>> BVAVFoundation::waveformDataForAsset(
    const std::shared_ptr<MediaAsset> &asset, float *normalizeMax, const std::atomic<bool> *cancel)
{
    if (!isReadable(asset))
        return std::nullopt;
    const QList<MediaTrack> audio = asset->tracksWithMediaType(MediaType::audio);
    if (audio.isEmpty())
        return std::nullopt;
    const MediaTrack &track = audio.first();

    int channels = 1;
    double sampleRate = 0;
    for (const MediaFormatDescription &format : track.formatDescriptions()) {
        if (const auto &asbd = format.audioStreamBasicDescription()) {
            channels = int(asbd->channelsPerFrame);
            sampleRate = asbd->sampleRate;
        }
    }
    if (channels < 1)
        channels = 1;
    const auto bin = static_cast<int64_t>(std::ceil(sampleRate / 50));
    // Mono and stereo take the first channel of each frame; more channels (a 5.1 mix, say) take
    // the mean magnitude of all of them, so that every channel of every frame counts.
    const qsizetype stride = 2 * channels;
    const int mixed = channels > 2 ? channels : 1;

    MediaAssetReader reader(asset, track, MediaAssetReader::Output::LinearPCM16);
    if (!reader.startReading())
        return std::nullopt;
    std::vector<float> values;
    values.reserve(size_t(std::max<double>(0, asset->duration().seconds() * 50 + 16)));
    float maximum = -90;
    int64_t sum = 0;
    int64_t count = 0;
    while (std::optional<MediaSampleBuffer> buffer = reader.copyNextSampleBuffer()) {
        if (cancel && cancel->load()) {
            reader.cancelReading();
            break;
        }
        const QByteArray &bytes = buffer->data();
        const qsizetype samples = bytes.size() / (2 * channels);
        const char *data = bytes.constData();
        for (qsizetype i = 0; i < samples; ++i) {
            // Magnitudes, not signed values: the mean of a signed waveform is its DC offset, near
            // zero for any sound.
            for (int c = 0; c < mixed; ++c) {
                int16_t sample;
                std::memcpy(&sample, data + i * stride + c * 2, sizeof sample);
                sum += std::abs(int32_t(sample));
            }
            const bool binFull = count >= bin;
            ++count;
            if (binFull) {
                const auto value = static_cast<float>(std::llabs(sum / (count * mixed)));
                values.push_back(value);
                maximum = std::max(maximum, value);
                sum = 0;
                count = 0;
            }
        }
    }
    if (reader.status() != MediaAssetReader::Status::Completed)
        return std::nullopt;
    if (normalizeMax)
        *normalizeMax = maximum;
    return values;
}
