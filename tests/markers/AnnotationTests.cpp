// Annotations: the canvas mapping, stroke thinning, the SVG text and the local cache.
#include "markers/BVAnnotation.h"
#include "markers/BVAnnotationCache.h"
#include "markers/BVMarkerColor.h"
#include "support/BVLocalPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

BVAnnotation::Stroke lineStroke(const QList<QPointF> &points)
{
    BVAnnotation::Stroke stroke {{true, points.first()}};
    for (const QPointF &p : points)
        stroke.append({false, p});
    return stroke;
}

} // namespace

TEST(Annotation, KnownDrawingGivesTheseSVGBytes)
{
    BVAnnotation drawing;
    drawing.addPoint({10.4, 20.6});
    drawing.addPoint({30, 40});
    drawing.addPoint({50.2, 60.7});
    drawing.endStroke();
    drawing.addPoint({100, 200});
    drawing.endStroke();
    const QByteArray expected
        = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><svg viewBox=\"0 0 960 540\">"
          "<path fill-opacity=\"0\" stroke-width=\"5\" stroke=\"#58ff55\" stroke-opacity=\"0.6\" "
          "d=\"M10 21 L10 21 30 40 50 61\" id=\"bvSVG1\"></path>"
          "<path fill-opacity=\"0\" stroke-width=\"5\" stroke=\"#58ff55\" stroke-opacity=\"0.6\" "
          "d=\"M100 200 L100 200\" id=\"bvSVG2\"></path></svg>";
    EXPECT_EQ(drawing.renderSVG(4).toUtf8(), expected);
    // One colour for every stroke: recolouring changes them all.
    EXPECT_EQ(drawing.renderSVG(10).count(QStringLiteral("stroke=\"#000\"")), 2);
    EXPECT_EQ(BVAnnotation().renderSVG(1), QString());
}

TEST(Annotation, StrokeColoursByIndex)
{
    const QStringList colours {"#bbb", "#ff6554", "#f8f876", "#ffa255", "#58ff55", "#5585ff", "#55daff",
        "#ffa1c5", "#c455ff", "#fff", "#000"};
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(BVMarkerColor::annotationHTMLColor(i), colours[i]);
    EXPECT_EQ(BVMarkerColor::annotationHTMLColor(11), QStringLiteral("#bbb"));
    EXPECT_EQ(BVMarkerColor::annotationHTMLColor(-1), QStringLiteral("#bbb"));
}

TEST(Annotation, ThinningKeepsEverySixthPointOfASlowStroke)
{
    QList<QPointF> points;
    for (int i = 1; i <= 10; ++i)
        points << QPointF(100 + i, 100);
    const BVAnnotation::Stroke thin = BVAnnotation::simplified(lineStroke(points));
    // The "M", then the first "L" (point 1), then point 7 after five dropped.
    ASSERT_EQ(thin.size(), 3);
    EXPECT_TRUE(thin[0].move);
    EXPECT_EQ(thin[1].at, QPointF(101, 100));
    EXPECT_EQ(thin[2].at, QPointF(107, 100));

    // Twenty points: 1, 7, 13, 19.
    points.clear();
    for (int i = 1; i <= 20; ++i)
        points << QPointF(100 + i, 100);
    QList<qreal> kept;
    for (const auto &p : BVAnnotation::simplified(lineStroke(points)))
        if (!p.move)
            kept << p.at.x() - 100;
    EXPECT_EQ(kept, (QList<qreal> {1, 7, 13, 19}));
}

TEST(Annotation, ThinningKeepsDistantPointsAndPointsAfterANegativeCoordinate)
{
    // Points 3 or more apart are all kept.
    const auto far = BVAnnotation::simplified(lineStroke({{0, 0}, {3, 0}, {6, 0}, {6, 3}}));
    EXPECT_EQ(far.size(), 5);
    // A negative previous point (dragged above the canvas) stops the comparison: the next point stays.
    const auto above
        = BVAnnotation::simplified(lineStroke({{10, -5}, {10, -4}, {10.5, -4}, {11, 1}, {11, 1.5}}));
    QList<QPointF> kept;
    for (const auto &p : above)
        if (!p.move)
            kept << p.at;
    EXPECT_EQ(kept, (QList<QPointF> {{10, -5}, {10, -4}, {10.5, -4}, {11, 1}}));
}

TEST(Annotation, CanvasCoversTheViewAndGoesNegativeAboveIt)
{
    EXPECT_EQ(BVAnnotation::canvasPoint({480, 270}, {960, 540}), QPointF(480, 270));
    EXPECT_EQ(BVAnnotation::canvasPoint({240, 135}, {480, 270}), QPointF(480, 270));
    EXPECT_EQ(BVAnnotation::canvasPoint({1920, 0}, {1920, 1080}), QPointF(960, 0));
    EXPECT_LT(BVAnnotation::canvasPoint({10, -20}, {1920, 1080}).y(), 0);
    // A drag that does not move still makes a stroke of two coinciding points.
    BVAnnotation drawing;
    drawing.addPoint({5, 5});
    drawing.endStroke();
    ASSERT_EQ(drawing.paths().size(), 1);
    EXPECT_EQ(drawing.paths()[0].size(), 2);
}

TEST(AnnotationCache, WritesReadsAndRemovesUnderTheUserCacheFolder)
{
    EXPECT_EQ(
        BVAnnotationCache::folder(), BVLocalPaths::cacheDirectory(true) + "/Reelmark/Local Annotation Cache");
    const QString uuid = QStringLiteral("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0");
    const QString svg = QStringLiteral("<svg viewBox=\"0 0 960 540\">ü</svg>");
    ASSERT_TRUE(BVAnnotationCache::writeAnnotation(uuid, svg));
    QFile file(BVAnnotationCache::pathForUUID(uuid));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), svg.toUtf8());
    // No temporary file is left beside it.
    EXPECT_EQ(QDir(BVAnnotationCache::folder()).entryList(QDir::Files), QStringList {uuid + ".svg"});
    QString read, error;
    EXPECT_TRUE(BVAnnotationCache::readAnnotation(uuid, &read, &error));
    EXPECT_EQ(read, svg);
    EXPECT_TRUE(BVAnnotationCache::removeAnnotation(uuid));
    EXPECT_FALSE(BVAnnotationCache::readAnnotation(uuid, &read, &error));
    EXPECT_EQ(error, QStringLiteral("Could not locate the file on disk."));
    EXPECT_TRUE(BVAnnotationCache::removeAnnotation(uuid)) << "a missing file is no failure";
}
