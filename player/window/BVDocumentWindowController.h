#pragma once

#include "player/document/BVDocumentAlert.h"
#include "player/document/BVTransportEvent.h"
#include "player/window/BVAVPlaybackViewDelegate.h"
#include "support/BVLifetime.h"
#include "support/BVTimeEstimate.h"

#include <QElapsedTimer>
#include <QImage>
#include <QKeySequence>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSizeF>

#include <functional>
#include <memory>
#include <optional>

class BVAVPlaybackView;
class BVDocument;
class BVPlayheadContainerView;
class BVPlayheadSlider;
class BVStatusOverlayView;
class BVTimecodeHoverView;
class BVTimecodeOverlay;
class BVTimecodePanel;
class BVTimecodeTextField;
class BVTimer;
class BVWorkQueue;
class QAction;
class QLabel;
class QMainWindow;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QSlider;
class QToolButton;
class QWidget;

// The window of one player document: the main window with the picture and the control strip, the
// overlays, the timecode entry popover, the progress sheet, the auxiliary windows, the menus, full
// screen and window fitting, and the document's alerts. It reads the document's current state once,
// then follows its signals (each carrying the new state) and writes its widgets under
// QSignalBlocker; user actions go to the document's operations. Made by whoever opens the document
// (showWindows()), as a child of the document: it goes when the document cleans up or goes. Main
// thread.
class BVDocumentWindowController : public QObject, public BVAVPlaybackViewDelegate
{
    Q_OBJECT
public:
    explicit BVDocumentWindowController(BVDocument &document);
    ~BVDocumentWindowController() override;

    // The window of a document, made on first use, shown and brought to the front; none for a
    // document that is unloading.
    static BVDocumentWindowController *showWindows(BVDocument &document);
    // The window a document has; none for a document without one.
    static BVDocumentWindowController *of(const BVDocument &document);
    // Shows a document's alert on the window (or on its own) and hands the answer back.
    static void showAlert(const BVDocumentAlert &alert, QWidget *window);

    BVDocument &document() const { return m_document; }
    void showWindow();
    void closeWindow();
    // The document is cleaning up: the window goes once its close event is over.
    void teardown();

    QMainWindow *window() const;
    // The same, for sheets and alerts.
    QWidget *windowWidget() const;
    BVAVPlaybackView *playbackView() const;
    BVTimecodePanel *timecodePanel() const { return m_timecodePanel.get(); }
    QMenuBar *menuBar() const { return m_menuBar; }
    QAction *actionNamed(const QString &name) const { return m_actions.value(name, nullptr); }
    bool isFullScreen() const { return m_fullScreen; }
    // The main window is the active one.
    bool isWindowActive() const;
    QRect screenGeometry() const;
    // The size of the screen the window is on; overridden to place windows on a given screen.
    virtual QRect availableScreenGeometry() const;

    // ---- Geometry, view options and overlays (BVDocumentWindowGeometry.cpp)
    void resizeWindowToFit();
    void setActualSize();
    void setHalfSize();
    void fitToScreen();
    void setWidescreenMatteRatio(float ratio);
    void setRotation(int rotation);
    void toggle43Overlay();
    void toggle169Overlay();
    void setSafeAreaOverlay(bool show43, bool show169);
    void updateViewOptions();
    void toggleTimecodeOverlay();
    void setTimecodeOverlayPosition();
    void showTimecodeOverlayIfWanted();
    void showStatusOverlay(const QString &text);
    void resetStatusOverlayTimer();
    void hideStatusOverlay();
    QString statusOverlayText() const;
    void showTimecodeHoverAtLocation(double x);
    void hideTimecodeHover();
    void toggleFullScreen();
    void showFullscreenUI();
    void hideFullscreenUI();
    void mouseMovedOverVideo();
    void drawWaveformForAudioAsset();
    int heightOfTitleBar() const;
    static int controlStripHeight();
    // What the window puts around the picture, measured: borders and title bar, the menu bar and
    // the control strip (width, height), in points.
    QSize pictureChrome() const;
    // The picture size in points for a size in the picture's own pixels (device pixel ratio).
    QSizeF pointsForPixels(const QSizeF &pixels) const;

    // ---- Panels, the popover and the progress sheet (BVDocumentWindowController.cpp)
    void toggleSubWindow(const QString &key);
    void showSubWindows();
    void hideSubWindows();
    // Opens the timecode entry with the display string (the position button, Go to Timecode), or
    // with the given text, cursor after it.
    void timecodeClicked();
    void openTimecodeEntry(const QString &text);
    void closeTimecodeEntry();
    bool isTimecodeEntryOpen() const;
    // The progress sheet of a job of the document; its estimate starts anew with each job.
    void startProgress();
    void setIndeterminateProgress();
    // The bar at value (0 to 1) with the estimate's text beneath it.
    void setProgress(double value);
    void endProgress();
    BVTimeEstimate &timeEstimate() { return m_timeEstimate; }
    void startTimeEstimate();
    void updateTitles();

    // ---- Menus (BVDocumentWindowMenus.cpp)
    void updateMenuChecks();

    // ---- Playback view callbacks
    bool keyDown(BVAVPlaybackView *view, QKeyEvent *event) override;
    bool keyUp(BVAVPlaybackView *view, QKeyEvent *event) override;
    void mouseMoved(BVAVPlaybackView *view, QMouseEvent *event) override;
    void pictureChanged(BVAVPlaybackView *view) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void observeDocument();
    void buildWindow();
    void buildControlStrip(QWidget *parent);
    void layoutContent();
    void windowDidLoad();
    void windowDidResize();
    void keepPictureAspect();
    void cascadeWindow();
    void setAudioBar();
    void applyFullScreen(bool on);
    void applyFrame(const QRect &frame, const QSizeF &aspect);
    // Sets the window so that its picture area has `picture` points, origin kept; measures again
    // once the window has laid out (a menu bar that wraps at the new width is taller).
    void applyPictureSize(const QSizeF &picture, std::optional<QPoint> origin = std::nullopt);
    // Hides the transport controls the strip has no room for, least needed first, so that nothing
    // covers the timecode or the duration.
    void fitControlStrip(int width);
    void drawWaveformAsync();
    void setPlaybackOutput(bool available);
    void setPlayState(bool playing);
    void setTransportEnabled(bool enabled);
    void setPlayhead(double fraction);
    void setInOutMarks(double inFraction, double outFraction);
    void setBufferedRanges(const QList<double> &fractions);
    void buildMenus();
    QAction *addCommand(QMenu *menu, const QString &name, const QString &title, std::function<void()> handler,
        const QKeySequence &shortcut = {});
    void addCheckGroup(QMenu *menu, const QString &name, const QList<QPair<QString, int>> &items,
        std::function<void(int)> handler);

    BVDocument &m_document;
    bool m_fullScreen = false;
    bool m_fullScreenTransitioning = false;
    bool m_didLoad = false;
    bool m_tornDown = false;
    QImage m_cachedWaveform;
    QList<double> m_lastBufferedRanges;
    std::unique_ptr<QMainWindow> m_window;
    QPointer<QWidget> m_playbackArea;
    QPointer<BVAVPlaybackView> m_playbackView;
    QPointer<QWidget> m_controlStrip;
    QPointer<BVStatusOverlayView> m_statusOverlay;
    QPointer<BVTimecodeOverlay> m_timecodeOverlay;
    QPointer<BVTimecodeHoverView> m_timecodeHover;
    QPointer<QToolButton> m_playButton;
    QList<QPointer<QToolButton>> m_transportButtons;
    QPointer<BVPlayheadContainerView> m_playheadContainer;
    QPointer<BVPlayheadSlider> m_scrubber;
    QPointer<QPushButton> m_timeElapsed;
    QPointer<QLabel> m_duration;
    QPointer<QSlider> m_volumeSlider;
    QPointer<QWidget> m_timecodePopover;
    QPointer<BVTimecodeTextField> m_timecodeChangeText;
    QPointer<QWidget> m_progressWindow;
    QPointer<QProgressBar> m_progressBar;
    QPointer<QLabel> m_progressTimeEstimate;
    std::unique_ptr<BVTimecodePanel> m_timecodePanel;
    std::unique_ptr<QWidget> m_infoPanel;
    std::unique_ptr<QWidget> m_markersWindow;
    std::unique_ptr<BVTimer> m_statusOverlayTimer;
    std::unique_ptr<BVTimer> m_fullScreenTimer;
    std::unique_ptr<BVWorkQueue> m_waveformQueue;
    QMenuBar *m_menuBar = nullptr;
    QMap<QString, QAction *> m_actions;
    QSizeF m_windowAspect; // the picture aspect the window keeps while resizing; empty: none
    QSize m_requestedContentSize; // the last size the controller gave the window itself
    BVTimeEstimate m_timeEstimate = BVTimeEstimate::timeEstimateWithTotal(1.0);
    int m_loggedProgressTenth = -1; // the progress log notes each tenth once
    // Lives as long as the controller; jobs queued to the main thread check it.
    BVLifetime m_lifetime;
};
