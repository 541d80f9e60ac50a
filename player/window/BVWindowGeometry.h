#pragma once

#include <QRectF>
#include <QSizeF>
#include <QVariantMap>

// The window arithmetic of the player window: the size a window opens at for its media, actual and
// half size, fitting to the screen, the audio bar, the live-resize aspect rule and the title bar.
// Pure functions on rectangles in screen coordinates (y downward, as Qt has them); the document
// reads the window and screen and applies what these answer. Frames include the title bar.
class BVWindowGeometry
{
public:
    // The narrowest a window opens at; narrower media are scaled up to it.
    static constexpr double minimumFitWidth = 540;
    static constexpr double fallbackWidth = 960, fallbackHeight = 540;
    static constexpr double audioWidth = 600, audioHeight = 100;
    static constexpr double audioBarWidth = 620;

    struct Fit
    {
        QRectF frame; // the window frame to set (title bar included)
        // The picture size whose aspect the window keeps while resizing (windowWillResize); the
        // audio bar and a window fitted to the screen leave it empty: no aspect is kept.
        QSizeF aspectRatio;
        bool fitToScreen = false; // the media did not fit: the frame is the screen's
    };

    // Step 2 of fitting: the media's natural size, else the sizes stored for the file in its
    // per-file settings entry ("naturalWidth", "naturalHeight"), else 960 x 540; audio 600 x 100.
    static QSizeF sizeToFit(const QSizeF &naturalSize, const QVariantMap &fileSettingsEntry, bool audioOnly);
    // The window fitted to its media: the frame for media of `size` (from sizeToFit) under a control strip of
    // `stripHeight` and a title bar of `titleBarHeight`, in a window now at `currentFrame` on a
    // screen whose available area is `screen`. Narrow media open 540 wide; a window growing wider
    // grows to the left (never past the screen's left edge); media larger than the screen fit it.
    static Fit resizeWindowToFit(const QSizeF &size, double stripHeight, double titleBarHeight,
        const QRectF &currentFrame, const QRectF &screen);
    // The same with `chrome`, everything the window puts around the picture (borders, title bar,
    // menu bar, strip) as measured; the fit's aspectRatio is then the picture area's size.
    static Fit resizeWindowToFit(
        const QSizeF &size, const QSizeF &chrome, const QRectF &currentFrame, const QRectF &screen);
    // The audio bar a window becomes when there is no picture to fit: 620 wide, strip + 20 high.
    static QRectF audioBarFrame(const QRectF &currentFrame, double stripHeight);
    // Actual Size: the natural size plus strip and title bar, keeping the origin.
    static QRectF setActualSize(
        const QSizeF &naturalSize, double stripHeight, double titleBarHeight, const QRectF &currentFrame);
    // Half Size: half the natural size plus strip and title bar, never below `minimumSize`.
    static QRectF setHalfSize(const QSizeF &naturalSize, double stripHeight, double titleBarHeight,
        const QRectF &currentFrame, const QSizeF &minimumSize);
    // Fit to Screen: the screen's whole area; its aspect ratio is the screen's size.
    static QRectF fitToScreen(const QRectF &screen) { return screen; }
    // The title bar's height: the frame's height less the content's height (0 when not positive).
    static double heightOfTitleBar(const QRectF &frame, const QRectF &content);
    // A resize by the user: keeps the proposed frame width and gives the picture area the
    // aspect of `pictureSize`; `fixedHeight` (strip + title bar) is added unscaled, so the picture
    // keeps its shape at every size. An empty picture size leaves the proposal alone.
    static QSizeF windowWillResize(const QSizeF &proposed, const QSizeF &pictureSize, double fixedHeight);
};
