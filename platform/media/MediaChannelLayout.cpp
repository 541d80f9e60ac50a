#include "platform/media/MediaChannelLayout.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

namespace {

uint64_t maskForTag(uint32_t tag)
{
    switch (tag) {
    case MediaChannelLayout::mono:
        return AV_CH_LAYOUT_MONO;
    case MediaChannelLayout::stereo:
        return AV_CH_LAYOUT_STEREO;
    case MediaChannelLayout::quadraphonic:
        return AV_CH_LAYOUT_QUAD;
    case MediaChannelLayout::mpeg30A:
    case MediaChannelLayout::mpeg30B:
        return AV_CH_LAYOUT_SURROUND;
    case MediaChannelLayout::itu22:
        return AV_CH_LAYOUT_2_2;
    case MediaChannelLayout::mpeg40B:
        return AV_CH_LAYOUT_4POINT0;
    case MediaChannelLayout::mpeg50A:
    case MediaChannelLayout::mpeg50D:
        return AV_CH_LAYOUT_5POINT0;
    case MediaChannelLayout::mpeg51A:
    case MediaChannelLayout::mpeg51D:
        return AV_CH_LAYOUT_5POINT1;
    case MediaChannelLayout::mpeg71C:
        return AV_CH_LAYOUT_7POINT1;
    case MediaChannelLayout::mpeg71B:
        return AV_CH_LAYOUT_7POINT1_WIDE_BACK;
    default:
        return 0;
    }
}

} // namespace

void MediaChannelLayout::layoutForTag(
    uint32_t tag, int channelCount, const AVCodec *encoder, AVChannelLayout *layout)
{
    av_channel_layout_uninit(layout);
    const uint64_t mask = maskForTag(tag);
    if (mask && av_popcount64(mask) == channelCount)
        av_channel_layout_from_mask(layout, mask);
    else
        av_channel_layout_default(layout, channelCount > 0 ? channelCount : 2);
    if (!encoder || !encoder->ch_layouts)
        return;
    for (const AVChannelLayout *offered = encoder->ch_layouts; offered->nb_channels; ++offered)
        if (!av_channel_layout_compare(offered, layout))
            return;
    // Same number of channels in a layout the encoder knows: the closest back-versus-side variant.
    for (const AVChannelLayout *offered = encoder->ch_layouts; offered->nb_channels; ++offered) {
        if (offered->nb_channels == layout->nb_channels) {
            av_channel_layout_copy(layout, offered);
            return;
        }
    }
}
