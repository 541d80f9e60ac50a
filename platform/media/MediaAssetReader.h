#pragma once

#include "platform/media/MediaAsset.h"
#include "platform/media/MediaSampleBuffer.h"
#include "platform/media/MediaTrack.h"
#include "support/BVError.h"

#include <atomic>
#include <memory>
#include <optional>

struct AVFormatContext;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

// What a reader of one track opens first: the asset's container, set to deliver that track only, a
// packet and a frame to read into and, when asked, the track's decoder. Closed when it goes.
struct MediaAssetTrackSource
{
    MediaAssetTrackSource() = default;
    ~MediaAssetTrackSource() { close(); }
    MediaAssetTrackSource(const MediaAssetTrackSource &) = delete;
    MediaAssetTrackSource &operator=(const MediaAssetTrackSource &) = delete;

    // Opens the container for the track (a set cancel flag interrupts network reads). False with
    // *error filled on failure.
    bool open(
        const MediaAsset &asset, const MediaTrack &track, const std::atomic<bool> *cancel, BVError *error);
    // Opens the track's decoder, on as many threads as the machine has. False with *error filled.
    bool openDecoder(const MediaAsset &asset, BVError *error);
    void close();

    AVFormatContext *format = nullptr;
    AVCodecContext *decoder = nullptr;
    AVPacket *packet = nullptr;
    AVFrame *frame = nullptr;
    int streamIndex = -1;
};

// Reads the samples of one track of an asset in decoding order, on the calling thread: either the
// stored samples as they are (Output::Passthrough), or the audio decoded to interleaved signed
// 16-bit little-endian PCM at the track's own rate and channel count (Output::LinearPCM16).
class MediaAssetReader
{
public:
    enum class Output { Passthrough, LinearPCM16 };
    enum class Status { Unknown, Reading, Completed, Failed, Cancelled };

    MediaAssetReader(std::shared_ptr<MediaAsset> asset, const MediaTrack &track, Output output);
    ~MediaAssetReader();
    MediaAssetReader(const MediaAssetReader &) = delete;
    MediaAssetReader &operator=(const MediaAssetReader &) = delete;

    // Opens the container (and the decoder). Answers false and sets the error on failure.
    bool startReading();
    // The next buffer; none at the end (status Completed), on failure (Failed) or once cancelled.
    std::optional<MediaSampleBuffer> copyNextSampleBuffer();
    // Stops reading; safe from any thread.
    void cancelReading();
    Status status() const { return m_status.load(); }
    BVError error() const { return m_error; }
    // Channels and sample rate of decoded audio (known after startReading()).
    int channelCount() const { return m_channels; }
    int sampleRate() const { return m_sampleRate; }

private:
    std::optional<MediaSampleBuffer> nextPacket();
    std::optional<MediaSampleBuffer> nextDecoded();
    std::optional<MediaSampleBuffer> convertFrame();
    void fail(int code, const QString &description);
    void close();

    std::shared_ptr<MediaAsset> m_asset;
    MediaTrack m_track;
    Output m_output;
    std::atomic<Status> m_status {Status::Unknown};
    std::atomic<bool> m_cancel {false};
    BVError m_error;
    MediaAssetTrackSource m_source;
    SwrContext *m_resampler = nullptr;
    bool m_draining = false;
    int m_channels = 0;
    int m_sampleRate = 0;
};
