#pragma once

#include "player/media/BVMediaObject.h"
#include "support/BVLifetime.h"

#include <QImage>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

class BVFrameBufferShelf;
class BVTimer;
class BVWorkQueue;

// A list of still image files played as a movie at a chosen frame rate. Images are decoded ahead of
// the playhead on the cache queue (one thread per core, up to four, while the cache is short of a
// second of frames; one at a time beyond) into a frame cache of about ten seconds (less for very
// large pictures), and handed to the delegate on a serial render queue by a frame timer on the main
// thread. Times use the sequence timescale, ceiling(fps x 100). Transport calls (play, pause, seek,
// rate) belong on the main thread; destroy the object there too.
class BVImageSequence : public BVMediaObject
{
public:
    BVImageSequence();
    ~BVImageSequence() override;

    // Takes the files in playing order at the frame rate already set (setFps), and starts decoding.
    // A number missing from the middle of a numbered sequence keeps its frame: the frame shows a
    // marked placeholder (missingFrames()), so that every later frame keeps its time. Runs with
    // the object locked.
    void loadFiles(const QStringList &files);

    // The files by frame; an empty path for a missing frame.
    QStringList files() const;
    // Frame index -> the file number missing there, in order; empty for a sequence without gaps.
    std::map<uint64_t, qulonglong> missingFrames() const;
    // The files with an empty entry for every number missing between two files of one numbered
    // sequence (name, number and extension alike: "shot_0041.exr", "shot_0043.exr"); *missing
    // receives the frame index and number of each gap frame. Gaps are held only while they add no
    // more frames than the files themselves, so unrelated files are not padded apart.
    static QStringList holdingGaps(const QStringList &files, std::map<uint64_t, qulonglong> *missing);
    // The picture shown for a missing frame: a dark grey frame crossed in red, with "MISSING FRAME"
    // and the number.
    static QImage placeholderImage(const QSize &size, qulonglong number);
    // At least five frames (or every frame of a shorter sequence) are decoded; playing may start.
    bool isReady() const { return m_isReady.load(); }
    // Set while the cache is being cleared or torn down; every asynchronous step checks it first.
    bool stopCaching() const { return m_stopCaching.load(); }
    // The sequence timescale: ceiling(fps x 100), or 2400 when that is 0.
    int32_t timescale() const { return m_timescale.load(); }
    // The pictures hold scene-linear light (OpenEXR plates) and are shown through the sRGB curve;
    // known once a frame has been decoded.
    bool showsLinearLight() const { return m_linearLight.load(); }
    // Frame indices of the decoded images waiting in the cache, next first; for diagnostics.
    QList<uint64_t> cachedFrames() const;

    MediaTime currentTime() const override;
    MediaTime duration() const override;
    // The frame on screen: the playhead's, and the last one once the playhead is at the end.
    uint64_t currentFrame() const override;
    QList<MediaTimeRange> loadedTimeRanges() const override;
    float rate() const override { return m_rate.load(); }
    void setRate(float rate) override;
    bool isPlaying() const override { return m_timerRunning.load(); }
    bool isMuted() const override { return true; }

    void play() override;
    using BVMediaObject::pause;
    void pause(bool notify) override;
    using BVMediaObject::seekToTime;
    // Seeks plainly (tolerances are ignored: every position is a whole frame); the frame of the new
    // position is decoded on the render queue and drawn, then the cache is refilled from there.
    void seekToTime(const MediaTime &time, const MediaTime &toleranceBefore, const MediaTime &toleranceAfter,
        const CompletionHandler &handler) override;
    void stepBack() override;
    void stepForward() override;

    // Queues decoding of the frames ahead of the playhead, in the direction of play, up to the window.
    void cacheFrames();
    // Cancels queued decoding and hand-overs and empties the cache. Never waits for a decode.
    void clearCache();
    // Runs on the render queue: hands the cached image of the current frame to the delegate.
    void displayFrame();
    // Runs on the render queue: hands the cached image of the given frame to the delegate, after
    // discarding the cached frames before it. A hand-over queued by the frame timer shows the frame
    // of its own tick, even when later ticks have moved the playhead on meanwhile.
    void displayFrame(uint64_t frame);
    // Main thread: the frame timer, at 1/fps seconds while the rate is non-zero.
    void startPlaybackTimer();
    void stopPlaybackTimer();
    // Main thread, at every timer tick: advances by the rate's step and queues the hand-over.
    void prepareToDisplayFrame();
    // The image of the current frame (as shown, cached, or decoded now); a null image past the end.
    QImage copyCurrentFrameImage();
    void cleanup() override;

    // Reads an image file into a bitmap of its own size; a null image when it cannot be decoded.
    // Scene-linear pictures come out through the sRGB curve (*linearLight is then set).
    static QImage decodeImageFile(const QString &path, bool *linearLight = nullptr);

private:
    // decodeImageFile() into a recycled pixel buffer of the sequence when one fits; the placeholder
    // for a missing frame.
    QImage decodeFrame(uint64_t index, const QString &path) const;
    struct CachedFrame
    {
        uint64_t index = 0;
        QImage image;
    };

    bool queueDecodes();
    void cacheImageFile(uint64_t index, uint64_t generation);
    void queueDisplayFrame(uint64_t frame);
    // Takes the frame out of the cache and draws it. A hand-over from the render queue carries the
    // cache generation it was queued in and is ignored after a clearCache().
    void handOverFrame(uint64_t target, std::optional<uint64_t> handOverGeneration);
    void paceHandOver(uint64_t generation);
    // With the cache lock held: the first frame still to be shown, the oldest waiting hand-over's
    // or else the current one. Cached frames before it are no longer wanted.
    int64_t firstWantedFrame() const;
    void setCurrentTime(const MediaTime &time);
    // The exact start of a frame, on the sequence timescale when that holds it (0: timescale()).
    MediaTime sequenceTime(int64_t frame, int32_t sequenceTimescale = 0) const;
    // Calls the delegate on the main thread: at once when already there, else queued.
    void notifyDelegate(std::function<void(BVMediaObjectDelegate &)> call);
    void notifyBufferStatus(const QString &status);
    int64_t step() const;
    int64_t windowSize() const;

    BVLifetime m_lifetime;
    // Pixel buffers of frames no longer shown, for the next decodes. Frames may outlive the sequence.
    std::shared_ptr<BVFrameBufferShelf> m_frameBuffers;

    mutable std::mutex m_timeMutex; // guards the times and files
    MediaTime m_currentTime;
    MediaTime m_duration;
    QStringList m_files;
    std::map<uint64_t, qulonglong> m_missing;
    std::atomic<int32_t> m_timescale {2400};
    std::atomic<float> m_rate {1};
    // Frames owed to the next timer tick at a rate that is no whole number (1.5: 1, 2, 1, 2 ...).
    // Main thread.
    double m_stepCarry = 0;
    std::atomic<bool> m_isReady {false};
    std::atomic<bool> m_stopCaching {false};
    std::atomic<bool> m_timerRunning {false};
    // Set by the first decode of a scene-linear picture.
    mutable std::atomic<bool> m_linearLight {false};

    mutable std::mutex m_cacheMutex; // guards the members below
    std::deque<CachedFrame> m_frameCache;
    // Bumped by clearCache(): work queued before it finds its results unwanted.
    uint64_t m_generation = 0;
    // Frames queued for decoding and not finished.
    std::set<uint64_t> m_pendingFrames;
    // Frames of the hand-overs waiting on the render queue, oldest first.
    std::deque<uint64_t> m_waitingDisplays;
    // The next frame to queue for decoding; none after clearCache().
    std::optional<int64_t> m_nextFrameToCache;
    bool m_sentLoaded = false;
    bool m_sentUnusable = false;
    QString m_lastBufferStatus;
    CachedFrame m_lastDrawnFrame;
    bool m_hasDrawnFrame = false;

    // When the frame timer's last hand-over ran; used on the render queue only.
    std::optional<std::chrono::steady_clock::time_point> m_lastHandOver;

    std::unique_ptr<BVWorkQueue> m_cacheQueue;
    std::unique_ptr<BVWorkQueue> m_renderQueue;
    std::unique_ptr<BVTimer> m_playbackTimer;
};
