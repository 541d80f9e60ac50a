#pragma once

#include "platform/media/MediaAsset.h"
#include "platform/media/MediaFrameRate.h"
#include "platform/media/MediaTime.h"
#include "platform/media/MediaTrack.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// Timecode and waveform operations on a media asset. Stateless class operations; those that read
// the asset block while it loads or reads, so call them off the main thread unless the asset has
// loaded (the timecode-track and waveform readers always read the file).
class BVAVFoundation
{
public:
    BVAVFoundation() = delete;

    // Nominal frame rate of the first video track; 29.97 without video.
    static double fpsForAsset(const std::shared_ptr<MediaAsset> &asset);
    // The start timecode of the container's or a stream's "timecode" tag, with ":" or ";" (drop-frame,
    // also written "." or ",") before the frames; none when there is no such tag or it is no timecode.
    static std::optional<QString> timecodeTagForAsset(
        const std::shared_ptr<MediaAsset> &asset, bool *dropFrame = nullptr);
    // The first timecode track's format says drop-frame (flag bit 0); without a timecode track, the
    // "timecode" tag's separator does.
    static bool isDropFrame(const std::shared_ptr<MediaAsset> &asset);
    // The exact rate of the first video track (24000/1001 ...); 30000/1001 without video.
    static MediaFrameRate frameRateForAsset(const std::shared_ptr<MediaAsset> &asset);
    // The frame showing at a time, at the exact rate fps stands for (MediaFrameRate's rule). Zero
    // for negative or invalid times.
    static uint64_t framesAtTime(const MediaTime &time, double fps);
    // The exact start of a frame at the rate fps stands for. Invalid when fps <= 0.
    static MediaTime timeFromFrameCount(int64_t frameCount, double fps);
    // The timecode of the frame showing at a time in the asset, counted from a start timecode. A
    // start timecode that cannot be read counts as zero.
    static QString timecodeForAsset(const std::shared_ptr<MediaAsset> &asset, const MediaTime &time,
        const QString &fromStartPoint, bool dropFrame);
    // The timecode of the frame showing at a time, counted from a start timecode. Negative times
    // count as zero.
    static QString timecodeAtTime(
        const MediaTime &time, double fps, const QString &fromStartPoint, bool dropFrame);
    static QString timecodeAtTime(
        const MediaTime &time, const MediaFrameRate &rate, const QString &fromStartPoint, bool dropFrame);
    // The same with the drop-frame flag of isDropFrame().
    static QString timecodeForAsset(
        const std::shared_ptr<MediaAsset> &asset, const MediaTime &time, const QString &fromStartPoint);
    // The start timecode of the asset's first timecode track; without one, of its "timecode" tag;
    // else the default.
    static QString timecodeStartForAsset(
        const std::shared_ptr<MediaAsset> &asset, const QString &defaultStart);
    // The start timecode stored in the first sample of the given timecode track, or the default.
    static QString timecodeStartForAsset(const std::shared_ptr<MediaAsset> &asset,
        const MediaTrack &timecodeTrack, const QString &defaultStart);
    // False for unreadable assets and for playlists ("m3u", "m3u8") and "http", "https", "ftp"
    // addresses, which cannot be read sample by sample.
    static bool isReadable(const std::shared_ptr<MediaAsset> &asset);

    // Waveform data of the first audio track: the mean magnitude of each run of
    // ceiling(sampleRate / 50) + 1 frames, of the first channel (mono, stereo) or of all channels
    // (more than two), as 32-bit floats, and in *normalizeMax their maximum (at least -90). None when the
    // asset cannot be read, has no audio, or the read fails or is cancelled through the flag.
    static std::optional<std::vector<float>> waveformDataForAsset(const std::shared_ptr<MediaAsset> &asset,
        float *normalizeMax, const std::atomic<bool> *cancel = nullptr);
};
