#include "platform/media/MediaImageGenerator.h"

#include "platform/media/MediaAssetProbe.h"
#include "platform/media/MediaAssetTrackOutput.h"
#include "platform/media/MediaTransferCurve.h"
#include "platform/media/engine/MediaFrameConverter.h"

#include <QTransform>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

std::optional<QImage> MediaImageGenerator::copyImageAtTime(
    const std::shared_ptr<MediaAsset> &asset, const MediaTime &time, BVError *error)
{
    return copyImageAtTime(asset, time, Options(), error);
}

std::optional<QImage> MediaImageGenerator::copyImageAtTime(const std::shared_ptr<MediaAsset> &asset,
    const MediaTime &time, const Options &options, BVError *error, Reading *reading)
{
    if (reading)
        *reading = Reading();
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
    // Scene-linear pictures (OpenEXR) are shown through the display curve, not as stored.
    MediaTransferCurve::Frame display;
    if (MediaTransferCurve::holdsLinearLight(frame) && (display = MediaTransferCurve::displayFrame(frame))) {
        frame = display.get();
        if (reading)
            reading->linearLight = true;
    }
    // The same conversion as the picture on screen: the frame's colour matrix (or the one its size
    // suggests), accurate rounding, dithering from more than 8 bits.
    MediaFrameConverter converter;
    MediaPictureOptions pictureOptions;
    pictureOptions.deinterlace = options.deinterlace;
    const std::shared_ptr<const QImage> converted = converter.convert(frame, pictureOptions);
    if (!converted) {
        if (error)
            *error = MediaAssetProbe::errorFromCode(
                AVERROR(EINVAL), QStringLiteral("The picture could not be converted."), asset->location());
        return std::nullopt;
    }
    QImage image = converted->convertToFormat(QImage::Format_RGBA8888);
    if (options.upright)
        image = orientedImage(image, video.first().preferredOrientation());
    return image;
}

QImage MediaImageGenerator::orientedImage(
    const QImage &image, const MediaPictureGeometry::Orientation &orientation)
{
    QImage turned = orientation.mirrored ? image.mirrored(true, false) : image;
    if (orientation.quarterTurns % 4 != 0) {
        // Quarter turns of a raster image move whole pixels (y downward: positive is clockwise).
        turned = turned.transformed(QTransform().rotate(90.0 * (orientation.quarterTurns % 4)));
    }
    return turned;
}
