#include "platform/media/MediaFrameIndex.h"

#include "platform/media/MediaWideArithmetic.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

using MediaWide::clampToInt64;
using MediaWide::floorDiv;
using MediaWide::Wide;

// The part of a frame by which a time may fall short of its start and still name it (as for the
// constant rule).
constexpr int64_t toleranceDivisor = MediaFrameRate::ToleranceDivisor;

} // namespace

MediaFrameIndex::MediaFrameIndex(
    std::vector<int64_t> starts, int64_t endTicks, int tickNumerator, int tickDenominator)
    : m_starts(std::move(starts))
    , m_end(endTicks)
    , m_tickNumerator(tickNumerator > 0 ? tickNumerator : 1)
    , m_tickDenominator(tickDenominator > 0 ? tickDenominator : 1)
{
    if (!m_starts.empty())
        m_end = std::max(m_end, m_starts.back() + 1);
}

MediaTime MediaFrameIndex::ticksToTime(int64_t ticks) const
{
    return MediaTime(clampToInt64(Wide(ticks) * m_tickNumerator), m_tickDenominator);
}

int64_t MediaFrameIndex::startTicks(int64_t frame) const
{
    const int64_t n = count();
    if (n == 0)
        return 0;
    if (frame >= 0 && frame < n)
        return m_starts[size_t(frame)];
    if (frame < 0) {
        const int64_t first = (n > 1 ? m_starts[1] : m_end) - m_starts[0];
        return clampToInt64(Wide(m_starts[0]) + Wide(frame) * first);
    }
    const int64_t last = m_end - m_starts[size_t(n - 1)];
    return clampToInt64(Wide(m_end) + Wide(frame - n) * last);
}

MediaTime MediaFrameIndex::timeOfFrame(int64_t frame) const
{
    return ticksToTime(startTicks(frame));
}

int64_t MediaFrameIndex::frameAtTime(const MediaTime &time) const
{
    const int64_t n = count();
    if (n == 0 || !time.isNumeric())
        return 0;
    // In units of 1 / (timescale x tick denominator) seconds, exact: a tick is
    // tickNumerator x timescale units, the time value x tickDenominator units.
    const Wide unitsPerTick = Wide(m_tickNumerator) * time.timescale();
    const Wide at = Wide(time.value()) * m_tickDenominator * toleranceDivisor;
    // Where frame k starts to be named (a thousandth of the frame before it, scaled by the divisor).
    const auto namedFrom = [&](int64_t k) {
        const int64_t start = startTicks(k);
        const int64_t before = startTicks(k - 1);
        return (Wide(start) * toleranceDivisor - Wide(start - before)) * unitsPerTick;
    };
    if (at < namedFrom(0)) {
        const int64_t first = startTicks(1) - startTicks(0);
        const Wide length = Wide(first) * unitsPerTick * toleranceDivisor;
        return clampToInt64(floorDiv(at - namedFrom(0), length)); // negative
    }
    if (at >= namedFrom(n)) {
        const int64_t last = m_end - startTicks(n - 1);
        const Wide length = Wide(last) * unitsPerTick * toleranceDivisor;
        return clampToInt64(n + floorDiv(at - namedFrom(n), length));
    }
    // The last frame whose naming has begun.
    int64_t low = 0, high = n; // namedFrom(low) <= at < namedFrom(high)
    while (high - low > 1) {
        const int64_t mid = low + (high - low) / 2;
        if (namedFrom(mid) <= at)
            low = mid;
        else
            high = mid;
    }
    return low;
}

double MediaFrameIndex::averageRate() const
{
    const double seconds = duration().seconds();
    return seconds > 0 ? double(count()) / seconds : 0;
}

bool MediaFrameIndex::followsRate(const MediaFrameRate &rate) const
{
    if (!rate.isValid() || rate.framesInDuration(duration()) != count())
        return false;
    for (int64_t k = 0; k < count(); ++k)
        if (frameAtTime(rate.timeOfFrame(k)) != k)
            return false;
    return true;
}

bool MediaFrameIndex::ratesSuggestVariable(
    int realNumerator, int realDenominator, int averageNumerator, int averageDenominator)
{
    if (realNumerator <= 0 || realDenominator <= 0 || averageNumerator <= 0 || averageDenominator <= 0)
        return false;
    const double real = double(realNumerator) / realDenominator;
    const double average = double(averageNumerator) / averageDenominator;
    return std::abs(real / average - 1) > 0.0005;
}

MediaFrameRate MediaFrameIndex::nominalRate(double streamRate, double averageRate)
{
    static const MediaFrameRate standard[] = {
        {24000, 1001},
        {24, 1},
        {25, 1},
        {30000, 1001},
        {30, 1},
        {48, 1},
        {50, 1},
        {60000, 1001},
        {60, 1},
        {100, 1},
        {120000, 1001},
        {120, 1},
    };
    // Within what a rate written as a decimal (29.97) leaves out.
    constexpr double slack = 0.002;
    if (streamRate > 0 && streamRate >= averageRate - slack)
        for (const MediaFrameRate &rate : standard)
            if (std::abs(rate.fps() - streamRate) < slack)
                return rate;
    for (const MediaFrameRate &rate : standard)
        if (rate.fps() >= averageRate - slack)
            return rate;
    return MediaFrameRate(int64_t(std::ceil(std::max(averageRate, 1.0))), 1);
}

std::shared_ptr<const MediaFrameIndex> MediaFrameIndex::scan(
    AVFormatContext *context, int streamIndex, const std::atomic<bool> *cancel)
{
    if (!context || streamIndex < 0 || unsigned(streamIndex) >= context->nb_streams)
        return nullptr;
    const AVStream *stream = context->streams[streamIndex];
    if (stream->time_base.num <= 0 || stream->time_base.den <= 0)
        return nullptr;
    std::vector<AVDiscard> discards(context->nb_streams);
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        discards[i] = context->streams[i]->discard;
        context->streams[i]->discard = int(i) == streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    std::vector<int64_t> starts;
    if (stream->nb_frames > 0)
        starts.reserve(size_t(std::min<int64_t>(stream->nb_frames, 1 << 22)));
    int64_t end = std::numeric_limits<int64_t>::min();
    bool usable = true;
    AVPacket *packet = av_packet_alloc();
    int result = 0;
    while (packet && usable && (result = av_read_frame(context, packet)) >= 0) {
        if (cancel && cancel->load())
            usable = false;
        else if (packet->stream_index == streamIndex && !(packet->flags & AV_PKT_FLAG_DISCARD)) {
            if (packet->pts == AV_NOPTS_VALUE) {
                usable = false;
            } else {
                starts.push_back(packet->pts);
                end = std::max(end, packet->pts + std::max<int64_t>(packet->duration, 0));
            }
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    for (unsigned i = 0; i < context->nb_streams; ++i)
        context->streams[i]->discard = discards[i];
    if (!usable || result != AVERROR_EOF || starts.size() < 2)
        return nullptr;

    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
    // Counted from the stream's start, the player's zero; pictures before it are never shown.
    const int64_t first = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : starts.front();
    starts.erase(starts.begin(), std::lower_bound(starts.begin(), starts.end(), first));
    if (starts.size() < 2)
        return nullptr;
    const int64_t origin = starts.front();
    for (int64_t &start : starts)
        start -= origin;
    // A last packet without a duration lasts as long as the one before it.
    const int64_t lastLength = starts.back() - starts[starts.size() - 2];
    int64_t last = end - origin;
    if (last <= starts.back())
        last = starts.back() + lastLength;
    return std::make_shared<const MediaFrameIndex>(
        std::move(starts), last, stream->time_base.num, stream->time_base.den);
}
