#include "platform/media/engine/MediaDeinterlacer.h"

#include "support/BVLog.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstring>
#include <thread>

MediaDeinterlacer::~MediaDeinterlacer()
{
    release();
}

void MediaDeinterlacer::release()
{
    avfilter_graph_free(&m_graph);
    m_source = nullptr;
    m_sink = nullptr;
}

bool MediaDeinterlacer::build(const AVFrame *frame)
{
    release();
    m_graph = avfilter_graph_alloc();
    if (!m_graph)
        return false;
    m_graph->nb_threads
        = m_threads > 0 ? m_threads : std::clamp(int(std::thread::hardware_concurrency()), 1, 4);
    const AVRational aspect = frame->sample_aspect_ratio.num > 0 && frame->sample_aspect_ratio.den > 0
        ? frame->sample_aspect_ratio
        : AVRational {1, 1};
    char arguments[160];
    snprintf(arguments, sizeof arguments, "video_size=%dx%d:pix_fmt=%d:time_base=1/25:pixel_aspect=%d/%d",
        frame->width, frame->height, frame->format, aspect.num, aspect.den);
    // send_frame: one picture out per picture in; parity from the picture's own field order;
    // pictures not marked interlaced pass through.
    AVFilterContext *filter = nullptr;
    if (avfilter_graph_create_filter(
            &m_source, avfilter_get_by_name("buffer"), "in", arguments, nullptr, m_graph)
            < 0
        || avfilter_graph_create_filter(&filter, avfilter_get_by_name("bwdif"), "deinterlace",
               "mode=send_frame:parity=auto:deint=interlaced", nullptr, m_graph)
            < 0
        || avfilter_graph_create_filter(
               &m_sink, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr, m_graph)
            < 0
        || avfilter_link(m_source, 0, filter, 0) < 0 || avfilter_link(filter, 0, m_sink, 0) < 0
        || avfilter_graph_config(m_graph, nullptr) < 0) {
        release();
        return false;
    }
    return true;
}

// bwdif weighs each missing line between the lines of its own picture (spatial) and those of the
// pictures before and after it (temporal), keeping whichever differs less from its neighbours.
// With an empty picture on either side the temporal guess differs from everything, so the
// picture's own lines decide: every interlaced picture, moving or still, comes out whole, which
// is what a reviewer stepping through woven fields wants to see.
const AVFrame *MediaDeinterlacer::emptyPicture(const AVFrame *like)
{
    if (m_empty && m_empty->width == like->width && m_empty->height == like->height
        && m_empty->format == like->format)
        return m_empty.get();
    m_empty.reset(av_frame_alloc());
    if (!m_empty)
        return nullptr;
    m_empty->width = like->width;
    m_empty->height = like->height;
    m_empty->format = like->format;
    if (av_frame_get_buffer(m_empty.get(), 0) < 0) {
        m_empty.reset();
        return nullptr;
    }
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(AVPixelFormat(like->format));
    for (int p = 0; p < AV_NUM_DATA_POINTERS && m_empty->data[p]; ++p) {
        const int lines = p == 0 || p == 3 || !descriptor
            ? like->height
            : AV_CEIL_RSHIFT(like->height, descriptor->log2_chroma_h);
        memset(m_empty->data[p], 0, size_t(m_empty->linesize[p]) * size_t(lines));
    }
    m_empty->interlaced_frame = 0; // passed through by the filter, not deinterlaced itself
    return m_empty.get();
}

MediaAVFramePtr MediaDeinterlacer::deinterlace(const AVFrame *frame)
{
    if (!frame || !frame->interlaced_frame || frame->width < 4 || frame->height < 4)
        return nullptr;
    MediaAVFramePtr picture(av_frame_clone(frame)); // shares the decoder's pixels
    const AVFrame *empty = emptyPicture(frame);
    MediaAVFramePtr output(av_frame_alloc());
    bool done = picture && empty && output && build(frame);
    // Empty, the picture, empty: the filter passes the first through and gives the picture second
    // (it lags one picture behind what it is fed).
    for (int i = 0; done && i < 3; ++i) {
        MediaAVFramePtr input(av_frame_clone(i == 1 ? picture.get() : empty));
        if (!input)
            done = false;
        else {
            input->pts = i; // the filter's times only; the caller keeps the picture's own
            input->pkt_dts = AV_NOPTS_VALUE;
            done = av_buffersrc_add_frame(m_source, input.get()) >= 0;
        }
    }
    for (int i = 0; done && i < 2; ++i) {
        av_frame_unref(output.get());
        done = av_buffersink_get_frame(m_sink, output.get()) >= 0;
    }
    release();
    if (!done) {
        if (m_failedFormat != frame->format) {
            m_failedFormat = frame->format;
            BVLog::appendLog("Cannot deinterlace pictures of format %s",
                av_get_pix_fmt_name(AVPixelFormat(frame->format)));
        }
        return nullptr;
    }
    output->interlaced_frame = 0;
    return output;
}
