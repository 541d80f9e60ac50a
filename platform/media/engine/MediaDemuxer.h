#pragma once

#include "platform/media/engine/MediaEngineTypes.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

// The packets of one GOP of the primary stream (video, or audio for audio-only media): from a
// keyframe up to the next keyframe. Complete GOPs are immutable and shared with the decoders.
struct MediaGop
{
    int64_t key = 0;
    int64_t end = MediaStreamTiming::NoTime;
    int64_t lastEnd = 0; // end of the latest packet read so far
    std::vector<MediaPacketPtr> packets;
    size_t bytes = 0;
    bool complete = false;

    bool contains(int64_t ticks) const { return ticks >= key && ticks < (complete ? end : lastEnd); }
};
using MediaGopPtr = std::shared_ptr<const MediaGop>;

// The demux thread: reads the container ahead of the playhead (in the direction of play, GOP by
// GOP backwards when playing in reverse), keeps the packets in a store bounded by a byte budget,
// and serves GOPs to the video decoder and packets to the audio decoder, blocking them until the
// data is read. Network addresses are read through FFmpeg's protocols the same way; its buffer
// state and loaded ranges describe what the store holds.
class MediaDemuxer
{
public:
    struct BufferState
    {
        bool empty = true;
        bool likelyToKeepUp = false;
        bool full = false;
        bool operator==(const BufferState &) const = default;
    };

    // Takes the opened context. `abortFlag` is the context's interrupt flag.
    MediaDemuxer(AVFormatContext *context, int primaryStream, int audioStream, MediaStreamTiming timing,
        std::shared_ptr<std::atomic<bool>> abortFlag);
    ~MediaDemuxer();
    MediaDemuxer(const MediaDemuxer &) = delete;
    MediaDemuxer &operator=(const MediaDemuxer &) = delete;

    void start();
    // Called from the demux thread whenever the buffer state or the loaded ranges changed.
    void setChangeHandler(std::function<void()> handler);

    // Where the player is and which way it goes (-1, 0 paused, 1); steers the read-ahead.
    void setPlayhead(int64_t ticks, int direction);
    // Read-ahead limits in the direction of play.
    void setReadAhead(int64_t ticks, size_t bytes);

    // Blocks until the GOP containing `ticks` is read. Null past the end, on failure, or when
    // `cancelled` answers true (polled every few milliseconds).
    MediaGopPtr gopContaining(int64_t ticks, const std::function<bool()> &cancelled);
    // The first audio packet whose timestamp (audio stream ticks) is after `afterPts`, or when
    // `afterPts` is NoTime, the one playing at `atPrimaryTicks`. Blocks like gopContaining; null
    // at the end of the stream (`endOfStream` set) or when cancelled.
    MediaPacketPtr audioPacket(
        int64_t afterPts, int64_t atPrimaryTicks, const std::function<bool()> &cancelled, bool *endOfStream);

    // End of the primary stream in ticks once it has been read, else NoTime.
    int64_t endTicks() const;
    std::vector<std::pair<int64_t, int64_t>> loadedRanges() const;
    BufferState bufferState() const;
    bool hasFailed() const;
    // Why reading failed (FFmpeg's text of the last error, and what the source lacked); empty
    // while it has not.
    QString failureReason() const;
    size_t storeBytes() const;

private:
    enum class Action { Idle, Read, Seek };
    void run();
    Action nextActionLocked(int64_t *target);
    std::shared_ptr<MediaGop> storedGopLocked(int64_t ticks) const;
    void seekLocked(std::unique_lock<std::mutex> &lock, int64_t target);
    void handlePacketLocked(std::unique_lock<std::mutex> &lock, int result, AVPacket *packet);
    QString unseekableSourceText() const;
    void closeFillLocked(int64_t end);
    void evictLocked();
    void updateStateLocked(bool idle);
    int64_t audioToPrimary(int64_t audioPts) const;

    AVFormatContext *m_context;
    int m_primary;
    int m_audio;
    MediaStreamTiming m_timing;
    std::shared_ptr<std::atomic<bool>> m_abort;
    std::thread m_thread;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake; // the demux thread: new requests or playhead
    std::condition_variable m_changed; // waiting readers: new data
    std::function<void()> m_changeHandler;
    bool m_stopping = false;

    std::map<int64_t, std::shared_ptr<MediaGop>> m_gops;
    std::map<int64_t, MediaPacketPtr> m_audioPackets;
    std::shared_ptr<MediaGop> m_fill;
    bool m_cursorValid = false;
    int64_t m_cursorTicks = 0;
    bool m_seekPending = false;
    int64_t m_seekTarget = 0;
    int64_t m_seekPosition = 0;
    int m_seekAttempts = 0;
    int64_t m_endTicks = MediaStreamTiming::NoTime;
    std::multiset<int64_t> m_requests;
    int64_t m_playhead = 0;
    int m_direction = 0;
    int64_t m_readAheadTicks;
    size_t m_readAheadBytes = size_t(64) << 20;
    size_t m_storeBudget = size_t(96) << 20;
    size_t m_storeBytes = 0;
    int m_consecutiveErrors = 0;
    bool m_failed = false;
    int64_t m_reorderDelay = 0;
    QString m_failureReason;
    bool m_idle = false;
    BufferState m_state;
    size_t m_reportedGops = 0;
};
