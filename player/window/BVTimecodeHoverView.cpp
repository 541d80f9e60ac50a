#include "player/window/BVTimecodeHoverView.h"
#include "player/window/BVOverlayBackground.h"

#include <QFontDatabase>
#include <QPainter>

#include <cmath>

BVTimecodeHoverView::BVTimecodeHoverView(QWidget *parent)
    : QLabel(parent)
{
    setObjectName(QStringLiteral("timecodeHover"));
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAlignment(Qt::AlignCenter);
    setContentsMargins(8, 3, 8, 3);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(12);
    setFont(font);
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, QColor(235, 235, 235));
    setPalette(palette);
    hide();
}

void BVTimecodeHoverView::showAtLocation(double x, const QString &text)
{
    setText(text);
    const QSize hint = sizeHint();
    if (hint.width() > width())
        resize(hint.width(), std::max(height(), hint.height()));
    move(leftEdgeForLocation(0, x, width()), y());
    show();
    raise();
}

int BVTimecodeHoverView::leftEdgeForLocation(double containerX, double location, double width)
{
    return int(std::ceil(containerX + location - width / 2));
}

MediaTime BVTimecodeHoverView::timeAtLocation(
    double location, double containerWidth, const MediaTime &duration)
{
    if (!duration.isValid() || duration.isIndefinite() || duration.isPositiveInfinity()
        || duration.timescale() <= 0 || !(containerWidth > 0) || !std::isfinite(location))
        return MediaTime::invalid();
    const double value = location / containerWidth * double(duration.value());
    return MediaTime(int64_t(value), duration.timescale());
}

void BVTimecodeHoverView::paintEvent(QPaintEvent *event)
{
    paintOverlayBackground(this, 3, QColor::fromHsvF(0, 0, 0.3, 0.75));
    QLabel::paintEvent(event);
}
