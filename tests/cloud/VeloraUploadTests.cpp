// Uploads through both roads: streamed multipart to an own server, and storage PUT plus
// registration for the public service; read by a capture server.
#include "VeloraTestSupport.h"

#include "common/BVTestSupport.h"
#include "net/BVS3Request.h"
#include "net/BVTestHTTPServer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

QString writeSample(const QString &folder, const QString &name, int size, char fill)
{
    const QString path = folder + QLatin1Char('/') + name;
    QByteArray data(size, fill);
    for (int i = 0; i < size; i += 997)
        data[i] = char(i % 251);
    BVTest::writeFile(path, data);
    return path;
}

QByteArray boundaryOf(const BVTestHTTPServer::Request &request)
{
    const QByteArray type = request.headers.value("content-type");
    return type.mid(type.indexOf("boundary=") + 9);
}

BVTestHTTPServer::Reply jsonReply(const QByteArray &body)
{
    BVTestHTTPServer::Reply reply;
    reply.body = body;
    return reply;
}

// The storage service and the API at one capture server.
struct PublicService
{
    explicit PublicService(BVTestHTTPServer &server)
    {
        const QByteArray port = QByteArray::number(server.port());
        qputenv("VELORA_SITE_URL", server.baseURL());
        qputenv("VELORA_STORAGE_ACCESS_KEY_ID", "AKTESTSTORAGEKEY0001");
        qputenv("VELORA_STORAGE_SECRET_ACCESS_KEY", "testsecretkeytestsecretkeytestsecretkey0");
        qputenv("VELORA_STORAGE_HOST", "localhost:" + port);
        qputenv("VELORA_STORAGE_SCHEME", "http");
    }
    ~PublicService()
    {
        for (const char *name : {"VELORA_SITE_URL", "VELORA_STORAGE_ACCESS_KEY_ID",
                 "VELORA_STORAGE_SECRET_ACCESS_KEY", "VELORA_STORAGE_HOST", "VELORA_STORAGE_SCHEME"})
            qunsetenv(name);
        BVS3Request::setS3Host(QStringLiteral("s3.amazonaws.com"));
        BVS3Request::setSharedAccessKey({});
        BVS3Request::setSharedSecretAccessKey({});
    }
};

qint64 uploadedBytes(const RecordingDelegate &delegate, const QString &file)
{
    qint64 total = 0;
    for (const VeloraCall &call : delegate.named(QStringLiteral("DidUploadBytes"))) {
        if (call.upload.value(QStringLiteral("file")).toString() == file)
            total += call.bytes;
    }
    return total;
}

} // namespace

TEST(VeloraUpload, OwnServerGetsOneStreamedMultipartPostWithEveryField)
{
    BVTestHTTPServer server([](const BVTestHTTPServer::Request &) { return jsonReply("{\"id\":41}"); });
    RecordingDelegate delegate;
    auto velora = VeloraTest::signedInClient(QString::fromLatin1(server.baseURL()), &delegate);
    const QString folder = BVTest::makeTempFolder();
    const QString path = writeSample(folder, QStringLiteral("Take 1 (final).mov"), 300000, 'm');

    ASSERT_TRUE(velora->uploadFile(path, 7, QStringLiteral("/Dailies"), 3, QStringLiteral("Take one"),
        QStringLiteral("First take"), 23.976, QStringLiteral("01:00:00:00"), 240, true,
        {QStringLiteral("a@example.com"), QStringLiteral("b@example.com")}, false, QStringLiteral("app-9")));
    ASSERT_TRUE(BVTest::waitFor([&] { return !delegate.named(QStringLiteral("FileUploaded")).isEmpty(); }));
    ASSERT_EQ(server.requests().size(), 1);
    const BVTestHTTPServer::Request &request = server.requests().first();
    EXPECT_EQ(request.target, "/api/0/files/upload");
    const QMap<QString, QByteArray> fields = VeloraTest::multipartFields(request.body, boundaryOf(request));
    const QByteArray source = fields.value(QStringLiteral("source"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^uploads/[a-z0-9]{32}-Take_1__final_.mov$"))
                    .match(QString::fromLatin1(source))
                    .hasMatch())
        << source.toStdString();
    const QMap<QString, QByteArray> expected = {
        {"source", source},
        {"parent", "/Dailies"},
        {"department", "3"},
        {"project_id", "7"},
        {"title", "Take one"},
        {"mime-type", "video/quicktime"},
        {"auto_revise", "1"},
        {"notifications", "1"},
        {"description", "First take"},
        {"frameRate", "23.98"},
        {"timecodeStart", "01:00:00:00"},
        {"duration", "240"},
        {"app_id", "app-9"},
        {"link_emails", "a@example.com,b@example.com"},
        {"link_comments", "0"},
        {"source_id", "Rk7Mw2QzTb4NcVx9Lp3J"},
        {"username", "reviewer@example.com"},
        {"password", QCryptographicHash::hash("s3cret pass", QCryptographicHash::Sha512).toHex()},
        {"file", BVTest::readFile(path)},
    };
    EXPECT_EQ(fields, expected);
    EXPECT_TRUE(request.body.contains("name=\"file\"; filename=\"Take 1 (final).mov\""));
    EXPECT_EQ(delegate.named(QStringLiteral("FileUploaded"))
                  .first()
                  .result.toMap()
                  .value(QStringLiteral("id"))
                  .toInt(),
        41);
    // Progress adds up to the body the server received, and names the upload.
    EXPECT_EQ(uploadedBytes(delegate, path), request.body.size());
    EXPECT_TRUE(velora->uploadQueue().isEmpty());
    velora->setDelegate(nullptr);
}

TEST(VeloraUpload, FolderGoesAsZipOfItselfMarkedResized)
{
    BVTestHTTPServer server([](const BVTestHTTPServer::Request &) { return jsonReply("{\"id\":1}"); });
    RecordingDelegate delegate;
    auto velora = VeloraTest::signedInClient(QString::fromLatin1(server.baseURL()), &delegate);
    const QString folder = BVTest::makeTempFolder() + QStringLiteral("/My Clip (v2)");
    QDir().mkpath(folder);
    writeSample(folder, QStringLiteral("frame.0001.png"), 2000, 'p');

    ASSERT_TRUE(velora->uploadFile(folder, 7, QString(), QString()));
    ASSERT_TRUE(BVTest::waitFor([&] { return delegate.named(QStringLiteral("FileUploaded")).size() == 1; }));
    const BVTestHTTPServer::Request &request = server.requests().first();
    const QMap<QString, QByteArray> fields = VeloraTest::multipartFields(request.body, boundaryOf(request));
    EXPECT_EQ(fields.value(QStringLiteral("resetsize")), "1");
    EXPECT_EQ(fields.value(QStringLiteral("parent")), "/");
    EXPECT_EQ(fields.value(QStringLiteral("title")), "My Clip (v2)");
    EXPECT_EQ(fields.value(QStringLiteral("mime-type")), "application/zip");
    EXPECT_TRUE(fields.value(QStringLiteral("source")).endsWith("-My_Clip__v2_.zip"))
        << fields.value("source").toStdString();
    const QByteArray zip = fields.value(QStringLiteral("file"));
    EXPECT_TRUE(zip.startsWith("PK\x03\x04"));
    EXPECT_TRUE(zip.contains("My Clip (v2)/frame.0001.png"));
    // The temporary archive is gone once sent.
    const QString sentFile
        = delegate.named(QStringLiteral("DidUploadBytes")).first().upload.value("file").toString();
    EXPECT_TRUE(sentFile.endsWith(QStringLiteral("/My Clip (v2).zip")));
    EXPECT_FALSE(QFile::exists(sentFile));
    velora->setDelegate(nullptr);
}

TEST(VeloraUpload, PublicServiceStoresTheFileThenRegistersIt)
{
    BVTestHTTPServer server([](const BVTestHTTPServer::Request &request) {
        return request.method == "PUT" ? BVTestHTTPServer::Reply {200, {}, {}} : jsonReply("{\"id\":77}");
    });
    PublicService service(server);
    RecordingDelegate delegate;
    auto velora = VeloraTest::signedInClient(QString::fromLatin1(server.baseURL()), &delegate);
    velora->setVeloServerEnabled(false);
    const QString path = writeSample(BVTest::makeTempFolder(), QStringLiteral("prefs.plist"), 5000, 'x');

    ASSERT_TRUE(velora->uploadFile(path, QStringLiteral("Qm7Tz2VbNc4XrW9pLs3K"), QStringLiteral("/"),
        QStringLiteral("Reelmark"), QDateTime::fromSecsSinceEpoch(1700000000)));
    ASSERT_TRUE(BVTest::waitFor([&] { return !delegate.named(QStringLiteral("FileUploaded")).isEmpty(); }));
    ASSERT_EQ(server.requests().size(), 2);
    const BVTestHTTPServer::Request &put = server.requests().at(0);
    EXPECT_EQ(put.method, "PUT");
    EXPECT_EQ(put.headers.value("host"), "velo_bucket.localhost:" + QByteArray::number(server.port()));
    EXPECT_TRUE(put.headers.value("authorization").startsWith("AWS AKTESTSTORAGEKEY0001:"));
    EXPECT_EQ(put.body, BVTest::readFile(path));
    const QByteArray key = put.target.mid(1);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^uploads/[a-z0-9]{32}-prefs.plist$"))
                    .match(QString::fromLatin1(key))
                    .hasMatch());

    const BVTestHTTPServer::Request &registration = server.requests().at(1);
    EXPECT_EQ(registration.target, "/api/0/files/upload");
    const QMap<QString, QString> pairs = VeloraTest::formPairs(registration.body);
    EXPECT_EQ(pairs.value(QStringLiteral("source")), QString::fromLatin1(key));
    EXPECT_EQ(pairs.value(QStringLiteral("file")), path);
    EXPECT_EQ(pairs.value(QStringLiteral("project_id")), QStringLiteral("-1"));
    EXPECT_EQ(pairs.value(QStringLiteral("department")), QStringLiteral("-1"));
    EXPECT_EQ(pairs.value(QStringLiteral("app_id")), QStringLiteral("Qm7Tz2VbNc4XrW9pLs3K"));
    EXPECT_EQ(pairs.value(QStringLiteral("date")), QStringLiteral("1700000000"));
    EXPECT_EQ(pairs.value(QStringLiteral("auto_revise")), QStringLiteral("1"));
    EXPECT_EQ(pairs.value(QStringLiteral("notifications")), QStringLiteral("0"));
    EXPECT_EQ(pairs.value(QStringLiteral("title")), QStringLiteral("Reelmark"));
    EXPECT_FALSE(pairs.contains(QStringLiteral("link_emails")));
    EXPECT_FALSE(pairs.contains(QStringLiteral("duration")));
    EXPECT_FALSE(pairs.contains(QStringLiteral("frameRate")));
    EXPECT_EQ(delegate.named(QStringLiteral("FileUploaded")).first().result.toMap().value("id").toInt(), 77);
    EXPECT_EQ(uploadedBytes(delegate, path), 5000);
    velora->setDelegate(nullptr);
}

TEST(VeloraUpload, TwoUploadsReportProgressInOrderAndAFailedOneRegistersNothing)
{
    int puts = 0;
    BVTestHTTPServer server([&](const BVTestHTTPServer::Request &request) {
        if (request.method != "PUT")
            return jsonReply("{\"id\":1}");
        // The first object is refused by the storage service.
        if (++puts == 1)
            return BVTestHTTPServer::Reply {403, {},
                "<?xml version=\"1.0\"?><Error><Code>AccessDenied</Code><Message>Access "
                "Denied</Message></Error>"};
        return BVTestHTTPServer::Reply {200, {}, {}};
    });
    PublicService service(server);
    RecordingDelegate delegate;
    auto velora = VeloraTest::signedInClient(QString::fromLatin1(server.baseURL()), &delegate);
    velora->setVeloServerEnabled(false);
    const QString folder = BVTest::makeTempFolder();
    const QString first = writeSample(folder, QStringLiteral("first.mov"), 2 * 1024 * 1024, 'a');
    const QString second = writeSample(folder, QStringLiteral("second.mov"), 3 * 1024 * 1024, 'b');
    const QString third = writeSample(folder, QStringLiteral("third.mov"), 1024 * 1024, 'c');
    ASSERT_TRUE(velora->uploadFile(first, 7, QStringLiteral("/"), QStringLiteral("First")));
    ASSERT_TRUE(velora->uploadFile(second, 7, QStringLiteral("/"), QStringLiteral("Second")));
    ASSERT_TRUE(velora->uploadFile(third, 7, QStringLiteral("/"), QStringLiteral("Third")));
    EXPECT_EQ(velora->uploadQueue().size(), 3);
    ASSERT_TRUE(BVTest::waitFor([&] { return delegate.named(QStringLiteral("FileUploaded")).size() == 2; }));

    // Progress of each upload comes before any of the next one.
    QStringList order;
    for (const VeloraCall &call : delegate.named(QStringLiteral("DidUploadBytes"))) {
        const QString file = call.upload.value(QStringLiteral("file")).toString();
        if (order.isEmpty() || order.last() != file)
            order.append(file);
    }
    EXPECT_EQ(order, (QStringList {first, second, third}));
    EXPECT_EQ(uploadedBytes(delegate, second), 3 * 1024 * 1024);
    EXPECT_EQ(uploadedBytes(delegate, third), 1024 * 1024);
    const QList<VeloraCall> failures = delegate.named(QStringLiteral("UploadFileFailedWithError"));
    ASSERT_EQ(failures.size(), 1);
    EXPECT_EQ(BVVelora::messageForError(failures.first().error), QStringLiteral("Access Denied"));
    // Three objects were sent, two registered.
    int registrations = 0;
    for (const auto &request : server.requests())
        registrations += request.method == "POST" ? 1 : 0;
    EXPECT_EQ(registrations, 2);
    EXPECT_TRUE(velora->uploadQueue().isEmpty());
    velora->setDelegate(nullptr);
}

TEST(VeloraUpload, PublicServiceWithoutStorageCredentialsFailsClearly)
{
    BVTestHTTPServer server;
    qputenv("VELORA_SITE_URL", server.baseURL());
    RecordingDelegate delegate;
    auto velora = VeloraTest::signedInClient(QString::fromLatin1(server.baseURL()), &delegate);
    velora->setVeloServerEnabled(false);
    const QString path = writeSample(BVTest::makeTempFolder(), QStringLiteral("a.mov"), 10, 'a');
    velora->uploadFile(path, 7, QStringLiteral("/"), QStringLiteral("A"));
    ASSERT_TRUE(delegate.waitForCalls(1));
    qunsetenv("VELORA_SITE_URL");
    EXPECT_EQ(delegate.last().name, QStringLiteral("UploadFileFailedWithError"));
    EXPECT_TRUE(
        BVVelora::messageForError(delegate.last().error).contains(QStringLiteral("storage credentials")));
    EXPECT_TRUE(server.requests().isEmpty());
    velora->setDelegate(nullptr);
}
