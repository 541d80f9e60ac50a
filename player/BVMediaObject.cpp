#include "player/BVMediaObject.h"

#include "player/BVAVFoundation.h"
#include "player/BVTimecode.h"

#include <cmath>

BVMediaObject::~BVMediaObject() = default;

int64_t BVMediaObject::timebase() const
{
    return static_cast<int64_t>(std::ceil(fps()));
}

bool BVMediaObject::ntsc() const
{
    return std::ceil(fps()) != std::floor(fps());
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

void BVMediaObject::applySeekToZeroRule()
{
    setSeekToZeroBeforePlay(currentTime() == duration());
}

uint64_t BVMediaObject::currentFrame() const
{
    return BVAVFoundation::framesAtTime(currentTime(), fps());
}

QString BVMediaObject::timecodeAtTime(const MediaTime &time, const QString &startTimecode) const
{
    const int64_t base = timebase();
    const bool isNtsc = ntsc();
    const bool drop = dropFrame();
    const MediaTime position = time.isNumeric() && time.value() < 0 ? MediaTime::zero() : time;
    const int64_t start = startTimecode.isEmpty()
        ? 0
        : std::max<int64_t>(0, BVTimecode::frameCountFromTimecode(startTimecode, base, isNtsc, drop, 0));
    const auto frames = static_cast<int64_t>(BVAVFoundation::framesAtTime(position, fps()));
    return BVTimecode::timecodeFromFrameCount(frames, base, isNtsc, drop, start);
}

MediaTime BVMediaObject::timeForTimecode(const QString &timecode) const
{
    const int64_t base = timebase();
    const bool isNtsc = ntsc();
    const bool drop = dropFrame();
    const QString start = timecodeStart();
    const int64_t startFrame = start.isEmpty()
        ? 0
        : std::max<int64_t>(0, BVTimecode::frameCountFromTimecode(start, base, isNtsc, drop, 0));
    // Absolute frame counts are never negative: -1 is the answer for a string that is no timecode.
    const int64_t absolute = BVTimecode::frameCountFromTimecode(timecode, base, isNtsc, drop, 0);
    if (absolute < 0)
        return MediaTime::invalid();
    const int64_t frames = absolute - startFrame;
    return BVAVFoundation::timeFromFrameCount(frames, fps());
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
