#pragma once

#include "platform/media/MediaAsset.h"
#include "platform/media/MediaFrameIndex.h"
#include "platform/media/MediaMetadataItem.h"
#include "platform/media/MediaTime.h"

#include <QSizeF>
#include <QStringList>
#include <QUrl>
#include <QVariantList>

#include <memory>

// What the information panel describes: the open media and the document's state. Filled by the
// document (main thread); the row builders read files and the asset, so the asset must have loaded.
struct BVMediaInfoSource
{
    bool isImageSequence = false;
    QStringList files; // image sequence: its files
    QSizeF firstImageSize; // image sequence: the first image's size
    bool linearLight = false; // image sequence: scene-linear pictures shown through the sRGB curve
    std::shared_ptr<MediaAsset> asset; // movie or audio file
    QList<MediaMetadataItem> metadata; // the media's common metadata
    double fps = 0;
    // Footage whose frames do not come at a constant rate: its real frames (fps is then the rate
    // its timecode counts in). None for constant-rate media.
    std::shared_ptr<const MediaFrameIndex> frameIndex;
    uint64_t frameCount = 0;
    int64_t timebase = 30;
    bool ntsc = false;
    MediaTime duration;
    QUrl fileURL;
    QString displayName;
    int veloFileID = -1; // -1 for a local file
    bool isVelo = false;
    MediaTimeRange inOutRange;
    int timecodeDisplay = 0; // 2: frames
};

// The rows of the information panel: records with "description" and "value", or "type" =
// "separator". No widgets.
class BVMediaInfo
{
public:
    BVMediaInfo() = delete;

    // Title, path, rate, duration, dates, sizes, data rate, resolution, aspect ratio, how the
    // picture is read, the selected range, then the tracks; rows whose value cannot be had are
    // left out.
    static QVariantList infoRows(const BVMediaInfoSource &source);
    // One row per metadata item with a common key and a string value, the title left out; none
    // (the previous list is kept) for cloud files and image sequences.
    static std::optional<QVariantList> metadataRows(const BVMediaInfoSource &source);
    // "Video - H.264 (avc1)", "Audio - Linear PCM 16-bit 48.0KHz Stereo", "Timecode - 01:00:00:00" ...;
    // empty for media types without a row.
    // The rows that say how a video track's pictures are read: "Color Matrix" (with "(assumed: not
    // tagged)" when the stream does not say), "Field Order", "Pixel Aspect Ratio" and "Orientation",
    // each only when known or not plain. Texts go through the translator.
    static QVariantList pictureRows(const MediaTrack &track);
    static QString trackValue(const std::shared_ptr<MediaAsset> &asset, const MediaTrack &track);
};
