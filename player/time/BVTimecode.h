#pragma once

#include <QString>

#include <cstdint>

// SMPTE timecode arithmetic: conversions between timecode strings ("HH:MM:SS:FF", or "HH:MM:SS;FF"
// when counted drop-frame), frame counts and seconds. Stateless class operations, callable from any
// thread. Frame counts are relative to a start frame; strings are absolute.
class BVTimecode
{
public:
    BVTimecode() = delete;

    // The zero timecode used as a default everywhere.
    static QString zeroTimecode() { return QStringLiteral("00:00:00:00"); }
    // The start frame that a negative start frame stands for: 01:00:00;00 at 29.97 drop-frame.
    static constexpr int64_t defaultStartFrame = 107892;

    // The timecode of startFrame + frameCount. A timebase of 0 or less means 30; drop-frame counting
    // applies at timebases 30 and 60 only. Hours wrap at 24, in both directions.
    static QString timecodeFromFrameCount(
        int64_t frameCount, int64_t timebase, bool ntsc, bool dropFrame, int64_t startFrame = 0);
    // Frames from the start frame to the position the string names; -1 when the string has fewer
    // than four fields or names a position beyond the 64-bit range.
    static int64_t frameCountFromTimecode(
        const QString &timecode, int64_t timebase, bool ntsc, bool dropFrame, int64_t startFrame = 0);
    // The timecode moved by a number of frames; an empty string when the timecode cannot be read.
    static QString timecode(
        const QString &timecode, int64_t incrementBy, int64_t timebase, bool ntsc, bool dropFrame);
    // The timecode of round(seconds x fps) frames from zero, counted at the ceiling of fps.
    static QString timecodeFromSeconds(double seconds, double fps, bool dropFrame);
    // Expands what the user typed in a time entry field ("1234", "2.", "1...") into a full timecode,
    // completed from the left by the start timecode (or zero when that is empty).
    static QString timecodeFromUserString(
        const QString &userString, bool dropFrame, const QString &startTimecode = {});
    // Drop-frame: the label count (frames as the timecode counts them) of a real frame number.
    static int64_t addDroppedFrames(int64_t frameNumber, double fps);
    // Drop-frame: the real frame number of a label count.
    static int64_t subtractDroppedFrames(int64_t labelCount, double fps);
};
