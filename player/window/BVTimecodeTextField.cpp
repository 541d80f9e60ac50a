#include "player/window/BVTimecodeTextField.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QRegularExpressionValidator>

#include <algorithm>

BVTimecodeTextField::BVTimecodeTextField(QWidget *parent)
    : QLineEdit(parent)
{
    setObjectName(QStringLiteral("timecodeChangeText"));
    // Digits with ":" ";" "." "," separators, an optional leading "+" or "-" for a relative entry.
    setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[+-]?[0-9:;.,]{0,16}")), this));
    setAlignment(Qt::AlignCenter);
    QFont font = this->font();
    font.setStyleHint(QFont::Monospace);
    font.setFamily(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(16);
    setFont(font);
    setStyleSheet(
        QStringLiteral("QLineEdit { background: #1c1c1e; color: #f0f0f0; border: 1px solid #4a4a4e;"
                       " border-radius: 4px; padding: 3px 6px; selection-background-color: #3d6fb4; }"
                       "QLineEdit:focus { border-color: #5b8fd6; }"));
}

int BVTimecodeTextField::fittedPointSize(const QFont &font, int fieldWidth, int minSize, int maxSize)
{
    static const QString widest = QStringLiteral("00:00:00:00");
    if (maxSize <= 0)
        maxSize = 300;
    minSize = std::max(1, minSize);
    QFont probe = font;
    int size = maxSize;
    while (size > minSize) {
        probe.setPointSize(size);
        if (QFontMetrics(probe).horizontalAdvance(widest) <= fieldWidth - 40)
            break;
        --size;
    }
    return size;
}

int BVTimecodeTextField::resizeFontForField(QWidget *field, const QString &string, int minSize, int maxSize)
{
    if (!field)
        return -1;
    // "00:00:00:00" keeps the size steady while the digits change; a longer display string (a
    // large frame count) is measured instead so that it is never cut.
    QFont font = field->font();
    int size = fittedPointSize(font, field->width(), minSize, maxSize);
    const QString widest = QStringLiteral("00:00:00:00");
    if (string.size() > widest.size()) {
        QFont probe = font;
        while (size > std::max(1, minSize)) {
            probe.setPointSize(size);
            if (QFontMetrics(probe).horizontalAdvance(string) <= field->width() - 40)
                break;
            --size;
        }
    }
    font.setPointSize(size);
    field->setFont(font);
    return size;
}

void BVTimecodeTextField::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        Q_EMIT timecodeEntered(text());
        event->accept();
        return;
    case Qt::Key_Escape:
        Q_EMIT entryCancelled();
        event->accept();
        return;
    default:
        QLineEdit::keyPressEvent(event);
    }
}
