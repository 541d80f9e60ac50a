#include "platform/media/MediaTrackSample.h"

extern "C" {
#include <libavcodec/packet.h>
#include <libavutil/frame.h>
}

void MediaTrackSample::PacketFree::operator()(AVPacket *packet) const
{
    av_packet_free(&packet);
}

void MediaTrackSample::FrameFree::operator()(AVFrame *frame) const
{
    av_frame_free(&frame);
}

MediaTrackSample MediaTrackSample::withPacket(AVPacket *packet, int timeBaseNum, int timeBaseDen)
{
    MediaTrackSample sample;
    sample.m_packet.reset(packet);
    sample.m_tbNum = timeBaseNum;
    sample.m_tbDen = timeBaseDen;
    return sample;
}

MediaTrackSample MediaTrackSample::withFrame(AVFrame *frame, int timeBaseNum, int timeBaseDen)
{
    MediaTrackSample sample;
    sample.m_frame.reset(frame);
    sample.m_tbNum = timeBaseNum;
    sample.m_tbDen = timeBaseDen;
    return sample;
}

MediaTime MediaTrackSample::presentationTime() const
{
    int64_t ts = AV_NOPTS_VALUE;
    if (m_packet)
        ts = m_packet->pts != AV_NOPTS_VALUE ? m_packet->pts : m_packet->dts;
    else if (m_frame)
        ts = m_frame->best_effort_timestamp != AV_NOPTS_VALUE ? m_frame->best_effort_timestamp : m_frame->pts;
    if (ts == AV_NOPTS_VALUE || m_tbNum <= 0 || m_tbDen <= 0)
        return MediaTime::invalid();
    return MediaTime(ts * m_tbNum, m_tbDen);
}
