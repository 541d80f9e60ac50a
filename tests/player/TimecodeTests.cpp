#include "player/time/BVTimecode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

// Readable QString values in failure messages.
void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

// An independent counter of drop-frame labels: advances HH:MM:SS;FF one label at a time and skips
// the first `dropped` labels of every minute that is not a multiple of ten.
class DropFrameLabels
{
public:
    DropFrameLabels(int timebase, int dropped)
        : m_timebase(timebase)
        , m_dropped(dropped)
    { }

    QString text() const { return QString::asprintf("%02d:%02d:%02d;%02d", m_h, m_m, m_s, m_f); }
    void advance()
    {
        if (++m_f < m_timebase)
            return;
        m_f = 0;
        if (++m_s < 60)
            return;
        m_s = 0;
        if (++m_m == 60) {
            m_m = 0;
            m_h = (m_h + 1) % 24;
        }
        if (m_m % 10 != 0)
            m_f = m_dropped;
    }

private:
    int m_timebase;
    int m_dropped;
    int m_h = 0, m_m = 0, m_s = 0, m_f = 0;
};

void expectEveryFrameOfThreeHoursRoundTrips(int timebase, int dropped)
{
    // Three hours of real frames at 1000/1001 of the timebase: 18 ten-minute blocks.
    const int64_t tenMinutes = 600 * timebase - 9 * dropped;
    const int64_t frames = 18 * tenMinutes;
    DropFrameLabels labels(timebase, dropped);
    int failures = 0;
    for (int64_t frame = 0; frame < frames && failures < 5; ++frame, labels.advance()) {
        const QString text = BVTimecode::timecodeFromFrameCount(frame, timebase, true, true, 0);
        if (text != labels.text()) {
            ADD_FAILURE() << "frame " << frame << " shows " << text.toStdString() << ", expected "
                          << labels.text().toStdString();
            ++failures;
        }
        const int64_t back = BVTimecode::frameCountFromTimecode(text, timebase, true, true, 0);
        if (back != frame) {
            ADD_FAILURE() << text.toStdString() << " reads back as " << back << ", expected " << frame;
            ++failures;
        }
    }
    EXPECT_EQ(
        BVTimecode::timecodeFromFrameCount(frames, timebase, true, true, 0), QStringLiteral("03:00:00;00"));
}

} // namespace

TEST(Timecode, FrameCountsPrintAsTimecode)
{
    struct Case
    {
        int64_t frameCount;
        int64_t timebase;
        bool dropFrame;
        int64_t startFrame;
        const char *expected;
    };
    const std::vector<Case> cases = {
        {0, 25, false, 0, "00:00:00:00"},
        {90000, 25, false, 0, "01:00:00:00"},
        {10, 25, false, 90000, "01:00:00:10"},
        {45, 0, false, 0, "00:00:01:15"}, // timebase 0 counts at 30
        {45, -5, false, 0, "00:00:01:15"}, // and so does a negative one
        {0, 30, true, -1, "01:00:00;00"}, // a negative start frame is 01:00:00;00 drop-frame
        {0, 30, false, -1, "00:59:56:12"}, // the same 107892 frames counted non-drop
        {1799, 30, true, 0, "00:00:59;29"},
        {1800, 30, true, 0, "00:01:00;02"},
        {17981, 30, true, 0, "00:09:59;29"},
        {17982, 30, true, 0, "00:10:00;00"},
        {107892, 30, true, 0, "01:00:00;00"},
        {3599, 60, true, 0, "00:00:59;59"},
        {3600, 60, true, 0, "00:01:00;04"},
        {35964, 60, true, 0, "00:10:00;00"},
        {1800, 25, true, 0, "00:01:12:00"}, // drop-frame ignored at 25
        {1440, 24, true, 0, "00:01:00:00"}, // and at 24
        {1800, 30, false, 0, "00:01:00:00"},
        {24 * 3600 * 25 + 5, 25, false, 0, "00:00:00:05"}, // hours wrap at 24
        {25 * 3600 * 25, 25, false, 0, "01:00:00:00"},
        {120, 120, false, 0, "00:00:01:00"},
        {119, 120, false, 0, "00:00:00:119"}, // at least two digits, more when needed
        {-1, 25, false, 0, "23:59:59:24"}, // below zero wraps to the previous day
        {-1, 30, true, 0, "23:59:59;29"},
        {-107892, 30, true, 107892, "00:00:00;00"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(
            BVTimecode::timecodeFromFrameCount(c.frameCount, c.timebase, false, c.dropFrame, c.startFrame),
            QString::fromLatin1(c.expected))
            << "frame " << c.frameCount << " at " << c.timebase << (c.dropFrame ? " DF" : "") << " from "
            << c.startFrame;
    }
}

TEST(Timecode, TimecodesReadAsFrameCounts)
{
    struct Case
    {
        const char *timecode;
        int64_t timebase;
        bool dropFrame;
        int64_t startFrame;
        int64_t expected;
    };
    const std::vector<Case> cases = {
        {"00:00:00:00", 25, false, 0, 0},
        {"01:00:00:00", 25, false, 0, 90000},
        {"25:00:00:00", 25, false, 0, 2250000}, // no wrap on input
        {"00:00:90:00", 25, false, 0, 2250}, // fields are not range-checked
        {"01:00:00;00", 30, false, 0, 108000}, // the separator does not decide drop-frame
        {"01:00:00;00", 30, true, 0, 107892},
        {"01:00:00:00", 30, true, 0, 107892},
        {"00:01:00;02", 30, true, 0, 1800},
        {"00:10:00;00", 60, true, 0, 35964},
        {"00:01:00;00", 25, true, 0, 1500}, // drop-frame ignored at 25
        {"01:00:00;00", 30, true, -1, 0}, // a negative start frame is 107892
        {"01:00:00:10", 25, false, 90000, 10},
        {"00:00:01:00", 0, false, 0, 30}, // timebase 0 counts at 30
        {"1;2:3;4", 25, false, 0, (3600 + 120 + 3) * 25 + 4},
        {"  01:00:00:00\r\n", 25, false, 0, 90000},
        {"00:00:01:00:99", 25, false, 0, 25}, // extra fields ignored
        {"aa:00:01:bb", 25, false, 0, 25}, // fields without digits read as 0
        {"01x:00:00:05 frames", 25, false, 0, 90005}, // leading digits only
        {"::", 25, false, 0, -1},
        {"00:01:00", 25, false, 0, -1},
        {"00:01:00", 25, false, 100, -1}, // -1 is not shifted by the start frame
        {"", 25, false, 0, -1},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(BVTimecode::frameCountFromTimecode(
                      QString::fromLatin1(c.timecode), c.timebase, false, c.dropFrame, c.startFrame),
            c.expected)
            << '"' << c.timecode << "\" at " << c.timebase << (c.dropFrame ? " DF" : "") << " from "
            << c.startFrame;
    }
}

TEST(Timecode, HugeFieldsDoNotOverflow)
{
    const QString huge = QStringLiteral("99999999999999999999:99999999999:9999999999:99999999999");
    const int64_t frames = BVTimecode::frameCountFromTimecode(huge, 4'000'000'000LL, false, false, 0);
    EXPECT_EQ(frames, -1);
    EXPECT_FALSE(BVTimecode::timecodeFromFrameCount(INT64_MAX, 30, false, true, INT64_MAX).isEmpty());
}

TEST(Timecode, DropFrameAt2997RoundTripsEveryFrameOfThreeHours)
{
    expectEveryFrameOfThreeHoursRoundTrips(30, 2);
}

TEST(Timecode, DropFrameAt5994RoundTripsEveryFrameOfThreeHours)
{
    expectEveryFrameOfThreeHoursRoundTrips(60, 4);
}

TEST(Timecode, FrameCountsRoundTripFromAStartTimecode)
{
    for (const int64_t timebase : {24, 25, 30, 50, 60}) {
        for (const bool dropFrame : {false, true}) {
            const int64_t start = BVTimecode::frameCountFromTimecode(
                QStringLiteral("10:00:00:00"), timebase, false, dropFrame, 0);
            for (int64_t frame = 0; frame < 3 * 3600 * timebase; frame += 7) {
                const QString text
                    = BVTimecode::timecodeFromFrameCount(frame, timebase, false, dropFrame, start);
                ASSERT_EQ(BVTimecode::frameCountFromTimecode(text, timebase, false, dropFrame, start), frame)
                    << text.toStdString() << " at " << timebase << (dropFrame ? " DF" : "");
            }
        }
    }
}

TEST(Timecode, DropFrameSkipsTwoLabelsEachMinuteButTenth)
{
    for (int64_t minute = 1; minute < 60; ++minute) {
        // The first label of the minute: ;02, or ;00 in minutes 00, 10, 20 ...
        const int firstLabel = minute % 10 == 0 ? 0 : 2;
        const QString minuteStart
            = QString::asprintf("00:%02lld:00;%02d", static_cast<long long>(minute), firstLabel);
        const int64_t frame = BVTimecode::frameCountFromTimecode(minuteStart, 30, true, true, 0);
        EXPECT_EQ(frame, 1800 * minute + firstLabel - 2 * (minute - minute / 10))
            << minuteStart.toStdString();
        EXPECT_EQ(BVTimecode::timecodeFromFrameCount(frame, 30, true, true, 0), minuteStart);
        EXPECT_EQ(BVTimecode::timecodeFromFrameCount(frame - 1, 30, true, true, 0),
            QString::asprintf("00:%02lld:59;29", static_cast<long long>(minute - 1)));
    }
}

TEST(Timecode, AddAndSubtractDroppedFramesAreInverses)
{
    EXPECT_EQ(BVTimecode::addDroppedFrames(1800, 30), 1802);
    EXPECT_EQ(BVTimecode::addDroppedFrames(17982, 30), 18000);
    EXPECT_EQ(BVTimecode::addDroppedFrames(3600, 60), 3604);
    EXPECT_EQ(BVTimecode::subtractDroppedFrames(1802, 30), 1800);
    EXPECT_EQ(BVTimecode::subtractDroppedFrames(18000, 30), 17982);
    EXPECT_EQ(BVTimecode::addDroppedFrames(1234, 0), 1234); // no timebase: nothing to drop
    for (const double timebase : {30.0, 60.0}) {
        for (int64_t frame = 0; frame < 2'000'000; frame += 13)
            ASSERT_EQ(
                BVTimecode::subtractDroppedFrames(BVTimecode::addDroppedFrames(frame, timebase), timebase),
                frame)
                << frame << " at " << timebase;
    }
}

TEST(Timecode, IncrementMovesByFrames)
{
    EXPECT_EQ(BVTimecode::timecode(QStringLiteral("00:00:59;29"), 1, 30, true, true),
        QStringLiteral("00:01:00;02"));
    EXPECT_EQ(BVTimecode::timecode(QStringLiteral("00:01:00;02"), -1, 30, true, true),
        QStringLiteral("00:00:59;29"));
    EXPECT_EQ(BVTimecode::timecode(QStringLiteral("01:00:00:00"), 25, 25, false, false),
        QStringLiteral("01:00:01:00"));
    EXPECT_EQ(BVTimecode::timecode(QStringLiteral("01:00:00:00"), -90001, 25, false, false),
        QStringLiteral("23:59:59:24"));
    EXPECT_TRUE(BVTimecode::timecode(QStringLiteral("12:00"), 1, 25, false, false).isEmpty());
}

TEST(Timecode, SecondsCountAtTheCeilingOfTheRate)
{
    struct Case
    {
        double seconds;
        double fps;
        bool dropFrame;
        const char *expected;
    };
    const std::vector<Case> cases = {
        {3600, 29.97, true, "01:00:00;00"},
        {3600, 29.97f, true, "01:00:00;00"},
        {3600, 29.97, false, "00:59:56:12"},
        {3600, 25, false, "01:00:00:00"},
        {3600, 59.94, true, "01:00:00;00"},
        {1.5, 24, false, "00:00:01:12"},
        {10, 23.976, false, "00:00:10:00"}, // round(239.76) = 240 frames at 24
        {0.02, 25, false, "00:00:00:01"}, // 0.5 frame rounds up
        {-3, 25, false, "00:00:00:00"},
        {1, 0, false, "00:00:00:00"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(
            BVTimecode::timecodeFromSeconds(c.seconds, c.fps, c.dropFrame), QString::fromLatin1(c.expected))
            << c.seconds << " s at " << c.fps;
    }
}

TEST(Timecode, TypedShorthandExpandsAgainstTheStartTimecode)
{
    struct Case
    {
        const char *typed;
        bool dropFrame;
        const char *start;
        const char *expected;
    };
    const std::vector<Case> cases = {
        {"1234", false, "01:00:00:00", "01:00:12:34"},
        {"5", false, "01:00:00:00", "01:00:00:05"},
        {"2.", false, "01:00:00:00", "01:00:02:00"},
        {"1...", false, "01:00:00:00", "01:00:00:00"},
        {"3..", false, "01:00:00:00", "01:03:00:00"},
        {"10:11:12:13", false, "01:00:00:00", "10:11:12:13"},
        {"12345678901", false, "01:00:00:00", "12345678901"}, // eleven characters: unchanged
        {"123456789", false, "01:00:00:00", "23:45:67:89"}, // last eight digits
        {"7", true, "", "00:00:00;07"},
        {"", true, "", "00:00:00;00"},
        {"1234", true, "", "00:00:12;34"},
        {"12345", false, "", "00:01:23:45"}, // odd leading digit gets a zero
        {"1.2.3", false, "", "00:01:02:03"},
        {"1,,", false, "", "00:01:00:00"},
        {"1,", false, "", "00:00:01:00"},
        {"2,,,,", false, "", "00:00:00:00"}, // eight zeros replace the digit, last eight kept
        {"1:30", false, "02:00:00:00", "02:00:01:30"},
        {"15.10", false, "10:00:00:00", "10:00:15:10"},
        {"45", false, "10:00:00:00", "10:00:00:45"},
        {"123", false, "10:00:00:00", "10:00:01:23"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(BVTimecode::timecodeFromUserString(
                      QString::fromLatin1(c.typed), c.dropFrame, QString::fromLatin1(c.start)),
            QString::fromLatin1(c.expected))
            << '"' << c.typed << "\" over \"" << c.start << '"';
    }
}

TEST(Timecode, ADropFrameLabelThatNamesNoFrameStandsForTheFirstFrameAfterIt)
{
    for (const auto &[timebase, dropped] : {std::pair {30, 2}, std::pair {60, 4}}) {
        // Count labels frame by frame for twelve minutes; note each minute's first real frame.
        DropFrameLabels labels(timebase, dropped);
        std::vector<int64_t> firstOfMinute(13, -1);
        const int64_t frames = 12 * 60 * timebase;
        for (int64_t frame = 0; frame < frames; ++frame, labels.advance()) {
            const QString text = labels.text();
            const int minute = text.mid(3, 2).toInt();
            if (firstOfMinute[size_t(minute)] < 0)
                firstOfMinute[size_t(minute)] = frame;
        }
        for (int minute = 1; minute <= 11; ++minute) {
            if (minute % 10 == 0)
                continue;
            for (int label = 0; label < dropped; ++label) {
                const QString missing = QString::asprintf("00:%02d:00;%02d", minute, label);
                EXPECT_EQ(BVTimecode::frameCountFromTimecode(missing, timebase, true, true, 0),
                    firstOfMinute[size_t(minute)])
                    << missing.toStdString() << " at " << timebase;
            }
        }
    }
}

TEST(Timecode, ShorthandWithPeriodsIsReadEvenAtElevenCharacters)
{
    EXPECT_EQ(BVTimecode::timecodeFromUserString(
                  QStringLiteral("01.00.02.00"), false, QStringLiteral("01:00:00:00")),
        QStringLiteral("01:00:02:00"));
    EXPECT_EQ(BVTimecode::timecodeFromUserString(QStringLiteral("01,00,02,00"), true, {}),
        QStringLiteral("01:00:02;00"));
    EXPECT_EQ(BVTimecode::timecodeFromUserString(QStringLiteral("01:00:02:00"), false, {}),
        QStringLiteral("01:00:02:00"));
}
