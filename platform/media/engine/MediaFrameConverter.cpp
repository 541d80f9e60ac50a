#include "platform/media/engine/MediaFrameConverter.h"

#include "platform/media/MediaPictureGeometry.h"
#include "platform/media/engine/MediaDeinterlacer.h"
#include "platform/media/engine/MediaEngineTypes.h"
#include "support/BVLog.h"
#include "support/BVWorkGroup.h"
#include "support/BVWorkQueue.h"

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <cstring>
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

MediaFrameConverter::MediaFrameConverter()
    : m_deinterlacer(std::make_unique<MediaDeinterlacer>())
{ }

void MediaFrameConverter::setThreadCount(int threads)
{
    m_threads = threads;
    m_deinterlacer->setThreadCount(threads);
}

MediaFrameConverter::~MediaFrameConverter()
{
    sws_freeContext(m_context);
    for (SwsContext *context : m_halves)
        sws_freeContext(context);
}

QSize MediaFrameConverter::outputSize(const QSize &source, const QSize &limit)
{
    if (limit.width() <= 0 || limit.height() <= 0)
        return source;
    return {std::min(source.width(), limit.width()), std::min(source.height(), limit.height())};
}

std::shared_ptr<QImage> MediaFrameConverter::reusableImage(int width, int height)
{
    // The one on the screen and the one being written.
    constexpr size_t Kept = 2;
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

size_t MediaFrameConverter::heldBytes() const
{
    size_t total = m_planes.capacity() + m_thresholds.capacity() * sizeof(uint32_t);
    for (const std::shared_ptr<QImage> &image : m_recent)
        total += size_t(image->sizeInBytes());
    return total;
}

SwsContext *MediaFrameConverter::createContext(const Setup &setup, int threads)
{
    SwsContext *context = sws_alloc_context();
    if (!context)
        return nullptr;
    av_opt_set_int(context, "srcw", setup.srcWidth, 0);
    av_opt_set_int(context, "srch", setup.srcHeight, 0);
    av_opt_set_int(context, "src_format", setup.srcFormat, 0);
    av_opt_set_int(context, "dstw", setup.dstWidth, 0);
    av_opt_set_int(context, "dsth", setup.dstHeight, 0);
    av_opt_set_int(context, "dst_format", setup.dstFormat, 0);
    av_opt_set_int(context, "sws_flags", setup.flags, 0);
    av_opt_set_int(context, "threads", threads, 0);
    if (sws_init_context(context, nullptr, nullptr) < 0) {
        sws_freeContext(context);
        return nullptr;
    }
    // Pictures say which matrix and range they use (full-range RGB out).
    sws_setColorspaceDetails(context, sws_getCoefficients(setup.colorspace), setup.fullRange,
        sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    return context;
}

bool MediaFrameConverter::prepare(const Setup &setup)
{
    if (m_context && setup == m_setup)
        return true;
    sws_freeContext(m_context);
    m_setup = setup;
    m_context = createContext(setup, m_threads > 0 ? m_threads : defaultThreads());
    return m_context != nullptr;
}

bool MediaFrameConverter::prepareHalves(const Setup &setup)
{
    if (m_halves[0] && m_halves[1] && setup == m_halvesSetup)
        return true;
    m_halvesSetup = setup;
    for (SwsContext *&context : m_halves) {
        sws_freeContext(context);
        context = createContext(setup, 1);
    }
    return m_halves[0] && m_halves[1];
}

std::shared_ptr<const QImage> MediaFrameConverter::convert(
    const AVFrame *frame, const MediaPictureOptions &options)
{
    if (!frame || frame->width <= 0 || frame->height <= 0)
        return nullptr;
    // Woven fields are undone first, on this (the presenting) thread; a picture that cannot be
    // deinterlaced is shown as it is.
    MediaAVFramePtr deinterlaced;
    if (options.deinterlace && frame->interlaced_frame)
        deinterlaced = m_deinterlacer->deinterlace(frame);
    if (deinterlaced)
        frame = deinterlaced.get();
    const auto format = AVPixelFormat(frame->format);
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(format);
    if (!descriptor)
        return nullptr;
    const bool alpha = descriptor->flags & AV_PIX_FMT_FLAG_ALPHA;
    const bool wide = descriptor->comp[0].depth > 8;
    const QSize source(frame->width, frame->height);
    const QSize size = outputSize(source, options.limit);
    const bool down = size != source;
    // Large YUV pictures at their own size go through planar RGB (the packed full-chroma output
    // of swscale dithers every line sequentially, too slow for them), in bands on two threads.
    const bool planar = !down && !alpha && !(descriptor->flags & AV_PIX_FMT_FLAG_RGB)
        && (descriptor->flags & AV_PIX_FMT_FLAG_PLANAR) && descriptor->nb_components == 3
        && int64_t(source.width()) * source.height() > LargePicturePixels;

    Setup setup;
    setup.srcWidth = source.width();
    setup.srcHeight = source.height();
    setup.srcFormat = format;
    setup.dstWidth = size.width();
    setup.dstHeight = size.height();
    setup.dstFormat = wide ? (alpha ? AV_PIX_FMT_GBRAP16 : AV_PIX_FMT_GBRP16)
                           : (planar ? AV_PIX_FMT_GBRP : AV_PIX_FMT_BGRA);
    // Scaling down averages the pixels each output pixel covers (no moiré on fine detail);
    // otherwise the filter only interpolates the chroma (linearly: a bicubic one costs three
    // times as much for no visible gain on chroma).
    setup.flags
        = SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP | (down ? SWS_AREA : SWS_BILINEAR);
    setup.colorspace = frame->colorspace;
    if (frame->colorspace == AVCOL_SPC_UNSPECIFIED || frame->colorspace == AVCOL_SPC_RESERVED)
        setup.colorspace = MediaPictureGeometry::untaggedIsBT709(frame->width, frame->height) ? SWS_CS_ITU709
                                                                                              : SWS_CS_ITU601;
    setup.fullRange = frame->color_range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P
        || format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P;
    if (!(planar ? prepareHalves(setup) : prepare(setup))) {
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
    const int stride = (width * 2 + 63) / 64 * 64;
    const int planes = alpha ? 4 : 3;
    if (planar && !wide) {
        // The three planes side by side in each line of the image itself, packed in place.
        dst->buf[0] = borrowedBuffer(image->bits(), size_t(image->sizeInBytes()));
        for (int p = 0; p < planes; ++p) {
            dst->data[p] = image->bits() + size_t(p) * width;
            dst->linesize[p] = int(image->bytesPerLine());
        }
    } else if (wide) {
        m_planes.resize(size_t(stride) * size_t(height) * size_t(planes));
        dst->buf[0] = borrowedBuffer(m_planes.data(), m_planes.size());
        for (int p = 0; p < planes; ++p) {
            dst->data[p] = m_planes.data() + size_t(p) * stride * height;
            dst->linesize[p] = stride;
        }
    } else {
        dst->buf[0] = borrowedBuffer(image->bits(), size_t(image->sizeInBytes()));
        dst->data[0] = image->bits();
        dst->linesize[0] = int(image->bytesPerLine());
    }
    if (!dst->buf[0])
        return nullptr;
    if (wide) {
        // The thresholds of each of the 8 dither rows along a whole line: the loops then run on
        // plain arrays, which the compiler vectorises.
        m_thresholds.resize(size_t(8) * size_t(width));
        for (int row = 0; row < 8; ++row)
            for (int x = 0; x < width; ++x)
                m_thresholds[size_t(row) * width + x] = uint32_t(Bayer[row][x & 7]) * 1024 + 512;
    }

    const bool checker = options.checkerboard;
    if (planar) {
        // Each half on its own scaler, in bands packed while they are still in the cache.
        const int middle = height / 2;
        const auto half = [&](SwsContext *context, int from, int to) {
            std::vector<uint8_t> line(wide ? 0 : size_t(width) * 3);
            const auto pack = [&](int first, int last) {
                if (wide)
                    packWide(*dst, *image, alpha, checker, first, last);
                else
                    packPlanar(*image, line.data(), first, last);
            };
            if (sws_frame_start(context, dst, frame) < 0)
                return false;
            bool ok = sws_send_slice(context, 0, unsigned(frame->height)) >= 0;
            constexpr int Band = 32;
            for (int y = from; ok && y < to; y += Band) {
                const int rows = std::min(Band, to - y);
                ok = sws_receive_slice(context, unsigned(y), unsigned(rows)) >= 0;
                if (ok)
                    pack(y, y + rows);
            }
            sws_frame_end(context);
            return ok;
        };
        if (m_threads == 1)
            return half(m_halves[0], 0, middle) && half(m_halves[1], middle, height) ? image : nullptr;
        if (!m_helper)
            m_helper = std::make_unique<BVWorkQueue>(QStringLiteral("Picture conversion"));
        std::atomic<bool> lowerDone {false};
        m_helperJobs.async(*m_helper, [&] { lowerDone = half(m_halves[1], middle, height); });
        const bool upperDone = half(m_halves[0], 0, middle);
        m_helperJobs.wait();
        return upperDone && lowerDone ? image : nullptr;
    }
    if (sws_scale_frame(m_context, dst, frame) < 0)
        return nullptr;
    if (wide) {
        packWide(*dst, *image, alpha, checker, 0, height);
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

void MediaFrameConverter::packPlanar(QImage &image, uint8_t *line, int from, int to)
{
    const int width = image.width();
    for (int y = from; y < to; ++y) {
        uint8_t *row = image.scanLine(y);
        std::memcpy(line, row, size_t(width) * 3);
        const uint8_t *g = line, *b = line + width, *r = line + 2 * width;
        auto *pixels = reinterpret_cast<uint32_t *>(row);
        for (int x = 0; x < width; ++x)
            pixels[x] = 0xff000000u | uint32_t(r[x]) << 16 | uint32_t(g[x]) << 8 | b[x];
    }
}

void MediaFrameConverter::packWide(
    const AVFrame &planes, QImage &image, bool alpha, bool checker, int from, int to) const
{
    // 16 bits to 8 with an ordered dither: v8 = floor(v16 x 255 / 65535 + threshold).
    const int width = image.width();
    for (int y = from; y < to; ++y) {
        auto *line = reinterpret_cast<uint32_t *>(image.scanLine(y));
        const auto row = [&](int plane) {
            return reinterpret_cast<const uint16_t *>(
                planes.data[plane] + size_t(y) * planes.linesize[plane]);
        };
        const uint16_t *g = row(0), *b = row(1), *r = row(2);
        if (!alpha) {
            const uint32_t *t = m_thresholds.data() + size_t(y & 7) * width;
            for (int x = 0; x < width; ++x) {
                const uint32_t rr = (uint32_t(r[x]) * 255 + t[x]) >> 16;
                const uint32_t gg = (uint32_t(g[x]) * 255 + t[x]) >> 16;
                const uint32_t bb = (uint32_t(b[x]) * 255 + t[x]) >> 16;
                line[x] = 0xff000000u | rr << 16 | gg << 8 | bb;
            }
            continue;
        }
        const uint16_t *a = row(3);
        const uint8_t *bayer = Bayer[y & 7];
        for (int x = 0; x < width; ++x) {
            const uint64_t t = uint64_t(bayer[x & 7]) * 1024 + 512;
            const uint64_t opacity = a[x];
            const uint64_t under = uint64_t(background(checker, x, y)) * 257 * (65535 - opacity);
            const auto mix = [&](uint16_t value) {
                const uint64_t v16 = (uint64_t(value) * opacity + under + 32767) / 65535;
                return uint32_t((v16 * 255 + t) >> 16);
            };
            line[x] = 0xff000000u | mix(r[x]) << 16 | mix(g[x]) << 8 | mix(b[x]);
        }
    }
}
