#pragma once

#include "platform/media/MediaAsset.h"
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
    // The first timecode track's format says drop-frame (flag bit 0); false without such a track.
    static bool isDropFrame(const std::shared_ptr<MediaAsset> &asset);
    // The frame a time falls in: ceiling of seconds x fps, where a time within a thousandth of a
    // frame after a frame boundary still counts as that frame (times made from frame counts carry
    // rounding). Zero for negative or invalid times.
    static uint64_t framesAtTime(const MediaTime &time, double fps);
    // The time of a frame count: frameCount / fps seconds at timescale 100000. Invalid when fps <= 0.
    static MediaTime timeFromFrameCount(int64_t frameCount, double fps);
    // The timecode of a time in the asset, counted from a start timecode: frames are
    // round(seconds x fps), counted at round(fps). A start timecode that cannot be read counts as zero.
    static QString timecodeForAsset(const std::shared_ptr<MediaAsset> &asset, const MediaTime &time,
        const QString &fromStartPoint, bool dropFrame);
    // The timecode of a time at a frame rate, counted from a start timecode: round(seconds x fps)
    // frames at timebase round(fps). Negative times count as zero.
    static QString timecodeAtTime(
        const MediaTime &time, double fps, const QString &fromStartPoint, bool dropFrame);
    // The same with the drop-frame flag of isDropFrame().
    static QString timecodeForAsset(
        const std::shared_ptr<MediaAsset> &asset, const MediaTime &time, const QString &fromStartPoint);
    // The start timecode of the asset's first timecode track, or the default without one.
    static QString timecodeStartForAsset(
        const std::shared_ptr<MediaAsset> &asset, const QString &defaultStart);
    // The start timecode stored in the first sample of the given timecode track, or the default.
    static QString timecodeStartForAsset(const std::shared_ptr<MediaAsset> &asset,
        const MediaTrack &timecodeTrack, const QString &defaultStart);
    // False for unreadable assets and for playlists ("m3u", "m3u8") and "http", "https", "ftp"
    // addresses, which cannot be read sample by sample.
    static bool isReadable(const std::shared_ptr<MediaAsset> &asset);

    // Waveform data of the first audio track: the mean magnitude of each run of
    // ceiling(sampleRate / 50) + 1 samples of the first channel (mono, stereo) as 32-bit floats, and
    // in *normalizeMax their maximum (at least -90). None when the asset cannot be read, has no
    // audio, or the read fails or is cancelled through the flag.
    static std::optional<std::vector<float>> waveformDataForAsset(const std::shared_ptr<MediaAsset> &asset,
        float *normalizeMax, const std::atomic<bool> *cancel = nullptr);
};
