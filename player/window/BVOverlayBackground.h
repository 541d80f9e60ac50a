#pragma once

#include <QColor>
#include <QPainter>
#include <QWidget>

// The translucent rounded panel the text overlays over the picture draw behind their text.
inline void paintOverlayBackground(
    QWidget *widget, qreal radius = 5, const QColor &color = QColor(0, 0, 0, 128))
{
    QPainter painter(widget);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawRoundedRect(QRectF(widget->rect()), radius, radius);
}
