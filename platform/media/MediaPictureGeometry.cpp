#include "platform/media/MediaPictureGeometry.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/pixfmt.h>
}

#include <cmath>

MediaPictureGeometry::Orientation MediaPictureGeometry::orientationForDisplayMatrix(const int32_t *matrix)
{
    Orientation orientation;
    if (!matrix)
        return orientation;
    int32_t m[9];
    for (int i = 0; i < 9; ++i)
        m[i] = matrix[i];
    // A negative determinant mirrors: undo the mirror of the first column, then read the turn.
    const double determinant = double(m[0]) * double(m[4]) - double(m[1]) * double(m[3]);
    if (determinant < 0) {
        orientation.mirrored = true;
        m[0] = -m[0];
        m[3] = -m[3];
        m[6] = -m[6];
    }
    const double counterClockwise = av_display_rotation_get(m);
    if (!std::isfinite(counterClockwise))
        return orientation;
    const long quarters = std::lround(-counterClockwise / 90.0);
    orientation.quarterTurns = int(((quarters % 4) + 4) % 4);
    return orientation;
}

QSizeF MediaPictureGeometry::orientedSize(const QSizeF &size, const Orientation &orientation)
{
    return orientation.isSideways() ? size.transposed() : size;
}

QString MediaPictureGeometry::matrixName(int colorSpace)
{
    switch (colorSpace) {
    case AVCOL_SPC_BT709:
        return QStringLiteral("BT.709");
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
        return QStringLiteral("BT.601");
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return QStringLiteral("BT.2020");
    case AVCOL_SPC_SMPTE240M:
        return QStringLiteral("SMPTE 240M");
    case AVCOL_SPC_FCC:
        return QStringLiteral("FCC");
    case AVCOL_SPC_RGB:
        return QStringLiteral("RGB");
    default:
        return {};
    }
}
