#pragma once

#include <QString>
#include <QVariantMap>

#include <compare>
#include <cstdint>

// A rational time: value / timescale seconds, with validity flags. Comparisons are exact across
// timescales. Stored in dictionary form with the keys "value", "timescale", "flags" and "epoch".
class MediaTime
{
public:
    enum Flags : uint32_t {
        Valid = 1,
        HasBeenRounded = 2,
        PositiveInfinity = 4,
        NegativeInfinity = 8,
        Indefinite = 16,
    };

    enum class Rounding {
        // Toward zero into a smaller timescale, away from zero into a larger one; a negative time
        // never rounds to zero (it becomes -1 / newTimescale).
        QuickTime,
        HalfAwayFromZero,
        TowardZero,
        AwayFromZero,
        TowardPositiveInfinity,
        TowardNegativeInfinity,
        Default = HalfAwayFromZero,
    };

    constexpr MediaTime() = default;
    constexpr MediaTime(int64_t value, int32_t timescale, uint32_t flags = Valid, int64_t epoch = 0)
        : m_value(value)
        , m_timescale(timescale)
        , m_flags(timescale > 0 ? flags : 0)
        , m_epoch(epoch)
    { }

    static constexpr MediaTime invalid() { return {}; }
    static constexpr MediaTime zero() { return {0, 1}; }
    static constexpr MediaTime positiveInfinity() { return {0, 1, Valid | PositiveInfinity}; }
    static constexpr MediaTime negativeInfinity() { return {0, 1, Valid | NegativeInfinity}; }
    static constexpr MediaTime indefinite() { return {0, 1, Valid | Indefinite}; }
    // The time nearest to the seconds in the preferred timescale (half away from zero).
    static MediaTime fromSeconds(double seconds, int32_t preferredTimescale);

    int64_t value() const { return m_value; }
    int32_t timescale() const { return m_timescale; }
    uint32_t flags() const { return m_flags; }
    int64_t epoch() const { return m_epoch; }

    bool isValid() const { return m_flags & Valid; }
    bool isNumeric() const
    {
        return (m_flags & (Valid | PositiveInfinity | NegativeInfinity | Indefinite)) == Valid;
    }
    bool isPositiveInfinity() const { return isValid() && (m_flags & PositiveInfinity); }
    bool isNegativeInfinity() const { return isValid() && (m_flags & NegativeInfinity); }
    bool isIndefinite() const { return isValid() && (m_flags & Indefinite); }
    bool hasBeenRounded() const { return m_flags & HasBeenRounded; }

    double seconds() const;
    MediaTime convertScale(int32_t newTimescale, Rounding method = Rounding::Default) const;

    MediaTime operator+(const MediaTime &other) const;
    MediaTime operator-(const MediaTime &other) const;
    MediaTime operator-() const;
    MediaTime multipliedBy(int64_t multiplier) const;
    MediaTime multipliedByRatio(int64_t multiplier, int64_t divisor) const;
    MediaTime absolute() const { return m_value < 0 && isNumeric() ? -*this : *this; }

    // Ordering: -infinity < numeric < indefinite < +infinity < invalid; numeric times compare
    // rationally, epochs first.
    static int compare(const MediaTime &a, const MediaTime &b);
    std::strong_ordering operator<=>(const MediaTime &other) const { return compare(*this, other) <=> 0; }
    bool operator==(const MediaTime &other) const { return compare(*this, other) == 0; }

    static MediaTime minimum(const MediaTime &a, const MediaTime &b) { return compare(a, b) <= 0 ? a : b; }
    static MediaTime maximum(const MediaTime &a, const MediaTime &b) { return compare(a, b) >= 0 ? a : b; }

    QVariantMap dictionary() const;
    static MediaTime fromDictionary(const QVariantMap &dictionary);
    // "{value/timescale = seconds}", for log lines.
    QString description() const;

private:
    int64_t m_value = 0;
    int32_t m_timescale = 0;
    uint32_t m_flags = 0;
    int64_t m_epoch = 0;
};

// A time range: start and duration.
class MediaTimeRange
{
public:
    constexpr MediaTimeRange() = default;
    MediaTimeRange(const MediaTime &start, const MediaTime &duration)
        : m_start(start)
        , m_duration(duration)
    { }
    static MediaTimeRange fromStartEnd(const MediaTime &start, const MediaTime &end);
    static MediaTimeRange invalid() { return {}; }

    const MediaTime &start() const { return m_start; }
    const MediaTime &duration() const { return m_duration; }
    MediaTime end() const { return m_start + m_duration; }
    bool isValid() const;
    bool isEmpty() const;
    // True when start <= time < end.
    bool containsTime(const MediaTime &time) const;
    bool containsRange(const MediaTimeRange &other) const;
    MediaTimeRange intersection(const MediaTimeRange &other) const;
    MediaTimeRange unionWith(const MediaTimeRange &other) const;
    bool operator==(const MediaTimeRange &other) const = default;

    QVariantMap dictionary() const;
    static MediaTimeRange fromDictionary(const QVariantMap &dictionary);

private:
    MediaTime m_start;
    MediaTime m_duration;
};
