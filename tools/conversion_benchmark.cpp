// Conversion time of one 4K picture (8-bit 4:2:0 and 10-bit 4:2:2) for the screen: the former
// conversion (bilinear fast path on one thread, full size) beside the converter the player uses,
// at full size (Actual Size) and at a 1920 x 1080 and a 1600 x 900 view, with one thread and with
// slice threads. Pictures are synthetic (gradients and fine detail) and made in memory.
//
//   bv_conversion_benchmark [repetitions]
#include "platform/media/engine/MediaFrameConverter.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <QImage>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

namespace {

AVFrame *makePicture(AVPixelFormat format, int width, int height)
{
    AVFrame *frame = av_frame_alloc();
    frame->width = width;
    frame->height = height;
    frame->format = format;
    frame->colorspace = AVCOL_SPC_BT709;
    if (av_frame_get_buffer(frame, 64) < 0)
        return nullptr;
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(format);
    const bool wide = descriptor->comp[0].depth > 8;
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane ? AV_CEIL_RSHIFT(width, descriptor->log2_chroma_w) : width;
        const int h = plane ? AV_CEIL_RSHIFT(height, descriptor->log2_chroma_h) : height;
        for (int y = 0; y < h; ++y) {
            uint8_t *line = frame->data[plane] + size_t(y) * frame->linesize[plane];
            for (int x = 0; x < w; ++x) {
                const int value = plane ? 128 + ((x + y) % 64) - 32 : 16 + (x * 219 / w) + ((x ^ y) & 3);
                if (wide)
                    reinterpret_cast<uint16_t *>(line)[x] = uint16_t(value * 4 + (x & 3));
                else
                    line[x] = uint8_t(value);
            }
        }
    }
    return frame;
}

// The conversion the player made before: swscale's default fast bilinear path at full size.
struct FormerConverter
{
    SwsContext *context = nullptr;
    QImage image;
    ~FormerConverter() { sws_freeContext(context); }
    void convert(const AVFrame *frame)
    {
        context = sws_getCachedContext(context, frame->width, frame->height, AVPixelFormat(frame->format),
            frame->width, frame->height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
        sws_setColorspaceDetails(context, sws_getCoefficients(SWS_CS_ITU709), 0,
            sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
        if (image.size() != QSize(frame->width, frame->height))
            image = QImage(frame->width, frame->height, QImage::Format_RGB32);
        uint8_t *planes[4] = {image.bits(), nullptr, nullptr, nullptr};
        int strides[4] = {int(image.bytesPerLine()), 0, 0, 0};
        sws_scale(context, frame->data, frame->linesize, 0, frame->height, planes, strides);
    }
};

double millisecondsPer(int repetitions, const std::function<void()> &job)
{
    job(); // set-up outside the timing
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < repetitions; ++i)
        job();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count()
        / repetitions;
}

} // namespace

int main(int argc, char **argv)
{
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    std::printf("4K picture conversion, ms per picture (%d repetitions, %u processors)\n", repetitions,
        std::thread::hardware_concurrency());
    std::printf("%-22s %10s %12s %12s %12s %12s\n", "source", "former", "full 1 thr", "full slices",
        "1920 view", "1600 view");
    for (const auto &[name, format] :
        {std::pair {"8-bit 4:2:0", AV_PIX_FMT_YUV420P}, std::pair {"10-bit 4:2:2", AV_PIX_FMT_YUV422P10LE}}) {
        AVFrame *frame = makePicture(format, 3840, 2160);
        if (!frame)
            return 1;
        FormerConverter former;
        const double before = millisecondsPer(repetitions, [&] { former.convert(frame); });
        MediaFrameConverter single;
        single.setThreadCount(1);
        const double full1 = millisecondsPer(repetitions, [&] { single.convert(frame); });
        MediaFrameConverter sliced;
        const double full = millisecondsPer(repetitions, [&] { sliced.convert(frame); });
        MediaPictureOptions hd;
        hd.limit = QSize(1920, 1080);
        const double view1920 = millisecondsPer(repetitions, [&] { sliced.convert(frame, hd); });
        MediaPictureOptions small;
        small.limit = QSize(1600, 900);
        const double view1600 = millisecondsPer(repetitions, [&] { sliced.convert(frame, small); });
        std::printf(
            "%-22s %10.1f %12.1f %12.1f %12.1f %12.1f\n", name, before, full1, full, view1920, view1600);
        av_frame_free(&frame);
    }
    return 0;
}
