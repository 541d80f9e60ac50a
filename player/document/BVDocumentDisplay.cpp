// The player document's displays and memories: the timecode in its three modes, copying the
// position, volume and background muting, the active window, the remembered playback position, the
// view menus' settings and the metadata editor hand-off. Main thread.
#include "player/document/BVDocument.h"

#include "platform/defaults/BVUserDefaults.h"
#include "player/document/BVFileSettings.h"
#include "player/document/BVGangPlayback.h"
#include "player/time/BVAVFoundation.h"
#include "player/time/BVPositionText.h"
#include "player/time/BVTimecode.h"
#include "support/BVLog.h"
#include "support/BVNotificationCenter.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cmath>

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

// ---- Displayed timecode

QString BVDocument::currentDisplayTimecode(QString *raw) const
{
    if (!m_mediaObject) {
        if (raw)
            *raw = BVTimecode::zeroTimecode();
        return BVTimecode::zeroTimecode();
    }
    // Until the media object has loaded, its timecode would wait for the asset (an address still
    // being probed): the display shows the start.
    if (!m_mediaObject->isLoaded()) {
        if (raw)
            *raw = BVPositionText::startText(BVPositionText::Timecode);
        return BVPositionText::startText(BVPositionText::displayMode());
    }
    // Both name the frame on screen; raw is the media's own timecode (MIDI output wants it).
    if (raw)
        *raw = BVPositionText::currentText(*m_mediaObject, BVPositionText::Timecode);
    return BVPositionText::currentText(*m_mediaObject, BVPositionText::displayMode());
}

QString BVDocument::timecodeAtTime(const MediaTime &time) const
{
    if (!m_mediaObject || !m_mediaObject->isLoaded())
        return BVTimecode::zeroTimecode();
    return BVPositionText::textAtTime(*m_mediaObject, time, BVPositionText::displayMode());
}

QString BVDocument::updateTimecode()
{
    if (m_isUnloading)
        return {};
    QString raw;
    const QString display = currentDisplayTimecode(&raw);
    Q_EMIT timecodeChanged(display);
    m_session->timecodeDisplayed(raw);
    const qlonglong output = defaults()->integerForKey(QStringLiteral("timecodeOutput"));
    if (output == 2 || output == 3)
        m_timecodeOutput->sendTimecode(raw, output == 2);
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

void BVDocument::stopPlayback(bool quiet)
{
    if (!quiet) {
        Q_EMIT playStateChanged(false);
        hideStatusOverlay();
    }
    savePlaybackPosition(true);
}

void BVDocument::modifyTimecodeDisplay(int tag)
{
    defaults()->setInteger(tag, QStringLiteral("timecodeDisplay"));
    Q_EMIT menuStateChanged();
    updateTimecode();
    updateInfoPanel();
    setDurationField();
}

void BVDocument::modifyTimecodeOutput(int tag)
{
    defaults()->setInteger(tag, QStringLiteral("timecodeOutput"));
    Q_EMIT menuStateChanged();
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
    postUserNotification(copied ? QStringLiteral("Copied") : QStringLiteral("Failed to copy"),
        QStringLiteral("Playback position: %1").arg(display));
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

// ---- The view menus' settings

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

// ---- Volume and muting

void BVDocument::modifyVolume(float volume)
{
    m_volume = std::clamp(volume, 0.0f, 1.0f);
    if (m_mediaObject)
        m_mediaObject->setVolume(m_volume);
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
    Q_EMIT volumeChanged(m_mediaObject->volume());
}

void BVDocument::muteInBackground()
{
    if (m_isUnloading || !m_mediaObject)
        return;
    if (defaults()->integerForKey(QStringLiteral("frontmostAudio")) != 1 || isKeyDocument())
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
    // Only one window is active: from now on the others are not key, whatever order their
    // windows hear of it.
    s_keyDocument = this;
    m_gang->disableGanging();
    m_gang->syncGangPosition();
    if (m_shouldUnmuteOnFocus && m_mediaObject && m_mediaObject->isMuted())
        mute();
    m_shouldUnmuteOnFocus = false;
    BVNotificationCenter::defaultCenter().postNotification(QStringLiteral("BVBackgroundMute"), this);
}

void BVDocument::windowDidResignKey(bool toOwnAuxiliaryWindow)
{
    if (m_isUnloading)
        return;
    // The key release goes to the window that has the focus now: a K held here is let go.
    m_kPressed = false;
    if (s_keyDocument == this)
        s_keyDocument = nullptr;
    if (toOwnAuxiliaryWindow)
        return;
    m_gang->updateGangSettings();
}

bool BVDocument::isKeyDocument() const
{
    return !m_isUnloading && s_keyDocument == this;
}

// ---- Playback position memory

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
        m_cloudReview->saveVeloPlaybackPosition(m_mediaObject->currentTime().seconds());
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

    QVariantMap changes {{QStringLiteral("playbackPos"), stored.dictionary()}};
    if (hasVideo()) {
        const QSizeF size = m_mediaObject->naturalSize();
        changes.insert(QStringLiteral("naturalWidth"), size.width());
        changes.insert(QStringLiteral("naturalHeight"), size.height());
    }
    BVFileSettings::updateEntry(fileSettingsKey(), changes);
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
    // A report of the media that was replaced: the new one cannot place frames yet, and its own
    // ready report follows.
    if (!target.isNumeric())
        return;
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
        target = m_mediaObject->timeOfFrame(m_mediaObject->frameAtTime(
            MediaTime::fromSeconds(m_cloudReview->veloPlaybackPosition(), 1000000000)));
    } else {
        const QVariantMap entry = BVFileSettings::entry(fileSettingsKey());
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

// ---- Notifications and the metadata editor

void BVDocument::postUserNotification(const QString &title, const QString &text, const QString &revealedFile)
{
    // A click on it reveals this document's file; the context tells whose notification it was.
    const QString context = !revealedFile.isEmpty() ? revealedFile
        : m_fileURL.isLocalFile()                   ? m_fileURL.toLocalFile()
                                                    : QString();
    if (!context.isEmpty())
        m_postedClickContexts.insert(context);
    if (s_userNotificationHandler)
        s_userNotificationHandler(title, text, context.isEmpty() ? QVariant() : QVariant(context));
}

void BVDocument::growlAlertClicked(const BVNotification &notification)
{
    const QVariant context = notification.userInfo.value(QStringLiteral("clickContext"));
    if (context.typeId() != QMetaType::QString)
        return;
    // Every open player hears the click: only the one that posted the notification acts on it.
    if (!m_postedClickContexts.remove(context.toString()))
        return;
    const QFileInfo info(context.toString());
    if (info.exists())
        QDesktopServices::openUrl(QUrl::fromLocalFile(info.absolutePath()));
}

void BVDocument::sendToTagsmith()
{
    if (!m_fileURL.isLocalFile()) {
        BVDocumentAlert told;
        told.messageText = QStringLiteral("Unable to send to Tagsmith");
        told.informativeText = QStringLiteral("Only local files can be sent to Tagsmith.");
        alert(told);
        return;
    }
    const QString desktopFile = QStandardPaths::locate(
        QStandardPaths::ApplicationsLocation, QStringLiteral("com.brightvane.Tagsmith.desktop"));
    if (!desktopFile.isEmpty()) {
        QProcess::startDetached(QStringLiteral("gtk-launch"),
            {QStringLiteral("com.brightvane.Tagsmith"), m_fileURL.toLocalFile()});
        return;
    }
    BVDocumentAlert told;
    told.messageText = QStringLiteral("Tagsmith is not installed");
    told.informativeText
        = QStringLiteral("Tagsmith can edit metadata, display attributes, chapters, flags and "
                         "other QuickTime settings. Would you like to download it now?");
    told.defaultButton = QStringLiteral("Download");
    told.alternateButton = QStringLiteral("Cancel");
    told.waitsForAnswer = true;
    told.answered = [](int answer) {
        if (answer == 1)
            QDesktopServices::openUrl(QUrl(QStringLiteral("https://www.brightvane.com/tagsmith")));
    };
    alert(told);
}
