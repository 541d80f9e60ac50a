#include "player/media/BVMediaObject.h"

#include "player/time/BVTimecode.h"

#include <algorithm>
#include <cmath>

BVMediaObject::~BVMediaObject() = default;

void BVMediaObject::setFps(double fps)
{
    const MediaFrameRate rate = MediaFrameRate::fromFps(fps);
    m_rateNumerator.store(rate.numerator());
    m_rateDenominator.store(rate.denominator());
    m_fps.store(fps);
}

MediaFrameRate BVMediaObject::frameRate() const
{
    return MediaFrameRate(m_rateNumerator.load(), m_rateDenominator.load());
}

void BVMediaObject::setFrameRate(const MediaFrameRate &rate)
{
    if (!rate.isValid())
        return;
    m_rateNumerator.store(rate.numerator());
    m_rateDenominator.store(rate.denominator());
    m_fps.store(rate.fps());
}

int64_t BVMediaObject::timebase() const
{
    return static_cast<int64_t>(std::ceil(fps()));
}

bool BVMediaObject::ntsc() const
{
    return std::ceil(fps()) != std::floor(fps());
}

std::shared_ptr<const MediaFrameIndex> BVMediaObject::frameIndex() const
{
    std::lock_guard guard(m_propertyMutex);
    return m_frameIndex;
}

void BVMediaObject::setFrameIndex(std::shared_ptr<const MediaFrameIndex> index)
{
    std::lock_guard guard(m_propertyMutex);
    m_hasFrameIndex.store(index != nullptr);
    m_frameIndex = std::move(index);
}

int64_t BVMediaObject::frameAtTime(const MediaTime &time) const
{
    if (m_hasFrameIndex.load()) {
        if (const std::shared_ptr<const MediaFrameIndex> index = frameIndex())
            return std::max<int64_t>(0, index->frameAtTime(time));
    }
    return std::max<int64_t>(0, frameRate().frameAtTime(time));
}

MediaTime BVMediaObject::timeOfFrame(int64_t frame) const
{
    if (m_hasFrameIndex.load()) {
        if (const std::shared_ptr<const MediaFrameIndex> index = frameIndex())
            return index->timeOfFrame(frame);
    }
    return frameRate().timeOfFrame(frame);
}

int64_t BVMediaObject::startFrame() const
{
    const QString start = timecodeStart();
    if (start.isEmpty())
        return 0;
    return std::max<int64_t>(
        0, BVTimecode::frameCountFromTimecode(start, timebase(), ntsc(), dropFrame(), 0));
}

QString BVMediaObject::timecodeForFrame(int64_t frame, const QString &startTimecode) const
{
    const int64_t base = timebase();
    const bool isNtsc = ntsc();
    const bool drop = dropFrame();
    const int64_t start = startTimecode.isEmpty()
        ? 0
        : std::max<int64_t>(0, BVTimecode::frameCountFromTimecode(startTimecode, base, isNtsc, drop, 0));
    return BVTimecode::timecodeFromFrameCount(std::max<int64_t>(0, frame), base, isNtsc, drop, start);
}

QString BVMediaObject::timecodeStart() const
{
    std::lock_guard guard(m_propertyMutex);
    return m_timecodeStart;
}

void BVMediaObject::setTimecodeStart(const QString &timecode)
{
    std::lock_guard guard(m_propertyMutex);
    m_timecodeStart = timecode;
}

QSizeF BVMediaObject::naturalSize() const
{
    std::lock_guard guard(m_propertyMutex);
    return m_naturalSize;
}

void BVMediaObject::setNaturalSize(const QSizeF &size)
{
    std::lock_guard guard(m_propertyMutex);
    m_naturalSize = size;
}

MediaPictureGeometry::Orientation BVMediaObject::pictureOrientation() const
{
    std::lock_guard guard(m_propertyMutex);
    return m_pictureOrientation;
}

void BVMediaObject::setPictureOrientation(const MediaPictureGeometry::Orientation &orientation)
{
    std::lock_guard guard(m_propertyMutex);
    m_pictureOrientation = orientation;
}

MediaTimeRange BVMediaObject::playbackRange() const
{
    std::lock_guard guard(m_propertyMutex);
    return m_playbackRange;
}

void BVMediaObject::setPlaybackRange(const MediaTimeRange &range)
{
    std::lock_guard guard(m_propertyMutex);
    m_playbackRange = range;
}

QList<MediaMetadataItem> BVMediaObject::metadata() const
{
    std::lock_guard guard(m_propertyMutex);
    return m_metadata;
}

void BVMediaObject::setMetadata(const QList<MediaMetadataItem> &metadata)
{
    std::lock_guard guard(m_propertyMutex);
    m_metadata = metadata;
}

QList<MediaTimedMetadataGroup> BVMediaObject::chapters() const
{
    std::lock_guard guard(m_propertyMutex);
    return m_chapters;
}

void BVMediaObject::setChapters(const QList<MediaTimedMetadataGroup> &chapters)
{
    std::lock_guard guard(m_propertyMutex);
    m_chapters = chapters;
}

QList<MediaTimeRange> BVMediaObject::loadedTimeRanges() const
{
    std::lock_guard guard(m_propertyMutex);
    return m_loadedTimeRanges;
}

void BVMediaObject::setLoadedTimeRanges(const QList<MediaTimeRange> &ranges)
{
    std::lock_guard guard(m_propertyMutex);
    m_loadedTimeRanges = ranges;
}

void BVMediaObject::seekToTime(const MediaTime &time, const MediaTime &toleranceBefore,
    const MediaTime &toleranceAfter, const CompletionHandler &handler)
{
    (void)time;
    (void)toleranceBefore;
    (void)toleranceAfter;
    (void)handler;
    applySeekToZeroRule();
}

void BVMediaObject::seekToTime(const MediaTime &time, const MediaTime &toleranceBefore,
    const MediaTime &toleranceAfter, bool shouldScrubAudio, const CompletionHandler &handler)
{
    (void)shouldScrubAudio;
    seekToTime(time, toleranceBefore, toleranceAfter, handler);
}

bool BVMediaObject::endsEarly() const
{
    const MediaTime playable = playableDuration();
    return playable.isNumeric() && playable < duration();
}

void BVMediaObject::applySeekToZeroRule()
{
    const MediaTime now = currentTime();
    // A file cut short ends on its last whole frame.
    setSeekToZeroBeforePlay(
        now == duration() || (endsEarly() && frameAtTime(now) + 1 >= frameAtTime(playableDuration())));
}

uint64_t BVMediaObject::currentFrame() const
{
    return uint64_t(frameAtTime(currentTime()));
}

QString BVMediaObject::timecodeAtTime(const MediaTime &time, const QString &startTimecode) const
{
    return timecodeForFrame(frameAtTime(time), startTimecode);
}

MediaTime BVMediaObject::timeForTimecode(const QString &timecode) const
{
    // Absolute frame counts are never negative: -1 is the answer for a string that is no timecode.
    const int64_t absolute = BVTimecode::frameCountFromTimecode(timecode, timebase(), ntsc(), dropFrame(), 0);
    if (absolute < 0)
        return MediaTime::invalid();
    return timeOfFrame(absolute - startFrame());
}

void BVMediaObject::cleanup()
{
    setDelegate(nullptr);
    pause(false);
    std::lock_guard guard(m_propertyMutex);
    m_timecodeStart.clear();
    m_loadedTimeRanges.clear();
    m_metadata.clear();
    m_chapters.clear();
}
