#pragma once

#include "markers/BVMarker.h"

#include <QList>

#include <cstdint>
#include <functional>

class QPainter;
class QRectF;

// The stored annotations of a file's markers, drawn over a frame as exported frames embed them.
// No widgets: the export command draws them without a window. Any thread that may read the cache.
class BVStoredAnnotation
{
public:
    BVStoredAnnotation() = delete;

    // Draws the stored annotation of the first marker (list order) that shows the frame, its 960 x
    // 540 canvas scaled to the target. `frameAt` counts a position's frame by the media's frame
    // rule. Answers whether a drawing was drawn.
    static bool drawStoredAnnotation(const QList<BVMarker> &markers, int64_t frame,
        const std::function<int64_t(const MediaTime &)> &frameAt, QPainter &painter, const QRectF &target);
};
