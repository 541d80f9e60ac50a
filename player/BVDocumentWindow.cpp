// The player window: its layout, window fitting and the size commands, view options (matte,
// rotation, safe areas, rate), the timecode, status and hover overlays, full screen and the
// waveform of an audio file. Main thread unless said.
#include "player/BVDocument.h"

#include "markers/BVPlayheadSlider.h"
#include "platform/defaults/BVUserDefaults.h"
#include "player/BVAVAsset.h"
#include "player/BVAVFoundation.h"
#include "player/BVAVPlaybackView.h"
#include "player/BVImageSequence.h"
#include "player/BVPositionText.h"
#include "player/BVStatusOverlayView.h"
#include "player/BVTimecodeHoverView.h"
#include "player/BVTimecodeOverlay.h"
#include "player/BVTimecodePanel.h"
#include "player/BVTimecodeTextField.h"
#include "player/BVTransportIcons.h"
#include "player/BVWindowGeometry.h"
#include "support/BVMainThread.h"
#include "support/BVNotificationCenter.h"
#include "support/BVTimer.h"
#include "support/BVWorkQueue.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr int kControlStripHeight = 64;

BVUserDefaults *defaults()
{
    return BVUserDefaults::standardUserDefaults();
}

// The matte ratio of a matte menu tag; 0 for none.
float matteRatioForTag(int tag)
{
    switch (tag) {
    case 1:
        return 1.33f;
    case 2:
        return 1.5f;
    case 3:
        return 1.78f;
    case 4:
        return 1.85f;
    case 5:
        return 2.35f;
    case 6:
        return 2.4f;
    default:
        return 0;
    }
}

// The waveform picture of an audio file's data: one vertical line per column, around the middle,
// in a bitmap (height - 10) pixels high. Null when there is nothing to draw. Any thread.
QImage waveformImage(const std::vector<float> &values, float normalizeMax, int width, int height)
{
    if (values.empty() || height <= 10 || width <= 0 || !(normalizeMax > 0))
        return {};
    const int h = height - 10;
    QImage image(width, h, QImage::Format_RGBA8888_Premultiplied);
    if (image.isNull())
        return {};
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setPen(QPen(QColor::fromHsvF(0.375f, 0.75f, 0.94f, 1.0f), 1));
    const double centre = std::ceil(0.5 * h);
    const double scale = h / double(normalizeMax);
    const double count = double(values.size());
    int previousX = -1;
    for (size_t i = 0; i < values.size(); ++i) {
        const int x = int(std::ceil(width / count * double(i)));
        if (x == previousX)
            continue;
        previousX = x;
        const double v
            = double(static_cast<int16_t>(std::clamp(values[i], -32768.0f, 32767.0f))) * scale * 0.5;
        painter.drawLine(QPointF(x, centre - v), QPointF(x, centre + v));
    }
    return image;
}

} // namespace

int BVDocument::controlStripHeight() const
{
    return kControlStripHeight;
}

// ---- Building the window

void BVDocument::buildWindow()
{
    m_window = std::make_unique<QMainWindow>();
    m_window->setAttribute(Qt::WA_DeleteOnClose, false);
    m_window->setObjectName(QStringLiteral("BVDocumentWindow"));
    QPalette dark = m_window->palette();
    dark.setColor(QPalette::Window, QColor(24, 24, 26));
    dark.setColor(QPalette::WindowText, QColor(220, 220, 224));
    dark.setColor(QPalette::Base, QColor(36, 36, 40));
    dark.setColor(QPalette::Text, QColor(230, 230, 234));
    dark.setColor(QPalette::Button, QColor(44, 44, 48));
    dark.setColor(QPalette::ButtonText, QColor(230, 230, 234));
    m_window->setPalette(dark);
    m_window->setAutoFillBackground(true);
    m_window->setMinimumSize(300, kControlStripHeight + 60);

    auto *central = new QWidget(m_window.get());
    central->setObjectName(QStringLiteral("BVDocumentContent"));
    m_window->setCentralWidget(central);
    central->installEventFilter(this);

    m_playbackArea = new QWidget(central);
    m_playbackArea->setAutoFillBackground(true);
    QPalette black = m_playbackArea->palette();
    black.setColor(QPalette::Window, Qt::black);
    m_playbackArea->setPalette(black);
    m_playbackArea->installEventFilter(this);
    m_playbackView = new BVAVPlaybackView(m_playbackArea);
    m_playbackView->setDelegate(this);
    m_playbackView->setFocusPolicy(Qt::StrongFocus);

    m_statusOverlay = new BVStatusOverlayView(m_playbackArea);
    m_statusOverlay->hide();
    m_timecodeOverlay = new BVTimecodeOverlay(m_playbackArea);
    m_timecodeOverlay->hide();

    buildControlStrip(central);
    m_timecodeHover = new BVTimecodeHoverView(central);
    m_timecodeHover->hide();

    m_timecodePanel = std::make_unique<BVTimecodePanel>();
    m_timecodePanel->setWindowTitle(auxTitle(QStringLiteral("Timecode")));
    m_infoPanel = std::make_unique<QWidget>(nullptr, Qt::Tool);
    m_infoPanel->setWindowTitle(auxTitle(QStringLiteral("Info")));
    m_infoPanel->resize(320, 420);
    m_markersWindow = std::make_unique<QWidget>(nullptr, Qt::Tool);
    m_markersWindow->setWindowTitle(auxTitle(QStringLiteral("Markers")));
    m_markersWindow->resize(420, 300);
    for (QWidget *aux :
        {static_cast<QWidget *>(m_timecodePanel.get()), m_infoPanel.get(), m_markersWindow.get()}) {
        aux->setAttribute(Qt::WA_ShowWithoutActivating);
        aux->installEventFilter(this);
    }

    buildMenus();
    m_window->installEventFilter(this);
    m_window->resize(
        int(BVWindowGeometry::fallbackWidth), int(BVWindowGeometry::fallbackHeight) + kControlStripHeight);
    m_window->setWindowTitle(windowTitleForDocumentDisplayName(displayName()));
    layoutContent();
}

void BVDocument::buildControlStrip(QWidget *parent)
{
    m_controlStrip = new QWidget(parent);
    m_controlStrip->setObjectName(QStringLiteral("BVControlStrip"));
    m_controlStrip->setAutoFillBackground(true);
    QPalette strip = m_controlStrip->palette();
    strip.setColor(QPalette::Window, QColor(30, 30, 33));
    m_controlStrip->setPalette(strip);
    auto *column = new QVBoxLayout(m_controlStrip);
    column->setContentsMargins(8, 4, 8, 4);
    column->setSpacing(2);

    m_scrubber = new BVPlayheadSlider(m_controlStrip);
    m_scrubber->setRange(0, 1);
    connect(m_scrubber, &BVPlayheadSlider::scrubbingBegan, this, [this](double value) {
        beginScrubbing();
        scrub(m_scrubber->maximum() > m_scrubber->minimum()
                ? (value - m_scrubber->minimum()) / (m_scrubber->maximum() - m_scrubber->minimum())
                : 0);
    });
    connect(m_scrubber, &BVPlayheadSlider::scrubbed, this, [this](double value) {
        scrub(m_scrubber->maximum() > m_scrubber->minimum()
                ? (value - m_scrubber->minimum()) / (m_scrubber->maximum() - m_scrubber->minimum())
                : 0);
    });
    connect(m_scrubber, &BVPlayheadSlider::scrubbingEnded, this, [this](double) { endScrubbing(); });
    column->addWidget(m_scrubber);

    auto *row = new QHBoxLayout;
    row->setSpacing(2);
    column->addLayout(row);
    m_timeElapsed = new QPushButton(QStringLiteral("00:00:00:00"), m_controlStrip);
    m_timeElapsed->setFlat(true);
    m_timeElapsed->setObjectName(QStringLiteral("mTimeElapsed"));
    m_timeElapsed->setFocusPolicy(Qt::NoFocus);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSize(12);
    m_timeElapsed->setFont(mono);
    // The narrow audio bar must not cut the position short.
    m_timeElapsed->setMinimumWidth(QFontMetrics(mono).horizontalAdvance(QStringLiteral("00:00:00:00")) + 12);
    connect(m_timeElapsed, &QPushButton::clicked, this, [this] { timecodeClicked(); });
    row->addWidget(m_timeElapsed);
    row->addStretch(1);

    auto button = [this, row](const QString &name, const QString &glyph, const QString &tip,
                      std::function<void()> handler) {
        auto *b = new QToolButton(m_controlStrip);
        b->setObjectName(name);
        b->setIcon(BVTransportIcons::icon(glyph));
        b->setIconSize(QSize(18, 18));
        b->setFixedSize(26, 26);
        b->setToolTip(tip);
        b->setAutoRaise(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setEnabled(false);
        connect(b, &QToolButton::clicked, this, [handler = std::move(handler)] { handler(); });
        row->addWidget(b);
        m_transportButtons.append(b);
        return b;
    };
    button(QStringLiteral("skipBack"), QStringLiteral("skipBack"), QStringLiteral("Go to Start"),
        [this] { skipBack(); });
    button(QStringLiteral("rewind"), QStringLiteral("rewind"), QStringLiteral("Rewind (J)"),
        [this] { rewind(); });
    button(QStringLiteral("stepLeft"), QStringLiteral("stepLeft"), QStringLiteral("Step Back"),
        [this] { stepLeft(); });
    m_playButton = button(QStringLiteral("playPause"), QStringLiteral("play"),
        QStringLiteral("Play/Pause (Space)"), [this] { playPause(); });
    button(QStringLiteral("stepRight"), QStringLiteral("stepRight"), QStringLiteral("Step Forward"),
        [this] { stepRight(); });
    button(QStringLiteral("fastForward"), QStringLiteral("fastForward"), QStringLiteral("Fast Forward (L)"),
        [this] { fastForward(); });
    button(QStringLiteral("skipNext"), QStringLiteral("skipNext"), QStringLiteral("Go to End"),
        [this] { skipNext(); });
    button(QStringLiteral("prevMarker"), QStringLiteral("prevMarker"), QStringLiteral("Previous Marker"),
        [this] { prevMarker(); });
    button(QStringLiteral("addMarker"), QStringLiteral("addMarker"), QStringLiteral("Add Marker (M)"),
        [this] { addMarker(); });
    button(QStringLiteral("nextMarker"), QStringLiteral("nextMarker"), QStringLiteral("Next Marker"),
        [this] { nextMarker(); });
    row->addStretch(1);

    m_duration = new QLabel(QStringLiteral("00:00:00:00"), m_controlStrip);
    m_duration->setFont(mono);
    m_duration->setMinimumWidth(QFontMetrics(mono).horizontalAdvance(QStringLiteral("00:00:00:00")) + 4);
    row->addWidget(m_duration);
    m_volumeSlider = new QSlider(Qt::Horizontal, m_controlStrip);
    m_volumeSlider->setRange(0, 100);
    m_volumeSlider->setValue(100);
    m_volumeSlider->setFixedWidth(64);
    m_volumeSlider->setFocusPolicy(Qt::NoFocus);
    connect(m_volumeSlider, &QSlider::valueChanged, this, [this] { modifyVolume(); });
    row->addWidget(m_volumeSlider);
}

// Places the picture area and the strip: side by side in a window, the strip over the picture in
// full screen.
void BVDocument::layoutContent()
{
    if (!m_window || !m_playbackArea || !m_controlStrip)
        return;
    const QRect content = m_window->centralWidget()->rect();
    const int strip = kControlStripHeight;
    if (m_fullScreen) {
        m_playbackArea->setGeometry(content);
        m_controlStrip->setGeometry(0, content.height() - strip, content.width(), strip);
        m_controlStrip->raise();
    } else {
        m_playbackArea->setGeometry(0, 0, content.width(), std::max(0, content.height() - strip));
        m_controlStrip->setGeometry(0, content.height() - strip, content.width(), strip);
    }
    m_playbackView->setGeometry(m_playbackArea->rect());
    if (m_timecodeHover && m_scrubber)
        m_timecodeHover->move(m_timecodeHover->x(), m_controlStrip->y() - m_timecodeHover->height() - 2);
}

bool BVDocument::eventFilter(QObject *watched, QEvent *event)
{
    if (m_isUnloading)
        return QObject::eventFilter(watched, event);
    if (m_window && watched == m_window.get()) {
        switch (event->type()) {
        case QEvent::Close:
            windowWillClose();
            break;
        case QEvent::WindowActivate:
            windowDidBecomeKey();
            break;
        case QEvent::WindowDeactivate:
            // The newly active window is known once this event is over.
            QTimer::singleShot(0, this, [this] { windowDidResignKey(); });
            break;
        default:
            break;
        }
    } else if (m_window && watched == m_window->centralWidget() && event->type() == QEvent::Resize) {
        layoutContent();
        windowDidResize();
    } else if (event->type() == QEvent::Close) {
        if (watched == m_timecodePanel.get())
            defaults()->setBool(false, QStringLiteral("showTimecode"));
        else if (watched == m_infoPanel.get())
            defaults()->setBool(false, QStringLiteral("showInfo"));
        else if (watched == m_markersWindow.get())
            defaults()->setBool(false, QStringLiteral("showMarkers"));
        updateMenuChecks();
    }
    return QObject::eventFilter(watched, event);
}

// ---- Playback view callbacks

bool BVDocument::keyDown(BVAVPlaybackView *, QKeyEvent *event)
{
    return playbackKeyPressed(event, false);
}

bool BVDocument::keyUp(BVAVPlaybackView *, QKeyEvent *event)
{
    return playbackKeyPressed(event, true);
}

void BVDocument::mouseMoved(BVAVPlaybackView *, QMouseEvent *)
{
    // The view posts "BVReelmarkMouseMove" too; the document answers that notification.
}

// ---- Fitting the window

int BVDocument::heightOfTitleBar() const
{
    if (!m_window)
        return 0;
    return int(BVWindowGeometry::heightOfTitleBar(m_window->frameGeometry(), m_window->geometry()));
}

QRect BVDocument::availableScreenGeometry() const
{
    QScreen *screen = m_window ? m_window->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
}

void BVDocument::applyFrame(const QRect &frame, const QSizeF &aspect)
{
    if (!m_window)
        return;
    // Frames include the title bar and borders; the window is placed by its client rectangle.
    const QRect outer = m_window->frameGeometry();
    const QRect inner = m_window->geometry();
    const QMargins margins(inner.left() - outer.left(), inner.top() - outer.top(),
        outer.right() - inner.right(), outer.bottom() - inner.bottom());
    m_window->setGeometry(frame.marginsRemoved(margins));
    m_windowAspect = aspect;
}

void BVDocument::resizeWindowToFit()
{
    if (!m_window || m_fullScreen || m_fullScreenTransitioning)
        return;
    const bool audioOnly = m_mediaObject && m_mediaObject->isAudioOnly();
    bool fitted = !audioOnly || m_fileURL.isLocalFile();
    if (audioOnly && isVelo()) {
        auto *asset = dynamic_cast<BVAVAsset *>(m_mediaObject.get());
        fitted = asset && BVAVFoundation::isReadable(asset->asset());
    }
    if (!fitted) {
        setAudioBar();
        return;
    }
    const QString key = isVelo() ? QStringLiteral("velo://%1").arg(m_veloFileID) : fileSettingsKey();
    const QVariantMap entry = defaults()->dictionaryForKey(QStringLiteral("fileSettings")).value(key).toMap();
    const QSizeF natural = m_mediaObject ? m_mediaObject->naturalSize() : QSizeF();
    const QSizeF size = BVWindowGeometry::sizeToFit(natural, entry, audioOnly);
    const BVWindowGeometry::Fit fit = BVWindowGeometry::resizeWindowToFit(
        size, kControlStripHeight, heightOfTitleBar(), m_window->frameGeometry(), availableScreenGeometry());
    m_window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    m_window->setMinimumSize(300, kControlStripHeight + 60);
    applyFrame(fit.frame.toAlignedRect(), fit.aspectRatio);
    if (m_window->isVisible())
        m_window->raise();
    if (fit.fitToScreen) {
        updateViewOptions();
        return;
    }
    if (m_playbackView)
        m_playbackView->updateBounds();
    if (audioOnly)
        drawWaveformForAudioAssetAsync();
}

void BVDocument::setAudioBar()
{
    const QRectF bar = BVWindowGeometry::audioBarFrame(m_window->frameGeometry(), kControlStripHeight);
    applyFrame(bar.toAlignedRect(), {});
    // Not resizable: the bar keeps its size.
    m_window->setFixedSize(m_window->size());
    if (m_timecodeOverlay)
        m_timecodeOverlay->hide();
}

void BVDocument::setActualSize()
{
    if (!m_window || !m_mediaObject || m_fullScreen)
        return;
    const QSizeF natural = m_mediaObject->naturalSize();
    if (natural.width() <= 0 || natural.height() <= 0)
        return;
    applyFrame(BVWindowGeometry::setActualSize(
                   natural, kControlStripHeight, heightOfTitleBar(), m_window->frameGeometry())
                   .toAlignedRect(),
        natural);
    updateViewOptions();
}

void BVDocument::setHalfSize()
{
    if (!m_window || !m_mediaObject || m_fullScreen)
        return;
    const QSizeF natural = m_mediaObject->naturalSize();
    if (natural.width() <= 0 || natural.height() <= 0)
        return;
    applyFrame(BVWindowGeometry::setHalfSize(natural, kControlStripHeight, heightOfTitleBar(),
                   m_window->frameGeometry(), m_window->minimumSize())
                   .toAlignedRect(),
        natural);
    if (m_playbackView)
        m_playbackView->updateBounds();
    updateViewOptions();
}

void BVDocument::fitToScreen()
{
    if (!m_window || m_fullScreen)
        return;
    const QRect screen = availableScreenGeometry();
    applyFrame(BVWindowGeometry::fitToScreen(screen).toAlignedRect(), screen.size());
    updateViewOptions();
}

void BVDocument::windowDidResize()
{
    if (m_isUnloading)
        return;
    updateViewOptions();
    setTimecodeOverlayPosition();
    if (m_mediaObject && m_mediaObject->isAudioOnly())
        drawWaveformForAudioAssetAsync();
}

// ---- View options

void BVDocument::changeMatte(int tag)
{
    defaults()->setFloat(matteRatioForTag(tag), QStringLiteral("mask"));
    updateViewOptions();
    updateMenuChecks();
}

void BVDocument::setWidescreenMatteRatio(float ratio)
{
    if (!m_playbackView)
        return;
    // Nor does a matte over the waveform.
    m_playbackView->setMaskRatio(m_mediaObject && m_mediaObject->isAudioOnly() ? 0 : ratio);
    m_playbackView->updateBounds();
}

void BVDocument::changeRotation(int tag)
{
    defaults()->setInteger(tag, QStringLiteral("rotation"));
    updateViewOptions();
    updateMenuChecks();
}

void BVDocument::setRotation(int rotation)
{
    if (m_playbackView)
        m_playbackView->setRotation(rotation);
}

void BVDocument::toggle43Overlay()
{
    if (!m_playbackView)
        return;
    const bool show = !m_playbackView->show43Safe();
    defaults()->setBool(show, QStringLiteral("safe43Overlay"));
    setSafeAreaOverlay(show, m_playbackView->show169Safe());
    updateMenuChecks();
}

void BVDocument::toggle169Overlay()
{
    if (!m_playbackView)
        return;
    const bool show = !m_playbackView->show169Safe();
    defaults()->setBool(show, QStringLiteral("safe169Overlay"));
    setSafeAreaOverlay(m_playbackView->show43Safe(), show);
    updateMenuChecks();
}

void BVDocument::setSafeAreaOverlay(bool show43, bool show169)
{
    if (!m_playbackView)
        return;
    // Frames for titles and action mean nothing over the waveform of a sound file.
    const bool picture = !m_mediaObject || !m_mediaObject->isAudioOnly();
    m_playbackView->setSafeAreaOverlay(show43 && picture, show169 && picture);
}

void BVDocument::setPlaybackRate(float rate)
{
    // Setting a rate starts a paused player: the preferred rate applies to media already playing,
    // so that a resize or a menu change never starts playback by itself.
    if (rate == 0 || !m_mediaObject || !m_mediaObject->isPlaying())
        return;
    m_mediaObject->setRate(rate < 0 ? 1 : rate);
}

void BVDocument::updateViewOptions()
{
    if (!m_playbackView || m_isUnloading)
        return;
    if (m_mediaObject && m_mediaObject->naturalSize().width() > 0 && !m_mediaObject->isAudioOnly())
        m_playbackView->setNaturalSize(m_mediaObject->naturalSize());
    setRotation(int(defaults()->integerForKey(QStringLiteral("rotation"))));
    setWidescreenMatteRatio(defaults()->floatForKey(QStringLiteral("mask")));
    setSafeAreaOverlay(defaults()->boolForKey(QStringLiteral("safe43Overlay")),
        defaults()->boolForKey(QStringLiteral("safe169Overlay")));
    setPlaybackRate(defaults()->floatForKey(QStringLiteral("playbackRate")));
    if (m_timecodeOverlay && m_playbackArea)
        m_timecodeOverlay->setConstraints(m_playbackArea->rect());
}

// ---- The timecode overlay

void BVDocument::showTimecodeOverlayIfWanted()
{
    if (!m_timecodeOverlay)
        return;
    const bool show = defaults()->boolForKey(QStringLiteral("timecodeOverlay")) && hasVideo();
    m_timecodeOverlay->setVisible(show);
    if (show) {
        m_timecodeOverlay->setTimecode(currentDisplayTimecode());
        setTimecodeOverlayPosition();
        m_timecodeOverlay->raise();
    }
}

void BVDocument::toggleTimecodeOverlay()
{
    if (!hasVideo() || !m_timecodeOverlay)
        return;
    const bool show = !m_timecodeOverlay->isVisible();
    defaults()->setBool(show, QStringLiteral("timecodeOverlay"));
    showTimecodeOverlayIfWanted();
    updateMenuChecks();
}

void BVDocument::setTimecodeOverlayPosition()
{
    if (!m_timecodeOverlay || !hasVideo() || !m_playbackArea)
        return;
    m_timecodeOverlay->setConstraints(m_playbackArea->rect());
    if (!m_timecodeOverlay->setTimecodeOverlayPosition()) {
        // No stored place yet: the bottom left of the picture.
        m_timecodeOverlay->adjustSize();
        m_timecodeOverlay->move(
            20, m_playbackArea->height() - m_timecodeOverlay->height() - BVTimecodeOverlay::bottomMargin);
        m_timecodeOverlay->keepInsideConstraints();
    }
}

// ---- Status overlay and hover timecode

void BVDocument::showStatusOverlay(const QString &text)
{
    if (!m_statusOverlay)
        return;
    m_statusOverlay->hide();
    if (text.isEmpty())
        return;
    m_statusOverlay->showText(text);
    m_statusOverlay->show();
    m_statusOverlay->raise();
    resetStatusOverlayTimer();
}

void BVDocument::resetStatusOverlayTimer()
{
    if (!m_statusOverlayTimer)
        m_statusOverlayTimer = std::make_unique<BVTimer>(
            BVStatusOverlayView::displaySeconds, false, [this] { hideStatusOverlay(); });
    m_statusOverlayTimer->stop();
    m_statusOverlayTimer->start();
}

void BVDocument::hideStatusOverlay()
{
    if (m_statusOverlay)
        m_statusOverlay->hide();
}

QString BVDocument::statusOverlayText() const
{
    return m_statusOverlay && !m_statusOverlay->isHidden() ? m_statusOverlay->text() : QString();
}

void BVDocument::showTimecodeHoverAtLocation(double x)
{
    if (!m_timecodeHover || !m_scrubber || !m_mediaObject)
        return;
    const MediaTime duration = m_mediaObject->duration();
    const MediaTime time = BVTimecodeHoverView::timeAtLocation(x, m_scrubber->width(), duration);
    if (!time.isValid() || !m_mediaObject->currentTime().isValid())
        return;
    const QString text = BVPositionText::textAtTime(*m_mediaObject, time, BVPositionText::displayMode());
    const QPoint origin = m_scrubber->mapTo(m_window->centralWidget(), QPoint(0, 0));
    m_timecodeHover->move(m_timecodeHover->x(), origin.y() - m_timecodeHover->height() - 2);
    m_timecodeHover->showAtLocation(origin.x() + x, text);
    m_timecodeHover->raise();
}

void BVDocument::hideTimecodeHover()
{
    if (m_timecodeHover)
        m_timecodeHover->hide();
}

// ---- Full screen

void BVDocument::toggleFullScreen()
{
    if (!m_window || m_fullScreenTransitioning)
        return;
    applyFullScreen(!m_fullScreen);
}

void BVDocument::applyFullScreen(bool on)
{
    m_fullScreenTransitioning = true;
    if (on) {
        m_fullScreen = true;
        m_controlStrip->hide();
        hideSubWindows();
        m_window->showFullScreen();
        m_fullScreenTransitioning = false;
        layoutContent();
        updateViewOptions();
        setTimecodeOverlayPosition();
        showFullscreenUI();
    } else {
        m_fullScreen = false;
        if (m_fullScreenTimer)
            m_fullScreenTimer->stop();
        if (m_playbackView)
            m_playbackView->unsetCursor();
        m_window->showNormal();
        m_fullScreenTransitioning = false;
        m_controlStrip->show();
        layoutContent();
        setTimecodeOverlayPosition();
        showSubWindows();
    }
    if (m_mediaObject && m_mediaObject->isAudioOnly())
        drawWaveformForAudioAssetAsync();
}

void BVDocument::mouseMovedOverVideo()
{
    showFullscreenUI();
}

void BVDocument::showFullscreenUI()
{
    if (!m_fullScreen || m_fullScreenTransitioning || !m_controlStrip)
        return;
    if (m_playbackView)
        m_playbackView->unsetCursor();
    if (m_controlStrip->isHidden()) {
        layoutContent();
        m_controlStrip->show();
        m_controlStrip->raise();
    }
    if (!m_fullScreenTimer)
        m_fullScreenTimer = std::make_unique<BVTimer>(3.0, false, [this] { hideFullscreenUI(); });
    m_fullScreenTimer->stop();
    m_fullScreenTimer->start();
}

void BVDocument::hideFullscreenUI()
{
    if (defaults()->boolForKey(QStringLiteral("alwaysShowControls")))
        return;
    if (m_fullScreenTimer)
        m_fullScreenTimer->stop();
    if (!m_fullScreen || m_fullScreenTransitioning || !m_controlStrip || m_controlStrip->isHidden())
        return;
    if (m_controlStrip->underMouse()) {
        m_fullScreenTimer->start();
        return;
    }
    if (m_playbackView)
        m_playbackView->setCursor(Qt::BlankCursor);
    m_controlStrip->hide();
}

// ---- The waveform of an audio file

void BVDocument::drawWaveformForAudioAssetAsync()
{
    // Called from the asset's background queue as well: the checks run on the main thread.
    std::weak_ptr<int> alive = m_alive;
    BVMainThread::async([this, alive] {
        if (alive.lock())
            drawWaveformForAudioAsset();
    });
}

void BVDocument::drawWaveformForAudioAsset()
{
    if (m_isUnloading || !m_isLoaded || !m_isReady || !m_window || !m_window->isVisible() || !m_playbackView)
        return;
    auto *asset = dynamic_cast<BVAVAsset *>(m_mediaObject.get());
    if (!asset || !asset->isAudioOnly() || !asset->waveformDataDone()
        || !BVAVFoundation::isReadable(asset->asset()))
        return;
    const QSize viewSize = m_playbackView->size();
    if (!m_cachedWaveform.isNull() && viewSize.width() > 0
        && double(m_cachedWaveform.width()) / viewSize.width() >= 0.6) {
        m_playbackView->showWaveformImage(m_cachedWaveform);
        return;
    }
    int width = viewSize.width();
    int height = viewSize.height();
    if (width < 1500) {
        width *= 2;
        height *= 2;
    }
    std::vector<float> values = asset->waveformData();
    const float normalize = asset->waveformNormalize();
    if (!m_waveformQueue)
        m_waveformQueue
            = std::make_unique<BVWorkQueue>(QStringLiteral("com.brightvane.Reelmark.document.waveform"));
    m_waveformQueue->cancelAll();
    std::weak_ptr<int> alive = m_alive;
    m_waveformQueue->async([this, alive, values = std::move(values), normalize, width, height] {
        QImage image = waveformImage(values, normalize, width, height);
        if (image.isNull())
            return;
        BVMainThread::async([this, alive, image] {
            if (!alive.lock() || m_isUnloading)
                return;
            m_cachedWaveform = image;
            if (m_playbackView)
                m_playbackView->showWaveformImage(image);
        });
    });
}
