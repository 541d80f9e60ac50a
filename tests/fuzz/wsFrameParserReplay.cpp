// Replays the checked-in WebSocket frame corpus through the fuzzer's entry, in every build.
#include "FuzzCorpusReplay.h"

TEST(WebSocketFrameParserFuzz, ReplaysTheCorpusWithoutFaults)
{
    replayFuzzCorpus("ws_corpus", 10);
}
