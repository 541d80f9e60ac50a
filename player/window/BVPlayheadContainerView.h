#pragma once

#include <QWidget>

// The timeline's container (`playheadContainer`): the scrubber with the strip of marker tags above
// it. Reports the pointer for the timecode tip: "BVTimelineHover" on entering, moving and dragging
// (userInfo "x": the pointer's x in the container), "BVTimelineHoverLeave" on leaving; object = the
// container. Main thread.
class BVPlayheadContainerView : public QWidget
{
    Q_OBJECT
public:
    static const QString timelineHoverNotification; // "BVTimelineHover"
    static const QString timelineHoverLeaveNotification; // "BVTimelineHoverLeave"
    // The height kept free above the scrubber for the marker tags.
    static constexpr int markerStripHeight = 16;

    explicit BVPlayheadContainerView(QWidget *parent = nullptr);

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void childEvent(QChildEvent *event) override;

private:
    void postHover(double x);
};
