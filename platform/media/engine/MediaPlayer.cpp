#include "platform/media/engine/MediaPlayer.h"

#include "platform/media/engine/MediaAudioDecoder.h"
#include "platform/media/engine/MediaAudioOutput.h"
#include "platform/media/engine/MediaDemuxer.h"
#include "platform/media/engine/MediaFrameConverter.h"
#include "platform/media/engine/MediaPlayerItem.h"
#include "platform/media/engine/MediaVideoDecoder.h"
#include "support/BVLog.h"
#include "support/BVMainThread.h"
#include "support/BVTimer.h"

#include <algorithm>
#include <cmath>

MediaPlayer::MediaPlayer()
    : m_audioOutput(std::make_unique<MediaAudioOutput>(m_clock))
    , m_converter(std::make_unique<MediaFrameConverter>())
{
    m_presenter = std::thread([this] { presenterLoop(); });
}

MediaPlayer::~MediaPlayer()
{
    m_lifetime.end();
    m_timeObservers.clear();
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_presenter.join();
    detachItem(false);
    m_audioOutput.reset();
}

void MediaPlayer::postToMain(std::function<void()> job)
{
    const BVLifetime::Token alive = m_lifetime.token();
    BVMainThread::async([alive, job = std::move(job)] {
        if (!alive.expired())
            job();
    });
}

void MediaPlayer::notify(Event event)
{
    const auto observers = m_observers;
    for (const auto &[token, observer] : observers)
        if (m_observers.count(token))
            observer(event);
}

int64_t MediaPlayer::endTicksLocked() const
{
    const MediaStreamTiming &timing = m_item->timing();
    const int64_t demuxed = m_item->demuxer() ? m_item->demuxer()->endTicks() : MediaStreamTiming::NoTime;
    const MediaTime duration = m_item->duration();
    int64_t end = duration.isNumeric() ? timing.toTicks(duration) : std::numeric_limits<int64_t>::max() / 4;
    // The stream's real end, once read, wins over the container's claim; so does the end of a
    // file cut short.
    if (demuxed != MediaStreamTiming::NoTime)
        end = std::min(end, demuxed);
    if (m_item->endsEarly())
        end = std::min(end, m_item->playableEndTicks());
    return end;
}

int64_t MediaPlayer::playheadTicksLocked() const
{
    const MediaStreamTiming &timing = m_item->timing();
    if (m_seek)
        return m_seek->ticks;
    if (m_rate == 0 || m_stalled)
        return timing.toTicks(m_position);
    return timing.nsToTicks(m_clock.timeNs());
}

// Where a pause leaves the playhead: the start of the frame on screen when it is the frame at the
// clock or the one just before it (the presenter is a frame behind), else the clock.
int64_t MediaPlayer::pausedTicksLocked() const
{
    const MediaStreamTiming &timing = m_item->timing();
    const int64_t clock = std::clamp(timing.nsToTicks(m_clock.timeNs()), timing.startTicks, endTicksLocked());
    const MediaCachedFramePtr &shown = m_shown.frame;
    if (shown
        && (shown->contains(clock)
            || (m_rate > 0 && shown->end() <= clock && clock - shown->end() < shown->duration)
            || (m_rate < 0 && shown->pts > clock && shown->pts - clock <= shown->duration)))
        return shown->pts;
    if (MediaCachedFramePtr frame = m_item->cache()->frameContaining(clock))
        return frame->pts;
    return clock;
}

// Puts the playhead at a time, advancing from there at the rate.
void MediaPlayer::placeLocked(const MediaTime &time, double rate)
{
    m_position = time;
    m_clock.reset(MediaStreamTiming::timeToNs(time), rate);
}

// Items ---------------------------------------------------------------------------------------

void MediaPlayer::replaceCurrentItem(std::shared_ptr<MediaPlayerItem> item)
{
    if (item == m_item)
        return;
    detachItem(true);
    m_item = std::move(item);
    if (m_item) {
        const BVLifetime::Token alive = m_lifetime.token();
        m_itemObserver = m_item->addObserver([this, alive](MediaPlayerItem::Event event) {
            if (!alive.expired())
                itemEvent(int(event));
        });
        if (m_item->status() == MediaPlayerItem::Status::ReadyToPlay)
            attachItem();
        else
            m_item->load();
    }
    notify(Event::CurrentItemChanged);
}

void MediaPlayer::itemEvent(int event)
{
    if (MediaPlayerItem::Event(event) != MediaPlayerItem::Event::Status || !m_item)
        return;
    if (m_item->status() == MediaPlayerItem::Status::ReadyToPlay && !m_ready) {
        attachItem();
    } else if (m_item->status() == MediaPlayerItem::Status::Failed && m_ready) {
        // The item can give nothing more: stop the clock and the presenter, keep the last picture.
        std::optional<PendingSeek> abandoned;
        {
            std::lock_guard lock(m_mutex);
            if (m_rate != 0 && !m_seek)
                placeLocked(m_item->timing().toTime(pausedTicksLocked()), 0);
            m_ready = false;
            m_rate = 0;
            abandoned = std::move(m_seek);
            m_seek.reset();
        }
        m_audioOutput->setRunning(false);
        m_audioDecoder.reset();
        if (abandoned && abandoned->completion)
            abandoned->completion(false);
        notify(Event::RateChanged);
        updateTimeObservers();
    }
}

void MediaPlayer::attachItem()
{
    if (m_item->hasAudio() && m_audioOutput->open()) {
        m_audioDecoder = std::make_unique<MediaAudioDecoder>(
            m_item->audioStream(), m_item->timing(), *m_item->demuxer(), *m_audioOutput);
        if (m_audioDecoder->open())
            m_audioDecoder->start();
        else
            m_audioDecoder.reset();
    }
    m_item->setFrameHandler([this] { m_wake.notify_all(); });
    {
        std::lock_guard lock(m_mutex);
        m_ready = true;
        m_shown = {};
        placeLocked(MediaTime::zero(), 0);
    }
    // Show the first picture.
    PendingSeek first;
    first.ticks = m_item->timing().startTicks;
    first.time = MediaTime::zero();
    first.low = first.high = first.ticks;
    startSeek(std::move(first));
    if (m_rate != 0) {
        const float rate = float(m_rate);
        m_rate = 0;
        setRate(rate);
    }
}

void MediaPlayer::detachItem(bool completeSeek)
{
    std::optional<PendingSeek> abandoned;
    {
        std::lock_guard lock(m_mutex);
        m_ready = false;
        abandoned = std::move(m_seek);
        m_seek.reset();
        m_shown = {};
    }
    if (completeSeek && abandoned && abandoned->completion)
        abandoned->completion(false);
    m_audioOutput->setRunning(false);
    m_audioDecoder.reset();
    if (m_item) {
        m_item->setFrameHandler({});
        m_item->removeObserver(m_itemObserver);
    }
    m_item.reset();
}

// Rate and time -------------------------------------------------------------------------------

float MediaPlayer::rate() const
{
    std::lock_guard lock(m_mutex);
    return float(m_rate);
}

void MediaPlayer::setRate(float rate)
{
    if (!std::isfinite(rate))
        return;
    const double clamped = std::clamp(double(rate), -MaximumRate, MaximumRate);
    {
        std::lock_guard lock(m_mutex);
        if (clamped == m_rate)
            return;
        if (m_ready) {
            const MediaStreamTiming &timing = m_item->timing();
            if (!m_seek) {
                // Leaving pause starts from the exact position. Pausing keeps the picture on screen:
                // the position becomes the start of its frame, so a timecode names the frame shown
                // and never a clock time inside the next one.
                if (m_rate == 0 || m_stalled)
                    placeLocked(m_position, clamped);
                else if (clamped == 0)
                    placeLocked(timing.toTime(pausedTicksLocked()), 0);
                else
                    m_clock.setRate(clamped);
            }
            m_stalled = false;
            m_rate = clamped;
            restartAudioLocked(playheadTicksLocked(), clamped);
        } else {
            m_rate = clamped;
        }
    }
    m_wake.notify_all();
    updateTimeObservers();
    notify(Event::RateChanged);
}

// Called with the state locked.
void MediaPlayer::restartAudioLocked(int64_t ticks, double rate)
{
    const bool audible = m_audioDecoder && MediaAudioDecoder::isAudible(rate) && !m_seek;
    m_audioOutput->setClockMaster(audible && rate == 1.0);
    if (m_audioDecoder)
        m_audioDecoder->restart(ticks, audible ? rate : 0);
    m_audioOutput->setRunning(audible);
}

MediaTime MediaPlayer::currentTime() const
{
    std::lock_guard lock(m_mutex);
    if (!m_ready)
        return MediaTime::zero();
    if (m_seek)
        return m_seek->time;
    if (m_rate == 0 || m_stalled)
        return m_position;
    // The sound device may put the clock a little before the start; the position never is.
    const MediaStreamTiming &timing = m_item->timing();
    const int64_t ticks = std::clamp(timing.nsToTicks(m_clock.timeNs()), timing.startTicks, endTicksLocked());
    return timing.toTime(ticks);
}

void MediaPlayer::setVolume(float volume)
{
    m_volume = std::clamp(volume, 0.0f, 1.0f);
    m_audioOutput->setVolume(m_muted ? 0 : m_volume);
}

void MediaPlayer::setMuted(bool muted)
{
    m_muted = muted;
    m_audioOutput->setVolume(m_muted ? 0 : m_volume);
}

// Seeking and stepping ------------------------------------------------------------------------

void MediaPlayer::seekToTime(const MediaTime &time, std::function<void(bool)> completion)
{
    seekToTime(time, MediaTime::zero(), MediaTime::zero(), std::move(completion));
}

void MediaPlayer::seekToTime(const MediaTime &time, const MediaTime &toleranceBefore,
    const MediaTime &toleranceAfter, std::function<void(bool)> completion)
{
    if (!m_ready || !time.isNumeric()) {
        if (completion)
            postToMain([completion] { completion(false); });
        return;
    }
    const MediaStreamTiming &timing = m_item->timing();
    const MediaTime duration = m_item->duration();
    MediaTime target = MediaTime::maximum(time, MediaTime::zero());
    if (duration.isNumeric())
        target = MediaTime::minimum(target, duration);
    // Past the last whole picture of a file cut short: that picture, and its time.
    if (m_item->endsEarly() && target >= m_item->playableDuration())
        target = m_item->lastPlayableFrameTime();
    const auto nonNegative
        = [](const MediaTime &t) { return t.isNumeric() && t > MediaTime::zero() ? t : MediaTime::zero(); };
    PendingSeek seek;
    seek.time = target;
    seek.ticks = timing.toTicks(target);
    seek.low = timing.toTicks(target - nonNegative(toleranceBefore));
    seek.high = toleranceAfter.isPositiveInfinity() ? std::numeric_limits<int64_t>::max() / 4
                                                    : timing.toTicks(target + nonNegative(toleranceAfter));
    seek.completion = std::move(completion);
    startSeek(std::move(seek));
}

void MediaPlayer::stepByCount(int count, std::function<void(bool)> completion)
{
    if (!m_ready || count == 0) {
        if (completion)
            postToMain([completion, ok = m_ready] { completion(ok); });
        return;
    }
    pause();
    const MediaStreamTiming &timing = m_item->timing();
    MediaCachedFramePtr base;
    int64_t position;
    {
        std::lock_guard lock(m_mutex);
        position = playheadTicksLocked();
        base = m_seek ? nullptr : m_shown.frame;
        if (base && !base->contains(std::min(position, endTicksLocked() - 1)))
            base = nullptr;
    }
    PendingSeek seek;
    seek.snapToFrame = true;
    seek.completion = std::move(completion);
    MediaCachedFramePtr frame = base;
    // Walk the cache while it holds adjoining frames; the rest is a seek past the last one found.
    for (int i = 0; frame && i < std::abs(count); ++i) {
        MediaCachedFramePtr next = m_item->cache()->adjacentFrame(*frame, count > 0 ? 1 : -1);
        if (!next) {
            const int remaining = std::abs(count) - i;
            seek.ticks = count > 0 ? frame->end() + (remaining - 1) * timing.frameTicks
                                   : frame->pts - 1 - (remaining - 1) * timing.frameTicks;
            frame = nullptr;
            break;
        }
        frame = next;
        seek.ticks = frame->pts;
    }
    if (!base)
        seek.ticks = position + int64_t(count) * timing.frameTicks;
    int64_t end;
    {
        std::lock_guard lock(m_mutex);
        end = endTicksLocked();
    }
    if (seek.ticks >= end || seek.ticks < timing.startTicks) {
        // Already on the first or last frame.
        if (seek.completion)
            postToMain([completion = std::move(seek.completion)] { completion(false); });
        return;
    }
    seek.time = timing.toTime(seek.ticks);
    seek.low = seek.high = seek.ticks;
    startSeek(std::move(seek));
}

void MediaPlayer::startSeek(PendingSeek seek)
{
    std::optional<PendingSeek> replaced;
    {
        std::lock_guard lock(m_mutex);
        replaced = std::move(m_seek);
        const int64_t end = endTicksLocked();
        const int64_t lookup = std::min(seek.ticks, end - 1);
        if (seek.low < seek.ticks || seek.high > seek.ticks) {
            // A tolerance lets a cached picture near the time do.
            MediaCachedFramePtr cached = m_item->cache()->frameContaining(lookup);
            if (!cached) {
                MediaCachedFramePtr before = m_item->cache()->nearestFrame(lookup, 1, lookup - seek.low);
                MediaCachedFramePtr after = m_item->cache()->nearestFrame(lookup, -1, seek.high - lookup);
                cached = before && !before->keyframeOnly ? before
                                                         : (after && !after->keyframeOnly ? after : nullptr);
            }
            if (cached) {
                seek.ticks = cached->pts;
                seek.time = m_item->timing().toTime(cached->pts);
            }
        }
        m_seek = std::move(seek);
        m_stalled = false;
        // What the decoder is about to fill must not be evicted for frames around the old place.
        m_item->cache()->trim(std::min(m_seek->ticks, end - 1), direction(m_rate));
        m_clock.reset(MediaStreamTiming::timeToNs(m_seek->time), 0);
        // A picture already cached needs no decoding: what the decoder does meanwhile goes on.
        const int64_t target = std::min(m_seek->ticks, end - 1);
        if (m_item->videoDecoder() && !m_item->cache()->frameContaining(target))
            m_item->videoDecoder()->jump(target);
        m_item->demuxer()->setPlayhead(m_seek->ticks, direction(m_rate));
        if (m_audioDecoder)
            m_audioDecoder->restart(m_seek->ticks, 0);
    }
    m_wake.notify_all();
    if (replaced && replaced->completion)
        replaced->completion(false);
}

// The presenter thread ------------------------------------------------------------------------

void MediaPlayer::presenterLoop()
{
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        const bool busy = m_ready && (m_seek || m_rate != 0);
        m_wake.wait_for(lock, std::chrono::milliseconds(busy ? 2 : 50));
        if (m_stopping || !m_ready)
            continue;
        if (m_seek) {
            presentSeekLocked(lock);
            continue;
        }
        if (m_rate != 0) {
            presentPlayingLocked(lock);
        } else if (m_item->videoDecoder()) {
            const int64_t ticks = std::min(playheadTicksLocked(), endTicksLocked() - 1);
            m_item->videoDecoder()->setPlayhead(ticks, 0, false, 0);
            m_item->cache()->trim(ticks, 0);
            // Paused between two presenter ticks: catch up with the frame at the position.
            if (!m_shown.frame || !m_shown.frame->contains(ticks)) {
                if (MediaCachedFramePtr frame = m_item->cache()->frameContaining(ticks))
                    show(lock, frame);
            } else if (m_reconvert) {
                const MediaCachedFramePtr frame = m_shown.frame;
                show(lock, frame);
            }
        }
    }
}

bool MediaPlayer::presentSeekLocked(std::unique_lock<std::mutex> &lock)
{
    PendingSeek &seek = *m_seek;
    const int64_t lookup = std::min(seek.ticks, endTicksLocked() - 1);
    MediaCachedFramePtr frame;
    if (m_item->videoDecoder()) {
        frame = m_item->cache()->frameContaining(lookup);
        if (!frame)
            return false;
    }
    PendingSeek done = std::move(*m_seek);
    m_seek.reset();
    int64_t landed = done.ticks;
    MediaTime time = done.time;
    if (frame && done.snapToFrame) {
        landed = frame->pts;
        time = m_item->timing().toTime(frame->pts);
    }
    // The position is the time reached: a frame start, or the exact time asked for.
    placeLocked(time, m_rate);
    if (m_item->videoDecoder())
        m_item->videoDecoder()->setPlayhead(
            landed, direction(m_rate), std::abs(m_rate) > KeyframesOnlyRate, 0);
    m_item->demuxer()->setPlayhead(landed, direction(m_rate));
    restartAudioLocked(landed, m_rate);
    if (frame)
        show(lock, frame);
    std::function<void(bool)> completion = std::move(done.completion);
    postToMain([this, completion] {
        updateTimeObservers();
        if (completion)
            completion(true);
    });
    return true;
}

void MediaPlayer::presentPlayingLocked(std::unique_lock<std::mutex> &lock)
{
    const MediaStreamTiming &timing = m_item->timing();
    const int dir = direction(m_rate);
    const int64_t end = endTicksLocked();
    int64_t ticks = timing.nsToTicks(m_clock.timeNs());
    if (dir > 0)
        ticks = std::max(ticks, timing.startTicks);
    else
        ticks = std::min(ticks, end);
    if (dir > 0 && ticks >= end) {
        reachedBoundaryLocked(lock, end, true);
        return;
    }
    if (dir < 0 && ticks <= timing.startTicks) {
        reachedBoundaryLocked(lock, timing.startTicks, false);
        return;
    }
    const bool keyframesOnly = std::abs(m_rate) > KeyframesOnlyRate;
    const int64_t stride = int64_t(std::abs(m_rate) * double(timing.frameTicks) * 2);
    m_item->demuxer()->setPlayhead(ticks, dir);
    if (!m_item->videoDecoder())
        return;
    m_item->videoDecoder()->setPlayhead(ticks, dir, keyframesOnly, stride);
    m_item->cache()->trim(ticks, dir);

    const int64_t lookup = std::min(ticks, end - 1);
    MediaCachedFramePtr frame;
    if (keyframesOnly) {
        frame = m_item->cache()->nearestFrame(
            lookup, dir, std::max<int64_t>(stride * 4, timing.frameTicks * 96));
    } else {
        frame = m_item->cache()->frameContaining(lookup);
        if (!frame) {
            // The decoder fell behind: hold the clock until the picture is there, as a stalled
            // player does, rather than skip frames.
            if (!m_stalled) {
                m_stalled = true;
                ++m_statistics.stalls;
                placeLocked(timing.toTime(ticks), 0);
                m_audioOutput->setRunning(false);
            }
            return;
        }
        if (m_stalled) {
            m_stalled = false;
            placeLocked(m_position, m_rate);
            restartAudioLocked(ticks, m_rate);
        }
    }
    if (!frame || frame == m_shown.frame)
        return;
    const MediaCachedFramePtr previous = m_shown.frame;
    if (previous) {
        // Never step against the direction of play (the audio clock may nudge time back a little).
        if ((dir > 0 && frame->pts < previous->pts) || (dir < 0 && frame->pts > previous->pts))
            return;
        if (!keyframesOnly) {
            const int64_t gap = dir > 0 ? frame->pts - previous->end() : previous->pts - frame->end();
            if (gap > 0 && std::abs(m_rate) <= 1 && !m_audioOutput->isClockMaster()) {
                // Up to normal speed every frame is shown: when the presenter fell behind, show
                // the next one and let the clock slip back to it, as after a stall.
                MediaCachedFramePtr next = m_item->cache()->adjacentFrame(*previous, dir);
                if (!next) {
                    m_stalled = true;
                    ++m_statistics.stalls;
                    placeLocked(timing.toTime(dir > 0 ? previous->end() : previous->pts - 1), 0);
                    return;
                }
                placeLocked(timing.toTime(dir > 0 ? next->pts : next->end() - 1), m_rate);
                frame = next;
            } else if (gap > 0) {
                m_statistics.droppedFrames += (gap + timing.frameTicks / 2) / timing.frameTicks;
            }
        }
    }
    show(lock, frame);
}

void MediaPlayer::reachedBoundaryLocked(std::unique_lock<std::mutex> &lock, int64_t ticks, bool atEnd)
{
    const MediaStreamTiming &timing = m_item->timing();
    m_rate = 0;
    m_stalled = false;
    const MediaTime duration = m_item->duration();
    // A file cut short stops on its last whole picture, which the position then names.
    if (atEnd && m_item->endsEarly())
        placeLocked(m_item->lastPlayableFrameTime(), 0);
    else
        placeLocked(atEnd && duration.isNumeric() ? duration : timing.toTime(ticks), 0);
    restartAudioLocked(ticks, 0);
    MediaCachedFramePtr frame;
    if (m_item->videoDecoder()) {
        const int64_t last = std::min(ticks, endTicksLocked() - 1);
        m_item->videoDecoder()->setPlayhead(last, 0, false, 0);
        frame = m_item->cache()->frameContaining(last);
    }
    std::weak_ptr<MediaPlayerItem> item = m_item;
    postToMain([this, item, atEnd] {
        updateTimeObservers();
        notify(Event::RateChanged);
        if (std::shared_ptr<MediaPlayerItem> current = item.lock(); current && atEnd && current == m_item)
            current->notifyPlayedToEnd();
    });
    // The presenter may have been late: show the first or last frame itself.
    if (frame && frame != m_shown.frame)
        show(lock, frame);
}

// Converts outside the lock (the frame keeps its picture alive), then publishes. Only pictures
// shown are converted, and the cache keeps none of them: it holds the decoder's own pictures.
void MediaPlayer::show(std::unique_lock<std::mutex> &lock, const MediaCachedFramePtr &frame)
{
    MediaFrameCache *cache = m_item->cache();
    const MediaPictureOptions options = m_pictureOptions;
    m_reconvert = false;
    lock.unlock();
    std::shared_ptr<const QImage> image = m_converter->convert(frame->frame.get(), options);
    lock.lock();
    if (!m_ready || m_item->cache() != cache)
        return;
    // The converted pictures count against the cache's budget.
    cache->setPictureBytes(m_converter->heldBytes());
    m_shown = {frame, image};
    ++m_statistics.presentedFrames;
    if (!m_framePostPending.exchange(true)) {
        postToMain([this] {
            m_framePostPending = false;
            if (m_frameHandler)
                m_frameHandler();
        });
    }
}

MediaPlayer::Picture MediaPlayer::currentPicture() const
{
    std::lock_guard lock(m_mutex);
    if (!m_shown.frame || !m_item)
        return {};
    return {m_shown.image, m_item->timing().toTime(m_shown.frame->pts)};
}

void MediaPlayer::setPictureOptions(const MediaPictureOptions &options)
{
    {
        std::lock_guard lock(m_mutex);
        if (options == m_pictureOptions)
            return;
        m_pictureOptions = options;
        m_reconvert = true;
    }
    m_wake.notify_all();
}

MediaPictureOptions MediaPlayer::pictureOptions() const
{
    std::lock_guard lock(m_mutex);
    return m_pictureOptions;
}

void MediaPlayer::setFrameAvailableHandler(std::function<void()> handler)
{
    m_frameHandler = std::move(handler);
}

// Observers -----------------------------------------------------------------------------------

int MediaPlayer::addPeriodicTimeObserver(
    const MediaTime &interval, std::function<void(const MediaTime &)> observer)
{
    const int token = m_nextToken++;
    const double seconds = interval.isNumeric() && interval.seconds() > 0.001 ? interval.seconds() : 0.03;
    TimeObserver entry;
    entry.observer = std::move(observer);
    entry.timer = std::make_unique<BVTimer>(seconds, true, [this, token] {
        auto it = m_timeObservers.find(token);
        if (it != m_timeObservers.end() && rate() != 0)
            it->second.observer(currentTime());
    });
    m_timeObservers.emplace(token, std::move(entry));
    updateTimeObservers();
    return token;
}

void MediaPlayer::removeTimeObserver(int token)
{
    m_timeObservers.erase(token);
}

// Main thread: timers run while playing; a jump or a stop is reported once at once.
void MediaPlayer::updateTimeObservers()
{
    const bool playing = rate() != 0;
    const MediaTime now = currentTime();
    std::vector<int> tokens;
    for (auto &[token, entry] : m_timeObservers) {
        if (playing && !entry.timer->isActive())
            entry.timer->start();
        else if (!playing)
            entry.timer->stop();
        tokens.push_back(token);
    }
    for (int token : tokens) {
        auto it = m_timeObservers.find(token);
        if (it != m_timeObservers.end())
            it->second.observer(now);
    }
}

int MediaPlayer::addObserver(std::function<void(Event)> observer)
{
    const int token = m_nextToken++;
    m_observers.emplace(token, std::move(observer));
    return token;
}

void MediaPlayer::removeObserver(int token)
{
    m_observers.erase(token);
}

MediaPlayer::Statistics MediaPlayer::statistics() const
{
    std::lock_guard lock(m_mutex);
    return m_statistics;
}

void MediaPlayer::resetStatistics()
{
    std::lock_guard lock(m_mutex);
    m_statistics = {};
}
