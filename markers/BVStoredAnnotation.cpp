#include "markers/BVStoredAnnotation.h"

#include "markers/BVAnnotationCache.h"

#include <QPainter>
#include <QSvgRenderer>

bool BVStoredAnnotation::drawStoredAnnotation(const QList<BVMarker> &markers, int64_t frame,
    const std::function<int64_t(const MediaTime &)> &frameAt, QPainter &painter, const QRectF &target)
{
    for (const BVMarker &marker : markers) {
        const MediaTime position = BVMarkers::positionOf(marker);
        if (!marker || !BVMarkers::hasAnnotation(*marker, false) || !BVMarkers::isNavigable(position)
            || frameAt(position) != frame)
            continue;
        QString svg;
        if (!BVAnnotationCache::readAnnotation(marker->value(BVMarkerKey::annotation).toString(), &svg))
            continue;
        QSvgRenderer renderer(svg.toUtf8());
        if (!renderer.isValid())
            continue;
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, target);
        painter.restore();
        return true;
    }
    return false;
}
