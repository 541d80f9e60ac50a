#pragma once

#include "markers/BVAnnotation.h"

#include <QWidget>

#include <memory>

class QSvgRenderer;

// The annotation layer over the picture: in annotation mode mouse drags draw strokes on the
// 960 x 540 canvas, which covers the whole layer; otherwise it shows a stored SVG document. Both
// are painted with QtSvg from the SVG text, scaled from the view box to the layer. Main thread.
class BVAnnotationCanvas : public QWidget
{
    Q_OBJECT
public:
    explicit BVAnnotationCanvas(QWidget *parent = nullptr);
    ~BVAnnotationCanvas() override;

    bool canDrawAnnotations() const { return m_canDraw; }
    void setCanDrawAnnotations(bool on);
    int annotationColorIndex() const { return m_colorIndex; }
    // Recolours every stroke of the drawing.
    void setAnnotationColorIndex(int index);
    const BVAnnotation &drawing() const { return m_drawing; }
    // The SVG of the current strokes (`renderAnnotationSVG`).
    QString renderAnnotationSVG() const { return m_drawing.renderSVG(m_colorIndex); }
    // Shows a stored SVG document (`showAnnotation:`).
    void showAnnotation(const QString &svg);
    // Ends annotation mode and drops the strokes and the shown SVG (`clearAnnotation`).
    void clearAnnotation();
    // The SVG painted now; empty when nothing is shown.
    QString svgSource() const { return m_source; }

Q_SIGNALS:
    void drawingChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void redrawAnnotation();

    BVAnnotation m_drawing;
    bool m_canDraw = false;
    int m_colorIndex = 0;
    QString m_source;
    std::unique_ptr<QSvgRenderer> m_renderer;
};
