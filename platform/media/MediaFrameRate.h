#pragma once

#include "platform/media/MediaTime.h"

#include <cstdint>

// A frame rate as an exact fraction (24000/1001, 25/1, 30000/1001 ...) and the program's one rule
// for turning frames into times and back. Frame n is shown from its start, exactly n x den / num
// seconds, up to the start of frame n + 1; a time names the frame whose interval holds it, which is
// the frame the engine shows at that time. A time less than a thousandth of a frame before a
// frame's start already names that frame: positions carried at a coarser timescale (stored
// positions, another player's clock) fall a hair short of the exact start. Plain value; any thread.
class MediaFrameRate
{
public:
    // The part of a frame by which a time may fall short of a frame's start and still name it.
    static constexpr int64_t ToleranceDivisor = 1000;

    constexpr MediaFrameRate() = default;
    // Reduced; invalid unless both are positive.
    MediaFrameRate(int64_t numerator, int64_t denominator);
    // The exact rate a decimal rate stands for: N x 1000/1001 for 23.976, 29.97, 59.94 ... (within
    // 0.002), N/1 for whole rates, else the nearest thousandth. Invalid for rates <= 0.
    static MediaFrameRate fromFps(double fps);
    // timebase/1 or, for NTSC, timebase x 1000/1001.
    static MediaFrameRate fromTimebase(int64_t timebase, bool ntsc);

    bool isValid() const { return m_numerator > 0 && m_denominator > 0; }
    int64_t numerator() const { return m_numerator; }
    int64_t denominator() const { return m_denominator; }
    // The rate as a number, for what is shown or stored as one.
    double fps() const;
    // Whole frames per second that timecode counts in: the ceiling of the rate (24 for 23.976).
    int64_t timebase() const;
    // The rate is the timebase x 1000/1001.
    bool isNtsc() const;

    // The exact start of frame n (at timescale numerator, so 1001 x n / 24000 at 23.976).
    MediaTime timeOfFrame(int64_t frame) const;
    // The frame whose interval holds the time (negative before zero); 0 for invalid times or rates.
    int64_t frameAtTime(const MediaTime &time) const;
    // The frames that start before the end of a duration (the frame count of a clip that long).
    int64_t framesInDuration(const MediaTime &duration) const;
    // The length of one frame.
    MediaTime frameDuration() const { return timeOfFrame(1); }

    bool operator==(const MediaFrameRate &other) const = default;

private:
    int64_t m_numerator = 0;
    int64_t m_denominator = 0;
};
