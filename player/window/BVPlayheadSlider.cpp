#include "player/window/BVPlayheadSlider.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

BVPlayheadSlider::BVPlayheadSlider(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("mScrubber"));
    setAttribute(Qt::WA_TranslucentBackground);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::NoFocus);
}

void BVPlayheadSlider::setMinimum(double minimum)
{
    setRange(minimum, std::max(minimum, m_maximum));
}

void BVPlayheadSlider::setMaximum(double maximum)
{
    setRange(std::min(m_minimum, maximum), maximum);
}

void BVPlayheadSlider::setRange(double minimum, double maximum)
{
    if (!std::isfinite(minimum) || !std::isfinite(maximum))
        return;
    m_minimum = minimum;
    m_maximum = std::max(minimum, maximum);
    m_value = std::clamp(m_value, m_minimum, m_maximum);
    update();
}

void BVPlayheadSlider::setValue(double value)
{
    if (!std::isfinite(value))
        return;
    value = std::clamp(value, m_minimum, m_maximum);
    if (value == m_value)
        return;
    m_value = value;
    update();
}

void BVPlayheadSlider::setInPoint(double fraction)
{
    if (m_cell.inPoint == fraction)
        return;
    m_cell.inPoint = fraction;
    update();
}

void BVPlayheadSlider::setOutPoint(double fraction)
{
    if (m_cell.outPoint == fraction)
        return;
    m_cell.outPoint = fraction;
    update();
}

void BVPlayheadSlider::setBufferedTimeRanges(const QList<float> &ranges)
{
    if (m_cell.bufferedTimeRanges == ranges)
        return;
    m_cell.bufferedTimeRanges = ranges;
    update();
}

void BVPlayheadSlider::setPlayableEnd(double fraction)
{
    if (m_cell.playableEnd == fraction)
        return;
    m_cell.playableEnd = fraction;
    update();
}

double BVPlayheadSlider::fraction() const
{
    const double span = m_maximum - m_minimum;
    return span > 0 ? (m_value - m_minimum) / span : 0;
}

double BVPlayheadSlider::valueAtX(double x) const
{
    const QRectF bar = BVPlayheadSliderCell::barRect(QRectF(rect()));
    if (bar.width() <= 0)
        return m_minimum;
    const double f = std::clamp((x - bar.x()) / bar.width(), 0.0, 1.0);
    return m_minimum + f * (m_maximum - m_minimum);
}

double BVPlayheadSlider::xForValue(double value) const
{
    const QRectF bar = BVPlayheadSliderCell::barRect(QRectF(rect()));
    const double span = m_maximum - m_minimum;
    const double f = span > 0 ? std::clamp((value - m_minimum) / span, 0.0, 1.0) : 0;
    return bar.x() + f * bar.width();
}

QSize BVPlayheadSlider::sizeHint() const
{
    return {400, 26};
}

QSize BVPlayheadSlider::minimumSizeHint() const
{
    return {60, 26};
}

void BVPlayheadSlider::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    m_cell.draw(painter, QRectF(rect()), fraction(), isEnabled());
}

void BVPlayheadSlider::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !isEnabled()) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_scrubbing = true;
    m_value = valueAtX(event->position().x());
    update();
    Q_EMIT scrubbingBegan(m_value);
    event->accept();
}

void BVPlayheadSlider::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_scrubbing) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const double value = valueAtX(event->position().x());
    if (value != m_value) {
        m_value = value;
        update();
        Q_EMIT scrubbed(m_value);
    }
    event->accept();
}

void BVPlayheadSlider::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_scrubbing || event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_scrubbing = false;
    const double value = valueAtX(event->position().x());
    if (value != m_value) {
        m_value = value;
        update();
        Q_EMIT scrubbed(m_value);
    }
    Q_EMIT scrubbingEnded(m_value);
    event->accept();
}
