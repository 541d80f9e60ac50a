#pragma once

#include "support/BVError.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QStringList>
#include <QUrl>

// The client side of the opening handshake: the upgrade request for an address and the checks on the
// server's answer. Holds no socket; the socket's work queue feeds it the bytes read.
class BVWebSocketHandshake
{
public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;
    enum class Status { Incomplete, Accepted, Failed };

    // Response headers longer than this end the handshake.
    static constexpr qsizetype maxResponseSize = 64 * 1024;

    // `key` is the Sec-WebSocket-Key; `extraHeaders` come from the opening request and replace
    // headers of the same name.
    BVWebSocketHandshake(
        const QUrl &url, const QStringList &protocols, const Headers &extraHeaders, const QByteArray &key);

    // 16 bytes from the cryptographic generator in Base64 (24 characters); empty when the generator fails.
    static QByteArray generateKey();
    // Base64 of the SHA-1 of the key followed by the protocol's GUID.
    static QByteArray acceptForKey(const QByteArray &key);

    // The complete request text.
    QByteArray request() const;

    // Adds response bytes; answers Accepted once the header block is complete and valid, Failed
    // (see error()) when it is complete and invalid or too long.
    Status appendResponse(QByteArrayView bytes);

    const BVError &error() const { return m_error; }
    int statusCode() const { return m_statusCode; }
    // The sub-protocol the server chose, if any.
    const QString &protocol() const { return m_protocol; }
    // The bytes that followed the header block: the first frames.
    const QByteArray &remainder() const { return m_remainder; }
    // The response header value (names compared without case), repeated headers joined by ", ".
    QByteArray responseHeader(const QByteArray &name) const;

private:
    Status fail(BVError error);
    Status validate(QByteArrayView head);

    QUrl m_url;
    QStringList m_protocols;
    Headers m_headers;
    QByteArray m_key;
    QByteArray m_response;
    Headers m_responseHeaders;
    QByteArray m_remainder;
    QString m_protocol;
    BVError m_error;
    int m_statusCode = 0;
    Status m_status = Status::Incomplete;
};
