#pragma once

#include <QWidget>

// The 4:3 and 16:9 action-safe and title-safe frames over the picture, in white 1-point outlines.
// Lies over the picture's rectangle; lets every mouse event through.
class BVSafeAreaOverlay : public QWidget
{
    Q_OBJECT
public:
    explicit BVSafeAreaOverlay(QWidget *parent = nullptr);

    bool show43() const { return m_show43; }
    bool show169() const { return m_show169; }
    void setShow43(bool show);
    void setShow169(bool show);

    // Margins as fractions of the area's width and height.
    double titleSafeHorizontalDistance = 0.1;
    double titleSafeVerticalDistance = 0.1;
    double actionSafeHorizontalDistance = 0.05;
    double actionSafeVerticalDistance = 0.05;

    // A safe frame inside the 16:9 area of `bounds` (full width, centred vertically), with margins
    // of `horizontal` of the width and `vertical` of the area's height.
    static QRectF safeRect169(const QRectF &bounds, double horizontal, double vertical);
    // A safe frame inside the 4:3 area of `bounds` (full height, centred horizontally).
    static QRectF safeRect43(const QRectF &bounds, double horizontal, double vertical);

    // The frames drawn for the current flags and margins, in widget coordinates.
    QList<QRectF> frames() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_show43 = false;
    bool m_show169 = false;
};
