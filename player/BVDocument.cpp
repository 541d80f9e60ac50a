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
#include <QClipboard>
#include <QDesktopServices>
#include <QDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStandardPaths>
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

const QString kFileSettings = QStringLiteral("fileSettings");

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

// ---- Displayed timecode

QString BVDocument::currentDisplayTimecode(QString *raw) const
{
    if (!m_mediaObject) {
        if (raw)
            *raw = BVTimecode::zeroTimecode();
        return BVTimecode::zeroTimecode();
    }
    const QString source = m_mediaObject->currentTimecode();
    if (raw)
        *raw = source;
    QString display;
    switch (defaults()->integerForKey(QStringLiteral("timecodeDisplay"))) {
    case 2:
        display = QString::number(
            BVAVFoundation::framesAtTime(m_mediaObject->currentTime(), m_mediaObject->fps()));
        break;
    case 1:
        display = m_mediaObject->timecodeAtTime(m_mediaObject->currentTime(), BVTimecode::zeroTimecode());
        break;
    default:
        display = source;
        break;
    }
    return display.isEmpty() ? source : display;
}

QString BVDocument::updateTimecode()
{
    if (m_isUnloading)
        return {};
    QString raw;
    const QString display = currentDisplayTimecode(&raw);
    if (m_timeElapsed)
        m_timeElapsed->setText(display);
    if (m_timecodePanel)
        m_timecodePanel->setText(display);
    if (m_timecodeOverlay)
        m_timecodeOverlay->setTimecode(display);
    const qlonglong output = defaults()->integerForKey(QStringLiteral("timecodeOutput"));
    if (output == 2 || output == 3)
        sendTimecodeOutput(raw, output == 2);
    return display;
}

void BVDocument::seekToTimecode(const QString &timecode)
{
    if (!m_mediaObject)
        return;
    const MediaTime time = m_mediaObject->timeForTimecode(timecode);
    if (time.isValid())
        m_mediaObject->seekToTime(time);
}

bool BVDocument::isScrubbing() const
{
    return m_mediaObject && m_mediaObject->restoreAfterScrubbingRate() != 0;
}

void BVDocument::stopPlayback(bool quiet)
{
    if (!quiet) {
        if (m_playButton)
            m_playButton->setText(QStringLiteral("Play"));
        hideStatusOverlay();
    }
    savePlaybackPosition(true);
}

void BVDocument::modifyTimecodeDisplay(int tag)
{
    defaults()->setInteger(tag, QStringLiteral("timecodeDisplay"));
    updateMenuChecks();
    updateTimecode();
    updateInfoPanel();
    setDurationField();
}

void BVDocument::modifyTimecodeOutput(int tag)
{
    defaults()->setInteger(tag, QStringLiteral("timecodeOutput"));
    updateMenuChecks();
}

void BVDocument::copyCurrentPosition()
{
    const QString display = currentDisplayTimecode();
    QClipboard *clipboard = QGuiApplication::clipboard();
    bool copied = false;
    if (clipboard) {
        clipboard->setText(display);
        copied = clipboard->text() == display;
    }
    if (s_userNotificationHandler)
        s_userNotificationHandler(copied ? QStringLiteral("Copied") : QStringLiteral("Failed to copy"),
            QStringLiteral("Playback position: %1").arg(display));
}

// ---- Volume and muting

void BVDocument::modifyVolume()
{
    if (m_mediaObject && m_volumeSlider)
        m_mediaObject->setVolume(float(m_volumeSlider->value()) / 100.0f);
}

void BVDocument::mute()
{
    if (!m_mediaObject)
        return;
    if (!m_mediaObject->isMuted()) {
        m_lastVolume = m_mediaObject->volume();
        m_mediaObject->setVolume(0);
    } else {
        m_mediaObject->setVolume(m_lastVolume > 0 ? m_lastVolume : 1);
    }
    if (m_volumeSlider) {
        const QSignalBlocker blocker(m_volumeSlider);
        m_volumeSlider->setValue(int(std::lround(m_mediaObject->volume() * 100)));
    }
}

void BVDocument::muteInBackground()
{
    if (m_isUnloading || !m_mediaObject)
        return;
    if (defaults()->integerForKey(QStringLiteral("frontmostAudio")) != 1 || isKeyWindow())
        return;
    // Only what this rule muted is unmuted again: a player the user muted stays silent.
    if (!m_mediaObject->isMuted()) {
        mute();
        m_shouldUnmuteOnFocus = true;
    }
}

void BVDocument::windowDidBecomeKey()
{
    if (m_isUnloading)
        return;
    disableGanging();
    syncGangPosition();
    if (m_shouldUnmuteOnFocus && m_mediaObject && m_mediaObject->isMuted())
        mute();
    m_shouldUnmuteOnFocus = false;
    if (m_playbackView)
        m_playbackView->updateBounds();
    BVNotificationCenter::defaultCenter().postNotification(QStringLiteral("BVBackgroundMute"), this);
    showSubWindows();
}

void BVDocument::windowDidResignKey()
{
    if (m_isUnloading)
        return;
    QWidget *active = QApplication::activeWindow();
    if (active && active == m_window.get())
        return;
    const bool ownAux = active
        && (active == m_timecodePanel.get() || active == m_infoPanel.get()
            || active == m_markersWindow.get());
    if (ownAux)
        return;
    updateGangSettings();
    if (active)
        hideSubWindows();
}

// ---- Auxiliary windows

void BVDocument::toggleInfo()
{
    toggleSubWindow(m_infoPanel.get(), QStringLiteral("showInfo"));
}

void BVDocument::toggleTimecode()
{
    toggleSubWindow(m_timecodePanel.get(), QStringLiteral("showTimecode"));
}

void BVDocument::toggleMarkers()
{
    toggleSubWindow(m_markersWindow.get(), QStringLiteral("showMarkers"));
}

void BVDocument::toggleSubWindow(QWidget *window, const QString &key)
{
    if (!window)
        return;
    const bool show = !window->isVisible();
    window->setVisible(show);
    defaults()->setBool(show, key);
    updateMenuChecks();
}

void BVDocument::showSubWindows()
{
    std::lock_guard guard(m_lock);
    if (m_fullScreen || m_fullScreenTransitioning || m_isUnloading)
        return;
    const QList<QPair<QWidget *, QString>> windows {{m_infoPanel.get(), QStringLiteral("showInfo")},
        {m_timecodePanel.get(), QStringLiteral("showTimecode")},
        {m_markersWindow.get(), QStringLiteral("showMarkers")}};
    for (const auto &[window, key] : windows) {
        if (window && defaults()->boolForKey(key)) {
            window->show();
            window->raise();
        }
    }
}

void BVDocument::hideSubWindows()
{
    std::lock_guard guard(m_lock);
    for (QWidget *window : {static_cast<QWidget *>(m_infoPanel.get()),
             static_cast<QWidget *>(m_timecodePanel.get()), m_markersWindow.get()}) {
        if (window)
            window->hide();
    }
}

// ---- Playback position memory

QString BVDocument::fileSettingsKey() const
{
    return m_fileURL.toString(QUrl::FullyEncoded);
}

void BVDocument::savePlaybackPosition(bool forced)
{
    if (!m_isLoaded || !m_isReady || m_isUnloading || !m_mediaObject)
        return;
    if (!defaults()->boolForKey(QStringLiteral("savePlaybackPos")))
        return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (isVelo()) {
        if (!forced && m_lastPlaybackPositionSyncDate.isValid()
            && m_lastPlaybackPositionSyncDate.secsTo(now) < 30)
            return;
        saveVeloPlaybackPosition(m_mediaObject->currentTime().seconds());
        m_lastPlaybackPositionSyncDate = now;
        return;
    }
    if (!forced && m_lastPlaybackPositionSyncDate.isValid()
        && m_lastPlaybackPositionSyncDate.msecsTo(now) < 10000)
        return;
    const MediaTime duration = m_mediaObject->duration();
    const double durationSeconds = duration.isNumeric() ? duration.seconds() : 0;
    if (durationSeconds <= 0 || m_fileURL.isEmpty())
        return;
    const MediaTime position = m_mediaObject->currentTime().absolute();
    if (!position.isNumeric())
        return;
    const double ratio = position.seconds() / durationSeconds;
    MediaTime stored = position;
    if (ratio <= 0.05)
        stored = MediaTime(0, 1);
    else if (ratio >= 0.95)
        stored = MediaTime(static_cast<int64_t>(double(duration.value()) * 0.9), duration.timescale());

    QVariantMap entries = defaults()->dictionaryForKey(kFileSettings);
    QVariantMap entry = entries.value(fileSettingsKey()).toMap();
    entry.insert(QStringLiteral("playbackPos"), stored.dictionary());
    if (hasVideo()) {
        const QSizeF size = m_mediaObject->naturalSize();
        entry.insert(QStringLiteral("naturalWidth"), size.width());
        entry.insert(QStringLiteral("naturalHeight"), size.height());
    }
    entries.insert(fileSettingsKey(), entry);
    defaults()->setObject(entries, kFileSettings);
    m_lastPlaybackPositionSyncDate = now;
}

void BVDocument::seekToStartPosition()
{
    if (m_isUnloading || !m_mediaObject)
        return;
    if (!m_seekOnLoad.isValid() || m_seekOnLoad.timescale() < 1) {
        loadPlaybackPosition();
        return;
    }
    const MediaTime target
        = m_seekOnLoad.convertScale(finerTimescale(m_seekOnLoad), MediaTime::Rounding::QuickTime);
    m_seekOnLoad = MediaTime::invalid();
    QPointer<BVDocument> self(this);
    m_mediaObject->seekToTime(target, [self](bool) {
        if (self && !self->m_isUnloading && self->m_mediaObject
            && self->m_mediaObject->shouldPlayWhenLoaded())
            self->play();
    });
}

int32_t BVDocument::finerTimescale(const MediaTime &time) const
{
    // The current time's timescale, unless that is coarser than the time's own (a paused player at
    // zero reports 0/1, which would round a stored position to whole seconds).
    const int32_t current = m_mediaObject ? m_mediaObject->currentTime().timescale() : 0;
    return std::max({current, time.timescale(), 1});
}

void BVDocument::loadPlaybackPosition()
{
    if (!m_mediaObject || m_isUnloading)
        return;
    if (m_playlist || !defaults()->boolForKey(QStringLiteral("savePlaybackPos"))) {
        playAfterDelayIfWanted();
        return;
    }
    MediaTime target;
    if (isVelo()) {
        target = MediaTime::fromSeconds(veloPlaybackPosition(), finerTimescale(MediaTime(0, 600)));
    } else {
        const QVariantMap entry
            = defaults()->dictionaryForKey(kFileSettings).value(fileSettingsKey()).toMap();
        if (!entry.contains(QStringLiteral("playbackPos"))) {
            playAfterDelayIfWanted();
            return;
        }
        const MediaTime stored
            = MediaTime::fromDictionary(entry.value(QStringLiteral("playbackPos")).toMap());
        target = stored.convertScale(finerTimescale(stored), MediaTime::Rounding::QuickTime);
    }
    if (!target.isNumeric()) {
        playAfterDelayIfWanted();
        return;
    }
    QPointer<BVDocument> self(this);
    m_mediaObject->seekToTime(target, [self](bool) {
        if (self)
            self->playAfterDelayIfWanted();
    });
}

void BVDocument::playAfterDelayIfWanted()
{
    if (!m_mediaObject || !m_mediaObject->shouldPlayWhenLoaded() || m_mediaObject->isPlaying())
        return;
    QTimer::singleShot(1000, this, [this] {
        if (!m_isUnloading && m_mediaObject && m_mediaObject->shouldPlayWhenLoaded()
            && !m_mediaObject->isPlaying())
            play();
    });
}

// ---- Notifications, the metadata editor and the progress sheet

void BVDocument::growlAlertClicked(const BVNotification &notification)
{
    const QVariant context = notification.userInfo.value(QStringLiteral("clickContext"));
    if (context.typeId() != QMetaType::QString)
        return;
    const QFileInfo info(context.toString());
    if (info.exists())
        QDesktopServices::openUrl(QUrl::fromLocalFile(info.absolutePath()));
}

void BVDocument::sendToTagsmith()
{
    if (!m_fileURL.isLocalFile()) {
        BVAlert::alertSheetWithMessageText(QStringLiteral("Unable to send to Tagsmith"), QStringLiteral("OK"),
            {}, {}, QStringLiteral("Only local files can be sent to Tagsmith."), m_window.get(), false);
        return;
    }
    const QString desktopFile = QStandardPaths::locate(
        QStandardPaths::ApplicationsLocation, QStringLiteral("com.brightvane.Tagsmith.desktop"));
    if (!desktopFile.isEmpty()) {
        QProcess::startDetached(QStringLiteral("gtk-launch"),
            {QStringLiteral("com.brightvane.Tagsmith"), m_fileURL.toLocalFile()});
        return;
    }
    const int answer = BVAlert::alertSheetWithMessageText(QStringLiteral("Tagsmith is not installed"),
        QStringLiteral("Download"), QStringLiteral("Cancel"), {},
        QStringLiteral("Tagsmith can edit metadata, display attributes, chapters, flags and other QuickTime "
                       "settings. Would you like to download it now?"),
        m_window.get(), true);
    if (answer == 1)
        QDesktopServices::openUrl(QUrl(QStringLiteral("https://www.brightvane.com/tagsmith")));
}

void BVDocument::startProgress()
{
    if (!m_window)
        return;
    if (!m_progressWindow) {
        auto *sheet = new QDialog(m_window.get(), Qt::Sheet);
        sheet->setWindowModality(Qt::WindowModal);
        auto *layout = new QVBoxLayout(sheet);
        m_progressBar = new QProgressBar(sheet);
        m_progressTimeEstimate = new QLabel(sheet);
        auto *cancel = new QPushButton(QStringLiteral("Cancel"), sheet);
        layout->addWidget(m_progressBar);
        layout->addWidget(m_progressTimeEstimate);
        layout->addWidget(cancel, 0, Qt::AlignRight);
        connect(cancel, &QPushButton::clicked, this, [this] { cancelProgress(); });
        m_progressWindow = sheet;
    }
    if (m_progressWindow->isVisible())
        return;
    m_progressBar->setRange(0, 1000);
    m_progressBar->setValue(0);
    m_progressTimeEstimate->setText(QStringLiteral("Unknown time remaining"));
    m_progressClock.start();
    m_progressWindow->show();
}

void BVDocument::setIndeterminateProgress()
{
    if (m_progressBar)
        m_progressBar->setRange(0, 0);
}

void BVDocument::setProgress(double value)
{
    BVLog::appendLog("progress: %f", value);
    if (!m_progressBar)
        return;
    value = std::clamp(value, 0.0, 1.0);
    m_progressBar->setRange(0, 1000);
    m_progressBar->setValue(int(value * 1000));
    if (value <= 0 || !m_progressClock.isValid())
        return;
    const double elapsed = double(m_progressClock.elapsed()) / 1000.0;
    const long remaining = std::lround(elapsed / value * (1 - value));
    m_progressTimeEstimate->setText(QStringLiteral("%1 remaining")
                                        .arg(QString::asprintf("%02li:%02li:%02li", remaining / 3600,
                                            (remaining / 60) % 60, remaining % 60)));
}

void BVDocument::endProgress()
{
    if (m_progressWindow)
        m_progressWindow->hide();
}

void BVDocument::cancelProgress()
{
    endProgress();
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
