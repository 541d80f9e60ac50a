#include "player/BVAVFoundation.h"

#include "platform/media/MediaAssetReader.h"
#include "player/BVTimecode.h"
#include "support/BVLog.h"

#include <QFileInfo>

#include <cmath>
#include <cstring>

namespace {

// The part of a frame by which a time may pass a frame boundary and still count as that frame.
constexpr long double frameBoundaryTolerance = 1e-3L;

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

bool BVAVFoundation::isDropFrame(const std::shared_ptr<MediaAsset> &asset)
{
    if (!asset)
        return false;
    const QList<MediaTrack> timecodeTracks = asset->tracksWithMediaType(MediaType::timecode);
    if (timecodeTracks.isEmpty() || timecodeTracks.first().formatDescriptions().isEmpty())
        return false;
    const MediaFormatDescription &format = timecodeTracks.first().formatDescriptions().first();
    return format.mediaType() == MediaFormatDescription::fourCC("tmcd")
        && (format.timecodeFlags() & MediaFormatDescription::TimecodeFlagDropFrame);
}

uint64_t BVAVFoundation::framesAtTime(const MediaTime &time, double fps)
{
    if (!time.isNumeric() || time.value() <= 0 || fps <= 0 || !std::isfinite(fps))
        return 0;
    const long double frames = (static_cast<long double>(time.value()) / time.timescale()) * fps;
    const long double counted = std::ceil(frames - frameBoundaryTolerance);
    return counted <= 0 ? 0 : static_cast<uint64_t>(counted);
}

MediaTime BVAVFoundation::timeFromFrameCount(int64_t frameCount, double fps)
{
    if (fps <= 0 || !std::isfinite(fps))
        return MediaTime::invalid();
    return MediaTime::fromSeconds(double(frameCount) / fps, 100000);
}

QString BVAVFoundation::timecodeForAsset(const std::shared_ptr<MediaAsset> &asset, const MediaTime &time,
    const QString &fromStartPoint, bool dropFrame)
{
    return timecodeAtTime(time, fpsForAsset(asset), fromStartPoint, dropFrame);
}

QString BVAVFoundation::timecodeAtTime(
    const MediaTime &time, double fps, const QString &fromStartPoint, bool dropFrame)
{
    const auto timebase = static_cast<int64_t>(std::llround(fps));
    const bool ntsc = float(timebase) != float(fps);
    const MediaTime position = time.isNumeric() && time.value() < 0 ? MediaTime::zero() : time;
    // A start point that is no timecode (-1) counts as zero, not as the 01:00:00;00 that a negative
    // start frame would stand for.
    const int64_t start = std::max<int64_t>(
        0, BVTimecode::frameCountFromTimecode(fromStartPoint, timebase, ntsc, dropFrame, 0));
    int64_t frames = 0;
    if (position.isNumeric())
        frames = static_cast<int64_t>(
            std::llround((static_cast<long double>(position.value()) / position.timescale()) * fps));
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
        return defaultStart;
    return timecodeStartForAsset(asset, timecodeTracks.first(), defaultStart);
}

QString BVAVFoundation::timecodeStartForAsset(
    const std::shared_ptr<MediaAsset> &asset, const MediaTrack &timecodeTrack, const QString &defaultStart)
{
    if (!isReadable(asset) || !timecodeTrack.isValid())
        return defaultStart;
    const double fps = fpsForAsset(asset);
    const bool ntsc = fps != std::round(fps);
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
    const qsizetype stride = channels == 2 ? 4 : 2;

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
            int16_t sample;
            std::memcpy(&sample, data + i * stride, sizeof sample);
            // Magnitudes, not signed values: the mean of a signed waveform is its DC offset, near
            // zero for any sound.
            sum += std::abs(int32_t(sample));
            const bool binFull = count >= bin;
            ++count;
            if (binFull) {
                const auto value = static_cast<float>(std::llabs(sum / count));
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
