#pragma once

#include <cstdint>
#include <memory>

struct AVFrame;

// The light a decoded picture's values stand for, and the curve that brings scene-linear pictures
// (OpenEXR plates and other floating-point pictures) to a display.
class MediaTransferCurve
{
public:
    MediaTransferCurve() = delete;

    // Whether the picture holds scene-linear light: floating-point pixels tagged linear, or not
    // tagged at all (floating-point pictures hold light unless they say otherwise). A picture
    // tagged with any other curve is display-referred already and is shown as stored.
    static bool holdsLinearLight(const AVFrame *frame);

    // The display value (0 to 1) of a linear light value through the sRGB curve: negatives (and
    // not-a-number) give 0, values of 1 and more give 1.
    static double srgbFromLinear(double linear);

    struct FrameDeleter
    {
        void operator()(AVFrame *frame) const;
    };
    using Frame = std::unique_ptr<AVFrame, FrameDeleter>;

    // A copy of a linear floating-point picture brought to the display through the sRGB curve, as
    // 16-bit planar RGB (with its alpha, kept linear and clipped to 0..1), tagged with the sRGB
    // curve. Null when the picture is of no floating-point format handled here.
    static Frame displayFrame(const AVFrame *linear);
};
