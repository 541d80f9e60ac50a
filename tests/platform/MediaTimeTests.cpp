#include "platform/media/MediaTime.h"

#include <gtest/gtest.h>

#include <limits>

using Rounding = MediaTime::Rounding;

TEST(MediaTime, QuickTimeRoundingTowardZeroIntoSmallerAndAwayIntoLargerTimescale)
{
    struct Case
    {
        MediaTime time;
        int32_t scale;
        int64_t expected;
        bool rounded;
    };
    const Case cases[] = {
        // Into a smaller timescale: toward zero.
        {{1999, 1000}, 24, 47, true}, // 47.976 -> 47
        {{-1999, 1000}, 24, -47, true}, // -47.976 -> -47
        {{100, 2398}, 24, 1, true}, // 1.0008 -> 1
        {{2400, 2400}, 24, 24, false},
        // Into a larger timescale: away from zero.
        {{1, 3}, 10, 4, true}, // 3.33 -> 4
        {{-1, 3}, 10, -4, true}, // -3.33 -> -4
        {{1, 24}, 600, 25, false},
        // A negative time never becomes zero.
        {{-1, 1000}, 24, -1, true},
        {{-1, 90000}, 1, -1, true},
    };
    for (const Case &c : cases) {
        const MediaTime converted = c.time.convertScale(c.scale, Rounding::QuickTime);
        EXPECT_EQ(converted.value(), c.expected) << c.time.description().toStdString() << " -> " << c.scale;
        EXPECT_EQ(converted.timescale(), c.scale);
        EXPECT_EQ(converted.hasBeenRounded(), c.rounded) << c.time.description().toStdString();
    }
    // A positive time may round to zero.
    EXPECT_EQ(MediaTime(1, 1000).convertScale(24, Rounding::QuickTime).value(), 0);
}

TEST(MediaTime, OtherRoundingMethods)
{
    const MediaTime half(3, 2); // 1.5
    EXPECT_EQ(half.convertScale(1, Rounding::HalfAwayFromZero).value(), 2);
    EXPECT_EQ((-half).convertScale(1, Rounding::HalfAwayFromZero).value(), -2);
    EXPECT_EQ(MediaTime(7, 5).convertScale(1, Rounding::HalfAwayFromZero).value(), 1);
    EXPECT_EQ(MediaTime(7, 5).convertScale(1, Rounding::AwayFromZero).value(), 2);
    EXPECT_EQ(MediaTime(-7, 5).convertScale(1, Rounding::AwayFromZero).value(), -2);
    EXPECT_EQ(MediaTime(9, 5).convertScale(1, Rounding::TowardZero).value(), 1);
    EXPECT_EQ(MediaTime(-9, 5).convertScale(1, Rounding::TowardZero).value(), -1);
    EXPECT_EQ(MediaTime(-9, 5).convertScale(1, Rounding::TowardNegativeInfinity).value(), -2);
    EXPECT_EQ(MediaTime(9, 5).convertScale(1, Rounding::TowardPositiveInfinity).value(), 2);
}

TEST(MediaTime, ComparesRationallyAcrossTimescalesWithoutOverflow)
{
    EXPECT_EQ(MediaTime(1, 24), MediaTime(1001, 24024));
    EXPECT_LT(MediaTime(100, 2398), MediaTime(1, 23));
    EXPECT_GT(MediaTime(1001, 24000), MediaTime(1, 24));
    // Values whose cross products overflow 64 bits still compare exactly.
    const int64_t big = std::numeric_limits<int64_t>::max() / 3;
    EXPECT_LT(MediaTime(big, 1000000000), MediaTime(big + 1, 1000000000));
    EXPECT_EQ(MediaTime(big, 1).compare(MediaTime(big, 1), MediaTime(big, 1)), 0);
    EXPECT_GT(MediaTime(big, 999999999), MediaTime(big, 1000000000));
}

TEST(MediaTime, OrdersSpecialValues)
{
    const MediaTime numeric(5, 1);
    EXPECT_LT(MediaTime::negativeInfinity(), numeric);
    EXPECT_LT(numeric, MediaTime::indefinite());
    EXPECT_LT(MediaTime::indefinite(), MediaTime::positiveInfinity());
    EXPECT_LT(MediaTime::positiveInfinity(), MediaTime::invalid());
    EXPECT_EQ(MediaTime::invalid(), MediaTime::invalid());
    EXPECT_EQ(MediaTime::minimum(numeric, MediaTime::zero()), MediaTime::zero());
}

TEST(MediaTime, ArithmeticUsesACommonTimescale)
{
    const MediaTime sum = MediaTime(1, 24) + MediaTime(1, 25);
    EXPECT_EQ(sum.timescale(), 600);
    EXPECT_EQ(sum.value(), 49);
    EXPECT_FALSE(sum.hasBeenRounded());
    EXPECT_EQ(MediaTime(10, 24) - MediaTime(4, 24), MediaTime(6, 24));
    EXPECT_TRUE((MediaTime::positiveInfinity() + MediaTime::negativeInfinity()).isIndefinite());
    EXPECT_FALSE((MediaTime::invalid() + MediaTime(1, 1)).isValid());
    EXPECT_DOUBLE_EQ(MediaTime(100, 2398).seconds(), 100.0 / 2398.0);
    EXPECT_EQ(MediaTime(100, 2398).multipliedBy(3), MediaTime(300, 2398));
}

TEST(MediaTime, FromSecondsRoundsHalfAwayFromZero)
{
    EXPECT_EQ(MediaTime::fromSeconds(1.5, 2).value(), 3);
    EXPECT_EQ(MediaTime::fromSeconds(-0.75, 2).value(), -2);
    EXPECT_TRUE(MediaTime::fromSeconds(-0.75, 2).hasBeenRounded());
    EXPECT_FALSE(MediaTime::fromSeconds(std::numeric_limits<double>::quiet_NaN(), 600).isValid());
    EXPECT_TRUE(MediaTime::fromSeconds(std::numeric_limits<double>::infinity(), 600).isPositiveInfinity());
}

TEST(MediaTime, DictionaryFormRoundTrips)
{
    const MediaTime times[] = {MediaTime(-12345, 2398), MediaTime(0, 1), MediaTime::positiveInfinity(),
        MediaTime(7, 600, MediaTime::Valid | MediaTime::HasBeenRounded, 3)};
    for (const MediaTime &t : times) {
        const QVariantMap dict = t.dictionary();
        EXPECT_EQ(dict.value("value").toLongLong(), t.value());
        EXPECT_EQ(dict.value("timescale").toInt(), t.timescale());
        EXPECT_EQ(dict.value("flags").toUInt(), t.flags());
        EXPECT_EQ(dict.value("epoch").toLongLong(), t.epoch());
        const MediaTime back = MediaTime::fromDictionary(dict);
        EXPECT_EQ(back.value(), t.value());
        EXPECT_EQ(back.timescale(), t.timescale());
        EXPECT_EQ(back.flags(), t.flags());
        EXPECT_EQ(back.epoch(), t.epoch());
    }
    EXPECT_FALSE(MediaTime::fromDictionary({{"value", 1}}).isValid());
    EXPECT_FALSE(MediaTime::fromDictionary({{"value", 1}, {"timescale", 0}, {"flags", 1}}).isValid());
}

TEST(MediaTimeRange, ContainsIntersectsAndRoundTrips)
{
    const MediaTimeRange range(MediaTime(24, 24), MediaTime(48, 24)); // 1 s to 3 s
    EXPECT_TRUE(range.containsTime(MediaTime(1, 1)));
    EXPECT_FALSE(range.containsTime(MediaTime(3, 1)));
    EXPECT_EQ(range.end(), MediaTime(3, 1));
    const MediaTimeRange other(MediaTime(2, 1), MediaTime(5, 1));
    EXPECT_EQ(range.intersection(other), MediaTimeRange(MediaTime(2, 1), MediaTime(1, 1)));
    EXPECT_EQ(range.unionWith(other).end(), MediaTime(7, 1));
    EXPECT_TRUE(MediaTimeRange(MediaTime(0, 1), MediaTime(0, 1)).isEmpty());
    EXPECT_FALSE(MediaTimeRange(MediaTime(0, 1), MediaTime(-1, 1)).isValid());
    EXPECT_EQ(MediaTimeRange::fromDictionary(range.dictionary()), range);
}
