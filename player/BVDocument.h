#pragma once

#include "platform/media/MediaTime.h"
#include "player/BVAVPlaybackViewDelegate.h"
#include "player/BVMediaObject.h"
#include "support/BVError.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QImage>
#include <QKeySequence>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <mutex>

class BVAVPlaybackView;
class BVPlayheadSlider;
class BVStatusOverlayView;
class BVTimecodeHoverView;
class BVTimecodeOverlay;
class BVTimecodeTextField;
class BVWorkQueue;
class BVPowerAssertion;
class BVTimecodePanel;
class BVTimer;
class QAction;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QMenuBar;
class QMouseEvent;
class QProgressBar;
class QPushButton;
class QSlider;
class QToolButton;
class QWidget;
struct BVNotification;

// The player document: one per open media file, with one main window. Opens the file into a media
// object, is that object's delegate, wires it to the playback view and the control strip, and is the
// target of every transport command, key and display menu. Other documents are reached only through
// process-wide notifications (ganging, background muting). Create, use and destroy it on the main
// thread; the media object's callbacks arrive there too, except where a callback says otherwise.
class BVDocument : public QObject, public BVMediaObjectDelegate, public BVAVPlaybackViewDelegate
{
    Q_OBJECT
public:
    // The playlist a document plays; implemented by the playlist document, not owned.
    class Playlist
    {
    public:
        virtual ~Playlist() = default;
        // The item before or after the one playing; an empty URL when there is none.
        virtual QUrl previousURL() = 0;
        virtual QUrl nextURL() = 0;
    };

    // The document types the document controller knows.
    static QString movieType() { return QStringLiteral("QuickTime Movie"); }
    static QString audioType() { return QStringLiteral("Audio File"); }
    // The shuttle rate ladder, slowest reverse to fastest forward; index 6 is normal play.
    static const QList<float> &playbackSpeeds();
    // Documents alive and not unloading, in opening order.
    static QList<BVDocument *> openDocuments();
    // Shows a desktop notification (title, text); set by the application, which owns the notifier.
    static void setUserNotificationHandler(std::function<void(const QString &, const QString &)> handler)
    {
        s_userNotificationHandler = std::move(handler);
    }

    explicit BVDocument(QObject *parent = nullptr);
    ~BVDocument() override;

    // ---- Opening (BVDocument.cpp)

    // Opens a movie or audio file (local or "http"/"https") of the given document type and starts
    // loading it in the background. Answers false with *error set when it cannot be opened.
    bool readFromURL(const QUrl &url, const QString &typeName, BVError *error = nullptr);
    void loadAVFAsset(const QUrl &url);
    // As loadAVFAsset(), with the media object marked audio-only.
    void loadAudioAsset(const QUrl &url);
    // Image files already in playing order, played at fps.
    void loadImageSequence(const QStringList &files, double fps);
    // Builds the main window (once) and shows it; the document controller calls it after opening.
    void showWindows();
    // Closes the main window; the document cleans up and emits documentClosed().
    void close();
    // Stops everything and lets go of media, observers, timers and views. Idempotent.
    void cleanup();

    QMainWindow *window() const;
    BVAVPlaybackView *playbackView() const;
    BVMediaObject *mediaObject() const { return m_mediaObject.get(); }
    QUrl fileURL() const { return m_fileURL; }
    void setFileURL(const QUrl &url) { m_fileURL = url; }
    // The title shown in the window title and the auxiliary windows' titles.
    QString displayName() const;
    QString windowTitleForDocumentDisplayName(const QString &displayName) const;
    void setPlaylist(Playlist *playlist) { m_playlist = playlist; }
    Playlist *playlist() const { return m_playlist; }

    bool isUnloading() const { return m_isUnloading; }
    bool isLoaded() const { return m_isLoaded; }
    bool isReady() const { return m_isReady; }
    bool isVelo() const { return m_veloFileID != -1; }
    qlonglong veloFileID() const { return m_veloFileID; }
    // A position to go to once the media is ready; a timescale below 1 means none.
    void setSeekOnLoad(const MediaTime &time) { m_seekOnLoad = time; }

    // ---- Media object callbacks (main thread unless said)
    void mediaStatusChanged(const QString &status) override;
    void prepareForPlayback() override;
    void setupPlaybackOutput() override;
    void playbackStateChanged() override;
    void playerReachedEnd() override;
    void bufferStatusChanged(const QString &status) override;
    void mediaPlaybackFailed(const BVError &error) override;
    bool playerShouldSeek() override;
    void playerSeeked() override;
    void syncScrubber() override;
    // Any thread: hands the image to the playback view.
    void drawFrame(const QImage &image) override;
    void updateBufferedRange() override;
    // Any thread: renders the waveform of an audio file on a background queue.
    void drawWaveformForAudioAssetAsync() override;

    // ---- Playback view callbacks
    bool keyDown(BVAVPlaybackView *view, QKeyEvent *event) override;
    bool keyUp(BVAVPlaybackView *view, QKeyEvent *event) override;
    void mouseMoved(BVAVPlaybackView *view, QMouseEvent *event) override;
    // The timecode display follows every new picture, whatever the periodic observer manages.
    void pictureChanged(BVAVPlaybackView *view) override;

    // ---- Position, timecode and the displays (BVDocument.cpp)

    // The display string in the current "timecodeDisplay" mode; the source timecode goes to *raw.
    QString currentDisplayTimecode(QString *raw = nullptr) const;
    // Refreshes the elapsed-time field, the timecode panel and the overlay; answers the display string.
    QString updateTimecode();
    void seekToTimecode(const QString &timecode);
    bool isScrubbing() const;
    void stopPlayback(bool quiet);
    void modifyTimecodeDisplay(int tag);
    void modifyTimecodeOutput(int tag);
    void copyCurrentPosition();
    // The volume slider (0..100) moved.
    void modifyVolume();
    void mute();
    void muteInBackground();
    void savePlaybackPosition(bool forced = false);
    void loadPlaybackPosition();
    void toggleInfo();
    void toggleTimecode();
    void toggleMarkers();
    BVTimecodePanel *timecodePanel() const { return m_timecodePanel.get(); }
    void showSubWindows();
    void hideSubWindows();
    void sendToTagsmith();
    void startProgress();
    void setIndeterminateProgress();
    void setProgress(double value);
    void endProgress();
    void cancelProgress();
    void growlAlertClicked(const BVNotification &notification);

    // ---- Transport and keys (BVDocumentTransport.cpp)

    void playPause();
    void play();
    void pause();
    void playAround();
    void playInToOut();
    void rewind();
    void fastForward();
    void stepLeft();
    void stepRight();
    void back1Second();
    void forward1Second();
    void skipBack();
    void skipNext();
    void goToStart();
    void goToEnd();
    void setInPoint();
    void setOutPoint();
    void clearInOut();
    void goToInPoint();
    void goToOutPoint();
    void beginScrubbing();
    // The scrubber moved to the fraction (value - minimum) / (maximum - minimum).
    void scrub(double fraction);
    void endScrubbing();
    // Opens the timecode entry with the display string (or with the given text, cursor after it).
    void timecodeClicked();
    void openTimecodeEntry(const QString &text);
    void timecodeModified(const QString &text);
    bool isTimecodeEntryOpen() const;
    // Answers whether the key was used. Sent by the playback view for presses and releases.
    bool playbackKeyPressed(QKeyEvent *event, bool keyUp);
    bool validateMenuItem(QAction *item) const;
    MediaTimeRange inOutRange() const { return m_inOutRange; }
    MediaTime playbackResumePos() const { return m_playbackResumePos; }
    bool kPressed() const { return m_kPressed; }

    // ---- Ganging (BVDocumentGang.cpp)

    void enableGanging();
    void disableGanging();
    bool isListeningToGang() const { return m_gangListening; }
    void updateGangSettings();
    // Posts a gang notification under the leader rule; answers whether it was posted.
    bool postGangNotification(const QString &name, const QVariantMap &userInfo = {});
    void syncGangPosition();
    void gangedPlay();
    void gangedPause();
    void gangedSeek(const BVNotification &notification);
    void modifyGanging(int tag);

    // ---- Window geometry, view options and overlays (BVDocumentWindow.cpp)

    void resizeWindowToFit();
    void setActualSize();
    void setHalfSize();
    void fitToScreen();
    void changeMatte(int tag);
    void setWidescreenMatteRatio(float ratio);
    void changeRotation(int tag);
    void setRotation(int rotation);
    void toggle43Overlay();
    void toggle169Overlay();
    void setSafeAreaOverlay(bool show43, bool show169);
    void setPlaybackRate(float rate);
    void updateViewOptions();
    void toggleTimecodeOverlay();
    void setTimecodeOverlayPosition();
    // Shows the text at the top right of the picture for 2 s; an empty text only removes it.
    void showStatusOverlay(const QString &text);
    void resetStatusOverlayTimer();
    void hideStatusOverlay();
    // The text shown by the status overlay; empty when it is hidden.
    QString statusOverlayText() const;
    // The hover timecode over the scrubber at x (in the scrubber's coordinates).
    void showTimecodeHoverAtLocation(double x);
    void hideTimecodeHover();
    void toggleFullScreen();
    bool isFullScreen() const { return m_fullScreen; }
    void showFullscreenUI();
    void hideFullscreenUI();
    void mouseMovedOverVideo();
    void drawWaveformForAudioAsset();
    int heightOfTitleBar() const;
    int controlStripHeight() const;
    // The size of the screen the window is on; overridden to place windows on a given screen.
    virtual QRect availableScreenGeometry() const;

    // ---- Menus (BVDocumentMenus.cpp)

    QMenuBar *menuBar() const;
    // The action of a command by its name ("playPause", "changeMatte:5" ...); none when unknown.
    QAction *actionNamed(const QString &name) const;
    // Ticks the display menus after the settings.
    void updateMenuChecks();

    // ---- Places where markers, the info panel, cloud review and synced sessions hook in.
    // Each does nothing until its part of the player exists.

    // Loads the file's markers and chapters when the media is loaded and ready.
    virtual void loadMarkers() { }
    virtual void addMarker() { }
    virtual void prevMarker() { }
    virtual void nextMarker() { }
    // Refreshes the information panel after the media or the in/out points changed.
    virtual void updateInfoPanel() { }
    // The document takes part in a synced review session; its owner is the one who sends.
    virtual bool isInSession() const { return false; }
    virtual bool isSessionOwner() const { return false; }
    // Sends a transport message to the other participants of the session.
    virtual void sendSessionMessage(const QString &message) { (void)message; }
    // Sends the displayed source timecode to MIDI (and to the control-surface display when asked).
    virtual void sendTimecodeOutput(const QString &timecode, bool toDisplay)
    {
        (void)timecode;
        (void)toDisplay;
    }
    // Sends the current position to the cloud file's record.
    virtual void saveVeloPlaybackPosition(double seconds) { (void)seconds; }
    // The cloud file's last position in seconds.
    virtual double veloPlaybackPosition() const { return 0; }

Q_SIGNALS:
    // The main window closed and the document cleaned up; the controller lets go of it.
    void documentClosed(BVDocument *document);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // BVDocument.cpp
    void startLoadingAsset(const QUrl &url, bool audioOnly);
    void replaceMediaObject(std::unique_ptr<BVMediaObject> media);
    void toggleSubWindow(QWidget *window, const QString &key);
    void windowControllerDidLoadNib();
    void windowDidBecomeKey();
    void windowDidResignKey();
    void windowWillClose();
    void syncPlayButton();
    void setTransportEnabled(bool enabled);
    bool hasVideo() const;
    void showTimecodeOverlayIfWanted();
    QString fileSettingsKey() const;
    QString auxTitle(const QString &suffix) const;
    void setDurationField();
    void savePlaybackPositionLocal(bool forced);
    void playAfterDelayIfWanted();
    // The pending seek of a cloud review or session, else the remembered position.
    void seekToStartPosition();
    int32_t finerTimescale(const MediaTime &time) const;
    void observeNotifications();

    // BVDocumentTransport.cpp
    void changeRateOnLadder(int direction);
    void jumpBySeconds(int seconds);
    void skipInPlaylist(int direction);
    void setScrubberInOut(double inFraction, double outFraction);
    void setScrubberBufferedRanges(const QList<double> &fractions);
    void checkPlaybackRange();
    MediaTimeRange currentInOutRange() const;
    void updateInOutMarks();
    void closeTimecodeEntry();
    bool isKeyWindow() const;

    // BVDocumentWindow.cpp
    void buildWindow();
    void buildControlStrip(QWidget *parent);
    void layoutContent();
    void setAudioBar();
    void windowDidResize();
    void applyFullScreen(bool on);
    void showWaveformImage(const QImage &image);
    void applyFrame(const QRect &frame, const QSizeF &aspect);

    // BVDocumentMenus.cpp
    void buildMenus();
    QAction *addCommand(QMenu *menu, const QString &name, const QString &title, std::function<void()> handler,
        const QKeySequence &shortcut = {});
    void addCheckGroup(QMenu *menu, const QString &name, const QList<QPair<QString, int>> &items,
        std::function<void(int)> handler);

    std::unique_ptr<BVMediaObject> m_mediaObject;
    QUrl m_fileURL;
    QString m_typeName;
    Playlist *m_playlist = nullptr;
    bool m_isUnloading = false;
    bool m_isLoaded = false;
    bool m_isReady = false;
    bool m_kPressed = false;
    bool m_fullScreen = false;
    bool m_fullScreenTransitioning = false;
    float m_lastVolume = 1;
    bool m_shouldUnmuteOnFocus = false;
    MediaTime m_seekOnLoad = MediaTime::invalid();
    int64_t m_lastSyncedFrame = -1;
    QDateTime m_lastPlaybackPositionSyncDate;
    MediaTimeRange m_inOutRange {MediaTime(0, 0), MediaTime(0, 0)};
    MediaTime m_playbackResumePos = MediaTime::zero();
    QImage m_cachedWaveform;
    qlonglong m_veloFileID = -1;
    bool m_gangListening = false;
    bool m_observing = false;
    bool m_windowBuilt = false;
    QList<double> m_lastBufferedRanges;
    std::unique_ptr<BVPowerAssertion> m_powerAssertion;
    // Held while the waveform is rendered on its queue and while the auxiliary windows change.
    std::recursive_mutex m_lock;

    // The window and what it holds; the widgets are owned by the window.
    std::unique_ptr<QMainWindow> m_window;
    QPointer<QWidget> m_playbackArea;
    QPointer<BVAVPlaybackView> m_playbackView;
    QPointer<QWidget> m_controlStrip;
    QPointer<BVStatusOverlayView> m_statusOverlay;
    QPointer<BVTimecodeOverlay> m_timecodeOverlay;
    QPointer<BVTimecodeHoverView> m_timecodeHover;
    QPointer<QToolButton> m_playButton;
    QList<QPointer<QToolButton>> m_transportButtons;
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
    QMenuBar *m_menuBar = nullptr;
    QMap<QString, QAction *> m_actions;
    QElapsedTimer m_progressClock;
    QSizeF m_windowAspect; // the picture aspect the window keeps while resizing; empty: none
    bool m_rangeEntered = false; // the playhead has been inside the playback range this pass
    std::unique_ptr<BVWorkQueue> m_loadQueue;
    std::unique_ptr<BVWorkQueue> m_waveformQueue;
    std::mutex m_frameMutex; // guards the two members below (drawFrame from the render queue)
    QImage m_pendingFrame;
    bool m_framePostPending = false;
    // Lives as long as the document is not cleaned up; jobs queued to the main thread check it.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    static std::function<void(const QString &, const QString &)> s_userNotificationHandler;
};
