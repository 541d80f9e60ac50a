#include "support/BVTimeEstimate.h"

#include <gtest/gtest.h>

namespace {

// An estimate on a clock the test moves.
struct Clocked
{
    QDateTime now = QDateTime(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC);
    BVTimeEstimate estimate;
    explicit Clocked(std::optional<double> total = 1.0)
    {
        estimate = BVTimeEstimate::timeEstimateWithTotal(total);
        estimate.setClock([this] { return now; });
    }
    void advance(double seconds) { now = now.addMSecs(qint64(seconds * 1000)); }
};

} // namespace

TEST(TimeEstimate, TextsThroughAJob)
{
    const struct
    {
        double elapsed;
        std::optional<double> total;
        double current;
        bool calculating;
        const char *text;
    } cases[] = {
        {3, 1.0, 0.1, true, "Calculating time"},
        {3, 1.0, 0.1, false, ""},
        {10, 1.0, 0.25, true, "00:00:30"}, // 10 s for a quarter: 30 s for the rest
        {10, 1.0, 0.0, true, "Unknown"}, // no progress after 10 s
        {10, std::nullopt, 500, true, "Unknown"}, // a download without a length
        {10, 0.0, 500, true, "Unknown"},
        {10, 1000.0, 500, true, "00:00:10"},
        {3600, 1.0, 0.04, true, "00:00:00"}, // 24 h left: hours modulo 24
        {1, 1.0, 0.0, true, "Calculating time"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        Clocked clock(c.total);
        clock.estimate.showCalculatingTimeMessage = c.calculating;
        clock.estimate.start();
        clock.advance(c.elapsed);
        clock.estimate.setCurrentValue(c.current);
        EXPECT_EQ(clock.estimate.timeRemaining(), QString::fromLatin1(c.text));
    }
}

TEST(TimeEstimate, TwentyFiveHoursReadAsOne)
{
    Clocked clock;
    clock.estimate.start();
    // 1 % after 15 min: 99 x 15 min = 24.75 h left.
    clock.advance(900);
    clock.estimate.setCurrentValue(0.01);
    EXPECT_DOUBLE_EQ(clock.estimate.secondsRemaining(), 89100);
    Clocked day;
    day.estimate.start();
    day.advance(25 * 3600.0 / 99 * 1); // 1 % done in 1/99 of 25 h: 25 h left
    day.estimate.setCurrentValue(0.01);
    EXPECT_EQ(day.estimate.timeRemaining(), QStringLiteral("01:00:00"));
}

TEST(TimeEstimate, TextChangesAtMostEveryEightTenthsOfASecond)
{
    Clocked clock;
    clock.estimate.start();
    clock.advance(10);
    clock.estimate.setCurrentValue(0.25);
    EXPECT_EQ(clock.estimate.timeRemaining(), QStringLiteral("00:00:30"));
    clock.advance(0.5);
    clock.estimate.setCurrentValue(0.5);
    EXPECT_EQ(clock.estimate.timeRemaining(), QStringLiteral("00:00:30"));
    clock.advance(0.4);
    EXPECT_EQ(clock.estimate.timeRemaining(), QStringLiteral("00:00:11")); // 10.9 s for half: ceil(10.9)
}

TEST(TimeEstimate, MissingValuesAreUnknown)
{
    Clocked never;
    never.advance(10);
    EXPECT_EQ(never.estimate.secondsRemaining(), -1);
    EXPECT_EQ(never.estimate.timeRemaining(), QStringLiteral("Unknown"));

    Clocked started;
    started.estimate.setCurrentValue(0.5);
    started.estimate.startWithValue(0.5); // progress counted from where it started
    started.advance(10);
    started.estimate.setCurrentValue(0.75);
    EXPECT_DOUBLE_EQ(started.estimate.secondsRemaining(), 30);
    started.estimate.incrementCurrentValue(-0.25);
    EXPECT_EQ(started.estimate.secondsRemaining(), -1);
    started.estimate.reset();
    EXPECT_EQ(started.estimate.currentValue, 0.0);
    EXPECT_EQ(started.estimate.startValue, 0.0);
}

TEST(TimeEstimate, ArchiveKeepsEveryValue)
{
    Clocked clock(250.0);
    clock.estimate.showCalculatingTimeMessage = false;
    clock.estimate.start();
    clock.advance(10);
    clock.estimate.setCurrentValue(125);
    clock.estimate.timeRemaining();
    const std::optional<BVTimeEstimate> copy = BVTimeEstimate::fromArchive(clock.estimate.archive());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->startDate, clock.estimate.startDate);
    EXPECT_EQ(copy->startValue, 0.0);
    EXPECT_EQ(copy->totalValue, 250.0);
    EXPECT_EQ(copy->currentValue, 125.0);
    EXPECT_EQ(copy->cachedValue, QStringLiteral("00:00:10"));
    EXPECT_EQ(copy->lastQueryDate, clock.estimate.lastQueryDate);
    EXPECT_FALSE(copy->showCalculatingTimeMessage);
    EXPECT_FALSE(BVTimeEstimate::fromArchive(QByteArray("nonsense")));

    BVTimeEstimate empty;
    const std::optional<BVTimeEstimate> emptyCopy = BVTimeEstimate::fromArchive(empty.archive());
    ASSERT_TRUE(emptyCopy);
    EXPECT_FALSE(emptyCopy->totalValue);
    EXPECT_FALSE(emptyCopy->cachedValue);
    EXPECT_TRUE(emptyCopy->showCalculatingTimeMessage);
}
