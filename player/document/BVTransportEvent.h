#pragma once

#include "platform/media/MediaTime.h"

#include <QMetaType>

// What a transport command of the player document did, and where the playhead is afterwards.
// The document emits one after every command that changes the rate or the position; gang playback,
// the synced session and timecode output listen and translate it into their own words.
struct BVTransportEvent
{
    enum Kind {
        Play, // playback started (play, play-around, in to out, a reverse shuttle from pause)
        Pause, // playback stopped (pause, K, the end of a range, either end of the media)
        ShuttleDown, // one rung down the rate ladder (rewind)
        ShuttleUp, // one rung up the rate ladder (fast forward)
        StepBack, // one frame back
        StepForward, // one frame forward
        Jump, // one second back or forward
        SeekDone, // a seek (typed timecode, in/out point, a follower's copy ...) landed
        ScrubEnd, // the user let go of the scrubber
        Home, // went to the start
        End, // went to the end
        LoopWrap, // looping went back to the start of the range or of the media
        EndOfMedia, // playback reached an end of the media and stopped there
    };

    Kind kind = Pause;
    // The position after the command (for a seek, where it landed).
    MediaTime position;
    // The rate after the command; 0 when paused.
    float rate = 0;
    // The command came from another document (a gang follower acting on the leader's word): its
    // listeners do not pass it on again.
    bool fromGang = false;
};

Q_DECLARE_METATYPE(BVTransportEvent)
