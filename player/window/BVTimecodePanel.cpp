#include "player/window/BVTimecodePanel.h"

#include "player/window/BVTimecodeTextField.h"

#include <QFontDatabase>
#include <QLabel>
#include <QVBoxLayout>

BVTimecodePanel::BVTimecodePanel(QWidget *parent)
    : QWidget(parent, Qt::Tool)
    , m_label(new QLabel(QStringLiteral("00:00:00:00"), this))
{
    setObjectName(QStringLiteral("timecodePanel"));
    QPalette dark = palette();
    dark.setColor(QPalette::Window, Qt::black);
    dark.setColor(QPalette::WindowText, QColor(235, 235, 235));
    setPalette(dark);
    setAutoFillBackground(true);
    m_label->setObjectName(QStringLiteral("timecodePanelText"));
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_label);
    // The panel's shape: 300 by 65.
    resize(300, 65);
    setMinimumSize(120, 26);
    fitFont();
}

QString BVTimecodePanel::text() const
{
    return m_label->text();
}

void BVTimecodePanel::setText(const QString &text)
{
    m_label->setText(text);
}

int BVTimecodePanel::fontSize() const
{
    return m_label->font().pointSize();
}

void BVTimecodePanel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    fitFont();
}

void BVTimecodePanel::fitFont()
{
    QFont font = m_label->font();
    const int size = BVTimecodeTextField::fittedPointSize(font, width(), minimumFontSize, maximumFontSize);
    // The height bounds the size as well: the text must not be cut off at the top and bottom.
    const int byHeight = std::max(minimumFontSize, int(height() * 0.6));
    font.setPointSize(std::min(size, byHeight));
    m_label->setFont(font);
}
