#pragma once

#include "platform/media/MediaTime.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

#include <cstdint>
#include <limits>
#include <memory>

// Small value types shared by the engine's threads.

struct MediaPacketDeleter
{
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
using MediaPacketPtr = std::unique_ptr<AVPacket, MediaPacketDeleter>;

struct MediaAVFrameDeleter
{
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
using MediaAVFramePtr = std::unique_ptr<AVFrame, MediaAVFrameDeleter>;

inline MediaPacketPtr mediaPacketRef(const AVPacket *packet)
{
    return MediaPacketPtr(av_packet_clone(packet));
}

// Converts between a stream's timestamps ("ticks") and the player's times. Media time zero is the
// stream's first timestamp, so every position the player reports starts at zero.
struct MediaStreamTiming
{
    static constexpr int64_t NoTime = std::numeric_limits<int64_t>::min();

    AVRational timeBase {1, 1};
    int64_t startTicks = 0;
    // Nominal duration of one frame in ticks (from the stream's frame rate).
    int64_t frameTicks = 1;

    MediaTime toTime(int64_t ticks) const
    {
        const int64_t offset = ticks - startTicks;
        if (timeBase.num == 1 && timeBase.den <= std::numeric_limits<int32_t>::max())
            return MediaTime(offset, timeBase.den);
        return MediaTime(av_rescale_q(offset, timeBase, AVRational {1, 1000000000}), 1000000000);
    }
    // The tick at or before a time (rounding toward minus infinity), so a time inside a frame maps
    // into that frame and never into the next one.
    int64_t toTicks(const MediaTime &time) const
    {
        if (!time.isNumeric())
            return time.isNegativeInfinity() ? std::numeric_limits<int64_t>::min() / 2
                                             : std::numeric_limits<int64_t>::max() / 2;
        return startTicks
            + av_rescale_rnd(time.value(), timeBase.den, int64_t(time.timescale()) * timeBase.num,
                AVRounding(AV_ROUND_DOWN));
    }
    // Rounds up, so that nsToTicks(ticksToNs(t)) == t.
    int64_t ticksToNs(int64_t ticks) const
    {
        return av_rescale_q_rnd(
            ticks - startTicks, timeBase, AVRational {1, 1000000000}, AVRounding(AV_ROUND_UP));
    }
    static int64_t timeToNs(const MediaTime &time)
    {
        if (!time.isNumeric())
            return 0;
        return av_rescale_rnd(time.value(), 1000000000, time.timescale(), AVRounding(AV_ROUND_UP));
    }
    int64_t nsToTicks(int64_t ns) const
    {
        return startTicks
            + av_rescale_q_rnd(ns, AVRational {1, 1000000000}, timeBase, AVRounding(AV_ROUND_DOWN));
    }
};
