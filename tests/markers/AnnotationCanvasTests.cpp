// The annotation layer: a drag draws under the pointer, the drawing survives the cache and is
// shown again.
#include "markers/BVAnnotationCache.h"
#include "markers/BVAnnotationCanvas.h"

#include <QApplication>
#include <QDir>
#include <QMouseEvent>

#include <gtest/gtest.h>

namespace {

void drag(QWidget &w, const QList<QPointF> &points)
{
    for (const QPointF &p : points) {
        QMouseEvent move(QEvent::MouseMove, p, p, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&w, &move);
    }
    QMouseEvent up(QEvent::MouseButtonRelease, points.last(), points.last(), Qt::LeftButton, Qt::NoButton,
        Qt::NoModifier);
    QApplication::sendEvent(&w, &up);
}

QImage over(QWidget &canvas)
{
    QImage image(canvas.size(), QImage::Format_ARGB32);
    image.fill(Qt::black);
    canvas.render(&image, {}, {}, QWidget::DrawChildren);
    return image;
}

} // namespace

TEST(AnnotationCanvas, DragDrawsUnderThePointerAndIsShownAgainFromTheCache)
{
    BVAnnotationCanvas canvas;
    canvas.resize(480, 270); // half the canvas
    canvas.setCanDrawAnnotations(true);
    canvas.setAnnotationColorIndex(1);
    QList<QPointF> points;
    for (int x = 40; x <= 440; x += 20)
        points << QPointF(x, 135 + (x % 40 ? 30 : -30));
    drag(canvas, points);
    ASSERT_EQ(canvas.drawing().paths().size(), 1);
    const QString svg = canvas.renderAnnotationSVG();
    EXPECT_TRUE(svg.startsWith(
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><svg viewBox=\"0 0 960 540\">")));
    EXPECT_TRUE(svg.contains(QStringLiteral("d=\"M80 210 L80 210 120 330"))) << svg.toStdString();
    const QImage drawn = over(canvas);
    // A point of the stroke is red-ish where the pointer passed, the far corner stays black.
    const QColor at = drawn.pixelColor(50, 135);
    EXPECT_GT(at.red(), 100) << at.name().toStdString();
    EXPECT_EQ(drawn.pixelColor(5, 265), QColor(Qt::black));

    const QString uuid = QStringLiteral("11111111-2222-3333-4444-555555555555");
    ASSERT_TRUE(BVAnnotationCache::writeAnnotation(uuid, svg));
    canvas.clearAnnotation();
    EXPECT_EQ(over(canvas).pixelColor(50, 135), QColor(Qt::black));
    QString stored;
    ASSERT_TRUE(BVAnnotationCache::readAnnotation(uuid, &stored));
    canvas.showAnnotation(stored);
    EXPECT_EQ(over(canvas), drawn);
}
