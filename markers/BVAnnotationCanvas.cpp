#include "markers/BVAnnotationCanvas.h"

#include <QMouseEvent>
#include <QPainter>
#include <QSvgRenderer>

BVAnnotationCanvas::BVAnnotationCanvas(QWidget *parent)
    : QWidget(parent)
    , m_renderer(std::make_unique<QSvgRenderer>())
{
    setObjectName(QStringLiteral("annotationCanvas"));
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents, true);
}

BVAnnotationCanvas::~BVAnnotationCanvas() = default;

void BVAnnotationCanvas::setCanDrawAnnotations(bool on)
{
    m_canDraw = on;
    // Outside annotation mode the picture under the layer gets the mouse.
    setAttribute(Qt::WA_TransparentForMouseEvents, !on);
    if (on)
        setCursor(Qt::CrossCursor);
    else
        unsetCursor();
}

void BVAnnotationCanvas::setAnnotationColorIndex(int index)
{
    m_colorIndex = index;
    if (m_canDraw)
        redrawAnnotation();
}

void BVAnnotationCanvas::showAnnotation(const QString &svg)
{
    m_source = svg;
    m_renderer->load(svg.toUtf8());
    update();
}

void BVAnnotationCanvas::clearAnnotation()
{
    setCanDrawAnnotations(false);
    m_drawing.clear();
    m_source.clear();
    m_renderer->load(QByteArray());
    update();
}

void BVAnnotationCanvas::redrawAnnotation()
{
    showAnnotation(renderAnnotationSVG());
    Q_EMIT drawingChanged();
}

void BVAnnotationCanvas::paintEvent(QPaintEvent *)
{
    if (m_source.isEmpty() || !m_renderer->isValid())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The canvas covers the layer: strokes land under the pointer that drew them.
    m_renderer->render(&painter, QRectF(rect()));
}

void BVAnnotationCanvas::mousePressEvent(QMouseEvent *event)
{
    if (!m_canDraw)
        return QWidget::mousePressEvent(event);
    event->accept();
}

void BVAnnotationCanvas::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_canDraw || !(event->buttons() & Qt::LeftButton))
        return QWidget::mouseMoveEvent(event);
    m_drawing.addPoint(BVAnnotation::canvasPoint(event->position(), size()));
    redrawAnnotation();
}

void BVAnnotationCanvas::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_canDraw)
        return QWidget::mouseReleaseEvent(event);
    m_drawing.endStroke();
    redrawAnnotation();
}
