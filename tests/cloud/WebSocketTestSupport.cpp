#include "WebSocketTestSupport.h"

#include "cloud/BVWebSocketHandshake.h"
#include "common/BVTestSupport.h"
#include "support/BVMainThread.h"

#include <QProcessEnvironment>

namespace WSTest {

using namespace std::chrono_literals;

void RecordingDelegate::webSocketDidOpen(BVWebSocket *)
{
    allOnMainThread = allOnMainThread && BVMainThread::isMainThread();
    callbacks.push_back({Callback::Kind::Open, {}, {}, 0, {}, false, BVMainThread::isMainThread()});
}

void RecordingDelegate::webSocketDidReceiveMessage(BVWebSocket *, const QVariant &message)
{
    allOnMainThread = allOnMainThread && BVMainThread::isMainThread();
    callbacks.push_back({Callback::Kind::Message, message, {}, 0, {}, false, BVMainThread::isMainThread()});
}

void RecordingDelegate::webSocketDidFailWithError(BVWebSocket *, const BVError &error)
{
    allOnMainThread = allOnMainThread && BVMainThread::isMainThread();
    callbacks.push_back({Callback::Kind::Fail, {}, error, 0, {}, false, BVMainThread::isMainThread()});
}

void RecordingDelegate::webSocketDidCloseWithCode(
    BVWebSocket *, int code, const QString &reason, bool wasClean)
{
    allOnMainThread = allOnMainThread && BVMainThread::isMainThread();
    callbacks.push_back(
        {Callback::Kind::Close, {}, {}, code, reason, wasClean, BVMainThread::isMainThread()});
}

int RecordingDelegate::count(Callback::Kind kind) const
{
    return int(std::count_if(
        callbacks.begin(), callbacks.end(), [kind](const Callback &c) { return c.kind == kind; }));
}

const Callback *RecordingDelegate::first(Callback::Kind kind) const
{
    for (const Callback &c : callbacks)
        if (c.kind == kind)
            return &c;
    return nullptr;
}

QList<QVariant> RecordingDelegate::messages() const
{
    QList<QVariant> list;
    for (const Callback &c : callbacks)
        if (c.kind == Callback::Kind::Message)
            list.append(c.message);
    return list;
}

bool RecordingDelegate::waitForOpen()
{
    return BVTest::waitFor([this] { return count(Callback::Kind::Open) > 0 || ended(); })
        && count(Callback::Kind::Open) > 0;
}

bool RecordingDelegate::waitForEnd()
{
    return BVTest::waitFor([this] { return ended(); });
}

bool RecordingDelegate::waitForMessages(int n)
{
    return BVTest::waitFor([this, n] { return count(Callback::Kind::Message) >= n || ended(); })
        && count(Callback::Kind::Message) >= n;
}

Client::Client(const QUrl &url, const QStringList &protocols)
    : socket(std::make_shared<BVWebSocket>(url, protocols))
{
    socket->setDelegate(&delegate);
}

Client::Client(const QNetworkRequest &request, const QStringList &protocols)
    : socket(std::make_shared<BVWebSocket>(request, protocols))
{
    socket->setDelegate(&delegate);
}

Client::~Client()
{
    socket->setDelegate(nullptr);
    // A test server may never answer the close: give up on it well within the wait below, so
    // that the socket lets go of itself before the test ends.
    socket->setCloseTimeout(1);
    socket->close();
    // Let the close finish, so that no socket outlives its test.
    BVTest::waitFor([this] { return socket->readyState() == BVWebSocket::Closed; }, 3s);
}

NodeServer::~NodeServer()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool NodeServer::start(const QStringList &arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NODE_PATH"), QStringLiteral("/usr/share/nodejs"));
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("node"),
        QStringList {QStringLiteral(BV_SOURCE_DIR "/tests/cloud/ws_test_server.js")} + arguments);
    if (!m_process.waitForStarted(10000))
        return false;
    if (!waitForOutput(QStringLiteral("PORT ")))
        return false;
    const qsizetype at = m_output.indexOf(QStringLiteral("PORT "));
    m_port = quint16(m_output.mid(at + 5).section(u'\n', 0, 0).trimmed().toUInt());
    return m_port != 0;
}

QString NodeServer::output()
{
    m_output += QString::fromUtf8(m_process.readAllStandardOutput());
    return m_output;
}

bool NodeServer::waitForOutput(const QString &text)
{
    return BVTest::waitFor([&] {
        m_process.waitForReadyRead(5);
        return output().contains(text) || m_process.state() == QProcess::NotRunning;
    }) && output().contains(text);
}

std::vector<ClientFrame> decodeClientFrames(const QByteArray &bytes)
{
    std::vector<ClientFrame> frames;
    qsizetype at = 0;
    const auto byte = [&](qsizetype i) { return uint8_t(bytes[i]); };
    while (bytes.size() - at >= 2) {
        ClientFrame frame;
        frame.fin = byte(at) & 0x80;
        frame.rsv = (byte(at) >> 4) & 0x7;
        frame.opcode = byte(at) & 0x0F;
        frame.masked = byte(at + 1) & 0x80;
        uint64_t length = byte(at + 1) & 0x7F;
        qsizetype header = 2;
        frame.lengthForm = 7;
        if (length == 126) {
            if (bytes.size() - at < 4)
                break;
            length = (uint64_t(byte(at + 2)) << 8) | byte(at + 3);
            header = 4;
            frame.lengthForm = 16;
        } else if (length == 127) {
            if (bytes.size() - at < 10)
                break;
            length = 0;
            for (int i = 2; i < 10; ++i)
                length = (length << 8) | byte(at + i);
            header = 10;
            frame.lengthForm = 64;
        }
        if (frame.masked) {
            if (bytes.size() - at < header + 4)
                break;
            frame.mask = bytes.mid(at + header, 4);
            header += 4;
        }
        if (uint64_t(bytes.size() - at - header) < length)
            break;
        frame.payload = bytes.mid(at + header, qsizetype(length));
        if (frame.masked)
            for (qsizetype i = 0; i < frame.payload.size(); ++i)
                frame.payload[i] = char(frame.payload[i] ^ frame.mask[i % 4]);
        at += header + qsizetype(length);
        frames.push_back(frame);
    }
    return frames;
}

RawServer::RawServer()
{
    respond = [](const QByteArray &, const QByteArray &key) { return switchingProtocols(key); };
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        QTcpSocket *socket = m_server.nextPendingConnection();
        if (m_connection) {
            socket->abort();
            return;
        }
        m_connection = socket;
        connected = true;
        connect(socket, &QTcpSocket::readyRead, this, &RawServer::readClient);
        connect(socket, &QTcpSocket::disconnected, this, [this] { clientDisconnected = true; });
    });
}

QByteArray RawServer::switchingProtocols(const QByteArray &key, const QByteArray &extraHeaders)
{
    return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Accept: "
        + BVWebSocketHandshake::acceptForKey(key) + "\r\n" + extraHeaders + "\r\n";
}

QByteArray RawServer::serverFrame(int firstByte, const QByteArray &payload)
{
    QByteArray frame;
    frame.append(char(firstByte));
    if (payload.size() <= 125) {
        frame.append(char(payload.size()));
    } else if (payload.size() <= 0xFFFF) {
        frame.append(char(126));
        frame.append(char(payload.size() >> 8));
        frame.append(char(payload.size() & 0xFF));
    } else {
        frame.append(char(127));
        for (int shift = 56; shift >= 0; shift -= 8)
            frame.append(char((uint64_t(payload.size()) >> shift) & 0xFF));
    }
    return frame + payload;
}

void RawServer::send(const QByteArray &bytes)
{
    if (m_connection)
        m_connection->write(bytes);
}

void RawServer::dropConnection()
{
    if (m_connection)
        m_connection->disconnectFromHost();
}

bool RawServer::waitForFrames(size_t n)
{
    return BVTest::waitFor([&] { return frames().size() >= n; });
}

void RawServer::readClient()
{
    const QByteArray bytes = m_connection->readAll();
    if (m_handshakeDone) {
        received += bytes;
        return;
    }
    request += bytes;
    const qsizetype end = request.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    received = request.mid(end + 4);
    request.truncate(end + 4);
    m_handshakeDone = true;
    if (!answerHandshake)
        return;
    QByteArray key;
    for (const QByteArray &line : request.split('\n')) {
        if (line.toLower().startsWith("sec-websocket-key:"))
            key = line.mid(line.indexOf(':') + 1).trimmed();
    }
    m_connection->write(respond(request, key) + afterHandshake);
}

bool TestCertificate::make(const QString &folder)
{
    certPath = folder + QStringLiteral("/cert.pem");
    keyPath = folder + QStringLiteral("/key.pem");
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
        {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
            QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
            QStringLiteral("-nodes"), QStringLiteral("-keyout"), keyPath, QStringLiteral("-out"), certPath,
            QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
            QStringLiteral("/CN=localhost"), QStringLiteral("-addext"),
            QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost")});
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
        return false;
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(certPath);
    if (certificates.isEmpty())
        return false;
    certificate = certificates.first();
    return true;
}

} // namespace WSTest
