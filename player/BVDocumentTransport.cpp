// Transport commands of the player document: play and pause, the shuttle ladder, steps and jumps,
// play-around and in-to-out play with looping, in and out points, scrubbing, typed timecode, the key
// map and menu validation. Main thread.
#include "player/BVDocument.h"

#include "markers/BVPlayheadSlider.h"
#include "platform/defaults/BVUserDefaults.h"
#include "player/BVAVAsset.h"
#include "player/BVAVFoundation.h"
#include "player/BVAVPlaybackView.h"
#include "player/BVImageSequence.h"
#include "player/BVPositionText.h"
#include "player/BVTimecode.h"
#include "player/BVTimecodeTextField.h"
#include "player/BVTransportIcons.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>

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

bool BVDocument::isKeyWindow() const
{
    return m_window && !m_isUnloading && m_window->isActiveWindow();
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
    if (m_mediaObject && !m_isUnloading)
        m_mediaObject->pause(true);
}

void BVDocument::syncPlayButton()
{
    if (!m_playButton)
        return;
    const bool playing = m_mediaObject && m_mediaObject->isPlaying();
    m_playButton->setText(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
    m_playButton->setIcon(BVTransportIcons::icon(playing ? QStringLiteral("pause") : QStringLiteral("play")));
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
    m_mediaObject->setPlaybackRange(MediaTimeRange(MediaTime::zero(), MediaTime::zero()));
    m_playbackResumePos = MediaTime::zero();
    if (m_mediaObject->restoreAfterScrubbingRate() == 0)
        m_mediaObject->setRestoreAfterScrubbingRate(m_mediaObject->rate());
    float rate = m_mediaObject->isPlaying() ? m_mediaObject->rate() : 0;
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
            m_mediaObject->setRate(newRate);
            if (next <= 5)
                showStatusOverlay(QString::asprintf("%gx Reverse", double(std::fabs(newRate))));
            else
                showStatusOverlay(QString::asprintf("%gx Forward", double(newRate)));
        }
    }
    syncPlayButton();
    if (isSessionOwner())
        sendSessionMessage(direction < 0 ? QStringLiteral("KREW") : QStringLiteral("KFF"));
    postGangNotification(direction < 0 ? QStringLiteral("GANGREW") : QStringLiteral("GANGFF"));
}

// ---- Steps, jumps, start and end

void BVDocument::stepLeft()
{
    if (!m_mediaObject || m_isUnloading)
        return;
    m_mediaObject->stepBack();
    syncPlayButton();
    hideStatusOverlay();
    if (isSessionOwner())
        sendSessionMessage(QStringLiteral("TC") + m_mediaObject->currentTimecode());
    postGangNotification(QStringLiteral("GANGSTEP-"));
}

void BVDocument::stepRight()
{
    if (!m_mediaObject || m_isUnloading)
        return;
    m_mediaObject->stepForward();
    syncPlayButton();
    hideStatusOverlay();
    if (isSessionOwner())
        sendSessionMessage(QStringLiteral("TC") + m_mediaObject->currentTimecode());
    postGangNotification(QStringLiteral("GANGSTEP+"));
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
    m_mediaObject->setPlaybackRange(MediaTimeRange(MediaTime::zero(), MediaTime::zero()));
    m_mediaObject->pause(true);
    syncPlayButton();
    MediaTime target = m_mediaObject->currentTime() + MediaTime(seconds, 1);
    if (target < MediaTime::zero())
        target = MediaTime::zero();
    m_mediaObject->seekToTime(target, true);
    hideStatusOverlay();
}

void BVDocument::goToStart()
{
    if (!m_mediaObject || m_isUnloading)
        return;
    m_mediaObject->seekToTime(MediaTime(0, 1));
    postGangNotification(QStringLiteral("GANGHOME"));
}

void BVDocument::goToEnd()
{
    if (!m_mediaObject || m_isUnloading)
        return;
    m_mediaObject->seekToTime(m_mediaObject->duration());
    postGangNotification(QStringLiteral("GANGEND"));
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
    loadAVFAsset(url);
    m_fileURL = url;
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
        return;
    }
    if (m_playlist) {
        const QUrl next = m_playlist->nextURL();
        if (next.isEmpty()) {
            pause();
            return;
        }
        m_mediaObject->setShouldPlayWhenLoaded(true);
        m_mediaObject->seekToTime(MediaTime(0, 1));
        loadAVFAsset(next);
        m_fileURL = next;
    }
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

void BVDocument::updateInOutMarks()
{
    double inFraction = -1;
    double outFraction = -1;
    if (m_mediaObject && m_inOutRange.duration().isNumeric() && m_inOutRange.duration().value() != 0) {
        const double duration = m_mediaObject->duration().seconds();
        if (duration > 0) {
            inFraction = m_inOutRange.start().seconds() / duration;
            outFraction = m_inOutRange.end().seconds() / duration;
        }
    }
    setScrubberInOut(inFraction, outFraction);
    updateInfoPanel();
}

void BVDocument::goToInPoint()
{
    if (m_mediaObject && m_inOutRange.duration().isNumeric() && m_inOutRange.duration().value() != 0)
        m_mediaObject->seekToTime(m_inOutRange.start());
}

void BVDocument::goToOutPoint()
{
    if (m_mediaObject && m_inOutRange.duration().isNumeric() && m_inOutRange.duration().value() != 0)
        m_mediaObject->seekToTime(m_inOutRange.end());
}

// ---- Scrubbing

void BVDocument::beginScrubbing()
{
    if (!m_mediaObject || m_isUnloading)
        return;
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
        self->syncGangPosition();
        self->m_mediaObject->setPlaybackRange(MediaTimeRange(MediaTime::zero(), MediaTime::zero()));
    });
    if (m_scrubber)
        showTimecodeHoverAtLocation(fraction * m_scrubber->width());
}

void BVDocument::endScrubbing()
{
    if (!m_mediaObject || m_isUnloading)
        return;
    if (auto *asset = dynamic_cast<BVAVAsset *>(m_mediaObject.get()))
        asset->initScrubberTimer();
    const float restore = m_mediaObject->restoreAfterScrubbingRate();
    if (restore != 0) {
        m_mediaObject->setRate(restore);
        m_mediaObject->setRestoreAfterScrubbingRate(0);
    }
    hideTimecodeHover();
    updateTimecode();
    if (isSessionOwner())
        sendSessionMessage(QStringLiteral("TC") + m_mediaObject->currentTimecode());
    syncGangPosition();
}

// ---- The scrubber and buffered ranges

void BVDocument::syncScrubber()
{
    if (m_isUnloading || !m_mediaObject)
        return;
    const MediaTime duration = m_mediaObject->duration();
    const bool valid = duration.isNumeric() && duration > MediaTime::zero();
    if (!valid) {
        if (m_scrubber)
            m_scrubber->setMinimum(0);
        return;
    }
    const MediaTime now = m_mediaObject->currentTime();
    if (m_scrubber && !m_scrubber->isScrubbing() && m_window && m_window->isVisible()) {
        const double span = m_scrubber->maximum() - m_scrubber->minimum();
        m_scrubber->setValue(m_scrubber->minimum() + span * now.seconds() / duration.seconds());
    }
    checkPlaybackRange();
    updateBufferedRange();
    const int64_t frame = m_mediaObject->frameAtTime(now);
    if (frame != m_lastSyncedFrame) {
        updateTimecode();
        savePlaybackPosition(false);
        m_lastSyncedFrame = frame;
    }
}

void BVDocument::pictureChanged(BVAVPlaybackView *view)
{
    (void)view;
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
    if (!m_mediaObject->isPlaying() && fractions == m_lastBufferedRanges)
        return;
    m_lastBufferedRanges = fractions;
    setScrubberBufferedRanges(fractions);
}

// ---- Typed timecode

void BVDocument::timecodeClicked()
{
    openTimecodeEntry(currentDisplayTimecode());
}

void BVDocument::timecodeModified(const QString &typed)
{
    if (!m_mediaObject)
        return;
    const QString text = typed.trimmed();
    if (text.isEmpty()) {
        updateTimecode();
        closeTimecodeEntry();
        return;
    }
    if (!m_mediaObject->frameRate().isValid())
        return;
    const std::optional<int64_t> frame = BVPositionText::frameForTypedText(
        *m_mediaObject, text, BVPositionText::displayMode(), int64_t(m_mediaObject->currentFrame()));
    if (!frame) {
        // Text that names no position leaves the playhead where it is.
        showStatusOverlay(QStringLiteral("Error"));
        closeTimecodeEntry();
        return;
    }
    m_mediaObject->seekToTime(m_mediaObject->timeOfFrame(*frame));
    if (m_playbackView)
        m_playbackView->setFocus();
    closeTimecodeEntry();
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
        if (!keyUp && !(m_timecodePopover && m_timecodePopover->isVisible()))
            openTimecodeEntry(text.isEmpty() ? QKeySequence(key).toString() : text);
        return true;
    }
    // "+" needs Shift on many layouts: it is accepted as typed.
    if (key == Qt::Key_Plus && !command) {
        if (!keyUp && !(m_timecodePopover && m_timecodePopover->isVisible()))
            openTimecodeEntry(QStringLiteral("+"));
        return true;
    }
    return false;
}

// ---- Menu validation

bool BVDocument::validateMenuItem(QAction *item) const
{
    if (!item)
        return false;
    const QString name = item->objectName();
    auto *asset = dynamic_cast<BVAVAsset *>(m_mediaObject.get());
    const QString scheme = m_fileURL.scheme().toLower();
    bool exportable = false;
    if (asset && !isVelo() && !scheme.startsWith(QLatin1String("http")) && scheme != QLatin1String("ftp")) {
        const auto platformAsset = asset->asset();
        exportable = platformAsset && asset->isLoaded() && platformAsset->isExportable();
    }
    if (name == QLatin1String("sendToTagsmith") || name.startsWith(QLatin1String("export"))
        || name == QLatin1String("trim"))
        return exportable;
    if (name == QLatin1String("downloadFile"))
        return isVelo() || scheme.startsWith(QLatin1String("http")) || scheme == QLatin1String("ftp");
    if (name == QLatin1String("cacheFile") || name == QLatin1String("viewOnWeb"))
        return isVelo();
    if (name == QLatin1String("deleteAllMarkers"))
        return !isVelo();
    if (name.startsWith(QLatin1String("changeRotation")))
        return !dynamic_cast<BVImageSequence *>(m_mediaObject.get());
    return true;
}

// ---- The timecode entry popover and the scrubber's marks

bool BVDocument::isTimecodeEntryOpen() const
{
    return m_timecodePopover && m_timecodePopover->isVisible();
}

void BVDocument::openTimecodeEntry(const QString &text)
{
    if (!m_window || isTimecodeEntryOpen())
        return;
    if (!m_timecodePopover) {
        // A popup closes by itself when the user clicks elsewhere.
        auto *popover = new QFrame(m_window.get(), Qt::Popup);
        popover->setFrameShape(QFrame::StyledPanel);
        auto *layout = new QHBoxLayout(popover);
        layout->setContentsMargins(6, 6, 6, 6);
        m_timecodeChangeText = new BVTimecodeTextField(popover);
        m_timecodeChangeText->setObjectName(QStringLiteral("timecodeChangeText"));
        m_timecodeChangeText->setMinimumWidth(180);
        layout->addWidget(m_timecodeChangeText);
        connect(m_timecodeChangeText, &BVTimecodeTextField::timecodeEntered, this,
            [this](const QString &typed) { timecodeModified(typed); });
        connect(m_timecodeChangeText, &BVTimecodeTextField::entryCancelled, this,
            [this] { closeTimecodeEntry(); });
        m_timecodePopover = popover;
    }
    m_timecodeChangeText->setText(text);
    m_timecodeChangeText->setCursorPosition(int(text.size()));
    m_timecodePopover->adjustSize();
    QWidget *anchor = m_timeElapsed ? static_cast<QWidget *>(m_timeElapsed) : m_window.get();
    const QPoint below = anchor->mapToGlobal(QPoint(0, anchor->height()));
    // The field sits above the strip when there is no room below the window.
    m_timecodePopover->move(below.x(), below.y() - anchor->height() - m_timecodePopover->height() - 4);
    m_timecodePopover->show();
    m_timecodeChangeText->setFocus();
}

void BVDocument::closeTimecodeEntry()
{
    if (m_timecodePopover)
        m_timecodePopover->hide();
}

void BVDocument::setScrubberInOut(double inFraction, double outFraction)
{
    if (!m_scrubber)
        return;
    m_scrubber->setInPoint(inFraction);
    m_scrubber->setOutPoint(outFraction);
}

void BVDocument::setScrubberBufferedRanges(const QList<double> &fractions)
{
    if (!m_scrubber)
        return;
    QList<float> ranges;
    ranges.reserve(fractions.size());
    for (double f : fractions)
        ranges.append(float(f));
    m_scrubber->setBufferedTimeRanges(ranges);
}

void BVDocument::setTransportEnabled(bool enabled)
{
    for (const QPointer<QToolButton> &button : std::as_const(m_transportButtons)) {
        if (button)
            button->setEnabled(enabled);
    }
    if (m_scrubber)
        m_scrubber->setEnabled(enabled);
}
