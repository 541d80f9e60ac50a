// The player window's geometry: window fitting and the size commands, view options (matte,
// rotation, safe areas, rate), the timecode, status and hover overlays, full screen and the
// waveform of an audio file. Main thread unless said.
#include "player/window/BVDocumentWindowController.h"

#include "player/document/BVDocument.h"

#include "platform/defaults/BVUserDefaults.h"
#include "player/document/BVFileSettings.h"
#include "player/media/BVAVAsset.h"
#include "player/media/BVImageSequence.h"
#include "player/time/BVAVFoundation.h"
#include "player/window/BVAVPlaybackView.h"
#include "player/window/BVPlayheadSlider.h"
#include "player/window/BVStatusOverlayView.h"
#include "player/window/BVTimecodeHoverView.h"
#include "player/window/BVTimecodeOverlay.h"
#include "player/window/BVTimecodePanel.h"
#include "player/window/BVTimecodeTextField.h"
#include "player/window/BVTransportIcons.h"
#include "player/window/BVWindowGeometry.h"
#include "support/BVMainThread.h"
#include "support/BVNotificationCenter.h"
#include "support/BVTimer.h"
#include "support/BVWorkQueue.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QMainWindow>
#include <QMenuBar>
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

constexpr int kControlStripHeight = 80; // the tag strip (16), the scrubber and the buttons

BVUserDefaults *defaults()
{
    return BVUserDefaults::standardUserDefaults();
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
    // Linear scale: a line reaches v = value x H / max above and below the centre, so values above
    // half the maximum fill the height (the loudest parts stand out, quiet ones stay visible).
    const double scale = h / double(normalizeMax);
    const double count = double(values.size());
    int previousX = -1;
    for (size_t i = 0; i < values.size(); ++i) {
        const int x = int(std::ceil(width / count * double(i)));
        if (x == previousX)
            continue;
        previousX = x;
        const double v = double(static_cast<int16_t>(std::clamp(values[i], -32768.0f, 32767.0f))) * scale;
        painter.drawLine(QPointF(x, centre - v), QPointF(x, centre + v));
    }
    return image;
}

} // namespace

// ---- Fitting the window

int BVDocumentWindowController::controlStripHeight()
{
    return kControlStripHeight;
}

QRect BVDocumentWindowController::screenGeometry() const
{
    QScreen *screen = m_window ? m_window->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
}

QRect BVDocumentWindowController::availableScreenGeometry() const
{
    return screenGeometry();
}

int BVDocumentWindowController::heightOfTitleBar() const
{
    if (!m_window)
        return 0;
    return int(BVWindowGeometry::heightOfTitleBar(m_window->frameGeometry(), m_window->geometry()));
}

QSize BVDocumentWindowController::pictureChrome() const
{
    if (!m_window || !m_window->centralWidget())
        return {0, kControlStripHeight};
    // The menu bar and the central area are placed by the window's layout: bring it up to date.
    if (QLayout *layout = m_window->layout())
        layout->activate();
    const QRect frame = m_window->frameGeometry();
    const QSize content = m_window->centralWidget()->size();
    const int strip = m_fullScreen ? 0 : kControlStripHeight;
    return {
        std::max(0, frame.width() - content.width()), std::max(0, frame.height() - content.height()) + strip};
}

QSizeF BVDocumentWindowController::pointsForPixels(const QSizeF &pixels) const
{
    const qreal ratio = m_window ? m_window->devicePixelRatioF() : 1.0;
    return ratio > 0 ? pixels / ratio : pixels;
}

void BVDocumentWindowController::applyPictureSize(const QSizeF &picture, std::optional<QPoint> origin)
{
    for (int pass = 0; pass < 2; ++pass) {
        const QSize chrome = pictureChrome();
        const QRectF frame(origin.value_or(m_window->frameGeometry().topLeft()),
            QSizeF(picture.width() + chrome.width(), picture.height() + chrome.height()));
        applyFrame(frame.toAlignedRect(), picture);
        // Measured again at the new width: done when what surrounds the picture stayed the same.
        if (pictureChrome() == chrome)
            break;
    }
}

void BVDocumentWindowController::applyFrame(const QRect &frame, const QSizeF &aspect)
{
    if (!m_window)
        return;
    // Frames include the title bar and borders; the window is placed by its client rectangle.
    const QRect outer = m_window->frameGeometry();
    const QRect inner = m_window->geometry();
    const QMargins margins(inner.left() - outer.left(), inner.top() - outer.top(),
        outer.right() - inner.right(), outer.bottom() - inner.bottom());
    m_requestedContentSize = frame.marginsRemoved(margins).size();
    m_window->setGeometry(frame.marginsRemoved(margins));
    m_windowAspect = aspect;
}

void BVDocumentWindowController::resizeWindowToFit()
{
    if (!m_window || m_fullScreen || m_fullScreenTransitioning)
        return;
    const bool audioOnly = m_document.mediaObject() && m_document.mediaObject()->isAudioOnly();
    bool fitted = !audioOnly || m_document.fileURL().isLocalFile();
    if (audioOnly && m_document.isVelo()) {
        auto *asset = dynamic_cast<BVAVAsset *>(m_document.mediaObject());
        fitted = asset && BVAVFoundation::isReadable(asset->asset());
    }
    if (!fitted) {
        setAudioBar();
        return;
    }
    const QVariantMap entry = BVFileSettings::entry(m_document.fileSettingsKey());
    const QSizeF natural = m_document.mediaObject() ? m_document.mediaObject()->naturalSize() : QSizeF();
    // The picture at one pixel per screen pixel, in points.
    const QSizeF size = audioOnly ? BVWindowGeometry::sizeToFit(natural, entry, audioOnly)
                                  : pointsForPixels(BVWindowGeometry::sizeToFit(natural, entry, audioOnly));
    m_window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    m_window->setMinimumSize(300, kControlStripHeight + 60);
    const QSize chrome = pictureChrome();
    const BVWindowGeometry::Fit fit = BVWindowGeometry::resizeWindowToFit(
        size, chrome, m_window->frameGeometry(), availableScreenGeometry());
    if (fit.fitToScreen)
        applyFrame(fit.frame.toAlignedRect(), fit.aspectRatio);
    else
        applyPictureSize(fit.aspectRatio, fit.frame.topLeft().toPoint());
    if (m_window->isVisible())
        m_window->raise();
    if (fit.fitToScreen) {
        updateViewOptions();
        return;
    }
    if (m_playbackView)
        m_playbackView->updateBounds();
    if (audioOnly)
        drawWaveformAsync();
}

void BVDocumentWindowController::setAudioBar()
{
    const QRectF bar = BVWindowGeometry::audioBarFrame(m_window->frameGeometry(), kControlStripHeight);
    applyFrame(bar.toAlignedRect(), {});
    // Not resizable: the bar keeps its size.
    m_window->setFixedSize(m_window->size());
    if (m_timecodeOverlay)
        m_timecodeOverlay->hide();
}

void BVDocumentWindowController::setActualSize()
{
    if (!m_window || !m_document.mediaObject() || m_fullScreen)
        return;
    const QSizeF natural = m_document.mediaObject()->naturalSize();
    if (natural.width() <= 0 || natural.height() <= 0)
        return;
    // One pixel of the picture per pixel of the screen.
    applyPictureSize(pointsForPixels(natural));
    updateViewOptions();
}

void BVDocumentWindowController::setHalfSize()
{
    if (!m_window || !m_document.mediaObject() || m_fullScreen)
        return;
    const QSizeF natural = m_document.mediaObject()->naturalSize();
    if (natural.width() <= 0 || natural.height() <= 0)
        return;
    const QSize chrome = pictureChrome();
    const QRectF half = BVWindowGeometry::setHalfSize(pointsForPixels(natural), chrome.height(), 0,
        m_window->frameGeometry(), m_window->minimumSize() - QSize(chrome.width(), 0));
    // The minimum may have widened it: the picture then keeps half its height only if it fits.
    applyPictureSize(QSizeF(half.width(), half.height() - chrome.height()));
    if (m_playbackView)
        m_playbackView->updateBounds();
    updateViewOptions();
}

void BVDocumentWindowController::fitToScreen()
{
    if (!m_window || m_fullScreen)
        return;
    const QRect screen = availableScreenGeometry();
    applyFrame(BVWindowGeometry::fitToScreen(screen).toAlignedRect(), screen.size());
    updateViewOptions();
}

void BVDocumentWindowController::windowDidResize()
{
    if (m_document.isUnloading())
        return;
    keepPictureAspect();
    updateViewOptions();
    setTimecodeOverlayPosition();
    if (m_document.mediaObject() && m_document.mediaObject()->isAudioOnly())
        drawWaveformAsync();
}

// A resize by the user keeps the picture's proportions (not the frame's, which includes the strip):
// the height follows the width. Frames the document sets itself are left as they are.
void BVDocumentWindowController::keepPictureAspect()
{
    if (!m_window || m_fullScreen || m_fullScreenTransitioning || !m_document.mediaObject()
        || m_document.mediaObject()->isAudioOnly())
        return;
    const QSize content = m_window->size();
    if (content == m_requestedContentSize)
        return;
    const QSizeF picture = m_document.mediaObject()->naturalSize();
    if (picture.width() <= 0 || picture.height() <= 0)
        return;
    // What surrounds the picture inside the window (menu bar, strip), as laid out now.
    const int around = m_playbackArea ? m_window->height() - m_playbackArea->height() : kControlStripHeight;
    const QSizeF wanted = BVWindowGeometry::windowWillResize(content, picture, around);
    if (std::abs(wanted.height() - content.height()) < 2)
        return;
    m_requestedContentSize = wanted.toSize();
    m_window->resize(m_requestedContentSize);
}

// ---- View options

void BVDocumentWindowController::setWidescreenMatteRatio(float ratio)
{
    if (!m_playbackView)
        return;
    // Nor does a matte over the waveform.
    m_playbackView->setMaskRatio(
        m_document.mediaObject() && m_document.mediaObject()->isAudioOnly() ? 0 : ratio);
    m_playbackView->updateBounds();
}

void BVDocumentWindowController::setRotation(int rotation)
{
    if (m_playbackView)
        m_playbackView->setRotation(rotation);
}

void BVDocumentWindowController::toggle43Overlay()
{
    if (!m_playbackView)
        return;
    const bool show = !m_playbackView->show43Safe();
    defaults()->setBool(show, QStringLiteral("safe43Overlay"));
    setSafeAreaOverlay(show, m_playbackView->show169Safe());
    updateMenuChecks();
}

void BVDocumentWindowController::toggle169Overlay()
{
    if (!m_playbackView)
        return;
    const bool show = !m_playbackView->show169Safe();
    defaults()->setBool(show, QStringLiteral("safe169Overlay"));
    setSafeAreaOverlay(m_playbackView->show43Safe(), show);
    updateMenuChecks();
}

void BVDocumentWindowController::setSafeAreaOverlay(bool show43, bool show169)
{
    if (!m_playbackView)
        return;
    // Frames for titles and action mean nothing over the waveform of a sound file.
    const bool picture = !m_document.mediaObject() || !m_document.mediaObject()->isAudioOnly();
    m_playbackView->setSafeAreaOverlay(show43 && picture, show169 && picture);
}

void BVDocumentWindowController::updateViewOptions()
{
    if (!m_playbackView || m_document.isUnloading())
        return;
    if (m_document.mediaObject() && m_document.mediaObject()->naturalSize().width() > 0
        && !m_document.mediaObject()->isAudioOnly()) {
        m_playbackView->setPictureOrientation(m_document.mediaObject()->pictureOrientation());
        m_playbackView->setNaturalSize(m_document.mediaObject()->naturalSize());
    }
    m_playbackView->setNearestNeighbourZoom(defaults()->boolForKey(QStringLiteral("nearestNeighbourZoom")));
    m_playbackView->setAlphaCheckerboard(defaults()->boolForKey(QStringLiteral("alphaCheckerboard")));
    m_playbackView->setDeinterlace(defaults()->boolForKey(QStringLiteral("deinterlace")));
    setRotation(int(defaults()->integerForKey(QStringLiteral("rotation"))));
    setWidescreenMatteRatio(defaults()->floatForKey(QStringLiteral("mask")));
    setSafeAreaOverlay(defaults()->boolForKey(QStringLiteral("safe43Overlay")),
        defaults()->boolForKey(QStringLiteral("safe169Overlay")));
    m_document.setPlaybackRate(defaults()->floatForKey(QStringLiteral("playbackRate")));
    if (m_timecodeOverlay && m_playbackArea)
        m_timecodeOverlay->setConstraints(m_playbackArea->rect());
}

// ---- The timecode overlay

void BVDocumentWindowController::showTimecodeOverlayIfWanted()
{
    if (!m_timecodeOverlay)
        return;
    const bool show = defaults()->boolForKey(QStringLiteral("timecodeOverlay")) && m_document.hasVideo();
    m_timecodeOverlay->setVisible(show);
    if (show) {
        m_timecodeOverlay->setTimecode(m_document.currentDisplayTimecode());
        setTimecodeOverlayPosition();
        m_timecodeOverlay->raise();
    }
}

void BVDocumentWindowController::toggleTimecodeOverlay()
{
    if (!m_document.hasVideo() || !m_timecodeOverlay)
        return;
    const bool show = !m_timecodeOverlay->isVisible();
    defaults()->setBool(show, QStringLiteral("timecodeOverlay"));
    showTimecodeOverlayIfWanted();
    updateMenuChecks();
}

void BVDocumentWindowController::setTimecodeOverlayPosition()
{
    if (!m_timecodeOverlay || !m_document.hasVideo() || !m_playbackArea)
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

void BVDocumentWindowController::showStatusOverlay(const QString &text)
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

void BVDocumentWindowController::resetStatusOverlayTimer()
{
    if (!m_statusOverlayTimer)
        m_statusOverlayTimer = std::make_unique<BVTimer>(
            BVStatusOverlayView::displaySeconds, false, [this] { hideStatusOverlay(); });
    m_statusOverlayTimer->stop();
    m_statusOverlayTimer->start();
}

void BVDocumentWindowController::hideStatusOverlay()
{
    if (m_statusOverlay)
        m_statusOverlay->hide();
}

QString BVDocumentWindowController::statusOverlayText() const
{
    return m_statusOverlay && !m_statusOverlay->isHidden() ? m_statusOverlay->text() : QString();
}

void BVDocumentWindowController::showTimecodeHoverAtLocation(double x)
{
    if (!m_timecodeHover || !m_scrubber || !m_document.mediaObject())
        return;
    const MediaTime duration = m_document.mediaObject()->duration();
    const MediaTime time = BVTimecodeHoverView::timeAtLocation(x, m_scrubber->width(), duration);
    if (!time.isValid() || !m_document.mediaObject()->currentTime().isValid())
        return;
    const QString text = m_document.timecodeAtTime(time);
    const QPoint origin = m_scrubber->mapTo(m_window->centralWidget(), QPoint(0, 0));
    m_timecodeHover->move(m_timecodeHover->x(), origin.y() - m_timecodeHover->height() - 2);
    m_timecodeHover->showAtLocation(origin.x() + x, text);
    m_timecodeHover->raise();
}

void BVDocumentWindowController::hideTimecodeHover()
{
    if (m_timecodeHover)
        m_timecodeHover->hide();
}

// ---- Full screen

void BVDocumentWindowController::toggleFullScreen()
{
    if (!m_window || m_fullScreenTransitioning)
        return;
    applyFullScreen(!m_fullScreen);
}

void BVDocumentWindowController::applyFullScreen(bool on)
{
    m_fullScreenTransitioning = true;
    // The menu bar goes with the title bar; its commands keep their keys through the window.
    if (m_menuBar)
        m_menuBar->setVisible(!on);
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
    if (m_document.mediaObject() && m_document.mediaObject()->isAudioOnly())
        drawWaveformAsync();
}

void BVDocumentWindowController::mouseMovedOverVideo()
{
    showFullscreenUI();
}

void BVDocumentWindowController::showFullscreenUI()
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

void BVDocumentWindowController::hideFullscreenUI()
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

void BVDocumentWindowController::drawWaveformAsync()
{
    // Called from the asset's background queue as well: the checks run on the main thread.
    const BVLifetime::Token alive = m_lifetime.token();
    BVMainThread::async([this, alive] {
        if (!alive.expired())
            drawWaveformForAudioAsset();
    });
}

void BVDocumentWindowController::drawWaveformForAudioAsset()
{
    if (m_document.isUnloading() || !m_document.isLoaded() || !m_document.isReady() || !m_window
        || !m_window->isVisible() || !m_playbackView)
        return;
    auto *asset = dynamic_cast<BVAVAsset *>(m_document.mediaObject());
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
    const BVLifetime::Token alive = m_lifetime.token();
    m_waveformQueue->async([this, alive, values = std::move(values), normalize, width, height] {
        QImage image = waveformImage(values, normalize, width, height);
        if (image.isNull())
            return;
        BVMainThread::async([this, alive, image] {
            if (alive.expired() || m_document.isUnloading())
                return;
            m_cachedWaveform = image;
            if (m_playbackView)
                m_playbackView->showWaveformImage(image);
        });
    });
}
