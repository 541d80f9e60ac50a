#include "platform/media/engine/MediaFrameConverter.h"

#include "platform/media/MediaPictureGeometry.h"
#include "platform/media/engine/MediaEngineTypes.h"
#include "support/BVLog.h"

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <thread>

namespace {

// Ordered-dither thresholds (8 x 8 Bayer matrix), in 1/64 of an output step.
constexpr uint8_t Bayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},
    {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},
    {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},
    {63, 31, 55, 23, 61, 29, 53, 21},
};

// The checkerboard behind transparent pictures: 8-pixel squares of two greys.
constexpr int CheckerSquare = 8;
constexpr int CheckerLight = 153, CheckerDark = 102;

inline int background(bool checkerboard, int x, int y)
{
    if (!checkerboard)
        return 0;
    return ((x / CheckerSquare + y / CheckerSquare) & 1) ? CheckerDark : CheckerLight;
}

// A buffer reference over memory this converter owns (the image's pixels): swscale writes into it
// without allocating.
AVBufferRef *borrowedBuffer(uint8_t *data, size_t size)
{
    return av_buffer_create(
        data, size, [](void *, uint8_t *) {}, nullptr, 0);
}

int defaultThreads()
{
    return std::clamp(int(std::thread::hardware_concurrency()), 1, 4);
}

} // namespace

bool MediaFrameConverter::Setup::operator==(const Setup &other) const
{
    return srcWidth == other.srcWidth && srcHeight == other.srcHeight && srcFormat == other.srcFormat
        && dstWidth == other.dstWidth && dstHeight == other.dstHeight && dstFormat == other.dstFormat
        && flags == other.flags && colorspace == other.colorspace && fullRange == other.fullRange;
}

MediaFrameConverter::~MediaFrameConverter()
{
    sws_freeContext(m_context);
}

QSize MediaFrameConverter::outputSize(const QSize &source, const QSize &limit)
{
    if (limit.width() <= 0 || limit.height() <= 0)
        return source;
    return {std::min(source.width(), limit.width()), std::min(source.height(), limit.height())};
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

bool MediaFrameConverter::prepare(const Setup &setup)
{
    if (m_context && setup == m_setup)
        return true;
    sws_freeContext(m_context);
    m_context = sws_alloc_context();
    m_setup = setup;
    if (!m_context)
        return false;
    av_opt_set_int(m_context, "srcw", setup.srcWidth, 0);
    av_opt_set_int(m_context, "srch", setup.srcHeight, 0);
    av_opt_set_int(m_context, "src_format", setup.srcFormat, 0);
    av_opt_set_int(m_context, "dstw", setup.dstWidth, 0);
    av_opt_set_int(m_context, "dsth", setup.dstHeight, 0);
    av_opt_set_int(m_context, "dst_format", setup.dstFormat, 0);
    av_opt_set_int(m_context, "sws_flags", setup.flags, 0);
    av_opt_set_int(m_context, "threads", m_threads > 0 ? m_threads : defaultThreads(), 0);
    if (sws_init_context(m_context, nullptr, nullptr) < 0) {
        sws_freeContext(m_context);
        m_context = nullptr;
        return false;
    }
    // Pictures say which matrix and range they use (full-range RGB out).
    sws_setColorspaceDetails(m_context, sws_getCoefficients(setup.colorspace), setup.fullRange,
        sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    return true;
}

std::shared_ptr<const QImage> MediaFrameConverter::convert(
    const AVFrame *frame, const MediaPictureOptions &options)
{
    if (!frame || frame->width <= 0 || frame->height <= 0)
        return nullptr;
    const auto format = AVPixelFormat(frame->format);
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(format);
    if (!descriptor)
        return nullptr;
    const bool alpha = descriptor->flags & AV_PIX_FMT_FLAG_ALPHA;
    const bool wide = descriptor->comp[0].depth > 8;
    const QSize source(frame->width, frame->height);
    const QSize size = outputSize(source, options.limit);

    Setup setup;
    setup.srcWidth = source.width();
    setup.srcHeight = source.height();
    setup.srcFormat = format;
    setup.dstWidth = size.width();
    setup.dstHeight = size.height();
    setup.dstFormat = wide ? (alpha ? AV_PIX_FMT_GBRAP16 : AV_PIX_FMT_GBRP16) : AV_PIX_FMT_BGRA;
    // Scaling down averages the pixels each output pixel covers (no moiré on fine detail);
    // otherwise the filter only interpolates the chroma (linearly: a bicubic one costs three
    // times as much for no visible gain on chroma).
    const bool down = size != source;
    setup.flags
        = SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP | (down ? SWS_AREA : SWS_BILINEAR);
    setup.colorspace = frame->colorspace;
    if (frame->colorspace == AVCOL_SPC_UNSPECIFIED || frame->colorspace == AVCOL_SPC_RESERVED)
        setup.colorspace = MediaPictureGeometry::untaggedIsBT709(frame->width, frame->height) ? SWS_CS_ITU709
                                                                                              : SWS_CS_ITU601;
    setup.fullRange = frame->color_range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P
        || format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P;
    if (!prepare(setup)) {
        BVLog::appendLog("Cannot convert pictures of format %s", av_get_pix_fmt_name(format));
        return nullptr;
    }

    std::shared_ptr<QImage> image = reusableImage(size.width(), size.height());
    if (!image || image->isNull())
        return nullptr;
    const int width = size.width();
    const int height = size.height();

    MediaAVFramePtr target(av_frame_alloc());
    if (!target)
        return nullptr;
    AVFrame *dst = target.get();
    dst->format = setup.dstFormat;
    dst->width = width;
    dst->height = height;
    // 16-bit planes, each line a multiple of 64 bytes.
    const int wideStride = (width + 31) / 32 * 32;
    const int planes = alpha ? 4 : 3;
    if (wide) {
        m_wide.resize(size_t(wideStride) * size_t(height) * size_t(planes));
        dst->buf[0] = borrowedBuffer(reinterpret_cast<uint8_t *>(m_wide.data()), m_wide.size() * 2);
        for (int p = 0; p < planes; ++p) {
            dst->data[p] = reinterpret_cast<uint8_t *>(m_wide.data() + size_t(p) * wideStride * height);
            dst->linesize[p] = wideStride * 2;
        }
    } else {
        dst->buf[0] = borrowedBuffer(image->bits(), size_t(image->sizeInBytes()));
        dst->data[0] = image->bits();
        dst->linesize[0] = int(image->bytesPerLine());
    }
    if (!dst->buf[0])
        return nullptr;
    if (sws_scale_frame(m_context, dst, frame) < 0)
        return nullptr;

    const bool checker = options.checkerboard;
    if (wide) {
        // 16 bits to 8 with an ordered dither: v8 = floor(v16 x 255 / 65535 + threshold).
        const uint16_t *g = m_wide.data();
        const uint16_t *b = g + size_t(wideStride) * height;
        const uint16_t *r = b + size_t(wideStride) * height;
        const uint16_t *a = alpha ? r + size_t(wideStride) * height : nullptr;
        // The thresholds of each of the 8 dither rows along a whole line: the loop below then
        // runs on plain arrays, which the compiler vectorises.
        m_thresholds.resize(size_t(8) * size_t(width));
        for (int row = 0; row < 8; ++row)
            for (int x = 0; x < width; ++x)
                m_thresholds[size_t(row) * width + x] = uint32_t(Bayer[row][x & 7]) * 1024 + 512;
        for (int y = 0; y < height; ++y) {
            auto *line = reinterpret_cast<uint32_t *>(image->scanLine(y));
            const size_t row = size_t(y) * wideStride;
            const uint8_t *bayer = Bayer[y & 7];
            if (!a) {
                const uint32_t *t = m_thresholds.data() + size_t(y & 7) * width;
                const uint16_t *rl = r + row, *gl = g + row, *bl = b + row;
                for (int x = 0; x < width; ++x) {
                    const uint32_t rr = (uint32_t(rl[x]) * 255 + t[x]) >> 16;
                    const uint32_t gg = (uint32_t(gl[x]) * 255 + t[x]) >> 16;
                    const uint32_t bb = (uint32_t(bl[x]) * 255 + t[x]) >> 16;
                    line[x] = 0xff000000u | rr << 16 | gg << 8 | bb;
                }
                continue;
            }
            for (int x = 0; x < width; ++x) {
                const uint64_t t = uint64_t(bayer[x & 7]) * 1024 + 512;
                const uint64_t opacity = a[row + x];
                const uint64_t under = uint64_t(background(checker, x, y)) * 257 * (65535 - opacity);
                const auto mix = [&](uint16_t value) {
                    const uint64_t v16 = (uint64_t(value) * opacity + under + 32767) / 65535;
                    return uint32_t((v16 * 255 + t) >> 16);
                };
                line[x] = 0xff000000u | mix(r[row + x]) << 16 | mix(g[row + x]) << 8 | mix(b[row + x]);
            }
        }
    } else if (alpha) {
        for (int y = 0; y < height; ++y) {
            auto *line = reinterpret_cast<uint32_t *>(image->scanLine(y));
            for (int x = 0; x < width; ++x) {
                const uint32_t pixel = line[x];
                const uint32_t opacity = pixel >> 24;
                const uint32_t under = uint32_t(background(checker, x, y)) * (255 - opacity);
                const auto mix = [&](int shift) {
                    return ((((pixel >> shift) & 0xff) * opacity + under + 127) / 255) << shift;
                };
                line[x] = 0xff000000u | mix(16) | mix(8) | mix(0);
            }
        }
    }
    return image;
}
