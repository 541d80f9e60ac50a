#include "platform/media/engine/MediaClock.h"

#include <cmath>
#include <cstdlib>

int64_t MediaClock::timeNsAtLocked(Clock::time_point when) const
{
    if (m_rate == 0)
        return m_anchorNs;
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(when - m_anchorWall).count();
    return m_anchorNs + std::llround(static_cast<double>(elapsed) * m_rate);
}

int64_t MediaClock::timeNsAt(Clock::time_point when) const
{
    std::lock_guard lock(m_mutex);
    return timeNsAtLocked(when);
}

double MediaClock::rate() const
{
    std::lock_guard lock(m_mutex);
    return m_rate;
}

void MediaClock::setTime(int64_t mediaNs)
{
    std::lock_guard lock(m_mutex);
    m_anchorNs = mediaNs;
    m_anchorWall = Clock::now();
}

void MediaClock::setRate(double rate)
{
    std::lock_guard lock(m_mutex);
    const auto now = Clock::now();
    m_anchorNs = timeNsAtLocked(now);
    m_anchorWall = now;
    m_rate = rate;
}

void MediaClock::reset(int64_t mediaNs, double rate)
{
    std::lock_guard lock(m_mutex);
    m_anchorNs = mediaNs;
    m_anchorWall = Clock::now();
    m_rate = rate;
}

void MediaClock::sync(int64_t mediaNs, Clock::time_point when, int64_t toleranceNs)
{
    std::lock_guard lock(m_mutex);
    if (m_rate == 0)
        return;
    // Going back makes the position (and the picture) step backwards during play: only a large
    // lag of the sound is worth that; small ones stay within a frame.
    const int64_t drift = mediaNs - timeNsAtLocked(when);
    if (std::llabs(drift) <= toleranceNs || (drift < 0 && drift > -BackwardToleranceNs))
        return;
    m_anchorNs = mediaNs;
    m_anchorWall = when;
}
