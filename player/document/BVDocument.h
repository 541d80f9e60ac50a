#pragma once

#include "platform/media/MediaTime.h"
#include "player/document/BVDocumentAlert.h"
#include "player/document/BVDocumentAnnotations.h"
#include "player/document/BVDocumentCloudReview.h"
#include "player/document/BVDocumentExport.h"
#include "player/document/BVDocumentMarkers.h"
#include "player/document/BVDocumentSession.h"
#include "player/document/BVDocumentState.h"
#include "player/document/BVDocumentTimecodeOutput.h"
#include "player/document/BVTransportEvent.h"
#include "player/media/BVMediaObject.h"
#include "support/BVError.h"
#include "support/BVLifetime.h"

#include <QDateTime>
#include <QImage>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <map>
#include <memory>
#include <mutex>

class BVGangPlayback;
class BVPowerAssertion;
class BVWorkQueue;
class QKeyEvent;
struct BVNotification;

// The player document: one per open media file. Opens the file into a media object, is that
// object's delegate, and is the target of every transport command, key and display menu. It is a
// model: it knows no window. Whoever opens it may build a window (BVDocumentWindowController) that
// reads currentState() once, follows the signals below and calls the operations; the document plays,
// remembers and gangs without one, and what the user must be told goes out as alertRequested().
// Other documents are reached only through process-wide notifications (ganging, background muting).
// Create, use and destroy it on the main thread; the media object's callbacks arrive there too,
// except where a callback says otherwise.
class BVDocument : public QObject, public BVMediaObjectDelegate
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
    // The alert telling the user that the file or address cannot be opened, naming it and the
    // reason; shown on its own, without waiting.
    static BVDocumentAlert cannotOpenAlert(const QUrl &url, const BVError &error);

    explicit BVDocument(QObject *parent = nullptr);
    ~BVDocument() override;

    // ---- Opening and closing (BVDocument.cpp)

    // Opens a movie or audio file (local or "http"/"https") of the given document type and starts
    // loading it in the background. Answers false with *error set when it cannot be opened.
    bool readFromURL(const QUrl &url, const QString &typeName, BVError *error = nullptr);
    // Image files already in playing order, played at fps.
    void loadImageSequence(const QStringList &files, double fps);
    // The document's part of its window's first showing: autoplay, ganging, the markers.
    void windowDidLoad();
    // Stops, cleans up and emits documentClosed(); its window goes with it. The window calls it
    // when the user closes it.
    void close();
    // Stops everything and lets go of media, observers and timers. Idempotent.
    void cleanup();

    BVMediaObject *mediaObject() const { return m_mediaObject.get(); }
    QUrl fileURL() const { return m_fileURL; }
    void setFileURL(const QUrl &url) { m_fileURL = url; }
    // The title shown in the window title; auxiliary windows add what they show ("Timecode").
    QString displayName() const;
    QString windowTitleForDocumentDisplayName(const QString &displayName) const;
    QString auxTitle(const QString &suffix) const;
    void setPlaylist(Playlist *playlist) { m_playlist = playlist; }
    Playlist *playlist() const { return m_playlist; }

    bool isUnloading() const { return m_isUnloading; }
    bool isLoaded() const { return m_isLoaded; }
    bool isReady() const { return m_isReady; }
    bool isVelo() const { return veloFileID() != -1; }
    qlonglong veloFileID() const;
    // A position to go to once the media is ready; a timescale below 1 means none.
    void setSeekOnLoad(const MediaTime &time) { m_seekOnLoad = time; }

    // Everything a window shows, as it is now; the signals below carry each change after that.
    BVDocumentState currentState() const;
    // A new picture is up: the timecode display follows it, whatever the periodic observer manages.
    void pictureChanged();

    // ---- Position, timecode and the displays (BVDocumentDisplay.cpp)

    // The display string in the current "timecodeDisplay" mode; the source timecode goes to *raw.
    QString currentDisplayTimecode(QString *raw = nullptr) const;
    // Refreshes the displays (timecodeChanged) and timecode output; answers the display string.
    QString updateTimecode();
    void seekToTimecode(const QString &timecode);
    void modifyTimecodeDisplay(int tag);
    void modifyTimecodeOutput(int tag);
    void copyCurrentPosition();
    // The volume slider moved (0..1).
    void modifyVolume(float volume);
    void mute();
    void savePlaybackPosition(bool forced = false);
    void sendToTagsmith();
    // A desktop notification from this document; a click on it reveals the file (the document's
    // own unless another is named).
    void postUserNotification(const QString &title, const QString &text, const QString &revealedFile = {});
    // The view menus' settings: matte and rotation by menu tag; a rate applied to media already
    // playing (the "playbackRate" setting).
    void changeMatte(int tag);
    void changeRotation(int tag);
    void setPlaybackRate(float rate);

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
    // The text typed into the timecode entry: a position in the display mode, or a relative one.
    void timecodeModified(const QString &text);
    // Whether the picture shows video (not an audio file's waveform).
    bool hasVideo() const;
    // Answers whether the key was used. Sent by the playback view for presses and releases.
    bool playbackKeyPressed(QKeyEvent *event, bool keyUp);
    bool validateMenuItem(const QString &command) const;
    MediaTimeRange inOutRange() const { return m_inOutRange; }
    MediaTime playbackResumePos() const { return m_playbackResumePos; }
    bool kPressed() const { return m_kPressed; }

    // ---- Ganging (BVGangPlayback, a listener of the transport events)

    BVGangPlayback &gang() const { return *m_gang; }
    void modifyGanging(int tag);
    // The document whose window is active: it leads the gang and is heard by the others. Told by
    // its window (windowDidBecomeKey, windowDidResignKey); a document without a window is never key.
    bool isKeyDocument() const;
    void windowDidBecomeKey();
    // toOwnAuxiliaryWindow: the focus went to one of the document's own panels, so the gang stays.
    void windowDidResignKey(bool toOwnAuxiliaryWindow);
    // Whether the sleep inhibit is held (asked for on a background queue while playing).
    bool holdsPowerAssertion() const { return m_powerHeld; }

    // ---- Features: each reaches the document through its slot, installed by whoever builds
    // documents; an empty slot is the feature's do-nothing default.

    void setMarkers(std::unique_ptr<BVDocumentMarkers> markers);
    void setAnnotations(std::unique_ptr<BVDocumentAnnotations> annotations);
    void setCloudReview(std::unique_ptr<BVDocumentCloudReview> cloudReview);
    void setSession(std::unique_ptr<BVDocumentSession> session);
    void setTimecodeOutput(std::unique_ptr<BVDocumentTimecodeOutput> output);
    void setExport(std::unique_ptr<BVDocumentExport> exporter);
    BVDocumentMarkers *markers() const { return m_markers.get(); }
    BVDocumentAnnotations *annotations() const { return m_annotations.get(); }
    BVDocumentCloudReview *cloudReview() const { return m_cloudReview.get(); }
    BVDocumentSession *session() const { return m_session.get(); }
    BVDocumentTimecodeOutput *timecodeOutput() const { return m_timecodeOutput.get(); }
    BVDocumentExport *exporter() const { return m_export.get(); }

    // The design's operations of the features, forwarded to their slots.
    void loadMarkers();
    void addMarker();
    void prevMarker();
    void nextMarker();
    void deleteAllMarkers();
    void initializeVelora();
    bool isInSession() const;
    // Refreshes the information panel after the media or the in/out points changed.
    virtual void updateInfoPanel();
    void exportMovie();
    void trim();
    void exportFrame(bool alternate = false);
    void saveFrame(const QString &path, int format);
    void downloadFile();
    void cacheVeloFile();
    // The cloud file arrived in the local file cache: the local copy becomes the media, playing on
    // from the same time if it was playing, and the window title says "(cached)".
    void replaceURLWithCachedFile(const QString &path);

    // What features read of the document. Times follow the program's one frame rule.
    MediaTime currentTime() const;
    MediaTime duration() const;
    // The display string of a time in the current "timecodeDisplay" mode.
    QString timecodeAtTime(const MediaTime &time) const;
    // The key of this file's entry in "fileSettings" (BVFileSettings).
    QString fileSettingsKey() const;

Q_SIGNALS:
    // The document is cleaning up: its window lets go of the player now and goes.
    void unloading();
    // The document closed and cleaned up; the controller lets go of it.
    void documentClosed(BVDocument *document);
    // After every transport command that changed the rate or the position, once.
    void transportPerformed(const BVTransportEvent &event);
    // Something the user must be told (the window shows it; without one it is only logged).
    void alertRequested(const BVDocumentAlert &alert);

    // The state a window shows, each time it changes (currentState() has all of it).
    void playStateChanged(bool playing);
    void transportEnabledChanged(bool enabled);
    // The display string of the position ("timecodeDisplay" mode).
    void timecodeChanged(const QString &display);
    void durationTextChanged(const QString &text);
    // The playhead as a fraction of the duration.
    void playheadChanged(double fraction);
    // The in and out points as fractions of the duration; -1 for none.
    void inOutMarksChanged(double inFraction, double outFraction);
    // Start and end fractions of the buffered ranges, in pairs.
    void bufferedRangesChanged(const QList<double> &fractions);
    // How much of the duration can be played, as a fraction: below 1 for a file cut short.
    void playableExtentChanged(double fraction);
    // The status overlay's text; empty hides it.
    void statusTextChanged(const QString &text);
    void volumeChanged(float volume);
    // The picture should take the keyboard focus (playback started, a timecode was entered).
    void pictureFocusWanted();
    // The media object's player came (true) or is about to go (false).
    void playbackOutputChanged(bool available);
    // A frame of an image sequence to show.
    void frameReady(const QImage &image);
    void mediaLoaded();
    void mediaPrepared();
    void mediaReady();
    // The waveform data of an audio file are ready. Emitted from the asset's loading queue.
    void waveformDataReady();
    // Another file took the document's place (the next playlist item).
    void mediaReplaced();
    void titleChanged();
    // A view option or a menu's setting changed.
    void viewOptionsChanged();
    void menuStateChanged();
    // The scrubber moved the playhead to the fraction.
    void scrubbedTo(double fraction);
    // The timecode entry should open with the text (cursor after it), or close.
    void timecodeEntryRequested(const QString &text);
    void timecodeEntryDone();
    // The auxiliary windows hide (the document is closing).
    void subWindowsHideRequested();

private:
    // The media object's callbacks (BVDocument.cpp; main thread unless said).
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
    // Any thread: hands the image to the window (frameReady), the latest only.
    void drawFrame(const QImage &image) override;
    void updateBufferedRange() override;
    // Any thread: the window renders the waveform of an audio file on a background queue.
    void drawWaveformForAudioAssetAsync() override;

    // BVDocument.cpp, BVDocumentDisplay.cpp
    void startLoadingAsset(const QUrl &url, bool audioOnly);
    void replaceMediaObject(std::unique_ptr<BVMediaObject> media);
    // Logs the alert and hands it to the window, if any.
    void alert(const BVDocumentAlert &alert);
    // The text telling the user which numbers an image sequence lacks (frame index -> number),
    // ranges joined ("41-43, 57"); empty without gaps.
    static QString missingFramesText(const std::map<uint64_t, qulonglong> &missing);
    void syncPlayButton();
    void setTransportEnabled(bool enabled);
    void showStatusOverlay(const QString &text);
    void hideStatusOverlay();
    QString durationText() const;
    void setDurationField();
    double playableExtent() const;
    void reportPlayableExtent();
    void playAfterDelayIfWanted();
    void stopPlayback(bool quiet);
    void muteInBackground();
    void loadPlaybackPosition();
    void growlAlertClicked(const BVNotification &notification);
    // The pending seek of a cloud review or session, else the remembered position.
    void seekToStartPosition();
    int32_t finerTimescale(const MediaTime &time) const;
    void observeNotifications();

    // BVDocumentTransport.cpp
    void changeRateOnLadder(int direction);
    void jumpBySeconds(int seconds);
    void skipInPlaylist(int direction);
    void checkPlaybackRange();
    MediaTimeRange currentInOutRange() const;
    void updateInOutMarks();
    // The in and out points as fractions of the duration; -1 for none.
    std::pair<double, double> inOutFractions() const;
    // Builds the transport event of what just happened and tells the listeners.
    void transportEvent(BVTransportEvent::Kind kind);
    // Playback reached an end of the media: stop as a pause does, then EndOfMedia.
    void stopAtEnd();
    void clearPlaybackRange();
    // The next or previous playlist item replaces the one playing.
    void loadPlaylistItem(const QUrl &url);
    void setPowerAssertionHeld(bool held);

    std::unique_ptr<BVMediaObject> m_mediaObject;
    // The features' slots; never empty (a do-nothing default until one is installed).
    std::unique_ptr<BVDocumentMarkers> m_markers = std::make_unique<BVDocumentMarkers>();
    std::unique_ptr<BVDocumentAnnotations> m_annotations = std::make_unique<BVDocumentAnnotations>();
    std::unique_ptr<BVDocumentCloudReview> m_cloudReview = std::make_unique<BVDocumentCloudReview>();
    std::unique_ptr<BVDocumentSession> m_session = std::make_unique<BVDocumentSession>();
    std::unique_ptr<BVDocumentTimecodeOutput> m_timecodeOutput = std::make_unique<BVDocumentTimecodeOutput>();
    std::unique_ptr<BVDocumentExport> m_export = std::make_unique<BVDocumentExport>();
    QUrl m_fileURL;
    QString m_typeName;
    Playlist *m_playlist = nullptr;
    bool m_isUnloading = false;
    bool m_isLoaded = false;
    bool m_isReady = false;
    bool m_kPressed = false;
    float m_lastVolume = 1;
    bool m_shouldUnmuteOnFocus = false;
    MediaTime m_seekOnLoad = MediaTime::invalid();
    int64_t m_lastSyncedFrame = -1;
    bool m_toldEndsEarly = false; // the user heard that this media ends early
    QDateTime m_lastPlaybackPositionSyncDate;
    MediaTimeRange m_inOutRange {MediaTime(0, 0), MediaTime(0, 0)};
    MediaTime m_playbackResumePos = MediaTime::zero();
    std::unique_ptr<BVGangPlayback> m_gang;
    // The playing state last reported to the listeners (Play or Pause).
    bool m_reportedPlaying = false;
    bool m_scrubbing = false; // between beginScrubbing() and endScrubbing()
    bool m_powerHeld = false;
    bool m_observing = false;
    bool m_transportEnabled = false;
    bool m_toldMissingFrames = false; // an image sequence's gaps are reported once
    float m_volume = 1; // the volume slider's, applied to each new media object
    QList<double> m_lastBufferedRanges;
    // Shared with the queue that talks to the desktop's inhibit service.
    std::shared_ptr<BVPowerAssertion> m_powerAssertion;

    bool m_rangeEntered = false; // the playhead has been inside the playback range this pass
    std::unique_ptr<BVWorkQueue> m_loadQueue;
    std::mutex m_frameMutex; // guards the two members below (drawFrame from the render queue)
    QImage m_pendingFrame;
    bool m_framePostPending = false;
    // Lives as long as the document is not cleaned up; jobs queued to the main thread check it.
    BVLifetime m_lifetime;
    QSet<QString> m_postedClickContexts;
    static UserNotificationHandler s_userNotificationHandler;
    // The one document whose window is active, told by the windows; none while no player window is.
    static BVDocument *s_keyDocument;
};
