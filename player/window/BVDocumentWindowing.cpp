// The document's window operations: each forwards to its window controller and does nothing for a
// document without a window; the settings behind the view menus are the document's. Main thread.
#include "player/document/BVDocument.h"

#include "platform/defaults/BVUserDefaults.h"
#include "player/window/BVDocumentWindowController.h"

#include <QGuiApplication>
#include <QScreen>

namespace {

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

} // namespace

QWidget *BVDocument::parentWindow() const
{
    return m_windowController ? m_windowController->windowWidget() : nullptr;
}

BVTimecodePanel *BVDocument::timecodePanel() const
{
    return m_windowController ? m_windowController->timecodePanel() : nullptr;
}

QMenuBar *BVDocument::menuBar() const
{
    return m_windowController ? m_windowController->menuBar() : nullptr;
}

QAction *BVDocument::actionNamed(const QString &name) const
{
    return m_windowController ? m_windowController->actionNamed(name) : nullptr;
}

void BVDocument::updateMenuChecks()
{
    Q_EMIT menuStateChanged();
}

bool BVDocument::isKeyDocument() const
{
    if (m_isUnloading)
        return false;
    // The platform knows first which window became active.
    return m_windowController ? m_windowController->isWindowActive() : m_isKey;
}

bool BVDocument::isFullScreen() const
{
    return m_windowController && m_windowController->isFullScreen();
}

QString BVDocument::statusOverlayText() const
{
    return m_windowController ? m_windowController->statusOverlayText() : QString();
}

int BVDocument::heightOfTitleBar() const
{
    return m_windowController ? m_windowController->heightOfTitleBar() : 0;
}

int BVDocument::controlStripHeight() const
{
    return BVDocumentWindowController::controlStripHeight();
}

QRect BVDocument::availableScreenGeometry() const
{
    if (m_windowController)
        return m_windowController->screenGeometry();
    QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
}

void BVDocument::showStatusOverlay(const QString &text)
{
    Q_EMIT statusTextChanged(text);
}

void BVDocument::hideStatusOverlay()
{
    Q_EMIT statusTextChanged({});
}

void BVDocument::drawWaveformForAudioAssetAsync()
{
    Q_EMIT waveformDataReady();
}

void BVDocument::changeMatte(int tag)
{
    defaults()->setFloat(matteRatioForTag(tag), QStringLiteral("mask"));
    Q_EMIT viewOptionsChanged();
}

void BVDocument::changeRotation(int tag)
{
    defaults()->setInteger(tag, QStringLiteral("rotation"));
    Q_EMIT viewOptionsChanged();
}

void BVDocument::setPlaybackRate(float rate)
{
    // Setting a rate starts a paused player: the preferred rate applies to media already playing,
    // so that a resize or a menu change never starts playback by itself.
    if (rate == 0 || !m_mediaObject || !m_mediaObject->isPlaying())
        return;
    m_mediaObject->setRate(rate < 0 ? 1 : rate);
}

void BVDocument::resizeWindowToFit()
{
    if (m_windowController)
        m_windowController->resizeWindowToFit();
}

void BVDocument::setActualSize()
{
    if (m_windowController)
        m_windowController->setActualSize();
}

void BVDocument::setHalfSize()
{
    if (m_windowController)
        m_windowController->setHalfSize();
}

void BVDocument::fitToScreen()
{
    if (m_windowController)
        m_windowController->fitToScreen();
}

void BVDocument::toggle43Overlay()
{
    if (m_windowController)
        m_windowController->toggle43Overlay();
}

void BVDocument::toggle169Overlay()
{
    if (m_windowController)
        m_windowController->toggle169Overlay();
}

void BVDocument::updateViewOptions()
{
    if (m_windowController)
        m_windowController->updateViewOptions();
}

void BVDocument::toggleTimecodeOverlay()
{
    if (m_windowController)
        m_windowController->toggleTimecodeOverlay();
}

void BVDocument::setTimecodeOverlayPosition()
{
    if (m_windowController)
        m_windowController->setTimecodeOverlayPosition();
}

void BVDocument::toggleFullScreen()
{
    if (m_windowController)
        m_windowController->toggleFullScreen();
}

void BVDocument::showFullscreenUI()
{
    if (m_windowController)
        m_windowController->showFullscreenUI();
}

void BVDocument::hideFullscreenUI()
{
    if (m_windowController)
        m_windowController->hideFullscreenUI();
}

void BVDocument::mouseMovedOverVideo()
{
    if (m_windowController)
        m_windowController->mouseMovedOverVideo();
}
