#include "export/BVExportChoices.h"

#include "export/BVAVExport.h"

namespace {

struct ChannelItem
{
    const char *pcmTitle;
    const char *aacTitle;
    uint32_t pcmTag;
    uint32_t aacTag;
};

const ChannelItem channelItems[] = {
    {"Mono", "Mono", 0x640001, 0x640001},
    {"Stereo", "Stereo", 0x650002, 0x650002},
    {"Quadraphonic (L R Ls Rs)", "Quadraphonic (L R Ls Rs)", 0x6C0004, 0x6C0004},
    {"3.0 (L R C)", "3.0 (C L R)", 0x710003, 0x720003},
    {"4.0 (L R Ls Rs)", "4.0 (C L R Cs)", 0x840004, 0x740004},
    {"5.0 (L R C Ls Rs)", "5.0 (C L R Ls Rs)", 0x750005, 0x780005},
    {"5.1 (L R C LFE Ls Rs)", "5.1 (C L R Ls Rs Lfe)", 0x790006, 0x7C0006},
    {"7.1 (L R C LFE Ls Rs Rls Rrs)", "7.1 (C Lc Rc L R Ls Rs Lfe)", 0x800008, 0x7F0008},
};

int channelItemCount(int32_t audioCodec)
{
    if (audioCodec == BVAVExport::audioFormatLinearPCM || audioCodec == BVAVExport::audioFormatAAC)
        return int(std::size(channelItems));
    if (audioCodec == BVAVExport::audioFormatAppleLossless)
        return 2;
    return 0;
}

} // namespace

std::optional<QString> BVExportChoices::videoCodecAtIndex(int index)
{
    switch (index) {
    case 1:
        return MediaVideoCodec::h264;
    case 2:
        return MediaVideoCodec::proRes422;
    case 3:
        return MediaVideoCodec::proRes422HQ;
    case 4:
        return MediaVideoCodec::proRes422LT;
    case 5:
        return MediaVideoCodec::proRes422Proxy;
    case 6:
        return MediaVideoCodec::proRes4444;
    case 7:
        return MediaVideoCodec::jpeg;
    default:
        return std::nullopt;
    }
}

QStringList BVExportChoices::videoCodecTitles()
{
    return {QStringLiteral("Copy Video Unchanged"), QStringLiteral("H.264"),
        QStringLiteral("Apple ProRes 422"), QStringLiteral("Apple ProRes 422 HQ"),
        QStringLiteral("Apple ProRes 422 LT"), QStringLiteral("Apple ProRes 422 Proxy"),
        QStringLiteral("Apple ProRes 4444"), QStringLiteral("Photo JPEG")};
}

int32_t BVExportChoices::audioCodecAtIndex(int index)
{
    switch (index) {
    case 1:
        return BVAVExport::audioFormatLinearPCM;
    case 2:
        return BVAVExport::audioFormatAAC;
    case 3:
        return BVAVExport::audioFormatAppleLossless;
    case 4:
        return BVAVExport::audioCodecNone;
    default:
        return BVAVExport::audioCodecCopy;
    }
}

QStringList BVExportChoices::audioCodecTitles()
{
    return {QStringLiteral("Copy Audio Unchanged"), QStringLiteral("Linear PCM"), QStringLiteral("AAC"),
        QStringLiteral("Apple Lossless"), QStringLiteral("No Audio")};
}

QStringList BVExportChoices::channelTitles(int32_t audioCodec)
{
    QStringList titles;
    const bool aac = audioCodec == BVAVExport::audioFormatAAC;
    for (int i = 0; i < channelItemCount(audioCodec); ++i)
        titles << QString::fromLatin1(aac ? channelItems[i].aacTitle : channelItems[i].pcmTitle);
    return titles;
}

uint32_t BVExportChoices::channelLayout(int32_t audioCodec, int index)
{
    if (index < 0 || index >= int(std::size(channelItems)))
        return 0x650002;
    return audioCodec == BVAVExport::audioFormatAAC ? channelItems[index].aacTag : channelItems[index].pcmTag;
}

uint32_t BVExportChoices::channelCount(int32_t audioCodec, int index)
{
    return channelLayout(audioCodec, index) & 0xff;
}

QStringList BVExportChoices::sampleRateTitles(int32_t audioCodec)
{
    static const double rates[] = {8, 11.025, 12, 16, 22.05, 24, 32, 44.1, 48, 96, 192};
    QStringList titles;
    for (double rate : rates)
        if (audioCodec != BVAVExport::audioFormatAAC || rate <= 48)
            titles << QString::asprintf("%0.3f", rate);
    return titles;
}

QStringList BVExportChoices::sampleSizeTitles()
{
    return {QStringLiteral("8"), QStringLiteral("16"), QStringLiteral("24"), QStringLiteral("32")};
}
