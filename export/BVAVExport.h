#pragma once

#include "platform/media/MediaAsset.h"
#include "platform/media/MediaAssetWriterSettings.h"
#include "platform/media/MediaTime.h"
#include "support/BVError.h"
#include "support/BVWorkQueue.h"

#include <QSize>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

class BVAVExport;
class MediaAssetTrackOutput;
class MediaAssetWriter;
class MediaAssetWriterInput;

// What an export tells its owner (the activity item, or the command line). Every call arrives on
// the main thread; progress is coalesced there (the latest value wins).
class BVAVExportDelegate
{
public:
    virtual ~BVAVExportDelegate() = default;
    virtual void avExportProgress(BVAVExport *avExport, double progress)
    {
        (void)avExport;
        (void)progress;
    }
    virtual void avExportFinished(BVAVExport *avExport) { (void)avExport; }
    virtual void avExportFailed(BVAVExport *avExport, const BVError &error)
    {
        (void)avExport;
        (void)error;
    }
};

// The movie export engine: reads the first video and first audio track of an asset (within a
// range), re-encodes or copies them into a new QuickTime movie with a timecode track, one pump per
// stream on its own serial queue and a completion queue for the end. Settings are set before
// startExport(); one engine runs one export.
class BVAVExport : public std::enable_shared_from_this<BVAVExport>
{
public:
    // Four-character audio formats, and the two special values of audioCodec.
    static constexpr int32_t audioFormatLinearPCM = 0x6C70636D; // 'lpcm'
    static constexpr int32_t audioFormatAAC = 0x61616320; // 'aac '
    static constexpr int32_t audioFormatAppleLossless = 0x616C6163; // 'alac'
    static constexpr int32_t audioCodecCopy = -1;
    static constexpr int32_t audioCodecNone = -2;

    static std::shared_ptr<BVAVExport> create();
    ~BVAVExport();
    BVAVExport(const BVAVExport &) = delete;
    BVAVExport &operator=(const BVAVExport &) = delete;

    // Settings (see the defaults). An empty timeRange (duration not above 0) exports the whole asset.
    std::shared_ptr<MediaAsset> asset;
    QString outputURL; // a local path; an existing file there is replaced
    MediaTimeRange timeRange;
    std::optional<QString> videoCodec = MediaVideoCodec::h264; // none: copy the video samples
    int32_t audioCodec = audioFormatLinearPCM;
    uint32_t audioRate = 48000;
    uint32_t audioBitrate = 128000;
    int audioSampleSize = 16;
    bool audioLittleEndian = true;
    bool audioFloatingPoint = false;
    uint32_t audioLayout = 0x650002;
    uint32_t audioChannelCount = 2;
    double videoBitrate = 0;
    QSize videoFrameSize {0, 0};
    uint32_t videoKeyFrameInterval = 0;
    uint32_t videoKeyFrameDuration = 0;
    QString timecodeStart; // empty: the asset's own
    bool dropFrame = false;

    BVAVExportDelegate *delegate() const { return m_delegate.load(); }
    void setDelegate(BVAVExportDelegate *delegate) { m_delegate.store(delegate); }

    // Starts the job and returns at once; the outcome reaches the delegate.
    void startExport();
    // Asks the job to stop (the partial file is removed; reported as finished). Returns at once.
    void cancel();
    bool isCancelled() const { return m_cancelled.load(); }
    double audioProgress() const { return m_progress[Audio].load(); }
    double videoProgress() const { return m_progress[Video].load(); }

    // The audio settings the writer gets for the current properties (rates clamped, float forcing
    // 32 bits); none for copy and no audio.
    std::optional<MediaAudioSettings> audioSettings() const;
    // The output picture size for a source size: the requested size only when both of its sides
    // are above 0 and both differ from the source's.
    QSize outputSize(const QSize &sourceSize) const;
    // The frame number the timecode sample holds for a start timecode at a frame rate; none when
    // the timecode has fewer than four fields.
    static std::optional<int64_t> timecodeSampleFrameNumber(
        const QString &timecode, double rate, bool dropFrame);

private:
    enum Stream { Audio = 0, Video = 1, Timecode = 2 };
    struct StreamState
    {
        std::unique_ptr<BVWorkQueue> queue;
        std::unique_ptr<MediaAssetTrackOutput> output;
        MediaAssetWriterInput *input = nullptr;
        bool finished = true; // read and written on the stream's queue only
    };

    BVAVExport();
    void setUp();
    bool setUpAudio(const MediaTimeRange &range);
    bool setUpVideo(const MediaTimeRange &range);
    void setUpTimecode(double rate, bool assetDropFrame, const QString &assetStart);
    void pump(Stream stream);
    void finishStream(Stream stream);
    void leaveGroup();
    void complete();
    void streamProgressed(Stream stream, const MediaTime &time);
    void reportSuccess();
    void reportFailure(const BVError &error);

    std::atomic<BVAVExportDelegate *> m_delegate {nullptr};
    std::unique_ptr<MediaAssetWriter> m_writer;
    // Declared after the writer: the queues stop (waiting for running jobs) before it goes.
    std::array<StreamState, 3> m_streams;
    BVWorkQueue m_completionQueue {QStringLiteral("BVAVExport completion")};
    std::atomic<bool> m_started {false};
    std::atomic<bool> m_cancelled {false};
    std::atomic<int> m_pending {0};
    std::array<std::atomic<double>, 2> m_progress {0.0, 0.0};
    std::array<bool, 2> m_hasStream {false, false};
    std::atomic<int> m_lastPercent {0};
    std::atomic<double> m_reportedProgress {0};
    std::atomic<bool> m_progressPosted {false};
    MediaTime m_exportStart = MediaTime::zero();
    MediaTime m_exportDuration = MediaTime::zero();
};
