#include "player/time/BVAudioFileParser.h"

#include "platform/media/MediaFrameRate.h"
#include "player/time/BVTimecode.h"
#include "support/BVLog.h"

#include <QFile>

#include <algorithm>
#include <optional>

namespace {

constexpr qint64 kRiffHeaderSize = 12;
constexpr qint64 kChunkHeaderSize = 8;
constexpr qint64 kFormatChunkMinimumSize = 16;
constexpr qint64 kSampleRateOffset = 4;
// Description (256), Originator (32), OriginatorReference (32), OriginationDate (10) and
// OriginationTime (8) come before the 64-bit TimeReference.
constexpr qint64 kTimeReferenceOffset = 338;
constexpr qint64 kBroadcastChunkMinimumSize = kTimeReferenceOffset + 8;
// RF64 files give the real size of chunks that are too large for 32 bits in "ds64".
constexpr uint32_t kSizeInDs64 = 0xFFFFFFFF;
constexpr qint64 kDs64DataSizeOffset = 8;
// A file of more chunks than this is not a recording.
constexpr int kMaximumChunks = 100000;

uint32_t littleEndian32(const QByteArray &bytes, qsizetype at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | uint8_t(bytes[at + i]);
    return value;
}

uint64_t littleEndian64(const QByteArray &bytes, qsizetype at)
{
    return uint64_t(littleEndian32(bytes, at)) | (uint64_t(littleEndian32(bytes, at + 4)) << 32);
}

// Reads exactly count bytes at the offset, or nothing.
std::optional<QByteArray> readAt(QFile &file, qint64 offset, qint64 count)
{
    if (offset < 0 || count < 0 || offset > file.size() - count || !file.seek(offset))
        return std::nullopt;
    QByteArray bytes = file.read(count);
    if (bytes.size() != count)
        return std::nullopt;
    return bytes;
}

} // namespace

std::optional<BVAudioFileParser::BroadcastHeader> BVAudioFileParser::broadcastHeader(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        BVLog::appendLog("Could not open audio file %@: %@", path, file.errorString());
        return std::nullopt;
    }
    const qint64 fileSize = file.size();
    const std::optional<QByteArray> riff = readAt(file, 0, kRiffHeaderSize);
    const QByteArray form = riff ? riff->left(4) : QByteArray();
    if (!riff || (form != "RIFF" && form != "RF64" && form != "BW64") || riff->mid(8, 4) != "WAVE") {
        BVLog::appendLog("Not a RIFF WAVE file: %@", path);
        return std::nullopt;
    }

    std::optional<uint32_t> sampleRate;
    std::optional<uint64_t> timeReference;
    std::optional<uint64_t> ds64DataSize;
    qint64 offset = kRiffHeaderSize;
    for (int chunks = 0; chunks < kMaximumChunks && !(sampleRate && timeReference); ++chunks) {
        const std::optional<QByteArray> header = readAt(file, offset, kChunkHeaderSize);
        if (!header)
            break;
        const QByteArray id = header->left(4);
        uint64_t size = littleEndian32(*header, 4);
        const qint64 dataStart = offset + kChunkHeaderSize;
        if (size == kSizeInDs64 && ds64DataSize && id == "data")
            size = *ds64DataSize;

        if (id == "fmt " && !sampleRate && size >= kFormatChunkMinimumSize) {
            if (const std::optional<QByteArray> format = readAt(file, dataStart, kFormatChunkMinimumSize))
                sampleRate = littleEndian32(*format, kSampleRateOffset);
        } else if (id == "bext" && !timeReference && size >= kBroadcastChunkMinimumSize) {
            if (const std::optional<QByteArray> reference = readAt(file, dataStart + kTimeReferenceOffset, 8))
                timeReference = littleEndian64(*reference, 0);
        } else if (id == "ds64" && size >= kDs64DataSizeOffset + 8) {
            if (const std::optional<QByteArray> sizes = readAt(file, dataStart + kDs64DataSizeOffset, 8))
                ds64DataSize = littleEndian64(*sizes, 0);
        }

        // Chunks are padded to an even size; a chunk that claims to run past the end of the file
        // ends the walk (a recording cut short).
        const uint64_t padded = size + (size & 1);
        if (padded > uint64_t(fileSize - dataStart))
            break;
        offset = dataStart + qint64(padded);
    }

    if (!timeReference) {
        BVLog::appendLog("No broadcast header found");
        return std::nullopt;
    }
    if (!sampleRate || *sampleRate == 0) {
        BVLog::appendLog("Broadcast WAVE file without a usable format chunk: %@", path);
        return std::nullopt;
    }
    return BroadcastHeader {*sampleRate, *timeReference};
}

std::optional<QString> BVAudioFileParser::timecodeFromBWF(const QString &path, double fps, bool dropFrame)
{
    const std::optional<BroadcastHeader> header = broadcastHeader(path);
    if (!header)
        return std::nullopt;
    const MediaFrameRate rate = MediaFrameRate::fromFps(fps);
    if (!rate.isValid())
        return BVTimecode::timecodeFromSeconds(
            double(header->timeReference) / double(header->sampleRate), fps, dropFrame);
    // round(TimeReference x num / (den x sample rate)) in integers: NTSC rates at their exact
    // 1000/1001, and no rounding of a sample count in the billions through a double.
    __extension__ typedef unsigned __int128 Wide;
    const Wide numerator = Wide(header->timeReference) * uint64_t(rate.numerator());
    const Wide denominator = Wide(uint64_t(rate.denominator())) * header->sampleRate;
    const Wide rounded = (numerator * 2 + denominator) / (denominator * 2);
    const auto frames = static_cast<int64_t>(std::min<Wide>(rounded, Wide(int64_t(1) << 62)));
    return BVTimecode::timecodeFromFrameCount(frames, rate.timebase(), rate.isNtsc(), dropFrame, 0);
}

QString BVAudioFileParser::timecodeFromBWF(
    const QString &path, double fps, bool dropFrame, const QString &defaultTimecode)
{
    return timecodeFromBWF(path, fps, dropFrame).value_or(defaultTimecode);
}
