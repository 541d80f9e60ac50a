#pragma once

#include "platform/media/MediaTime.h"
#include "player/BVAVPlaybackViewDelegate.h"
#include "player/BVDocumentAnnotations.h"
#include "player/BVDocumentCloudReview.h"
#include "player/BVDocumentMarkers.h"
#include "player/BVDocumentSession.h"
#include "player/BVDocumentTimecodeOutput.h"
#include "player/BVMediaObject.h"
#include "player/BVTransportEvent.h"
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
#include <QSet>
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
class BVGangPlayback;
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
    // Shows a desktop notification (title, text, click context); set by the application, which
    // owns the notifier.
    using UserNotificationHandler = std::function<void(const QString &, const QString &, const QVariant &)>;
    static void setUserNotificationHandler(UserNotificationHandler handler)
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
    // Tells the user that the file or address cannot be opened, naming it and the reason. Shown
    // without waiting.
    static void alertCannotOpen(const QUrl &url, const BVError &error);
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
    bool isVelo() const { return veloFileID() != -1; }
    qlonglong veloFileID() const;
    // A position to go to once the media is ready; a timescale below 1 means none.
    void setSeekOnLoad(const MediaTime &time) { m_seekOnLoad = time; }

    // ---- Media object callbacks (BVDocument.cpp; main thread unless said)
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

    // ---- Playback view callbacks (BVDocumentWindow.cpp)
    bool keyDown(BVAVPlaybackView *view, QKeyEvent *event) override;
    bool keyUp(BVAVPlaybackView *view, QKeyEvent *event) override;
    void mouseMoved(BVAVPlaybackView *view, QMouseEvent *event) override;
    // The timecode display follows every new picture, whatever the periodic observer manages.
    void pictureChanged(BVAVPlaybackView *view) override;

    // ---- Position, timecode and the displays (BVDocumentDisplay.cpp)

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
    // A desktop notification from this document; a click on it reveals the file.
    void postUserNotification(const QString &title, const QString &text);
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

    // ---- Ganging (BVGangPlayback, a listener of the transport events)

    void enableGanging();
    void disableGanging();
    bool isListeningToGang() const;
    void updateGangSettings();
    // Posts a gang notification under the leader rule; answers whether it was posted.
    bool postGangNotification(const QString &name, const QVariantMap &userInfo = {});
    void syncGangPosition();
    void gangedSeek(const BVNotification &notification);
    void modifyGanging(int tag);
    // The document whose window is active: it leads the gang and is heard by the others. Told by
    // its window (windowDidBecomeKey, windowDidResignKey); a document without a window is never key.
    bool isKeyDocument() const;
    // The window became or stopped being the active one (the window controller tells).
    void windowDidBecomeKey();
    void windowDidResignKey(bool toOwnAuxiliaryWindow);
    // Whether the sleep inhibit is held (asked for on a background queue while playing).
    bool holdsPowerAssertion() const { return m_powerHeld; }

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

    // ---- Features: each reaches the document through its slot, installed by whoever builds
    // documents; an empty slot is the feature's do-nothing default.

    void setMarkers(std::unique_ptr<BVDocumentMarkers> markers);
    void setAnnotations(std::unique_ptr<BVDocumentAnnotations> annotations);
    void setCloudReview(std::unique_ptr<BVDocumentCloudReview> cloudReview);
    void setSession(std::unique_ptr<BVDocumentSession> session);
    void setTimecodeOutput(std::unique_ptr<BVDocumentTimecodeOutput> output);
    BVDocumentMarkers *markers() const { return m_markers.get(); }
    BVDocumentAnnotations *annotations() const { return m_annotations.get(); }
    BVDocumentCloudReview *cloudReview() const { return m_cloudReview.get(); }
    BVDocumentSession *session() const { return m_session.get(); }
    BVDocumentTimecodeOutput *timecodeOutput() const { return m_timecodeOutput.get(); }

    // The design's operations of the features, forwarded to their slots.
    void loadMarkers();
    void addMarker();
    void prevMarker();
    void nextMarker();
    void deleteAllMarkers();
    void initializeVelora();
    bool isInSession() const;
    bool isSessionOwner() const;
    // Refreshes the information panel after the media or the in/out points changed.
    virtual void updateInfoPanel() { }

    // What features read of the document. Times follow the program's one frame rule.
    MediaTime currentTime() const;
    MediaTime duration() const;
    // The display string of a time in the current "timecodeDisplay" mode.
    QString timecodeAtTime(const MediaTime &time) const;
    // The key of this file's entry in "fileSettings" (BVFileSettings).
    QString fileSettingsKey() const;

Q_SIGNALS:
    // The main window closed and the document cleaned up; the controller lets go of it.
    void documentClosed(BVDocument *document);
    // After every transport command that changed the rate or the position, once.
    void transportPerformed(const BVTransportEvent &event);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // BVDocument.cpp, BVDocumentDisplay.cpp
    void startLoadingAsset(const QUrl &url, bool audioOnly);
    void replaceMediaObject(std::unique_ptr<BVMediaObject> media);
    void toggleSubWindow(QWidget *window, const QString &key);
    void windowControllerDidLoadNib();
    void windowWillClose();
    void syncPlayButton();
    void setTransportEnabled(bool enabled);
    bool hasVideo() const;
    void showTimecodeOverlayIfWanted();
    QString auxTitle(const QString &suffix) const;
    void setDurationField();
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
    // Builds the transport event of what just happened and tells the listeners.
    void transportEvent(BVTransportEvent::Kind kind);
    // Playback reached an end of the media: stop as a pause does, then EndOfMedia.
    void stopAtEnd();
    void clearPlaybackRange();
    // The next or previous playlist item replaces the one playing.
    void loadPlaylistItem(const QUrl &url);
    void updateTitles();
    void setPowerAssertionHeld(bool held);

    // BVDocumentWindow.cpp
    void buildWindow();
    void buildControlStrip(QWidget *parent);
    void layoutContent();
    void setAudioBar();
    void windowDidResize();
    void applyFullScreen(bool on);
    void applyFrame(const QRect &frame, const QSizeF &aspect);
    void cascadeWindow();
    void keepPictureAspect();

    // BVDocumentMenus.cpp
    void buildMenus();
    QAction *addCommand(QMenu *menu, const QString &name, const QString &title, std::function<void()> handler,
        const QKeySequence &shortcut = {});
    void addCheckGroup(QMenu *menu, const QString &name, const QList<QPair<QString, int>> &items,
        std::function<void(int)> handler);

    std::unique_ptr<BVMediaObject> m_mediaObject;
    // The features' slots; never empty (a do-nothing default until one is installed).
    std::unique_ptr<BVDocumentMarkers> m_markers = std::make_unique<BVDocumentMarkers>();
    std::unique_ptr<BVDocumentAnnotations> m_annotations = std::make_unique<BVDocumentAnnotations>();
    std::unique_ptr<BVDocumentCloudReview> m_cloudReview = std::make_unique<BVDocumentCloudReview>();
    std::unique_ptr<BVDocumentSession> m_session = std::make_unique<BVDocumentSession>();
    std::unique_ptr<BVDocumentTimecodeOutput> m_timecodeOutput = std::make_unique<BVDocumentTimecodeOutput>();
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
    std::unique_ptr<BVGangPlayback> m_gang;
    bool m_isKey = false;
    // The playing state last reported to the listeners (Play or Pause).
    bool m_reportedPlaying = false;
    bool m_scrubbing = false; // between beginScrubbing() and endScrubbing()
    bool m_powerHeld = false;
    bool m_observing = false;
    bool m_windowBuilt = false;
    QList<double> m_lastBufferedRanges;
    // Shared with the queue that talks to the desktop's inhibit service.
    std::shared_ptr<BVPowerAssertion> m_powerAssertion;

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
    int m_loggedProgressTenth = -1; // the progress log notes each tenth once
    QSizeF m_windowAspect; // the picture aspect the window keeps while resizing; empty: none
    QSize m_requestedContentSize; // the last size the document gave its window itself
    bool m_rangeEntered = false; // the playhead has been inside the playback range this pass
    std::unique_ptr<BVWorkQueue> m_loadQueue;
    std::unique_ptr<BVWorkQueue> m_waveformQueue;
    std::mutex m_frameMutex; // guards the two members below (drawFrame from the render queue)
    QImage m_pendingFrame;
    bool m_framePostPending = false;
    // Lives as long as the document is not cleaned up; jobs queued to the main thread check it.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    QSet<QString> m_postedClickContexts;
    static UserNotificationHandler s_userNotificationHandler;
};
