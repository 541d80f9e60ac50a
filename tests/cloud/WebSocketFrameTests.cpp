#include "WebSocketTestSupport.h"

#include "cloud/BVWebSocketFrame.h"
#include "cloud/BVWebSocketFrameParser.h"

#include <gtest/gtest.h>

using Kind = BVWebSocketFrameParser::Event::Kind;

namespace {

const std::array<uint8_t, 4> testMask {0x12, 0x34, 0x56, 0x78};

QByteArray frame(int firstByte, const QByteArray &payload)
{
    return WSTest::RawServer::serverFrame(firstByte, payload);
}

QByteArray closeFrame(int code, const QByteArray &reason = {})
{
    QByteArray payload;
    payload.append(char(code >> 8)).append(char(code & 0xFF)).append(reason);
    return frame(0x88, payload);
}

// Feeds the bytes one at a time when asked, to prove that no chunking changes the outcome.
std::vector<BVWebSocketFrameParser::Event> parseAll(const QByteArray &bytes, bool byteByByte)
{
    BVWebSocketFrameParser parser(1024 * 1024);
    std::vector<BVWebSocketFrameParser::Event> events;
    const auto drain = [&] {
        for (auto event = parser.next(); event.kind != Kind::None; event = parser.next())
            events.push_back(event);
    };
    if (byteByByte) {
        for (char c : bytes) {
            parser.append(QByteArrayView(&c, 1));
            drain();
        }
    } else {
        parser.append(bytes);
        drain();
    }
    return events;
}

} // namespace

TEST(WebSocketFrame, EncodesEachLengthFormAtItsBoundaries)
{
    struct Case
    {
        qsizetype size;
        int lengthForm;
    };
    for (const Case &c : {Case {0, 7}, Case {125, 7}, Case {126, 16}, Case {65535, 16}, Case {65536, 64}}) {
        const QByteArray payload(c.size, 'x');
        const QByteArray encoded = BVWebSocketFrame::encode(BVWebSocketFrame::Text, payload, testMask);
        const auto frames = WSTest::decodeClientFrames(encoded);
        ASSERT_EQ(frames.size(), 1u) << c.size;
        EXPECT_TRUE(frames[0].fin);
        EXPECT_EQ(frames[0].opcode, 1);
        EXPECT_TRUE(frames[0].masked);
        EXPECT_EQ(frames[0].lengthForm, c.lengthForm) << c.size;
        EXPECT_EQ(frames[0].mask, QByteArray("\x12\x34\x56\x78"));
        EXPECT_EQ(frames[0].payload, payload) << c.size;
        const qsizetype header = c.lengthForm == 7 ? 6 : c.lengthForm == 16 ? 8 : 14;
        EXPECT_EQ(encoded.size(), header + c.size);
    }
}

TEST(WebSocketFrame, MasksEveryPayloadByteWithTheKeyInTurn)
{
    const QByteArray payload("abcdefghijk");
    const QByteArray encoded = BVWebSocketFrame::encode(BVWebSocketFrame::Binary, payload, testMask);
    const QByteArray masked = encoded.mid(6);
    ASSERT_EQ(masked.size(), payload.size());
    for (qsizetype i = 0; i < payload.size(); ++i)
        EXPECT_EQ(uint8_t(masked[i]), uint8_t(payload[i]) ^ testMask[size_t(i % 4)]) << i;
    EXPECT_EQ(uint8_t(encoded[0]), 0x82);
}

TEST(WebSocketFrame, ClosePayloadCutsLongReasonsAtACharacterBoundary)
{
    EXPECT_EQ(BVWebSocketFrame::closePayload(1000, {}), QByteArray("\x03\xE8", 2));
    EXPECT_EQ(BVWebSocketFrame::closePayload(4001, QStringLiteral("bye")),
        QByteArray("\x0F\xA1"
                   "bye",
            5));
    const QByteArray cut
        = BVWebSocketFrame::closePayload(1000, QString(100, QChar(0x00E9))); // 200 bytes of é
    EXPECT_LE(cut.size(), 125);
    EXPECT_EQ(cut.size(), 2 + 122);
    EXPECT_TRUE(BVWebSocketFrame::isValidUTF8(QByteArrayView(cut).sliced(2)));
}

TEST(WebSocketFrame, Utf8CheckRejectsOverlongSurrogateAndTruncatedForms)
{
    struct Case
    {
        QByteArray bytes;
        bool valid;
    };
    const Case cases[] = {
        {"", true},
        {"plain ascii", true},
        {"\xC3\xA9t\xC3\xA9", true}, // été
        {"\xE2\x82\xAC", true}, // €
        {"\xF0\x9F\x8E\xAC", true}, // 🎬
        {"\xF4\x8F\xBF\xBF", true}, // U+10FFFF
        {"\xC3\x28", false}, // bad continuation
        {"\xC0\xAF", false}, // overlong '/'
        {"\xE0\x80\xAF", false}, // overlong
        {"\xED\xA0\x80", false}, // surrogate U+D800
        {"\xF4\x90\x80\x80", false}, // above U+10FFFF
        {"\xE2\x82", false}, // truncated
        {"\x80", false}, // lone continuation
        {"\xFF", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(BVWebSocketFrame::isValidUTF8(c.bytes), c.valid) << c.bytes.toHex().constData();
}

TEST(WebSocketFrame, OnlyCodesAServerMaySendAreValidCloseCodes)
{
    for (int code : {1000, 1001, 1002, 1003, 1007, 1008, 1009, 1010, 1011, 3000, 4999})
        EXPECT_TRUE(BVWebSocketFrame::isValidCloseCode(code)) << code;
    for (int code : {0, 999, 1004, 1005, 1006, 1012, 1015, 2999, 5000, 65535})
        EXPECT_FALSE(BVWebSocketFrame::isValidCloseCode(code)) << code;
}

TEST(WebSocketFrameParser, DeliversMessagesControlFramesAndJoinedFragmentsInAnyChunking)
{
    const QByteArray stream = frame(0x81, "hello") + frame(0x82, QByteArray("\x00\x01\x02", 3))
        + frame(0x01, "Hel") + frame(0x89, "p1") + frame(0x00, "lo ") + frame(0x80, "world")
        + frame(0x8A, "pong") + frame(0x81, QByteArray(300, 'y')) + frame(0x81, QByteArray(70000, 'z'))
        + closeFrame(4001, "done");
    for (bool byteByByte : {false, true}) {
        const auto events = parseAll(stream, byteByByte);
        ASSERT_EQ(events.size(), 8u);
        EXPECT_EQ(events[0].kind, Kind::Text);
        EXPECT_EQ(events[0].text, QStringLiteral("hello"));
        EXPECT_EQ(events[1].kind, Kind::Binary);
        EXPECT_EQ(events[1].data, QByteArray("\x00\x01\x02", 3));
        EXPECT_EQ(events[2].kind, Kind::Ping);
        EXPECT_EQ(events[2].data, QByteArray("p1"));
        EXPECT_EQ(events[3].kind, Kind::Text);
        EXPECT_EQ(events[3].text, QStringLiteral("Hello world"));
        EXPECT_EQ(events[4].kind, Kind::Pong);
        EXPECT_EQ(events[5].text, QString(300, u'y'));
        EXPECT_EQ(events[6].text.size(), 70000);
        EXPECT_EQ(events[7].kind, Kind::Close);
        EXPECT_EQ(events[7].code, 4001);
        EXPECT_EQ(events[7].text, QStringLiteral("done"));
    }
}

TEST(WebSocketFrameParser, RejectsEachMalformedFrameWithItsCodeAndReason)
{
    struct Case
    {
        const char *name;
        QByteArray bytes;
        int code;
        QString reason;
    };
    QByteArray maskedText = frame(0x81, "abcd");
    maskedText[1] = char(0x80 | 4);
    maskedText.insert(2, QByteArray(4, '\0'));
    const Case cases[] = {
        {"rsv1", frame(0xC1, "x"), 1002, "Server used RSV bits"},
        {"rsv3", frame(0x91, "x"), 1002, "Server used RSV bits"},
        {"masked", maskedText, 1002, "Client must receive unmasked data"},
        {"fragmented ping", frame(0x09, "x"), 1002, "Fragmented control frames not allowed"},
        {"fragmented close", frame(0x08, QByteArray("\x03\xE8", 2)), 1002,
            "Fragmented control frames not allowed"},
        {"oversize ping", frame(0x89, QByteArray(126, 'p')), 1002,
            "Control frames cannot have payloads larger than 126 bytes"},
        {"new message inside fragments", frame(0x01, "a") + frame(0x81, "b"), 1002,
            "all data frames after the initial data frame must have opcode 0"},
        {"continuation without start", frame(0x80, "a"), 1002, "cannot continue a message"},
        {"opcode 3", frame(0x83, ""), 1002, "Unknown opcode 3"},
        {"opcode 11", frame(0x8B, ""), 1002, "Unknown opcode 11"},
        {"invalid text", frame(0x81, "\xC3\x28"), 1007, "Text frames must be valid UTF-8"},
        {"invalid text across fragments", frame(0x01, "\xE2\x82") + frame(0x80, "("), 1007,
            "Text frames must be valid UTF-8"},
        {"one-byte close", frame(0x88, "\x03"), 1002, "Payload for close must be larger than 2 bytes"},
        {"close 1005", closeFrame(1005), 1002, "Cannot have close code of 1005"},
        {"close 1006", closeFrame(1006), 1002, "Cannot have close code of 1006"},
        {"close 999", closeFrame(999), 1002, "Cannot have close code of 999"},
        {"close 5000", closeFrame(5000), 1002, "Cannot have close code of 5000"},
        {"close reason not UTF-8", closeFrame(1000, "\xC3\x28"), 1002, "Close reason MUST be valid UTF-8"},
        {"too big", frame(0x82, QByteArray(1024 * 1024 + 1, 'b')), 1009, "Message too big"},
    };
    for (const Case &c : cases) {
        for (bool byteByByte : {false, true}) {
            if (byteByByte && c.bytes.size() > 100000)
                continue;
            const auto events = parseAll(frame(0x81, "before") + c.bytes + frame(0x81, "after"), byteByByte);
            ASSERT_EQ(events.size(), 2u) << c.name;
            EXPECT_EQ(events[0].text, QStringLiteral("before")) << c.name;
            EXPECT_EQ(events[1].kind, Kind::Error) << c.name;
            EXPECT_EQ(events[1].code, c.code) << c.name;
            EXPECT_EQ(events[1].text, c.reason) << c.name;
        }
    }
}

TEST(WebSocketFrameParser, RefusesAHugeAnnouncedLengthBeforeItsPayloadArrives)
{
    BVWebSocketFrameParser parser(1024);
    parser.append(QByteArray("\x82\x7F\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10));
    const auto event = parser.next();
    EXPECT_EQ(event.kind, Kind::Error);
    EXPECT_EQ(event.code, 1009);
    EXPECT_TRUE(parser.hasFailed());
    parser.append(QByteArray(4096, 'x'));
    EXPECT_EQ(parser.next().kind, Kind::None);
    EXPECT_EQ(parser.pendingSize(), 0);
}

TEST(WebSocketFrameParser, EmptyCloseMeansNoStatusAndEndsParsing)
{
    const auto events = parseAll(frame(0x88, {}) + frame(0x81, "late"), false);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, Kind::Close);
    EXPECT_EQ(events[0].code, 1005);
    EXPECT_TRUE(events[0].text.isEmpty());
}
