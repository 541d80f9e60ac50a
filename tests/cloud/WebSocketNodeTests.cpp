// The client against an independent server: the Node "ws" package, started by each test.
#include "WebSocketTestSupport.h"

#include "common/BVTestSupport.h"
#include "support/BVLog.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <thread>

using WSTest::Callback;

namespace {

QUrl localURL(const char *scheme, quint16 port, const QString &path = QStringLiteral("/"))
{
    return QUrl(QString::fromLatin1(scheme) + QStringLiteral("://127.0.0.1:") + QString::number(port) + path);
}

} // namespace

class WebSocketNode : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_server.start()) << "node with the ws package is needed"; }
    WSTest::NodeServer m_server;
};

TEST_F(WebSocketNode, OpensAndEchoesTextInAllThreeLengthFormsOnTheMainThread)
{
    WSTest::Client client(localURL("ws", m_server.port()));
    EXPECT_EQ(client.socket->readyState(), BVWebSocket::Connecting);
    client.socket->open();
    ASSERT_TRUE(client.delegate.waitForOpen());
    EXPECT_EQ(client.socket->readyState(), BVWebSocket::Open);

    QStringList sent;
    for (qsizetype size : {1, 125, 126, 65535, 65536, 200000}) {
        QString text;
        for (qsizetype i = 0; i < size; ++i)
            text.append(QChar(char16_t(u'a' + i % 26)));
        sent.append(text);
        client.socket->send(text);
    }
    sent.append(QStringLiteral("caf\u00e9 \u2013 \U0001F3AC"));
    client.socket->send(sent.last());
    ASSERT_TRUE(client.delegate.waitForMessages(int(sent.size())));
    const QList<QVariant> received = client.delegate.messages();
    for (qsizetype i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(received[i].typeId(), QMetaType::QString);
        EXPECT_EQ(received[i].toString(), sent[i]) << "message " << i;
    }
    EXPECT_TRUE(client.delegate.allOnMainThread);
}

TEST_F(WebSocketNode, MessagesSentFromSeveralThreadsKeepEachThreadsOrder)
{
    WSTest::Client client(localURL("ws", m_server.port()));
    client.socket->open();
    ASSERT_TRUE(client.delegate.waitForOpen());
    constexpr int perThread = 300;
    std::thread worker([socket = client.socket] {
        for (int i = 0; i < perThread; ++i)
            socket->send(QStringLiteral("worker %1").arg(i));
    });
    for (int i = 0; i < perThread; ++i)
        client.socket->send(QStringLiteral("main %1").arg(i));
    worker.join();
    ASSERT_TRUE(client.delegate.waitForMessages(2 * perThread));
    QMap<QString, int> next;
    for (const QVariant &message : client.delegate.messages()) {
        const QString text = message.toString();
        const QString sender = text.section(u' ', 0, 0);
        EXPECT_EQ(text.section(u' ', 1).toInt(), next[sender]) << text.toStdString();
        next[sender] = text.section(u' ', 1).toInt() + 1;
    }
    EXPECT_EQ(next.value(QStringLiteral("main")), perThread);
    EXPECT_EQ(next.value(QStringLiteral("worker")), perThread);
    EXPECT_TRUE(client.delegate.allOnMainThread);
}

TEST_F(WebSocketNode, EchoesBinaryMessagesAsBytes)
{
    WSTest::Client client(localURL("ws", m_server.port()));
    client.socket->open();
    ASSERT_TRUE(client.delegate.waitForOpen());
    QByteArray bytes;
    for (int i = 0; i < 70000; ++i)
        bytes.append(char(i * 7));
    client.socket->send(bytes);
    ASSERT_TRUE(client.delegate.waitForMessages(1));
    EXPECT_EQ(client.delegate.messages()[0].typeId(), QMetaType::QByteArray);
    EXPECT_EQ(client.delegate.messages()[0].toByteArray(), bytes);
}

TEST_F(WebSocketNode, AnswersServerPingsWithTheSamePayload)
{
    WSTest::Client client(localURL("ws", m_server.port()));
    client.socket->open();
    ASSERT_TRUE(client.delegate.waitForOpen());
    client.socket->send(QStringLiteral("cmd:ping:are you there"));
    client.socket->send(QStringLiteral("cmd:ping:"));
    ASSERT_TRUE(client.delegate.waitForMessages(2));
    EXPECT_EQ(client.delegate.messages()[0].toString(), QStringLiteral("pong:are you there"));
    EXPECT_EQ(client.delegate.messages()[1].toString(), QStringLiteral("pong:"));
}

TEST_F(WebSocketNode, ClientCloseIsAnsweredAndReportedClean)
{
    WSTest::Client client(localURL("ws", m_server.port()));
    client.socket->open();
    ASSERT_TRUE(client.delegate.waitForOpen());
    client.socket->closeWithCode(4002, QStringLiteral("leaving"));
    ASSERT_TRUE(client.delegate.waitForEnd());
    const Callback *closed = client.delegate.first(Callback::Kind::Close);
    ASSERT_NE(closed, nullptr);
    EXPECT_EQ(closed->code, 4002);
    EXPECT_EQ(closed->reason, QStringLiteral("leaving"));
    EXPECT_TRUE(closed->wasClean);
    EXPECT_EQ(client.delegate.count(Callback::Kind::Fail), 0);
    EXPECT_EQ(client.socket->readyState(), BVWebSocket::Closed);
    EXPECT_TRUE(m_server.waitForOutput(QStringLiteral("CLOSE 4002 leaving")));
}

TEST_F(WebSocketNode, ServerCloseIsAnsweredWith1000AndReportsTheServerCodeAndReason)
{
    struct Case
    {
        QString command;
        int code;
        QString reason;
    };
    for (const Case &c : {Case {QStringLiteral("cmd:close:4001:see you"), 4001, QStringLiteral("see you")},
             Case {QStringLiteral("cmd:close:1000:"), 1000, QString()},
             Case {QStringLiteral("cmd:closeempty"), 1005, QString()}}) {
        WSTest::Client client(localURL("ws", m_server.port()));
        client.socket->open();
        ASSERT_TRUE(client.delegate.waitForOpen());
        client.socket->send(c.command);
        ASSERT_TRUE(client.delegate.waitForEnd()) << c.command.toStdString();
        const Callback *closed = client.delegate.first(Callback::Kind::Close);
        ASSERT_NE(closed, nullptr) << c.command.toStdString();
        EXPECT_EQ(closed->code, c.code);
        EXPECT_EQ(closed->reason, c.reason);
        EXPECT_TRUE(closed->wasClean);
        EXPECT_EQ(client.socket->readyState(), BVWebSocket::Closed);
    }
}

TEST_F(WebSocketNode, NegotiatesARequestedProtocolAndSendsRequestHeaders)
{
    QNetworkRequest request(localURL("ws", m_server.port(), QStringLiteral("/session/7")));
    request.setRawHeader("X-Reelmark-Test", "yes");
    WSTest::Client client(request, {QStringLiteral("other"), QStringLiteral("chat")});
    client.socket->open();
    ASSERT_TRUE(client.delegate.waitForOpen());
    EXPECT_EQ(client.socket->protocol(), QStringLiteral("chat"));
    client.socket->send(QStringLiteral("cmd:headers"));
    ASSERT_TRUE(client.delegate.waitForMessages(1));
    const QJsonObject headers
        = QJsonDocument::fromJson(client.delegate.messages()[0].toString().toUtf8()).object();
    EXPECT_EQ(headers.value(QStringLiteral("x-reelmark-test")).toString(), QStringLiteral("yes"));
    EXPECT_EQ(headers.value(QStringLiteral("host")).toString(),
        QStringLiteral("127.0.0.1:") + QString::number(m_server.port()));
    EXPECT_EQ(headers.value(QStringLiteral("origin")).toString(),
        QStringLiteral("http://127.0.0.1:") + QString::number(m_server.port()) + u'/');
    EXPECT_EQ(
        headers.value(QStringLiteral("sec-websocket-protocol")).toString(), QStringLiteral("other, chat"));
}

TEST_F(WebSocketNode, SendBeforeOpenIsDroppedAndLogged)
{
    BVLog::createNewLog();
    WSTest::Client client(localURL("ws", m_server.port()));
    client.socket->send(QStringLiteral("too early"));
    client.socket->open();
    client.socket->send(QStringLiteral("still too early"));
    ASSERT_TRUE(client.delegate.waitForOpen());
    client.socket->send(QStringLiteral("now"));
    ASSERT_TRUE(client.delegate.waitForMessages(1));
    // The early texts must not arrive after it: a fixed time, since the check is that nothing comes.
    BVTest::spin(std::chrono::milliseconds(200));
    ASSERT_EQ(client.delegate.messages().size(), 1);
    EXPECT_EQ(client.delegate.messages()[0].toString(), QStringLiteral("now"));
    BVLog::finishWriting();
    const QString log = QString::fromUtf8(BVTest::readFile(BVLog::sharedController()->currentLogPath()));
    EXPECT_GE(log.count(QStringLiteral("Invalid State: Cannot call send: until connection is open")), 2);
}

TEST_F(WebSocketNode, AnOwnerMayLetGoOfAnOpenSocket)
{
    WSTest::RecordingDelegate delegate;
    std::weak_ptr<BVWebSocket> weak;
    {
        auto socket = std::make_shared<BVWebSocket>(localURL("ws", m_server.port()));
        socket->setDelegate(&delegate);
        socket->open();
        weak = socket;
    }
    ASSERT_TRUE(delegate.waitForOpen());
    std::shared_ptr<BVWebSocket> socket = weak.lock();
    ASSERT_TRUE(socket) << "an open socket keeps itself alive";
    socket->close();
    socket.reset();
    ASSERT_TRUE(delegate.waitForEnd());
    EXPECT_TRUE(BVTest::waitFor([&] { return weak.expired(); })) << "a closed socket lets itself go";
}

class WebSocketNodeTLS : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_certificate.make(BVTest::makeTempFolder(QStringLiteral("tls"))))
            << "openssl req failed";
        ASSERT_TRUE(m_server.start({m_certificate.certPath, m_certificate.keyPath}));
    }
    WSTest::TestCertificate m_certificate;
    WSTest::NodeServer m_server;
};

TEST_F(WebSocketNodeTLS, WssWorksWithATrustedSelfSignedCertificate)
{
    WSTest::Client client(localURL("wss", m_server.port()));
    client.socket->setCaCertificates({m_certificate.certificate});
    client.socket->open();
    ASSERT_TRUE(client.delegate.waitForOpen()) << (client.delegate.first(Callback::Kind::Fail)
            ? client.delegate.first(Callback::Kind::Fail)->error.description().toStdString()
            : std::string());
    client.socket->send(QStringLiteral("over TLS"));
    ASSERT_TRUE(client.delegate.waitForMessages(1));
    EXPECT_EQ(client.delegate.messages()[0].toString(), QStringLiteral("over TLS"));
    client.socket->close();
    ASSERT_TRUE(client.delegate.waitForEnd());
    ASSERT_NE(client.delegate.first(Callback::Kind::Close), nullptr);
    EXPECT_TRUE(client.delegate.first(Callback::Kind::Close)->wasClean);
}

TEST_F(WebSocketNodeTLS, AnUntrustedCertificateFailsTheSocket)
{
    WSTest::Client client(localURL("wss", m_server.port()));
    client.socket->open();
    ASSERT_TRUE(client.delegate.waitForEnd());
    const Callback *failed = client.delegate.first(Callback::Kind::Fail);
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(failed->error.domain(), BVWebSocket::streamErrorDomain());
    EXPECT_EQ(client.delegate.count(Callback::Kind::Open), 0);
    EXPECT_EQ(client.delegate.count(Callback::Kind::Close), 0);
}

TEST_F(WebSocketNodeTLS, PinnedCertificatesReplaceChainValidation)
{
    {
        QNetworkRequest request(localURL("wss", m_server.port()));
        request.setAttribute(BVWebSocket::pinnedCertificatesAttribute,
            QVariant::fromValue(QList<QSslCertificate> {m_certificate.certificate}));
        WSTest::Client client(request);
        client.socket->open();
        EXPECT_TRUE(client.delegate.waitForOpen());
    }
    {
        WSTest::TestCertificate other;
        ASSERT_TRUE(other.make(BVTest::makeTempFolder(QStringLiteral("other"))));
        QNetworkRequest request(localURL("wss", m_server.port()));
        request.setAttribute(BVWebSocket::pinnedCertificatesAttribute,
            QVariant::fromValue(QList<QSslCertificate> {other.certificate}));
        WSTest::Client client(request);
        client.socket->open();
        ASSERT_TRUE(client.delegate.waitForEnd());
        const Callback *failed = client.delegate.first(Callback::Kind::Fail);
        ASSERT_NE(failed, nullptr);
        EXPECT_EQ(failed->error.code(), 23556);
        EXPECT_EQ(failed->error.localizedDescription(), QStringLiteral("Invalid server cert"));
        EXPECT_EQ(client.delegate.count(Callback::Kind::Open), 0);
    }
}
