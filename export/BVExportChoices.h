#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

// The choices of the export panel and its codec settings windows, shared by the panel and the
// command line: what each pop-up item stands for.
class BVExportChoices
{
public:
    BVExportChoices() = delete;

    // Video codec pop-up, by item index: none (copy), H.264, ProRes 422, 422 HQ, 422 LT, 422 Proxy,
    // 4444, Photo JPEG. Indexes outside the list copy.
    static std::optional<QString> videoCodecAtIndex(int index);
    static QStringList videoCodecTitles();
    // Audio codec pop-up: 0 copy (-1), 1 Linear PCM, 2 AAC, 3 Apple Lossless, 4 no audio (-2);
    // any other index copies.
    static int32_t audioCodecAtIndex(int index);
    static QStringList audioCodecTitles();

    // The channel pop-up for an audio codec: its titles (empty for copy and no audio).
    static QStringList channelTitles(int32_t audioCodec);
    // Layout tag and channel count of a channel item for the codec; stereo for any other index.
    static uint32_t channelLayout(int32_t audioCodec, int index);
    static uint32_t channelCount(int32_t audioCodec, int index);

    // Sample rates offered in kHz ("%0.3f"), up to 48 kHz for AAC.
    static QStringList sampleRateTitles(int32_t audioCodec);
    // The sample-size pop-up's titles (bit depths); item 1 is selected by default.
    static QStringList sampleSizeTitles();
};
