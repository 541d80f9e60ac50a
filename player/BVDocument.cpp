// The player document: opening, media callbacks, displayed timecode, position memory, volume,
// auxiliary windows, the progress sheet and cleanup.
#include "player/BVDocument.h"

#include "platform/defaults/BVUserDefaults.h"
#include "platform/media/MediaAsset.h"
#include "player/BVAVAsset.h"
#include "player/BVAVFoundation.h"
#include "player/BVAVPlaybackView.h"
#include "player/BVImageSequence.h"
#include "player/BVTimecode.h"
#include "player/BVTimecodeOverlay.h"
#include "player/BVTimecodePanel.h"
#include "support/BVAlert.h"
#include "support/BVLog.h"
#include "support/BVMainThread.h"
#include "support/BVNotificationCenter.h"
#include "support/BVPowerAssertion.h"
#include "support/BVTimer.h"
#include "support/BVWorkQueue.h"

#include <QApplication>
#include <QDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

BVUserDefaults *defaults()
{
    return BVUserDefaults::standardUserDefaults();
}

QList<BVDocument *> &registry()
{
    static QList<BVDocument *> documents;
    return documents;
}

} // namespace

std::function<void(const QString &, const QString &)> BVDocument::s_userNotificationHandler;

QList<BVDocument *> BVDocument::openDocuments()
{
    QList<BVDocument *> open;
    for (BVDocument *document : registry()) {
        if (!document->isUnloading())
            open.append(document);
    }
    return open;
}

BVDocument::BVDocument(QObject *parent)
    : QObject(parent)
    , m_powerAssertion(std::make_unique<BVPowerAssertion>())
{
    registry().append(this);
}

BVDocument::~BVDocument()
{
    cleanup();
    registry().removeAll(this);
}

QMainWindow *BVDocument::window() const
{
    return m_window.get();
}

BVAVPlaybackView *BVDocument::playbackView() const
{
    return m_playbackView;
}

// ---- Opening

bool BVDocument::readFromURL(const QUrl &url, const QString &typeName, BVError *error)
{
    const QString scheme = url.scheme().toLower();
    const bool remote = scheme == QLatin1String("http") || scheme == QLatin1String("https");
    auto fail = [&](const QString &reason) {
        BVLog::appendLog("Error opening file: %@", reason);
        if (error)
            *error = BVError::withDescription(QStringLiteral("BVReelmark"), 0,
                QStringLiteral("The file \"%1\" could not be opened.").arg(url.fileName()), reason);
        return false;
    };
    if (!remote) {
        if (!url.isLocalFile())
            return fail(QStringLiteral("Only local files and http or https addresses can be played."));
        const QFileInfo info(url.toLocalFile());
        if (!info.exists())
            return fail(QStringLiteral("The file does not exist."));
        if (!info.isReadable() || info.isDir())
            return fail(QStringLiteral("The file cannot be read."));
    }
    m_fileURL = url;
    m_typeName = typeName;
    if (remote)
        m_isLoaded = true;
    // No old-format movie ever needs converting here: every file goes straight to the asset.
    startLoadingAsset(url, typeName == audioType());
    return true;
}

void BVDocument::loadAVFAsset(const QUrl &url)
{
    startLoadingAsset(url, false);
}

void BVDocument::loadAudioAsset(const QUrl &url)
{
    startLoadingAsset(url, true);
}

void BVDocument::startLoadingAsset(const QUrl &url, bool audioOnly)
{
    auto media = std::make_unique<BVAVAsset>();
    media->setIsVelo(isVelo());
    media->setIsAudioOnly(audioOnly);
    if (m_playlist)
        media->setShouldPlayWhenLoaded(true);
    BVAVAsset *asset = media.get();
    replaceMediaObject(std::move(media));
    if (!m_loadQueue)
        m_loadQueue = std::make_unique<BVWorkQueue>(QStringLiteral("com.brightvane.Reelmark.document.load"));
    auto platformAsset = MediaAsset::assetWithURL(url);
    // The queue is emptied before the media object goes away (replaceMediaObject, cleanup).
    m_loadQueue->async([asset, platformAsset] { asset->loadAsset(platformAsset); });
}

void BVDocument::loadImageSequence(const QStringList &files, double fps)
{
    if (!files.isEmpty())
        m_fileURL = QUrl::fromLocalFile(files.first());
    auto sequence = std::make_unique<BVImageSequence>();
    sequence->setFps(fps);
    BVImageSequence *raw = sequence.get();
    replaceMediaObject(std::move(sequence));
    raw->loadFiles(files);
}

void BVDocument::replaceMediaObject(std::unique_ptr<BVMediaObject> media)
{
    if (m_mediaObject) {
        if (m_playbackView)
            m_playbackView->setPlayer(nullptr);
        m_mediaObject->pause(false);
        if (m_loadQueue)
            m_loadQueue->waitUntilEmpty();
        m_mediaObject->cleanup();
    }
    m_isReady = false;
    m_lastSyncedFrame = -1;
    m_mediaObject = std::move(media);
    m_mediaObject->setDelegate(this);
}

void BVDocument::showWindows()
{
    if (m_isUnloading)
        return;
    if (!m_window) {
        buildWindow();
        windowControllerDidLoadNib();
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void BVDocument::close()
{
    if (m_window)
        m_window->close();
    else
        windowWillClose();
}

void BVDocument::windowControllerDidLoadNib()
{
    resizeWindowToFit();
    observeNotifications();
    syncPlayButton();
    syncScrubber();
    if (m_playbackView)
        m_playbackView->setFocus();
    setActualSize();
    showSubWindows();
    if (m_mediaObject && m_mediaObject->isLoaded())
        showTimecodeOverlayIfWanted();
    if (m_mediaObject)
        m_mediaObject->setShouldPlayWhenLoaded(m_mediaObject->shouldPlayWhenLoaded()
            || defaults()->integerForKey(QStringLiteral("autoplay")) != 0);
    if (m_mediaObject && m_mediaObject->isAudioOnly())
        drawWaveformForAudioAssetAsync();
    m_window->setWindowTitle(windowTitleForDocumentDisplayName(displayName()));
    resizeWindowToFit();
    updateGangSettings();
    loadMarkers();
    // Media that became ready before the window existed starts now.
    if (m_isReady && m_mediaObject && m_mediaObject->shouldPlayWhenLoaded() && !m_mediaObject->isPlaying())
        playAfterDelayIfWanted();
}

void BVDocument::observeNotifications()
{
    if (m_observing)
        return;
    m_observing = true;
    BVNotificationCenter &center = BVNotificationCenter::defaultCenter();
    center.addObserver(this, QStringLiteral("GANGUPDATE"), nullptr,
        [this](const BVNotification &) { updateGangSettings(); });
    center.addObserver(this, QStringLiteral("BVBackgroundMute"), nullptr,
        [this](const BVNotification &) { muteInBackground(); });
    center.addObserver(this, QStringLiteral("BVGrowlAlertClicked"), nullptr,
        [this](const BVNotification &n) { growlAlertClicked(n); });
    if (m_playbackView) {
        center.addObserver(this, QStringLiteral("BVReelmarkMouseMove"), m_playbackView.data(),
            [this](const BVNotification &) { mouseMovedOverVideo(); });
    }
}

QString BVDocument::displayName() const
{
    if (m_fileURL.isEmpty())
        return QStringLiteral("Untitled");
    const QString name = m_fileURL.fileName();
    return name.isEmpty() ? m_fileURL.toString() : name;
}

QString BVDocument::windowTitleForDocumentDisplayName(const QString &name) const
{
    return name;
}

QString BVDocument::auxTitle(const QString &suffix) const
{
    return QStringLiteral("%1 - %2").arg(QFileInfo(displayName()).completeBaseName(), suffix);
}

bool BVDocument::hasVideo() const
{
    return m_mediaObject && !m_mediaObject->isAudioOnly();
}

// ---- Media object callbacks

void BVDocument::mediaStatusChanged(const QString &status)
{
    if (m_isUnloading || !m_mediaObject || !m_mediaObject->delegate())
        return;
    syncPlayButton();
    auto *asset = dynamic_cast<BVAVAsset *>(m_mediaObject.get());
    if (status == QLatin1String("unknown")) {
        if (asset)
            asset->removePlayerTimeObserver();
        syncScrubber();
        setTransportEnabled(false);
    } else if (status == QLatin1String("loaded")) {
        m_isLoaded = true;
        resizeWindowToFit();
        updateViewOptions();
        showTimecodeOverlayIfWanted();
        if (!isVelo())
            loadMarkers();
    } else if (status == QLatin1String("ready")) {
        m_isReady = true;
        postGangNotification(QStringLiteral("GANGUPDATE"));
        loadMarkers();
        // After the media object has finished making itself ready: a seek issued from inside its
        // ready report is superseded by the player's own first positioning.
        QTimer::singleShot(0, this, [this] { seekToStartPosition(); });
        if (asset)
            asset->initScrubberTimer();
        setTransportEnabled(true);
        updateTimecode();
        updateViewOptions();
        updateBufferedRange();
        showTimecodeOverlayIfWanted();
        updateInfoPanel();
    }
    if (m_mediaObject && m_mediaObject->isAudioOnly())
        drawWaveformForAudioAssetAsync();
}

void BVDocument::setDurationField()
{
    if (!m_duration || !m_mediaObject)
        return;
    const uint64_t frames = m_mediaObject->frameCount();
    if (defaults()->integerForKey(QStringLiteral("timecodeDisplay")) == 2)
        m_duration->setText(QString::number(frames));
    else
        m_duration->setText(BVTimecode::timecodeFromFrameCount(
            static_cast<int64_t>(frames), m_mediaObject->timebase(), m_mediaObject->ntsc(), false, 0));
}

void BVDocument::prepareForPlayback()
{
    if (m_isUnloading || !m_mediaObject)
        return;
    setDurationField();
    if (m_volumeSlider)
        m_mediaObject->setVolume(float(m_volumeSlider->value()) / 100.0f);
    if (m_playbackView)
        m_playbackView->updateBounds();
    resizeWindowToFit();
    showTimecodeOverlayIfWanted();
    if (isInSession())
        m_mediaObject->setShouldPlayWhenLoaded(false);
}

void BVDocument::setupPlaybackOutput()
{
    if (m_isUnloading || !m_mediaObject)
        return;
    if (auto *asset = dynamic_cast<BVAVAsset *>(m_mediaObject.get())) {
        if (!asset->player()) {
            setTransportEnabled(false);
        } else if (m_playbackView) {
            m_playbackView->setPlayer(asset->player());
            syncPlayButton();
        }
    }
    if (m_playbackView)
        m_playbackView->updateBounds();
}

void BVDocument::playbackStateChanged()
{
    if (m_isUnloading || !m_mediaObject)
        return;
    syncPlayButton();
    if (m_mediaObject->isPlaying()) {
        if (m_playbackView)
            m_playbackView->setFocus();
        hideStatusOverlay();
        if (isSessionOwner())
            sendSessionMessage(QStringLiteral("KPLAY"));
        postGangNotification(QStringLiteral("GANGPLAY"));
        m_powerAssertion->createPowerAssertionWithReason(QStringLiteral("Video playback"));
    } else {
        if (isSessionOwner())
            sendSessionMessage(QStringLiteral("KPAUSE"));
        m_mediaObject->setShouldPlayWhenLoaded(false);
        postGangNotification(QStringLiteral("GANGPAUSE"));
        syncGangPosition();
        m_powerAssertion->releasePowerAssertion();
    }
    syncScrubber();
}

void BVDocument::bufferStatusChanged(const QString &status)
{
    if (m_isUnloading || !m_mediaObject)
        return;
    if (status == QLatin1String("empty")) {
        updateBufferedRange();
        return;
    }
    syncPlayButton();
    syncScrubber();
    if (m_isReady && m_mediaObject->shouldPlayWhenLoaded() && !m_mediaObject->isPlaying())
        play();
}

void BVDocument::mediaPlaybackFailed(const BVError &error)
{
    if (m_isUnloading || !m_mediaObject)
        return;
    if (auto *asset = dynamic_cast<BVAVAsset *>(m_mediaObject.get()))
        asset->removePlayerTimeObserver();
    syncScrubber();
    setTransportEnabled(false);
    // Nobody waits for the answer: the sheet stays on the window until dismissed.
    BVAlert::alertSheetWithMessageText(error.localizedDescription(), QStringLiteral("OK"), {}, {},
        error.localizedFailureReason(), m_window.get(), false);
}

bool BVDocument::playerShouldSeek()
{
    return !m_isUnloading;
}

void BVDocument::playerSeeked()
{
    if (m_isUnloading || !m_mediaObject)
        return;
    syncScrubber();
    updateTimecode();
    syncGangPosition();
    if (isSessionOwner())
        sendSessionMessage(QStringLiteral("TC") + m_mediaObject->currentTimecode());
}

void BVDocument::drawFrame(const QImage &image)
{
    {
        std::lock_guard guard(m_frameMutex);
        m_pendingFrame = image;
        if (m_framePostPending)
            return;
        m_framePostPending = true;
    }
    // Coalesced: only the latest frame is handed over when the main thread gets to it.
    std::weak_ptr<int> alive = m_alive;
    BVMainThread::async([this, alive] {
        if (!alive.lock())
            return;
        QImage frame;
        {
            std::lock_guard guard(m_frameMutex);
            frame = std::move(m_pendingFrame);
            m_pendingFrame = QImage();
            m_framePostPending = false;
        }
        if (!m_isUnloading && m_playbackView && !frame.isNull())
            m_playbackView->renderImage(frame);
    });
}

// ---- Closing

void BVDocument::windowWillClose()
{
    if (m_isUnloading)
        return;
    hideSubWindows();
    stopPlayback(true);
    cleanup();
    Q_EMIT documentClosed(this);
}

void BVDocument::cleanup()
{
    if (m_isUnloading)
        return;
    m_isUnloading = true;
    if (m_mediaObject)
        m_mediaObject->setDelegate(nullptr);
    // The view lets go of the player's frame handler before the player goes.
    if (m_playbackView) {
        m_playbackView->setPlayer(nullptr);
        m_playbackView->setDelegate(nullptr);
    }
    m_loadQueue.reset();
    if (m_waveformQueue)
        m_waveformQueue->cancelAll();
    m_waveformQueue.reset();
    if (m_mediaObject) {
        m_mediaObject->cleanup();
        m_mediaObject.reset();
    }
    disableGanging();
    BVNotificationCenter::defaultCenter().removeObserver(this);
    m_observing = false;
    m_statusOverlayTimer.reset();
    m_fullScreenTimer.reset();
    m_powerAssertion->releasePowerAssertion();
    m_alive.reset();
    m_cachedWaveform = QImage();
    m_timecodePanel.reset();
    m_infoPanel.reset();
    m_markersWindow.reset();
    if (m_window) {
        m_window->removeEventFilter(this);
        // The window may be closing right now: it goes once its close event is over.
        QMainWindow *window = m_window.release();
        window->hide();
        window->deleteLater();
    }
}
