// The player document's displays and memories: the timecode in its three modes, copying the
// position, volume and background muting, the auxiliary windows, the remembered playback position,
// the metadata editor hand-off and the progress sheet. Main thread.
#include "player/BVDocument.h"

#include "platform/defaults/BVUserDefaults.h"
#include "player/BVAVFoundation.h"
#include "player/BVAVPlaybackView.h"
#include "player/BVPositionText.h"
#include "player/BVTimecode.h"
#include "player/BVTimecodeOverlay.h"
#include "player/BVTimecodePanel.h"
#include "support/BVAlert.h"
#include "support/BVLog.h"
#include "support/BVNotificationCenter.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStandardPaths>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

BVUserDefaults *defaults()
{
    return BVUserDefaults::standardUserDefaults();
}

const QString kFileSettings = QStringLiteral("fileSettings");

} // namespace

// ---- Displayed timecode

QString BVDocument::currentDisplayTimecode(QString *raw) const
{
    if (!m_mediaObject) {
        if (raw)
            *raw = BVTimecode::zeroTimecode();
        return BVTimecode::zeroTimecode();
    }
    // Both name the frame on screen; raw is the media's own timecode (MIDI output wants it).
    if (raw)
        *raw = BVPositionText::currentText(*m_mediaObject, BVPositionText::Timecode);
    return BVPositionText::currentText(*m_mediaObject, BVPositionText::displayMode());
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
        m_mediaObject->seekToTime(MediaTime::maximum(time, MediaTime::zero()));
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
    // The start of the frame on screen, so the restored picture is the one left.
    MediaTime stored = m_mediaObject->timeOfFrame(m_mediaObject->frameAtTime(position));
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
    const MediaTime target = m_mediaObject->timeOfFrame(m_mediaObject->frameAtTime(m_seekOnLoad));
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
        target = m_mediaObject->timeOfFrame(
            m_mediaObject->frameAtTime(MediaTime::fromSeconds(veloPlaybackPosition(), 1000000000)));
    } else {
        const QVariantMap entry
            = defaults()->dictionaryForKey(kFileSettings).value(fileSettingsKey()).toMap();
        if (!entry.contains(QStringLiteral("playbackPos"))) {
            playAfterDelayIfWanted();
            return;
        }
        const MediaTime stored
            = MediaTime::fromDictionary(entry.value(QStringLiteral("playbackPos")).toMap());
        // The frame the stored position names, at its exact start (whatever timescale it was kept in).
        if (stored.isNumeric())
            target = m_mediaObject->timeOfFrame(m_mediaObject->frameAtTime(stored));
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
