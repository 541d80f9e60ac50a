#pragma once

#include "platform/media/MediaAsset.h"
#include "platform/media/MediaPictureGeometry.h"
#include "platform/media/MediaTime.h"
#include "support/BVError.h"

#include <QImage>

#include <memory>
#include <optional>

// Still pictures of an asset's first video track. Blocking: call off the main thread.
class MediaImageGenerator
{
public:
    MediaImageGenerator() = delete;

    // The exact picture shown at the time (the one whose display interval contains it), in its
    // stored pixel size, as RGBA. None (and *error) when there is no such picture.
    static std::optional<QImage> copyImageAtTime(
        const std::shared_ptr<MediaAsset> &asset, const MediaTime &time, BVError *error);

    // How the picture is made: as stored, or as the player shows it.
    struct Options
    {
        // Mirrored and turned by the track's display matrix, so that it stands upright.
        bool upright = false;
        // Woven fields of an interlaced picture undone (bwdif), as the view does when asked.
        bool deinterlace = false;
    };
    // How the picture was read, besides being converted.
    struct Reading
    {
        // The picture held scene-linear light and was brought to the display through the sRGB
        // curve (see MediaTransferCurve); false when its values were shown as stored.
        bool linearLight = false;
    };
    static std::optional<QImage> copyImageAtTime(const std::shared_ptr<MediaAsset> &asset,
        const MediaTime &time, const Options &options, BVError *error, Reading *reading = nullptr);

    // A stored picture brought upright: mirrored left to right first (when asked), then turned
    // clockwise by the quarter turns. Pixels are moved, never resampled.
    static QImage orientedImage(const QImage &image, const MediaPictureGeometry::Orientation &orientation);
};
