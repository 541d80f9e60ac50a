#include "player/window/BVPlayheadSliderCell.h"

#include <QLinearGradient>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

double usable(double value)
{
    if (!std::isfinite(value) || value < 0)
        return 0;
    return value;
}

QPolygonF polygonIn(const QRectF &rect, std::initializer_list<QPointF> fractions)
{
    QPolygonF polygon;
    for (const QPointF &f : fractions)
        polygon << QPointF(rect.x() + f.x() * rect.width(), rect.y() + f.y() * rect.height());
    return polygon;
}

} // namespace

QRectF BVPlayheadSliderCell::barRect(const QRectF &bounds)
{
    const double left = bounds.x() + knobWidth / 2;
    const double right = bounds.right() - knobWidth / 2 - maxValueImageWidth;
    const double top = bounds.y() + std::round((bounds.height() - barHeight) / 2);
    return {left, top, std::max(0.0, right - left), barHeight};
}

QRectF BVPlayheadSliderCell::maxValueImageRect(const QRectF &bounds)
{
    return {bounds.x(), bounds.y(), maxValueImageWidth, bounds.height()};
}

QList<QRectF> BVPlayheadSliderCell::bufferedRects(const QRectF &bar) const
{
    QList<QRectF> rects;
    const double width = bar.width();
    for (qsizetype i = 0; i < bufferedTimeRanges.size(); i += 2) {
        const double start = usable(bufferedTimeRanges.at(i));
        const double end = i + 1 < bufferedTimeRanges.size() ? usable(bufferedTimeRanges.at(i + 1)) : 0;
        if (start == 0 && end == 0)
            continue;
        // Ranges reaching past the end are cut at the bar's end; a reversed pair draws nothing.
        const double from = std::min(start, 1.0);
        const double to = std::min(end, 1.0);
        if (to <= from)
            continue;
        rects << QRectF(bar.x() + from * width, bar.y(), (to - from) * width, bar.height());
    }
    return rects;
}

QRectF BVPlayheadSliderCell::unplayableRect(const QRectF &bar) const
{
    if (!std::isfinite(playableEnd) || playableEnd >= 1)
        return {};
    const double from = bar.x() + std::max(playableEnd, 0.0) * bar.width();
    return {from, bar.y(), bar.right() - from, bar.height()};
}

QRectF BVPlayheadSliderCell::inBracketRect(const QRectF &bar) const
{
    if (!(inPoint > -1))
        return {};
    const double x = std::clamp(inPoint, 0.0, 1.0) * bar.width();
    return {bar.x() + x, bar.y() - bracketRise, bracketWidth, bracketHeight};
}

QRectF BVPlayheadSliderCell::outBracketRect(const QRectF &bar) const
{
    if (!(outPoint > -1))
        return {};
    double x = std::clamp(outPoint, 0.0, 1.0) * bar.width();
    if (bar.width() <= x + bracketWidth)
        x = bar.width() - bracketWidth;
    return {bar.x() + x, bar.y() - bracketRise, bracketWidth, bracketHeight};
}

QRectF BVPlayheadSliderCell::knobRect(const QRectF &bar, double fraction)
{
    if (!std::isfinite(fraction))
        fraction = 0;
    const double x = bar.x() + std::clamp(fraction, 0.0, 1.0) * bar.width();
    return {x - knobWidth / 2, bar.center().y() - knobHeight / 2, knobWidth, knobHeight};
}

QPolygonF BVPlayheadSliderCell::inBracketPolygon(const QRectF &rect)
{
    return polygonIn(rect, {{0.2, 0.2}, {0.8, 0.2}, {0.8, 0.8}, {0.2, 0.8}, {0.5, 0.5}, {0.2, 0.2}});
}

QPolygonF BVPlayheadSliderCell::outBracketPolygon(const QRectF &rect)
{
    return polygonIn(rect, {{0.8, 0.2}, {0.2, 0.2}, {0.2, 0.8}, {0.8, 0.8}, {0.5, 0.5}, {0.8, 0.2}});
}

QPolygonF BVPlayheadSliderCell::knobPolygon(const QRectF &rect)
{
    return polygonIn(rect, {{0.2, 0.2}, {0.8, 0.2}, {0.8, 0.7}, {0.5, 0.9}, {0.2, 0.7}, {0.2, 0.2}});
}

void BVPlayheadSliderCell::drawShape(QPainter &painter, const QPolygonF &polygon, bool enabled)
{
    const QRectF box = polygon.boundingRect();
    QLinearGradient gradient(box.topLeft(), box.bottomLeft());
    gradient.setColorAt(0, QColor::fromRgbF(1, 1, 1, enabled ? 1 : 0.5));
    gradient.setColorAt(1, QColor::fromRgbF(0.9, 0.9, 0.9, enabled ? 1 : 0.5));
    painter.setBrush(gradient);
    QPen pen(QColor::fromRgbF(0.5, 0.5, 0.5, enabled ? 1 : 0.5), 1);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.drawPolygon(polygon);
}

void BVPlayheadSliderCell::draw(QPainter &painter, const QRectF &bounds, double fraction, bool enabled) const
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bar = barRect(bounds);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(58, 58, 62));
    painter.drawRoundedRect(bar, 2, 2);
    // Loaded ranges: light over the dark bar, softened so the knob stays the brightest thing.
    painter.setBrush(QColor(255, 255, 255, enabled ? 110 : 60));
    for (const QRectF &range : bufferedRects(bar))
        painter.drawRoundedRect(range, 2, 2);
    // What a file cut short does not hold: hatched in red, so the end of what plays is plain.
    if (const QRectF missing = unplayableRect(bar); !missing.isEmpty()) {
        painter.setBrush(QColor(120, 40, 40, enabled ? 255 : 128));
        painter.drawRect(missing);
        painter.setBrush(QBrush(QColor(220, 90, 90, enabled ? 200 : 100), Qt::BDiagPattern));
        painter.drawRect(missing);
    }
    // The played part, in the accent colour, up to the playhead.
    if (enabled && fraction > 0) {
        QRectF played = bar;
        played.setWidth(std::clamp(fraction, 0.0, 1.0) * bar.width());
        painter.setBrush(QColor(74, 144, 226));
        painter.drawRoundedRect(played, 2, 2);
    }

    // Half-point offsets put 1-point strokes on whole pixels.
    const QPointF crisp(0.5, 0.5);
    if (const QRectF in = inBracketRect(bar); !in.isEmpty())
        drawShape(painter, inBracketPolygon(in.translated(crisp)), enabled);
    if (const QRectF out = outBracketRect(bar); !out.isEmpty())
        drawShape(painter, outBracketPolygon(out.translated(crisp)), enabled);
    drawShape(painter, knobPolygon(knobRect(bar, fraction).translated(crisp)), enabled);
    painter.restore();
}
