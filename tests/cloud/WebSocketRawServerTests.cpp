// The client against a bare TCP server of the test that sends crafted handshakes and frames.
#include "WebSocketTestSupport.h"

#include "common/BVTestSupport.h"

#include <gtest/gtest.h>

using WSTest::Callback;
using WSTest::RawServer;

namespace {

QUrl rawURL(const RawServer &server)
{
    return QUrl(QStringLiteral("ws://127.0.0.1:") + QString::number(server.port()) + QStringLiteral("/raw"));
}

QByteArray closeFrame(int code, const QByteArray &reason = {})
{
    QByteArray payload;
    payload.append(char(code >> 8)).append(char(code & 0xFF)).append(reason);
    return RawServer::serverFrame(0x88, payload);
}

int closeCodeOf(const WSTest::ClientFrame &frame)
{
    return frame.payload.size() >= 2 ? (uint8_t(frame.payload[0]) << 8) | uint8_t(frame.payload[1]) : -1;
}

} // namespace

TEST(WebSocketRawServer, EachMalformedServerFrameClosesWithTheNamedCodeAndReason)
{
    QByteArray maskedText = RawServer::serverFrame(0x81, "abcd");
    maskedText[1] = char(0x80 | 4);
    maskedText.insert(2, QByteArray("\x01\x02\x03\x04", 4));
    struct Case
    {
        const char *name;
        QByteArray frames;
        int code;
        QString reason;
    };
    const Case cases[] = {
        {"RSV bits", RawServer::serverFrame(0xE1, "x"), 1002, "Server used RSV bits"},
        {"masked frame", maskedText, 1002, "Client must receive unmasked data"},
        {"fragmented ping", RawServer::serverFrame(0x09, "x"), 1002, "Fragmented control frames not allowed"},
        {"oversize ping", RawServer::serverFrame(0x89, QByteArray(200, 'p')), 1002,
            "Control frames cannot have payloads larger than 126 bytes"},
        {"interleaved data frame", RawServer::serverFrame(0x01, "a") + RawServer::serverFrame(0x82, "b"),
            1002, "all data frames after the initial data frame must have opcode 0"},
        {"stray continuation", RawServer::serverFrame(0x80, "a"), 1002, "cannot continue a message"},
        {"unknown opcode", RawServer::serverFrame(0x85, ""), 1002, "Unknown opcode 5"},
        {"invalid UTF-8 text", RawServer::serverFrame(0x81, "ok \xED\xA0\x80"), 1007,
            "Text frames must be valid UTF-8"},
        {"invalid UTF-8 close reason", closeFrame(1000, "\xFF"), 1002, "Close reason MUST be valid UTF-8"},
        {"close code 1005", closeFrame(1005), 1002, "Cannot have close code of 1005"},
        {"close code 1006", closeFrame(1006), 1002, "Cannot have close code of 1006"},
        {"close code 999", closeFrame(999), 1002, "Cannot have close code of 999"},
        {"close code 5000", closeFrame(5000), 1002, "Cannot have close code of 5000"},
        {"one-byte close", RawServer::serverFrame(0x88, "\x03"), 1002,
            "Payload for close must be larger than 2 bytes"},
    };
    for (const Case &c : cases) {
        RawServer server;
        server.afterHandshake = RawServer::serverFrame(0x81, "first") + c.frames;
        WSTest::Client client(rawURL(server));
        client.socket->open();
        ASSERT_TRUE(client.delegate.waitForEnd()) << c.name;
        ASSERT_EQ(client.delegate.messages().size(), 1) << c.name;
        EXPECT_EQ(client.delegate.messages()[0].toString(), QStringLiteral("first")) << c.name;
        const Callback *closed = client.delegate.first(Callback::Kind::Close);
        ASSERT_NE(closed, nullptr) << c.name;
        EXPECT_EQ(closed->code, c.code) << c.name;
        EXPECT_EQ(closed->reason, c.reason) << c.name;
        EXPECT_FALSE(closed->wasClean) << c.name;
        EXPECT_EQ(client.delegate.count(Callback::Kind::Fail), 0) << c.name;
        EXPECT_EQ(client.socket->readyState(), BVWebSocket::Closed) << c.name;

        // The client told the server why, in a masked close frame, and then hung up.
        ASSERT_TRUE(server.waitForFrames(1)) << c.name;
        const WSTest::ClientFrame frame = server.frames().back();
        EXPECT_EQ(frame.opcode, 8) << c.name;
        EXPECT_TRUE(frame.masked) << c.name;
        EXPECT_EQ(closeCodeOf(frame), c.code) << c.name;
        EXPECT_EQ(QString::fromUtf8(frame.payload.mid(2)), c.reason) << c.name;
        EXPECT_TRUE(BVTest::waitFor([&] { return server.clientDisconnected; })) << c.name;
    }
}

TEST(WebSocketRawServer, HandshakeFailuresReportTheNamedErrorAndNeverOpen)
{
    struct Case
    {
        const char *name;
        std::function<QByteArray(const QByteArray &)> respond;
        QStringList protocols;
        QString domain;
        int code;
        QString message;
    };
    const Case cases[] = {
        {"bad accept", [](const QByteArray &) { return RawServer::switchingProtocols("not the key"); }, {},
            BVWebSocket::errorDomain(), 2133, "Invalid Sec-WebSocket-Accept response"},
        {"unrequested protocol",
            [](const QByteArray &key) {
                return RawServer::switchingProtocols(key, "Sec-WebSocket-Protocol: x\r\n");
            },
            {QStringLiteral("chat")}, BVWebSocket::errorDomain(), 2133,
            "Server specified Sec-WebSocket-Protocol that wasn't requested"},
        {"protocol without a request",
            [](const QByteArray &key) {
                return RawServer::switchingProtocols(key, "Sec-WebSocket-Protocol: x\r\n");
            },
            {}, BVWebSocket::errorDomain(), 2133,
            "Server specified Sec-WebSocket-Protocol that wasn't requested"},
        {"403",
            [](const QByteArray &) {
                return QByteArray("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
            },
            {}, BVWebSocket::streamErrorDomain(), 2132, "received bad response code from server 403"},
    };
    for (const Case &c : cases) {
        RawServer server;
        server.respond = [&c](const QByteArray &, const QByteArray &key) { return c.respond(key); };
        server.afterHandshake = RawServer::serverFrame(0x81, "never delivered");
        WSTest::Client client(rawURL(server), c.protocols);
        client.socket->open();
        ASSERT_TRUE(client.delegate.waitForEnd()) << c.name;
        const Callback *failed = client.delegate.first(Callback::Kind::Fail);
        ASSERT_NE(failed, nullptr) << c.name;
        EXPECT_EQ(failed->error.domain(), c.domain) << c.name;
        EXPECT_EQ(failed->error.code(), c.code) << c.name;
        EXPECT_EQ(failed->error.localizedDescription(), c.message) << c.name;
        // Nothing may follow the failure: a fixed time, since the check is that nothing comes.
        BVTest::spin(std::chrono::milliseconds(50));
        EXPECT_EQ(client.delegate.count(Callback::Kind::Open), 0) << c.name;
        EXPECT_EQ(client.delegate.count(Callback::Kind::Message), 0) << c.name;
        EXPECT_EQ(client.delegate.count(Callback::Kind::Close), 0) << c.name;
        EXPECT_EQ(client.socket->readyState(), BVWebSocket::Closed) << c.name;
    }
}

TEST(WebSocketRawServer, RequestNamesTheAddressAndAFreshKey)
{
    RawServer server;
    server.answerHandshake = false;
    WSTest::Client client(QUrl(QStringLiteral("ws://127.0.0.1:") + QString::number(server.port())
        + QStringLiteral("/commentstream/42?x=1")));
    client.socket->open();
    ASSERT_TRUE(BVTest::waitFor([&] { return server.request.endsWith("\r\n\r\n"); }));
    EXPECT_TRUE(server.request.startsWith("GET /commentstream/42?x=1 HTTP/1.1\r\n"));
    EXPECT_TRUE(server.request.contains(
        QByteArray("\r\nHost: 127.0.0.1:" + QByteArray::number(server.port()) + "\r\n")));
    EXPECT_TRUE(server.request.contains("\r\nSec-WebSocket-Version: 13\r\n"));
    const qsizetype at = server.request.indexOf("Sec-WebSocket-Key: ");
    ASSERT_GE(at, 0);
    EXPECT_EQ(QByteArray::fromBase64(server.request.mid(at + 19, 24)).size(), 16);
}

TEST(WebSocketRawServer, ClientFramesUseTheShortestLengthFormAndAFreshMask)
{
    RawServer server;
    WSTest::Client client(rawURL(server));
    client.socket->open();
    ASSERT_TRUE(client.delegate.waitForOpen());
    const qsizetype sizes[] = {125, 126, 65535, 65536};
    for (qsizetype size : sizes)
        client.socket->send(QString(size, u'm'));
    client.socket->send(QByteArray("\x00\xFF", 2));
    ASSERT_TRUE(server.waitForFrames(5));
    const auto frames = server.frames();
    const int forms[] = {7, 16, 16, 64};
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(frames[size_t(i)].fin);
        EXPECT_EQ(frames[size_t(i)].rsv, 0);
        EXPECT_EQ(frames[size_t(i)].opcode, 1);
        EXPECT_TRUE(frames[size_t(i)].masked);
        EXPECT_EQ(frames[size_t(i)].lengthForm, forms[i]) << sizes[i];
        EXPECT_EQ(frames[size_t(i)].payload, QByteArray(sizes[i], 'm'));
    }
    EXPECT_EQ(frames[4].opcode, 2);
    EXPECT_EQ(frames[4].payload, QByteArray("\x00\xFF", 2));
    QSet<QByteArray> masks;
    for (const auto &frame : frames)
        masks.insert(frame.mask);
    EXPECT_GE(masks.size(), 4) << "each frame draws its own mask";
}

TEST(WebSocketRawServer, JoinsFragmentsAnswersPingsBetweenThemAndIgnoresPongs)
{
    RawServer server;
    server.afterHandshake = RawServer::serverFrame(0x01, "Hel") + RawServer::serverFrame(0x89, "ping-1")
        + RawServer::serverFrame(0x00, "lo, ") + RawServer::serverFrame(0x8A, "unsolicited")
        + RawServer::serverFrame(0x80, "w\xC3\xB6rld")
        + RawServer::serverFrame(0x82, QByteArray("\x01\x02", 2));
    WSTest::Client client(rawURL(server));
    client.socket->open();
    ASSERT_TRUE(client.delegate.waitForMessages(2));
    EXPECT_EQ(client.delegate.messages()[0].toString(), QStringLiteral("Hello, w\u00f6rld"));
    EXPECT_EQ(client.delegate.messages()[1].toByteArray(), QByteArray("\x01\x02", 2));
    ASSERT_TRUE(server.waitForFrames(1));
    EXPECT_EQ(server.frames()[0].opcode, 0xA);
    EXPECT_EQ(server.frames()[0].payload, QByteArray("ping-1"));
    EXPECT_EQ(client.socket->readyState(), BVWebSocket::Open);
}

TEST(WebSocketRawServer, EmptyCloseFrameReports1005AndIsAnsweredWith1000)
{
    RawServer server;
    server.afterHandshake = RawServer::serverFrame(0x88, {});
    WSTest::Client client(rawURL(server));
    client.socket->open();
    ASSERT_TRUE(client.delegate.waitForEnd());
    const Callback *closed = client.delegate.first(Callback::Kind::Close);
    ASSERT_NE(closed, nullptr);
    EXPECT_EQ(closed->code, 1005);
    EXPECT_TRUE(closed->reason.isEmpty());
    EXPECT_TRUE(closed->wasClean);
    ASSERT_TRUE(server.waitForFrames(1));
    EXPECT_EQ(server.frames()[0].opcode, 8);
    EXPECT_EQ(server.frames()[0].payload, QByteArray("\x03\xE8", 2));
    EXPECT_TRUE(BVTest::waitFor([&] { return server.clientDisconnected; }));
}

TEST(WebSocketRawServer, ClosingWhileConnectingSendsNoCloseFrame)
{
    RawServer server;
    server.answerHandshake = false;
    WSTest::Client client(rawURL(server));
    client.socket->open();
    ASSERT_TRUE(BVTest::waitFor([&] { return server.request.endsWith("\r\n\r\n"); }));
    client.socket->close();
    ASSERT_TRUE(client.delegate.waitForEnd());
    EXPECT_TRUE(BVTest::waitFor([&] { return server.clientDisconnected; }));
    EXPECT_TRUE(server.received.isEmpty()) << "no close frame while connecting";
    EXPECT_EQ(client.delegate.count(Callback::Kind::Open), 0);
    const Callback *closed = client.delegate.first(Callback::Kind::Close);
    ASSERT_NE(closed, nullptr);
    EXPECT_FALSE(closed->wasClean);
    EXPECT_EQ(client.socket->readyState(), BVWebSocket::Closed);
}

TEST(WebSocketRawServer, ServerVanishingWithoutCloseFrameIsAnAbnormalClose)
{
    RawServer server;
    WSTest::Client client(rawURL(server));
    client.socket->open();
    ASSERT_TRUE(client.delegate.waitForOpen());
    server.dropConnection();
    ASSERT_TRUE(client.delegate.waitForEnd());
    const Callback *closed = client.delegate.first(Callback::Kind::Close);
    ASSERT_NE(closed, nullptr);
    EXPECT_EQ(closed->code, 1006);
    EXPECT_FALSE(closed->wasClean);
}

TEST(WebSocketRawServer, ACloseTheServerNeverAnswersEndsAfterTheTimeout)
{
    RawServer server;
    WSTest::Client client(rawURL(server));
    client.socket->setCloseTimeout(0.3);
    client.socket->open();
    ASSERT_TRUE(client.delegate.waitForOpen());
    client.socket->close();
    client.socket->close(); // a second close while closing is ignored
    EXPECT_TRUE(BVTest::waitFor([&] { return client.socket->readyState() >= BVWebSocket::Closing; }));
    client.socket->send(QStringLiteral("after close"));
    ASSERT_TRUE(client.delegate.waitForEnd());
    ASSERT_TRUE(server.waitForFrames(1));
    ASSERT_EQ(server.frames().size(), 1u);
    EXPECT_EQ(server.frames()[0].opcode, 8);
    EXPECT_EQ(closeCodeOf(server.frames()[0]), 1000);
    const Callback *closed = client.delegate.first(Callback::Kind::Close);
    ASSERT_NE(closed, nullptr);
    EXPECT_FALSE(closed->wasClean);
}

TEST(WebSocketRawServer, ConnectionRefusedFailsWithAStreamError)
{
    quint16 port;
    {
        RawServer closedServer;
        port = closedServer.port();
    }
    WSTest::Client client(QUrl(QStringLiteral("ws://127.0.0.1:") + QString::number(port) + u'/'));
    client.socket->open();
    ASSERT_TRUE(client.delegate.waitForEnd());
    const Callback *failed = client.delegate.first(Callback::Kind::Fail);
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(failed->error.domain(), BVWebSocket::streamErrorDomain());
    EXPECT_FALSE(failed->error.localizedDescription().isEmpty());
    EXPECT_EQ(client.delegate.count(Callback::Kind::Close), 0);
}
