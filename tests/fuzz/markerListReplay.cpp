// Replays the checked-in marker list corpus through the fuzzer's entry, in every build.
#include "FuzzCorpusReplay.h"

TEST(MarkerListFuzz, ReplaysTheCorpusWithoutFaults)
{
    replayFuzzCorpus("marker_corpus", 5);
}
