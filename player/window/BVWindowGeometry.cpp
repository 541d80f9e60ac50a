#include "player/window/BVWindowGeometry.h"

#include <algorithm>
#include <cmath>

QSizeF BVWindowGeometry::sizeToFit(
    const QSizeF &naturalSize, const QVariantMap &fileSettingsEntry, bool audioOnly)
{
    if (audioOnly)
        return {audioWidth, audioHeight};
    QSizeF size = naturalSize;
    if (size.width() <= 0 || size.height() <= 0) {
        const QVariant width = fileSettingsEntry.value(QStringLiteral("naturalWidth"));
        const QVariant height = fileSettingsEntry.value(QStringLiteral("naturalHeight"));
        if (width.isValid() && height.isValid())
            size = QSizeF(width.toDouble(), height.toDouble());
    }
    if (size.width() <= 0 || size.height() <= 0 || !std::isfinite(size.width())
        || !std::isfinite(size.height()))
        size = QSizeF(fallbackWidth, fallbackHeight);
    return size;
}

BVWindowGeometry::Fit BVWindowGeometry::resizeWindowToFit(const QSizeF &size, double stripHeight,
    double titleBarHeight, const QRectF &currentFrame, const QRectF &screen)
{
    return resizeWindowToFit(size, QSizeF(0, stripHeight + titleBarHeight), currentFrame, screen);
}

BVWindowGeometry::Fit BVWindowGeometry::resizeWindowToFit(
    const QSizeF &size, const QSizeF &chrome, const QRectF &currentFrame, const QRectF &screen)
{
    double pictureWidth = size.width();
    double height = size.height();
    if (pictureWidth < minimumFitWidth && pictureWidth > 0) {
        height *= minimumFitWidth / pictureWidth;
        pictureWidth = minimumFitWidth;
    }
    const double width = pictureWidth + chrome.width();
    const double frameHeight = height + chrome.height();

    Fit fit;
    // A window larger than its screen would hang off it: fill the screen instead. The screen's
    // height counts as well as its width, so a tall picture never opens with its controls off
    // the bottom of the screen.
    if (!screen.isEmpty() && (screen.width() < width || screen.height() < frameHeight)) {
        fit.frame = fitToScreen(screen);
        fit.fitToScreen = true;
        return fit;
    }
    QPointF origin = currentFrame.topLeft();
    if (width > currentFrame.width()) {
        // Grow to the left, never past the screen's left edge.
        origin.setX(
            std::max(origin.x() - (width - currentFrame.width()), screen.isEmpty() ? 0.0 : screen.left()));
    }
    if (!screen.isEmpty()) {
        // Keep the whole window on the screen it opens on.
        origin.setX(std::clamp(origin.x(), screen.left(), screen.left() + screen.width() - width));
        origin.setY(std::clamp(origin.y(), screen.top(), screen.top() + screen.height() - frameHeight));
    }
    fit.frame = QRectF(origin, QSizeF(width, frameHeight));
    fit.aspectRatio = QSizeF(pictureWidth, height);
    return fit;
}

QRectF BVWindowGeometry::audioBarFrame(const QRectF &currentFrame, double stripHeight)
{
    return {currentFrame.topLeft(), QSizeF(audioBarWidth, stripHeight + 20)};
}

QRectF BVWindowGeometry::setActualSize(
    const QSizeF &naturalSize, double stripHeight, double titleBarHeight, const QRectF &currentFrame)
{
    if (naturalSize.width() <= 0 || naturalSize.height() <= 0)
        return currentFrame;
    return {currentFrame.topLeft(),
        QSizeF(naturalSize.width(), naturalSize.height() + stripHeight + titleBarHeight)};
}

QRectF BVWindowGeometry::setHalfSize(const QSizeF &naturalSize, double stripHeight, double titleBarHeight,
    const QRectF &currentFrame, const QSizeF &minimumSize)
{
    if (naturalSize.width() <= 0 || naturalSize.height() <= 0)
        return currentFrame;
    const double width = std::max(naturalSize.width() / 2, minimumSize.width());
    const double height
        = std::max(naturalSize.height() / 2 + stripHeight + titleBarHeight, minimumSize.height());
    return {currentFrame.topLeft(), QSizeF(width, height)};
}

double BVWindowGeometry::heightOfTitleBar(const QRectF &frame, const QRectF &content)
{
    return std::max(0.0, frame.height() - content.height());
}

QSizeF BVWindowGeometry::windowWillResize(
    const QSizeF &proposed, const QSizeF &pictureSize, double fixedHeight)
{
    if (pictureSize.width() <= 0 || pictureSize.height() <= 0)
        return proposed;
    return {proposed.width(),
        std::round(proposed.width() * pictureSize.height() / pictureSize.width() + fixedHeight)};
}
