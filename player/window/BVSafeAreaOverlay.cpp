#include "player/window/BVSafeAreaOverlay.h"

#include <QPainter>

#include <algorithm>

BVSafeAreaOverlay::BVSafeAreaOverlay(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
}

void BVSafeAreaOverlay::setShow43(bool show)
{
    m_show43 = show;
    update();
}

void BVSafeAreaOverlay::setShow169(bool show)
{
    m_show169 = show;
    update();
}

QRectF BVSafeAreaOverlay::safeRect169(const QRectF &bounds, double horizontal, double vertical)
{
    const double w = bounds.width();
    const double h = bounds.height();
    const double areaHeight = std::min(h, w / 1.7777777777777777);
    const double top = bounds.y() + (h - areaHeight) / 2;
    return {bounds.x() + horizontal * w, top + vertical * areaHeight, w - 2 * horizontal * w,
        areaHeight - 2 * vertical * areaHeight};
}

QRectF BVSafeAreaOverlay::safeRect43(const QRectF &bounds, double horizontal, double vertical)
{
    const double w = bounds.width();
    const double h = bounds.height();
    const double areaWidth = std::min(w, 1.3333333333333333 * h);
    const double left = bounds.x() + (w - areaWidth) / 2;
    return {left + horizontal * areaWidth, bounds.y() + vertical * h, areaWidth - 2 * horizontal * areaWidth,
        h - 2 * vertical * h};
}

QList<QRectF> BVSafeAreaOverlay::frames() const
{
    const QRectF bounds(rect());
    QList<QRectF> result;
    if (m_show169) {
        result << safeRect169(bounds, actionSafeHorizontalDistance, actionSafeVerticalDistance)
               << safeRect169(bounds, titleSafeHorizontalDistance, titleSafeVerticalDistance);
    }
    if (m_show43) {
        result << safeRect43(bounds, actionSafeHorizontalDistance, actionSafeVerticalDistance)
               << safeRect43(bounds, titleSafeHorizontalDistance, titleSafeVerticalDistance);
    }
    return result;
}

void BVSafeAreaOverlay::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QPen pen(Qt::white, 1);
    pen.setCosmetic(true);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    for (const QRectF &frame : frames()) {
        // Half-pixel offsets keep 1-point lines on whole pixels, crisp rather than smeared.
        const QRect aligned = frame.toRect();
        painter.drawRect(QRectF(aligned).adjusted(0.5, 0.5, -0.5, -0.5));
    }
}
