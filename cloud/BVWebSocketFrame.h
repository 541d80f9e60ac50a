#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstdint>

// The wire form of single WebSocket frames: opcodes, the client's masked encoding, close payloads and
// the strict UTF-8 check that text messages and close reasons must pass. Pure functions, any thread.
class BVWebSocketFrame
{
public:
    enum Opcode : uint8_t {
        Continuation = 0x0,
        Text = 0x1,
        Binary = 0x2,
        Close = 0x8,
        Ping = 0x9,
        Pong = 0xA,
    };

    // The largest payload a control frame may carry.
    static constexpr qsizetype maxControlPayload = 125;
    // A header is at most 2 + 8 length bytes + 4 mask bytes; sends reserve this much on top.
    static constexpr qsizetype headerReserve = 32;

    static bool isControl(uint8_t opcode) { return opcode >= Close && opcode <= Pong; }
    static bool isKnown(uint8_t opcode) { return opcode <= Binary || isControl(opcode); }

    // One final, masked frame: the length in 7 bits up to 125, 16 bits (126) up to 65535, 64 bits
    // (127) above, then the mask key and the payload XORed with it. Throws std::bad_alloc when the
    // frame buffer cannot be allocated (the caller turns that into a 1009 close).
    static QByteArray encode(Opcode opcode, QByteArrayView payload, const std::array<uint8_t, 4> &mask);
    // XORs data in place with the mask key, starting at key byte `offset % 4`.
    static void applyMask(
        char *data, qsizetype size, const std::array<uint8_t, 4> &mask, qsizetype offset = 0);

    // The payload of a close frame: the code in two big-endian bytes, then the reason in UTF-8,
    // cut at a character boundary so that the whole stays within a control frame.
    static QByteArray closePayload(int code, const QString &reason);
    // Codes a close frame may carry: 1000-1003, 1007-1011 and 3000-4999.
    static bool isValidCloseCode(int code);

    // Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, no truncated sequence.
    static bool isValidUTF8(QByteArrayView bytes);
};
