#include "cloud/BVWebSocketStream.h"

#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

BVWebSocketStream::BVWebSocketStream(Sink sink, QObject *parent)
    : QObject(parent)
    , m_sink(std::move(sink))
{ }

BVWebSocketStream::~BVWebSocketStream() = default;

void BVWebSocketStream::connectToHost(const QString &host, quint16 port, bool secure,
    const QList<QSslCertificate> &caCertificates, bool skipChainValidation)
{
    m_secure = secure;
    if (secure) {
        if (!QSslSocket::supportsSsl()) {
            report({Event::Kind::Error, {}, {}, int(QAbstractSocket::SslInternalError),
                QStringLiteral("TLS is not available")});
            reportClosed();
            return;
        }
        auto *socket = new QSslSocket(this);
        QSslConfiguration configuration = socket->sslConfiguration();
        configuration.setProtocol(QSsl::SecureProtocols);
        if (!caCertificates.isEmpty())
            configuration.addCaCertificates(caCertificates);
        if (skipChainValidation)
            configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
        socket->setSslConfiguration(configuration);
        connect(socket, &QSslSocket::encrypted, this, [this, socket] {
            QList<QByteArray> chain;
            for (const QSslCertificate &certificate : socket->peerCertificateChain())
                chain.append(certificate.toDer());
            report({Event::Kind::Connected, {}, chain, 0, {}});
        });
        connect(socket, &QSslSocket::sslErrors, this, [this](const QList<QSslError> &errors) {
            for (const QSslError &error : errors)
                m_sslErrors.append(error.errorString());
        });
        m_socket = socket;
    } else {
        m_socket = new QTcpSocket(this);
        connect(m_socket, &QTcpSocket::connected, this, [this] {
            report({Event::Kind::Connected, {}, {}, 0, {}});
        });
    }
    connect(m_socket, &QTcpSocket::readyRead, this, &BVWebSocketStream::readAvailable);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &BVWebSocketStream::socketError);
    connect(m_socket, &QTcpSocket::disconnected, this, &BVWebSocketStream::reportClosed);

    if (secure)
        static_cast<QSslSocket *>(m_socket)->connectToHostEncrypted(host, port);
    else
        m_socket->connectToHost(host, port);
    // Short messages go out at once rather than waiting to be coalesced.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

void BVWebSocketStream::write(const QByteArray &bytes)
{
    if (!m_socket || m_closed || bytes.isEmpty())
        return;
    if (m_socket->write(bytes) != bytes.size()) {
        report({Event::Kind::WriteError, {}, {}, int(m_socket->error()), m_socket->errorString()});
        return;
    }
    // Before the TLS session is up the data waits in the socket's buffer.
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->flush();
}

void BVWebSocketStream::closeAfterWrites()
{
    if (m_closed)
        return;
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState) {
        if (m_socket)
            m_socket->abort();
        reportClosed();
        return;
    }
    // Qt keeps the connection until its write buffer is empty, then reports disconnected().
    m_socket->disconnectFromHost();
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        reportClosed();
}

void BVWebSocketStream::startCloseTimer(int milliseconds)
{
    if (m_closed)
        return;
    if (!m_closeTimer) {
        m_closeTimer = new QTimer(this);
        m_closeTimer->setSingleShot(true);
        connect(m_closeTimer, &QTimer::timeout, this, [this] {
            if (!m_closed)
                report({Event::Kind::CloseTimeout, {}, {}, 0, {}});
        });
    }
    m_closeTimer->start(milliseconds);
}

void BVWebSocketStream::discard()
{
    m_sink = nullptr;
    m_closed = true;
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    deleteLater();
}

void BVWebSocketStream::readAvailable()
{
    while (m_socket && !m_closed && m_socket->bytesAvailable() > 0) {
        QByteArray chunk = m_socket->read(readChunkSize);
        if (chunk.isEmpty())
            break;
        report({Event::Kind::Data, std::move(chunk), {}, 0, {}});
    }
}

void BVWebSocketStream::socketError()
{
    if (m_closed || !m_socket)
        return;
    const QAbstractSocket::SocketError error = m_socket->error();
    if (error == QAbstractSocket::RemoteHostClosedError) {
        // Read what the server sent before closing; disconnected() follows.
        readAvailable();
        if (m_socket->state() == QAbstractSocket::UnconnectedState)
            reportClosed();
        return;
    }
    QString text = m_socket->errorString();
    if (!m_sslErrors.isEmpty())
        text += QStringLiteral(": ") + m_sslErrors.join(QStringLiteral("; "));
    report({Event::Kind::Error, {}, {}, int(error), text});
    m_socket->abort();
    reportClosed();
}

void BVWebSocketStream::reportClosed()
{
    if (m_closed)
        return;
    if (m_socket)
        readAvailable();
    m_closed = true;
    if (m_closeTimer)
        m_closeTimer->stop();
    report({Event::Kind::Closed, {}, {}, 0, {}});
    deleteLater();
}

void BVWebSocketStream::report(Event event)
{
    if (m_sink)
        m_sink(std::move(event));
}
