#include "cloud/BVWebSocket.h"
#include "cloud/BVWebSocketHandshake.h"

#include <gtest/gtest.h>

namespace {

QMap<QByteArray, QByteArray> headersOf(const QByteArray &request)
{
    QMap<QByteArray, QByteArray> headers;
    const QList<QByteArray> lines = request.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (line.isEmpty())
            continue;
        headers.insert(line.left(line.indexOf(':')), line.mid(line.indexOf(':') + 1).trimmed());
    }
    return headers;
}

const QByteArray sampleKey = "dGhlIHNhbXBsZSBub25jZQ==";

} // namespace

TEST(WebSocketHandshake, AcceptValueIsBase64OfSha1OfKeyAndGuid)
{
    EXPECT_EQ(BVWebSocketHandshake::acceptForKey(sampleKey), QByteArray("s3pPLMBiTxaQ9kYGzzhZRbK+xOo="));
}

TEST(WebSocketHandshake, KeysAreSixteenFreshRandomBytes)
{
    const QByteArray a = BVWebSocketHandshake::generateKey();
    const QByteArray b = BVWebSocketHandshake::generateKey();
    EXPECT_EQ(a.size(), 24);
    EXPECT_EQ(QByteArray::fromBase64(a).size(), 16);
    EXPECT_NE(a, b);
}

TEST(WebSocketHandshake, RequestCarriesHostOriginAndProtocolsForEachAddressForm)
{
    struct Case
    {
        const char *url;
        QByteArray requestLine;
        QByteArray host;
        QByteArray origin;
    };
    const Case cases[] = {
        {"ws://example.com:8000/commentstream/42", "GET /commentstream/42 HTTP/1.1", "example.com:8000",
            "http://example.com:8000/"},
        {"wss://example.com/session/", "GET /session/ HTTP/1.1", "example.com", "https://example.com/"},
        {"https://example.com", "GET / HTTP/1.1", "example.com", "https://example.com/"},
        {"http://example.com?a=1&b=2", "GET /?a=1&b=2 HTTP/1.1", "example.com", "http://example.com/"},
        {"ws://[::1]:81/x%20y", "GET /x%20y HTTP/1.1", "[::1]:81", "http://[::1]:81/"},
    };
    for (const Case &c : cases) {
        BVWebSocketHandshake handshake(QUrl(QString::fromUtf8(c.url)), {}, {}, sampleKey);
        const QByteArray request = handshake.request();
        EXPECT_TRUE(request.startsWith(QByteArray(c.requestLine + "\r\n"))) << c.url << "\n"
                                                                            << request.constData();
        EXPECT_TRUE(request.endsWith("\r\n\r\n")) << c.url;
        const auto headers = headersOf(request);
        EXPECT_EQ(headers.value("Host"), c.host) << c.url;
        EXPECT_EQ(headers.value("Origin"), c.origin) << c.url;
        EXPECT_EQ(headers.value("Upgrade"), "websocket");
        EXPECT_EQ(headers.value("Connection"), "Upgrade");
        EXPECT_EQ(headers.value("Sec-WebSocket-Key"), sampleKey);
        EXPECT_EQ(headers.value("Sec-WebSocket-Version"), "13");
        EXPECT_FALSE(headers.contains("Sec-WebSocket-Protocol"));
    }
}

TEST(WebSocketHandshake, RequestHeadersAreAddedOrReplaceOursButNeverSplitLines)
{
    BVWebSocketHandshake handshake(QUrl(QStringLiteral("ws://h/")),
        {QStringLiteral("chat"), QStringLiteral("superchat")},
        {{"Authorization", "Token abc"}, {"origin", "http://other/"}, {"X-Evil", "a\r\nInjected: 1"}},
        sampleKey);
    const QByteArray request = handshake.request();
    const auto headers = headersOf(request);
    EXPECT_EQ(headers.value("Sec-WebSocket-Protocol"), "chat, superchat");
    EXPECT_EQ(headers.value("Authorization"), "Token abc");
    EXPECT_EQ(headers.value("Origin"), "http://other/");
    EXPECT_FALSE(request.contains("Injected"));
    EXPECT_FALSE(request.contains("X-Evil"));
}

TEST(WebSocketHandshake, ResponseChecksEndWithTheNamedErrors)
{
    const QByteArray accept = BVWebSocketHandshake::acceptForKey(sampleKey);
    struct Case
    {
        const char *name;
        QByteArray response;
        BVWebSocketHandshake::Status status;
        QString domain;
        int code;
        QString message;
    };
    const QByteArray ok = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n";
    const Case cases[] = {
        {"valid", ok + "Sec-WebSocket-Accept: " + accept + "\r\n\r\n", BVWebSocketHandshake::Status::Accepted,
            {}, 0, {}},
        {"header names without case", ok + "sec-websocket-accept:  " + accept + "\r\n\r\n",
            BVWebSocketHandshake::Status::Accepted, {}, 0, {}},
        {"chosen protocol",
            ok + "Sec-WebSocket-Accept: " + accept + "\r\nSec-WebSocket-Protocol: chat\r\n\r\n",
            BVWebSocketHandshake::Status::Accepted, {}, 0, {}},
        {"404", "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n", BVWebSocketHandshake::Status::Failed,
            BVWebSocket::streamErrorDomain(), 2132, "received bad response code from server 404"},
        {"503", "HTTP/1.1 503 Busy\r\n\r\n", BVWebSocketHandshake::Status::Failed,
            BVWebSocket::streamErrorDomain(), 2132, "received bad response code from server 503"},
        {"redirect", "HTTP/1.1 302 Found\r\nLocation: /x\r\n\r\n", BVWebSocketHandshake::Status::Failed,
            BVWebSocket::streamErrorDomain(), 2132, "received bad response code from server 302"},
        {"bad accept", ok + "Sec-WebSocket-Accept: AAAAAAAAAAAAAAAAAAAAAAAAAAA=\r\n\r\n",
            BVWebSocketHandshake::Status::Failed, BVWebSocket::errorDomain(), 2133,
            "Invalid Sec-WebSocket-Accept response"},
        {"missing accept", ok + "\r\n", BVWebSocketHandshake::Status::Failed, BVWebSocket::errorDomain(),
            2133, "Invalid Sec-WebSocket-Accept response"},
        {"unrequested protocol",
            ok + "Sec-WebSocket-Accept: " + accept + "\r\nSec-WebSocket-Protocol: other\r\n\r\n",
            BVWebSocketHandshake::Status::Failed, BVWebSocket::errorDomain(), 2133,
            "Server specified Sec-WebSocket-Protocol that wasn't requested"},
    };
    for (const Case &c : cases) {
        for (bool byteByByte : {false, true}) {
            BVWebSocketHandshake handshake(
                QUrl(QStringLiteral("ws://h/")), {QStringLiteral("chat")}, {}, sampleKey);
            BVWebSocketHandshake::Status status = BVWebSocketHandshake::Status::Incomplete;
            const QByteArray bytes = c.response + "\x81\x02hi";
            if (byteByByte) {
                for (qsizetype i = 0; i < bytes.size() && status == BVWebSocketHandshake::Status::Incomplete;
                     ++i)
                    status = handshake.appendResponse(bytes.mid(i, 1));
            } else {
                status = handshake.appendResponse(bytes);
            }
            ASSERT_EQ(status, c.status) << c.name;
            if (c.status == BVWebSocketHandshake::Status::Failed) {
                EXPECT_EQ(handshake.error().domain(), c.domain) << c.name;
                EXPECT_EQ(handshake.error().code(), c.code) << c.name;
                EXPECT_EQ(handshake.error().localizedDescription(), c.message) << c.name;
            } else if (!byteByByte) {
                EXPECT_EQ(handshake.remainder(), QByteArray("\x81\x02hi")) << c.name;
            }
        }
    }
}

TEST(WebSocketHandshake, EndlessResponseHeadersFailInsteadOfGrowing)
{
    BVWebSocketHandshake handshake(QUrl(QStringLiteral("ws://h/")), {}, {}, sampleKey);
    BVWebSocketHandshake::Status status = handshake.appendResponse("HTTP/1.1 101 OK\r\n");
    const QByteArray line = "X-Filler: " + QByteArray(1000, 'f') + "\r\n";
    for (int i = 0; i < 100 && status == BVWebSocketHandshake::Status::Incomplete; ++i)
        status = handshake.appendResponse(line);
    EXPECT_EQ(status, BVWebSocketHandshake::Status::Failed);
    EXPECT_EQ(handshake.error().code(), 2133);
}
