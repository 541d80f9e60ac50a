#pragma once

#include "cloud/BVWebSocketFrame.h"
#include "cloud/BVWebSocketFrameParser.h"
#include "cloud/BVWebSocketStream.h"
#include "support/BVError.h"

#include <QByteArray>
#include <QList>
#include <QNetworkRequest>
#include <QPointer>
#include <QSslCertificate>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <memory>
#include <mutex>

class BVWebSocketDelegate;
class BVWebSocketHandshake;
class BVWorkQueue;

// A WebSocket client connection (protocol version 13) for short text messages: the live comment
// channel of a cloud file and the two sockets of a synced review session.
//
// Own it through std::shared_ptr (std::make_shared): once opened it keeps itself alive until it has
// closed or failed. Its stream lives on the shared WebSocket network thread; every state change,
// frame parse and write runs on its own serial work queue, whose jobs run one at a time, in order,
// on that same thread (so a message crosses threads only to and from the delegate queue); the
// delegate is called on the delegate queue. open(), send() and closeWithCode() may be called from
// any thread.
class BVWebSocket : public std::enable_shared_from_this<BVWebSocket>
{
public:
    enum ReadyState { Connecting = 0, Open = 1, Closing = 2, Closed = 3 };

    // Handshake validation errors.
    static QString errorDomain() { return QStringLiteral("BVWebSocketErrorDomain"); }
    // Transport errors: the socket layer's own codes, and 2132, 2145 and 23556.
    static QString streamErrorDomain() { return QStringLiteral("BVSocketStreamErrorDomain"); }
    // Request attribute (BV_SSLPinnedCertificates) holding a QList<QSslCertificate>: the server's
    // chain must contain one of them, and the system's chain validation is switched off.
    static constexpr QNetworkRequest::Attribute pinnedCertificatesAttribute
        = QNetworkRequest::Attribute(QNetworkRequest::User + 0x4256);

    // The scheme must be "ws", "wss", "http" or "https"; the last two stand for the first two.
    explicit BVWebSocket(const QUrl &url, const QStringList &protocols = {});
    // The request's headers are copied into the handshake.
    explicit BVWebSocket(const QNetworkRequest &request, const QStringList &protocols = {});
    ~BVWebSocket();
    BVWebSocket(const BVWebSocket &) = delete;
    BVWebSocket &operator=(const BVWebSocket &) = delete;

    const QUrl &url() const { return m_url; }
    // Connecting, Open, Closing or Closed; it only ever increases.
    int readyState() const { return m_readyState.load(); }
    // The sub-protocol the server accepted; empty until open or when none was chosen.
    QString protocol() const;

    BVWebSocketDelegate *delegate() const { return m_delegate.load(); }
    // Not owned; clear it before the delegate goes away. Callbacks read it when they run.
    void setDelegate(BVWebSocketDelegate *delegate) { m_delegate.store(delegate); }
    // Where callbacks run; nullptr (the default) means the main thread. Not owned.
    void setDelegateQueue(BVWorkQueue *queue) { m_delegateQueue.store(queue); }
    // Certificates trusted for TLS besides the system's. Set before open().
    void setCaCertificates(const QList<QSslCertificate> &certificates);
    // How long a close we started waits for the server's close frame. Set before open().
    void setCloseTimeout(double seconds);

    // Opens the connection. Calling it twice is a programming error (logged, ignored).
    void open();
    // Queues one text (UTF-8) or binary frame; logs and drops the message unless open.
    void send(const QString &text);
    void send(const QByteArray &bytes);
    // closeWithCode(1000, {}).
    void close();
    // Ignored when closing or closed; while connecting drops the connection without a close frame;
    // otherwise sends a close frame and waits for the server's.
    void closeWithCode(int code, const QString &reason);

private:
    using Link = std::shared_ptr<QPointer<BVWebSocketStream>>;

    void init(const QUrl &url, const QStringList &protocols);
    void sendMessage(BVWebSocketFrame::Opcode opcode, QByteArray payload);
    // Queues a job on the socket's serial work queue. A job arriving on the network thread while
    // the queue is idle runs at once. Answers false (job dropped) when the network thread is gone.
    bool enqueue(std::function<void()> job);

    // Work queue only, from here on.
    void start();
    void handleStreamEvent(BVWebSocketStream::Event event);
    void streamConnected(const QList<QByteArray> &peerChain);
    void streamReceived(const QByteArray &bytes);
    void handleFrames();
    void sendFrame(BVWebSocketFrame::Opcode opcode, QByteArrayView payload);
    void pumpWriting();
    void closeOnQueue(int code, const QString &reason);
    void closeWithProtocolError(int code, const QString &reason);
    void disconnect();
    void failWithError(const BVError &error);
    void finish();
    void setReadyState(ReadyState state);
    void deliver(std::function<void(BVWebSocketDelegate *, BVWebSocket *)> callback);
    void onStream(std::function<void(BVWebSocketStream *)> job);

    QUrl m_url;
    QStringList m_requestedProtocols;
    QList<QPair<QByteArray, QByteArray>> m_requestHeaders;
    QList<QSslCertificate> m_pinnedCertificates;
    QList<QSslCertificate> m_caCertificates;
    int m_closeTimeoutMs = 10000;

    std::atomic<int> m_readyState {Connecting};
    std::atomic<bool> m_openCalled {false};
    std::atomic<BVWebSocketDelegate *> m_delegate {nullptr};
    std::atomic<BVWorkQueue *> m_delegateQueue {nullptr};
    mutable std::mutex m_protocolMutex;
    QString m_protocol;

    // Jobs of the work queue posted to the network thread and not yet run.
    std::atomic<int> m_queuedJobs {0};
    // A job of the work queue is running (network thread only).
    bool m_runningJob = false;
    // The stream, only touched on the network thread.
    Link m_link;
    // Held from open() until closed or failed.
    std::shared_ptr<BVWebSocket> m_self;

    std::unique_ptr<BVWebSocketHandshake> m_handshake;
    BVWebSocketFrameParser m_parser;
    QByteArray m_output;
    bool m_streamStarted = false;
    bool m_failed = false;
    bool m_disconnecting = false;
    bool m_finished = false;
    bool m_wasClean = false;
    int m_closeCode = 0;
    QString m_closeReason;
};
