#include "platform/media/MediaTransferCurve.h"

#include "support/BVLog.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libavutil/pixfmt.h>
}

namespace {

// Linear values are looked up at this many steps between 0 and 1: the curve's steepest part (12.92
// near black) then moves by a twentieth of an 8-bit code between two steps.
constexpr int kSteps = 65535;

// The 16-bit display value of every step of linear light.
const std::array<uint16_t, kSteps + 1> &displayTable()
{
    static const std::array<uint16_t, kSteps + 1> table = [] {
        std::array<uint16_t, kSteps + 1> values {};
        for (int i = 0; i <= kSteps; ++i)
            values[size_t(i)]
                = uint16_t(std::lround(MediaTransferCurve::srgbFromLinear(double(i) / kSteps) * 65535.0));
        return values;
    }();
    return table;
}

int stepOf(float value)
{
    // Not-a-number fails both comparisons and is black, as negative light is.
    if (!(value > 0.0f))
        return 0;
    if (value >= 1.0f)
        return kSteps;
    return int(std::lround(double(value) * kSteps));
}

void curveLine(const float *source, uint16_t *target, int width, bool curved)
{
    const std::array<uint16_t, kSteps + 1> &table = displayTable();
    for (int x = 0; x < width; ++x) {
        const int step = stepOf(source[x]);
        // Coverage is no light: alpha keeps its value.
        target[x] = curved ? table[size_t(step)] : uint16_t(step);
    }
}

} // namespace

bool MediaTransferCurve::holdsLinearLight(const AVFrame *frame)
{
    if (!frame)
        return false;
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(AVPixelFormat(frame->format));
    if (!descriptor || !(descriptor->flags & AV_PIX_FMT_FLAG_FLOAT))
        return false;
    return frame->color_trc == AVCOL_TRC_LINEAR || frame->color_trc == AVCOL_TRC_UNSPECIFIED;
}

double MediaTransferCurve::srgbFromLinear(double linear)
{
    if (!(linear > 0.0))
        return 0.0;
    if (linear >= 1.0)
        return 1.0;
    if (linear <= 0.0031308)
        return 12.92 * linear;
    return 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
}

void MediaTransferCurve::FrameDeleter::operator()(AVFrame *frame) const
{
    av_frame_free(&frame);
}

MediaTransferCurve::Frame MediaTransferCurve::displayFrame(const AVFrame *linear)
{
    if (!linear || linear->width <= 0 || linear->height <= 0)
        return nullptr;
    // Source planes in the order green, blue, red (and alpha) of the planar formats; grey is
    // repeated into the three colour planes.
    int colourPlanes[3] = {0, 1, 2};
    int alphaPlane = -1;
    switch (linear->format) {
    case AV_PIX_FMT_GBRPF32:
        break;
    case AV_PIX_FMT_GBRAPF32:
        alphaPlane = 3;
        break;
    case AV_PIX_FMT_GRAYF32:
        colourPlanes[1] = colourPlanes[2] = 0;
        break;
    default:
        if (static std::atomic<bool> logged {false}; !logged.exchange(true))
            BVLog::appendLog("Linear pictures of pixel format %@ are shown as stored",
                QString::fromLatin1(av_get_pix_fmt_name(AVPixelFormat(linear->format))));
        return nullptr;
    }
    Frame display(av_frame_alloc());
    if (!display)
        return nullptr;
    display->format = alphaPlane >= 0 ? AV_PIX_FMT_GBRAP16 : AV_PIX_FMT_GBRP16;
    display->width = linear->width;
    display->height = linear->height;
    if (av_frame_get_buffer(display.get(), 0) < 0 || av_frame_copy_props(display.get(), linear) < 0)
        return nullptr;
    display->color_trc = AVCOL_TRC_IEC61966_2_1;
    display->color_range = AVCOL_RANGE_JPEG;
    for (int plane = 0; plane < (alphaPlane >= 0 ? 4 : 3); ++plane) {
        const int from = plane < 3 ? colourPlanes[plane] : alphaPlane;
        for (int y = 0; y < linear->height; ++y) {
            const auto *source
                = reinterpret_cast<const float *>(linear->data[from] + ptrdiff_t(y) * linear->linesize[from]);
            auto *target = reinterpret_cast<uint16_t *>(
                display->data[plane] + ptrdiff_t(y) * display->linesize[plane]);
            curveLine(source, target, linear->width, plane < 3);
        }
    }
    return display;
}
