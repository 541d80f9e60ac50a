#pragma once

#include "platform/media/MediaFrameIndex.h"
#include "platform/media/MediaFrameRate.h"
#include "platform/media/MediaPictureGeometry.h"
#include "platform/media/MediaTime.h"
#include "platform/media/MediaTimedMetadataGroup.h"
#include "support/BVError.h"

#include <QImage>
#include <QList>
#include <QSizeF>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>

// Status words the media object passes to its delegate.
namespace BVMediaStatus {
inline const QString unknown = QStringLiteral("unknown");
inline const QString loaded = QStringLiteral("loaded");
inline const QString ready = QStringLiteral("ready");
} // namespace BVMediaStatus

namespace BVBufferStatus {
inline const QString empty = QStringLiteral("empty");
inline const QString full = QStringLiteral("full");
inline const QString likelyToKeepUp = QStringLiteral("likelyToKeepUp");
} // namespace BVBufferStatus

// What a media object tells its owner, the player document. Every callback does nothing unless the
// owner overrides it. An image sequence calls them on the main thread, except drawFrame(), which
// arrives on its render queue or on the thread that seeks; an asset calls them on the thread where
// the event arrives unless a callback says otherwise.
class BVMediaObjectDelegate
{
public:
    virtual ~BVMediaObjectDelegate() = default;

    // "loaded" once tracks (or the first image) are available, "ready" once playable.
    virtual void mediaStatusChanged(const QString &status) { (void)status; }
    // The player and item exist (asset), or the first five frames are decoded (sequence).
    virtual void prepareForPlayback() { }
    // The player's current item changed (asset).
    virtual void setupPlaybackOutput() { }
    // After play, after a notifying pause, and at the end of the media.
    virtual void playbackStateChanged() { }
    // The asset played to its end.
    virtual void playerReachedEnd() { }
    // "empty", "full" or "likelyToKeepUp".
    virtual void bufferStatusChanged(const QString &status) { (void)status; }
    // The asset cannot be played.
    virtual void mediaPlaybackFailed(const BVError &error) { (void)error; }
    // Asked before every seek; false cancels it. Without an answer the seek goes ahead.
    virtual bool playerShouldSeek() { return true; }
    // After every completed seek.
    virtual void playerSeeked() { }
    // Every 0.03 s while an asset plays; after every frame of a sequence.
    virtual void syncScrubber() { }
    // A sequence frame is to be shown.
    virtual void drawFrame(const QImage &image) { (void)image; }
    // A sequence frame was cached.
    virtual void updateBufferedRange() { }
    // The waveform data of an asset are ready. Called from a background queue.
    virtual void drawWaveformForAudioAssetAsync() { }
};

// The one thing a player document plays: a movie or audio file (BVAVAsset) or a list of still
// images (BVImageSequence). Holds position, rate, frame rate and start timecode and reports changes
// to one delegate. Properties may be read from any thread; the subclasses say which thread sets them.
class BVMediaObject
{
public:
    using CompletionHandler = std::function<void(bool finished)>;

    BVMediaObject() = default;
    virtual ~BVMediaObject();
    BVMediaObject(const BVMediaObject &) = delete;
    BVMediaObject &operator=(const BVMediaObject &) = delete;

    // The owning document; not owned. Cleared by cleanup() and by the owner before it goes away.
    BVMediaObjectDelegate *delegate() const { return m_delegate.load(); }
    void setDelegate(BVMediaObjectDelegate *delegate) { m_delegate.store(delegate); }

    bool isLoaded() const { return m_isLoaded.load(); }
    void setIsLoaded(bool value) { m_isLoaded.store(value); }
    // The media is a cloud file; its position timecode counts frames by ceiling.
    bool isVelo() const { return m_isVelo.load(); }
    void setIsVelo(bool value) { m_isVelo.store(value); }
    bool isAudioOnly() const { return m_isAudioOnly.load(); }
    void setIsAudioOnly(bool value) { m_isAudioOnly.store(value); }

    // The real frame rate (23.976, 29.97 ...), for what is shown or stored as a number.
    double fps() const { return m_fps.load(); }
    // Sets fps and the exact rate it stands for (24000/1001 for 23.976).
    void setFps(double fps);
    // The exact rate every conversion between frames and times goes through.
    MediaFrameRate frameRate() const;
    // Sets the exact rate (from the stream) and fps with it.
    void setFrameRate(const MediaFrameRate &rate);
    // Footage whose frames do not come at a constant rate: its real frames, through which frames
    // and times then convert (fps() stays the rate timecode counts in). None for constant-rate media.
    std::shared_ptr<const MediaFrameIndex> frameIndex() const;
    void setFrameIndex(std::shared_ptr<const MediaFrameIndex> index);
    bool hasVariableFrameRate() const { return m_hasFrameIndex.load(); }
    // Ceiling of fps.
    int64_t timebase() const;
    // Ceiling of fps differs from its floor.
    bool ntsc() const;

    // The frame whose interval holds a time, never below 0 (frameCount() at the duration).
    int64_t frameAtTime(const MediaTime &time) const;
    // The exact start of a frame.
    MediaTime timeOfFrame(int64_t frame) const;
    // The frame count of timecodeStart() (0 when none or unreadable).
    int64_t startFrame() const;
    // The timecode of a frame counted from the given start timecode, with the object's timebase,
    // ntsc and dropFrame.
    QString timecodeForFrame(int64_t frame, const QString &startTimecode) const;
    bool dropFrame() const { return m_dropFrame.load(); }
    void setDropFrame(bool value) { m_dropFrame.store(value); }
    // Timecode of the first frame; empty until found.
    QString timecodeStart() const;
    void setTimecodeStart(const QString &timecode);
    uint64_t frameCount() const { return m_frameCount.load(); }
    void setFrameCount(uint64_t count) { m_frameCount.store(count); }
    // Size of the picture as shown (pixel aspect and orientation applied); zero for audio.
    QSizeF naturalSize() const;
    void setNaturalSize(const QSizeF &size);
    // The turn and mirror that bring the stored pictures upright (a movie's display matrix).
    MediaPictureGeometry::Orientation pictureOrientation() const;
    void setPictureOrientation(const MediaPictureGeometry::Orientation &orientation);

    // While its duration is above zero, play starts at its start; a zero range means none.
    MediaTimeRange playbackRange() const;
    void setPlaybackRange(const MediaTimeRange &range);
    bool shouldPlayWhenLoaded() const { return m_shouldPlayWhenLoaded.load(); }
    void setShouldPlayWhenLoaded(bool value) { m_shouldPlayWhenLoaded.store(value); }
    // The next play() first seeks to zero (set when the end was reached).
    bool seekToZeroBeforePlay() const { return m_seekToZeroBeforePlay.load(); }
    void setSeekToZeroBeforePlay(bool value) { m_seekToZeroBeforePlay.store(value); }
    // A rate restored by the next play or pause; 0 means none. Non-zero while scrubbing or shuttling.
    float restoreAfterScrubbingRate() const { return m_restoreAfterScrubbingRate.load(); }
    void setRestoreAfterScrubbingRate(float rate) { m_restoreAfterScrubbingRate.store(rate); }

    // The media's common metadata items (none for image sequences).
    QList<MediaMetadataItem> metadata() const;
    void setMetadata(const QList<MediaMetadataItem> &metadata);
    // Chapter metadata groups, in the media's order; empty when none.
    QList<MediaTimedMetadataGroup> chapters() const;
    void setChapters(const QList<MediaTimedMetadataGroup> &chapters);

    // What is buffered or cached.
    virtual QList<MediaTimeRange> loadedTimeRanges() const;
    void setLoadedTimeRanges(const QList<MediaTimeRange> &ranges);
    virtual float volume() const { return m_volume.load(); }
    virtual void setVolume(float volume) { m_volume.store(volume); }
    // Position and length; zero in the base class.
    virtual MediaTime currentTime() const { return MediaTime::zero(); }
    virtual MediaTime duration() const { return MediaTime::zero(); }
    // How much can be played: the duration, or less for a file cut short (still being written, a
    // partial copy), whose end leaves the position on its last whole frame.
    virtual MediaTime playableDuration() const { return duration(); }
    bool endsEarly() const;

    virtual void play() { }
    void pause() { pause(true); }
    // Pauses; tells the delegate playbackStateChanged() when notify is set.
    virtual void pause(bool notify) { (void)notify; }
    virtual bool isPlaying() const { return false; }
    virtual float rate() const { return 1; }
    virtual void setRate(float rate) { (void)rate; }
    virtual bool isMuted() const { return true; }

    // Subclasses that override a seekToTime() bring the other overloads back with
    // `using BVMediaObject::seekToTime;`.
    void seekToTime(const MediaTime &time)
    {
        seekToTime(time, MediaTime::zero(), MediaTime::zero(), CompletionHandler {});
    }
    void seekToTime(const MediaTime &time, const CompletionHandler &handler)
    {
        seekToTime(time, MediaTime::zero(), MediaTime::zero(), handler);
    }
    // Keeps a plain lambda from converting to the bool of the scrub-audio form.
    template<typename F,
        typename = std::enable_if_t<
            std::is_invocable_v<F, bool> && !std::is_same_v<std::decay_t<F>, CompletionHandler>>>
    void seekToTime(const MediaTime &time, F &&handler)
    {
        seekToTime(time, MediaTime::zero(), MediaTime::zero(), CompletionHandler(std::forward<F>(handler)));
    }
    // Base behaviour: seekToZeroBeforePlay = (current time equals duration). Subclasses seek, then
    // call this (with no handler) once the seek has landed.
    virtual void seekToTime(const MediaTime &time, const MediaTime &toleranceBefore,
        const MediaTime &toleranceAfter, const CompletionHandler &handler);
    void seekToTime(const MediaTime &time, bool shouldScrubAudio)
    {
        seekToTime(time, shouldScrubAudio, CompletionHandler {});
    }
    void seekToTime(const MediaTime &time, bool shouldScrubAudio, const CompletionHandler &handler)
    {
        seekToTime(time, MediaTime::zero(), MediaTime::zero(), shouldScrubAudio, handler);
    }
    // The seek with scrub audio; the base class seeks without it.
    virtual void seekToTime(const MediaTime &time, const MediaTime &toleranceBefore,
        const MediaTime &toleranceAfter, bool shouldScrubAudio, const CompletionHandler &handler);

    virtual void stepBack() { }
    virtual void stepForward() { }
    // The frame showing at the current time (frameAtTime).
    virtual uint64_t currentFrame() const;
    QString currentTimecode() const { return timecodeAtTime(currentTime()); }
    // Timecode of a position, counted from timecodeStart().
    QString timecodeAtTime(const MediaTime &time) const { return timecodeAtTime(time, timecodeStart()); }
    // Timecode of a position counted from the given start timecode: the frame showing at the time,
    // with the object's timebase, ntsc and dropFrame.
    virtual QString timecodeAtTime(const MediaTime &time, const QString &startTimecode) const;
    // The media time of a timecode string, counted from timecodeStart(); invalid when the string
    // is not a timecode.
    MediaTime timeForTimecode(const QString &timecode) const;

    virtual void loadSettings() { }
    virtual void populateMetadata() { }
    // Clears the delegate, pauses without notifying, and forgets start timecode, loaded ranges,
    // metadata and chapters. Subclasses do their own part first, then call this.
    virtual void cleanup();

    // The object's lock, held while loading (loadAsset, loadFiles).
    std::recursive_mutex &lock() const { return m_lock; }

protected:
    // Applies the end-of-seek rule: seekToZeroBeforePlay = (current time equals duration).
    void applySeekToZeroRule();

private:
    std::atomic<BVMediaObjectDelegate *> m_delegate {nullptr};
    std::atomic<bool> m_isLoaded {false};
    std::atomic<bool> m_isVelo {false};
    std::atomic<bool> m_isAudioOnly {false};
    std::atomic<double> m_fps {0};
    std::atomic<int64_t> m_rateNumerator {0};
    std::atomic<int64_t> m_rateDenominator {0};
    std::atomic<bool> m_hasFrameIndex {false};
    std::atomic<bool> m_dropFrame {false};
    std::atomic<uint64_t> m_frameCount {0};
    std::atomic<bool> m_shouldPlayWhenLoaded {false};
    std::atomic<bool> m_seekToZeroBeforePlay {false};
    std::atomic<float> m_restoreAfterScrubbingRate {0};
    std::atomic<float> m_volume {1};

    mutable std::mutex m_propertyMutex; // guards the members below
    QString m_timecodeStart;
    QSizeF m_naturalSize {0, 0};
    MediaPictureGeometry::Orientation m_pictureOrientation;
    MediaTimeRange m_playbackRange;
    QList<MediaMetadataItem> m_metadata;
    QList<MediaTimedMetadataGroup> m_chapters;
    QList<MediaTimeRange> m_loadedTimeRanges;
    std::shared_ptr<const MediaFrameIndex> m_frameIndex;

    mutable std::recursive_mutex m_lock;
};
