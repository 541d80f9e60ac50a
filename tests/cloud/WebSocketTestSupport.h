#pragma once

#include "cloud/BVWebSocket.h"
#include "cloud/BVWebSocketDelegate.h"

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>
#include <memory>
#include <vector>

namespace WSTest {

// Everything a socket reported, in order, with the thread it arrived on.
struct Callback
{
    enum class Kind { Open, Message, Fail, Close };
    Kind kind;
    QVariant message;
    BVError error;
    int code = 0;
    QString reason;
    bool wasClean = false;
    bool onMainThread = false;
};

class RecordingDelegate : public BVWebSocketDelegate
{
public:
    void webSocketDidOpen(BVWebSocket *webSocket) override;
    void webSocketDidReceiveMessage(BVWebSocket *webSocket, const QVariant &message) override;
    void webSocketDidFailWithError(BVWebSocket *webSocket, const BVError &error) override;
    void webSocketDidCloseWithCode(
        BVWebSocket *webSocket, int code, const QString &reason, bool wasClean) override;

    int count(Callback::Kind kind) const;
    const Callback *first(Callback::Kind kind) const;
    QList<QVariant> messages() const;
    bool ended() const { return count(Callback::Kind::Fail) + count(Callback::Kind::Close) > 0; }
    // Processes events until the socket opened, failed or closed.
    bool waitForOpen();
    bool waitForEnd();
    bool waitForMessages(int n);

    std::vector<Callback> callbacks;
    bool allOnMainThread = true;
};

// A socket with its recording delegate; the delegate is cleared before it goes away.
struct Client
{
    explicit Client(const QUrl &url, const QStringList &protocols = {});
    explicit Client(const QNetworkRequest &request, const QStringList &protocols = {});
    ~Client();
    std::shared_ptr<BVWebSocket> socket;
    RecordingDelegate delegate;
};

// The Node "ws" server of ws_test_server.js, run as a child process.
class NodeServer
{
public:
    ~NodeServer();
    // Starts it (optionally serving TLS) and waits for its port; false when node or ws is missing.
    bool start(const QStringList &arguments = {});
    quint16 port() const { return m_port; }
    // Everything the server printed so far.
    QString output();
    bool waitForOutput(const QString &text);

private:
    QProcess m_process;
    QString m_output;
    quint16 m_port = 0;
};

// One frame as the client put it on the wire.
struct ClientFrame
{
    bool fin = false;
    int rsv = 0;
    int opcode = 0;
    bool masked = false;
    int lengthForm = 0; // 7, 16 or 64 bits
    QByteArray mask;
    QByteArray payload; // unmasked
};
// Decodes complete frames from the start of `bytes`.
std::vector<ClientFrame> decodeClientFrames(const QByteArray &bytes);

// A bare TCP server on 127.0.0.1 that answers one WebSocket handshake as told and then sends
// prepared bytes, recording what the client sends. Runs on the test's (main) thread.
class RawServer : public QObject
{
public:
    RawServer();
    quint16 port() const { return m_server.serverPort(); }

    // The response to the handshake request; by default a correct 101.
    std::function<QByteArray(const QByteArray &request, const QByteArray &key)> respond;
    // Bytes written right after the response.
    QByteArray afterHandshake;
    // False: read the request but never answer it.
    bool answerHandshake = true;

    static QByteArray switchingProtocols(const QByteArray &key, const QByteArray &extraHeaders = {});
    static QByteArray serverFrame(int firstByte, const QByteArray &payload);

    void send(const QByteArray &bytes);
    // Closes the TCP connection without a close frame.
    void dropConnection();

    QByteArray request;
    QByteArray received;
    bool clientDisconnected = false;
    bool connected = false;

    std::vector<ClientFrame> frames() const { return decodeClientFrames(received); }
    bool waitForFrames(size_t n);

private:
    void readClient();

    QTcpServer m_server;
    QTcpSocket *m_connection = nullptr;
    bool m_handshakeDone = false;
};

// A self-signed certificate for 127.0.0.1 and localhost, made with the openssl tool.
struct TestCertificate
{
    bool make(const QString &folder);
    QString certPath;
    QString keyPath;
    QSslCertificate certificate;
};

} // namespace WSTest
