#pragma once

#include <QLabel>
#include <QPoint>
#include <QPointF>

// The timecode shown over the picture: white text on a black rounded box at half alpha, which the
// user drags anywhere inside its constraints (by default its parent's rectangle). Its position is
// kept as fractions of the constraints in "timecodeOverlayX" and "timecodeOverlayY", so that every
// player window shows it at the same relative place. Geometry is in parent coordinates.
class BVTimecodeOverlay : public QLabel
{
    Q_OBJECT
public:
    static const QString xKey; // "timecodeOverlayX"
    static const QString yKey; // "timecodeOverlayY"
    static constexpr int topMargin = 5; // from the constraints' top
    static constexpr int bottomMargin = 10; // from the constraints' bottom (the control strip)

    explicit BVTimecodeOverlay(QWidget *parent = nullptr);

    // Shows a display string; the box keeps one width for every timecode so it does not jitter.
    void setTimecode(const QString &text);
    QSize sizeHint() const override;

    // The rectangle the overlay stays in; an empty rectangle means the parent's rectangle.
    QRect constraints() const { return m_constraints; }
    void setConstraints(const QRect &constraints);
    QRect effectiveConstraints() const;

    // Moves to `frame` kept inside `constraints`: left and right edges inside, the top at least 5
    // below the constraints' top, the bottom at least 10 above their bottom.
    static QRect constrainedFrame(const QRect &frame, const QRect &constraints);
    // The fractions stored for a frame: x from the constraints' left over their width, and the
    // distance of its bottom above the constraints' bottom over their height.
    static QPointF storedPosition(const QRect &frame, const QRect &constraints);
    // The frame of `size` that the stored fractions give inside `constraints` (kept inside them).
    static QRect frameForStoredPosition(const QPointF &position, const QSize &size, const QRect &constraints);

    // `setTimecodeOverlayPosition`: places the overlay from the stored fractions when both are
    // set; answers whether they were.
    bool setTimecodeOverlayPosition();
    // Writes the fractions of the current position.
    void storePosition() const;
    // Re-applies the constraints to the current position (after the window resized).
    void keepInsideConstraints();

Q_SIGNALS:
    // The user dragged the overlay to a new place (already stored).
    void moved();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QRect m_constraints;
    QPoint m_lastDragLocation; // global position of the last drag event
    bool m_dragging = false;
};
