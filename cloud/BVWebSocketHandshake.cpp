#include "cloud/BVWebSocketHandshake.h"

#include "cloud/BVWebSocket.h"
#include "support/BVFormat.h"
#include "support/BVLog.h"

#include <openssl/rand.h>
#include <openssl/sha.h>

namespace {

bool isSafeHeaderText(const QByteArray &text)
{
    return !text.contains('\r') && !text.contains('\n') && !text.contains('\0');
}

QByteArray hostForHeader(const QUrl &url)
{
    QByteArray host = url.host(QUrl::FullyEncoded).toUtf8();
    if (host.contains(':'))
        host = '[' + host + ']';
    return host;
}

} // namespace

BVWebSocketHandshake::BVWebSocketHandshake(
    const QUrl &url, const QStringList &protocols, const Headers &extraHeaders, const QByteArray &key)
    : m_url(url)
    , m_protocols(protocols)
    , m_key(key)
{
    const QByteArray host = hostForHeader(url);
    const bool hasPort = url.port() != -1;
    const QByteArray port = QByteArray::number(url.port());
    const QString scheme = url.scheme().toLower();
    const bool secure = scheme == QLatin1String("wss") || scheme == QLatin1String("https");
    const QByteArray originScheme = secure ? "https" : "http";

    m_headers = {
        {"Host", hasPort ? host + ':' + port : host},
        {"Upgrade", "websocket"},
        {"Connection", "Upgrade"},
        {"Sec-WebSocket-Key", key},
        {"Sec-WebSocket-Version", "13"},
        {"Origin", originScheme + "://" + host + (hasPort ? ':' + port : QByteArray()) + '/'},
    };
    if (!protocols.isEmpty())
        m_headers.append({"Sec-WebSocket-Protocol", protocols.join(QStringLiteral(", ")).toUtf8()});

    for (const auto &[name, value] : extraHeaders) {
        if (name.isEmpty() || !isSafeHeaderText(name) || name.contains(':') || !isSafeHeaderText(value)) {
            BVLog::appendLog("WebSocket: dropped request header \"%@\" holding a line break", name);
            continue;
        }
        auto existing = std::find_if(m_headers.begin(), m_headers.end(),
            [&](const auto &header) { return header.first.compare(name, Qt::CaseInsensitive) == 0; });
        if (existing != m_headers.end())
            existing->second = value;
        else
            m_headers.append({name, value});
    }
}

QByteArray BVWebSocketHandshake::generateKey()
{
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1)
        return {};
    return QByteArray(reinterpret_cast<const char *>(bytes), sizeof bytes).toBase64();
}

QByteArray BVWebSocketHandshake::acceptForKey(const QByteArray &key)
{
    const QByteArray text = key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char *>(text.constData()), size_t(text.size()), digest);
    return QByteArray(reinterpret_cast<const char *>(digest), SHA_DIGEST_LENGTH).toBase64();
}

QByteArray BVWebSocketHandshake::request() const
{
    QByteArray target = m_url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (target.isEmpty() || target.startsWith('?'))
        target.prepend('/');
    QByteArray text = "GET " + target + " HTTP/1.1\r\n";
    for (const auto &[name, value] : m_headers)
        text += name + ": " + value + "\r\n";
    text += "\r\n";
    return text;
}

BVWebSocketHandshake::Status BVWebSocketHandshake::appendResponse(QByteArrayView bytes)
{
    if (m_status != Status::Incomplete)
        return m_status;
    const qsizetype searchFrom = std::max<qsizetype>(0, m_response.size() - 3);
    m_response.append(bytes.data(), bytes.size());
    const qsizetype end = m_response.indexOf("\r\n\r\n", searchFrom);
    if (end < 0) {
        if (m_response.size() > maxResponseSize)
            return fail(BVError::withDescription(
                BVWebSocket::errorDomain(), 2133, QStringLiteral("Handshake response headers too long")));
        return Status::Incomplete;
    }
    m_remainder = m_response.mid(end + 4);
    m_response.truncate(end);
    return validate(m_response);
}

BVWebSocketHandshake::Status BVWebSocketHandshake::validate(QByteArrayView head)
{
    const QList<QByteArray> lines = head.toByteArray().split('\n');
    const QList<QByteArray> statusParts = lines.value(0).trimmed().split(' ');
    bool ok = false;
    m_statusCode
        = statusParts.size() >= 2 && statusParts[0].startsWith("HTTP/") ? statusParts[1].toInt(&ok) : 0;
    if (!ok)
        m_statusCode = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        m_responseHeaders.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }

    // Anything but the switch to the protocol is a refusal, a 4xx or 5xx as much as a redirect.
    if (m_statusCode != 101)
        return fail(BVError::withDescription(BVWebSocket::streamErrorDomain(), 2132,
            BVFormat::format("received bad response code from server %ld", long(m_statusCode))));
    if (responseHeader("Sec-WebSocket-Accept") != acceptForKey(m_key))
        return fail(BVError::withDescription(
            BVWebSocket::errorDomain(), 2133, QStringLiteral("Invalid Sec-WebSocket-Accept response")));
    const QByteArray chosen = responseHeader("Sec-WebSocket-Protocol");
    if (!chosen.isEmpty()) {
        const QString protocol = QString::fromUtf8(chosen);
        if (!m_protocols.contains(protocol))
            return fail(BVError::withDescription(BVWebSocket::errorDomain(), 2133,
                QStringLiteral("Server specified Sec-WebSocket-Protocol that wasn't requested")));
        m_protocol = protocol;
    }
    m_status = Status::Accepted;
    return m_status;
}

QByteArray BVWebSocketHandshake::responseHeader(const QByteArray &name) const
{
    QByteArray value;
    for (const auto &[headerName, headerValue] : m_responseHeaders) {
        if (headerName.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        if (!value.isEmpty())
            value += ", ";
        value += headerValue;
    }
    return value;
}

BVWebSocketHandshake::Status BVWebSocketHandshake::fail(BVError error)
{
    m_error = std::move(error);
    m_status = Status::Failed;
    return m_status;
}
