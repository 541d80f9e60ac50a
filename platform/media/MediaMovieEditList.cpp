#include "platform/media/MediaMovieEditList.h"

#include "support/BVLog.h"

#include <QFile>

#include <optional>

namespace {

struct Box
{
    qint64 start = 0; // offset of the box's header
    qint64 payload = 0; // offset of its contents
    qint64 end = 0;
    QByteArray type;
};

uint64_t readBE(const char *data, int bytes)
{
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | uint8_t(data[i]);
    return value;
}

void writeBE(char *data, int bytes, uint64_t value)
{
    for (int i = bytes - 1; i >= 0; --i) {
        data[i] = char(value & 0xff);
        value >>= 8;
    }
}

// The boxes between two offsets of the buffer.
std::vector<Box> children(const QByteArray &data, qint64 from, qint64 to)
{
    std::vector<Box> boxes;
    qint64 at = from;
    while (at + 8 <= to) {
        uint64_t size = readBE(data.constData() + at, 4);
        qint64 header = 8;
        if (size == 1 && at + 16 <= to) {
            size = readBE(data.constData() + at + 8, 8);
            header = 16;
        } else if (size == 0) {
            size = uint64_t(to - at);
        }
        if (size < uint64_t(header) || at + qint64(size) > to)
            break;
        boxes.push_back({at, at + header, at + qint64(size), data.mid(at + 4, 4)});
        at += qint64(size);
    }
    return boxes;
}

std::optional<Box> child(const QByteArray &data, const Box &parent, const char *type)
{
    for (const Box &box : children(data, parent.payload, parent.end))
        if (box.type == type)
            return box;
    return std::nullopt;
}

// Duration field of an mvhd or tkhd box: offset in the buffer and width.
std::pair<qint64, int> durationField(const QByteArray &data, const Box &box)
{
    const bool v1 = data.at(box.payload) == 1;
    const bool track = box.type == "tkhd";
    const qint64 offset = box.payload + 4 + (v1 ? 16 : 8) + (track ? 8 : 4);
    return {offset, v1 ? 8 : 4};
}

} // namespace

bool MediaMovieEditList::limitTracks(const QString &path, const std::vector<TrackEnd> &ends)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    // Find the movie box among the top-level boxes without reading the media data.
    qint64 at = 0;
    const qint64 size = file.size();
    qint64 moovStart = -1;
    qint64 moovSize = 0;
    while (at + 8 <= size) {
        file.seek(at);
        QByteArray header = file.read(16);
        if (header.size() < 8)
            return false;
        uint64_t boxSize = readBE(header.constData(), 4);
        if (boxSize == 1 && header.size() == 16)
            boxSize = readBE(header.constData() + 8, 8);
        else if (boxSize == 0)
            boxSize = uint64_t(size - at);
        if (boxSize < 8)
            return false;
        if (header.mid(4, 4) == "moov") {
            moovStart = at;
            moovSize = qint64(boxSize);
            break;
        }
        at += qint64(boxSize);
    }
    if (moovStart < 0 || moovSize > 256 * 1024 * 1024)
        return false;
    file.seek(moovStart);
    QByteArray moov = file.read(moovSize);
    if (moov.size() != moovSize)
        return false;
    const std::vector<Box> top = children(moov, 0, moov.size());
    if (top.empty() || top.front().type != "moov")
        return false;
    const Box movie = top.front();
    const std::optional<Box> mvhd = child(moov, movie, "mvhd");
    if (!mvhd)
        return false;
    const uint32_t movieScale
        = uint32_t(readBE(moov.constData() + mvhd->payload + 4 + (moov.at(mvhd->payload) == 1 ? 16 : 8), 4));
    if (movieScale == 0)
        return false;

    std::vector<Box> tracks;
    for (const Box &box : children(moov, movie.payload, movie.end))
        if (box.type == "trak")
            tracks.push_back(box);
    for (const TrackEnd &end : ends) {
        if (end.trackIndex < 0 || size_t(end.trackIndex) >= tracks.size())
            return false;
        const Box &trak = tracks[size_t(end.trackIndex)];
        const std::optional<Box> edts = child(moov, trak, "edts");
        const std::optional<Box> elst = edts ? child(moov, *edts, "elst") : std::nullopt;
        if (!elst)
            return false;
        const bool v1 = moov.at(elst->payload) == 1;
        const int field = v1 ? 8 : 4;
        const uint32_t count = uint32_t(readBE(moov.constData() + elst->payload + 4, 4));
        const qint64 entrySize = 2 * field + 4;
        const qint64 first = elst->payload + 8;
        if (count == 0 || first + qint64(count) * entrySize > elst->end)
            return false;
        const MediaTime movieEnd
            = end.end.convertScale(int32_t(movieScale), MediaTime::Rounding::HalfAwayFromZero);
        // Earlier edits (an empty edit before the media) keep their length; the last one ends at the end.
        uint64_t before = 0;
        for (uint32_t i = 0; i + 1 < count; ++i)
            before += readBE(moov.constData() + first + qint64(i) * entrySize, field);
        const int64_t last = movieEnd.value() - int64_t(before);
        if (last <= 0)
            return false;
        writeBE(moov.data() + first + qint64(count - 1) * entrySize, field, uint64_t(last));
        if (const std::optional<Box> tkhd = child(moov, trak, "tkhd")) {
            const auto [offset, width] = durationField(moov, *tkhd);
            writeBE(moov.data() + offset, width, uint64_t(movieEnd.value()));
        }
    }
    // The movie lasts as long as its longest track.
    uint64_t longest = 0;
    for (const Box &trak : tracks) {
        if (const std::optional<Box> tkhd = child(moov, trak, "tkhd")) {
            const auto [offset, width] = durationField(moov, *tkhd);
            longest = std::max(longest, readBE(moov.constData() + offset, width));
        }
    }
    const auto [offset, width] = durationField(moov, *mvhd);
    writeBE(moov.data() + offset, width, longest);
    file.seek(moovStart);
    if (file.write(moov) != moov.size())
        return false;
    return file.flush();
}
