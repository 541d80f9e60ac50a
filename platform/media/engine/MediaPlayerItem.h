#pragma once

#include "platform/media/MediaTime.h"
#include "platform/media/engine/MediaEngineTypes.h"
#include "support/BVError.h"

#include <QList>
#include <QSize>
#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

class BVWorkQueue;
class MediaDemuxer;
class MediaFrameCache;
class MediaVideoDecoder;
struct MediaPlayableExtent;

// One movie or audio file (a path or an http/https address) prepared for playing: it opens the media
// in the background, then runs the demux thread, the decoded-frame cache and the video decode
// thread. Its state (status, buffering, loaded ranges, end of play) is read on the main thread and
// reported to observers there. Create it with create(); destroy it on the main thread.
class MediaPlayerItem : public std::enable_shared_from_this<MediaPlayerItem>
{
public:
    enum class Status { Unknown, ReadyToPlay, Failed };
    enum class Event { Status, BufferEmpty, BufferLikelyToKeepUp, BufferFull, LoadedTimeRanges, PlayedToEnd };
    static inline const QString ErrorDomain = QStringLiteral("BVMediaEngine");

    static std::shared_ptr<MediaPlayerItem> create(const QString &pathOrUrl);
    // An item that plays only the sound (no video decoding), for a player that makes scrubbing
    // audible beside the main one.
    static std::shared_ptr<MediaPlayerItem> createAudioOnly(const QString &pathOrUrl);
    ~MediaPlayerItem();
    MediaPlayerItem(const MediaPlayerItem &) = delete;
    MediaPlayerItem &operator=(const MediaPlayerItem &) = delete;

    const QString &url() const { return m_url; }

    // Main thread.
    Status status() const { return m_status; }
    const BVError &error() const { return m_error; }
    MediaTime duration() const { return m_duration; }
    // A file cut short (its index names samples past its end) plays only up to the end of its
    // last whole picture: that time, and the start of that picture. Known once ready; the
    // duration and an invalid time for a whole file.
    bool endsEarly() const { return m_playableEndTicks != MediaStreamTiming::NoTime; }
    MediaTime playableDuration() const;
    MediaTime lastPlayableFrameTime() const;
    // In the stream's ticks; NoTime for a whole file.
    int64_t playableEndTicks() const { return m_playableEndTicks; }
    int64_t lastPlayableFrameTicks() const { return m_lastFrameTicks; }
    // Duration of one frame (the stream's nominal rate); invalid for audio-only media.
    MediaTime frameDuration() const;
    double nominalFrameRate() const { return m_frameRate; }
    QSize presentationSize() const { return m_size; }
    bool hasVideo() const { return m_videoStream >= 0; }
    bool hasAudio() const { return m_audioStream >= 0; }
    QList<MediaTimeRange> loadedTimeRanges() const { return m_loadedRanges; }
    bool isPlaybackBufferEmpty() const { return m_bufferEmpty; }
    bool isPlaybackLikelyToKeepUp() const { return m_likelyToKeepUp; }
    bool isPlaybackBufferFull() const { return m_bufferFull; }

    // Observers run on the main thread; an observer added after a change is not told of it.
    int addObserver(std::function<void(Event)> observer);
    void removeObserver(int token);

    // Decoded frames kept around the playhead, in bytes: by default an equal share of
    // MediaFrameCache::sharedBudget() among the open items with pictures; 0 goes back to the share.
    void setCacheBudget(size_t bytes);
    size_t cacheBudget() const;
    size_t cacheBytes() const;

    // The engine's parts, for the player (valid once ready).
    const MediaStreamTiming &timing() const { return m_timing; }
    MediaDemuxer *demuxer() const { return m_demuxer.get(); }
    MediaFrameCache *cache() const { return m_cache.get(); }
    MediaVideoDecoder *videoDecoder() const { return m_decoder.get(); }
    AVStream *audioStream() const;
    // Called by the player: the presenter thread's wake-up after each decoded frame.
    void setFrameHandler(std::function<void()> handler);
    // Starts opening (once). Called by the player when the item becomes current.
    void load();
    // Main thread: tells observers the item played to its end.
    void notifyPlayedToEnd();

private:
    explicit MediaPlayerItem(QString url);
    void open();
    // `extent`: how much of a local file can be played, read from its index (`scannedStream`'s).
    // `scanned`: the stream whose end was read from the file, and that end on the container's clock.
    void finishOpening(AVFormatContext *context, const BVError &error, const MediaPlayableExtent &extent,
        int scannedStream, const std::pair<int, MediaTime> &scanned);
    void scheduleRefresh();
    void refresh();
    void post(Event event);

    QString m_url;
    std::unique_ptr<BVWorkQueue> m_openQueue;
    std::shared_ptr<std::atomic<bool>> m_abort;
    std::atomic<bool> m_refreshPending {false};
    bool m_loadStarted = false;
    bool m_videoDisabled = false;

    Status m_status = Status::Unknown;
    BVError m_error;
    MediaTime m_duration = MediaTime::indefinite();
    double m_frameRate = 0;
    QSize m_size;
    int m_videoStream = -1;
    int m_audioStream = -1;
    AVStream *m_audio = nullptr;
    MediaStreamTiming m_timing;
    int64_t m_playableEndTicks = MediaStreamTiming::NoTime;
    int64_t m_lastFrameTicks = MediaStreamTiming::NoTime;
    QList<MediaTimeRange> m_loadedRanges;
    bool m_bufferEmpty = true;
    bool m_likelyToKeepUp = false;
    bool m_bufferFull = false;
    size_t m_pendingBudget = 0;

    std::unique_ptr<MediaFrameCache> m_cache;
    std::unique_ptr<MediaDemuxer> m_demuxer;
    std::unique_ptr<MediaVideoDecoder> m_decoder;
    std::map<int, std::function<void(Event)>> m_observers;
    int m_nextToken = 1;
};
