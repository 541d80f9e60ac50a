// The player window: building it and its control strip, what it shows of its document's state, its
// events, the auxiliary windows, the timecode entry popover and the progress sheet. Main thread.
#include "player/window/BVDocumentWindowController.h"

#include "platform/defaults/BVUserDefaults.h"
#include "player/document/BVDocument.h"
#include "player/media/BVAVAsset.h"
#include "player/window/BVAVPlaybackView.h"
#include "player/window/BVPlayheadContainerView.h"
#include "player/window/BVPlayheadSlider.h"
#include "player/window/BVStatusOverlayView.h"
#include "player/window/BVTimecodeHoverView.h"
#include "player/window/BVTimecodeOverlay.h"
#include "player/window/BVTimecodePanel.h"
#include "player/window/BVTimecodeTextField.h"
#include "player/window/BVTransportIcons.h"
#include "player/window/BVWindowGeometry.h"
#include "support/BVAlert.h"
#include "support/BVLog.h"
#include "support/BVNotificationCenter.h"
#include "support/BVTimer.h"
#include "support/BVWorkQueue.h"

#include <QApplication>
#include <QDialog>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

// How far each new window opens from the one before.
constexpr int kCascadeOffset = 24;

BVUserDefaults *defaults()
{
    return BVUserDefaults::standardUserDefaults();
}

} // namespace

BVDocumentWindowController::BVDocumentWindowController(BVDocument &document)
    : QObject(&document)
    , m_document(document)
{
    buildWindow();
    observeDocument();
}

BVDocumentWindowController *BVDocumentWindowController::showWindows(BVDocument &document)
{
    if (document.isUnloading())
        return nullptr;
    BVDocumentWindowController *controller = of(document);
    if (!controller)
        controller = new BVDocumentWindowController(document);
    controller->showWindow();
    return controller;
}

BVDocumentWindowController *BVDocumentWindowController::of(const BVDocument &document)
{
    const QList<BVDocumentWindowController *> children
        = document.findChildren<BVDocumentWindowController *>(QString(), Qt::FindDirectChildrenOnly);
    for (BVDocumentWindowController *controller : children) {
        if (!controller->m_tornDown)
            return controller;
    }
    return nullptr;
}

void BVDocumentWindowController::showAlert(const BVDocumentAlert &alert, QWidget *window)
{
    const int answer
        = BVAlert::alertSheetWithMessageText(alert.messageText, alert.defaultButton, alert.alternateButton,
            {}, alert.informativeText, alert.onWindow ? window : nullptr, alert.waitsForAnswer);
    if (alert.waitsForAnswer && alert.answered)
        alert.answered(answer);
}

BVDocumentWindowController::~BVDocumentWindowController()
{
    teardown();
}

QMainWindow *BVDocumentWindowController::window() const
{
    return m_window.get();
}

QWidget *BVDocumentWindowController::windowWidget() const
{
    return m_window.get();
}

BVAVPlaybackView *BVDocumentWindowController::playbackView() const
{
    return m_playbackView;
}

bool BVDocumentWindowController::isWindowActive() const
{
    return m_window && m_window->isActiveWindow();
}

// What the window shows follows the document's signals; each writes its widgets without letting
// them report the change back as a user action.
void BVDocumentWindowController::observeDocument()
{
    BVDocument *d = &m_document;
    // Cleanup may run inside the window's own close event: the controller goes after it.
    connect(d, &BVDocument::unloading, this, [this] {
        teardown();
        deleteLater();
    });
    connect(d, &BVDocument::alertRequested, this,
        [this](const BVDocumentAlert &alert) { showAlert(alert, m_window.get()); });
    connect(d, &BVDocument::subWindowsHideRequested, this, &BVDocumentWindowController::hideSubWindows);
    connect(d, &BVDocument::playStateChanged, this, &BVDocumentWindowController::setPlayState);
    connect(d, &BVDocument::transportEnabledChanged, this, &BVDocumentWindowController::setTransportEnabled);
    connect(d, &BVDocument::playheadChanged, this, &BVDocumentWindowController::setPlayhead);
    connect(d, &BVDocument::inOutMarksChanged, this, &BVDocumentWindowController::setInOutMarks);
    connect(d, &BVDocument::bufferedRangesChanged, this, &BVDocumentWindowController::setBufferedRanges);
    connect(d, &BVDocument::playableExtentChanged, this, [this](double fraction) {
        if (m_scrubber)
            m_scrubber->setPlayableEnd(fraction);
    });
    connect(d, &BVDocument::statusTextChanged, this, &BVDocumentWindowController::showStatusOverlay);
    connect(d, &BVDocument::timecodeChanged, this, [this](const QString &display) {
        if (m_timeElapsed)
            m_timeElapsed->setText(display);
        if (m_timecodePanel)
            m_timecodePanel->setText(display);
        if (m_timecodeOverlay)
            m_timecodeOverlay->setTimecode(display);
    });
    connect(d, &BVDocument::durationTextChanged, this, [this](const QString &text) {
        if (m_duration)
            m_duration->setText(text);
    });
    connect(d, &BVDocument::volumeChanged, this, [this](float volume) {
        if (!m_volumeSlider)
            return;
        const QSignalBlocker blocker(m_volumeSlider);
        m_volumeSlider->setValue(int(std::lround(volume * 100)));
    });
    connect(d, &BVDocument::pictureFocusWanted, this, [this] {
        if (m_playbackView)
            m_playbackView->setFocus();
    });
    connect(d, &BVDocument::playbackOutputChanged, this, &BVDocumentWindowController::setPlaybackOutput);
    connect(d, &BVDocument::frameReady, this, [this](const QImage &frame) {
        if (m_playbackView && !frame.isNull())
            m_playbackView->renderImage(frame);
    });
    connect(d, &BVDocument::mediaLoaded, this, [this] {
        resizeWindowToFit();
        updateViewOptions();
        showTimecodeOverlayIfWanted();
    });
    connect(d, &BVDocument::mediaPrepared, this, [this] {
        if (m_playbackView)
            m_playbackView->updateBounds();
        resizeWindowToFit();
        showTimecodeOverlayIfWanted();
    });
    connect(d, &BVDocument::mediaReady, this, [this] {
        updateViewOptions();
        showTimecodeOverlayIfWanted();
    });
    // Queued: the asset reports its waveform data from its loading queue.
    connect(d, &BVDocument::waveformDataReady, this, &BVDocumentWindowController::drawWaveformAsync,
        Qt::QueuedConnection);
    connect(d, &BVDocument::mediaReplaced, this, [this] {
        m_cachedWaveform = QImage();
        m_lastBufferedRanges.clear();
        if (m_playbackView)
            m_playbackView->clearImage();
    });
    connect(d, &BVDocument::titleChanged, this, &BVDocumentWindowController::updateTitles);
    connect(d, &BVDocument::viewOptionsChanged, this, [this] {
        updateViewOptions();
        updateMenuChecks();
    });
    connect(d, &BVDocument::menuStateChanged, this, &BVDocumentWindowController::updateMenuChecks);
    connect(d, &BVDocument::scrubbedTo, this, [this](double fraction) {
        if (m_scrubber)
            showTimecodeHoverAtLocation(fraction * m_scrubber->width());
    });
    connect(d, &BVDocument::timecodeEntryRequested, this, &BVDocumentWindowController::openTimecodeEntry);
    connect(d, &BVDocument::timecodeEntryDone, this, &BVDocumentWindowController::closeTimecodeEntry);
    connect(d, &BVDocument::transportPerformed, this, [this](const BVTransportEvent &event) {
        if (event.kind == BVTransportEvent::ScrubEnd)
            hideTimecodeHover();
    });
}

void BVDocumentWindowController::showWindow()
{
    if (!m_window)
        return;
    if (!m_didLoad) {
        m_didLoad = true;
        // Placed once built, so that a subclass's screen counts.
        cascadeWindow();
        windowDidLoad();
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void BVDocumentWindowController::closeWindow()
{
    if (m_window)
        m_window->close();
}

void BVDocumentWindowController::teardown()
{
    // The document may go before this controller and its window do (both are deleted later): from
    // here on nothing reaches it.
    m_tornDown = true;
    BVNotificationCenter::defaultCenter().removeObserver(this);
    if (m_playbackView) {
        m_playbackView->setPlayer(nullptr);
        m_playbackView->setDelegate(nullptr);
    }
    if (m_waveformQueue)
        m_waveformQueue->cancelAll();
    m_waveformQueue.reset();
    m_lifetime.end();
    m_statusOverlayTimer.reset();
    m_fullScreenTimer.reset();
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

// ---- Building the window

void BVDocumentWindowController::buildWindow()
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
    m_window->setMinimumSize(300, controlStripHeight() + 60);

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
    m_infoPanel = std::make_unique<QWidget>(nullptr, Qt::Tool);
    m_infoPanel->resize(320, 420);
    m_document.exporter()->attachInfoPanel(m_infoPanel.get());
    // The markers feature brings its own window; the window owns it from here on.
    if (QWidget *markers = m_document.markers()->markersWindow()) {
        m_markersWindow.reset(markers);
    } else {
        m_markersWindow = std::make_unique<QWidget>(nullptr, Qt::Tool);
        m_markersWindow->resize(420, 300);
    }
    for (QWidget *aux :
        {static_cast<QWidget *>(m_timecodePanel.get()), m_infoPanel.get(), m_markersWindow.get()}) {
        aux->setAttribute(Qt::WA_ShowWithoutActivating);
        aux->installEventFilter(this);
    }

    buildMenus();
    m_window->installEventFilter(this);
    m_window->resize(
        int(BVWindowGeometry::fallbackWidth), int(BVWindowGeometry::fallbackHeight) + controlStripHeight());
    updateTitles();
    layoutContent();
}

void BVDocumentWindowController::buildControlStrip(QWidget *parent)
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

    // The timeline: the scrubber, with room above it for the marker tags.
    m_playheadContainer = new BVPlayheadContainerView(m_controlStrip);
    auto *timeline = new QVBoxLayout(m_playheadContainer);
    timeline->setContentsMargins(0, BVPlayheadContainerView::markerStripHeight, 0, 0);
    timeline->setSpacing(0);
    m_scrubber = new BVPlayheadSlider(m_playheadContainer);
    timeline->addWidget(m_scrubber);
    m_scrubber->setRange(0, 1);
    auto fraction = [this](double value) {
        return m_scrubber->maximum() > m_scrubber->minimum()
            ? (value - m_scrubber->minimum()) / (m_scrubber->maximum() - m_scrubber->minimum())
            : 0;
    };
    connect(m_scrubber, &BVPlayheadSlider::scrubbingBegan, this, [this, fraction](double value) {
        m_document.beginScrubbing();
        m_document.scrub(fraction(value));
    });
    connect(m_scrubber, &BVPlayheadSlider::scrubbed, this,
        [this, fraction](double value) { m_document.scrub(fraction(value)); });
    connect(
        m_scrubber, &BVPlayheadSlider::scrubbingEnded, this, [this](double) { m_document.endScrubbing(); });
    column->addWidget(m_playheadContainer);

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
    BVDocument *d = &m_document;
    button(QStringLiteral("skipBack"), QStringLiteral("skipBack"), QStringLiteral("Go to Start"),
        [d] { d->skipBack(); });
    button(QStringLiteral("rewind"), QStringLiteral("rewind"), QStringLiteral("Rewind (J)"),
        [d] { d->rewind(); });
    button(QStringLiteral("stepLeft"), QStringLiteral("stepLeft"), QStringLiteral("Step Back"),
        [d] { d->stepLeft(); });
    m_playButton = button(QStringLiteral("playPause"), QStringLiteral("play"),
        QStringLiteral("Play/Pause (Space)"), [d] { d->playPause(); });
    button(QStringLiteral("stepRight"), QStringLiteral("stepRight"), QStringLiteral("Step Forward"),
        [d] { d->stepRight(); });
    button(QStringLiteral("fastForward"), QStringLiteral("fastForward"), QStringLiteral("Fast Forward (L)"),
        [d] { d->fastForward(); });
    button(QStringLiteral("skipNext"), QStringLiteral("skipNext"), QStringLiteral("Go to End"),
        [d] { d->skipNext(); });
    button(QStringLiteral("prevMarker"), QStringLiteral("prevMarker"), QStringLiteral("Previous Marker"),
        [d] { d->prevMarker(); });
    button(QStringLiteral("addMarker"), QStringLiteral("addMarker"), QStringLiteral("Add Marker (M)"),
        [d] { d->addMarker(); });
    button(QStringLiteral("nextMarker"), QStringLiteral("nextMarker"), QStringLiteral("Next Marker"),
        [d] { d->nextMarker(); });
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
    connect(m_volumeSlider, &QSlider::valueChanged, this,
        [this](int value) { m_document.modifyVolume(float(value) / 100.0f); });
    row->addWidget(m_volumeSlider);
}

void BVDocumentWindowController::fitControlStrip(int width)
{
    if (!m_controlStrip || !m_controlStrip->layout())
        return;
    // Dropped in this order as the window narrows; play/pause, the position and the duration stay.
    const QStringList order {QStringLiteral("volume"), QStringLiteral("prevMarker"),
        QStringLiteral("nextMarker"), QStringLiteral("skipBack"), QStringLiteral("skipNext"),
        QStringLiteral("addMarker"), QStringLiteral("rewind"), QStringLiteral("fastForward"),
        QStringLiteral("stepLeft"), QStringLiteral("stepRight")};
    const auto widgetNamed = [this](const QString &name) -> QWidget * {
        if (name == QLatin1String("volume"))
            return m_volumeSlider;
        for (const QPointer<QToolButton> &button : m_transportButtons)
            if (button && button->objectName() == name)
                return button;
        return nullptr;
    };
    QLayout *layout = m_controlStrip->layout();
    for (const QString &name : order)
        if (QWidget *widget = widgetNamed(name))
            widget->setVisible(true);
    layout->invalidate();
    for (const QString &name : order) {
        if (layout->minimumSize().width() <= width)
            break;
        if (QWidget *widget = widgetNamed(name)) {
            widget->setVisible(false);
            layout->invalidate();
        }
    }
}

// Places the picture area and the strip: side by side in a window, the strip over the picture in
// full screen.
void BVDocumentWindowController::layoutContent()
{
    if (!m_window || !m_playbackArea || !m_controlStrip)
        return;
    const QRect content = m_window->centralWidget()->rect();
    const int strip = controlStripHeight();
    if (m_fullScreen) {
        m_playbackArea->setGeometry(content);
        m_controlStrip->setGeometry(0, content.height() - strip, content.width(), strip);
        m_controlStrip->raise();
    } else {
        m_playbackArea->setGeometry(0, 0, content.width(), std::max(0, content.height() - strip));
        m_controlStrip->setGeometry(0, content.height() - strip, content.width(), strip);
    }
    fitControlStrip(content.width());
    m_playbackView->setGeometry(m_playbackArea->rect());
    if (m_timecodeHover && m_scrubber)
        m_timecodeHover->move(m_timecodeHover->x(), m_controlStrip->y() - m_timecodeHover->height() - 2);
}

// The window's first showing: it takes the document's state as it is now, then the document does its
// part of the set-up.
void BVDocumentWindowController::windowDidLoad()
{
    resizeWindowToFit();
    BVNotificationCenter::defaultCenter().addObserver(this, QStringLiteral("BVReelmarkMouseMove"),
        m_playbackView.data(), [this](const BVNotification &) { mouseMovedOverVideo(); });
    BVMediaObject *media = m_document.mediaObject();
    // What the document shows now; its signals carry every change from here on.
    const BVDocumentState state = m_document.currentState();
    setPlayState(state.playing);
    setTransportEnabled(state.transportEnabled);
    setPlaybackOutput(true);
    m_duration->setText(state.durationText);
    m_timeElapsed->setText(state.timecode);
    m_timecodePanel->setText(state.timecode);
    m_timecodeOverlay->setTimecode(state.timecode);
    setInOutMarks(state.inFraction, state.outFraction);
    setBufferedRanges(state.bufferedRanges);
    m_scrubber->setPlayableEnd(state.playableExtent);
    {
        const QSignalBlocker blocker(m_volumeSlider);
        m_volumeSlider->setValue(int(std::lround(state.volume * 100)));
    }
    m_playbackView->setFocus();
    setActualSize();
    showSubWindows();
    if (media && media->isLoaded())
        showTimecodeOverlayIfWanted();
    if (media && media->isAudioOnly())
        drawWaveformAsync();
    updateTitles();
    resizeWindowToFit();
    // The timecode tip follows the pointer over the timeline.
    BVNotificationCenter::defaultCenter().addObserver(this,
        BVPlayheadContainerView::timelineHoverNotification, m_playheadContainer.data(),
        [this](const BVNotification &n) {
            if (m_scrubber)
                showTimecodeHoverAtLocation(
                    n.userInfo.value(QStringLiteral("x")).toDouble() - m_scrubber->x());
        });
    BVNotificationCenter::defaultCenter().addObserver(this,
        BVPlayheadContainerView::timelineHoverLeaveNotification, m_playheadContainer.data(),
        [this](const BVNotification &) { hideTimecodeHover(); });
    m_document.markers()->attachTimeline(m_playheadContainer, m_window.get());
    m_document.cloudReview()->attachWindow(m_window.get());
    m_document.windowDidLoad();
    setPlayhead(state.playhead);
}

bool BVDocumentWindowController::eventFilter(QObject *watched, QEvent *event)
{
    if (m_tornDown || m_document.isUnloading())
        return QObject::eventFilter(watched, event);
    if (m_window && watched == m_window.get()) {
        switch (event->type()) {
        case QEvent::Close:
            m_document.close();
            break;
        case QEvent::WindowActivate:
            m_document.windowDidBecomeKey();
            if (m_playbackView)
                m_playbackView->updateBounds();
            showSubWindows();
            break;
        case QEvent::WindowDeactivate:
            // No longer key at once (a notification of the new key window may come first); the
            // newly active window is known once this event is over, and the gang hears of it then.
            m_document.windowDidResignKey(true);
            QTimer::singleShot(0, this, [this] {
                QWidget *active = QApplication::activeWindow();
                if (m_tornDown || !m_window || (active && active == m_window.get()))
                    return;
                const bool ownAux = active
                    && (active == m_timecodePanel.get() || active == m_infoPanel.get()
                        || active == m_markersWindow.get());
                if (!ownAux)
                    m_document.windowDidResignKey(false);
                if (active && !ownAux)
                    hideSubWindows();
            });
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

bool BVDocumentWindowController::keyDown(BVAVPlaybackView *, QKeyEvent *event)
{
    return m_document.playbackKeyPressed(event, false);
}

bool BVDocumentWindowController::keyUp(BVAVPlaybackView *, QKeyEvent *event)
{
    return m_document.playbackKeyPressed(event, true);
}

void BVDocumentWindowController::mouseMoved(BVAVPlaybackView *, QMouseEvent *)
{
    // The view posts "BVReelmarkMouseMove" too; the window answers that notification.
}

void BVDocumentWindowController::pictureChanged(BVAVPlaybackView *)
{
    m_document.pictureChanged();
}

// ---- What the strip shows

void BVDocumentWindowController::setPlayState(bool playing)
{
    if (!m_playButton)
        return;
    m_playButton->setText(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
    m_playButton->setIcon(BVTransportIcons::icon(playing ? QStringLiteral("pause") : QStringLiteral("play")));
}

void BVDocumentWindowController::setTransportEnabled(bool enabled)
{
    for (const QPointer<QToolButton> &button : std::as_const(m_transportButtons)) {
        if (button)
            button->setEnabled(enabled);
    }
    if (m_scrubber)
        m_scrubber->setEnabled(enabled);
}

void BVDocumentWindowController::setPlayhead(double fraction)
{
    if (!m_scrubber || m_scrubber->isScrubbing() || !m_window || !m_window->isVisible())
        return;
    const double span = m_scrubber->maximum() - m_scrubber->minimum();
    m_scrubber->setValue(m_scrubber->minimum() + span * fraction);
}

void BVDocumentWindowController::setInOutMarks(double inFraction, double outFraction)
{
    if (!m_scrubber)
        return;
    m_scrubber->setInPoint(inFraction);
    m_scrubber->setOutPoint(outFraction);
}

void BVDocumentWindowController::setBufferedRanges(const QList<double> &fractions)
{
    if (!m_scrubber)
        return;
    QList<float> ranges;
    ranges.reserve(fractions.size());
    for (double f : fractions)
        ranges.append(float(f));
    m_scrubber->setBufferedTimeRanges(ranges);
}

// The picture of an asset comes from its player; an image sequence hands its frames over instead.
void BVDocumentWindowController::setPlaybackOutput(bool available)
{
    if (!m_playbackView)
        return;
    auto *asset = dynamic_cast<BVAVAsset *>(m_document.mediaObject());
    if (!available)
        m_playbackView->setPlayer(nullptr);
    else if (asset && asset->player())
        m_playbackView->setPlayer(asset->player());
    m_playbackView->updateBounds();
}

// ---- Auxiliary windows

void BVDocumentWindowController::toggleSubWindow(const QString &key)
{
    QWidget *window = key == QLatin1String("showInfo") ? m_infoPanel.get()
        : key == QLatin1String("showTimecode")         ? static_cast<QWidget *>(m_timecodePanel.get())
                                                       : m_markersWindow.get();
    if (!window)
        return;
    const bool show = !window->isVisible();
    window->setVisible(show);
    defaults()->setBool(show, key);
    updateMenuChecks();
}

void BVDocumentWindowController::showSubWindows()
{
    if (m_fullScreen || m_fullScreenTransitioning || m_document.isUnloading())
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

void BVDocumentWindowController::hideSubWindows()
{
    for (QWidget *window : {static_cast<QWidget *>(m_infoPanel.get()),
             static_cast<QWidget *>(m_timecodePanel.get()), m_markersWindow.get()}) {
        if (window)
            window->hide();
    }
}

void BVDocumentWindowController::updateTitles()
{
    if (m_window)
        m_window->setWindowTitle(m_document.windowTitleForDocumentDisplayName(m_document.displayName()));
    if (m_timecodePanel)
        m_timecodePanel->setWindowTitle(m_document.auxTitle(QStringLiteral("Timecode")));
    if (m_infoPanel)
        m_infoPanel->setWindowTitle(m_document.auxTitle(QStringLiteral("Info")));
    if (m_markersWindow)
        m_markersWindow->setWindowTitle(m_document.auxTitle(QStringLiteral("Markers")));
}

// A new window opens below and to the right of the newest other player window, back at the top left
// of the screen when it would leave it.
void BVDocumentWindowController::cascadeWindow()
{
    const QRect screen = availableScreenGeometry();
    QPoint origin = screen.topLeft();
    const QList<BVDocument *> documents = BVDocument::openDocuments();
    for (auto it = documents.crbegin(); it != documents.crend(); ++it) {
        const BVDocumentWindowController *other = *it == &m_document ? nullptr : of(**it);
        if (!other || !other->window() || !other->window()->isVisible())
            continue;
        origin = other->window()->frameGeometry().topLeft() + QPoint(kCascadeOffset, kCascadeOffset);
        break;
    }
    const QSize size = m_window->frameGeometry().size();
    if (origin.x() + size.width() > screen.right() || origin.y() + size.height() > screen.bottom())
        origin = screen.topLeft();
    m_window->move(origin);
}

// ---- The timecode entry popover

void BVDocumentWindowController::timecodeClicked()
{
    openTimecodeEntry(m_document.currentDisplayTimecode());
}

bool BVDocumentWindowController::isTimecodeEntryOpen() const
{
    return m_timecodePopover && m_timecodePopover->isVisible();
}

void BVDocumentWindowController::openTimecodeEntry(const QString &text)
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
            [this](const QString &typed) { m_document.timecodeModified(typed); });
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

void BVDocumentWindowController::closeTimecodeEntry()
{
    if (m_timecodePopover)
        m_timecodePopover->hide();
}

// ---- The progress sheet

void BVDocumentWindowController::startTimeEstimate()
{
    m_timeEstimate = BVTimeEstimate::timeEstimateWithTotal(1.0);
    m_timeEstimate.start();
}

void BVDocumentWindowController::startProgress()
{
    m_loggedProgressTenth = -1;
    startTimeEstimate();
    if (!m_window)
        return;
    if (!m_progressWindow) {
        auto *sheet = new QDialog(m_window.get(), Qt::Sheet);
        sheet->setWindowModality(Qt::WindowModal);
        auto *layout = new QVBoxLayout(sheet);
        m_progressBar = new QProgressBar(sheet);
        m_progressTimeEstimate = new QLabel(sheet);
        sheet->setObjectName(QStringLiteral("progressWindow"));
        m_progressBar->setObjectName(QStringLiteral("progressBar"));
        m_progressTimeEstimate->setObjectName(QStringLiteral("progressTimeEstimate"));
        auto *cancel = new QPushButton(QStringLiteral("Cancel"), sheet);
        layout->addWidget(m_progressBar);
        layout->addWidget(m_progressTimeEstimate);
        layout->addWidget(cancel, 0, Qt::AlignRight);
        connect(cancel, &QPushButton::clicked, this, &BVDocumentWindowController::endProgress);
        m_progressWindow = sheet;
    }
    if (m_progressWindow->isVisible())
        return;
    m_progressBar->setRange(0, 1000);
    m_progressBar->setValue(0);
    m_progressTimeEstimate->setText(QStringLiteral("Unknown time remaining"));
    m_progressWindow->show();
}

void BVDocumentWindowController::setIndeterminateProgress()
{
    if (m_progressBar)
        m_progressBar->setRange(0, 0);
}

void BVDocumentWindowController::setProgress(double value)
{
    value = std::clamp(value, 0.0, 1.0);
    // A long job reports many times a second: the log keeps one line per tenth.
    if (const int tenth = int(value * 10); tenth != m_loggedProgressTenth) {
        m_loggedProgressTenth = tenth;
        BVLog::appendLog("progress: %f", value);
    }
    m_timeEstimate.setCurrentValue(value);
    if (!m_progressBar)
        return;
    m_progressBar->setRange(0, 1000);
    m_progressBar->setValue(int(value * 1000));
    m_progressTimeEstimate->setText(QStringLiteral("%1 remaining").arg(m_timeEstimate.timeRemaining()));
}

void BVDocumentWindowController::endProgress()
{
    if (m_progressWindow)
        m_progressWindow->hide();
}
