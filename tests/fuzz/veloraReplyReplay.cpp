// Replays the checked-in corpus of service replies through the fuzzer's entry, in every build.
#include "FuzzCorpusReplay.h"

TEST(VeloraReplyFuzz, ReplaysTheCorpusWithoutFaults)
{
    replayFuzzCorpus("velora_corpus", 10);
}
