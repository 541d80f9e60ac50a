#include "app/BVPlaceholderWindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QToolButton *transportButton(const QString &text, const QString &tip, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setText(text);
    button->setToolTip(tip);
    button->setEnabled(false);
    button->setAutoRaise(true);
    button->setFixedSize(34, 28);
    return button;
}

} // namespace

BVPlaceholderWindow::BVPlaceholderWindow(const QString &location, QWidget *parent)
    : QMainWindow(parent)
{
    const QFileInfo info(location);
    setWindowTitle(location.isEmpty() ? QStringLiteral("Reelmark") : info.fileName());
    resize(960, 600);

    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("&Close"), QKeySequence::Close, this, &QWidget::close);
    file->addSeparator();
    file->addAction(QStringLiteral("&Quit"), QKeySequence::Quit, qApp, &QApplication::quit);
    menuBar()->addMenu(QStringLiteral("&View"))->setEnabled(false);
    menuBar()->addMenu(QStringLiteral("&Playback"))->setEnabled(false);

    auto *central = new QWidget(this);
    central->setStyleSheet(QStringLiteral("background:#161616; color:#d8d8d8;"));
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *picture = new QLabel(central);
    picture->setAlignment(Qt::AlignCenter);
    picture->setStyleSheet(QStringLiteral("background:#000; color:#8a8a8a; font-size:15px;"));
    if (location.isEmpty()) {
        picture->setText(QStringLiteral("No media open"));
    } else {
        const QString size
            = info.exists() ? QLocale().formattedDataSize(info.size()) : QStringLiteral("remote");
        picture->setText(QStringLiteral("%1\n%2").arg(info.fileName(), size));
    }
    layout->addWidget(picture, 1);

    auto *strip = new QWidget(central);
    strip->setFixedHeight(64);
    strip->setStyleSheet(QStringLiteral("background:#222; border-top:1px solid #333;"));
    auto *stripLayout = new QVBoxLayout(strip);
    stripLayout->setContentsMargins(12, 6, 12, 6);
    auto *scrubber = new QSlider(Qt::Horizontal, strip);
    scrubber->setEnabled(false);
    stripLayout->addWidget(scrubber);
    auto *row = new QHBoxLayout;
    row->addWidget(transportButton(QStringLiteral("|◀"), QStringLiteral("Go to start"), strip));
    row->addWidget(transportButton(QStringLiteral("◀◀"), QStringLiteral("Play backward (J)"), strip));
    row->addWidget(transportButton(QStringLiteral("▶"), QStringLiteral("Play (L)"), strip));
    row->addWidget(transportButton(QStringLiteral("▶▶"), QStringLiteral("Play forward faster (L)"), strip));
    row->addWidget(transportButton(QStringLiteral("▶|"), QStringLiteral("Go to end"), strip));
    row->addStretch(1);
    auto *timecode = new QLabel(QStringLiteral("00:00:00:00"), strip);
    timecode->setStyleSheet(QStringLiteral("font-family:monospace; font-size:18px; color:#f0f0f0;"));
    row->addWidget(timecode);
    stripLayout->addLayout(row);
    layout->addWidget(strip);

    setCentralWidget(central);
}
