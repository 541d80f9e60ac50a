// What the client sends for each operation, read byte for byte by a capture server, and which
// callback each reply reaches.
#include "VeloraTestSupport.h"

#include "common/BVTestSupport.h"
#include "net/BVTestHTTPServer.h"
#include "support/BVLog.h"

#include <QCryptographicHash>
#include <QImage>
#include <QRegularExpression>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <functional>

namespace {

using Params = QMap<QString, QString>;

const QString kUser = QStringLiteral("reviewer@example.com");
// Worked out apart from the client: the SHA-512 of the test password, in lower-case hex.
QString hashedPassword()
{
    return QString::fromLatin1(
        QCryptographicHash::hash(QByteArrayLiteral("s3cret pass"), QCryptographicHash::Sha512).toHex());
}

struct Operation
{
    const char *label;
    std::function<void(BVVelora &)> call;
    const char *path;
    Params params; // besides "username" and "password"
    const char *success;
    const char *failure;
};

QDateTime at1000()
{
    return QDateTime::fromSecsSinceEpoch(1000, QTimeZone::utc());
}

const QList<Operation> &operations()
{
    static const QList<Operation> table = {
        {"authenticate",
            [](BVVelora &v) { v.authenticateWithUsername(kUser, QStringLiteral("s3cret pass")); },
            "/authenticate", {}, "AuthorizationSuccessful", "AuthorizationFailedWithError"},
        {"projects, private", [](BVVelora &v) { v.populateProjects(true); }, "/projects",
            {{"privateStorage", "1"}}, "ProjectsReceived", "PopulateProjectsFailedWithError"},
        {"projects", [](BVVelora &v) { v.populateProjects(); }, "/projects", {{"privateStorage", "0"}},
            "ProjectsReceived", "PopulateProjectsFailedWithError"},
        {"create project", [](BVVelora &v) { v.createProject("Film", "About it", "Studio", 2); },
            "/projects/create",
            {{"title", "Film"}, {"status", "2"}, {"description", "About it"}, {"client", "Studio"}},
            "ProjectCreated", "CreateProjectFailedWithError"},
        {"departments", [](BVVelora &v) { v.populateDepartmentsForProjectID(7); }, "/projects/departments",
            {{"project_id", "7"}}, "DepartmentsReceived", "PopulateDepartmentsFailedWithError"},
        {"video files, thumbnails", [](BVVelora &v) { v.populateVideoFilesForProjectID(7, true); },
            "/projects/files/video", {{"project_id", "7"}, {"dept", "-1"}, {"thumbs", "1"}, {"parent", "/"}},
            "FilesReceived", "PopulateFilesFailedWithError"},
        {"video files, all flags",
            [](BVVelora &v) { v.populateVideoFilesForProjectID(7, true, true, "/Dailies", 3, true, true); },
            "/projects/files/video",
            {{"project_id", "7"}, {"dept", "3"}, {"thumbs", "1"}, {"folders", "1"}, {"parent", "/Dailies"},
                {"depts", "1"}, {"commentstreams", "1"}},
            "FilesReceived", "PopulateFilesFailedWithError"},
        {"audio and video files with settings",
            [](BVVelora &v) {
                v.populateAudioVideoFilesForProjectID(
                    7, true, true, "/", -1, true, false, {{"showLastPlaybackPos", "1"}});
            },
            "/projects/files/audiovideo",
            {{"project_id", "7"}, {"dept", "-1"}, {"thumbs", "1"}, {"folders", "1"}, {"parent", "/"},
                {"depts", "1"}, {"showLastPlaybackPos", "1"}},
            "FilesReceived", "PopulateFilesFailedWithError"},
        {"project files",
            [](BVVelora &v) { v.populateFilesForProjectID(7, false, true, "/x", 2, false, {}); },
            "/projects/files", {{"project_id", "7"}, {"dept", "2"}, {"folders", "1"}, {"parent", "/x"}},
            "FilesReceived", "PopulateFilesFailedWithError"},
        {"files of an app", [](BVVelora &v) { v.populateFilesForApp("Qm7Tz2VbNc4XrW9pLs3K", "/"); },
            "/apps/files",
            {{"project_id", "-1"}, {"dept", "-1"}, {"parent", "/"}, {"app_id", "Qm7Tz2VbNc4XrW9pLs3K"}},
            "FilesReceived", "PopulateFilesFailedWithError"},
        {"folders", [](BVVelora &v) { v.populateFoldersForProjectID(7, "/a", 2, true); }, "/projects/folders",
            {{"project_id", "7"}, {"dept", "2"}, {"subfolders", "1"}, {"parent", "/a"}}, "FoldersReceived",
            "PopulateFoldersFailedWithError"},
        {"revisions", [](BVVelora &v) { v.populateRevisionsForFile(12, true); }, "/projects/files/revisions",
            {{"file_id", "12"}, {"thumbs", "1"}}, "RevisionsReceived", "PopulateRevisionsFailedWithError"},
        {"events since", [](BVVelora &v) { v.populateAllEventsSinceDate(at1000()); }, "/projects/events",
            {{"since", "1001"}}, "EventsReceived", "PopulateEventsFailedWithError"},
        {"all events", [](BVVelora &v) { v.populateAllEvents(); }, "/projects/events", {}, "EventsReceived",
            "PopulateEventsFailedWithError"},
        {"comment stream",
            [](BVVelora &v) { v.createCommentStream("Stream", 7, 2, "/f", 23.976, "01:00:00;00", true); },
            "/commentstream/create",
            {{"project_id", "7"}, {"title", "Stream"}, {"frame_rate", "23.98"}, {"timecode", "01:00:00;00"},
                {"drop_frame", "1"}, {"dept_id", "2"}, {"folder", "/f"}},
            "CommentStreamCreated", "CreateCommentStreamFailedWithError"},
        {"file", [](BVVelora &v) { v.getFile(12); }, "/file", {{"file_id", "12"}}, "FileReceived",
            "FileFailedWithError"},
        {"remove file", [](BVVelora &v) { v.removeFile(12, "Qm7T"); }, "/apps/files/remove",
            {{"file_id", "12"}, {"app_id", "Qm7T"}}, "FileRemoved", "FileRemoveFailedWithError"},
        {"file address", [](BVVelora &v) { v.generateURLForFileWithID(12); }, "/files/url",
            {{"file_id", "12"}}, "FileURLReceived", "FileURLFailedWithError"},
        {"create folder", [](BVVelora &v) { v.createFolder("My+Folder", 7, 2); }, "/folders/create",
            {{"folder", "My Folder"}, {"dept", "2"}, {"project_id", "7"}}, "FoldersCreated",
            "CreateFoldersFailedWithError"},
        {"create folders",
            [](BVVelora &v) {
                v.createFolders({"a", "b c"}, 7, 2);
            },
            "/folders/create", {{"folder", "a;b c"}, {"dept", "2"}, {"project_id", "7"}}, "FoldersCreated",
            "CreateFoldersFailedWithError"},
        {"metadata", [](BVVelora &v) { v.metadataForFile(12); }, "/files/metadata", {{"file_id", "12"}},
            "MetadataReceived", "MetadataFailedWithError"},
        {"empty metadata", [](BVVelora &v) { v.setMetadata({}, 12); }, "/files/metadata",
            {{"file_id", "12"}, {"metadata", ""}}, "MetadataReceived", "MetadataFailedWithError"},
        {"two metadata entries",
            [](BVVelora &v) {
                v.setMetadata({{"Title", "A"}, {"description", "B"}}, 12);
            },
            "/files/metadata", {{"file_id", "12"}, {"metadata", "Title<=|=>A<=|=>description<=|=>B"}},
            "MetadataReceived", "MetadataFailedWithError"},
        {"approve", [](BVVelora &v) { v.approveFile(12, "Good"); }, "/files/approve",
            {{"file_id", "12"}, {"comment", "Good"}}, "FileApproved", "FileApprovalFailedWithError"},
        {"approve without comment", [](BVVelora &v) { v.approveFile(12); }, "/files/approve",
            {{"file_id", "12"}}, "FileApproved", "FileApprovalFailedWithError"},
        {"reject", [](BVVelora &v) { v.rejectFile(12, "No"); }, "/files/reject",
            {{"file_id", "12"}, {"comment", "No"}}, "FileRejected", "FileRejectionFailedWithError"},
        {"comments", [](BVVelora &v) { v.commentsForFileID(12); }, "/comments", {{"file_id", "12"}},
            "CommentsReceived", "CommentsFailedWithError"},
        {"comment without colour", [](BVVelora &v) { v.postComment("Nice", "01:00:00:10", 12); },
            "/comments/create", {{"file_id", "12"}, {"body", "Nice"}, {"timecode", "01:00:00:10"}},
            "CommentCreated", "CreateCommentFailedWithError"},
        {"comment of colour 0", [](BVVelora &v) { v.postComment("Nice", "01:00:00:10", 12, 0); },
            "/comments/create",
            {{"file_id", "12"}, {"body", "Nice"}, {"timecode", "01:00:00:10"}, {"color", "0"}},
            "CommentCreated", "CreateCommentFailedWithError"},
        {"edit comment", [](BVVelora &v) { v.editComment("B", "01:00:00:00", 5, 3); }, "/comments/edit",
            {{"comment_id", "5"}, {"body", "B"}, {"timecode", "01:00:00:00"}, {"color", "3"}},
            "CommentEdited", "EditCommentFailedWithError"},
        {"edit comment text", [](BVVelora &v) { v.editComment("B", 5); }, "/comments/edit",
            {{"comment_id", "5"}, {"body", "B"}}, "CommentEdited", "EditCommentFailedWithError"},
        {"remove comment", [](BVVelora &v) { v.removeComment(5); }, "/comments/remove", {{"comment_id", "5"}},
            "CommentRemoved", "RemoveCommentFailedWithError"},
        {"playback position", [](BVVelora &v) { v.savePlaybackPosition(12.5, 12); }, "/files/playbackpos",
            {{"position", "12.500000"}, {"file_id", "12"}}, "PlaybackPositionUpdated",
            "PlaybackPositionFailedWithError"},
        {"sync address", [](BVVelora &v) { v.setSyncIP("192.0.2.7"); }, "/sync/localip",
            {{"ip", "192.0.2.7"}}, "SyncIPSet", "SetSyncIPFailedWithError"},
        {"remote token", [](BVVelora &v) { v.getRemoteControlToken(); }, "/remote/token", {},
            "RemoteTokenReceived", "RemoteTokenFailedWithError"},
        {"sessions", [](BVVelora &v) { v.sessionsForProject(7); }, "/sessions", {{"project_id", "7"}},
            "SessionsReceived", "SessionsFailedWithError"},
        {"create session",
            [](BVVelora &v) {
                v.createSession("Review", {3, 4}, 7);
            },
            "/sessions/create", {{"name", "Review"}, {"participants", "3,4"}, {"project_id", "7"}},
            "SessionCreated", "SessionCreationFailedWithError"},
        {"session file", [](BVVelora &v) { v.setFileID(12, 9); }, "/sessions/fileid",
            {{"file_id", "12"}, {"session_id", "9"}}, "SessionFileIDSet", "SessionFileIDFailedWithError"},
        {"remove session", [](BVVelora &v) { v.removeSession(9); }, "/sessions/remove", {{"id", "9"}},
            "SessionRemoved", "SessionRemovalFailedWithError"},
        {"users", [](BVVelora &v) { v.usersForProject(7); }, "/users", {{"project_id", "7"}}, "UsersReceived",
            "UsersFailedWithError"},
        {"relationships", [](BVVelora &v) { v.relationshipsForFile(12); }, "/relationships",
            {{"file_id", "12"}}, "RelationshipsReceived", "RelationshipsFailedWithError"},
        {"relationships of types",
            [](BVVelora &v) {
                v.relationshipsForFile(12, {"version", "proxy"});
            },
            "/relationships", {{"file_id", "12"}, {"linktypes", "version,proxy"}}, "RelationshipsReceived",
            "RelationshipsFailedWithError"},
        {"annotation", [](BVVelora &v) { v.annotationWithID(4); }, "/annotation", {{"annotation_id", "4"}},
            "AnnotationReceived", "AnnotationFailedWithError"},
        {"set annotation", [](BVVelora &v) { v.setAnnotation("<svg/>", 5); }, "/annotation",
            {{"comment_id", "5"}, {"data", "<svg/>"}}, "AnnotationReceived", "AnnotationFailedWithError"},
        {"remove annotation", [](BVVelora &v) { v.removeAnnotationWithID(4); }, "/annotation/remove",
            {{"annotation_id", "4"}}, "AnnotationRemoved", "RemoveAnnotationFailedWithError"},
        {"can upload", [](BVVelora &v) { v.canUploadToProject(7); }, "/files/canupload",
            {{"project_id", "7"}}, "CanUpload", "CannotUploadWithError"},
        {"unique project id", [](BVVelora &v) { v.checkUniqueProjectID("ABC-1"); }, "/uniqueprojectid",
            {{"unique_project_id", "ABC-1"}}, "UniqueProjectID", "UniqueProjectIDFailedWithError"},
    };
    return table;
}

class VeloraRequests : public ::testing::Test
{
protected:
    void SetUp() override
    {
        server.setHandler([this](const BVTestHTTPServer::Request &) {
            BVTestHTTPServer::Reply reply;
            reply.status = replyStatus;
            reply.body = replyBody;
            return reply;
        });
        velora = VeloraTest::signedInClient(QString::fromLatin1(server.baseURL()), &delegate);
    }
    void TearDown() override
    {
        velora->setDelegate(nullptr);
        velora.reset();
    }

    BVTestHTTPServer server;
    RecordingDelegate delegate;
    std::unique_ptr<BVVelora> velora;
    int replyStatus = 200;
    QByteArray replyBody = "{\"ok\":1}";
};

} // namespace

TEST_F(VeloraRequests, EachOperationPostsItsParametersAndReachesItsCallbacks)
{
    for (const Operation &operation : operations()) {
        SCOPED_TRACE(operation.label);
        for (const bool failing : {false, true}) {
            delegate.calls.clear();
            const qsizetype before = server.requests().size();
            replyBody = failing ? "{\"error\":\"Refused by the test\"}" : "{\"ok\":1}";
            operation.call(*velora);
            ASSERT_TRUE(delegate.waitForCalls(1));
            ASSERT_EQ(server.requests().size(), before + 1);
            const BVTestHTTPServer::Request &request = server.requests().last();
            EXPECT_EQ(request.method, "POST");
            EXPECT_EQ(request.target, "/api/0" + QByteArray(operation.path));
            EXPECT_TRUE(request.body.startsWith('&'));
            Params expected = operation.params;
            expected.insert(QStringLiteral("username"), kUser);
            expected.insert(QStringLiteral("password"), hashedPassword());
            EXPECT_EQ(VeloraTest::formPairs(request.body), expected) << request.body.toStdString();
            const VeloraCall &call = delegate.calls.first();
            if (failing) {
                EXPECT_EQ(call.name, QString::fromLatin1(operation.failure));
                EXPECT_EQ(BVVelora::messageForError(call.error), QStringLiteral("Refused by the test"));
                EXPECT_EQ(call.error.domain(), QStringLiteral("BVVeloraErrorDomain"));
            } else {
                EXPECT_EQ(call.name, QString::fromLatin1(operation.success));
                EXPECT_EQ(call.result.toMap().value(QStringLiteral("ok")).toInt(), 1);
            }
        }
    }
}

TEST_F(VeloraRequests, SignedOutEachOperationReportsOnceAndSendsNothing)
{
    velora->setPassword(QString());
    for (const Operation &operation : operations()) {
        if (QByteArray(operation.label) == "authenticate")
            continue; // it signs in: the empty login is below
        SCOPED_TRACE(operation.label);
        delegate.calls.clear();
        operation.call(*velora);
        ASSERT_TRUE(BVTest::waitFor([&] { return !delegate.calls.isEmpty(); }));
        ASSERT_EQ(delegate.names(), QStringList {QStringLiteral("AuthorizationFailed")});
        EXPECT_EQ(delegate.last().error.code(), 403);
        EXPECT_EQ(
            BVVelora::messageForError(delegate.last().error), QStringLiteral("Invalid username or password"));
    }
    delegate.calls.clear();
    EXPECT_FALSE(velora->authenticateWithUsername(kUser, QString()));
    ASSERT_TRUE(BVTest::waitFor([&] { return !delegate.calls.isEmpty(); }));
    EXPECT_EQ(delegate.names(), QStringList {QStringLiteral("AuthorizationFailed")});
    delegate.calls.clear();
    EXPECT_FALSE(velora->uploadFile(BV_SOURCE_DIR "/CMakeLists.txt", 7, "/", "Build"));
    ASSERT_TRUE(BVTest::waitFor([&] { return !delegate.calls.isEmpty(); }));
    // Nor a second report nor any request may follow: a fixed time, since nothing must come.
    BVTest::spin(std::chrono::milliseconds(30));
    EXPECT_EQ(delegate.names(), QStringList {QStringLiteral("AuthorizationFailed")});
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(VeloraRequests, FormBodyEscapesSeparatorsAndSpaces)
{
    velora->postComment(QStringLiteral("x&y=z?"), QStringLiteral("a b+c\"<>%"), 12);
    ASSERT_TRUE(delegate.waitForCalls(1));
    const QByteArray body = server.requests().last().body;
    EXPECT_TRUE(body.contains("&body=x%26y%3Dz%3F")) << body.toStdString();
    EXPECT_TRUE(body.contains("&timecode=a%20b%2Bc%22%3C%3E%25")) << body.toStdString();
    EXPECT_TRUE(body.contains("&file_id=12"));
    EXPECT_EQ(server.requests().last().headers.value("content-type"), "application/x-www-form-urlencoded");
}

TEST(VeloraAddresses, OwnServerWithOrWithoutTrailingSlashGivesOneApiBase)
{
    RecordingDelegate delegate;
    for (const char *site : {"http://velora.example.org/sub", "http://velora.example.org/sub/"}) {
        auto velora = VeloraTest::signedInClient(QString::fromLatin1(site), &delegate);
        EXPECT_EQ(velora->siteURLString(), QStringLiteral("http://velora.example.org/sub"));
        EXPECT_EQ(velora->apiURLString(), QStringLiteral("http://velora.example.org/sub/api/0"));
        velora->setVeloServerEnabled(false);
        EXPECT_TRUE(velora->apiURLString().startsWith(QStringLiteral("https://")));
        EXPECT_TRUE(velora->apiURLString().endsWith(QStringLiteral("/api/0")));
    }
}

TEST_F(VeloraRequests, CreateProjectWithoutTitleSendsNothing)
{
    EXPECT_FALSE(velora->createProject(QString(), QStringLiteral("d"), QString(), 1));
    // No request may go out: a fixed time, since the check is that nothing comes.
    BVTest::spin(std::chrono::milliseconds(50));
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_TRUE(delegate.calls.isEmpty());
}

// The thumbnail is the one multipart form request of the catalogue: checked against the body as
// each program writes it.
TEST_F(VeloraRequests, ThumbnailGoesAsMultipartJpegOf120PixelsWithEachProgramsBoundary)
{
    QImage image(480, 270, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    for (const BVVelora::Program program : {BVVelora::Program::Reelmark, BVVelora::Program::Prefsync}) {
        RecordingDelegate thumbDelegate;
        auto client
            = VeloraTest::signedInClient(QString::fromLatin1(server.baseURL()), &thumbDelegate, program);
        const qsizetype before = server.requests().size();
        client->uploadThumbnailImage(image, 12);
        ASSERT_TRUE(thumbDelegate.waitForCalls(1));
        ASSERT_EQ(server.requests().size(), before + 1);
        EXPECT_EQ(thumbDelegate.last().name, QStringLiteral("ThumbnailUploadSuccessful"));
        const BVTestHTTPServer::Request &request = server.requests().last();
        EXPECT_EQ(request.target, "/api/0/files/thumb");
        const QByteArray boundary = program == BVVelora::Program::Reelmark ? QByteArray("axhTsLbOxNzArUD")
                                                                           : QByteArray("xKhTmLbOuNdArY");
        EXPECT_EQ(request.headers.value("content-type"), "multipart/form-data; boundary=" + boundary);

        const QByteArray &body = request.body;
        const qsizetype nameAt = body.indexOf("filename=\"") + 10;
        const QByteArray filename = body.mid(nameAt, body.indexOf('"', nameAt) - nameAt);
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^[a-z0-9]{32}\\.jpg$"))
                        .match(QString::fromLatin1(filename))
                        .hasMatch())
            << filename.toStdString();
        const QByteArray head = (program == BVVelora::Program::Prefsync ? QByteArray("\r\n") : QByteArray())
            + "--" + boundary + "\r\n" + "Content-Disposition: form-data; name=\"file_id\"\r\n\r\n12\r\n--"
            + boundary + "\r\n" + "Content-Disposition: form-data; name=\"password\"\r\n\r\n"
            + hashedPassword().toLatin1() + "\r\n--" + boundary + "\r\n"
            + "Content-Disposition: form-data; name=\"username\"\r\n\r\n" + kUser.toLatin1() + "\r\n--"
            + boundary + "\r\n" + "Content-Disposition: form-data; name=\"file\"; filename=\"" + filename
            + "\"\r\nContent-Type: image/jpeg\r\nContent-Transfer-Encoding: binary\r\n\r\n";
        const QByteArray tail = "\r\n--" + boundary + "--\r\n";
        ASSERT_TRUE(body.startsWith(head)) << body.left(head.size()).toStdString();
        ASSERT_TRUE(body.endsWith(tail));
        const QImage sent
            = QImage::fromData(body.mid(head.size(), body.size() - head.size() - tail.size()), "JPEG");
        EXPECT_EQ(sent.width(), 120);
        EXPECT_EQ(sent.height(), 68);
        client->setDelegate(nullptr);
    }
}

// Signing in and the multipart form write their lines to the log file, which names neither the user
// nor the hash of the password.
TEST_F(VeloraRequests, TheLogNamesNeitherTheUserNorThePasswordHash)
{
    BVLog::createNewLog();
    velora->authenticateWithUsername(kUser, QStringLiteral("s3cret pass"));
    ASSERT_TRUE(delegate.waitForCalls(1));
    QImage image(160, 90, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    velora->uploadThumbnailImage(image, 12);
    ASSERT_TRUE(delegate.waitForCalls(2));
    ASSERT_EQ(server.requests().size(), 2);
    // The requests did carry both, so the log had them to show.
    EXPECT_TRUE(server.requests().at(1).body.contains(hashedPassword().toLatin1()));
    BVLog::finishWriting();
    const QString log = QString::fromUtf8(BVTest::readFile(BVLog::sharedController()->currentLogPath()));
    EXPECT_TRUE(log.contains(QStringLiteral("params: "))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("name=\"file_id\""))) << log.toStdString();
    EXPECT_FALSE(log.contains(kUser)) << log.toStdString();
    EXPECT_FALSE(log.contains(hashedPassword())) << log.toStdString();
    EXPECT_FALSE(log.contains(hashedPassword().left(16))) << log.toStdString();
}

TEST_F(VeloraRequests, ProcessingFinishedFollowsTheLastRequest)
{
    velora->getFile(1);
    velora->getFile(2);
    ASSERT_TRUE(delegate.waitForCalls(2));
    ASSERT_TRUE(BVTest::waitFor([&] { return delegate.processingFinished >= 1; }));
    EXPECT_EQ(VeloraTest::formPairs(server.requests().at(0).body).value(QStringLiteral("file_id")),
        QStringLiteral("1"));
    EXPECT_EQ(VeloraTest::formPairs(server.requests().at(1).body).value(QStringLiteral("file_id")),
        QStringLiteral("2"));
    velora->setShouldExpectAdditionalTasks(true);
    const int finished = delegate.processingFinished;
    velora->getFile(3);
    ASSERT_TRUE(delegate.waitForCalls(3));
    // No "processing finished" may follow: a fixed time, since the check is that nothing comes.
    BVTest::spin(std::chrono::milliseconds(50));
    EXPECT_EQ(delegate.processingFinished, finished);
}
