// The player side of BVAVAsset: the player and its item, the scrub player, the periodic observer,
// transport, seeks and frame steps.

#include "player/media/BVAVAsset.h"

#include "platform/defaults/BVUserDefaults.h"
#include "platform/media/engine/MediaPlayer.h"
#include "platform/media/engine/MediaPlayerItem.h"
#include "support/BVLog.h"
#include "support/BVTimer.h"

#include <QUrl>

#include <algorithm>
#include <cmath>

namespace {

// How long the scrub player sounds after each seek.
constexpr double scrubAudioSeconds = 0.17;

QString itemAddress(const QUrl &url)
{
    return url.isLocalFile() ? url.toLocalFile() : url.toString();
}

} // namespace

bool BVAVAsset::isReadyToPlay() const
{
    return m_playerItem && m_player && m_playerItem->status() == MediaPlayerItem::Status::ReadyToPlay;
}

void BVAVAsset::createPlayer()
{
    const std::shared_ptr<MediaAsset> media = asset();
    if (!media || isUnloading())
        return;
    const QString address = itemAddress(media->url());

    stopObservingItem();
    m_playerItem = MediaPlayerItem::create(address);
    m_scrubItem = MediaPlayerItem::createAudioOnly(address);
    observeItem(m_playerItem);
    setSeekToZeroBeforePlay(false);

    if (!m_player) {
        m_player = std::make_unique<MediaPlayer>();
        m_player->setVolume(volume());
        const BVLifetime::Token alive = lifetimeToken();
        m_playerObserver = m_player->addObserver([this, alive](MediaPlayer::Event event) {
            if (alive.expired() || isUnloading())
                return;
            // Rate changes are observed and ignored.
            if (event == MediaPlayer::Event::CurrentItemChanged) {
                if (BVMediaObjectDelegate *d = delegate())
                    d->setupPlaybackOutput();
            }
        });
        initScrubberTimer();
        m_scrubPlayer = std::make_unique<MediaPlayer>();
        m_scrubPlayer->setVolume(volume());
    }
    if (m_scrubPlayer->currentItem() != m_scrubItem)
        m_scrubPlayer->replaceCurrentItem(m_scrubItem);
    if (m_player->currentItem() != m_playerItem)
        m_player->replaceCurrentItem(m_playerItem);
}

void BVAVAsset::observeItem(const std::shared_ptr<MediaPlayerItem> &item)
{
    const BVLifetime::Token alive = lifetimeToken();
    m_itemObserver = item->addObserver([this, alive](MediaPlayerItem::Event event) {
        if (alive.expired() || isUnloading())
            return;
        itemEvent(static_cast<int>(event));
    });
}

void BVAVAsset::stopObservingItem()
{
    if (m_playerItem && m_itemObserver)
        m_playerItem->removeObserver(m_itemObserver);
    m_itemObserver = 0;
}

void BVAVAsset::itemEvent(int event)
{
    using Event = MediaPlayerItem::Event;
    switch (static_cast<Event>(event)) {
    case Event::Status:
        if (m_playerItem->status() == MediaPlayerItem::Status::Failed) {
            assetFailedToPrepareForPlayback(m_playerItem->error());
        } else if (m_playerItem->status() == MediaPlayerItem::Status::ReadyToPlay) {
            loadSettings();
            if (BVMediaObjectDelegate *d = delegate())
                d->mediaStatusChanged(BVMediaStatus::ready);
        }
        break;
    case Event::BufferEmpty:
        bufferStateChanged(true, BVBufferStatus::empty);
        break;
    case Event::BufferLikelyToKeepUp:
        bufferStateChanged(false, BVBufferStatus::likelyToKeepUp);
        break;
    case Event::BufferFull:
        bufferStateChanged(false, BVBufferStatus::full);
        break;
    case Event::PlayedToEnd:
        playerReachedEndOfItem();
        break;
    case Event::LoadedTimeRanges:
        break;
    }
}

void BVAVAsset::bufferStateChanged(bool buffering, const QString &status)
{
    m_buffering = buffering;
    BVLog::appendLog(buffering ? "buffering..." : "buffering complete");
    if (BVMediaObjectDelegate *d = delegate())
        d->bufferStatusChanged(status);
}

void BVAVAsset::playerReachedEndOfItem()
{
    setSeekToZeroBeforePlay(true);
    if (BVMediaObjectDelegate *d = delegate())
        d->playbackStateChanged();
    if (BVMediaObjectDelegate *d = delegate())
        d->playerReachedEnd();
}

void BVAVAsset::initScrubberTimer()
{
    removePlayerTimeObserver();
    if (!m_player)
        return;
    const BVLifetime::Token alive = lifetimeToken();
    m_timeObserver = m_player->addPeriodicTimeObserver(
        MediaTime(30000000, 1000000000), [this, alive](const MediaTime &) {
            if (alive.expired() || isUnloading())
                return;
            if (BVMediaObjectDelegate *d = delegate())
                d->syncScrubber();
        });
}

void BVAVAsset::removePlayerTimeObserver()
{
    if (m_player && m_timeObserver)
        m_player->removeTimeObserver(m_timeObserver);
    m_timeObserver = 0;
}

void BVAVAsset::play()
{
    setShouldPlayWhenLoaded(true);
    if (!m_player)
        return;
    if (const float restore = restoreAfterScrubbingRate(); restore != 0) {
        m_player->setRate(restore);
        setRestoreAfterScrubbingRate(0);
    }
    if (seekToZeroBeforePlay()) {
        setSeekToZeroBeforePlay(false);
        seekToTime(MediaTime::zero());
    }
    const MediaTimeRange range = playbackRange();
    if (range.duration().isNumeric() && range.duration() > MediaTime::zero())
        seekToTime(range.start());
    m_player->play();
    if (BVMediaObjectDelegate *d = delegate())
        d->playbackStateChanged();
}

void BVAVAsset::pause(bool notify)
{
    setPlaybackRange(MediaTimeRange(MediaTime::zero(), MediaTime::zero()));
    if (const float restore = restoreAfterScrubbingRate(); restore != 0) {
        if (m_player)
            m_player->setRate(restore);
        setRestoreAfterScrubbingRate(0);
    }
    if (m_player)
        m_player->pause();
    if (notify) {
        if (BVMediaObjectDelegate *d = delegate())
            d->playbackStateChanged();
    }
}

bool BVAVAsset::isPlaying() const
{
    return restoreAfterScrubbingRate() != 0 || (m_player && m_player->rate() != 0);
}

float BVAVAsset::rate() const
{
    return m_player ? m_player->rate() : 0;
}

void BVAVAsset::setRate(float rate)
{
    if (m_player)
        m_player->setRate(rate);
}

bool BVAVAsset::isMuted() const
{
    return volume() == 0;
}

void BVAVAsset::setVolume(float volume)
{
    BVMediaObject::setVolume(volume);
    if (m_player)
        m_player->setVolume(volume);
    if (m_scrubPlayer)
        m_scrubPlayer->setVolume(volume);
}

MediaTime BVAVAsset::currentTime() const
{
    return m_player ? m_player->currentTime() : MediaTime::zero();
}

MediaTime BVAVAsset::playableDuration() const
{
    const MediaTime whole = duration();
    if (!m_playerItem || !m_playerItem->endsEarly())
        return whole;
    return MediaTime::minimum(m_playerItem->playableDuration(), whole);
}

QList<MediaTimeRange> BVAVAsset::loadedTimeRanges() const
{
    return m_playerItem ? m_playerItem->loadedTimeRanges() : BVMediaObject::loadedTimeRanges();
}

void BVAVAsset::seekToTime(const MediaTime &time, const MediaTime &toleranceBefore,
    const MediaTime &toleranceAfter, const CompletionHandler &handler)
{
    seekToTime(time, toleranceBefore, toleranceAfter, false, handler);
}

void BVAVAsset::seekToTime(const MediaTime &time, const MediaTime &toleranceBefore,
    const MediaTime &toleranceAfter, bool shouldScrubAudio, const CompletionHandler &handler)
{
    if (isUnloading() || !isReadyToPlay())
        return;
    if (BVMediaObjectDelegate *d = delegate(); d && !d->playerShouldSeek()) {
        BVLog::appendLog("Delegate declined permission to seek.");
        return;
    }
    const BVLifetime::Token alive = lifetimeToken();
    if (shouldScrubAudio && m_scrubPlayer && !m_scrubAudioTimer
        && BVUserDefaults::standardUserDefaults()->boolForKey(QStringLiteral("scrubAudio"))) {
        m_scrubPlayer->seekToTime(time, toleranceBefore, toleranceAfter, [this, alive](bool) {
            if (alive.expired() || isUnloading() || !m_scrubPlayer || m_scrubAudioTimer)
                return;
            m_scrubPlayer->play();
            m_scrubAudioTimer = std::make_unique<BVTimer>(scrubAudioSeconds, false, [this, alive] {
                if (alive.expired())
                    return;
                if (m_scrubPlayer)
                    m_scrubPlayer->pause();
                // The timer is firing: let it go once its job has returned.
                if (BVTimer *timer = m_scrubAudioTimer.release())
                    timer->deleteLater();
            });
            m_scrubAudioTimer->start();
        });
    }
    m_player->seekToTime(time, toleranceBefore, toleranceAfter, [this, alive, handler](bool finished) {
        if (alive.expired() || isUnloading())
            return;
        applySeekToZeroRule();
        if (BVMediaObjectDelegate *d = delegate())
            d->playerSeeked();
        if (handler)
            handler(finished);
    });
}

void BVAVAsset::stepBy(int direction)
{
    setPlaybackRange(MediaTimeRange(MediaTime::zero(), MediaTime::zero()));
    pause(true);
    if (!isReadyToPlay())
        return;
    // To the exact start of the neighbouring frame, by the one frame rule: the picture, the
    // timecode and every stored position then name the same frame.
    int64_t next = frameAtTime(currentTime()) + direction;
    if (frameCount() > 0)
        next = std::min<int64_t>(next, int64_t(frameCount()) - 1);
    const MediaTime target = timeOfFrame(std::max<int64_t>(next, 0));
    seekToTime(MediaTime::maximum(target, MediaTime::zero()), MediaTime::zero(), MediaTime::zero(), true,
        CompletionHandler {});
}

uint64_t BVAVAsset::currentFrame() const
{
    const uint64_t frame = BVMediaObject::currentFrame();
    const uint64_t count = frameCount();
    return count > 0 ? std::min(frame, count - 1) : frame;
}

void BVAVAsset::stepBack()
{
    stepBy(-1);
}

void BVAVAsset::stepForward()
{
    stepBy(1);
}

void BVAVAsset::cleanupPlayer()
{
    removePlayerTimeObserver();
    stopObservingItem();
    if (m_player && m_playerObserver)
        m_player->removeObserver(m_playerObserver);
    m_playerObserver = 0;
    if (m_player)
        m_player->pause();
    m_player.reset();
    m_playerItem.reset();
    m_scrubAudioTimer.reset();
    if (m_scrubPlayer)
        m_scrubPlayer->pause();
    m_scrubPlayer.reset();
    m_scrubItem.reset();
}
