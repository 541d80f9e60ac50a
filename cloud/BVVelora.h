#pragma once

#include "cloud/BVVeloraDelegate.h"
#include "cloud/BVVeloraReply.h"
#include "cloud/BVWebSocketDelegate.h"
#include "net/BVHTTPRequestDelegate.h"
#include "support/BVError.h"
#include "support/BVLifetime.h"

#include <QDateTime>
#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

class BVHTTPRequest;
class BVWebSocket;
class BVWorkQueue;

// The client of the Velora cloud review service. Every owner that talks to the service has its
// own instance: it holds the signed-in user's login (loaded from the credential store and kept in
// step with the other instances through "BVVeloraUpdateSettings"), turns each operation into a
// POST against the service's API, runs the requests one at a time on its private serial queue and
// reports each outcome to its delegate on the main thread. It also uploads files and keeps the live
// comment channel of the file shown.
//
// Create, use and destroy it on the main thread; the operations may be called from any thread.
class BVVelora : public BVHTTPRequestDelegate, public BVHTTPUploadProgressDelegate, public BVWebSocketDelegate
{
public:
    // The two programs build the same client; they differ in how the login is stored, the
    // multipart boundary and the comment channel.
    enum class Program { Reelmark, Prefsync };

    static const QString errorDomain; // "BVVeloraErrorDomain"
    static const QString updateSettingsNotification; // "BVVeloraUpdateSettings"
    static const QString keychainService; // "com.brightvane.velora"
    // In the user information of "BVVeloraUpdateSettings" after a sign-out.
    static const QString signedOutKey;
    static QString boundary(Program program);

    // The program is the running one (from the main bundle) unless given.
    explicit BVVelora(BVVeloraDelegate *delegate = nullptr);
    BVVelora(Program program, BVVeloraDelegate *delegate);
    ~BVVelora() override;
    BVVelora(const BVVelora &) = delete;
    BVVelora &operator=(const BVVelora &) = delete;

    Program program() const { return m_program; }
    BVVeloraDelegate *delegate() const { return m_delegate.load(); }
    // Not owned: the owner clears it before it goes away.
    void setDelegate(BVVeloraDelegate *delegate) { m_delegate.store(delegate); }

    QString username() const;
    void setUsername(const QString &username);
    QString password() const;
    void setPassword(const QString &password);
    // Falls back to the user name when empty.
    QString name() const;
    void setName(const QString &name);
    bool veloServerEnabled() const;
    void setVeloServerEnabled(bool enabled);
    QString veloServerURLString() const;
    void setVeloServerURLString(const QString &address);
    const QString &sourceAppID() const { return m_sourceAppID; }
    bool shouldExpectAdditionalTasks() const { return m_shouldExpectAdditionalTasks.load(); }
    void setShouldExpectAdditionalTasks(bool on) { m_shouldExpectAdditionalTasks.store(on); }
    // The uploads in flight, oldest first: their parameters plus "file" (and "request").
    QList<QVariantMap> uploadQueue() const;
    bool hasCommentSocket() const;

    // Login.
    bool isLinked() const;
    bool validateUsernameAndPassword();
    bool authenticateWithUsername(const QString &username, const QString &password);
    void saveSettings();
    void loadSavedSettings();
    void revokeAuthorization();
    QString siteURLString() const;
    QString apiURLString() const;

    // Request primitives of the operations.
    void postURL(const QString &url, const QVariantMap &params, const QString &context);
    void postURL(const QString &url, const QVariantMap &params, const QByteArray &data,
        const QString &mimeType, const QString &filename, const QString &context);
    // A multipart POST streamed from disk through the HTTP layer (uploads to an own server).
    void postURL(const QString &url, const QVariantMap &params, const QString &file, const QString &mimeType,
        const QString &filename, const QString &context);
    void addRequestToQueue(const std::shared_ptr<BVHTTPRequest> &request, const QString &context);
    void cancelAllOperations();
    // Jobs queued or running.
    int operationCount() const;

    // The form body of a request: "&" + key + "=" + escaped value for each parameter.
    static QByteArray formBody(const QVariantMap &params);
    // The multipart body of a request with one file part.
    static QByteArray multipartBody(Program program, const QVariantMap &params, const QByteArray &data,
        const QString &mimeType, const QString &filename, QByteArray *textPart = nullptr);
    // A parameter value as sent: numbers as decimal text, flags as 1 or 0.
    static QString parameterText(const QVariant &value);

    // Utilities.
    static QString sha512(const QString &string);
    static QString sha1(const QString &string);
    // Characters of "abcdefghijklmnopqrstuvwxyz0123456789" drawn from the cryptographic source.
    static QString randomString(int count);
    static QString sanitizeFilename(const QString &filename);
    static QString sanitizeURLParameter(const QString &parameter);
    static QString fileMIMEType(const QString &path);
    static bool isMovieFile(const QString &path);
    static bool isAudioFile(const QString &path);
    static bool isImageFile(const QString &path);
    // Scales the image (a zero side follows the other by the aspect ratio) and encodes it in the
    // format ("jpg", "png", "tif" ...) with the compression factor (0 to 1).
    static QByteArray resizeImage(
        const QImage &image, int width, int height, const char *format, double factor);
    static void showAlertForError(const BVError &error);
    // The message of a cloud error: its "error" detail, else its description.
    static QString messageForError(const BVError &error);

    // Comment channel (Reelmark; prefsync's do nothing).
    void connectToCommentSocketForFileID(long fileID);
    void closeCommentSocket();

    // Operations.
    void populateProjects(bool privateStorage = false);
    bool createProject(const QString &title, const QString &description, const QString &client, long status);
    void populateDepartmentsForProjectID(long projectID);
    void populateVideoFilesForProjectID(long projectID, bool thumbnails = false, bool folders = false,
        const QString &parentFolder = QStringLiteral("/"), long departmentID = -1, bool showDepts = false,
        bool showCommentStreams = false);
    void populateAudioVideoFilesForProjectID(long projectID, bool thumbnails, bool folders,
        const QString &parentFolder, long departmentID, bool showDepts, bool showCommentStreams,
        const QVariantMap &settings = {});
    void populateFilesForProjectID(long projectID, bool thumbnails, bool folders, const QString &parentFolder,
        long departmentID, bool showDepts, const QString &appID);
    void populateFilesForApp(const QString &appID, const QString &folder);
    void populateFoldersForProjectID(
        long projectID, const QString &parentFolder, long departmentID, bool subfolders);
    void populateRevisionsForFile(long fileID, bool thumbnails);
    void populateAllEventsSinceDate(const std::optional<QDateTime> &date);
    void populateAllEvents() { populateAllEventsSinceDate(std::nullopt); }
    void createCommentStream(const QString &title, long projectID, long departmentID, const QString &folder,
        double fps, const QString &timecode, bool dropFrame);
    void getFile(long fileID);
    void removeFile(long fileID, const QString &appID);
    void generateURLForFileWithID(long fileID);
    void createFolder(const QString &name, long projectID, long departmentID);
    void createFolders(const QStringList &names, long projectID, long departmentID);
    void uploadThumbnailImage(const QImage &image, long fileID);
    void metadataForFile(long fileID);
    void setMetadata(const QVariantMap &metadata, long fileID);
    // Entries in "%@<=|=>%@" form, joined by "<=|=>".
    static QString metadataString(const QVariantMap &metadata);
    void approveFile(long fileID, const QString &comment = {});
    void rejectFile(long fileID, const QString &comment = {});
    void commentsForFileID(long fileID);
    void postComment(const QString &body, const QString &timecode, long fileID, int colorID = -1);
    void editComment(const QString &body, const QString &timecode, long commentID, int colorID = -1);
    void editComment(const QString &body, long commentID) { editComment(body, QString(), commentID, -1); }
    void removeComment(long commentID);
    void savePlaybackPosition(double seconds, long fileID);
    void setSyncIP(const QString &address);
    void getRemoteControlToken();
    void sessionsForProject(long projectID);
    void createSession(const QString &name, const QList<long> &participants, long projectID);
    void setFileID(long fileID, long sessionID);
    void removeSession(long sessionID);
    void usersForProject(long projectID);
    void relationshipsForFile(long fileID, const QStringList &types = {});
    void annotationWithID(long annotationID);
    void setAnnotation(const QString &annotation, long commentID);
    void removeAnnotationWithID(long annotationID);
    void canUploadToProject(long projectID);
    void checkUniqueProjectID(const QString &uniqueProjectID);

    // Uploads: the service registers the file once its bytes are stored.
    bool uploadFile(const QString &path, long projectID, const QString &parentFolder, const QString &title);
    bool uploadFile(
        const QString &path, const QString &appID, const QString &parentFolder, const QString &title);
    bool uploadFile(const QString &path, const QString &appID, const QString &parentFolder,
        const QString &title, const QDateTime &date);
    bool uploadFile(const QString &path, long projectID, const QString &parentFolder, long departmentID,
        const QString &title, const QString &description, double frameRate, const QString &timecodeStart,
        quint64 duration, bool autoRevise = false, const QStringList &linkEmails = {},
        bool allowComments = true, const QString &appID = {}, bool notifyUsers = true,
        const QVariantMap &settings = {});

    // Response handling: the reply of a request for the context, with its HTTP status (0 when
    // the connection failed; data null when nothing arrived).
    void processReturnedData(const QByteArray *data, const QString &context, int returnCode);
    void postSuccess(const QVariant &result, const QString &context);
    void postError(const BVError &error, const QString &context);

protected:
    // The HTTP layer's and the comment socket's callbacks (main thread).
    void requestFinished(BVHTTPRequest *request) override;
    void requestFailed(BVHTTPRequest *request) override;
    void requestDidSendBytes(BVHTTPRequest *request, qint64 bytes) override;
    void webSocketDidOpen(BVWebSocket *webSocket) override;
    void webSocketDidReceiveMessage(BVWebSocket *webSocket, const QVariant &message) override;
    void webSocketDidFailWithError(BVWebSocket *webSocket, const BVError &error) override;
    void webSocketDidCloseWithCode(
        BVWebSocket *webSocket, int code, const QString &reason, bool wasClean) override;

private:
    struct Upload
    {
        QVariantMap params;
        QString file;
        std::shared_ptr<BVHTTPRequest> request;
        bool ownServer = false;
        QString temporaryArchive;
    };
    struct QueueWatch;

    void init();
    void sendRequest(const std::shared_ptr<BVHTTPRequest> &request, const QString &context);
    void postSuccessOnMainThread(const QVariant &result, const QString &context);
    void postErrorOnMainThread(const BVError &error, const QString &context);
    void reportAuthenticationError();
    QVariantMap credentialParams(const QVariantMap &params) const;
    bool ownServerInUse() const;
    void post(const QString &path, const QVariantMap &params, const QString &context);
    void loadSavedSettingsReelmark(bool *migrated);
    void loadSavedSettingsPrefsync();
    bool loadCurrentForm();
    void saveDisplayName();
    void uploadToStorage(Upload upload);
    std::optional<Upload> takeUpload(BVHTTPRequest *request);
    QVariantMap uploadEntry(const Upload &upload) const;
    void removeTemporaryArchive(const Upload &upload);

    const Program m_program;
    std::atomic<BVVeloraDelegate *> m_delegate {nullptr};
    mutable std::mutex m_fieldsMutex;
    QString m_username;
    QString m_password;
    QString m_name;
    bool m_veloServerEnabled = false;
    QString m_veloServerURLString;
    QString m_sourceAppID;
    std::atomic<bool> m_shouldExpectAdditionalTasks {false};
    std::recursive_mutex m_loadMutex;

    std::unique_ptr<BVWorkQueue> m_queue;
    std::shared_ptr<QueueWatch> m_watch;
    // The request the queue's worker is waiting for, so a cancel can stop it at once.
    mutable std::mutex m_requestMutex;
    QList<std::shared_ptr<BVHTTPRequest>> m_requests;

    mutable std::mutex m_uploadMutex;
    QList<Upload> m_uploadQueue;

    std::shared_ptr<BVWebSocket> m_commentSocket;
    // Deliveries queued for the main thread hold a token of it: none runs after destruction.
    BVLifetime m_lifetime;
};
