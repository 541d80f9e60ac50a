#pragma once

#include "platform/media/MediaAsset.h"
#include "player/media/BVMediaObject.h"
#include "support/BVLifetime.h"

#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

class BVTimer;
class BVWorkQueue;
class MediaPlayer;
class MediaPlayerItem;

// A movie or audio file (local, at an "http"/"https" address, or a cloud file) as a media object.
// This file holds the asset side: loading, tracks, start timecode, chapters, metadata and waveform
// data. The player side (player and item, rates, seeks, stepping, the periodic observer and the
// scrub player) lives in BVAVAssetPlayback.cpp. Create, clean up and destroy it on the main thread.
class BVAVAsset : public BVMediaObject
{
public:
    BVAVAsset();
    ~BVAVAsset() override;

    // The keys loadAsset() asks the asset to load.
    static const QStringList &assetKeysRequiredToPlay();
    // The frame rate and drop-frame flag an audio file's timecode counts in, for a value of the
    // "defaultAudioTC" setting (1 = 24, 2 = 25, 3 = 29.97, 4 = 29.97 drop-frame, 5 = 30, 6 = 50,
    // 7 = 59.94, 8 = 59.94 drop-frame, 9 = 60, anything else 23.976).
    static std::pair<double, bool> audioTimecodeRate(qlonglong setting);
    // Where an audio file's timecode rate came from: its recorder's iXML chunk or the setting.
    enum class TimecodeRateSource { Media, Recorder, Setting };
    TimecodeRateSource timecodeRateSource() const { return m_timecodeRateSource.load(); }

    // Starts loading the asset; called on a background thread, holding the object's lock while it
    // runs. Reports "loaded" and then prepareForPlayback() (or mediaPlaybackFailed()) on the main
    // thread. Mark an audio file audio-only (setIsAudioOnly) before calling it.
    void loadAsset(const std::shared_ptr<MediaAsset> &asset);
    std::shared_ptr<MediaAsset> asset() const;
    // Set by cleanup(); every asynchronous step checks it first and stops once it is set.
    bool isUnloading() const { return m_isUnloading.load(); }

    // On the main thread once the keys are loaded: reports a failed key or an unplayable asset,
    // otherwise makes the player ready, then loadSettings() and prepareForPlayback().
    void prepareToPlayAsset(const QStringList &requestedKeys);
    // Logs the failure and sends mediaPlaybackFailed().
    void assetFailedToPrepareForPlayback(const BVError &error);
    // Takes natural size, fps, metadata, chapters and frame count from the loaded asset.
    void loadSettings() override;
    void populateMetadata() override;
    // The chapters of the asset's first chapter locale, with their title items; empty without.
    void populateChapters();

    // Computes the waveform data on the background queue, then sends drawWaveformForAudioAssetAsync
    // from there. Without readable audio the data stay empty.
    void populateWaveformData();
    // Mean magnitudes, 50 per second (32-bit floats), of the first channel of mono and stereo audio
    // and of all channels of more; empty when none.
    std::vector<float> waveformData() const;
    // The largest value of waveformData(), at least -90.
    float waveformNormalize() const;
    // True once populateWaveformData() finished (with or without data).
    bool waveformDataDone() const { return m_waveformDone.load(); }

    using BVMediaObject::timecodeAtTime;
    // A local file counts rounded frames at the asset's own rate from the start timecode; an audio
    // file whose rate comes from "defaultAudioTC" counts at that rate; a cloud file uses the base rule.
    QString timecodeAtTime(const MediaTime &time, const QString &startTimecode) const override;
    // The duration of the loaded asset; zero before it is loaded.
    MediaTime duration() const override;
    // Less than the duration for a file cut short, once the player's item is ready.
    MediaTime playableDuration() const override;

    // Sets isUnloading, clears the delegate, stops loading and waveform work, drops the asset, then
    // does the base cleanup.
    void cleanup() override;

    // ---- Player side, defined in BVAVAssetPlayback.cpp. Main thread.

    // The player the playback view shows; none until prepareToPlayAsset() made it.
    MediaPlayer *player() const { return m_player.get(); }
    std::shared_ptr<MediaPlayerItem> playerItem() const { return m_playerItem; }
    // The item reports ready to play.
    bool isReadyToPlay() const;

    void play() override;
    using BVMediaObject::pause;
    void pause(bool notify) override;
    bool isPlaying() const override;
    float rate() const override;
    void setRate(float rate) override;
    bool isMuted() const override;
    void setVolume(float volume) override;
    MediaTime currentTime() const override;
    QList<MediaTimeRange> loadedTimeRanges() const override;

    using BVMediaObject::seekToTime;
    void seekToTime(const MediaTime &time, const MediaTime &toleranceBefore, const MediaTime &toleranceAfter,
        const CompletionHandler &handler) override;
    // Asks playerShouldSeek(); with scrub audio (and the "scrubAudio" setting on) the scrub player
    // sounds 0.17 s from the same time. Dropped silently while the item is not ready.
    void seekToTime(const MediaTime &time, const MediaTime &toleranceBefore, const MediaTime &toleranceAfter,
        bool shouldScrubAudio, const CompletionHandler &handler) override;
    // The frame on screen: at the end (the duration) the last frame stays there.
    uint64_t currentFrame() const override;
    void stepBack() override;
    void stepForward() override;

    // The periodic observer: syncScrubber() every 0.03 s on the main thread.
    void initScrubberTimer();
    void removePlayerTimeObserver();
    // The scrub player's sound is playing (its timer is armed).
    bool isScrubAudioPlaying() const { return m_scrubAudioTimer != nullptr; }

private:
    // Runs on the background queue once the keys are loaded: the start timecode (and, for an audio
    // file, the rate from "defaultAudioTC").
    void readTimecode(const std::shared_ptr<MediaAsset> &asset);
    // Runs on the main thread after readTimecode().
    void finishLoading(const std::shared_ptr<MediaAsset> &asset, const QStringList &keys);
    // A flag that outlives this object, for work queued to the main thread.
    BVLifetime::Token lifetimeToken() const { return m_lifetime.token(); }

    mutable std::mutex m_assetMutex; // guards m_asset and the waveform data
    std::shared_ptr<MediaAsset> m_asset;
    std::vector<float> m_waveformData;
    float m_waveformNormalize = -90;
    std::atomic<bool> m_waveformDone {false};
    std::atomic<bool> m_isUnloading {false};
    // Set when an audio-only file took its rate and drop-frame from iXML or "defaultAudioTC": the asset's
    // own rate (29.97 for any audio) must not replace it.
    std::atomic<bool> m_rateFromAudioSetting {false};
    std::atomic<TimecodeRateSource> m_timecodeRateSource {TimecodeRateSource::Media};
    BVLifetime m_lifetime;

    // Player side (BVAVAssetPlayback.cpp).
    void createPlayer();
    void observeItem(const std::shared_ptr<MediaPlayerItem> &item);
    void stopObservingItem();
    void itemEvent(int event);
    void playerReachedEndOfItem();
    // Logs the change and tells the delegate the status word.
    void bufferStateChanged(bool buffering, const QString &status);
    void stepBy(int direction);
    void cleanupPlayer();
    std::unique_ptr<MediaPlayer> m_player;
    std::shared_ptr<MediaPlayerItem> m_playerItem;
    int m_itemObserver = 0;
    int m_playerObserver = 0;
    int m_timeObserver = 0;
    std::unique_ptr<MediaPlayer> m_scrubPlayer;
    std::shared_ptr<MediaPlayerItem> m_scrubItem;
    std::unique_ptr<BVTimer> m_scrubAudioTimer;
    bool m_buffering = false;
    // Last member: destroyed first, so no queued job outlives the members it uses.
    std::unique_ptr<BVWorkQueue> m_workQueue;
};
