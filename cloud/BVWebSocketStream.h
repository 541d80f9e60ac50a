#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QString>

#include <functional>

class QTcpSocket;
class QTimer;

// The byte stream under one WebSocket: a TCP connection, or TLS over it, living on the WebSocket
// network thread. Every method must be called on that thread. It reports through a sink function
// (called on that thread), knows nothing of frames, and deletes itself after reporting Closed.
class BVWebSocketStream : public QObject
{
    Q_OBJECT
public:
    struct Event
    {
        enum class Kind { Connected, Data, Error, WriteError, Closed, CloseTimeout };
        Kind kind;
        QByteArray data;
        // Connected over TLS: the server's certificate chain in DER form.
        QList<QByteArray> peerChain;
        // Error: the socket layer's code and text.
        int code = 0;
        QString text;
    };
    using Sink = std::function<void(Event)>;

    // The size of the pieces read from the network.
    static constexpr qint64 readChunkSize = 2048;

    BVWebSocketStream(Sink sink, QObject *parent);
    ~BVWebSocketStream() override;

    // TLS negotiates the highest protocol both sides offer. `caCertificates` are trusted besides
    // the system's; `skipChainValidation` is for pinned certificates, checked by the caller.
    void connectToHost(const QString &host, quint16 port, bool secure,
        const QList<QSslCertificate> &caCertificates, bool skipChainValidation);
    void write(const QByteArray &bytes);
    // Closes once everything written has gone out; reports Closed.
    void closeAfterWrites();
    // Reports CloseTimeout unless closed within the time.
    void startCloseTimer(int milliseconds);
    // Drops the connection without reporting anything more, and deletes the stream.
    void discard();

private:
    void readAvailable();
    void socketError();
    void reportClosed();
    void report(Event event);

    Sink m_sink;
    QTcpSocket *m_socket = nullptr;
    QTimer *m_closeTimer = nullptr;
    QStringList m_sslErrors;
    bool m_secure = false;
    bool m_closed = false;
};
