#include "platform/media/engine/MediaPlayableExtent.h"

#include "support/BVLog.h"

#include <algorithm>
#include <unordered_map>
#include <utility>
#include <vector>

MediaPlayableExtent MediaPlayableExtent::scan(AVFormatContext *context, int streamIndex)
{
    MediaPlayableExtent extent;
    if (!context || !context->pb || !(context->pb->seekable & AVIO_SEEKABLE_NORMAL) || streamIndex < 0
        || unsigned(streamIndex) >= context->nb_streams)
        return extent;
    const int64_t fileSize = avio_size(context->pb);
    AVStream *stream = context->streams[streamIndex];
    const int entries = avformat_index_get_entries_count(stream);
    if (fileSize <= 0 || entries <= 0)
        return extent;
    // The first sample, in decoding order, whose bytes lie (partly) past the end of the file.
    int cut = -1;
    std::unordered_map<int64_t, int> sizes; // sample sizes by file offset
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry *entry = avformat_index_get_entry(stream, i);
        if (!entry || entry->pos < 0)
            return extent;
        sizes.emplace(entry->pos, entry->size);
        if (cut < 0 && entry->pos + entry->size > fileSize)
            cut = i;
    }
    if (cut < 0)
        return extent;
    const int64_t cutTicks = avformat_index_get_entry(stream, cut)->timestamp;
    AVRational rate = stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    const int64_t nominal
        = rate.num > 0 ? std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), stream->time_base)) : 1;

    std::vector<AVDiscard> discards(context->nb_streams);
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        discards[i] = context->streams[i]->discard;
        context->streams[i]->discard = int(i) == streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    // Whole pictures from the keyframe before the cut: (start, end) in display order.
    std::vector<std::pair<int64_t, int64_t>> whole;
    int64_t runStart = MediaStreamTiming::NoTime;
    // The keyframe before the cut (the cut sample may be a keyframe itself).
    if (av_seek_frame(context, streamIndex, cutTicks - 1, AVSEEK_FLAG_BACKWARD) >= 0) {
        AVPacket *packet = av_packet_alloc();
        // The GOPs around the cut; a cut far past its keyframe reads that GOP at most.
        for (int read = 0; packet && read < 4096 && av_read_frame(context, packet) >= 0; ++read) {
            if (packet->stream_index == streamIndex && packet->pts != AV_NOPTS_VALUE) {
                if (runStart == MediaStreamTiming::NoTime)
                    runStart = (packet->flags & AV_PKT_FLAG_KEY) ? packet->pts : MediaStreamTiming::NoTime;
                const auto size = sizes.find(packet->pos);
                const bool complete = size != sizes.end() && packet->size == size->second
                    && packet->pos + size->second <= fileSize && !(packet->flags & AV_PKT_FLAG_CORRUPT);
                if (complete && runStart != MediaStreamTiming::NoTime)
                    whole.emplace_back(
                        packet->pts, packet->pts + (packet->duration > 0 ? packet->duration : nominal));
            }
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
    }
    for (unsigned i = 0; i < context->nb_streams; ++i)
        context->streams[i]->discard = discards[i];
    av_seek_frame(context, streamIndex, stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0,
        AVSEEK_FLAG_BACKWARD);
    if (runStart == MediaStreamTiming::NoTime || whole.empty())
        return extent;
    std::sort(whole.begin(), whole.end());
    int64_t end = runStart;
    int64_t last = MediaStreamTiming::NoTime;
    for (const auto &[start, stop] : whole) {
        if (start < runStart)
            continue; // shown before the keyframe: the previous GOP's
        if (start > end)
            break; // a picture is missing here
        end = std::max(end, stop);
        last = start;
    }
    if (last == MediaStreamTiming::NoTime)
        return extent;
    extent.endTicks = end;
    extent.lastFrameTicks = last;
    BVLog::appendLog("The file ends early: %lld of %d samples are whole, playable up to tick %lld",
        (long long)cut, entries, (long long)end);
    return extent;
}
