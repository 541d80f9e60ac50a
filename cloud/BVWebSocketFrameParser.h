#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>

// Turns the bytes a server sends into messages and control events, checking every frame as it
// arrives. Fed with raw bytes in any chunking; owns no socket and runs on whatever thread feeds it
// (the socket's work queue). After an error it stays failed and yields nothing more.
class BVWebSocketFrameParser
{
public:
    struct Event
    {
        enum class Kind { None, Text, Binary, Ping, Pong, Close, Error };
        Kind kind = Kind::None;
        // A binary message, or the payload of a ping or pong.
        QByteArray data;
        // A text message, the close reason, or the reason to close with after an error.
        QString text;
        // The server's close code (1005 when its close frame was empty), or the code to close with.
        int code = 0;
    };

    // Messages (and single frames) longer than this end the connection with 1009.
    static constexpr qsizetype defaultMaxMessageSize = 16 * 1024 * 1024;

    explicit BVWebSocketFrameParser(qsizetype maxMessageSize = defaultMaxMessageSize);

    void append(QByteArrayView bytes);
    // The next complete event, or Kind::None when more bytes are needed (or after an error or a close).
    Event next();

    bool hasFailed() const { return m_failed; }
    bool hasReceivedClose() const { return m_receivedClose; }
    // Bytes received but not yet consumed.
    qsizetype pendingSize() const { return m_buffer.size() - m_offset; }

private:
    Event fail(int code, const QString &reason);
    Event closeEvent(QByteArrayView payload);
    void compact();

    QByteArray m_buffer;
    qsizetype m_offset = 0;
    // Text or Binary while a fragmented message is being joined, otherwise 0.
    uint8_t m_messageOpcode = 0;
    QByteArray m_message;
    qsizetype m_maxMessageSize;
    bool m_failed = false;
    bool m_receivedClose = false;
};
