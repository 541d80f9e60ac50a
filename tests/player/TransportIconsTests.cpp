// The control strip's transport glyphs: every button name draws a visible glyph, the mirrored
// pairs really are mirrored, and an unknown name draws nothing.
#include "player/window/BVTransportIcons.h"

#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

int opaquePixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 128;
    return count;
}

// Pixels whose coverage differs clearly; antialiasing may differ by a shade along the edges.
int differingPixels(const QImage &a, const QImage &b)
{
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            count += std::abs(qAlpha(a.pixel(x, y)) - qAlpha(b.pixel(x, y))) > 96;
    return count;
}

QImage glyph(const char *name)
{
    return BVTransportIcons::pixmap(QString::fromLatin1(name), 24, Qt::white).toImage();
}

} // namespace

TEST(TransportIcons, EveryButtonHasAVisibleGlyphAndUnknownNamesNone)
{
    for (const char *name : {"skipBack", "rewind", "stepLeft", "play", "pause", "stepRight", "fastForward",
             "skipNext", "prevMarker", "addMarker", "nextMarker"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(BVTransportIcons::icon(QString::fromLatin1(name)).isNull());
        const int covered = opaquePixels(glyph(name));
        EXPECT_GT(covered, 24) << "too faint to see";
        EXPECT_LT(covered, 24 * 24 / 2) << "a blob, not a glyph";
    }
    EXPECT_TRUE(BVTransportIcons::icon(QStringLiteral("eject")).isNull());
    EXPECT_EQ(opaquePixels(glyph("eject")), 0);
}

TEST(TransportIcons, BackwardGlyphsMirrorTheForwardOnes)
{
    for (const auto &[forward, backward] : {std::pair {"stepRight", "stepLeft"}, {"fastForward", "rewind"},
             {"skipNext", "skipBack"}, {"nextMarker", "prevMarker"}}) {
        SCOPED_TRACE(forward);
        EXPECT_LE(differingPixels(glyph(forward).mirrored(true, false), glyph(backward)), 4);
        EXPECT_GT(differingPixels(glyph(forward), glyph(backward)), 40) << "forward and backward look alike";
    }
    EXPECT_GT(differingPixels(glyph("play"), glyph("pause")), 40);
}
