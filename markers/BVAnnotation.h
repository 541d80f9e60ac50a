#pragma once

#include <QList>
#include <QPointF>
#include <QSizeF>
#include <QString>

// A freehand drawing over a frame, in the annotation canvas: 960 x 540 units, origin top left,
// y downward, whatever the video's own size. Strokes are point lists whose first point moves
// ("M") and the others draw lines ("L"). Plain value; any thread.
class BVAnnotation
{
public:
    static constexpr double canvasWidth = 960;
    static constexpr double canvasHeight = 540;

    struct Point
    {
        bool move = false; // "M" when set, "L" otherwise
        QPointF at;
        bool operator==(const Point &other) const = default;
    };
    using Stroke = QList<Point>;

    // A point of a view of the given size in canvas units (the canvas covers the whole view).
    static QPointF canvasPoint(const QPointF &viewPoint, const QSizeF &viewSize);

    const QList<Stroke> &paths() const { return m_paths; }
    bool isEmpty() const { return m_paths.isEmpty(); }
    bool isDrawing() const { return m_drawing; }
    // A drag reached a canvas point: starts a stroke (the point as "M" and as "L") or extends it.
    void addPoint(const QPointF &canvasPoint);
    // The button went up: thins the stroke just drawn; the next drag starts a new stroke.
    void endStroke();
    void clear();

    // Keeps every "M" point and drops an "L" point only when the previous "L" point (kept or
    // not) has both coordinates above -1, lies less than 3 units away in x and in y, and fewer
    // than five points have been dropped since the last one kept.
    static Stroke simplified(const Stroke &stroke);
    // The SVG document of the strokes, all in the colour of the index; empty without strokes.
    QString renderSVG(int colorIndex) const;
    static QString renderSVG(const QList<Stroke> &paths, int colorIndex);

private:
    QList<Stroke> m_paths;
    bool m_drawing = false;
};
