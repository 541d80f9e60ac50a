// How each kind of reply ends: in the success callback with the parsed value, or in the failure
// callback with the message the owner shows.
#include "VeloraTestSupport.h"

#include "common/BVTestSupport.h"
#include "net/BVTestHTTPServer.h"

#include <QCoreApplication>
#include <QTcpServer>

#include <gtest/gtest.h>

namespace {

const QString kPublicMessage = QStringLiteral(
    "Server error. Please try again in a few minutes or report the problem to Brightvane if it persists.");
const QString kApacheMessage
    = QStringLiteral("Server error. Please check your Apache log file to see the cause.");

struct ReplyCase
{
    const char *label;
    int status;
    QByteArray body;
    bool ownServer;
    bool success;
    QString message; // failure: the message; success: the JSON type ("map", "list", "none")
};

} // namespace

TEST(VeloraReplies, EachReplyEndsInTheRightCallbackWithItsMessage)
{
    const QList<ReplyCase> cases = {
        {"HTML page, public service", 200, "<html><body>Oops</body></html>", false, false, kPublicMessage},
        {"HTML page, own server", 200, "<html><body>Oops</body></html>", true, false, kApacheMessage},
        {"empty body", 200, "", false, false, kPublicMessage},
        {"empty body, own server", 200, "", true, false, kApacheMessage},
        {"JSON error", 200, "{\"error\":\"File not found\",\"code\":7}", false, false,
            QStringLiteral("File not found")},
        {"500 with JSON", 500, "{\"ok\":0}", true, false,
            QStringLiteral(
                "Server error. Please check your Velora Server Apache log file to see the cause.")},
        {"404 with JSON", 404, "[]", false, false,
            QStringLiteral(
                "Server not found. This could be a temporary error or you may be using an outdated "
                "version of the Velora API.")},
        {"403 with JSON", 403, "{}", false, false,
            QStringLiteral("Forbidden. Please check permissions on the API directory in your Velora Server "
                           "installation directory.")},
        {"JSON error wins over 500", 500, "{\"error\":\"Quota\"}", false, false, QStringLiteral("Quota")},
        {"empty array", 200, "[]", false, true, QStringLiteral("list")},
        {"record", 201, "{\"id\":5}", false, true, QStringLiteral("map")},
        {"not UTF-8", 200, QByteArray("{\"title\":\"\xff\xfe\"}"), false, true, QStringLiteral("none")},
        {"truncated JSON", 200, "{\"id\":", false, false, QString()},
    };
    for (const ReplyCase &c : cases) {
        SCOPED_TRACE(c.label);
        BVTestHTTPServer server([&](const BVTestHTTPServer::Request &) {
            BVTestHTTPServer::Reply reply;
            reply.status = c.status;
            reply.body = c.body;
            return reply;
        });
        RecordingDelegate delegate;
        auto velora = VeloraTest::signedInClient(QString::fromLatin1(server.baseURL()), &delegate);
        // The public service stands at the same test server.
        qputenv("VELORA_SITE_URL", server.baseURL());
        velora->setVeloServerEnabled(c.ownServer);
        velora->getFile(3);
        ASSERT_TRUE(delegate.waitForCalls(1));
        qunsetenv("VELORA_SITE_URL");
        const VeloraCall &call = delegate.calls.first();
        if (c.success) {
            ASSERT_EQ(call.name, QStringLiteral("FileReceived"));
            if (c.message == QLatin1String("list")) {
                EXPECT_EQ(call.result.typeId(), QMetaType::QVariantList);
                EXPECT_TRUE(call.result.toList().isEmpty());
            } else if (c.message == QLatin1String("map")) {
                EXPECT_EQ(call.result.toMap().value(QStringLiteral("id")).toInt(), 5);
            } else {
                EXPECT_FALSE(call.result.isValid());
            }
        } else {
            ASSERT_EQ(call.name, QStringLiteral("FileFailedWithError"));
            const QString message = BVVelora::messageForError(call.error);
            if (c.message.isEmpty())
                EXPECT_FALSE(message.isEmpty());
            else
                EXPECT_EQ(message, c.message);
            if (c.body.startsWith("{\"error\"")) {
                EXPECT_EQ(
                    call.error.userInfo().value(QStringLiteral("code")).toInt(), c.status == 200 ? 7 : 0);
            }
        }
        EXPECT_EQ(delegate.calls.size(), 1);
        velora->setDelegate(nullptr);
    }
}

TEST(VeloraReplies, RefusedConnectionFailsWithTheServerErrorMessage)
{
    int port = 0;
    {
        QTcpServer closed;
        closed.listen(QHostAddress::LocalHost, 0);
        port = closed.serverPort();
    }
    for (const bool ownServer : {true, false}) {
        RecordingDelegate delegate;
        const QString site = QStringLiteral("http://127.0.0.1:%1").arg(port);
        auto velora = VeloraTest::signedInClient(site, &delegate);
        qputenv("VELORA_SITE_URL", site.toUtf8());
        velora->setVeloServerEnabled(ownServer);
        velora->commentsForFileID(12);
        ASSERT_TRUE(delegate.waitForCalls(1));
        qunsetenv("VELORA_SITE_URL");
        EXPECT_EQ(delegate.last().name, QStringLiteral("CommentsFailedWithError"));
        EXPECT_EQ(
            BVVelora::messageForError(delegate.last().error), ownServer ? kApacheMessage : kPublicMessage);
        velora->setDelegate(nullptr);
    }
}

TEST(VeloraReplies, WithoutDelegateTheReplyIsDropped)
{
    BVTestHTTPServer server([](const BVTestHTTPServer::Request &) {
        return BVTestHTTPServer::Reply {200, {}, "[]"};
    });
    auto velora = VeloraTest::signedInClient(QString::fromLatin1(server.baseURL()), nullptr);
    velora->getFile(1);
    ASSERT_TRUE(
        BVTest::waitFor([&] { return server.requests().size() == 1 && velora->operationCount() == 0; }));
    // The finished job has posted its reply to the main thread: delivered (and dropped) here.
    QCoreApplication::sendPostedEvents();
    RecordingDelegate late;
    velora->setDelegate(&late);
    // Nothing may reach the late delegate: a fixed time, since the check is that nothing comes.
    BVTest::spin(std::chrono::milliseconds(50));
    EXPECT_TRUE(late.calls.isEmpty());
    velora->setDelegate(nullptr);
}

TEST(VeloraReplies, CancellingAllStopsTheRequestUnderWay)
{
    BVTestHTTPServer server([](const BVTestHTTPServer::Request &) {
        BVTestHTTPServer::Reply reply;
        reply.hang = true;
        return reply;
    });
    RecordingDelegate delegate;
    auto velora = VeloraTest::signedInClient(QString::fromLatin1(server.baseURL()), &delegate);
    velora->getFile(1);
    velora->getFile(2);
    ASSERT_TRUE(BVTest::waitFor([&] { return server.requests().size() == 1; }));
    velora->cancelAllOperations();
    ASSERT_TRUE(BVTest::waitFor([&] { return velora->operationCount() == 0; }, std::chrono::seconds(5)));
    // No second request may reach the server: a fixed time, since the check is that nothing comes.
    BVTest::spin(std::chrono::milliseconds(50));
    EXPECT_EQ(server.requests().size(), 1);
    EXPECT_TRUE(delegate.calls.isEmpty());
    velora->setDelegate(nullptr);
}
