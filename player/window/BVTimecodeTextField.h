#pragma once

#include <QLineEdit>

class QLabel;

// The field in which the user types a timecode, a frame count or a shorthand ("1.2.3", "+10",
// "-5"). It only takes the characters a timecode entry uses and hands the text over on Return;
// reading it is the document's job.
class BVTimecodeTextField : public QLineEdit
{
    Q_OBJECT
public:
    explicit BVTimecodeTextField(QWidget *parent = nullptr);

    // The largest point size, from `maxSize`
    // (300 when 0 or less) down to `minSize`, at which "00:00:00:00" fits the field's width less
    // 40. Sets it on the field and answers it.
    static int resizeFontForField(QWidget *field, const QString &string, int minSize, int maxSize);
    // The same arithmetic for a font and a width.
    static int fittedPointSize(const QFont &font, int fieldWidth, int minSize, int maxSize);

Q_SIGNALS:
    // Return was pressed; `text` is what the user typed.
    void timecodeEntered(const QString &text);
    // Escape was pressed.
    void entryCancelled();

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
