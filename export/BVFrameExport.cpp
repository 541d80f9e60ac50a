#include "export/BVFrameExport.h"

#include "platform/defaults/BVUserDefaults.h"
#include "platform/media/MediaImageGenerator.h"
#include "player/media/BVPictureRotation.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImageWriter>
#include <QPainter>
#include <QSaveFile>
#include <QTransform>

#include <cmath>

QStringList BVFrameExport::formatTitles()
{
    return {QStringLiteral("PNG Image (*.png)"), QStringLiteral("JPEG Image (*.jpg)"),
        QStringLiteral("TIFF Image (*.tif)")};
}

QString BVFrameExport::extension(int format)
{
    switch (format) {
    case JPEG:
        return QStringLiteral("jpg");
    case TIFF:
        return QStringLiteral("tif");
    default:
        return QStringLiteral("png");
    }
}

QImage BVFrameExport::rotatedForView(const QImage &upright, int rotation)
{
    switch (rotation) {
    case BVPictureRotation::RotationFlipHorizontal:
        return upright.mirrored(true, false);
    case BVPictureRotation::Rotation270: // shown a quarter turn clockwise
        return upright.transformed(QTransform().rotate(90));
    case BVPictureRotation::Rotation90: // shown a quarter turn counter-clockwise
        return upright.transformed(QTransform().rotate(270));
    default:
        return upright;
    }
}

QSizeF BVFrameExport::rotatedSize(const QSizeF &size, int rotation)
{
    if (rotation == BVPictureRotation::Rotation270 || rotation == BVPictureRotation::Rotation90)
        return size.transposed();
    return size;
}

std::optional<QImage> BVFrameExport::movieFrame(
    const std::shared_ptr<MediaAsset> &asset, const MediaTime &time, const ViewOptions &view, BVError *error)
{
    MediaImageGenerator::Options options;
    options.upright = true;
    options.deinterlace = view.deinterlace;
    std::optional<QImage> image = MediaImageGenerator::copyImageAtTime(asset, time, options, error);
    if (image)
        *image = rotatedForView(*image, view.rotation);
    return image;
}

BVFrameExport::Matte BVFrameExport::matteFor(const QSizeF &naturalSize, double ratio)
{
    const double w = naturalSize.width();
    const double h = naturalSize.height();
    if (ratio <= 0 || w <= 0 || h <= 0)
        return {};
    if (h - w / ratio < 0)
        return {true, int(std::ceil((w - ratio * h) / 2))};
    return {false, int(std::ceil((h - w / ratio) / 2))};
}

void BVFrameExport::burnMatte(QImage &image, const QSizeF &naturalSize, double ratio)
{
    const Matte matte = matteFor(naturalSize, ratio);
    if (matte.bar <= 0)
        return;
    if (image.format() != QImage::Format_RGBA8888)
        image = image.convertToFormat(QImage::Format_RGBA8888);
    // The natural size in points is the whole bitmap: the bars run to the bitmap's edges.
    const int width = image.width();
    const int height = image.height();
    // Display points to stored pixels on the barred axis (1 for square pixels).
    const double scale
        = matte.columns ? image.width() / naturalSize.width() : image.height() / naturalSize.height();
    const int bar = scale == 1 ? matte.bar : int(std::ceil(matte.bar * scale - 1e-9));
    auto black = [&](int x, int y) {
        if (x >= 0 && y >= 0 && x < image.width() && y < image.height())
            image.setPixel(x, y, qRgba(0, 0, 0, 255));
    };
    if (matte.columns) {
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < bar; ++x)
                black(x, y);
            for (int x = width - bar; x < width; ++x)
                black(x, y);
        }
    } else {
        for (int x = 0; x < image.width(); ++x) {
            for (int y = 0; y < bar; ++y)
                black(x, y);
            for (int y = height - bar; y < height; ++y)
                black(x, y);
        }
    }
}

void BVFrameExport::compositeAnnotation(
    QImage &image, const QSizeF &naturalSize, const AnnotationRenderer &renderer)
{
    if (!renderer || naturalSize.isEmpty())
        return;
    QImage layer(naturalSize.toSize(), QImage::Format_RGBA8888_Premultiplied);
    layer.fill(Qt::transparent);
    {
        QPainter painter(&layer);
        renderer(painter, QRectF(QPointF(0, 0), naturalSize));
    }
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setOpacity(1);
    // The layer has the display size; the picture keeps its stored pixels.
    painter.drawImage(QRectF(0, 0, image.width(), image.height()), layer);
}

QByteArray BVFrameExport::encode(const QImage &source, int format, const QSizeF &naturalSize)
{
    QImage image = source;
    // Display aspect in the resolution: 72 dpi across the display width.
    if (naturalSize.width() > 0 && naturalSize.height() > 0) {
        image.setDotsPerMeterX(int(std::lround(72 / 0.0254 * image.width() / naturalSize.width())));
        image.setDotsPerMeterY(int(std::lround(72 / 0.0254 * image.height() / naturalSize.height())));
    }
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format == JPEG ? "jpeg" : format == TIFF ? "tiff" : "png");
    if (format == JPEG) {
        writer.setQuality(85);
        image = image.convertToFormat(QImage::Format_RGB888);
    }
    if (!writer.write(image))
        return {};
    return data;
}

QString BVFrameExport::pathForFormat(const QString &path, int format)
{
    const QString wanted = extension(format);
    QString own = QFileInfo(path).suffix().toLower();
    // The long spellings name the same formats.
    if (own == QLatin1String("jpeg"))
        own = QStringLiteral("jpg");
    else if (own == QLatin1String("tiff"))
        own = QStringLiteral("tif");
    if (own == wanted)
        return path;
    return path + u'.' + wanted;
}

QString BVFrameExport::proposedName(const QString &baseName, const QString &timecode)
{
    QString digits = timecode;
    digits.remove(u':').remove(u';');
    return QStringLiteral("%1 %2.png").arg(baseName, digits);
}

QString BVFrameExport::saveFrame(QImage image, const QString &path, int format, const QSizeF &naturalSize,
    double matteRatio, bool burnMatteOn, const AnnotationRenderer &annotation)
{
    image = image.convertToFormat(QImage::Format_RGBA8888);
    if (matteRatio > 0 && burnMatteOn)
        burnMatte(image, naturalSize, matteRatio);
    compositeAnnotation(image, naturalSize, annotation);
    const QByteArray data = encode(image, format, naturalSize);
    const QString target = pathForFormat(path, format);
    QSaveFile file(target);
    if (data.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(data) != data.size()
        || !file.commit())
        return {};
    return target;
}

QString BVFrameExport::saveFrameWithSettings(QImage image, const QString &path, int format,
    const QSizeF &naturalSize, const AnnotationRenderer &annotation)
{
    BVUserDefaults *defaults = BVUserDefaults::standardUserDefaults();
    const QVariant burn = defaults->objectForKey(QStringLiteral("frameAspectRatioMask"));
    return saveFrame(std::move(image), path, format, naturalSize,
        defaults->doubleForKey(QStringLiteral("mask")), burn.isValid() ? burn.toBool() : true, annotation);
}

bool BVFrameExport::embedsAnnotation()
{
    return BVUserDefaults::standardUserDefaults()->boolForKey(QStringLiteral("frameEmbedAnnotation"));
}
