#pragma once

#include "platform/media/MediaAsset.h"
#include "platform/media/MediaAssetReader.h"
#include "platform/media/MediaTrack.h"
#include "platform/media/MediaTrackSample.h"
#include "support/BVError.h"

#include <atomic>
#include <memory>
#include <optional>

struct AVFormatContext;
struct AVCodecContext;
struct AVCodecParameters;
struct AVPacket;
struct AVFrame;

// One track output of an asset reader for the movie writer: reads the samples of one track, either
// as stored (Passthrough) or decoded (Decoded: pictures in the decoder's own pixel format, audio in
// its own sample format, converted by the writer input), limited to a time range.
//
// Decoded: exactly the pictures whose display interval lies in the range, and the audio frames in
// it, cut to the sample. Passthrough: from the key frame at or before the range start (so the first
// picture can be decoded) up to the last sample needed to decode the pictures before the range end;
// the writer hides what lies outside the range with an edit list.
//
// Times are the asset's (counted from its first presented frame): the range is read on the
// container's own clock shifted by the asset's start time, and the samples come out shifted back.
//
// Runs on one thread at a time (the stream's queue); cancelReading() may be called from any thread.
class MediaAssetTrackOutput
{
public:
    enum class Output { Passthrough, Decoded };
    enum class Status { Unknown, Reading, Completed, Failed, Cancelled };

    MediaAssetTrackOutput(std::shared_ptr<MediaAsset> asset, const MediaTrack &track, Output output);
    ~MediaAssetTrackOutput();
    MediaAssetTrackOutput(const MediaAssetTrackOutput &) = delete;
    MediaAssetTrackOutput &operator=(const MediaAssetTrackOutput &) = delete;

    // Set before startReading(); an empty or invalid range reads the whole track.
    void setTimeRange(const MediaTimeRange &range) { m_range = range; }
    const MediaTimeRange &timeRange() const { return m_range; }

    // Opens the container and, for Decoded, the decoder, and seeks to the range. False on failure.
    bool startReading();
    // The next sample; none at the end (Completed), on failure (Failed) or once cancelled.
    std::optional<MediaTrackSample> copyNextSample();
    void cancelReading();
    Status status() const { return m_status.load(); }
    BVError error() const { return m_error; }

    // The stream as stored (valid after startReading()).
    const AVCodecParameters *codecParameters() const;
    int timeBaseNum() const;
    int timeBaseDen() const;
    // The stream's frame rate as a fraction (video); 0/1 when unknown.
    int frameRateNum() const;
    int frameRateDen() const;

private:
    bool seekToRange();
    bool readPacket();
    std::optional<MediaTrackSample> nextPassthrough();
    std::optional<MediaTrackSample> nextDecoded();
    std::optional<MediaTrackSample> acceptFrame();
    void fail(int code, const QString &description);
    void finish(Status status);

    std::shared_ptr<MediaAsset> m_asset;
    MediaTrack m_track;
    Output m_output;
    MediaTimeRange m_range;
    std::atomic<Status> m_status {Status::Unknown};
    std::atomic<bool> m_cancel {false};
    BVError m_error;
    MediaAssetTrackSource m_source;
    // A packet read while seeking that is still to be handed out or decoded.
    bool m_packetPending = false;
    bool m_draining = false;
    // Range bounds in the stream's time base; INT64_MIN / INT64_MAX when unlimited.
    int64_t m_startTs = 0;
    int64_t m_endTs = 0;
    // The asset's start time on the container's clock, in the stream's time base.
    int64_t m_clockOffset = 0;
};
