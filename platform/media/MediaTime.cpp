#include "platform/media/MediaTime.h"

#include <cmath>
#include <limits>
#include <numeric>

namespace {

__extension__ typedef __int128 int128;

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

// numerator / denominator (denominator > 0) rounded by the method; 'larger' tells QuickTime rounding
// whether the conversion goes to a larger timescale.
int128 divideRounded(
    int128 numerator, int128 denominator, MediaTime::Rounding method, bool larger, bool *inexact)
{
    int128 q = numerator / denominator;
    const int128 r = numerator % denominator;
    *inexact = r != 0;
    if (r == 0)
        return q;
    const int sign = numerator < 0 ? -1 : 1;
    switch (method) {
    case MediaTime::Rounding::TowardZero:
        break;
    case MediaTime::Rounding::AwayFromZero:
        q += sign;
        break;
    case MediaTime::Rounding::HalfAwayFromZero: {
        const int128 twice = (r < 0 ? -r : r) * 2;
        if (twice >= denominator)
            q += sign;
        break;
    }
    case MediaTime::Rounding::TowardPositiveInfinity:
        if (r > 0)
            q += 1;
        break;
    case MediaTime::Rounding::TowardNegativeInfinity:
        if (r < 0)
            q -= 1;
        break;
    case MediaTime::Rounding::QuickTime:
        if (larger)
            q += sign;
        break;
    }
    return q;
}

MediaTime fromWide(int128 value, int32_t timescale, uint32_t flags, int64_t epoch)
{
    if (value > int128(kMax))
        return MediaTime::positiveInfinity();
    if (value < int128(kMin))
        return MediaTime::negativeInfinity();
    return MediaTime(int64_t(value), timescale, flags, epoch);
}

// Rank of the non-numeric kinds in the ordering.
int rank(const MediaTime &t)
{
    if (!t.isValid())
        return 4;
    if (t.isPositiveInfinity())
        return 3;
    if (t.isIndefinite())
        return 2;
    if (t.isNegativeInfinity())
        return 0;
    return 1;
}

} // namespace

MediaTime MediaTime::fromSeconds(double seconds, int32_t preferredTimescale)
{
    if (std::isnan(seconds) || preferredTimescale <= 0)
        return invalid();
    if (std::isinf(seconds))
        return seconds > 0 ? positiveInfinity() : negativeInfinity();
    const double scaled = seconds * double(preferredTimescale);
    if (scaled >= 9.2e18)
        return positiveInfinity();
    if (scaled <= -9.2e18)
        return negativeInfinity();
    const double rounded = std::round(scaled);
    uint32_t flags = Valid;
    if (rounded != scaled)
        flags |= HasBeenRounded;
    return MediaTime(int64_t(rounded), preferredTimescale, flags);
}

double MediaTime::seconds() const
{
    if (isPositiveInfinity())
        return std::numeric_limits<double>::infinity();
    if (isNegativeInfinity())
        return -std::numeric_limits<double>::infinity();
    if (!isNumeric())
        return std::numeric_limits<double>::quiet_NaN();
    return double(m_value) / double(m_timescale);
}

MediaTime MediaTime::convertScale(int32_t newTimescale, Rounding method) const
{
    if (!isNumeric() || newTimescale <= 0)
        return newTimescale <= 0 ? invalid() : *this;
    if (newTimescale == m_timescale)
        return *this;
    bool inexact = false;
    const bool larger = newTimescale > m_timescale;
    int128 value = divideRounded(int128(m_value) * newTimescale, m_timescale, method, larger, &inexact);
    // QuickTime rounding never turns a negative time into zero.
    if (method == Rounding::QuickTime && m_value < 0 && value == 0)
        value = -1;
    uint32_t flags = m_flags;
    if (inexact)
        flags |= HasBeenRounded;
    return fromWide(value, newTimescale, flags, m_epoch);
}

MediaTime MediaTime::operator+(const MediaTime &other) const
{
    if (!isValid() || !other.isValid())
        return invalid();
    if (isIndefinite() || other.isIndefinite())
        return indefinite();
    if ((isPositiveInfinity() && other.isNegativeInfinity())
        || (isNegativeInfinity() && other.isPositiveInfinity()))
        return indefinite();
    if (isPositiveInfinity() || other.isPositiveInfinity())
        return positiveInfinity();
    if (isNegativeInfinity() || other.isNegativeInfinity())
        return negativeInfinity();
    const uint32_t rounded = (m_flags | other.m_flags) & HasBeenRounded;
    if (m_timescale == other.m_timescale)
        return fromWide(int128(m_value) + other.m_value, m_timescale, Valid | rounded, m_epoch);
    const int64_t lcm = std::lcm(int64_t(m_timescale), int64_t(other.m_timescale));
    if (lcm <= std::numeric_limits<int32_t>::max()) {
        const int128 a = int128(m_value) * (lcm / m_timescale);
        const int128 b = int128(other.m_value) * (lcm / other.m_timescale);
        return fromWide(a + b, int32_t(lcm), Valid | rounded, m_epoch);
    }
    // No common timescale fits: use the finer one, rounding the other time into it.
    const int32_t scale = std::max(m_timescale, other.m_timescale);
    const MediaTime a = convertScale(scale, Rounding::Default);
    const MediaTime b = other.convertScale(scale, Rounding::Default);
    return fromWide(
        int128(a.m_value) + b.m_value, scale, Valid | ((a.m_flags | b.m_flags) & HasBeenRounded), m_epoch);
}

MediaTime MediaTime::operator-() const
{
    if (isPositiveInfinity())
        return negativeInfinity();
    if (isNegativeInfinity())
        return positiveInfinity();
    if (!isNumeric())
        return *this;
    return fromWide(-int128(m_value), m_timescale, m_flags, m_epoch);
}

MediaTime MediaTime::operator-(const MediaTime &other) const
{
    return *this + (-other);
}

MediaTime MediaTime::multipliedBy(int64_t multiplier) const
{
    if (!isNumeric())
        return *this;
    return fromWide(int128(m_value) * multiplier, m_timescale, m_flags, m_epoch);
}

MediaTime MediaTime::multipliedByRatio(int64_t multiplier, int64_t divisor) const
{
    if (!isNumeric() || divisor == 0)
        return divisor == 0 ? invalid() : *this;
    if (divisor < 0) {
        multiplier = -multiplier;
        divisor = -divisor;
    }
    bool inexact = false;
    const int128 value
        = divideRounded(int128(m_value) * multiplier, divisor, Rounding::Default, false, &inexact);
    return fromWide(value, m_timescale, m_flags | (inexact ? uint32_t(HasBeenRounded) : 0u), m_epoch);
}

int MediaTime::compare(const MediaTime &a, const MediaTime &b)
{
    const int ra = rank(a);
    const int rb = rank(b);
    if (ra != rb)
        return ra < rb ? -1 : 1;
    if (ra != 1)
        return 0;
    if (a.m_epoch != b.m_epoch)
        return a.m_epoch < b.m_epoch ? -1 : 1;
    const int128 left = int128(a.m_value) * b.m_timescale;
    const int128 right = int128(b.m_value) * a.m_timescale;
    return left < right ? -1 : (left > right ? 1 : 0);
}

QVariantMap MediaTime::dictionary() const
{
    return {
        {QStringLiteral("value"), qlonglong(m_value)},
        {QStringLiteral("timescale"), int(m_timescale)},
        {QStringLiteral("flags"), int(m_flags)},
        {QStringLiteral("epoch"), qlonglong(m_epoch)},
    };
}

MediaTime MediaTime::fromDictionary(const QVariantMap &dictionary)
{
    bool okValue = false, okScale = false, okFlags = false;
    const qlonglong value = dictionary.value(QStringLiteral("value")).toLongLong(&okValue);
    const qlonglong timescale = dictionary.value(QStringLiteral("timescale")).toLongLong(&okScale);
    const qlonglong flags = dictionary.value(QStringLiteral("flags")).toLongLong(&okFlags);
    const qlonglong epoch = dictionary.value(QStringLiteral("epoch")).toLongLong();
    if (!okValue || !okScale || !okFlags || timescale <= 0 || timescale > std::numeric_limits<int32_t>::max())
        return invalid();
    return MediaTime(value, int32_t(timescale), uint32_t(flags), epoch);
}

QString MediaTime::description() const
{
    if (!isValid())
        return QStringLiteral("{INVALID}");
    if (isPositiveInfinity())
        return QStringLiteral("{+INFINITY}");
    if (isNegativeInfinity())
        return QStringLiteral("{-INFINITY}");
    if (isIndefinite())
        return QStringLiteral("{INDEFINITE}");
    return QStringLiteral("{%1/%2 = %3}").arg(m_value).arg(m_timescale).arg(seconds(), 0, 'f', 3);
}

MediaTimeRange MediaTimeRange::fromStartEnd(const MediaTime &start, const MediaTime &end)
{
    return {start, end - start};
}

bool MediaTimeRange::isValid() const
{
    return m_start.isValid() && m_duration.isValid() && m_duration.epoch() == 0 && m_duration.value() >= 0;
}

bool MediaTimeRange::isEmpty() const
{
    return isValid() && m_duration.isNumeric() && m_duration.value() == 0;
}

bool MediaTimeRange::containsTime(const MediaTime &time) const
{
    return isValid() && time.isNumeric() && m_start <= time && time < end();
}

bool MediaTimeRange::containsRange(const MediaTimeRange &other) const
{
    return isValid() && other.isValid() && m_start <= other.m_start && other.end() <= end();
}

MediaTimeRange MediaTimeRange::intersection(const MediaTimeRange &other) const
{
    if (!isValid() || !other.isValid())
        return invalid();
    const MediaTime start = MediaTime::maximum(m_start, other.m_start);
    const MediaTime finish = MediaTime::minimum(end(), other.end());
    if (finish <= start)
        return {start, MediaTime::zero()};
    return fromStartEnd(start, finish);
}

MediaTimeRange MediaTimeRange::unionWith(const MediaTimeRange &other) const
{
    if (!isValid())
        return other;
    if (!other.isValid())
        return *this;
    return fromStartEnd(MediaTime::minimum(m_start, other.m_start), MediaTime::maximum(end(), other.end()));
}

QVariantMap MediaTimeRange::dictionary() const
{
    return {{QStringLiteral("start"), m_start.dictionary()},
        {QStringLiteral("duration"), m_duration.dictionary()}};
}

MediaTimeRange MediaTimeRange::fromDictionary(const QVariantMap &dictionary)
{
    return {MediaTime::fromDictionary(dictionary.value(QStringLiteral("start")).toMap()),
        MediaTime::fromDictionary(dictionary.value(QStringLiteral("duration")).toMap())};
}
