// The player document: the feature slots and their forwards, the transport events, opening, the
// media object's callbacks, the state a window reads, the alerts, closing and cleanup. The displays and
// memories are in BVDocumentDisplay.cpp, the commands in BVDocumentTransport.cpp.
#include "player/document/BVDocument.h"

#include "platform/defaults/BVUserDefaults.h"
#include "platform/media/MediaAsset.h"
#include "player/document/BVFileSettings.h"
#include "player/document/BVGangPlayback.h"
#include "player/media/BVAVAsset.h"
#include "player/media/BVImageSequence.h"
#include "player/time/BVAVFoundation.h"
#include "player/time/BVPositionText.h"
#include "support/BVLog.h"
#include "support/BVMainThread.h"
#include "support/BVNotificationCenter.h"
#include "support/BVPowerAssertion.h"
#include "support/BVTimer.h"
#include "support/BVWorkQueue.h"

#include <QFileInfo>
#include <QTimer>

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

BVDocument::UserNotificationHandler BVDocument::s_userNotificationHandler;
BVDocument *BVDocument::s_keyDocument = nullptr;

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
    , m_gang(std::make_unique<BVGangPlayback>(*this))
    , m_powerAssertion(std::make_shared<BVPowerAssertion>())
{
    registry().append(this);
    observeNotifications();
    // The listeners of the transport events: gang playback, the synced session, timecode output.
    connect(this, &BVDocument::transportPerformed, m_gang.get(), &BVGangPlayback::transportPerformed);
    connect(this, &BVDocument::transportPerformed, this,
        [this](const BVTransportEvent &event) { m_session->transportPerformed(event); });
    connect(this, &BVDocument::transportPerformed, this,
        [this](const BVTransportEvent &event) { m_timecodeOutput->transportPerformed(event); });
}

BVDocument::~BVDocument()
{
    cleanup();
    registry().removeAll(this);
    if (s_keyDocument == this)
        s_keyDocument = nullptr;
}

// ---- Features

void BVDocument::setMarkers(std::unique_ptr<BVDocumentMarkers> markers)
{
    m_markers = markers ? std::move(markers) : std::make_unique<BVDocumentMarkers>();
}

void BVDocument::setAnnotations(std::unique_ptr<BVDocumentAnnotations> annotations)
{
    m_annotations = annotations ? std::move(annotations) : std::make_unique<BVDocumentAnnotations>();
}

void BVDocument::setCloudReview(std::unique_ptr<BVDocumentCloudReview> cloudReview)
{
    m_cloudReview = cloudReview ? std::move(cloudReview) : std::make_unique<BVDocumentCloudReview>();
}

void BVDocument::setSession(std::unique_ptr<BVDocumentSession> session)
{
    m_session = session ? std::move(session) : std::make_unique<BVDocumentSession>();
}

void BVDocument::setTimecodeOutput(std::unique_ptr<BVDocumentTimecodeOutput> output)
{
    m_timecodeOutput = output ? std::move(output) : std::make_unique<BVDocumentTimecodeOutput>();
}

void BVDocument::setExport(std::unique_ptr<BVDocumentExport> exporter)
{
    m_export = exporter ? std::move(exporter) : std::make_unique<BVDocumentExport>();
}

void BVDocument::updateInfoPanel()
{
    m_export->populateInfo();
}

void BVDocument::exportMovie()
{
    m_export->exportMovie();
}

void BVDocument::trim()
{
    m_export->trim();
}

void BVDocument::exportFrame(bool alternate)
{
    m_export->exportFrame(alternate);
}

void BVDocument::saveFrame(const QString &path, int format)
{
    m_export->saveFrame(path, format);
}

void BVDocument::downloadFile()
{
    m_export->downloadFile();
}

void BVDocument::cacheVeloFile()
{
    m_export->cacheVeloFile();
}

void BVDocument::loadMarkers()
{
    m_markers->loadMarkers();
}

void BVDocument::addMarker()
{
    m_markers->addMarker();
}

void BVDocument::prevMarker()
{
    m_markers->prevMarker();
}

void BVDocument::nextMarker()
{
    m_markers->nextMarker();
}

void BVDocument::deleteAllMarkers()
{
    m_markers->deleteAllMarkers();
}

void BVDocument::initializeVelora()
{
    m_cloudReview->initializeVelora();
}

bool BVDocument::isInSession() const
{
    return m_session->isInSession();
}

qlonglong BVDocument::veloFileID() const
{
    return m_cloudReview->veloFileID();
}

MediaTime BVDocument::currentTime() const
{
    return m_mediaObject ? m_mediaObject->currentTime() : MediaTime::zero();
}

MediaTime BVDocument::duration() const
{
    return m_mediaObject ? m_mediaObject->duration() : MediaTime::zero();
}

QString BVDocument::fileSettingsKey() const
{
    return isVelo() ? BVFileSettings::keyForVeloFile(veloFileID()) : BVFileSettings::keyForURL(m_fileURL);
}

// ---- Ganging: the listener does the work

void BVDocument::modifyGanging(int tag)
{
    defaults()->setInteger(tag, QStringLiteral("gangMode"));
    Q_EMIT menuStateChanged();
    m_gang->postGangNotification(QStringLiteral("GANGUPDATE"));
}

// ---- Transport events

void BVDocument::transportEvent(BVTransportEvent::Kind kind)
{
    if (m_isUnloading || !m_mediaObject)
        return;
    BVTransportEvent event;
    event.kind = kind;
    event.position = m_mediaObject->currentTime();
    event.rate = m_mediaObject->isPlaying() ? m_mediaObject->rate() : 0;
    Q_EMIT transportPerformed(event);
}

void BVDocument::setPowerAssertionHeld(bool held)
{
    if (held == m_powerHeld)
        return;
    m_powerHeld = held;
    // The inhibit service answers over D-Bus: the call waits on a queue of its own, never on the
    // GUI thread. The queue outlives the documents, so a release queued by cleanup still runs.
    static BVWorkQueue queue(QStringLiteral("com.brightvane.Reelmark.document.power"));
    std::shared_ptr<BVPowerAssertion> assertion = m_powerAssertion;
    queue.async([assertion, held] {
        if (held)
            assertion->createPowerAssertionWithReason(QStringLiteral("Video playback"));
        else
            assertion->releasePowerAssertion();
    });
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
        // The view lets go of the old player before it goes.
        Q_EMIT playbackOutputChanged(false);
        m_mediaObject->pause(false);
        if (m_loadQueue)
            m_loadQueue->waitUntilEmpty();
        m_mediaObject->cleanup();
    }
    m_isReady = false;
    m_lastSyncedFrame = -1;
    m_toldEndsEarly = false;
    m_mediaObject = std::move(media);
    m_mediaObject->setDelegate(this);
}

void BVDocument::windowDidLoad()
{
    if (m_mediaObject)
        m_mediaObject->setShouldPlayWhenLoaded(m_mediaObject->shouldPlayWhenLoaded()
            || defaults()->integerForKey(QStringLiteral("autoplay")) != 0);
    m_gang->updateGangSettings();
    loadMarkers();
    // Media that became ready before the window existed starts now.
    if (m_isReady && m_mediaObject && m_mediaObject->shouldPlayWhenLoaded() && !m_mediaObject->isPlaying())
        playAfterDelayIfWanted();
}

// The process-wide notifications every document hears, window or not.
void BVDocument::observeNotifications()
{
    if (m_observing)
        return;
    m_observing = true;
    BVNotificationCenter &center = BVNotificationCenter::defaultCenter();
    center.addObserver(this, QStringLiteral("GANGUPDATE"), nullptr,
        [this](const BVNotification &) { m_gang->updateGangSettings(); });
    center.addObserver(this, QStringLiteral("BVBackgroundMute"), nullptr,
        [this](const BVNotification &) { muteInBackground(); });
    center.addObserver(this, QStringLiteral("BVGrowlAlertClicked"), nullptr,
        [this](const BVNotification &n) { growlAlertClicked(n); });
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
    if (isInSession() && !m_session->sessionName().isEmpty())
        return m_session->sessionName();
    const QString title = m_cloudReview->fileTitle();
    if (title.isEmpty())
        return name;
    return m_cloudReview->veloIsCached() ? QStringLiteral("%1 (cached)").arg(title) : title;
}

void BVDocument::loadPlaylistItem(const QUrl &url)
{
    // Nothing of the item before carries over: its waveform, in and out points, play-around and
    // titles belong to it.
    m_fileURL = url;
    Q_EMIT mediaReplaced();
    clearInOut();
    m_playbackResumePos = MediaTime::zero();
    m_lastBufferedRanges.clear();
    startLoadingAsset(url, false);
    Q_EMIT titleChanged();
}

void BVDocument::replaceURLWithCachedFile(const QString &path)
{
    if (m_isUnloading || !isVelo())
        return;
    const bool wasPlaying = m_mediaObject && m_mediaObject->isPlaying();
    const MediaTime time = currentTime();
    const bool audioOnly = m_mediaObject && m_mediaObject->isAudioOnly();
    m_cloudReview->setVeloIsCached(true);
    m_fileURL = QUrl::fromLocalFile(path);
    m_lastBufferedRanges.clear();
    startLoadingAsset(m_fileURL, audioOnly);
    m_mediaObject->setShouldPlayWhenLoaded(wasPlaying);
    setSeekOnLoad(time);
    Q_EMIT titleChanged();
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
        Q_EMIT mediaLoaded();
        if (!isVelo())
            loadMarkers();
    } else if (status == QLatin1String("ready")) {
        m_isReady = true;
        m_gang->postGangNotification(QStringLiteral("GANGUPDATE"));
        loadMarkers();
        // After the media object has finished making itself ready: a seek issued from inside its
        // ready report is superseded by the player's own first positioning.
        QTimer::singleShot(0, this, [this] { seekToStartPosition(); });
        if (asset)
            asset->initScrubberTimer();
        setTransportEnabled(true);
        updateTimecode();
        updateBufferedRange();
        Q_EMIT mediaReady();
        updateInfoPanel();
        reportPlayableExtent();
        if (auto *sequence = dynamic_cast<BVImageSequence *>(m_mediaObject.get());
            sequence && !m_toldMissingFrames && !sequence->missingFrames().empty()) {
            m_toldMissingFrames = true;
            const std::map<uint64_t, qulonglong> missing = sequence->missingFrames();
            BVDocumentAlert told;
            told.messageText = QStringLiteral("Frames are missing from the image sequence");
            told.informativeText = QStringLiteral(
                "%1 of the numbered images are missing (%2). Each missing frame is shown as a "
                "marked placeholder, so that the frames after it keep their timecode.")
                                       .arg(missing.size())
                                       .arg(missingFramesText(missing));
            alert(told);
        }
    }
    if (m_mediaObject && m_mediaObject->isAudioOnly())
        drawWaveformForAudioAssetAsync();
}

// A file cut short (still being written, a partial copy): the timeline shows how much of it
// plays, and the user is told once.
double BVDocument::playableExtent() const
{
    if (!m_mediaObject)
        return 1.0;
    const double duration = m_mediaObject->duration().seconds();
    const bool early = m_mediaObject->endsEarly() && duration > 0;
    return early ? m_mediaObject->playableDuration().seconds() / duration : 1.0;
}

void BVDocument::reportPlayableExtent()
{
    Q_EMIT playableExtentChanged(playableExtent());
    const bool early = m_mediaObject->endsEarly() && m_mediaObject->duration().seconds() > 0;
    if (!early || m_toldEndsEarly)
        return;
    m_toldEndsEarly = true;
    const int64_t playable = m_mediaObject->frameAtTime(m_mediaObject->playableDuration());
    const QString name = m_fileURL.isLocalFile() ? QFileInfo(m_fileURL.toLocalFile()).fileName()
                                                 : m_fileURL.toDisplayString();
    const QString last = timecodeAtTime(m_mediaObject->timeOfFrame(std::max<int64_t>(playable - 1, 0)));
    BVLog::appendLog("%@ ends early: %lld of %llu frames can be played", name, (long long)playable,
        (unsigned long long)m_mediaObject->frameCount());
    BVDocumentAlert told;
    told.messageText = QStringLiteral("The file \"%1\" ends early.").arg(name);
    told.informativeText
        = QStringLiteral("Only %1 of its %2 frames can be played, up to %3. It may still be being written, "
                         "or be an incomplete copy.")
              .arg(playable)
              .arg(m_mediaObject->frameCount())
              .arg(last);
    alert(told);
}

QString BVDocument::durationText() const
{
    const BVPositionText::Mode mode = BVPositionText::displayMode();
    return m_mediaObject ? BVPositionText::durationText(*m_mediaObject, mode)
                         : BVPositionText::startText(mode);
}

void BVDocument::setDurationField()
{
    if (m_mediaObject)
        Q_EMIT durationTextChanged(durationText());
}

void BVDocument::prepareForPlayback()
{
    if (m_isUnloading || !m_mediaObject)
        return;
    setDurationField();
    m_mediaObject->setVolume(m_volume);
    Q_EMIT mediaPrepared();
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
        } else {
            syncPlayButton();
        }
    }
    Q_EMIT playbackOutputChanged(true);
}

void BVDocument::playbackStateChanged()
{
    if (m_isUnloading || !m_mediaObject)
        return;
    // An unsaved drawing holds playback back until the user drops it.
    if (m_mediaObject->isPlaying() && m_annotations->isAnnotating()) {
        m_mediaObject->pause(false);
        if (m_annotations->discardUnsavedAnnotation() && m_mediaObject)
            m_mediaObject->play();
        syncPlayButton();
        return;
    }
    syncPlayButton();
    // The asset reports the end of the media here first; playerReachedEnd() follows and stops
    // there, so the end is one event.
    const bool playing = m_mediaObject->isPlaying();
    if (playing) {
        Q_EMIT pictureFocusWanted();
        hideStatusOverlay();
        m_annotations->removeShownAnnotation();
        setPowerAssertionHeld(true);
    } else {
        m_mediaObject->setShouldPlayWhenLoaded(false);
        setPowerAssertionHeld(false);
    }
    const bool atEnd = m_mediaObject->seekToZeroBeforePlay();
    if (playing != m_reportedPlaying && !(atEnd && !playing)) {
        m_reportedPlaying = playing;
        transportEvent(playing ? BVTransportEvent::Play : BVTransportEvent::Pause);
    }
    syncScrubber();
}

void BVDocument::bufferStatusChanged(const QString &status)
{
    if (m_isUnloading || !m_mediaObject)
        return;
    if (status == QLatin1String("empty")) {
        m_session->bufferEmpty();
        updateBufferedRange();
        return;
    }
    syncPlayButton();
    syncScrubber();
    m_session->mediaReady();
    if (m_isReady && m_mediaObject->shouldPlayWhenLoaded() && !m_mediaObject->isPlaying())
        play();
}

void BVDocument::mediaPlaybackFailed(const BVError &error)
{
    // The asset reports a failed load from its loading thread.
    if (!BVMainThread::isMainThread()) {
        const BVLifetime::Token alive = m_lifetime.token();
        BVMainThread::async([this, alive, error] {
            if (!alive.expired())
                mediaPlaybackFailed(error);
        });
        return;
    }
    if (m_isUnloading || !m_mediaObject)
        return;
    if (auto *asset = dynamic_cast<BVAVAsset *>(m_mediaObject.get()))
        asset->removePlayerTimeObserver();
    if (!m_isReady) {
        // The file never opened (not a media file, corrupt, an address that does not answer):
        // the user is told which and why, and the empty player goes, so nothing else changes.
        alert(cannotOpenAlert(m_fileURL, error));
        QTimer::singleShot(0, this, [this] { close(); });
        return;
    }
    syncScrubber();
    setTransportEnabled(false);
    // Nobody waits for the answer: the sheet stays on the window until dismissed.
    BVDocumentAlert told;
    told.messageText = error.localizedDescription();
    told.informativeText = error.localizedFailureReason();
    alert(told);
}

QString BVDocument::missingFramesText(const std::map<uint64_t, qulonglong> &missing)
{
    QStringList ranges;
    for (auto it = missing.begin(); it != missing.end();) {
        const qulonglong first = it->second;
        qulonglong last = first;
        for (++it; it != missing.end() && it->second == last + 1; ++it)
            last = it->second;
        ranges.append(first == last ? QString::number(first) : QStringLiteral("%1-%2").arg(first).arg(last));
    }
    // A long list would not fit an alert: the first ranges tell enough.
    if (ranges.size() > 8)
        return ranges.mid(0, 8).join(QStringLiteral(", ")) + QStringLiteral(" ...");
    return ranges.join(QStringLiteral(", "));
}

BVDocumentAlert BVDocument::cannotOpenAlert(const QUrl &url, const BVError &error)
{
    const QString name = url.isLocalFile() ? QFileInfo(url.toLocalFile()).fileName() : url.toDisplayString();
    QStringList reasons;
    for (const QString &part : {error.localizedDescription(), error.localizedFailureReason()}) {
        if (!part.isEmpty() && !part.contains(name) && !reasons.contains(part))
            reasons.append(part);
    }
    BVDocumentAlert told;
    told.messageText = QStringLiteral("The file \"%1\" could not be opened.").arg(name);
    told.informativeText = reasons.isEmpty() ? QStringLiteral("It is not a media file Reelmark can play.")
                                             : reasons.join(QLatin1Char(' '));
    told.onWindow = false;
    return told;
}

void BVDocument::alert(const BVDocumentAlert &told)
{
    BVLog::appendLog("Alert: %@ %@", told.messageText, told.informativeText);
    Q_EMIT alertRequested(told);
}

bool BVDocument::playerShouldSeek()
{
    return !m_isUnloading && m_annotations->discardUnsavedAnnotation();
}

void BVDocument::playerSeeked()
{
    if (m_isUnloading || !m_mediaObject)
        return;
    m_annotations->removeShownAnnotation();
    syncScrubber();
    updateTimecode();
    transportEvent(BVTransportEvent::SeekDone);
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
    const BVLifetime::Token alive = m_lifetime.token();
    BVMainThread::async([this, alive] {
        if (alive.expired())
            return;
        QImage frame;
        {
            std::lock_guard guard(m_frameMutex);
            frame = std::move(m_pendingFrame);
            m_pendingFrame = QImage();
            m_framePostPending = false;
        }
        if (!m_isUnloading && !frame.isNull())
            Q_EMIT frameReady(frame);
    });
}

// ---- What a window shows

BVDocumentState BVDocument::currentState() const
{
    BVDocumentState state;
    state.playing = m_mediaObject && m_mediaObject->isPlaying();
    state.transportEnabled = m_transportEnabled;
    state.timecode = currentDisplayTimecode();
    state.durationText = durationText();
    if (m_mediaObject) {
        const MediaTime length = m_mediaObject->duration();
        if (length.isNumeric() && length > MediaTime::zero())
            state.playhead = m_mediaObject->currentTime().seconds() / length.seconds();
        state.volume = m_mediaObject->volume();
    } else {
        state.volume = m_volume;
    }
    std::tie(state.inFraction, state.outFraction) = inOutFractions();
    state.bufferedRanges = m_lastBufferedRanges;
    state.playableExtent = playableExtent();
    return state;
}

// ---- Closing

void BVDocument::close()
{
    if (m_isUnloading)
        return;
    Q_EMIT subWindowsHideRequested();
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
    // The window lets go of the player's frame handler before the player goes.
    Q_EMIT unloading();
    m_loadQueue.reset();
    if (m_mediaObject) {
        m_mediaObject->cleanup();
        m_mediaObject.reset();
    }
    m_gang->disableGanging();
    BVNotificationCenter::defaultCenter().removeObserver(this);
    m_observing = false;
    setPowerAssertionHeld(false);
    m_markers->cleanup();
    m_annotations->cleanup();
    m_cloudReview->cleanup();
    m_session->cleanup();
    m_export->cleanup();
    m_lifetime.end();
}
