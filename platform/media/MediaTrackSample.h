#pragma once

#include "platform/media/MediaTime.h"

#include <memory>

struct AVPacket;
struct AVFrame;

// One sample handed from a track output to a writer input: a stored (compressed) sample, or a
// decoded picture or run of audio frames. Its times are in the asset's time line. Owns its data;
// cheap to move, not to be shared between threads while in use.
class MediaTrackSample
{
public:
    MediaTrackSample() = default;
    // Takes ownership of the packet or frame; the time base is the source stream's.
    static MediaTrackSample withPacket(AVPacket *packet, int timeBaseNum, int timeBaseDen);
    static MediaTrackSample withFrame(AVFrame *frame, int timeBaseNum, int timeBaseDen);

    bool isNull() const { return !m_packet && !m_frame; }
    AVPacket *packet() const { return m_packet.get(); }
    AVFrame *frame() const { return m_frame.get(); }
    int timeBaseNum() const { return m_tbNum; }
    int timeBaseDen() const { return m_tbDen; }
    // When the sample is shown (for audio: its first frame is played), in the asset's time line.
    MediaTime presentationTime() const;

private:
    struct PacketFree
    {
        void operator()(AVPacket *packet) const;
    };
    struct FrameFree
    {
        void operator()(AVFrame *frame) const;
    };
    std::unique_ptr<AVPacket, PacketFree> m_packet;
    std::unique_ptr<AVFrame, FrameFree> m_frame;
    int m_tbNum = 0;
    int m_tbDen = 1;
};
