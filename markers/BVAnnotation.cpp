#include "markers/BVAnnotation.h"

#include "markers/BVMarkerColor.h"

#include <cmath>

QPointF BVAnnotation::canvasPoint(const QPointF &viewPoint, const QSizeF &viewSize)
{
    if (viewSize.width() <= 0 || viewSize.height() <= 0)
        return {};
    return {viewPoint.x() / viewSize.width() * canvasWidth, viewPoint.y() / viewSize.height() * canvasHeight};
}

void BVAnnotation::addPoint(const QPointF &canvasPoint)
{
    if (!m_drawing) {
        m_paths.append(Stroke {{true, canvasPoint}, {false, canvasPoint}});
        m_drawing = true;
        return;
    }
    m_paths.last().append({false, canvasPoint});
}

void BVAnnotation::endStroke()
{
    if (m_drawing && !m_paths.isEmpty())
        m_paths.last() = simplified(m_paths.last());
    m_drawing = false;
}

void BVAnnotation::clear()
{
    m_paths.clear();
    m_drawing = false;
}

BVAnnotation::Stroke BVAnnotation::simplified(const Stroke &stroke)
{
    Stroke kept;
    bool havePrevious = false;
    QPointF previous;
    int dropped = 0;
    for (const Point &point : stroke) {
        if (point.move) {
            kept.append(point);
            continue;
        }
        const bool usable = havePrevious && previous.x() > -1 && previous.y() > -1;
        const bool close = usable && std::abs(previous.x() - point.at.x()) < 3
            && std::abs(previous.y() - point.at.y()) < 3;
        if (close && dropped < 5) {
            ++dropped;
        } else {
            kept.append(point);
            if (usable)
                dropped = 0;
        }
        previous = point.at;
        havePrevious = true;
    }
    return kept;
}

QString BVAnnotation::renderSVG(int colorIndex) const
{
    return renderSVG(m_paths, colorIndex);
}

namespace {

QString coordinate(double value)
{
    // "%0.0f": rounded half to even by printf, without decimals; -0 prints as "-0" there too.
    return QString::asprintf("%0.0f", value);
}

} // namespace

QString BVAnnotation::renderSVG(const QList<Stroke> &paths, int colorIndex)
{
    if (paths.isEmpty())
        return {};
    const QString color = BVMarkerColor::annotationHTMLColor(colorIndex);
    QString svg = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><svg viewBox=\"0 0 960 540\">");
    qsizetype n = 0;
    for (const Stroke &stroke : paths) {
        QString d;
        bool previousWasLine = false;
        for (const Point &point : stroke) {
            const QString xy = coordinate(point.at.x()) + u' ' + coordinate(point.at.y());
            if (point.move) {
                d += u'M' + xy;
                previousWasLine = false;
            } else {
                d += (previousWasLine ? QStringLiteral(" ") : QStringLiteral(" L")) + xy;
                previousWasLine = true;
            }
        }
        svg += QStringLiteral(
            "<path fill-opacity=\"0\" stroke-width=\"5\" stroke=\"%1\" stroke-opacity=\"0.6\" "
            "d=\"%2\" id=\"bvSVG%3\"></path>")
                   .arg(color, d)
                   .arg(++n);
    }
    svg += QStringLiteral("</svg>");
    return svg;
}
