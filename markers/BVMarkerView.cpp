#include "markers/BVMarkerView.h"

#include "platform/defaults/BVUserDefaults.h"
#include "support/BVNotificationCenter.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTextEdit>

#include <array>
#include <cmath>

const QString BVMarkerView::markerClickedNotification = QStringLiteral("BVMarkerClicked");
const QString BVMarkerView::markerHoverNotification = QStringLiteral("BVMarkerHover");

namespace {

struct TagColors
{
    std::array<double, 3> square, point;
    double highlight;
};

// Hue, saturation, brightness of the square end and of the point; the highlight's grey.
const std::array<TagColors, 11> tagColors {{
    {{0, 0, 0.70}, {0, 0, 0.65}, 1.0},
    {{0.9972, 0.91, 0.51}, {0.9944, 0.87, 0.84}, 1.0},
    {{0.1722, 0.65, 0.89}, {0.1722, 0.80, 0.93}, 1.0},
    {{0.1028, 0.91, 0.70}, {0.1028, 0.87, 0.84}, 1.0},
    {{0.3361, 0.91, 0.51}, {0.35, 0.87, 0.84}, 1.0},
    {{0.6194, 0.91, 0.51}, {0.6167, 0.87, 0.84}, 1.0},
    {{0.489, 0.91, 0.70}, {0.5139, 0.87, 0.84}, 1.0},
    {{0.95, 0.50, 0.80}, {0.9111, 0.50, 0.84}, 1.0},
    {{0.7528, 0.91, 0.70}, {0.7222, 0.87, 0.84}, 1.0},
    {{0, 0, 0.95}, {0, 0, 1.0}, 0.8},
    {{0, 0, 0.2}, {0, 0, 0.1}, 1.0},
}};

const TagColors &colorsFor(int index)
{
    return tagColors[size_t(index >= 0 && index < 11 ? index : 0)];
}

QColor hsb(const std::array<double, 3> &c)
{
    return QColor::fromHsvF(float(c[0]), float(c[1]), float(c[2]), 1.0f);
}

} // namespace

BVMarkerView::BVMarkerView(QWidget *parent)
    : QWidget(parent)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    setMinimumHeight(stripHeight);
    setAttribute(Qt::WA_Hover);
}

void BVMarkerView::setMarkers(const QList<BVMarker> &markers)
{
    m_markers = markers;
    update();
}

double BVMarkerView::tagX(double val, double width)
{
    double x = std::max(0.0, val * width - 6);
    if (x >= width - 6)
        x = width - 15;
    return std::ceil(x);
}

QList<BVMarker> BVMarkerView::markersAtPoint(
    const QList<BVMarker> &markers, const QPointF &point, double width, bool hover)
{
    QList<BVMarker> hits;
    for (const BVMarker &marker : markers) {
        const double x = std::max(0.0, marker->value(BVMarkerKey::val).toDouble() * width - 9);
        const QRectF rect = hover ? QRectF(x, 0, 12, 14) : QRectF(x, 0, 16, 16);
        // Inclusive of the lower and left edges, as a point-in-rectangle test is.
        if (point.x() >= rect.left() && point.x() < rect.right() && point.y() >= rect.top()
            && point.y() < rect.bottom())
            hits.append(marker);
    }
    return hits;
}

QPainterPath BVMarkerView::tagOutline()
{
    QPainterPath path(QPointF(5.7, 1.5));
    path.cubicTo(QPointF(5.65, 1.53), QPointF(0, 5.2), QPointF(0, 5.2));
    path.lineTo(0, 15.5);
    path.lineTo(12, 15.5);
    path.lineTo(12, 5.2);
    path.cubicTo(QPointF(12, 5.2), QPointF(5.74, 1.54), QPointF(5.7, 1.5));
    path.closeSubpath();
    return path;
}

QPolygonF BVMarkerView::tagHighlight()
{
    return QPolygonF({{11.5, 13.5}, {2.5, 3.5}, {5.5, 2.5}, {11.5, 7}, {11.5, 13.5}});
}

QColor BVMarkerView::squareEndColor(int index)
{
    return hsb(colorsFor(index).square);
}

QColor BVMarkerView::pointColor(int index)
{
    return hsb(colorsFor(index).point);
}

double BVMarkerView::highlightBrightness(int index)
{
    return colorsFor(index).highlight;
}

void BVMarkerView::drawTag(QPainter &painter, double x, double bottom, int colorIndex)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // Tag coordinates have y upward from the tag's lower left corner.
    painter.translate(x, bottom);
    painter.scale(1, -1);
    const QPainterPath outline = tagOutline();
    painter.setClipPath(outline);
    QLinearGradient gradient(QPointF(6, 15.5), QPointF(6, 1.5));
    gradient.setColorAt(0, squareEndColor(colorIndex));
    gradient.setColorAt(1, pointColor(colorIndex));
    painter.fillPath(outline, gradient);
    QColor grey = QColor::fromHsvF(0, 0, float(highlightBrightness(colorIndex)), 0.25f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(grey);
    painter.drawPolygon(tagHighlight());
    painter.restore();
}

void BVMarkerView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const double w = width();
    for (const BVMarker &marker : m_markers)
        drawTag(painter, tagX(marker->value(BVMarkerKey::val).toDouble(), w), height(),
            BVMarkers::colorIndexOf(*marker));
}

QPointF BVMarkerView::stripPoint(const QPointF &p) const
{
    return {p.x(), height() - p.y()};
}

void BVMarkerView::mouseReleaseEvent(QMouseEvent *event)
{
    for (const BVMarker &marker : markersAtPoint(m_markers, stripPoint(event->position()), width(), false))
        BVNotificationCenter::defaultCenter().postNotification(
            markerClickedNotification, this, {{QStringLiteral("marker"), QVariant::fromValue(marker)}});
}

void BVMarkerView::mouseMoveEvent(QMouseEvent *event)
{
    if (!BVUserDefaults::standardUserDefaults()->boolForKey(QStringLiteral("showMarkerOnHover")))
        return;
    for (const BVMarker &marker : markersAtPoint(m_markers, stripPoint(event->position()), width(), true))
        BVNotificationCenter::defaultCenter().postNotification(
            markerHoverNotification, this, {{QStringLiteral("marker"), QVariant::fromValue(marker)}});
}

bool BVMarkerView::textFieldHasFocus() const
{
    QWidget *focus = QApplication::focusWidget();
    return qobject_cast<QLineEdit *>(focus) || qobject_cast<QTextEdit *>(focus)
        || qobject_cast<QPlainTextEdit *>(focus) || qobject_cast<QAbstractSpinBox *>(focus);
}

void BVMarkerView::keyPressEvent(QKeyEvent *event)
{
    if (!textFieldHasFocus() && m_keyHandler && m_keyHandler(event, false))
        return;
    QWidget::keyPressEvent(event);
}

void BVMarkerView::keyReleaseEvent(QKeyEvent *event)
{
    if (!textFieldHasFocus() && m_keyHandler && m_keyHandler(event, true))
        return;
    QWidget::keyReleaseEvent(event);
}
