#pragma once

#include "player/window/BVPlayheadSliderCell.h"

#include <QWidget>

// The scrubber (`mScrubber`): a slider whose value is a position in seconds, drawn by a
// BVPlayheadSliderCell. A press anywhere on it starts scrubbing and moves the playhead there;
// dragging scrubs; the release ends it. Setting the value from the model emits nothing.
class BVPlayheadSlider : public QWidget
{
    Q_OBJECT
public:
    explicit BVPlayheadSlider(QWidget *parent = nullptr);

    BVPlayheadSliderCell &cell() { return m_cell; }
    const BVPlayheadSliderCell &cell() const { return m_cell; }

    double minimum() const { return m_minimum; }
    double maximum() const { return m_maximum; }
    double value() const { return m_value; }
    void setMinimum(double minimum);
    void setMaximum(double maximum);
    void setRange(double minimum, double maximum);
    // Sets the playhead position without emitting anything (model to view).
    void setValue(double value);
    bool isScrubbing() const { return m_scrubbing; }

    void setInPoint(double fraction);
    void setOutPoint(double fraction);
    // Redraws only when the list differs from the one held.
    void setBufferedTimeRanges(const QList<float> &ranges);
    void setPlayableEnd(double fraction);

    // The value at x (slider coordinates), clamped to the range.
    double valueAtX(double x) const;
    // The x of the knob's centre for a value.
    double xForValue(double value) const;
    // The fraction of the range the value is at (0 when the range is empty).
    double fraction() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    // The user pressed on the slider: scrubbing begins, at `value`.
    void scrubbingBegan(double value);
    // The user dragged the playhead to `value`.
    void scrubbed(double value);
    // The user released the mouse at `value`.
    void scrubbingEnded(double value);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    BVPlayheadSliderCell m_cell;
    double m_minimum = 0;
    double m_maximum = 1;
    double m_value = 0;
    bool m_scrubbing = false;
};
