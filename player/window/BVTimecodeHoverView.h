#pragma once

#include "platform/media/MediaTime.h"

#include <QLabel>

// The timecode tip that follows the pointer over the timeline: text on a grey box (brightness
// 0.3, alpha 0.75). The document positions it with showAtLocation() and sets its text.
class BVTimecodeHoverView : public QLabel
{
    Q_OBJECT
public:
    explicit BVTimecodeHoverView(QWidget *parent = nullptr);

    // Shows the tip centred on `x` (parent coordinates), keeping its y; sets the text first.
    void showAtLocation(double x, const QString &text);
    // The left edge of a tip `width` wide centred on the pointer: ceil(containerX + location -
    // width / 2).
    static int leftEdgeForLocation(double containerX, double location, double width);
    // The time under the pointer: location / containerWidth x duration, truncated, at the
    // duration's timescale. Invalid for an invalid duration or a container without width.
    static MediaTime timeAtLocation(double location, double containerWidth, const MediaTime &duration);

protected:
    void paintEvent(QPaintEvent *event) override;
};
