#pragma once

#include "platform/media/MediaTime.h"
#include "platform/media/engine/MediaClock.h"
#include "platform/media/engine/MediaFrameCache.h"
#include "platform/media/engine/MediaFrameConverter.h"
#include "support/BVLifetime.h"

#include <QImage>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

class BVTimer;
class MediaAudioDecoder;
class MediaAudioOutput;
class MediaPlayerItem;

// Plays one MediaPlayerItem: rates from -32 to 32 (any float; negative plays backwards), seeks with
// tolerances (zero tolerance lands on the frame showing at the time), frame steps, volume, periodic
// time observation, and the picture at the playhead as an immutable RGB32 image. A presenter thread
// follows the clock (the sound device at rate 1, the system clock otherwise), takes pictures from
// the item's frame cache and converts them off the main thread. Create, use and destroy it on the
// main thread; every handler and observer runs there.
class MediaPlayer
{
public:
    enum class Event { RateChanged, CurrentItemChanged };
    // Above this magnitude only keyframes are shown; up to it every frame is.
    static constexpr double KeyframesOnlyRate = 2.0;
    static constexpr double MaximumRate = 32.0;

    struct Statistics
    {
        int64_t presentedFrames = 0;
        int64_t droppedFrames = 0;
        int64_t stalls = 0;
    };

    MediaPlayer();
    ~MediaPlayer();
    MediaPlayer(const MediaPlayer &) = delete;
    MediaPlayer &operator=(const MediaPlayer &) = delete;

    void replaceCurrentItem(std::shared_ptr<MediaPlayerItem> item);
    std::shared_ptr<MediaPlayerItem> currentItem() const { return m_item; }

    float rate() const;
    // Clamped to [-32, 32]. 0 pauses.
    void setRate(float rate);
    void play() { setRate(1); }
    void pause() { setRate(0); }

    MediaTime currentTime() const;
    // Lands within [time - before, time + after]; with zero tolerances on the frame showing at the
    // time. The handler gets false when another seek or step replaced this one, or for an item that
    // is not ready.
    void seekToTime(const MediaTime &time, const MediaTime &toleranceBefore, const MediaTime &toleranceAfter,
        std::function<void(bool)> completion = {});
    void seekToTime(const MediaTime &time, std::function<void(bool)> completion = {});
    // Pauses and moves `count` frames (negative: back), from the cache when it holds them. The
    // position becomes the start of the frame reached.
    void stepByCount(int count, std::function<void(bool)> completion = {});

    float volume() const { return m_volume; }
    void setVolume(float volume);
    bool isMuted() const { return m_muted; }
    void setMuted(bool muted);

    // The picture at the playhead and the start time of its frame, read together.
    struct Picture
    {
        std::shared_ptr<const QImage> image;
        MediaTime time;
    };
    Picture currentPicture() const;
    std::shared_ptr<const QImage> currentImage() const { return currentPicture().image; }
    MediaTime currentImageTime() const { return currentPicture().time; }
    // Called (coalesced) when a new picture is available.
    void setFrameAvailableHandler(std::function<void()> handler);
    // How pictures are converted (the size they are shown at ...). A change converts the picture
    // on screen again while paused.
    void setPictureOptions(const MediaPictureOptions &options);
    MediaPictureOptions pictureOptions() const;

    int addPeriodicTimeObserver(const MediaTime &interval, std::function<void(const MediaTime &)> observer);
    void removeTimeObserver(int token);
    int addObserver(std::function<void(Event)> observer);
    void removeObserver(int token);

    Statistics statistics() const;
    void resetStatistics();

private:
    struct PendingSeek
    {
        int64_t ticks = 0; // the frame to show contains these ticks
        MediaTime time; // the position once landed (unless snapping to the frame)
        int64_t low = 0, high = 0;
        bool snapToFrame = false;
        std::function<void(bool)> completion;
    };
    struct Shown
    {
        MediaCachedFramePtr frame;
        std::shared_ptr<const QImage> image;
    };

    void itemEvent(int event);
    void attachItem();
    // Drops the item; a pending seek's completion is told `false` unless the player is going away.
    void detachItem(bool completeSeek);
    void startSeek(PendingSeek seek);
    void presenterLoop();
    bool presentSeekLocked(std::unique_lock<std::mutex> &lock);
    void presentPlayingLocked(std::unique_lock<std::mutex> &lock);
    void show(std::unique_lock<std::mutex> &lock, const MediaCachedFramePtr &frame);
    void restartAudioLocked(int64_t ticks, double rate);
    void reachedBoundaryLocked(std::unique_lock<std::mutex> &lock, int64_t ticks, bool atEnd);
    void postToMain(std::function<void()> job);
    void notify(Event event);
    void updateTimeObservers();
    int64_t endTicksLocked() const;
    int64_t playheadTicksLocked() const;
    int64_t pausedTicksLocked() const;
    void placeLocked(const MediaTime &time, double rate);
    int direction(double rate) const { return rate > 0 ? 1 : (rate < 0 ? -1 : 0); }

    BVLifetime m_lifetime;
    std::shared_ptr<MediaPlayerItem> m_item;
    int m_itemObserver = 0;
    MediaClock m_clock;
    std::unique_ptr<MediaAudioOutput> m_audioOutput;
    std::unique_ptr<MediaAudioDecoder> m_audioDecoder;
    std::unique_ptr<MediaFrameConverter> m_converter;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_presenter;
    bool m_stopping = false;
    bool m_ready = false; // the item is attached and its engine runs
    double m_rate = 0;
    bool m_stalled = false;
    // The position while paused (exactly as sought); while playing the clock has it.
    MediaTime m_position = MediaTime::zero();
    std::optional<PendingSeek> m_seek;
    Shown m_shown;
    MediaPictureOptions m_pictureOptions;
    bool m_reconvert = false; // the options changed since the picture on screen was made
    std::function<void()> m_frameHandler;
    std::atomic<bool> m_framePostPending {false};
    Statistics m_statistics;

    float m_volume = 1;
    bool m_muted = false;
    struct TimeObserver
    {
        std::unique_ptr<BVTimer> timer;
        std::function<void(const MediaTime &)> observer;
    };
    std::map<int, TimeObserver> m_timeObservers;
    std::map<int, std::function<void(Event)>> m_observers;
    int m_nextToken = 1;
};
