#include "BVTestHTTPServer.h"
#include "common/BVTestSupport.h"

#include "net/BVFormDataRequest.h"
#include "net/BVHTTPRequest.h"

#include "BVNetTestPrinters.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>

#include <curl/curl.h>

namespace {

using namespace std::chrono_literals;
using Reply = BVTestHTTPServer::Reply;
using Request = BVTestHTTPServer::Request;

struct Ended : BVHTTPRequestDelegate
{
    int finished = 0;
    int failed = 0;
    void requestFinished(BVHTTPRequest *) override { ++finished; }
    void requestFailed(BVHTTPRequest *) override { ++failed; }
};

bool run(const std::shared_ptr<BVHTTPRequest> &request, Ended &ended)
{
    request->setDelegate(&ended);
    request->startAsynchronous();
    return BVTest::waitFor([&] { return ended.finished + ended.failed > 0; }, 20s);
}

// A request that trusts the test's own certificate authority.
class TrustingRequest : public BVHTTPRequest
{
public:
    static std::shared_ptr<TrustingRequest> make(const QUrl &url, const QString &caFile)
    {
        return std::shared_ptr<TrustingRequest>(new TrustingRequest(url, caFile));
    }

protected:
    TrustingRequest(const QUrl &url, const QString &caFile)
        : BVHTTPRequest(url)
        , m_caFile(caFile.toUtf8())
    { }
    void configureHandle(CURL *handle) override
    {
        curl_easy_setopt(handle, CURLOPT_CAINFO, m_caFile.constData());
    }

private:
    QByteArray m_caFile;
};

// An https server on 127.0.0.1 that answers every request with one fixed reply.
class TLSServer : public QObject
{
public:
    TLSServer(const QString &certFile, const QString &keyFile, QByteArray reply)
        : m_reply(std::move(reply))
    {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificate(QSslCertificate::fromPath(certFile).value(0));
        QFile key(keyFile);
        if (key.open(QIODevice::ReadOnly))
            configuration.setPrivateKey(QSslKey(&key, QSsl::Rsa));
        m_server.setSslConfiguration(configuration);
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                    m_received += socket->readAll();
                    if (m_received.contains("\r\n\r\n")) {
                        ++m_requests;
                        m_received.clear();
                        socket->write(m_reply);
                        socket->disconnectFromHost();
                    }
                });
            }
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    int requests() const { return m_requests; }

private:
    QSslServer m_server;
    QByteArray m_reply;
    QByteArray m_received;
    int m_requests = 0;
};

} // namespace

TEST(HTTPRedirect, OnlyHTTPAndHTTPSAreFollowedAndNeverDownToHTTP)
{
    const struct
    {
        const char *from;
        const char *to;
        bool allowed;
    } cases[] = {
        {"http://a.example/x", "http://a.example/y", true},
        {"http://a.example/x", "https://b.example/y", true},
        {"https://a.example/x", "https://b.example/y", true},
        {"https://a.example/x", "http://a.example/y", false},
        {"https://a.example/x", "HTTP://a.example/y", false},
        {"http://a.example/x", "ftp://a.example/y", false},
        {"http://a.example/x", "file:///etc/passwd", false},
        {"http://a.example/x", "gopher://a.example/", false},
        {"http://a.example/x", "http:///nohost", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(BVHTTPRequest::isRedirectAllowed(
                      QUrl(QString::fromLatin1(c.from)), QUrl(QString::fromLatin1(c.to))),
            c.allowed)
            << c.from << " -> " << c.to;
}

TEST(HTTPRedirect, RedirectToAnotherProtocolFailsWithoutConnecting)
{
    BVTestHTTPServer target;
    BVTestHTTPServer server([&](const Request &) {
        return Reply {302, {{"Location", "ftp://127.0.0.1:" + QByteArray::number(target.port()) + "/x"}}, {}};
    });
    auto request = BVHTTPRequest::requestWithURL(server.url("/start"));
    request->setTimeOutSeconds(3);
    Ended ended;
    ASSERT_TRUE(run(request, ended));
    EXPECT_EQ(ended.failed, 1);
    EXPECT_EQ(request->error().code(), BVHTTPRequest::RedirectRefusedError);
    EXPECT_TRUE(request->error().localizedDescription().contains(QStringLiteral("ftp://127.0.0.1")))
        << request->error().localizedDescription().toStdString();
    // No request may reach it: a fixed time, since the check is that nothing comes.
    BVTest::spin(100ms);
    EXPECT_TRUE(target.requests().isEmpty());
}

TEST(HTTPRedirect, HTTPSIsNeverRedirectedToHTTP)
{
    const QString folder = BVTest::makeTempFolder();
    const QString cert = folder + QStringLiteral("/cert.pem");
    const QString key = folder + QStringLiteral("/key.pem");
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
        {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
            QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"),
            QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
            QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1"),
            QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert});
    ASSERT_TRUE(openssl.waitForFinished(30000));
    ASSERT_EQ(openssl.exitCode(), 0) << openssl.readAllStandardError().toStdString();

    BVTestHTTPServer plain([](const Request &) { return Reply {200, {}, "plain text"}; });
    const QByteArray down = plain.baseURL() + "/down";
    TLSServer secure(cert, key,
        "HTTP/1.1 302 Found\r\nLocation: " + down + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    auto request
        = TrustingRequest::make(QUrl(QStringLiteral("https://127.0.0.1:%1/start").arg(secure.port())), cert);
    request->addRequestHeader(QStringLiteral("Authorization"), QStringLiteral("Bearer secret"));
    Ended ended;
    ASSERT_TRUE(run(request, ended));
    EXPECT_EQ(secure.requests(), 1);
    EXPECT_EQ(ended.failed, 1);
    EXPECT_EQ(request->error().code(), BVHTTPRequest::RedirectRefusedError)
        << request->error().description().toStdString();
    // No request may reach it: a fixed time, since the check is that nothing comes.
    BVTest::spin(100ms);
    EXPECT_TRUE(plain.requests().isEmpty());
}

TEST(HTTPRedirect, BodyAndCredentialsGoOnlyToTheSameHost)
{
    // 127.0.0.1 and localhost reach the same machine under two host names.
    BVTestHTTPServer other([](const Request &) { return Reply {200, {}, "other"}; });
    const QByteArray otherHost = "http://localhost:" + QByteArray::number(other.port());
    for (int status : {302, 307, 308}) {
        for (bool sameHost : {true, false}) {
            SCOPED_TRACE(testing::Message() << status << (sameHost ? " same host" : " other host"));
            BVTestHTTPServer server([&](const Request &r) {
                if (r.target == "/moved")
                    return Reply {200, {}, "same"};
                return Reply {
                    status, {{"Location", sameHost ? QByteArray("/moved") : otherHost + "/moved"}}, {}};
            });
            const int otherBefore = int(other.requests().size());
            auto request = BVFormDataRequest::requestWithURL(server.url("/upload"));
            request->setPostValue(QStringLiteral("frame 12"), QStringLiteral("comment"));
            request->addRequestHeader(QStringLiteral("Authorization"), QStringLiteral("Bearer secret"));
            Ended ended;
            ASSERT_TRUE(run(request, ended));
            if (sameHost) {
                ASSERT_EQ(ended.finished, 1) << request->error().description().toStdString();
                ASSERT_EQ(server.requests().size(), 2);
                EXPECT_EQ(server.requests()[1].method, "POST");
                EXPECT_EQ(server.requests()[1].body, "comment=frame%2012");
                EXPECT_EQ(server.requests()[1].headers.value("authorization"), "Bearer secret");
                EXPECT_EQ(request->responseString(), QStringLiteral("same"));
                continue;
            }
            if (status == 302) {
                // Followed as a GET without the body or the credentials.
                ASSERT_EQ(ended.finished, 1) << request->error().description().toStdString();
                ASSERT_EQ(other.requests().size(), otherBefore + 1);
                const Request &received = other.requests().last();
                EXPECT_EQ(received.method, "GET");
                EXPECT_TRUE(received.body.isEmpty());
                EXPECT_FALSE(received.headers.contains("authorization"));
                EXPECT_FALSE(received.headers.contains("content-type"));
                EXPECT_EQ(request->responseString(), QStringLiteral("other"));
                EXPECT_EQ(request->finalURL().host(), QStringLiteral("localhost"));
            } else {
                // 307 and 308 would repeat the body: refused.
                EXPECT_EQ(ended.failed, 1);
                EXPECT_EQ(request->error().code(), BVHTTPRequest::RedirectRefusedError);
                // No request may reach the other server: a fixed time, since nothing must come.
                BVTest::spin(100ms);
                EXPECT_EQ(other.requests().size(), otherBefore);
            }
        }
    }
}

TEST(HTTPReply, ReplyKeptInMemoryIsCappedButHandedOverDataIsNot)
{
    const QByteArray text(300000, 'r');
    BVTestHTTPServer server([&](const Request &) { return Reply {200, {}, text}; });
    const struct
    {
        qint64 limit;
        bool handOver;
        bool fits;
    } cases[] = {
        {300000, false, true},
        {299999, false, false},
        {1000, true, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.limit << (c.handOver ? " handed over" : " kept"));
        auto request = BVHTTPRequest::requestWithURL(server.url("/big"));
        request->setMaximumResponseSize(c.limit);
        QByteArray handedOver;
        if (c.handOver)
            request->setDidReceiveDataSelector(
                [&](BVHTTPRequest *, const QByteArray &bytes) { handedOver += bytes; });
        Ended ended;
        ASSERT_TRUE(run(request, ended));
        BVTest::waitFor([&] { return !c.handOver || handedOver.size() == text.size(); });
        if (c.fits) {
            EXPECT_EQ(ended.finished, 1) << request->error().description().toStdString();
            EXPECT_EQ(c.handOver ? handedOver : request->responseData(), text);
        } else {
            EXPECT_EQ(ended.failed, 1);
            EXPECT_EQ(request->error().code(), BVHTTPRequest::ResponseTooLargeError);
            EXPECT_EQ(request->error().localizedDescription(),
                QStringLiteral("The reply is larger than 299999 bytes, the most a request keeps in memory"));
        }
    }
    EXPECT_EQ(BVHTTPRequest::defaultMaximumResponseSize(), qint64(256) * 1024 * 1024);
    EXPECT_EQ(
        BVHTTPRequest::requestWithURL(server.url("/x"))->maximumResponseSize(), qint64(256) * 1024 * 1024);
}

TEST(HTTPForm, PartNamesAreEscapedAsBrowsersDo)
{
    BVTestHTTPServer server([](const Request &) { return Reply {200, {}, {}}; });
    const QString folder = BVTest::makeTempFolder();
    const QString path = folder + QStringLiteral("/a\"b\r\nX-Injected: 1.txt");
    ASSERT_TRUE(BVTest::writeFile(path, "pixels"));
    auto request = BVFormDataRequest::requestWithURL(server.url("/upload"));
    request->setPostValue(QStringLiteral("v"), QStringLiteral("ti\"tle\r\nX-Other: 2"));
    request->setFile(path, QStringLiteral("fi\"le"));
    Ended ended;
    ASSERT_TRUE(run(request, ended));
    ASSERT_EQ(ended.finished, 1) << request->error().description().toStdString();
    const QByteArray boundary = request->boundary().toUtf8();
    const QByteArray expected = "--" + boundary
        + "\r\nContent-Disposition: form-data; name=\"ti%22tle%0D%0AX-Other: 2\"\r\n\r\nv\r\n--" + boundary
        + "\r\nContent-Disposition: form-data; name=\"fi%22le\"; filename=\"a%22b%0D%0AX-Injected: "
          "1.txt\"\r\n"
          "Content-Type: text/plain\r\n\r\npixels\r\n--"
        + boundary + "--\r\n";
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0].body, expected);
}
