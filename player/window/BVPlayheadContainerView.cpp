#include "player/window/BVPlayheadContainerView.h"

#include "support/BVNotificationCenter.h"

#include <QChildEvent>
#include <QEnterEvent>
#include <QMouseEvent>

const QString BVPlayheadContainerView::timelineHoverNotification = QStringLiteral("BVTimelineHover");
const QString BVPlayheadContainerView::timelineHoverLeaveNotification
    = QStringLiteral("BVTimelineHoverLeave");

BVPlayheadContainerView::BVPlayheadContainerView(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("playheadContainer"));
    setMouseTracking(true);
}

void BVPlayheadContainerView::postHover(double x)
{
    BVNotificationCenter::defaultCenter().postNotification(
        timelineHoverNotification, this, {{QStringLiteral("x"), x}});
}

bool BVPlayheadContainerView::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::Enter:
        postHover(static_cast<QEnterEvent *>(event)->position().x());
        break;
    case QEvent::MouseMove:
        postHover(static_cast<QMouseEvent *>(event)->position().x());
        break;
    case QEvent::Leave:
        BVNotificationCenter::defaultCenter().postNotification(timelineHoverLeaveNotification, this);
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

// The pointer over the scrubber and the tags moves over the container too: their moves and drags
// are reported in the container's coordinates.
bool BVPlayheadContainerView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseMove) {
        auto *child = qobject_cast<QWidget *>(watched);
        if (child && child->parentWidget() == this)
            postHover(child->mapTo(this, static_cast<QMouseEvent *>(event)->position().toPoint()).x());
    }
    return QWidget::eventFilter(watched, event);
}

void BVPlayheadContainerView::childEvent(QChildEvent *event)
{
    if (event->added() && event->child()->isWidgetType()) {
        event->child()->installEventFilter(this);
        static_cast<QWidget *>(event->child())->setMouseTracking(true);
    }
    QWidget::childEvent(event);
}
