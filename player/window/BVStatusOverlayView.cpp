#include "player/window/BVStatusOverlayView.h"
#include "player/window/BVOverlayBackground.h"

#include <QGraphicsOpacityEffect>
#include <QPainter>

BVStatusOverlayView::BVStatusOverlayView(QWidget *parent)
    : QLabel(parent)
{
    setObjectName(QStringLiteral("statusOverlay"));
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAlignment(Qt::AlignCenter);
    setContentsMargins(14, 7, 14, 7);
    QFont font = this->font();
    font.setPixelSize(17);
    font.setWeight(QFont::DemiBold);
    setFont(font);
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    setPalette(palette);
    auto *opacity = new QGraphicsOpacityEffect(this);
    opacity->setOpacity(0.9);
    setGraphicsEffect(opacity);
    hide();
}

void BVStatusOverlayView::showText(const QString &text)
{
    setText(text);
    resize(sizeHint());
    if (QWidget *host = parentWidget())
        setGeometry(topRightFrame(host->rect(), size()));
    show();
    raise();
}

QRect BVStatusOverlayView::topRightFrame(const QRect &host, const QSize &size)
{
    return {host.x() + host.width() - size.width() - margin, host.y() + margin, size.width(), size.height()};
}

void BVStatusOverlayView::paintEvent(QPaintEvent *event)
{
    paintOverlayBackground(this);
    QLabel::paintEvent(event);
}
