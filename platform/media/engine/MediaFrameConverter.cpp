#include "platform/media/engine/MediaFrameConverter.h"

#include "support/BVLog.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

MediaFrameConverter::~MediaFrameConverter()
{
    sws_freeContext(m_context);
}

std::shared_ptr<QImage> MediaFrameConverter::reusableImage(int width, int height)
{
    constexpr size_t Kept = 3;
    for (std::shared_ptr<QImage> &image : m_recent) {
        // Only this converter holds it; writing it detaches from any copy a viewer kept.
        if (image.use_count() == 1 && image->width() == width && image->height() == height) {
            std::shared_ptr<QImage> reused = image;
            return reused;
        }
    }
    auto image = std::make_shared<QImage>(width, height, QImage::Format_RGB32);
    if (m_recent.size() >= Kept)
        m_recent.erase(m_recent.begin());
    m_recent.push_back(image);
    return image;
}

std::shared_ptr<const QImage> MediaFrameConverter::convert(const AVFrame *frame)
{
    if (!frame || frame->width <= 0 || frame->height <= 0)
        return nullptr;
    const auto format = AVPixelFormat(frame->format);
    m_context = sws_getCachedContext(m_context, frame->width, frame->height, format, frame->width,
        frame->height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!m_context) {
        BVLog::appendLog("Cannot convert pictures of format %s", av_get_pix_fmt_name(format));
        return nullptr;
    }
    // Pictures say which matrix and range they use; unspecified ones get the size-based default.
    int colorspace = frame->colorspace;
    if (colorspace == AVCOL_SPC_UNSPECIFIED)
        colorspace = frame->height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    const bool fullRange = frame->color_range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P
        || format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P;
    sws_setColorspaceDetails(m_context, sws_getCoefficients(colorspace), fullRange ? 1 : 0,
        sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);

    std::shared_ptr<QImage> image = reusableImage(frame->width, frame->height);
    if (!image || image->isNull())
        return nullptr;
    uint8_t *planes[4] = {image->bits(), nullptr, nullptr, nullptr};
    int strides[4] = {int(image->bytesPerLine()), 0, 0, 0};
    if (sws_scale(m_context, frame->data, frame->linesize, 0, frame->height, planes, strides)
        != frame->height)
        return nullptr;
    return image;
}
