// The client against the reference server started on 127.0.0.1: what each operation does there.
#include "VeloraTestSupport.h"

#include "common/BVTestSupport.h"
#include "net/BVHTTPRequest.h"
#include "net/BVS3Request.h"
#include "support/BVFormat.h"

#include <QDir>
#include <QImage>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <functional>

namespace {

class VeloraService : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The server is part of this tree: a server that does not start is a failure, not a skip.
        QString failure;
        ASSERT_TRUE(server.start(&failure)) << failure.toStdString();
        velora = client(&delegate);
    }
    void TearDown() override
    {
        if (velora)
            velora->setDelegate(nullptr);
        velora.reset();
    }

    std::unique_ptr<BVVelora> client(BVVeloraDelegate *d)
    {
        auto v = std::make_unique<BVVelora>(BVVelora::Program::Reelmark, d);
        v->setUsername(server.adminUser());
        v->setPassword(server.adminPassword());
        v->setVeloServerEnabled(true);
        v->setVeloServerURLString(server.siteURL() + QLatin1Char('/'));
        return v;
    }

    // Runs the operation and answers the first callback it leads to.
    VeloraCall run(const std::function<void()> &operation, RecordingDelegate *d = nullptr)
    {
        RecordingDelegate &target = d ? *d : delegate;
        target.calls.clear();
        operation();
        // Progress reports of an upload come before its outcome.
        const auto outcome = [&]() -> const VeloraCall * {
            for (const VeloraCall &call : target.calls) {
                if (call.name != QLatin1String("DidUploadBytes"))
                    return &call;
            }
            return nullptr;
        };
        EXPECT_TRUE(BVTest::waitFor([&] { return outcome() != nullptr; }, std::chrono::seconds(20)));
        return outcome() ? *outcome() : VeloraCall();
    }
    QVariantMap ok(const VeloraCall &call, const char *name)
    {
        EXPECT_EQ(call.name, QString::fromLatin1(name))
            << BVVelora::messageForError(call.error).toStdString();
        return call.result.toMap();
    }
    QVariantList okList(const VeloraCall &call, const char *name)
    {
        EXPECT_EQ(call.name, QString::fromLatin1(name))
            << BVVelora::messageForError(call.error).toStdString();
        return call.result.toList();
    }
    static QVariantMap byTitle(const QVariantList &items, const QString &title)
    {
        for (const QVariant &item : items) {
            if (item.toMap().value(QStringLiteral("title")).toString() == title)
                return item.toMap();
        }
        return {};
    }
    QString sample(const QString &name, int size)
    {
        const QString path = BVTest::makeTempFolder() + QLatin1Char('/') + name;
        QByteArray data(size, 'v');
        for (int i = 0; i < size; i += 101)
            data[i] = char(i & 0x7F);
        BVTest::writeFile(path, data);
        return path;
    }

    VeloraTest::VeloraServer server;
    RecordingDelegate delegate;
    std::unique_ptr<BVVelora> velora;
};

QByteArray download(const QString &url)
{
    auto request = BVHTTPRequest::requestWithURL(QUrl(url));
    request->setTimeOutSeconds(30);
    request->startSynchronous();
    return request->error().isNull() ? request->responseData() : QByteArray();
}

} // namespace

TEST_F(VeloraService, CatalogueReviewAndSessionsRoundTrip)
{
    QVariantMap reply
        = ok(run([&] { velora->authenticateWithUsername(server.adminUser(), server.adminPassword()); }),
            "AuthorizationSuccessful");
    EXPECT_EQ(reply.value(QStringLiteral("name")).toString(), velora->name());

    const QVariantMap project
        = ok(run([&] { velora->createProject("Feature", "A film", "Studio", 1); }), "ProjectCreated");
    const long projectID = project.value(QStringLiteral("id")).toLongLong();
    ASSERT_GT(projectID, 0);
    QVariantList projects = okList(run([&] { velora->populateProjects(true); }), "ProjectsReceived");
    EXPECT_FALSE(byTitle(projects, QStringLiteral("Feature")).isEmpty());
    EXPECT_FALSE(byTitle(projects, QStringLiteral("Private Storage")).isEmpty());
    projects = okList(run([&] { velora->populateProjects(); }), "ProjectsReceived");
    EXPECT_TRUE(byTitle(projects, QStringLiteral("Private Storage")).isEmpty());
    okList(run([&] { velora->populateDepartmentsForProjectID(projectID); }), "DepartmentsReceived");
    ok(run([&] { velora->checkUniqueProjectID("FEAT-1"); }), "UniqueProjectID");
    ok(run([&] { velora->canUploadToProject(projectID); }), "CanUpload");

    run([&] { velora->createFolder("Day+1", projectID, -1); });
    EXPECT_EQ(delegate.calls.last().name, QStringLiteral("FoldersCreated"));
    run([&] { velora->createFolders({"Day 2", "Day 3"}, projectID, -1); });
    EXPECT_EQ(delegate.calls.last().name, QStringLiteral("FoldersCreated"));
    const QVariantList folders = okList(
        run([&] { velora->populateFoldersForProjectID(projectID, "/", -1, true); }), "FoldersReceived");
    EXPECT_FALSE(byTitle(folders, QStringLiteral("Day 1")).isEmpty());
    EXPECT_FALSE(byTitle(folders, QStringLiteral("Day 3")).isEmpty());

    // An own-server upload: streamed multipart.
    const QString movie = sample(QStringLiteral("take1.mov"), 200000);
    const QVariantMap uploaded = ok(run([&] {
        velora->uploadFile(movie, projectID, "/", -1, "Take 1", "First take", 24, "01:00:00:00", 48);
    }),
        "FileUploaded");
    const long fileID = uploaded.value(QStringLiteral("id")).toLongLong();
    ASSERT_GT(fileID, 0);
    EXPECT_FALSE(delegate.named(QStringLiteral("DidUploadBytes")).isEmpty());

    for (const auto &list : QList<std::function<void()>> {
             [&] { velora->populateVideoFilesForProjectID(projectID, true); },
             [&] {
                 velora->populateAudioVideoFilesForProjectID(
                     projectID, true, true, "/", -1, true, false, {{"showLastPlaybackPos", "1"}});
             },
             [&] { velora->populateFilesForProjectID(projectID, false, false, "/", -1, false, {}); },
         }) {
        const QVariantMap file = byTitle(okList(run(list), "FilesReceived"), QStringLiteral("Take 1"));
        EXPECT_EQ(file.value(QStringLiteral("id")).toLongLong(), fileID);
    }
    const QVariantMap record = ok(run([&] { velora->getFile(fileID); }), "FileReceived");
    EXPECT_EQ(record.value(QStringLiteral("title")).toString(), QStringLiteral("Take 1"));
    const QVariantMap address = ok(run([&] { velora->generateURLForFileWithID(fileID); }), "FileURLReceived");
    EXPECT_EQ(address.value(QStringLiteral("timecode")).toString(), QStringLiteral("01:00:00:00"));
    EXPECT_EQ(download(address.value(QStringLiteral("url")).toString()), BVTest::readFile(movie));
    okList(run([&] { velora->populateRevisionsForFile(fileID, true); }), "RevisionsReceived");
    run([&] { velora->relationshipsForFile(fileID); });
    EXPECT_EQ(delegate.calls.last().name, QStringLiteral("RelationshipsReceived"));

    QImage thumbnail(320, 180, QImage::Format_RGB32);
    thumbnail.fill(Qt::red);
    ok(run([&] { velora->uploadThumbnailImage(thumbnail, fileID); }), "ThumbnailUploadSuccessful");

    ok(run([&] {
        velora->setMetadata({{"Title", "Take one"}, {"description", "Wide"}}, fileID);
    }),
        "MetadataReceived");
    run([&] { velora->metadataForFile(fileID); });
    EXPECT_EQ(delegate.calls.last().name, QStringLiteral("MetadataReceived"));
    EXPECT_TRUE(BVFormat::describe(delegate.last().result).contains(QStringLiteral("Wide")));

    // Comments, their annotations and the approvals.
    const QVariantMap comment = ok(
        run([&] { velora->postComment("Too dark & noisy", "01:00:00:12", fileID, 2); }), "CommentCreated");
    const long commentID = comment.value(QStringLiteral("id")).toLongLong();
    ASSERT_GT(commentID, 0);
    ok(run([&] { velora->postComment("No colour", "01:00:00:13", fileID); }), "CommentCreated");
    ok(run([&] { velora->editComment("Too dark", "01:00:00:14", commentID, 5); }), "CommentEdited");
    QVariantList comments = okList(run([&] { velora->commentsForFileID(fileID); }), "CommentsReceived");
    ASSERT_EQ(comments.size(), 2);
    EXPECT_EQ(comments.first().toMap().value(QStringLiteral("body")).toString(), QStringLiteral("Too dark"));
    EXPECT_EQ(
        comments.first().toMap().value(QStringLiteral("position")).toString(), QStringLiteral("01:00:00:14"));
    EXPECT_EQ(comments.first().toMap().value(QStringLiteral("color")).toInt(), 5);
    const QVariantMap annotation
        = ok(run([&] { velora->setAnnotation("<svg><path d=\"M0 0L1 1\"/></svg>", commentID); }),
            "AnnotationReceived");
    const long annotationID = annotation.value(QStringLiteral("annotation_id")).toLongLong();
    EXPECT_EQ(ok(run([&] { velora->annotationWithID(annotationID); }), "AnnotationReceived")
                  .value("data")
                  .toString(),
        QStringLiteral("<svg><path d=\"M0 0L1 1\"/></svg>"));
    ok(run([&] { velora->removeAnnotationWithID(annotationID); }), "AnnotationRemoved");
    ok(run([&] { velora->removeComment(commentID); }), "CommentRemoved");
    comments = okList(run([&] { velora->commentsForFileID(fileID); }), "CommentsReceived");
    EXPECT_EQ(comments.size(), 1);
    run([&] { velora->approveFile(fileID, "Looks good"); });
    EXPECT_EQ(delegate.calls.last().name, QStringLiteral("FileApproved"));
    run([&] { velora->rejectFile(fileID); });
    EXPECT_EQ(delegate.calls.last().name, QStringLiteral("FileRejected"));
    run([&] { velora->savePlaybackPosition(2.5, fileID); });
    EXPECT_EQ(delegate.calls.last().name, QStringLiteral("PlaybackPositionUpdated"));
    run([&] { velora->populateAllEventsSinceDate(QDateTime::fromSecsSinceEpoch(1000, QTimeZone::utc())); });
    EXPECT_EQ(delegate.calls.last().name, QStringLiteral("EventsReceived"));
    EXPECT_FALSE(delegate.last().result.toList().isEmpty());
    run([&] { velora->createCommentStream("Live", projectID, -1, "/", 25, "10:00:00:00", false); });
    EXPECT_EQ(delegate.calls.last().name, QStringLiteral("CommentStreamCreated"));

    // Sessions.
    // The other members of the project: none besides its creator until the administrator adds one
    // (administration is no operation of the client; its replies are read through the "file" route).
    EXPECT_TRUE(okList(run([&] { velora->usersForProject(projectID); }), "UsersReceived").isEmpty());
    const QVariantMap colleague = ok(run([&] {
        velora->postURL(velora->apiURLString() + "/admin/users/create",
            {{"email", "colourist@example.com"}, {"first_name", "Cole"}, {"last_name", "Rist"}}, "file");
    }),
        "FileReceived");
    const long colleagueID = colleague.value(QStringLiteral("id")).toLongLong();
    ok(run([&] {
        velora->postURL(velora->apiURLString() + "/admin/projects/members/add",
            {{"project_id", QString::number(projectID)}, {"user_id", QString::number(colleagueID)}}, "file");
    }),
        "FileReceived");
    const QVariantList users = okList(run([&] { velora->usersForProject(projectID); }), "UsersReceived");
    ASSERT_EQ(users.size(), 1);
    EXPECT_EQ(users.first().toMap().value(QStringLiteral("first_name")).toString(), QStringLiteral("Cole"));
    const QVariantMap session
        = ok(run([&] { velora->createSession("Review", {colleagueID}, projectID); }), "SessionCreated");
    const long sessionID = session.value(QStringLiteral("id")).toLongLong();
    ok(run([&] { velora->setFileID(fileID, sessionID); }), "SessionFileIDSet");
    const QVariantMap listed
        = byTitle(okList(run([&] { velora->sessionsForProject(projectID); }), "SessionsReceived"),
            QStringLiteral("Review"));
    EXPECT_EQ(listed.value(QStringLiteral("current_file_id")).toLongLong(), fileID);
    ok(run([&] { velora->removeSession(sessionID); }), "SessionRemoved");
    run([&] { velora->setSyncIP("127.0.0.1"); });
    EXPECT_EQ(delegate.calls.last().name, QStringLiteral("SyncIPSet"));
    run([&] { velora->getRemoteControlToken(); });
    EXPECT_EQ(delegate.calls.last().name, QStringLiteral("RemoteTokenReceived"));
}

TEST_F(VeloraService, ServerRefusalsReachTheFailureCallbacks)
{
    velora->setPassword(QStringLiteral("wrong password"));
    VeloraCall call = run([&] { velora->authenticateWithUsername(server.adminUser(), "wrong password"); });
    EXPECT_EQ(call.name, QStringLiteral("AuthorizationFailedWithError"));
    EXPECT_FALSE(BVVelora::messageForError(call.error).isEmpty());
    velora->setPassword(server.adminPassword());
    call = run([&] { velora->getFile(987654); });
    EXPECT_EQ(call.name, QStringLiteral("FileFailedWithError"));
    EXPECT_FALSE(BVVelora::messageForError(call.error).isEmpty());
    call = run([&] { velora->createProject("  ", {}, {}, 0); });
    EXPECT_EQ(call.name, QStringLiteral("CreateProjectFailedWithError"));
}

TEST_F(VeloraService, PublicServiceUploadStoresThenRegistersAndComesBackForTheApp)
{
    qputenv("VELORA_SITE_URL", server.siteURL().toUtf8());
    qputenv("VELORA_STORAGE_ACCESS_KEY_ID", "AKTESTSTORAGEKEY0001");
    qputenv("VELORA_STORAGE_SECRET_ACCESS_KEY", "testsecretkeytestsecretkeytestsecretkey0");
    qputenv("VELORA_STORAGE_HOST", "localhost:" + QByteArray::number(server.port()));
    qputenv("VELORA_STORAGE_SCHEME", "http");
    RecordingDelegate d;
    auto prefsync = std::make_unique<BVVelora>(BVVelora::Program::Prefsync, &d);
    prefsync->setUsername(server.adminUser());
    prefsync->setPassword(server.adminPassword());
    const QString prefs = sample(QStringLiteral("com.brightvane.Reelmark.plist"), 4000);
    const QString app = QStringLiteral("Qm7Tz2VbNc4XrW9pLs3K");
    const QVariantMap uploaded
        = ok(run([&] { prefsync->uploadFile(prefs, app, "/", "Reelmark"); }, &d), "FileUploaded");
    EXPECT_GT(uploaded.value(QStringLiteral("id")).toLongLong(), 0);
    const QVariantMap file
        = byTitle(okList(run([&] { prefsync->populateFilesForApp(app, "/"); }, &d), "FilesReceived"),
            QStringLiteral("Reelmark"));
    ASSERT_FALSE(file.isEmpty());
    const QVariantMap address
        = ok(run([&] { prefsync->generateURLForFileWithID(file.value("id").toLongLong()); }, &d),
            "FileURLReceived");
    EXPECT_EQ(download(address.value(QStringLiteral("url")).toString()), BVTest::readFile(prefs));
    ok(run([&] { prefsync->removeFile(file.value("id").toLongLong(), app); }, &d), "FileRemoved");
    EXPECT_TRUE(byTitle(okList(run([&] { prefsync->populateFilesForApp(app, "/"); }, &d), "FilesReceived"),
        QStringLiteral("Reelmark"))
                    .isEmpty());
    prefsync->setDelegate(nullptr);
    for (const char *name : {"VELORA_SITE_URL", "VELORA_STORAGE_ACCESS_KEY_ID",
             "VELORA_STORAGE_SECRET_ACCESS_KEY", "VELORA_STORAGE_HOST", "VELORA_STORAGE_SCHEME"})
        qunsetenv(name);
    BVS3Request::setS3Host(QStringLiteral("s3.amazonaws.com"));
}

TEST_F(VeloraService, FolderUploadArrivesAsOneArchive)
{
    const QVariantMap project
        = ok(run([&] { velora->createProject("Stills", {}, {}, 1); }), "ProjectCreated");
    const long projectID = project.value(QStringLiteral("id")).toLongLong();
    const QString folder = BVTest::makeTempFolder() + QStringLiteral("/Frames");
    QDir().mkpath(folder);
    for (int i = 1; i <= 3; ++i)
        BVTest::writeFile(folder + QStringLiteral("/f%1.png").arg(i), QByteArray(1000, char('a' + i)));
    const QVariantMap uploaded
        = ok(run([&] { velora->uploadFile(folder, projectID, "/", QString()); }), "FileUploaded");
    EXPECT_EQ(uploaded.value(QStringLiteral("title")).toString(), QStringLiteral("Frames"));
    const QVariantMap address = ok(
        run([&] { velora->generateURLForFileWithID(uploaded.value("id").toLongLong()); }), "FileURLReceived");
    const QByteArray zip = download(address.value(QStringLiteral("url")).toString());
    EXPECT_TRUE(zip.startsWith("PK\x03\x04"));
    EXPECT_TRUE(zip.contains("Frames/f2.png"));
}

TEST_F(VeloraService, ACommentPostedByOneViewerMakesTheOtherReloadItsComments)
{
    qputenv("VELORA_WEBSOCKET_PORT", QByteArray::number(server.webSocketPort()));
    const QVariantMap project = ok(run([&] { velora->createProject("Live", {}, {}, 1); }), "ProjectCreated");
    const long projectID = project.value(QStringLiteral("id")).toLongLong();
    const QVariantMap uploaded = ok(
        run([&] { velora->uploadFile(sample("clip.mp4", 1000), projectID, "/", "Clip"); }), "FileUploaded");
    const long fileID = uploaded.value(QStringLiteral("id")).toLongLong();

    RecordingDelegate otherDelegate;
    auto other = client(&otherDelegate);
    velora->connectToCommentSocketForFileID(fileID);
    other->connectToCommentSocketForFileID(fileID);
    ASSERT_TRUE(velora->hasCommentSocket());
    BVTest::spin(std::chrono::milliseconds(500)); // both sockets open
    otherDelegate.calls.clear();
    ok(run([&] { velora->postComment("From the first viewer", "00:00:00:05", fileID); }), "CommentCreated");
    ASSERT_TRUE(
        BVTest::waitFor([&] { return !otherDelegate.named(QStringLiteral("CommentsReceived")).isEmpty(); }));
    const QVariantList comments
        = otherDelegate.named(QStringLiteral("CommentsReceived")).first().result.toList();
    ASSERT_EQ(comments.size(), 1);
    EXPECT_EQ(comments.first().toMap().value(QStringLiteral("body")).toString(),
        QStringLiteral("From the first viewer"));
    other->closeCommentSocket();
    velora->closeCommentSocket();
    EXPECT_FALSE(velora->hasCommentSocket());
    other->setDelegate(nullptr);
    qunsetenv("VELORA_WEBSOCKET_PORT");
}
