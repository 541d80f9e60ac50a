#pragma once

#include <cstdint>

struct AVCodec;
struct AVChannelLayout;

// The platform's audio channel layout tags (high 16 bits: the layout, low byte: the channel count)
// as the encoder library's channel layouts.
class MediaChannelLayout
{
public:
    MediaChannelLayout() = delete;

    static constexpr uint32_t mono = 0x640001;
    static constexpr uint32_t stereo = 0x650002;
    static constexpr uint32_t quadraphonic = 0x6C0004;
    static constexpr uint32_t mpeg30A = 0x710003;
    static constexpr uint32_t mpeg30B = 0x720003;
    static constexpr uint32_t itu22 = 0x840004;
    static constexpr uint32_t mpeg40B = 0x740004;
    static constexpr uint32_t mpeg50A = 0x750005;
    static constexpr uint32_t mpeg50D = 0x780005;
    static constexpr uint32_t mpeg51A = 0x790006;
    static constexpr uint32_t mpeg51D = 0x7C0006;
    static constexpr uint32_t mpeg71C = 0x800008;
    static constexpr uint32_t mpeg71B = 0x7F0008;

    // The layout of the tag with the given channel count; when the encoder cannot take it, the
    // encoder's own layout with that many channels (the channel order is the encoder's business).
    static void layoutForTag(uint32_t tag, int channelCount, const AVCodec *encoder, AVChannelLayout *layout);
};
