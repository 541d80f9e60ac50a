// Conversion time of one 4K picture (8-bit 4:2:0 and 10-bit 4:2:2) for the screen: the former
// conversion (bilinear fast path on one thread, full size) and the previous full-size one
// (swscale's packed full-chroma output, 16-bit planes dithered for 10-bit, slice threads) beside
// the converter the player uses, at full size (Actual Size) with one thread and with its two, and
// at a 1920 x 1080 and a 1600 x 900 view. Pictures are synthetic (gradients and fine detail) and
// made in memory.
//
//   bv_conversion_benchmark [repetitions]
#include "platform/media/engine/MediaFrameConverter.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <QImage>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

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

// The previous full-size conversion: swscale straight to packed BGRA with full chroma
// interpolation (16-bit planar RGB dithered to 8 bits for deeper pictures), slice threads.
struct PreviousConverter
{
    SwsContext *context = nullptr;
    QImage image;
    std::vector<uint16_t> wide;
    ~PreviousConverter() { sws_freeContext(context); }
    void convert(const AVFrame *frame)
    {
        const bool deep = av_pix_fmt_desc_get(AVPixelFormat(frame->format))->comp[0].depth > 8;
        if (!context) {
            context = sws_alloc_context();
            av_opt_set_int(context, "srcw", frame->width, 0);
            av_opt_set_int(context, "srch", frame->height, 0);
            av_opt_set_int(context, "src_format", frame->format, 0);
            av_opt_set_int(context, "dstw", frame->width, 0);
            av_opt_set_int(context, "dsth", frame->height, 0);
            av_opt_set_int(context, "dst_format", deep ? AV_PIX_FMT_GBRP16 : AV_PIX_FMT_BGRA, 0);
            av_opt_set_int(context, "sws_flags",
                SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP | SWS_BILINEAR, 0);
            av_opt_set_int(context, "threads", std::clamp(int(std::thread::hardware_concurrency()), 1, 4), 0);
            if (sws_init_context(context, nullptr, nullptr) < 0)
                std::abort();
            sws_setColorspaceDetails(context, sws_getCoefficients(SWS_CS_ITU709), 0,
                sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
        }
        if (image.size() != QSize(frame->width, frame->height))
            image = QImage(frame->width, frame->height, QImage::Format_RGB32);
        const int width = frame->width, height = frame->height;
        const int stride = (width + 31) / 32 * 32;
        if (!deep) {
            uint8_t *planes[4] = {image.bits(), nullptr, nullptr, nullptr};
            int strides[4] = {int(image.bytesPerLine()), 0, 0, 0};
            sws_scale(context, frame->data, frame->linesize, 0, height, planes, strides);
            return;
        }
        wide.resize(size_t(stride) * height * 3);
        uint8_t *planes[4] = {reinterpret_cast<uint8_t *>(wide.data()),
            reinterpret_cast<uint8_t *>(wide.data() + size_t(stride) * height),
            reinterpret_cast<uint8_t *>(wide.data() + size_t(stride) * height * 2), nullptr};
        int strides[4] = {stride * 2, stride * 2, stride * 2, 0};
        sws_scale(context, frame->data, frame->linesize, 0, height, planes, strides);
        static constexpr uint8_t Bayer[8][8] = {{0, 32, 8, 40, 2, 34, 10, 42},
            {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
            {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41}, {51, 19, 59, 27, 49, 17, 57, 25},
            {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21}};
        std::vector<uint32_t> thresholds(size_t(8) * width);
        for (int row = 0; row < 8; ++row)
            for (int x = 0; x < width; ++x)
                thresholds[size_t(row) * width + x] = uint32_t(Bayer[row][x & 7]) * 1024 + 512;
        for (int y = 0; y < height; ++y) {
            auto *line = reinterpret_cast<uint32_t *>(image.scanLine(y));
            const size_t row = size_t(y) * stride;
            const uint16_t *g = wide.data() + row, *b = g + size_t(stride) * height,
                           *r = b + size_t(stride) * height;
            const uint32_t *t = thresholds.data() + size_t(y & 7) * width;
            for (int x = 0; x < width; ++x)
                line[x] = 0xff000000u | ((uint32_t(r[x]) * 255 + t[x]) >> 16) << 16
                    | ((uint32_t(g[x]) * 255 + t[x]) >> 16) << 8 | ((uint32_t(b[x]) * 255 + t[x]) >> 16);
        }
    }
};

double cpuMilliseconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// Processor time of the latest millisecondsPer() per picture, all threads together: on a shared
// machine the fairer measure of the work.
double lastCpuPer = 0;

double millisecondsPer(int repetitions, const std::function<void()> &job)
{
    job(); // set-up outside the timing
    const double cpuStart = cpuMilliseconds();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < repetitions; ++i)
        job();
    lastCpuPer = (cpuMilliseconds() - cpuStart) / repetitions;
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count()
        / repetitions;
}

} // namespace

int main(int argc, char **argv)
{
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    std::printf("4K picture conversion, ms per picture (%d repetitions, %u processors)\n", repetitions,
        std::thread::hardware_concurrency());
    std::printf("%-22s %10s %14s %12s %12s %12s %12s\n", "source", "former", "previous full", "full 1 thr",
        "full 2 thr", "1920 view", "1600 view");
    for (const auto &[name, format] :
        {std::pair {"8-bit 4:2:0", AV_PIX_FMT_YUV420P}, std::pair {"10-bit 4:2:2", AV_PIX_FMT_YUV422P10LE}}) {
        AVFrame *frame = makePicture(format, 3840, 2160);
        if (!frame)
            return 1;
        FormerConverter former;
        const double before = millisecondsPer(repetitions, [&] { former.convert(frame); });
        // The previous and the present full-size conversion take turns, so that the load of a
        // shared machine weighs on both alike.
        PreviousConverter previous;
        MediaFrameConverter single;
        single.setThreadCount(1);
        MediaFrameConverter sliced;
        double previousFull = 0, full1 = 0, full = 0;
        double previousCpu = 0, full1Cpu = 0, fullCpu = 0;
        for (int turn = 0; turn < 3; ++turn) {
            previousFull += millisecondsPer(repetitions, [&] { previous.convert(frame); }) / 3;
            previousCpu += lastCpuPer / 3;
            full1 += millisecondsPer(repetitions, [&] { single.convert(frame); }) / 3;
            full1Cpu += lastCpuPer / 3;
            full += millisecondsPer(repetitions, [&] { sliced.convert(frame); }) / 3;
            fullCpu += lastCpuPer / 3;
        }
        MediaPictureOptions hd;
        hd.limit = QSize(1920, 1080);
        const double view1920 = millisecondsPer(repetitions, [&] { sliced.convert(frame, hd); });
        MediaPictureOptions small;
        small.limit = QSize(1600, 900);
        const double view1600 = millisecondsPer(repetitions, [&] { sliced.convert(frame, small); });
        std::printf("%-22s %10.1f %14.1f %12.1f %12.1f %12.1f %12.1f\n", name, before, previousFull, full1,
            full, view1920, view1600);
        std::printf("%-22s %10s %14.1f %12.1f %12.1f   (processor ms per picture, all threads)\n", "", "",
            previousCpu, full1Cpu, fullCpu);
        av_frame_free(&frame);
    }
    return 0;
}
