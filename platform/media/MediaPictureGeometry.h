#pragma once

#include <QSize>
#include <QSizeF>
#include <QString>

#include <cstdint>

// How a picture is meant to be shown: its orientation (from a stream's display matrix) and the
// colour matrix of untagged pictures. Pure functions; any thread.
class MediaPictureGeometry
{
public:
    MediaPictureGeometry() = delete;

    // The turn and mirror that bring the stored picture upright: the stored picture is first
    // mirrored left to right (when `mirrored`), then turned clockwise by quarterTurns x 90 degrees.
    struct Orientation
    {
        int quarterTurns = 0; // 0 to 3, clockwise
        bool mirrored = false;

        bool isIdentity() const { return quarterTurns == 0 && !mirrored; }
        bool isSideways() const { return quarterTurns % 2 != 0; }
        bool operator==(const Orientation &other) const
        {
            return quarterTurns == other.quarterTurns && mirrored == other.mirrored;
        }
    };

    // The orientation a 3x3 display matrix (16.16 and 2.30 fixed point, row-major, as streams
    // carry it) asks for, rounded to the nearest quarter turn. A null matrix is the identity.
    static Orientation orientationForDisplayMatrix(const int32_t *matrix);
    // The size of a picture of `size` once oriented (sides swapped for a quarter turn).
    static QSizeF orientedSize(const QSizeF &size, const Orientation &orientation);
    // Degrees clockwise, 0, 90, 180 or 270.
    static int degrees(const Orientation &orientation) { return orientation.quarterTurns * 90; }

    // The colour matrix of a picture that does not say which it uses: BT.709 for HD-sized pictures
    // (1280 wide or more, or taller than 576 lines), BT.601 for standard-definition ones.
    static bool untaggedIsBT709(int width, int height) { return width >= 1280 || height > 576; }
    // "BT.709", "BT.601", "BT.2020" ... for a colour matrix tag (the FFmpeg AVColorSpace value);
    // empty for an unspecified or unknown one.
    static QString matrixName(int colorSpace);
};
