#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

// The playback clock: media time in nanoseconds advancing at the playback rate against the steady
// clock. The audio output re-anchors it while it is the master (rate 1). Safe from any thread.
class MediaClock
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int64_t BackwardToleranceNs = 60'000'000;

    int64_t timeNs() const { return timeNsAt(Clock::now()); }
    int64_t timeNsAt(Clock::time_point when) const;
    double rate() const;

    // Places the clock at a media time, from now on advancing at the current rate.
    void setTime(int64_t mediaNs);
    // Changes the rate without moving the current media time.
    void setRate(double rate);
    // Places the clock and sets its rate in one step.
    void reset(int64_t mediaNs, double rate);
    // Audio master: the media time heard at `when`. Small jitter (under `toleranceNs`) is ignored so
    // the picture does not wobble; larger drift re-anchors the clock.
    void sync(int64_t mediaNs, Clock::time_point when, int64_t toleranceNs = 8'000'000);

private:
    int64_t timeNsAtLocked(Clock::time_point when) const;

    mutable std::mutex m_mutex;
    int64_t m_anchorNs = 0;
    Clock::time_point m_anchorWall = Clock::now();
    double m_rate = 0;
};
