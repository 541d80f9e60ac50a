// The one frame rule: exact frame starts from the rational rate, and the frame a time names.
#include "platform/media/MediaFrameRate.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(FrameRate, DecimalRatesStandForTheirExactFractions)
{
    struct Case
    {
        double fps;
        int64_t numerator, denominator;
    };
    const Case cases[] = {
        {23.976, 24000, 1001},
        {23.976023976, 24000, 1001},
        {29.97, 30000, 1001},
        {59.94, 60000, 1001},
        {59.940059, 60000, 1001},
        {24, 24, 1},
        {25, 25, 1},
        {30, 30, 1},
        {50, 50, 1},
        {60, 60, 1},
        {12.5, 25, 2},
        {119.88, 120000, 1001},
    };
    for (const Case &c : cases) {
        const MediaFrameRate rate = MediaFrameRate::fromFps(c.fps);
        EXPECT_EQ(rate.numerator(), c.numerator) << c.fps;
        EXPECT_EQ(rate.denominator(), c.denominator) << c.fps;
    }
    EXPECT_FALSE(MediaFrameRate::fromFps(0).isValid());
    EXPECT_FALSE(MediaFrameRate::fromFps(-24).isValid());
    EXPECT_FALSE(MediaFrameRate::fromFps(NAN).isValid());
}

TEST(FrameRate, EveryFrameStartsExactlyAndTimesInsideItNameIt)
{
    // Seconds of frame n at 1000/1001 rates: n x 1.001 / timebase, exactly.
    for (int timebase : {24, 30, 60}) {
        const MediaFrameRate rate(int64_t(timebase) * 1000, 1001);
        // Past 26 minutes too, where a decimal rate has drifted by a frame.
        for (int64_t frame : {int64_t(0), int64_t(1), int64_t(245), int64_t(37685), int64_t(37686),
                 int64_t(107892), int64_t(5000000)}) {
            const MediaTime start = rate.timeOfFrame(frame);
            EXPECT_EQ(start, MediaTime(frame * 1001, timebase * 1000)) << frame;
            EXPECT_EQ(rate.frameAtTime(start), frame);
            // A microsecond-clock time inside the frame, near its end, and just short of its start.
            const int64_t startNs = frame * 1001 * 1000000000LL / (timebase * 1000);
            const int64_t lengthNs = 1001LL * 1000000000LL / (timebase * 1000);
            EXPECT_EQ(rate.frameAtTime(MediaTime(startNs + lengthNs / 2, 1000000000)), frame);
            EXPECT_EQ(rate.frameAtTime(MediaTime(startNs + lengthNs - lengthNs / 100, 1000000000)), frame);
            // Less than a thousandth of a frame short of the start (a rounded stored position).
            if (frame > 0) {
                EXPECT_EQ(rate.frameAtTime(MediaTime(startNs - lengthNs / 5000, 1000000000)), frame);
                EXPECT_EQ(rate.frameAtTime(MediaTime(startNs - lengthNs / 100, 1000000000)), frame - 1);
            }
        }
    }
}

TEST(FrameRate, FrameCountsOfDurations)
{
    const MediaFrameRate rate(24000, 1001);
    EXPECT_EQ(rate.framesInDuration(MediaTime(240 * 1001, 24000)), 240);
    EXPECT_EQ(rate.framesInDuration(MediaTime(240 * 1001 + 10, 24000)), 241);
    // Rounded to milliseconds: a hair over 240 frames still counts 240.
    EXPECT_EQ(rate.framesInDuration(MediaTime(10010, 1000)), 240);
    EXPECT_EQ(rate.framesInDuration(MediaTime::zero()), 0);
    EXPECT_EQ(MediaFrameRate(25, 1).framesInDuration(MediaTime(10, 1)), 250);
}
