#pragma once

#include "platform/media/MediaAssetWriterSettings.h"
#include "platform/media/MediaTime.h"
#include "platform/media/MediaTrackSample.h"
#include "support/BVError.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

class BVWorkQueue;
class MediaAssetWriter;
struct AVCodecContext;
struct AVCodecParameters;
struct AVStream;
struct AVFrame;
struct AVPacket;
struct AVAudioFifo;
struct SwsContext;
struct SwrContext;

// One track of a movie being written: video or audio, either encoded with settings or with the
// source's stored samples passed through, or the timecode track. Appends happen on one queue (the
// stream's own); the input asks for data on that queue whenever it can take more.
class MediaAssetWriterInput
{
public:
    enum class Kind { Video, Audio, Timecode };

    ~MediaAssetWriterInput();
    MediaAssetWriterInput(const MediaAssetWriterInput &) = delete;
    MediaAssetWriterInput &operator=(const MediaAssetWriterInput &) = delete;

    Kind kind() const { return m_kind; }
    bool isPassthrough() const { return !m_video && !m_audio; }

    // True while the input takes more samples now: not finished, and not far ahead of the other
    // inputs of the movie (so that the file interleaves and memory stays small). Once it answered
    // false, the block given to requestMediaDataWhenReady() runs again when it turns true.
    bool isReadyForMoreMediaData() const;
    // Runs the block on the queue now and again whenever the input becomes ready after it answered
    // not ready; the block appends until isReadyForMoreMediaData() turns false. Call once, after
    // startWriting().
    void requestMediaDataWhenReady(BVWorkQueue &queue, std::function<void()> block);
    // Appends a sample of the asset's time line (the session start is subtracted). False when it
    // cannot be written; the writer has failed then.
    bool appendSample(const MediaTrackSample &sample);
    // No more samples: drains the encoder. Call on the input's queue, once.
    void markAsFinished();
    bool isFinished() const;

    // Timecode input: the start timecode of the first frame ("HH:MM:SS:FF", ";" before the frames
    // for drop-frame), given before startWriting(). Without one the movie has no timecode track.
    void setTimecode(const QString &timecode) { m_timecode = timecode; }
    const QString &timecode() const { return m_timecode; }

private:
    friend class MediaAssetWriter;
    MediaAssetWriterInput(MediaAssetWriter *writer, Kind kind);

    bool openEncoder(AVStream *stream, bool globalHeader);
    bool openVideoEncoder(AVStream *stream, bool globalHeader);
    bool openAudioEncoder(AVStream *stream, bool globalHeader);
    bool encodeVideo(const AVFrame *frame);
    bool prepareScaler(const AVFrame *frame);
    AVFrame *writablePicture();
    bool encodeAudio(const AVFrame *frame);
    bool sendFrame(AVFrame *frame);
    bool flushAudioFifo(bool all);
    bool fail(int code, const QString &description);
    void runBlock();

    MediaAssetWriter *m_writer;
    Kind m_kind;
    std::optional<MediaVideoSettings> m_video;
    std::optional<MediaAudioSettings> m_audio;
    // The source stream: stored parameters, time base and frame rate.
    AVCodecParameters *m_source = nullptr;
    int m_sourceTbNum = 0;
    int m_sourceTbDen = 1;
    int m_rateNum = 0;
    int m_rateDen = 1;
    QString m_timecode;
    int m_streamIndex = -1;
    // Session start in the source time base.
    int64_t m_sessionOffset = 0;

    AVCodecContext *m_encoder = nullptr;
    AVPacket *m_packet = nullptr;
    // Converted pictures: the encoder's threads may still hold some, so they take turns.
    std::vector<AVFrame *> m_pictures;
    SwsContext *m_scaler = nullptr;
    // What m_scaler converts from.
    int m_scalerWidth = 0;
    int m_scalerHeight = 0;
    int m_scalerFormat = -1;
    SwrContext *m_resampler = nullptr;
    AVAudioFifo *m_fifo = nullptr;
    int64_t m_nextAudioPts = 0;
    bool m_audioStarted = false;

    // Guarded by the writer's mutex.
    bool m_finished = false;
    mutable bool m_waiting = false;
    double m_lastSeconds = -1e300;
    // End of the latest picture shown, in the stream's time base.
    int64_t m_shownEnd = 0;
    BVWorkQueue *m_queue = nullptr;
    std::function<void()> m_block;
};
