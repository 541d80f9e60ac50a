#pragma once

#include "markers/BVMarker.h"

#include <QColor>
#include <QList>
#include <QPainterPath>
#include <QPolygonF>
#include <QWidget>

#include <functional>

class QKeyEvent;

// The strip of marker tags above the scrubber. Draws the thinned list it is given, posts
// "BVMarkerClicked" on a button release over a tag and, with "showMarkerOnHover", "BVMarkerHover"
// when the pointer moves over one (object = the view, userInfo "marker" = the record). Keys go to
// the key handler first unless a text field has the focus. Main thread.
class BVMarkerView : public QWidget
{
    Q_OBJECT
public:
    static const QString markerClickedNotification; // "BVMarkerClicked"
    static const QString markerHoverNotification; // "BVMarkerHover"
    static constexpr int stripHeight = 16;

    explicit BVMarkerView(QWidget *parent = nullptr);

    const QList<BVMarker> &markers() const { return m_markers; }
    void setMarkers(const QList<BVMarker> &markers);
    // The document's `playbackKeyPressed:keyUp:`; answers whether it used the key.
    void setKeyHandler(std::function<bool(QKeyEvent *, bool)> handler) { m_keyHandler = std::move(handler); }

    // The tag's left edge on a strip W wide: val x W - 6, at least 0, moved in to W - 15 at the end,
    // rounded up to a whole point.
    static double tagX(double val, double width);
    // The records hit by a release (16 x 16 from val x W - 9) or a hover (12 x 14), in list order,
    // for a point in strip coordinates with y upward from the strip's bottom.
    static QList<BVMarker> markersAtPoint(
        const QList<BVMarker> &markers, const QPointF &point, double width, bool hover);
    // The tag outline in tag coordinates (origin at the lower left, y upward).
    static QPainterPath tagOutline();
    static QPolygonF tagHighlight();
    // The gradient's colours (square end, point) and the highlight's grey brightness for an index.
    static QColor squareEndColor(int index);
    static QColor pointColor(int index);
    static double highlightBrightness(int index);
    // Draws one tag with its lower left corner at (x, bottom) of a painter with y downward.
    static void drawTag(QPainter &painter, double x, double bottom, int colorIndex);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    QPointF stripPoint(const QPointF &widgetPoint) const;
    bool textFieldHasFocus() const;

    QList<BVMarker> m_markers;
    std::function<bool(QKeyEvent *, bool)> m_keyHandler;
};
