// Fuzz entry for the WebSocket frame parser. The first byte chooses how the rest is chunked and
// how large a message may be; the parser must never crash, and whatever it yields must be sound.
#include "cloud/BVWebSocketFrame.h"
#include "cloud/BVWebSocketFrameParser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void checkEvent(const BVWebSocketFrameParser::Event &event)
{
    using Kind = BVWebSocketFrameParser::Event::Kind;
    switch (event.kind) {
    case Kind::Text:
        check(BVWebSocketFrame::isValidUTF8(event.text.toUtf8()));
        break;
    case Kind::Ping:
    case Kind::Pong:
        check(event.data.size() <= BVWebSocketFrame::maxControlPayload);
        break;
    case Kind::Close:
        check(event.code == 1005 || BVWebSocketFrame::isValidCloseCode(event.code));
        break;
    case Kind::Error:
        check(event.code == 1002 || event.code == 1007 || event.code == 1009);
        check(!event.text.isEmpty());
        break;
    case Kind::Binary:
    case Kind::None:
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t control = data[0];
    const size_t chunk = control % 17; // 0: everything at once
    const qsizetype maxMessage = (control & 0x80) ? 4096 : BVWebSocketFrameParser::defaultMaxMessageSize;
    BVWebSocketFrameParser parser(maxMessage);
    const auto *bytes = reinterpret_cast<const char *>(data + 1);
    const size_t length = size - 1;
    bool ended = false;
    for (size_t at = 0; at < length && !ended;) {
        const size_t take = chunk == 0 ? length - at : std::min(chunk, length - at);
        parser.append(QByteArrayView(bytes + at, qsizetype(take)));
        at += take;
        for (auto event = parser.next(); event.kind != BVWebSocketFrameParser::Event::Kind::None;
             event = parser.next()) {
            checkEvent(event);
            using Kind = BVWebSocketFrameParser::Event::Kind;
            ended = event.kind == Kind::Error || event.kind == Kind::Close;
            if (ended)
                check(parser.next().kind == Kind::None);
        }
        check(parser.pendingSize() <= maxMessage + 14 + qsizetype(take) + 14);
    }
    return 0;
}
