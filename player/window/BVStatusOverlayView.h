#pragma once

#include <QLabel>

// The transient status text ("2x Forward" and the like) at the top right of the picture: white
// text on a black rounded box at half alpha, the whole at alpha 0.9. The document shows it and
// hides it after its 2-second timer.
class BVStatusOverlayView : public QLabel
{
    Q_OBJECT
public:
    static constexpr int margin = 20; // from the host's top and right edges
    static constexpr double displaySeconds = 2.0;

    explicit BVStatusOverlayView(QWidget *parent = nullptr);

    // Sets the text, sizes the box to it and places it at the top right of the parent.
    void showText(const QString &text);
    // The frame of a box of `size` at the top right of `host`.
    static QRect topRightFrame(const QRect &host, const QSize &size);

protected:
    void paintEvent(QPaintEvent *event) override;
};
