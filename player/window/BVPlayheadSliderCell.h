#pragma once

#include <QList>
#include <QPolygonF>
#include <QRectF>

class QPainter;

// Draws the scrubber: the dark bar, the buffered ranges over it, the in and out brackets and the
// playhead knob. Holds what it draws; geometry is in the slider's coordinates (y downward).
class BVPlayheadSliderCell
{
public:
    static constexpr double barHeight = 4;
    static constexpr double bracketWidth = 18, bracketHeight = 22, bracketRise = 9;
    static constexpr double knobWidth = 18, knobHeight = 22;
    static constexpr double maxValueImageWidth = 10;

    // In and out points as fractions of the duration (0 to 1); -1 means not set.
    double inPoint = -1;
    double outPoint = -1;
    // Two fractions per loaded range: start, end.
    QList<float> bufferedTimeRanges;
    // How much of the duration can be played (a file cut short: below 1); past it the bar is
    // hatched.
    double playableEnd = 1;

    // The bar inside the slider's rectangle: inset by half a knob on the left and right (and the
    // maximum-value image area on the right), centred vertically.
    static QRectF barRect(const QRectF &bounds);
    // The area reserved for the maximum-value image: the rectangle's x, y and height, 10 wide.
    static QRectF maxValueImageRect(const QRectF &bounds);
    // The buffered rectangles drawn on `bar`; unusable values (missing, infinite, NaN) count as 0,
    // negative ones are raised to 0, and a pair of zeros draws nothing.
    QList<QRectF> bufferedRects(const QRectF &bar) const;
    // The part of `bar` that cannot be played; empty for a whole file.
    QRectF unplayableRect(const QRectF &bar) const;
    // The brackets' rectangles; empty when the point is not set. The out bracket never passes the
    // bar's right end.
    QRectF inBracketRect(const QRectF &bar) const;
    QRectF outBracketRect(const QRectF &bar) const;
    // The knob centred on `fraction` (0 to 1) of the bar.
    static QRectF knobRect(const QRectF &bar, double fraction);
    // The shapes, as polygons in `rect`.
    static QPolygonF inBracketPolygon(const QRectF &rect);
    static QPolygonF outBracketPolygon(const QRectF &rect);
    static QPolygonF knobPolygon(const QRectF &rect);

    // Draws everything for a playhead at `fraction` of the bar.
    void draw(QPainter &painter, const QRectF &bounds, double fraction, bool enabled = true) const;

private:
    static void drawShape(QPainter &painter, const QPolygonF &polygon, bool enabled);
};
