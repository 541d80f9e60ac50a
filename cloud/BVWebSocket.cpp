#include "cloud/BVWebSocket.h"

#include "cloud/BVWebSocketDelegate.h"
#include "cloud/BVWebSocketHandshake.h"
#include "cloud/BVWebSocketNetworkThread.h"
#include "support/BVLog.h"
#include "support/BVMainThread.h"
#include "support/BVWorkQueue.h"

#include <QAbstractSocket>
#include <QCoreApplication>

#include <openssl/rand.h>

#include <new>

namespace {

bool isSecureScheme(const QString &scheme)
{
    return scheme == QLatin1String("wss") || scheme == QLatin1String("https");
}

bool isKnownScheme(const QString &scheme)
{
    return isSecureScheme(scheme) || scheme == QLatin1String("ws") || scheme == QLatin1String("http");
}

} // namespace

BVWebSocket::BVWebSocket(const QUrl &url, const QStringList &protocols)
{
    init(url, protocols);
}

BVWebSocket::BVWebSocket(const QNetworkRequest &request, const QStringList &protocols)
{
    init(request.url(), protocols);
    for (const QByteArray &name : request.rawHeaderList())
        m_requestHeaders.append({name, request.rawHeader(name)});
    const QVariant pinned = request.attribute(pinnedCertificatesAttribute);
    if (pinned.canConvert<QList<QSslCertificate>>())
        m_pinnedCertificates = pinned.value<QList<QSslCertificate>>();
}

void BVWebSocket::init(const QUrl &url, const QStringList &protocols)
{
    m_url = url;
    m_requestedProtocols = protocols;
    m_link = std::make_shared<QPointer<BVWebSocketStream>>();
    if (!isKnownScheme(url.scheme().toLower()))
        BVLog::appendLog("WebSocket: unsupported scheme in %@", url.toString());
}

BVWebSocket::~BVWebSocket()
{
    // Reached only once closed, failed or never opened: an open socket holds itself.
    Link link = m_link;
    BVWebSocketNetworkThread::post([link] {
        if (BVWebSocketStream *stream = *link)
            stream->discard();
    });
}

QString BVWebSocket::protocol() const
{
    std::lock_guard lock(m_protocolMutex);
    return m_protocol;
}

void BVWebSocket::setCaCertificates(const QList<QSslCertificate> &certificates)
{
    m_caCertificates = certificates;
}

void BVWebSocket::setCloseTimeout(double seconds)
{
    m_closeTimeoutMs = int(std::clamp(seconds, 0.0, 3600.0) * 1000);
}

void BVWebSocket::open()
{
    if (m_openCalled.exchange(true)) {
        BVLog::appendLog("WebSocket: open called twice for %@", m_url.toString());
        return;
    }
    std::shared_ptr<BVWebSocket> self = weak_from_this().lock();
    if (!self) {
        BVLog::appendLog("WebSocket: %@ must be owned by a shared pointer to open", m_url.toString());
        return;
    }
    m_self = self;
    if (!enqueue([self] { self->start(); })) {
        // Nothing else runs for this socket: fail here.
        failWithError(BVError::withDescription(
            streamErrorDomain(), -1, QStringLiteral("The network thread is not running")));
    }
}

void BVWebSocket::send(const QString &text)
{
    if (readyState() != Open) {
        BVLog::appendLog("Invalid State: Cannot call send: until connection is open");
        return;
    }
    sendMessage(BVWebSocketFrame::Text, text.toUtf8());
}

void BVWebSocket::send(const QByteArray &bytes)
{
    if (readyState() != Open) {
        BVLog::appendLog("Invalid State: Cannot call send: until connection is open");
        return;
    }
    sendMessage(BVWebSocketFrame::Binary, bytes);
}

void BVWebSocket::sendMessage(BVWebSocketFrame::Opcode opcode, QByteArray payload)
{
    std::shared_ptr<BVWebSocket> self = shared_from_this();
    enqueue([self, opcode, payload = std::move(payload)] {
        // The socket may have started closing since the caller looked.
        if (self->readyState() == Open)
            self->sendFrame(opcode, payload);
    });
}

void BVWebSocket::close()
{
    closeWithCode(1000, {});
}

void BVWebSocket::closeWithCode(int code, const QString &reason)
{
    std::shared_ptr<BVWebSocket> self = weak_from_this().lock();
    if (!self)
        return;
    enqueue([self, code, reason] { self->closeOnQueue(code, reason); });
}

bool BVWebSocket::enqueue(std::function<void()> job)
{
    // Jobs queued earlier, or the one running now, go first: then this one waits its turn.
    if (BVWebSocketNetworkThread::isCurrent() && !m_runningJob && m_queuedJobs.load() == 0) {
        m_runningJob = true;
        job();
        m_runningJob = false;
        return true;
    }
    ++m_queuedJobs;
    std::shared_ptr<BVWebSocket> self = shared_from_this();
    const bool posted = BVWebSocketNetworkThread::post([self, job = std::move(job)] {
        --self->m_queuedJobs;
        self->m_runningJob = true;
        job();
        self->m_runningJob = false;
    });
    if (!posted)
        --m_queuedJobs;
    return posted;
}

// ---- Work queue ----

void BVWebSocket::start()
{
    const QString scheme = m_url.scheme().toLower();
    if (!isKnownScheme(scheme) || m_url.host().isEmpty()) {
        failWithError(BVError::withDescription(
            errorDomain(), -1, QStringLiteral("Invalid WebSocket address: ") + m_url.toString()));
        return;
    }
    if (readyState() != Connecting)
        return; // closed before the connection was started
    const QByteArray key = BVWebSocketHandshake::generateKey();
    if (key.isEmpty()) {
        failWithError(BVError::withDescription(
            streamErrorDomain(), -1, QStringLiteral("Cannot generate a random handshake key")));
        return;
    }
    m_handshake = std::make_unique<BVWebSocketHandshake>(m_url, m_requestedProtocols, m_requestHeaders, key);

    const bool secure = isSecureScheme(scheme);
    const quint16 port = quint16(m_url.port(secure ? 443 : 80));
    const QString host = m_url.host();
    std::weak_ptr<BVWebSocket> weak = weak_from_this();
    BVWebSocketStream::Sink sink = [weak](BVWebSocketStream::Event event) {
        if (std::shared_ptr<BVWebSocket> self = weak.lock())
            self->enqueue(
                [self, event = std::move(event)]() mutable { self->handleStreamEvent(std::move(event)); });
    };
    // On the network thread already (the work queue runs there).
    m_streamStarted = BVWebSocketNetworkThread::isCurrent();
    if (m_streamStarted) {
        auto *stream = new BVWebSocketStream(sink, BVWebSocketNetworkThread::context());
        *m_link = stream;
        stream->connectToHost(host, port, secure, m_caCertificates, !m_pinnedCertificates.isEmpty());
    }
    if (!m_streamStarted)
        failWithError(BVError::withDescription(
            streamErrorDomain(), -1, QStringLiteral("The network thread is not running")));
}

void BVWebSocket::handleStreamEvent(BVWebSocketStream::Event event)
{
    using Kind = BVWebSocketStream::Event::Kind;
    switch (event.kind) {
    case Kind::Connected:
        streamConnected(event.peerChain);
        break;
    case Kind::Data:
        streamReceived(event.data);
        break;
    case Kind::WriteError:
        if (m_disconnecting)
            break; // the server hung up after its close frame, before our answer went out
        failWithError(
            BVError::withDescription(streamErrorDomain(), 2145, QStringLiteral("Error writing to stream")));
        break;
    case Kind::Error:
        if (readyState() == Closing || m_disconnecting) {
            // The server went away while we were closing anyway.
            break;
        }
        failWithError(BVError::withDescription(streamErrorDomain(), event.code, event.text));
        break;
    case Kind::CloseTimeout:
        if (!m_disconnecting) {
            BVLog::appendLog("WebSocket %@: no close frame from the server in time", m_url.toString());
            m_closeCode = 1006;
            m_closeReason = QStringLiteral("Close handshake timed out");
            m_wasClean = false;
            disconnect();
        }
        break;
    case Kind::Closed:
        if (!m_disconnecting && !m_parser.hasReceivedClose() && readyState() != Closing) {
            // The server dropped the connection without closing the protocol first.
            m_closeCode = 1006;
            m_closeReason = QStringLiteral("Stream end encountered");
            m_wasClean = false;
        }
        if (readyState() == Connecting && !m_failed) {
            failWithError(
                BVError::withDescription(streamErrorDomain(), int(QAbstractSocket::RemoteHostClosedError),
                    QStringLiteral("The server closed the connection")));
        }
        finish();
        break;
    }
}

void BVWebSocket::streamConnected(const QList<QByteArray> &peerChain)
{
    if (readyState() != Connecting || !m_handshake)
        return;
    if (!m_pinnedCertificates.isEmpty()) {
        bool matched = false;
        for (const QSslCertificate &pinned : std::as_const(m_pinnedCertificates))
            matched = matched || peerChain.contains(pinned.toDer());
        if (!matched) {
            failWithError(
                BVError::withDescription(streamErrorDomain(), 23556, QStringLiteral("Invalid server cert")));
            return;
        }
    }
    m_output.append(m_handshake->request());
    pumpWriting();
}

void BVWebSocket::streamReceived(const QByteArray &bytes)
{
    if (m_failed || readyState() == Closed)
        return;
    if (readyState() == Connecting) {
        if (!m_handshake)
            return;
        switch (m_handshake->appendResponse(bytes)) {
        case BVWebSocketHandshake::Status::Incomplete:
            return;
        case BVWebSocketHandshake::Status::Failed:
            failWithError(m_handshake->error());
            return;
        case BVWebSocketHandshake::Status::Accepted:
            break;
        }
        {
            std::lock_guard lock(m_protocolMutex);
            m_protocol = m_handshake->protocol();
        }
        const QByteArray remainder = m_handshake->remainder();
        m_handshake.reset();
        setReadyState(Open);
        deliver([](BVWebSocketDelegate *d, BVWebSocket *s) { d->webSocketDidOpen(s); });
        m_parser.append(remainder);
    } else {
        m_parser.append(bytes);
    }
    handleFrames();
}

void BVWebSocket::handleFrames()
{
    using Kind = BVWebSocketFrameParser::Event::Kind;
    for (;;) {
        BVWebSocketFrameParser::Event event = m_parser.next();
        switch (event.kind) {
        case Kind::None:
            return;
        case Kind::Text:
            deliver([text = std::move(event.text)](BVWebSocketDelegate *d, BVWebSocket *s) {
                d->webSocketDidReceiveMessage(s, QVariant(text));
            });
            break;
        case Kind::Binary:
            deliver([data = std::move(event.data)](BVWebSocketDelegate *d, BVWebSocket *s) {
                d->webSocketDidReceiveMessage(s, QVariant(data));
            });
            break;
        case Kind::Ping:
            if (readyState() == Open)
                sendFrame(BVWebSocketFrame::Pong, event.data);
            break;
        case Kind::Pong:
            break;
        case Kind::Close:
            m_closeCode = event.code;
            m_closeReason = event.text;
            m_wasClean = true;
            if (readyState() == Open) {
                setReadyState(Closing);
                sendFrame(BVWebSocketFrame::Close, BVWebSocketFrame::closePayload(1000, {}));
            }
            disconnect();
            return;
        case Kind::Error:
            closeWithProtocolError(event.code, event.text);
            return;
        }
    }
}

void BVWebSocket::sendFrame(BVWebSocketFrame::Opcode opcode, QByteArrayView payload)
{
    std::array<uint8_t, 4> mask;
    if (RAND_bytes(mask.data(), int(mask.size())) != 1) {
        failWithError(BVError::withDescription(
            streamErrorDomain(), -1, QStringLiteral("Cannot generate a frame mask")));
        return;
    }
    try {
        m_output.append(BVWebSocketFrame::encode(opcode, payload, mask));
    } catch (const std::bad_alloc &) {
        BVLog::appendLog(
            "WebSocket %@: cannot allocate a frame of %ld bytes", m_url.toString(), long(payload.size()));
        closeOnQueue(1009, QStringLiteral("Message too big"));
        return;
    }
    pumpWriting();
}

void BVWebSocket::pumpWriting()
{
    if (m_output.isEmpty())
        return;
    QByteArray bytes;
    bytes.swap(m_output);
    onStream([bytes](BVWebSocketStream *stream) { stream->write(bytes); });
}

void BVWebSocket::closeOnQueue(int code, const QString &reason)
{
    const int state = readyState();
    if (state == Closing || state == Closed)
        return;
    m_closeCode = code;
    m_closeReason = reason;
    if (state == Connecting) {
        setReadyState(Closing);
        disconnect();
        return;
    }
    setReadyState(Closing);
    int sendCode = code;
    if (!BVWebSocketFrame::isValidCloseCode(code)) {
        BVLog::appendLog("WebSocket %@: close code %d may not be sent, sending 1000", m_url.toString(), code);
        sendCode = 1000;
    }
    sendFrame(BVWebSocketFrame::Close, BVWebSocketFrame::closePayload(sendCode, reason));
    if (!m_disconnecting) {
        const int timeout = m_closeTimeoutMs;
        onStream([timeout](BVWebSocketStream *stream) { stream->startCloseTimer(timeout); });
    }
}

void BVWebSocket::closeWithProtocolError(int code, const QString &reason)
{
    BVLog::appendLog("WebSocket %@: closing with %d: %@", m_url.toString(), code, reason);
    closeOnQueue(code, reason);
    // Whatever closed before, the reason the connection ends is this one.
    m_closeCode = code;
    m_closeReason = reason;
    m_wasClean = false;
    disconnect();
}

void BVWebSocket::disconnect()
{
    if (m_disconnecting)
        return;
    m_disconnecting = true;
    pumpWriting();
    if (!m_streamStarted) {
        finish();
        return;
    }
    onStream([](BVWebSocketStream *stream) { stream->closeAfterWrites(); });
}

void BVWebSocket::failWithError(const BVError &error)
{
    if (readyState() == Closed || m_failed)
        return;
    m_failed = true;
    BVLog::appendLog("WebSocket %@ failed: %@", m_url.toString(), error.description());
    deliver([error](BVWebSocketDelegate *d, BVWebSocket *s) { d->webSocketDidFailWithError(s, error); });
    setReadyState(Closed);
    disconnect();
    finish();
}

void BVWebSocket::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    setReadyState(Closed);
    if (!m_failed) {
        const int code = m_closeCode;
        const QString reason = m_closeReason;
        const bool wasClean = m_wasClean;
        deliver([code, reason, wasClean](BVWebSocketDelegate *d, BVWebSocket *s) {
            d->webSocketDidCloseWithCode(s, code, reason, wasClean);
        });
    }
    // The self-reference goes last: deliver() and pending jobs hold their own.
    m_self.reset();
}

void BVWebSocket::setReadyState(ReadyState state)
{
    int current = m_readyState.load();
    while (current < state && !m_readyState.compare_exchange_weak(current, state)) { }
}

void BVWebSocket::deliver(std::function<void(BVWebSocketDelegate *, BVWebSocket *)> callback)
{
    std::shared_ptr<BVWebSocket> self = shared_from_this();
    auto job = [self, callback = std::move(callback)] {
        if (BVWebSocketDelegate *d = self->delegate())
            callback(d, self.get());
    };
    if (BVWorkQueue *queue = m_delegateQueue.load())
        queue->async(std::move(job));
    else
        BVMainThread::async(std::move(job));
}

void BVWebSocket::onStream(std::function<void(BVWebSocketStream *)> job)
{
    // Work queue jobs run on the network thread, where the stream lives.
    if (BVWebSocketNetworkThread::isCurrent()) {
        if (BVWebSocketStream *stream = *m_link)
            job(stream);
        return;
    }
    const Link link = m_link;
    BVWebSocketNetworkThread::post([link, job = std::move(job)] {
        if (BVWebSocketStream *stream = *link)
            job(stream);
    });
}
