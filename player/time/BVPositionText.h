#pragma once

#include "platform/media/MediaTime.h"

#include <QString>

#include <cstdint>
#include <optional>

class BVMediaObject;

// The one place that turns a position into the text the user sees, and typed text back into a
// position, in the three "timecodeDisplay" modes: the media's timecode (0), timecode counted from
// zero (1) and the frame number (2). Strip, overlay, entry popover, copied position, info panel,
// markers, MIDI and sessions all use it, so they name the same frame as the picture. Main thread or
// any thread that may read the media object.
class BVPositionText
{
public:
    enum Mode { Timecode = 0, ZeroTimecode = 1, FrameNumber = 2 };

    BVPositionText() = delete;

    // The "timecodeDisplay" setting, read now (unknown values show the timecode).
    static Mode displayMode();

    // The text of a frame in a mode.
    static QString textForFrame(const BVMediaObject &media, int64_t frame, Mode mode);
    // The text of a length (a duration, a selected range) of frames: the frame count in mode 2, else
    // a timecode counted from zero and never drop-frame, whatever the media's own timecode is.
    static QString textForLength(int64_t frames, int64_t timebase, bool ntsc, Mode mode);
    // The text of the frame showing at a time.
    static QString textAtTime(const BVMediaObject &media, const MediaTime &time, Mode mode);
    // The text of the frame on screen (at the current time; the start of the frame shown while
    // paused or stepping).
    static QString currentText(const BVMediaObject &media, Mode mode);

    // The text of the media's length: its frame count in FrameNumber mode, else that many frames
    // as a timecode counted from zero (without dropped labels).
    static QString durationText(const BVMediaObject &media, Mode mode);
    // The text of the start, shown until the media has loaded and can name frames.
    static QString startText(Mode mode);

    // The frame that typed text names in a mode: a timecode or its shorthand ("1234", "2.",
    // "01.00.02.00"), a frame number in mode 2, or "+n" / "-n" frames from the current frame. Never
    // below 0. None when the text cannot be read as a position.
    static std::optional<int64_t> frameForTypedText(
        const BVMediaObject &media, const QString &typed, Mode mode, int64_t currentFrame);
};
