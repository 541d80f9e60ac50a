#include "player/time/BVAudioFileParser.h"

#include "platform/media/MediaFrameRate.h"
#include "player/time/BVTimecode.h"
#include "support/BVLog.h"

#include <QFile>
#include <QStringList>
#include <QXmlStreamReader>

#include <algorithm>
#include <functional>
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
// An iXML document larger than this is not a recorder's.
constexpr qint64 kMaximumIxmlSize = 1 << 20;

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

// Walks the RIFF chunks of an opened WAVE file, handing each chunk's id, data offset and size to
// visit until it answers false; false when the file is not a RIFF WAVE file.
bool walkChunks(QFile &file, const QString &path,
    const std::function<bool(const QByteArray &id, qint64 dataStart, uint64_t size)> &visit)
{
    const qint64 fileSize = file.size();
    const std::optional<QByteArray> riff = readAt(file, 0, kRiffHeaderSize);
    const QByteArray form = riff ? riff->left(4) : QByteArray();
    if (!riff || (form != "RIFF" && form != "RF64" && form != "BW64") || riff->mid(8, 4) != "WAVE") {
        BVLog::appendLog("Not a RIFF WAVE file: %@", path);
        return false;
    }
    std::optional<uint64_t> ds64DataSize;
    qint64 offset = kRiffHeaderSize;
    for (int chunks = 0; chunks < kMaximumChunks; ++chunks) {
        const std::optional<QByteArray> header = readAt(file, offset, kChunkHeaderSize);
        if (!header)
            break;
        const QByteArray id = header->left(4);
        uint64_t size = littleEndian32(*header, 4);
        const qint64 dataStart = offset + kChunkHeaderSize;
        if (size == kSizeInDs64 && ds64DataSize && id == "data")
            size = *ds64DataSize;
        if (id == "ds64" && size >= kDs64DataSizeOffset + 8) {
            if (const std::optional<QByteArray> sizes = readAt(file, dataStart + kDs64DataSizeOffset, 8))
                ds64DataSize = littleEndian64(*sizes, 0);
        }
        if (!visit(id, dataStart, size))
            break;
        // Chunks are padded to an even size; a chunk that claims to run past the end of the file
        // ends the walk (a recording cut short).
        const uint64_t padded = size + (size & 1);
        if (padded > uint64_t(fileSize - dataStart))
            break;
        offset = dataStart + qint64(padded);
    }
    return true;
}

// "30000/1001", "24/1", "25" or "29.97": the rate in frames a second; none for anything else.
std::optional<double> parseRecorderRate(const QString &text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('/'));
    bool ok = false;
    const double numerator = parts.value(0).toDouble(&ok);
    if (!ok || parts.size() > 2)
        return std::nullopt;
    double denominator = 1;
    if (parts.size() == 2) {
        denominator = parts.at(1).toDouble(&ok);
        if (!ok)
            return std::nullopt;
    }
    if (!(numerator > 0) || !(denominator > 0))
        return std::nullopt;
    const double fps = numerator / denominator;
    if (!(fps >= 1 && fps <= 240))
        return std::nullopt;
    return fps;
}

} // namespace

std::optional<BVAudioFileParser::BroadcastHeader> BVAudioFileParser::broadcastHeader(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        BVLog::appendLog("Could not open audio file %@: %@", path, file.errorString());
        return std::nullopt;
    }
    std::optional<uint32_t> sampleRate;
    std::optional<uint64_t> timeReference;
    const bool wave = walkChunks(file, path, [&](const QByteArray &id, qint64 dataStart, uint64_t size) {
        if (id == "fmt " && !sampleRate && size >= kFormatChunkMinimumSize) {
            if (const std::optional<QByteArray> format = readAt(file, dataStart, kFormatChunkMinimumSize))
                sampleRate = littleEndian32(*format, kSampleRateOffset);
        } else if (id == "bext" && !timeReference && size >= kBroadcastChunkMinimumSize) {
            if (const std::optional<QByteArray> reference = readAt(file, dataStart + kTimeReferenceOffset, 8))
                timeReference = littleEndian64(*reference, 0);
        }
        return !(sampleRate && timeReference);
    });
    if (!wave)
        return std::nullopt;
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

std::optional<BVAudioFileParser::RecorderRate> BVAudioFileParser::recorderRate(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    std::optional<QByteArray> ixml;
    walkChunks(file, path, [&](const QByteArray &id, qint64 dataStart, uint64_t size) {
        if (id != "iXML")
            return true;
        if (size <= uint64_t(kMaximumIxmlSize))
            ixml = readAt(file, dataStart, qint64(size));
        return false;
    });
    if (!ixml)
        return std::nullopt;
    return recorderRateFromIxml(*ixml);
}

std::optional<BVAudioFileParser::RecorderRate> BVAudioFileParser::recorderRateFromIxml(const QByteArray &ixml)
{
    // The chunk may end in padding or a terminating zero after the document.
    QByteArray text = ixml;
    if (const qsizetype zero = text.indexOf('\0'); zero >= 0)
        text.truncate(zero);
    QXmlStreamReader reader(text);
    std::optional<double> fps;
    std::optional<QString> flag;
    while (!reader.atEnd() && !(fps && flag)) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        // Recorders write the fields under SPEED; the first of each counts.
        if (reader.name() == QLatin1String("TIMECODE_RATE") && !fps) {
            fps = parseRecorderRate(reader.readElementText());
            if (!fps)
                break;
        } else if (reader.name() == QLatin1String("TIMECODE_FLAG") && !flag) {
            flag = reader.readElementText().trimmed().toUpper();
        }
    }
    if (!fps) {
        if (reader.hasError())
            BVLog::appendLog("Unreadable iXML chunk: %@", reader.errorString());
        return std::nullopt;
    }
    const MediaFrameRate rate = MediaFrameRate::fromFps(*fps);
    const bool countsDropFrame
        = rate.isValid() && (rate.timebase() == 30 || rate.timebase() == 60) && rate.isNtsc();
    RecorderRate result;
    result.fps = *fps;
    result.dropFrame = countsDropFrame && flag.value_or(QString()) == QLatin1String("DF");
    return result;
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
