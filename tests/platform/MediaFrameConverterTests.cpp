// Pictures over 1080p shown at their own size: colour bars written as BT.709 YUV by hand come out
// at their RGB values (within 2 codes) at 8-bit 4:2:0 and 10-bit 4:2:2, the two halves of the
// picture join without a seam, and the chroma between two bars is interpolated, not repeated.
#include "platform/media/engine/MediaEngineTypes.h"
#include "platform/media/engine/MediaFrameConverter.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

#include <array>
#include <cmath>
#include <cstring>

namespace {

struct Rgb
{
    int r, g, b;
};

constexpr std::array<Rgb, 8> Bars {{{200, 40, 40}, {40, 200, 40}, {40, 40, 200}, {190, 190, 30},
    {30, 180, 180}, {180, 30, 180}, {235, 235, 235}, {20, 20, 20}}};

// BT.709, limited range, at `depth` bits: Y in 16..235 and Cb, Cr in 16..240 (scaled by 2^(depth-8)).
std::array<int, 3> yuv709(const Rgb &rgb, int depth)
{
    const double r = rgb.r / 255.0, g = rgb.g / 255.0, b = rgb.b / 255.0;
    const double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    const double cb = (b - y) / 1.8556, cr = (r - y) / 1.5748;
    const double scale = double(1 << (depth - 8));
    return {int(std::lround((16 + 219 * y) * scale)), int(std::lround((128 + 224 * cb) * scale)),
        int(std::lround((128 + 224 * cr) * scale))};
}

int barAt(int x, int width)
{
    return x * int(Bars.size()) / width;
}

// Vertical bars across the picture; chroma samples take the bar of the luma sample they sit on.
MediaAVFramePtr barsPicture(AVPixelFormat format, int width, int height)
{
    MediaAVFramePtr frame(av_frame_alloc());
    frame->format = format;
    frame->width = width;
    frame->height = height;
    frame->colorspace = AVCOL_SPC_BT709;
    frame->color_range = AVCOL_RANGE_MPEG;
    EXPECT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(format);
    const int depth = descriptor->comp[0].depth;
    for (int plane = 0; plane < 3; ++plane) {
        const int shiftX = plane ? descriptor->log2_chroma_w : 0;
        const int shiftY = plane ? descriptor->log2_chroma_h : 0;
        for (int y = 0; y < AV_CEIL_RSHIFT(height, shiftY); ++y) {
            uint8_t *line = frame->data[plane] + size_t(y) * frame->linesize[plane];
            for (int x = 0; x < AV_CEIL_RSHIFT(width, shiftX); ++x) {
                const int value = yuv709(Bars[size_t(barAt(x << shiftX, width))], depth)[size_t(plane)];
                if (depth > 8)
                    reinterpret_cast<uint16_t *>(line)[x] = uint16_t(value);
                else
                    line[x] = uint8_t(value);
            }
        }
    }
    return frame;
}

void expectBars(const QImage &image, const char *label)
{
    const int width = image.width();
    const int n = int(Bars.size());
    for (int y : {0, image.height() / 2 - 1, image.height() / 2, image.height() - 1}) {
        for (int i = 0; i < n; ++i) {
            // Well inside the bar: away from the interpolation at its edges.
            for (int x : {width * i / n + 8, width * (2 * i + 1) / (2 * n), width * (i + 1) / n - 9}) {
                const QColor seen(image.pixel(x, y));
                EXPECT_NEAR(seen.red(), Bars[size_t(i)].r, 2)
                    << label << " bar " << i << " at " << x << "," << y;
                EXPECT_NEAR(seen.green(), Bars[size_t(i)].g, 2)
                    << label << " bar " << i << " at " << x << "," << y;
                EXPECT_NEAR(seen.blue(), Bars[size_t(i)].b, 2)
                    << label << " bar " << i << " at " << x << "," << y;
            }
        }
    }
}

TEST(MediaFrameConverter, LargePicturesAtTheirOwnSizeKeepTheirColoursAcrossThePicture)
{
    constexpr int Width = 3840, Height = 2160;
    for (const auto &[label, format] :
        {std::pair {"8-bit 4:2:0", AV_PIX_FMT_YUV420P}, std::pair {"10-bit 4:2:2", AV_PIX_FMT_YUV422P10LE}}) {
        MediaAVFramePtr frame = barsPicture(format, Width, Height);
        MediaFrameConverter converter;
        std::shared_ptr<const QImage> image = converter.convert(frame.get());
        ASSERT_TRUE(image) << label;
        ASSERT_EQ(image->size(), QSize(Width, Height)) << label;
        expectBars(*image, label);
        // Converted again into the same buffers: the same picture.
        const QImage first = image->copy();
        image.reset();
        std::shared_ptr<const QImage> again = converter.convert(frame.get());
        ASSERT_TRUE(again);
        EXPECT_TRUE(*again == first) << label;
        // Every line the same as the first (the bars are vertical; past 8 bits as the first with
        // the same row of the 8-line dither): no seam where the halves meet.
        const int period = format == AV_PIX_FMT_YUV420P ? 1 : 8;
        int differing = 0;
        for (int y = period; y < Height; ++y)
            differing
                += std::memcmp(again->constScanLine(y), again->constScanLine(y % period), size_t(Width) * 4)
                != 0;
        EXPECT_EQ(differing, 0) << label;
        // Between the red and the green bar the chroma is interpolated: the edge pixel lies
        // between the two colours instead of being one of them.
        const int edge = Width / int(Bars.size());
        const QColor before(again->pixel(edge - 4, 0)), after(again->pixel(edge + 4, 0));
        EXPECT_NEAR(before.red(), Bars[0].r, 2) << label;
        EXPECT_NEAR(after.green(), Bars[1].g, 2) << label;
        bool between = false;
        for (int x = edge - 2; x <= edge + 1; ++x) {
            const QColor c(again->pixel(x, 0));
            between = between || (c.red() > Bars[1].r + 8 && c.red() < Bars[0].r - 8);
        }
        EXPECT_TRUE(between) << label;
    }
}

} // namespace
