#include "cloud/BVWebSocketFrame.h"

#include <cstring>
#include <limits>
#include <new>

QByteArray BVWebSocketFrame::encode(Opcode opcode, QByteArrayView payload, const std::array<uint8_t, 4> &mask)
{
    const qsizetype size = payload.size();
    if (size < 0 || size > std::numeric_limits<qsizetype>::max() - headerReserve)
        throw std::bad_alloc();
    QByteArray frame;
    frame.reserve(size + headerReserve);
    if (frame.capacity() < size + headerReserve)
        throw std::bad_alloc();

    frame.append(char(0x80 | (opcode & 0x0F)));
    if (size <= 125) {
        frame.append(char(0x80 | size));
    } else if (size <= 0xFFFF) {
        frame.append(char(0x80 | 126));
        frame.append(char((size >> 8) & 0xFF));
        frame.append(char(size & 0xFF));
    } else {
        frame.append(char(0x80 | 127));
        const uint64_t length = uint64_t(size);
        for (int shift = 56; shift >= 0; shift -= 8)
            frame.append(char((length >> shift) & 0xFF));
    }
    frame.append(reinterpret_cast<const char *>(mask.data()), 4);
    const qsizetype start = frame.size();
    frame.append(payload.data(), size);
    applyMask(frame.data() + start, size, mask);
    return frame;
}

void BVWebSocketFrame::applyMask(
    char *data, qsizetype size, const std::array<uint8_t, 4> &mask, qsizetype offset)
{
    qsizetype i = 0;
    // Whole words first when the key lines up; the tail byte by byte.
    if (offset % 4 == 0 && size >= 8) {
        uint32_t key;
        std::memcpy(&key, mask.data(), 4);
        for (; i + 4 <= size; i += 4) {
            uint32_t word;
            std::memcpy(&word, data + i, 4);
            word ^= key;
            std::memcpy(data + i, &word, 4);
        }
    }
    for (; i < size; ++i)
        data[i] = char(uint8_t(data[i]) ^ mask[size_t((i + offset) % 4)]);
}

QByteArray BVWebSocketFrame::closePayload(int code, const QString &reason)
{
    QByteArray payload;
    payload.append(char((code >> 8) & 0xFF));
    payload.append(char(code & 0xFF));
    QByteArray text = reason.toUtf8();
    qsizetype room = maxControlPayload - 2;
    if (text.size() > room) {
        // Step back over continuation bytes so that no character is split.
        while (room > 0 && (uint8_t(text[room]) & 0xC0) == 0x80)
            --room;
        text.truncate(room);
    }
    payload.append(text);
    return payload;
}

bool BVWebSocketFrame::isValidCloseCode(int code)
{
    return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1011) || (code >= 3000 && code <= 4999);
}

bool BVWebSocketFrame::isValidUTF8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const uint8_t *>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        // Plain ASCII runs are the common case.
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        const uint8_t b = p[i];
        int extra;
        uint32_t cp;
        uint32_t minimum;
        if (b >= 0xC2 && b <= 0xDF) {
            extra = 1;
            cp = b & 0x1F;
            minimum = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2;
            cp = b & 0x0F;
            minimum = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3;
            cp = b & 0x07;
            minimum = 0x10000;
        } else {
            return false;
        }
        if (n - i <= extra)
            return false;
        for (int k = 1; k <= extra; ++k) {
            const uint8_t c = p[i + k];
            if ((c & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}
