#pragma once

#include "platform/media/MediaAsset.h"
#include "platform/media/MediaTime.h"
#include "support/BVError.h"

#include <QByteArray>
#include <QImage>
#include <QSizeF>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QPainter;

// Saving the frame on screen as a still image (the document's exportFrame: and saveFrame:format:):
// the matte burnt in, the annotation drawn over it, encoded as PNG, JPEG or TIFF. No widgets.
class BVFrameExport
{
public:
    BVFrameExport() = delete;

    enum Format { PNG = 0, JPEG = 1, TIFF = 2 };
    // The format pop-up's items and the extension each carries.
    static QStringList formatTitles();
    static QString extension(int format);

    // What the playback view does to the picture beyond the media's own orientation: the user's
    // "rotation" (1 none, 2 flip horizontally, 3 a quarter turn clockwise, 4 a quarter turn
    // counter-clockwise, as the view applies it) and deinterlacing.
    struct ViewOptions
    {
        int rotation = 1;
        bool deinterlace = false;
    };
    // The upright picture turned or flipped by the view's rotation; pixels are moved, not resampled.
    static QImage rotatedForView(const QImage &upright, int rotation);
    // A display size once the view's rotation is applied (sides swapped for a quarter turn).
    static QSizeF rotatedSize(const QSizeF &size, int rotation);
    // The exact frame of a movie at the time as the window shows it: upright by the track's display
    // matrix, deinterlaced when asked, then turned by the view's rotation. Blocking: call off the
    // main thread. None (and *error) when there is no picture.
    static std::optional<QImage> movieFrame(const std::shared_ptr<MediaAsset> &asset, const MediaTime &time,
        const ViewOptions &view, BVError *error);

    // Draws the annotation layer (its 960 x 540 canvas scaled to the whole rectangle). The hook of
    // the annotations feature; none draws nothing.
    using AnnotationRenderer = std::function<void(QPainter &painter, const QRectF &target)>;

    // The matte bars of a picture of natural size w x h for the ratio r: columns at left and right
    // (wider than the matte) or rows at top and bottom, b of each. b = 0 when the ratios match.
    struct Matte
    {
        bool columns = false;
        int bar = 0;
    };
    static Matte matteFor(const QSizeF &naturalSize, double ratio);
    // Sets the matte's pixels to opaque black (ratio above 0), within the natural size. The bars are
    // measured on the display size and cover the same part of the picture in stored pixels (a
    // picture of non-square pixels has fewer columns than display points).
    static void burnMatte(QImage &image, const QSizeF &naturalSize, double ratio);
    // Draws the annotation over the picture, source-over at full opacity, through a transparent
    // premultiplied layer of the natural size.
    static void compositeAnnotation(
        QImage &image, const QSizeF &naturalSize, const AnnotationRenderer &renderer);
    // PNG; JPEG with compression factor 0.85; TIFF; any other index as PNG. The display size goes into
    // the resolution metadata (the pixels are not resampled).
    static QByteArray encode(const QImage &image, int format, const QSizeF &naturalSize);
    // The path, with the format's extension appended when its own (lower-cased; "jpeg" and "tiff"
    // count as "jpg" and "tif") differs.
    static QString pathForFormat(const QString &path, int format);
    // The proposed file name: "<base name> <timecode digits>.png".
    static QString proposedName(const QString &baseName, const QString &timecode);
    // Everything after the grab: matte (when burning is on), annotation (when embedding is on and a
    // renderer is given), encoding, the extension rule, an atomic write. Answers the path written,
    // empty when the file could not be written.
    static QString saveFrame(QImage image, const QString &path, int format, const QSizeF &naturalSize,
        double matteRatio, bool burnMatteOn, const AnnotationRenderer &annotation);
    // As saveFrame with the user's settings: the matte ratio "mask" and "frameAspectRatioMask"
    // (default on). The window and the command line save frames through it.
    static QString saveFrameWithSettings(QImage image, const QString &path, int format,
        const QSizeF &naturalSize, const AnnotationRenderer &annotation);
    // "frameEmbedAnnotation": draw the annotation into exported frames (default off).
    static bool embedsAnnotation();
};
