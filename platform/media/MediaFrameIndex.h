#pragma once

#include "platform/media/MediaFrameRate.h"
#include "platform/media/MediaTime.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

struct AVFormatContext;

// The real frames of a picture stream whose frames do not come at a constant rate (phones drop and
// stretch frames): frame k starts at the k-th presentation time and is shown up to the next one.
// It is the frame rule of such footage, in place of a constant MediaFrameRate: a time names the
// frame whose interval holds it, and, as with the constant rule, a time less than a thousandth of a
// frame before a frame's start already names that frame. Times count from the first frame.
// Immutable once made; any thread.
class MediaFrameIndex
{
public:
    // `starts`: the frames' start ticks from the first frame (sorted, first 0, no repeats);
    // `endTicks`: where the last frame ends; ticks are `tickNumerator / tickDenominator` seconds.
    MediaFrameIndex(std::vector<int64_t> starts, int64_t endTicks, int tickNumerator, int tickDenominator);

    // Reads the presentation times of one picture stream's packets (nothing is decoded) from the
    // container's first packet on, then goes back to the first packet. Packets the container marks
    // to be dropped (before an edit's start) and pictures before the stream's start do not count.
    // None when the stream has packets without a time, too few frames, or the read is cancelled
    // or fails.
    static std::shared_ptr<const MediaFrameIndex> scan(
        AVFormatContext *context, int streamIndex, const std::atomic<bool> *cancel);
    // Whether a stream's rates say its frames may not come at a constant rate: the rate its times
    // are written at and its average rate differ.
    static bool ratesSuggestVariable(
        int realNumerator, int realDenominator, int averageNumerator, int averageDenominator);
    // The rate timecode counts such footage in: the stream's own rate when it is a standard one at
    // or above the average, else the nearest standard rate above the average.
    static MediaFrameRate nominalRate(double streamRate, double averageRate);

    int64_t count() const { return int64_t(m_starts.size()); }
    // The start of frame k; before the first frame and past the last, frames of the first or last
    // frame's length are counted on (timeOfFrame(count()) is the end).
    MediaTime timeOfFrame(int64_t frame) const;
    // The frame whose interval holds the time (negative before the first, count() at the end).
    int64_t frameAtTime(const MediaTime &time) const;
    // From the first frame's start to the last frame's end.
    MediaTime duration() const { return ticksToTime(m_end); }
    // Frames per second on average.
    double averageRate() const;
    // Whether the constant rule of a rate already puts every real frame where it is: frame k's
    // start under the rate lies within real frame k, for every frame, and the counts agree. Such
    // footage needs no index.
    bool followsRate(const MediaFrameRate &rate) const;

private:
    MediaTime ticksToTime(int64_t ticks) const;
    int64_t startTicks(int64_t frame) const;

    std::vector<int64_t> m_starts;
    int64_t m_end = 0;
    int m_tickNumerator = 1;
    int m_tickDenominator = 1;
};
