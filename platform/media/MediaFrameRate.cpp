#include "platform/media/MediaFrameRate.h"

#include "platform/media/MediaWideArithmetic.h"

#include <cmath>
#include <limits>
#include <numeric>

namespace {

using MediaWide::clampToInt64;
using MediaWide::floorDiv;
using MediaWide::Wide;

} // namespace

MediaFrameRate::MediaFrameRate(int64_t numerator, int64_t denominator)
{
    if (numerator <= 0 || denominator <= 0)
        return;
    const int64_t divisor = std::gcd(numerator, denominator);
    m_numerator = numerator / divisor;
    m_denominator = denominator / divisor;
}

MediaFrameRate MediaFrameRate::fromFps(double fps)
{
    if (!(fps > 0) || !std::isfinite(fps) || fps > 1e6)
        return {};
    const double ntscBase = std::round(fps * 1001.0 / 1000.0);
    if (ntscBase >= 1 && std::abs(ntscBase * 1000.0 / 1001.0 - fps) < 0.002
        && std::abs(std::round(fps) - fps) > 0.002)
        return {int64_t(ntscBase) * 1000, 1001};
    const double whole = std::round(fps);
    if (whole >= 1 && std::abs(whole - fps) < 0.002)
        return {int64_t(whole), 1};
    return {std::max<int64_t>(1, std::llround(fps * 1000)), 1000};
}

MediaFrameRate MediaFrameRate::fromTimebase(int64_t timebase, bool ntsc)
{
    if (timebase <= 0)
        return {};
    return ntsc ? MediaFrameRate(timebase * 1000, 1001) : MediaFrameRate(timebase, 1);
}

double MediaFrameRate::fps() const
{
    return isValid() ? double(m_numerator) / double(m_denominator) : 0;
}

int64_t MediaFrameRate::timebase() const
{
    if (!isValid())
        return 0;
    return (m_numerator + m_denominator - 1) / m_denominator;
}

bool MediaFrameRate::isNtsc() const
{
    return isValid() && m_numerator % m_denominator != 0;
}

MediaTime MediaFrameRate::timeOfFrame(int64_t frame) const
{
    if (!isValid())
        return MediaTime::invalid();
    if (m_numerator <= std::numeric_limits<int32_t>::max()) {
        const Wide value = Wide(frame) * m_denominator;
        if (value <= std::numeric_limits<int64_t>::max() && value >= std::numeric_limits<int64_t>::min())
            return MediaTime(int64_t(value), int32_t(m_numerator));
    }
    // Rates beyond a 32-bit timescale: the nearest nanosecond at or after the start.
    const Wide ns = Wide(frame) * m_denominator * 1000000000;
    const Wide value = -floorDiv(-ns, m_numerator);
    return MediaTime(clampToInt64(value), 1000000000);
}

int64_t MediaFrameRate::frameAtTime(const MediaTime &time) const
{
    if (!isValid() || !time.isNumeric())
        return 0;
    // floor(seconds x rate + 1/ToleranceDivisor), in exact integers.
    const Wide unit = Wide(time.timescale()) * m_denominator;
    const Wide scaled = Wide(time.value()) * m_numerator * ToleranceDivisor + unit;
    return clampToInt64(floorDiv(scaled, unit * ToleranceDivisor));
}

int64_t MediaFrameRate::framesInDuration(const MediaTime &duration) const
{
    if (!isValid() || !duration.isNumeric() || duration.value() <= 0)
        return 0;
    // ceiling(seconds x rate - 1/ToleranceDivisor): a duration a hair over a whole number of
    // frames (rounded at a coarse timescale) adds no frame.
    const Wide unit = Wide(duration.timescale()) * m_denominator;
    const Wide scaled = Wide(duration.value()) * m_numerator * ToleranceDivisor - unit;
    const Wide whole = unit * ToleranceDivisor;
    return std::max<int64_t>(0, clampToInt64(-floorDiv(-scaled, whole)));
}
