#include "player/window/BVTimecodeOverlay.h"
#include "player/window/BVOverlayBackground.h"

#include "platform/defaults/BVUserDefaults.h"

#include <QFontDatabase>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

const QString BVTimecodeOverlay::xKey = QStringLiteral("timecodeOverlayX");
const QString BVTimecodeOverlay::yKey = QStringLiteral("timecodeOverlayY");

BVTimecodeOverlay::BVTimecodeOverlay(QWidget *parent)
    : QLabel(parent)
{
    setObjectName(QStringLiteral("timecodeOverlay"));
    setAttribute(Qt::WA_TranslucentBackground);
    setAlignment(Qt::AlignCenter);
    setContentsMargins(12, 5, 12, 5);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(22);
    font.setBold(true);
    setFont(font);
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    setPalette(palette);
    setCursor(Qt::OpenHandCursor);
    setText(QStringLiteral("00:00:00:00"));
    resize(sizeHint());
}

void BVTimecodeOverlay::setTimecode(const QString &text)
{
    if (text == this->text())
        return;
    setText(text);
    const QSize hint = sizeHint();
    if (hint != size()) {
        resize(hint);
        keepInsideConstraints();
    }
}

QSize BVTimecodeOverlay::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int width = std::max(
        metrics.horizontalAdvance(QStringLiteral("00:00:00;00")), metrics.horizontalAdvance(text()));
    const QMargins margins = contentsMargins();
    return {width + margins.left() + margins.right(), metrics.height() + margins.top() + margins.bottom()};
}

void BVTimecodeOverlay::setConstraints(const QRect &constraints)
{
    m_constraints = constraints;
}

QRect BVTimecodeOverlay::effectiveConstraints() const
{
    if (!m_constraints.isEmpty())
        return m_constraints;
    return parentWidget() ? parentWidget()->rect() : QRect();
}

QRect BVTimecodeOverlay::constrainedFrame(const QRect &frame, const QRect &constraints)
{
    if (constraints.isEmpty())
        return frame;
    QRect result = frame;
    const int right = constraints.x() + constraints.width();
    const int bottom = constraints.y() + constraints.height();
    int x = std::min(frame.x(), right - frame.width());
    x = std::max(x, constraints.x());
    int y = std::min(frame.y(), bottom - bottomMargin - frame.height());
    y = std::max(y, constraints.y() + topMargin);
    result.moveTo(x, y);
    return result;
}

QPointF BVTimecodeOverlay::storedPosition(const QRect &frame, const QRect &constraints)
{
    if (constraints.width() <= 0 || constraints.height() <= 0)
        return {0, 0};
    const int bottom = constraints.y() + constraints.height();
    return {double(frame.x() - constraints.x()) / constraints.width(),
        double(bottom - (frame.y() + frame.height())) / constraints.height()};
}

QRect BVTimecodeOverlay::frameForStoredPosition(
    const QPointF &position, const QSize &size, const QRect &constraints)
{
    const int bottom = constraints.y() + constraints.height();
    // A position stored below the strip (negative) comes back just above it; the constraints
    // then keep it 10 points up.
    const double y = std::max(0.0, position.y());
    const QRect frame(qRound(constraints.x() + position.x() * constraints.width()),
        qRound(bottom - y * constraints.height()) - size.height(), size.width(), size.height());
    return constrainedFrame(frame, constraints);
}

bool BVTimecodeOverlay::setTimecodeOverlayPosition()
{
    BVUserDefaults *defaults = BVUserDefaults::standardUserDefaults();
    const QVariant x = defaults->objectForKey(xKey);
    const QVariant y = defaults->objectForKey(yKey);
    bool xOK = false, yOK = false;
    const QPointF position(x.toDouble(&xOK), y.toDouble(&yOK));
    if (!x.isValid() || !y.isValid() || !xOK || !yOK || !std::isfinite(position.x())
        || !std::isfinite(position.y()))
        return false;
    setGeometry(frameForStoredPosition(position, size(), effectiveConstraints()));
    return true;
}

void BVTimecodeOverlay::storePosition() const
{
    const QPointF position = storedPosition(geometry(), effectiveConstraints());
    BVUserDefaults *defaults = BVUserDefaults::standardUserDefaults();
    defaults->setDouble(position.x(), xKey);
    defaults->setDouble(position.y(), yKey);
}

void BVTimecodeOverlay::keepInsideConstraints()
{
    setGeometry(constrainedFrame(geometry(), effectiveConstraints()));
}

void BVTimecodeOverlay::paintEvent(QPaintEvent *event)
{
    paintOverlayBackground(this);
    QLabel::paintEvent(event);
}

void BVTimecodeOverlay::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QLabel::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    m_lastDragLocation = event->globalPosition().toPoint();
    setCursor(Qt::ClosedHandCursor);
    raise();
    event->accept();
}

void BVTimecodeOverlay::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging) {
        QLabel::mouseMoveEvent(event);
        return;
    }
    const QPoint location = event->globalPosition().toPoint();
    const QRect frame
        = constrainedFrame(geometry().translated(location - m_lastDragLocation), effectiveConstraints());
    m_lastDragLocation = location;
    if (frame != geometry()) {
        setGeometry(frame);
        storePosition();
        Q_EMIT moved();
    }
    event->accept();
}

void BVTimecodeOverlay::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_dragging && event->button() == Qt::LeftButton) {
        m_dragging = false;
        setCursor(Qt::OpenHandCursor);
        event->accept();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}
