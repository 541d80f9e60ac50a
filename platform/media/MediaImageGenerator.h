#pragma once

#include "platform/media/MediaAsset.h"
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
};
