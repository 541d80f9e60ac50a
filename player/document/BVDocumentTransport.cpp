// Transport commands of the player document: play and pause, the shuttle ladder, steps and jumps,
// play-around and in-to-out play with looping, in and out points, scrubbing, typed timecode, the key
// map and the commands' enabling. Main thread.
#include "player/document/BVDocument.h"

#include "platform/defaults/BVUserDefaults.h"
#include "player/document/BVGangPlayback.h"
#include "player/media/BVAVAsset.h"
#include "player/media/BVImageSequence.h"
#include "player/time/BVAVFoundation.h"
#include "player/time/BVPositionText.h"
#include "player/time/BVTimecode.h"

#include <QKeyEvent>
#include <QKeySequence>

#include <algorithm>
#include <cmath>

namespace {

BVUserDefaults *defaults()
{
    return BVUserDefaults::standardUserDefaults();
}

// The duration's timescale, or the media's own when the duration has none.
int32_t durationTimescale(const MediaTime &duration)
{
    return duration.isNumeric() && duration.timescale() > 0 ? duration.timescale() : 600;
}

} // namespace

const QList<float> &BVDocument::playbackSpeeds()
{
    static const QList<float> speeds {-32, -16, -8, -4, -2, -1, 1, 1.5f, 2, 4, 8, 16, 32};
    return speeds;
}

namespace {

const MediaTimeRange kNoRange(MediaTime::zero(), MediaTime::zero());

} // namespace

// Pausing and every command that moves the playhead end a play-around or in-to-out play: its range
// and the place it would have returned to go together.
void BVDocument::clearPlaybackRange()
{
    if (m_mediaObject)
        m_mediaObject->setPlaybackRange(kNoRange);
    m_playbackResumePos = MediaTime::zero();
}

// ---- Play and pause

void BVDocument::playPause()
{
    if (!m_mediaObject)
        return;
    if (m_mediaObject->isPlaying())
        pause();
    else
        play();
}

void BVDocument::play()
{
    if (m_mediaObject && !m_isUnloading)
        m_mediaObject->play();
}

void BVDocument::pause()
{
    if (!m_mediaObject || m_isUnloading)
        return;
    clearPlaybackRange();
    m_mediaObject->pause(true);
}

void BVDocument::syncPlayButton()
{
    Q_EMIT playStateChanged(m_mediaObject && m_mediaObject->isPlaying());
}

// ---- Shuttle

void BVDocument::rewind()
{
    changeRateOnLadder(-1);
}

void BVDocument::fastForward()
{
    changeRateOnLadder(1);
}

void BVDocument::changeRateOnLadder(int direction)
{
    if (!m_mediaObject || m_isUnloading)
        return;
    if (!m_annotations->discardUnsavedAnnotation())
        return;
    m_annotations->removeShownAnnotation();
    clearPlaybackRange();
    const bool wasPlaying = m_mediaObject->isPlaying();
    if (m_mediaObject->restoreAfterScrubbingRate() == 0)
        m_mediaObject->setRestoreAfterScrubbingRate(m_mediaObject->rate());
    float rate = wasPlaying ? m_mediaObject->rate() : 0;
    // Paused counts as normal play when shuttling down only.
    if (rate == 0 && direction < 0)
        rate = 1;
    const QList<float> &speeds = playbackSpeeds();
    const auto index = speeds.indexOf(rate);
    if (index < 0) {
        showStatusOverlay(QStringLiteral("Error"));
    } else {
        const auto next = index + direction;
        if (next >= 0 && next < speeds.size()) {
            const float newRate = speeds.at(next);
            // From pause, playback starts as play starts it (state, sleep inhibit, listeners);
            // the rate then takes the rung.
            if (!wasPlaying)
                m_mediaObject->play();
            m_mediaObject->setRate(newRate);
            if (next <= 5)
                showStatusOverlay(QString::asprintf("%gx Reverse", double(std::fabs(newRate))));
            else
                showStatusOverlay(QString::asprintf("%gx Forward", double(newRate)));
        }
    }
    syncPlayButton();
    transportEvent(direction < 0 ? BVTransportEvent::ShuttleDown : BVTransportEvent::ShuttleUp);
}

// ---- Steps, jumps, start and end

void BVDocument::stepLeft()
{
    if (!m_mediaObject || m_isUnloading)
        return;
    clearPlaybackRange();
    m_mediaObject->stepBack();
    syncPlayButton();
    hideStatusOverlay();
    transportEvent(BVTransportEvent::StepBack);
}

void BVDocument::stepRight()
{
    if (!m_mediaObject || m_isUnloading)
        return;
    clearPlaybackRange();
    m_mediaObject->stepForward();
    syncPlayButton();
    hideStatusOverlay();
    transportEvent(BVTransportEvent::StepForward);
}

void BVDocument::back1Second()
{
    jumpBySeconds(-1);
}

void BVDocument::forward1Second()
{
    jumpBySeconds(1);
}

void BVDocument::jumpBySeconds(int seconds)
{
    if (!m_mediaObject || m_isUnloading)
        return;
    clearPlaybackRange();
    m_mediaObject->pause(true);
    syncPlayButton();
    MediaTime target = m_mediaObject->currentTime() + MediaTime(seconds, 1);
    if (target < MediaTime::zero())
        target = MediaTime::zero();
    m_mediaObject->seekToTime(target, true);
    hideStatusOverlay();
    transportEvent(BVTransportEvent::Jump);
}

void BVDocument::goToStart()
{
    if (!m_mediaObject || m_isUnloading)
        return;
    clearPlaybackRange();
    m_mediaObject->seekToTime(MediaTime(0, 1));
    transportEvent(BVTransportEvent::Home);
}

void BVDocument::goToEnd()
{
    if (!m_mediaObject || m_isUnloading)
        return;
    clearPlaybackRange();
    m_mediaObject->seekToTime(m_mediaObject->duration());
    transportEvent(BVTransportEvent::End);
}

void BVDocument::skipBack()
{
    skipInPlaylist(-1);
}

void BVDocument::skipNext()
{
    skipInPlaylist(1);
}

void BVDocument::skipInPlaylist(int direction)
{
    if (!m_playlist) {
        if (direction < 0)
            goToStart();
        else
            goToEnd();
        return;
    }
    const QUrl url = direction < 0 ? m_playlist->previousURL() : m_playlist->nextURL();
    if (url.isEmpty()) {
        pause();
        return;
    }
    loadPlaylistItem(url);
}

// ---- Play-around and in to out

void BVDocument::playAround()
{
    if (!m_mediaObject || m_isUnloading)
        return;
    const MediaTime position = m_mediaObject->currentTime().absolute();
    const MediaTime duration = m_mediaObject->duration();
    MediaTime start = position - MediaTime(2, 1);
    if (start < MediaTime::zero())
        start = MediaTime::zero();
    MediaTime end = position + MediaTime(2, 1);
    if (duration.isNumeric() && end > duration)
        end = duration;
    m_mediaObject->setPlaybackRange(MediaTimeRange::fromStartEnd(start, end));
    m_rangeEntered = false;
    m_playbackResumePos = position;
    play();
}

void BVDocument::playInToOut()
{
    if (!m_mediaObject || m_isUnloading)
        return;
    m_rangeEntered = false;
    m_playbackResumePos = MediaTime::zero();
    if (m_inOutRange.duration().value() != 0 && m_inOutRange.duration().isNumeric())
        m_mediaObject->setPlaybackRange(m_inOutRange);
    else
        goToStart();
    play();
}

void BVDocument::checkPlaybackRange()
{
    const MediaTimeRange range = m_mediaObject->playbackRange();
    if (!range.duration().isNumeric() || range.duration() <= MediaTime::zero() || !m_mediaObject->isPlaying())
        return;
    const MediaTime now = m_mediaObject->currentTime();
    if (now >= range.start() && now < range.end()) {
        m_rangeEntered = true;
        return;
    }
    // Until the seek to the range start has landed, the old position is not the end of a pass.
    if (!m_rangeEntered)
        return;
    if (defaults()->integerForKey(QStringLiteral("loopPlayback")) == 1) {
        m_rangeEntered = false;
        m_mediaObject->seekToTime(range.start());
        transportEvent(BVTransportEvent::LoopWrap);
        return;
    }
    m_mediaObject->pause(true);
    m_mediaObject->setRestoreAfterScrubbingRate(0);
    if (m_playbackResumePos != MediaTime::zero()) {
        const MediaTime resume = m_playbackResumePos;
        m_playbackResumePos = MediaTime::zero();
        m_mediaObject->seekToTime(resume);
    }
}

void BVDocument::playerReachedEnd()
{
    if (m_isUnloading || !m_mediaObject)
        return;
    if (defaults()->boolForKey(QStringLiteral("loopPlayback"))) {
        m_mediaObject->setSeekToZeroBeforePlay(false);
        QPointer<BVDocument> self(this);
        m_mediaObject->seekToTime(MediaTime(0, 1), [self](bool) {
            if (self)
                self->play();
        });
        transportEvent(BVTransportEvent::LoopWrap);
        return;
    }
    if (m_playlist) {
        const QUrl next = m_playlist->nextURL();
        if (next.isEmpty()) {
            stopAtEnd();
            return;
        }
        m_mediaObject->setShouldPlayWhenLoaded(true);
        m_mediaObject->seekToTime(MediaTime(0, 1));
        loadPlaylistItem(next);
        return;
    }
    stopAtEnd();
}

void BVDocument::stopAtEnd()
{
    // A shuttle keeps the rate it came from to restore: at an end that would leave the media
    // "playing" with no picture moving. The end stops it as a pause does.
    m_mediaObject->setRestoreAfterScrubbingRate(0);
    clearPlaybackRange();
    m_mediaObject->pause(false);
    m_mediaObject->setShouldPlayWhenLoaded(false);
    syncPlayButton();
    setPowerAssertionHeld(false);
    m_reportedPlaying = false;
    transportEvent(BVTransportEvent::EndOfMedia);
}

// ---- In and out points

MediaTimeRange BVDocument::currentInOutRange() const
{
    if (m_inOutRange.duration().isNumeric() && m_inOutRange.duration().value() != 0)
        return m_inOutRange;
    const MediaTime duration = m_mediaObject->duration();
    return MediaTimeRange(MediaTime(0, durationTimescale(duration)), duration);
}

void BVDocument::setInPoint()
{
    if (!m_mediaObject || !m_mediaObject->duration().isNumeric())
        return;
    const int32_t timescale = durationTimescale(m_mediaObject->duration());
    const MediaTimeRange range = currentInOutRange();
    const MediaTime in
        = m_mediaObject->currentTime().convertScale(timescale, MediaTime::Rounding::HalfAwayFromZero);
    MediaTime out = range.end().convertScale(timescale, MediaTime::Rounding::HalfAwayFromZero);
    if (in > out)
        out = in + MediaTime(1, timescale);
    m_inOutRange = MediaTimeRange(in, out - in);
    updateInOutMarks();
}

void BVDocument::setOutPoint()
{
    if (!m_mediaObject || !m_mediaObject->duration().isNumeric())
        return;
    const int32_t timescale = durationTimescale(m_mediaObject->duration());
    const MediaTimeRange range = currentInOutRange();
    const MediaTime out
        = m_mediaObject->currentTime().convertScale(timescale, MediaTime::Rounding::HalfAwayFromZero);
    MediaTime in = range.start().convertScale(timescale, MediaTime::Rounding::HalfAwayFromZero);
    if (in > out)
        in = MediaTime(0, timescale);
    m_inOutRange = MediaTimeRange(in, out - in);
    updateInOutMarks();
}

void BVDocument::clearInOut()
{
    m_inOutRange = MediaTimeRange(MediaTime(0, 0), MediaTime(0, 0));
    updateInOutMarks();
}

std::pair<double, double> BVDocument::inOutFractions() const
{
    if (m_mediaObject && m_inOutRange.duration().isNumeric() && m_inOutRange.duration().value() != 0) {
        const double duration = m_mediaObject->duration().seconds();
        if (duration > 0)
            return {m_inOutRange.start().seconds() / duration, m_inOutRange.end().seconds() / duration};
    }
    return {-1, -1};
}

void BVDocument::updateInOutMarks()
{
    const auto [inFraction, outFraction] = inOutFractions();
    Q_EMIT inOutMarksChanged(inFraction, outFraction);
    m_markers->inOutChanged(m_inOutRange);
    updateInfoPanel();
}

void BVDocument::goToInPoint()
{
    if (m_mediaObject && m_inOutRange.duration().isNumeric() && m_inOutRange.duration().value() != 0) {
        clearPlaybackRange();
        m_mediaObject->seekToTime(m_inOutRange.start());
    }
}

void BVDocument::goToOutPoint()
{
    if (m_mediaObject && m_inOutRange.duration().isNumeric() && m_inOutRange.duration().value() != 0) {
        clearPlaybackRange();
        m_mediaObject->seekToTime(m_inOutRange.end());
    }
}

// ---- Scrubbing

void BVDocument::beginScrubbing()
{
    if (!m_mediaObject || m_isUnloading)
        return;
    clearPlaybackRange();
    m_annotations->removeShownAnnotation();
    m_scrubbing = true;
    m_mediaObject->setRestoreAfterScrubbingRate(m_mediaObject->isPlaying() ? m_mediaObject->rate() : 0);
    m_mediaObject->setRate(0);
    if (auto *asset = dynamic_cast<BVAVAsset *>(m_mediaObject.get()))
        asset->removePlayerTimeObserver();
}

void BVDocument::scrub(double fraction)
{
    if (!m_mediaObject || m_isUnloading)
        return;
    const MediaTime duration = m_mediaObject->duration();
    if (!duration.isNumeric() || duration <= MediaTime::zero())
        return;
    fraction = std::clamp(fraction, 0.0, 1.0);
    const MediaTime target = MediaTime::fromSeconds(fraction * duration.seconds(), 1000000000);
    const MediaTime tolerance(1, durationTimescale(duration));
    QPointer<BVDocument> self(this);
    m_mediaObject->seekToTime(target, tolerance, tolerance, !m_mediaObject->isPlaying(), [self](bool) {
        if (!self || self->m_isUnloading || !self->m_mediaObject)
            return;
        self->updateTimecode();
        self->m_gang->syncGangPosition();
        self->clearPlaybackRange();
    });
    Q_EMIT scrubbedTo(fraction);
}

void BVDocument::endScrubbing()
{
    if (!m_mediaObject || m_isUnloading)
        return;
    m_scrubbing = false;
    if (auto *asset = dynamic_cast<BVAVAsset *>(m_mediaObject.get()))
        asset->initScrubberTimer();
    const float restore = m_mediaObject->restoreAfterScrubbingRate();
    if (restore != 0) {
        m_mediaObject->setRate(restore);
        m_mediaObject->setRestoreAfterScrubbingRate(0);
    }
    updateTimecode();
    m_annotations->removeShownAnnotation();
    transportEvent(BVTransportEvent::ScrubEnd);
}

// ---- The scrubber and buffered ranges

void BVDocument::syncScrubber()
{
    if (m_isUnloading || !m_mediaObject)
        return;
    const MediaTime duration = m_mediaObject->duration();
    const bool valid = duration.isNumeric() && duration > MediaTime::zero();
    if (!valid) {
        Q_EMIT playheadChanged(0);
        return;
    }
    const MediaTime now = m_mediaObject->currentTime();
    Q_EMIT playheadChanged(now.seconds() / duration.seconds());
    checkPlaybackRange();
    // Reverse play stops at the first frame without reporting an end (the player's rate drops to 0,
    // a shuttle's rate to restore stays): the document notices.
    if (m_reportedPlaying && !m_scrubbing && m_mediaObject->rate() <= 0 && now <= MediaTime::zero()) {
        stopAtEnd();
        return;
    }
    updateBufferedRange();
    const int64_t frame = m_mediaObject->frameAtTime(now);
    if (frame != m_lastSyncedFrame) {
        updateTimecode();
        savePlaybackPosition(false);
        m_lastSyncedFrame = frame;
        m_markers->playheadMoved(now);
    }
}

void BVDocument::pictureChanged()
{
    if (m_isUnloading || !m_mediaObject || !m_mediaObject->isPlaying())
        return;
    const MediaTime now = m_mediaObject->currentTime();
    const int64_t frame = m_mediaObject->frameAtTime(now);
    if (frame != m_lastSyncedFrame) {
        updateTimecode();
        m_lastSyncedFrame = frame;
    }
}

void BVDocument::updateBufferedRange()
{
    if (m_isUnloading || !m_mediaObject)
        return;
    const double duration = m_mediaObject->duration().seconds();
    if (!(duration > 0))
        return;
    QList<double> fractions;
    for (const MediaTimeRange &range : m_mediaObject->loadedTimeRanges()) {
        fractions.append(range.start().seconds() / duration);
        fractions.append(range.end().seconds() / duration);
    }
    const bool unchanged = fractions.size() == m_lastBufferedRanges.size()
        && std::equal(fractions.cbegin(), fractions.cend(), m_lastBufferedRanges.cbegin());
    if (!m_mediaObject->isPlaying() && unchanged)
        return;
    m_lastBufferedRanges = fractions;
    Q_EMIT bufferedRangesChanged(fractions);
}

// ---- Typed timecode

void BVDocument::timecodeModified(const QString &typed)
{
    if (!m_mediaObject)
        return;
    const QString text = typed.trimmed();
    if (text.isEmpty()) {
        updateTimecode();
        Q_EMIT timecodeEntryDone();
        return;
    }
    if (!m_mediaObject->frameRate().isValid())
        return;
    const std::optional<int64_t> frame = BVPositionText::frameForTypedText(
        *m_mediaObject, text, BVPositionText::displayMode(), int64_t(m_mediaObject->currentFrame()));
    if (!frame) {
        // Text that names no position leaves the playhead where it is.
        showStatusOverlay(QStringLiteral("Error"));
        Q_EMIT timecodeEntryDone();
        return;
    }
    clearPlaybackRange();
    m_mediaObject->seekToTime(m_mediaObject->timeOfFrame(*frame));
    Q_EMIT pictureFocusWanted();
    Q_EMIT timecodeEntryDone();
}

// ---- The key map

bool BVDocument::playbackKeyPressed(QKeyEvent *event, bool keyUp)
{
    if (!event || m_isUnloading)
        return false;
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const bool shift = modifiers & Qt::ShiftModifier;
    const bool command = modifiers & Qt::ControlModifier;
    const bool repeat = event->isAutoRepeat();
    const int key = event->key();

    switch (key) {
    case Qt::Key_Space:
        if (!keyUp && !repeat) {
            if (shift)
                playInToOut();
            else
                playPause();
        }
        return true;
    case Qt::Key_J:
    case Qt::Key_K:
    case Qt::Key_L:
        if (command)
            return false;
        // A held key repeats as release-press pairs: only the first press and the last release count.
        if (repeat)
            return true;
        if (key == Qt::Key_K) {
            if (keyUp) {
                pause();
                m_kPressed = false;
            } else {
                m_kPressed = true;
            }
            return true;
        }
        if (!keyUp) {
            if (m_kPressed) {
                if (!m_mediaObject->isPlaying())
                    play();
                m_mediaObject->setRate(key == Qt::Key_J ? -0.5f : 0.5f);
                syncPlayButton();
            }
            return true;
        }
        if (m_kPressed)
            pause();
        else if (key == Qt::Key_J)
            rewind();
        else if (m_mediaObject && m_mediaObject->isPlaying())
            fastForward();
        else
            play();
        return true;
    case Qt::Key_M:
        // Ctrl+Alt+M is the Mute menu's: the key map keeps only M and Ctrl+M.
        if (command && (modifiers & Qt::AltModifier))
            return false;
        if (keyUp && !repeat && !command)
            addMarker();
        return true;
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (keyUp)
            return true;
        if (shift)
            key == Qt::Key_Left ? back1Second() : forward1Second();
        else if (command)
            key == Qt::Key_Left ? skipBack() : skipNext();
        else
            key == Qt::Key_Left ? stepLeft() : stepRight();
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (keyUp && !repeat)
            key == Qt::Key_Up ? prevMarker() : nextMarker();
        return true;
    case Qt::Key_Home:
    case Qt::Key_End:
        if (keyUp && !repeat)
            key == Qt::Key_Home ? goToStart() : goToEnd();
        return true;
    default:
        break;
    }
    const QString text = event->text();
    const bool entryKey
        = (key >= Qt::Key_0 && key <= Qt::Key_9) || key == Qt::Key_Plus || key == Qt::Key_Minus;
    if (entryKey && !shift && !command) {
        // The window opens the entry unless it is open already.
        if (!keyUp)
            Q_EMIT timecodeEntryRequested(text.isEmpty() ? QKeySequence(key).toString() : text);
        return true;
    }
    // "+" needs Shift on many layouts: it is accepted as typed.
    if (key == Qt::Key_Plus && !command) {
        if (!keyUp)
            Q_EMIT timecodeEntryRequested(QStringLiteral("+"));
        return true;
    }
    return false;
}

// ---- Menu validation

bool BVDocument::validateMenuItem(const QString &name) const
{
    auto *asset = dynamic_cast<BVAVAsset *>(m_mediaObject.get());
    const QString scheme = m_fileURL.scheme().toLower();
    bool exportable = false;
    if (asset && !isVelo() && !scheme.startsWith(QLatin1String("http")) && scheme != QLatin1String("ftp")) {
        const auto platformAsset = asset->asset();
        exportable = platformAsset && asset->isLoaded() && platformAsset->isExportable();
    }
    // A frame can be saved from every medium that has pictures.
    if (name.startsWith(QLatin1String("exportFrame")))
        return m_mediaObject && m_isLoaded && hasVideo();
    if (name == QLatin1String("sendToTagsmith") || name.startsWith(QLatin1String("export"))
        || name == QLatin1String("trim"))
        return exportable;
    if (name == QLatin1String("downloadFile"))
        return asset
            && (isVelo() || scheme.startsWith(QLatin1String("http")) || scheme == QLatin1String("ftp"));
    if (name == QLatin1String("cacheFile"))
        return isVelo() && asset;
    if (name == QLatin1String("viewOnWeb"))
        return isVelo();
    if (name == QLatin1String("deleteAllMarkers"))
        return !isVelo();
    if (name.startsWith(QLatin1String("changeRotation")))
        return !dynamic_cast<BVImageSequence *>(m_mediaObject.get());
    return true;
}

// ---- The transport's enabling

void BVDocument::setTransportEnabled(bool enabled)
{
    m_transportEnabled = enabled;
    Q_EMIT transportEnabledChanged(enabled);
}
