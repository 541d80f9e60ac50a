#include "platform/media/MediaImageGenerator.h"

#include "platform/media/MediaAssetProbe.h"
#include "platform/media/MediaAssetTrackOutput.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

std::optional<QImage> MediaImageGenerator::copyImageAtTime(
    const std::shared_ptr<MediaAsset> &asset, const MediaTime &time, BVError *error)
{
    const QList<MediaTrack> video
        = asset ? asset->tracksWithMediaType(MediaType::video) : QList<MediaTrack>();
    if (video.isEmpty()) {
        if (error)
            *error = MediaAssetProbe::errorFromCode(AVERROR_STREAM_NOT_FOUND,
                QStringLiteral("The media has no pictures."), asset ? asset->location() : QString());
        return std::nullopt;
    }
    MediaAssetTrackOutput output(asset, video.first(), MediaAssetTrackOutput::Output::Decoded);
    // One tick of a fine timescale: the picture whose interval contains the time, and no other.
    const MediaTime start
        = time.convertScale(std::max(time.timescale(), 90000), MediaTime::Rounding::TowardZero);
    output.setTimeRange(MediaTimeRange(start, MediaTime(1, start.timescale())));
    std::optional<MediaTrackSample> sample;
    if (output.startReading())
        sample = output.copyNextSample();
    if (!sample || !sample->frame()) {
        if (error)
            *error = output.status() == MediaAssetTrackOutput::Status::Failed
                ? output.error()
                : MediaAssetProbe::errorFromCode(
                    AVERROR(ERANGE), QStringLiteral("There is no picture at that time."), asset->location());
        return std::nullopt;
    }
    const AVFrame *frame = sample->frame();
    QImage image(frame->width, frame->height, QImage::Format_RGBA8888);
    SwsContext *scaler
        = sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
            frame->height, AV_PIX_FMT_RGBA, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    if (!scaler) {
        if (error)
            *error = MediaAssetProbe::errorFromCode(
                AVERROR(EINVAL), QStringLiteral("The picture could not be converted."), asset->location());
        return std::nullopt;
    }
    uint8_t *planes[4] = {image.bits(), nullptr, nullptr, nullptr};
    int strides[4] = {int(image.bytesPerLine()), 0, 0, 0};
    sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
    sws_freeContext(scaler);
    return image;
}
