#pragma once

#include "platform/media/engine/MediaEngineTypes.h"

// How far a file that ends before its header says (a render still being written, a partial copy)
// can be played: its index names samples past the end of the file. Found by reading the packets
// around the cut: the end of the run of whole pictures from the last keyframe before it, with no
// picture missing in display order (a picture whose data is cut, or which was never written,
// leaves a gap there).
struct MediaPlayableExtent
{
    // In the stream's ticks; NoTime when the whole stream is there (or it cannot be told).
    int64_t endTicks = MediaStreamTiming::NoTime;
    // The start of the last picture that can be shown.
    int64_t lastFrameTicks = MediaStreamTiming::NoTime;

    bool endsEarly() const { return endTicks != MediaStreamTiming::NoTime; }

    // Reads the context (a seekable file) and leaves its read position at the start. Runs off the
    // main thread; reads at most a few GOPs.
    static MediaPlayableExtent scan(AVFormatContext *context, int stream);
};
