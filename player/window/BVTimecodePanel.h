#pragma once

#include <QWidget>

class QLabel;

// The floating timecode panel of a player window: the display string in a large font that fills
// the panel's width as the user resizes it. Main thread.
class BVTimecodePanel : public QWidget
{
    Q_OBJECT
public:
    static constexpr int minimumFontSize = 10;
    static constexpr int maximumFontSize = 200;

    explicit BVTimecodePanel(QWidget *parent = nullptr);

    QString text() const;
    void setText(const QString &text);
    // The point size the text is drawn at.
    int fontSize() const;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    // Refits the font to the width ("resizeFontForField").
    void fitFont();

    QLabel *m_label;
};
