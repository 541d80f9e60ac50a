#include "cloud/BVWebSocketFrameParser.h"

#include "cloud/BVWebSocketFrame.h"

namespace {
constexpr int protocolError = 1002;
constexpr int invalidPayload = 1007;
constexpr int messageTooBig = 1009;
} // namespace

BVWebSocketFrameParser::BVWebSocketFrameParser(qsizetype maxMessageSize)
    : m_maxMessageSize(maxMessageSize)
{ }

void BVWebSocketFrameParser::append(QByteArrayView bytes)
{
    if (m_failed || m_receivedClose || bytes.isEmpty())
        return;
    m_buffer.append(bytes.data(), bytes.size());
}

BVWebSocketFrameParser::Event BVWebSocketFrameParser::next()
{
    using Kind = Event::Kind;
    while (!m_failed && !m_receivedClose) {
        const qsizetype available = m_buffer.size() - m_offset;
        if (available < 2)
            break;
        const auto *head = reinterpret_cast<const uint8_t *>(m_buffer.constData() + m_offset);
        const bool fin = head[0] & 0x80;
        const uint8_t opcode = head[0] & 0x0F;
        const uint8_t length7 = head[1] & 0x7F;
        const bool control = BVWebSocketFrame::isControl(opcode);

        if (head[0] & 0x70)
            return fail(protocolError, QStringLiteral("Server used RSV bits"));
        if (head[1] & 0x80)
            return fail(protocolError, QStringLiteral("Client must receive unmasked data"));
        if (control && !fin)
            return fail(protocolError, QStringLiteral("Fragmented control frames not allowed"));
        if (control && length7 >= 126)
            return fail(
                protocolError, QStringLiteral("Control frames cannot have payloads larger than 126 bytes"));
        if ((opcode == BVWebSocketFrame::Text || opcode == BVWebSocketFrame::Binary) && m_messageOpcode != 0)
            return fail(protocolError,
                QStringLiteral("all data frames after the initial data frame must have opcode 0"));
        if (opcode == BVWebSocketFrame::Continuation && m_messageOpcode == 0)
            return fail(protocolError, QStringLiteral("cannot continue a message"));
        if (!BVWebSocketFrame::isKnown(opcode))
            return fail(protocolError, QStringLiteral("Unknown opcode ") + QString::number(opcode));

        qsizetype headerSize = 2;
        uint64_t length = length7;
        if (length7 == 126) {
            headerSize = 4;
            if (available < headerSize)
                break;
            length = (uint64_t(head[2]) << 8) | head[3];
        } else if (length7 == 127) {
            headerSize = 10;
            if (available < headerSize)
                break;
            length = 0;
            for (int i = 2; i < 10; ++i)
                length = (length << 8) | head[i];
        }
        // Checked before waiting for the payload, so a huge announced length never fills memory.
        const uint64_t limit = uint64_t(m_maxMessageSize);
        if (length > limit || (!control && uint64_t(m_message.size()) + length > limit))
            return fail(messageTooBig, QStringLiteral("Message too big"));
        if (uint64_t(available - headerSize) < length)
            break;

        const QByteArrayView payload(m_buffer.constData() + m_offset + headerSize, qsizetype(length));
        m_offset += headerSize + qsizetype(length);

        Event event;
        switch (opcode) {
        case BVWebSocketFrame::Ping:
        case BVWebSocketFrame::Pong:
            event.kind = opcode == BVWebSocketFrame::Ping ? Kind::Ping : Kind::Pong;
            event.data = payload.toByteArray();
            compact();
            return event;
        case BVWebSocketFrame::Close:
            event = closeEvent(payload);
            compact();
            return event;
        default:
            break;
        }

        // A data frame: join fragments until the final one.
        m_message.append(payload.data(), payload.size());
        if (opcode != BVWebSocketFrame::Continuation)
            m_messageOpcode = opcode;
        if (!fin) {
            compact();
            continue;
        }
        const uint8_t messageOpcode = m_messageOpcode;
        m_messageOpcode = 0;
        QByteArray message;
        message.swap(m_message);
        compact();
        if (messageOpcode == BVWebSocketFrame::Text) {
            if (!BVWebSocketFrame::isValidUTF8(message))
                return fail(invalidPayload, QStringLiteral("Text frames must be valid UTF-8"));
            event.kind = Kind::Text;
            event.text = QString::fromUtf8(message);
        } else {
            event.kind = Kind::Binary;
            event.data = std::move(message);
        }
        return event;
    }
    compact();
    return {};
}

BVWebSocketFrameParser::Event BVWebSocketFrameParser::closeEvent(QByteArrayView payload)
{
    if (payload.size() == 1)
        return fail(protocolError, QStringLiteral("Payload for close must be larger than 2 bytes"));
    Event event;
    event.kind = Event::Kind::Close;
    event.code = 1005;
    if (payload.size() >= 2) {
        const auto *bytes = reinterpret_cast<const uint8_t *>(payload.data());
        const int code = (int(bytes[0]) << 8) | bytes[1];
        if (!BVWebSocketFrame::isValidCloseCode(code))
            return fail(protocolError, QStringLiteral("Cannot have close code of ") + QString::number(code));
        const QByteArrayView reason = payload.sliced(2);
        if (!BVWebSocketFrame::isValidUTF8(reason))
            return fail(protocolError, QStringLiteral("Close reason MUST be valid UTF-8"));
        event.code = code;
        event.text = QString::fromUtf8(reason);
    }
    m_receivedClose = true;
    return event;
}

BVWebSocketFrameParser::Event BVWebSocketFrameParser::fail(int code, const QString &reason)
{
    m_failed = true;
    m_buffer.clear();
    m_offset = 0;
    m_message.clear();
    Event event;
    event.kind = Event::Kind::Error;
    event.code = code;
    event.text = reason;
    return event;
}

void BVWebSocketFrameParser::compact()
{
    if (m_offset == 0)
        return;
    if (m_offset >= m_buffer.size()) {
        // Keep a small buffer's memory for the next read; give a large one back.
        if (m_buffer.capacity() <= 64 * 1024)
            m_buffer.resize(0);
        else
            m_buffer.clear();
        m_offset = 0;
    } else if (m_offset >= 64 * 1024 || m_offset * 2 >= m_buffer.size()) {
        m_buffer.remove(0, m_offset);
        m_offset = 0;
    }
}
