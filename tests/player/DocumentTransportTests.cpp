// The player document's transport, without a window: the shuttle ladder through commands and J, K,
// L keys, steps and jumps from the keyboard, play-around with and without looping, in and out
// points, and typed timecode in frame mode.
#include "DocumentTestSupport.h"

#include "player/time/BVAVFoundation.h"

using namespace DocumentTest;

namespace {

class DocumentTransport : public ::testing::Test
{
protected:
    void SetUp() override
    {
        resetSettings();
        m_document = openHeadless(movie());
        ASSERT_TRUE(m_document->isReady());
        ASSERT_EQ(m_document->window(), nullptr);
        QObject::connect(m_document.get(), &BVDocument::statusTextChanged,
            [this](const QString &text) { m_statusText = text; });
    }
    void TearDown() override
    {
        if (m_document)
            m_document->cleanup();
        m_document.reset();
    }

    BVMediaObject &media() { return *m_document->mediaObject(); }
    MediaTime frameTime(int64_t frame) const
    {
        return BVAVFoundation::timeFromFrameCount(frame, m_document->mediaObject()->fps());
    }

    std::unique_ptr<ScreenDocument> m_document;
    // The status overlay's text, as the document tells its window.
    QString m_statusText;
};

} // namespace

TEST_F(DocumentTransport, ShuttleStepsAlongTheRateLadderWithItsOverlayTexts)
{
    struct Step
    {
        const char *name;
        bool startPlaying; // at rate 1, else paused
        QList<bool> commands; // true: fast-forward, false: rewind
        QList<float> rates;
        QStringList texts;
    };
    const QList<Step> steps {
        {"rewind while playing", true, {false, false}, {-1, -2}, {"1x Reverse", "2x Reverse"}},
        {"rewind while paused", false, {false}, {-1}, {"1x Reverse"}},
        {"fast-forward climbs to 32 and stays", true, {true, true, true, true, true, true, true},
            {1.5f, 2, 4, 8, 16, 32, 32},
            {"1.5x Forward", "2x Forward", "4x Forward", "8x Forward", "16x Forward", "32x Forward",
                "32x Forward"}},
        {"fast-forward from -4 gives -2", true, {false, false, false, true}, {-1, -2, -4, -2},
            {"1x Reverse", "2x Reverse", "4x Reverse", "2x Reverse"}},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.name);
        m_document->pause();
        ASSERT_TRUE(seekAndWait(*m_document, MediaTime(5, 1)));
        if (step.startPlaying)
            m_document->play();
        for (int i = 0; i < step.commands.size(); ++i) {
            if (step.commands.at(i))
                m_document->fastForward();
            else
                m_document->rewind();
            EXPECT_FLOAT_EQ(media().rate(), step.rates.at(i)) << "after command " << i;
            EXPECT_EQ(m_statusText, step.texts.at(i));
            EXPECT_TRUE(media().isPlaying());
        }
    }
    m_document->pause();
}

TEST_F(DocumentTransport, FastForwardWhilePausedShowsErrorAndChangesNothing)
{
    ASSERT_FALSE(media().isPlaying());
    m_document->fastForward();
    EXPECT_EQ(m_statusText, QStringLiteral("Error"));
    EXPECT_FALSE(media().isPlaying());
}

TEST_F(DocumentTransport, KeysShuttleAndKHeldWithLPlaysAtHalfSpeed)
{
    ASSERT_TRUE(seekAndWait(*m_document, MediaTime(5, 1)));
    // J pressed and released while playing at 1: -1, again -2.
    m_document->play();
    clickKey(*m_document, Qt::Key_J);
    EXPECT_FLOAT_EQ(media().rate(), -1);
    clickKey(*m_document, Qt::Key_J);
    EXPECT_FLOAT_EQ(media().rate(), -2);
    // K released pauses.
    clickKey(*m_document, Qt::Key_K);
    EXPECT_FALSE(media().isPlaying());
    EXPECT_FALSE(m_document->kPressed());
    // L released while paused plays.
    clickKey(*m_document, Qt::Key_L);
    EXPECT_TRUE(media().isPlaying());
    EXPECT_FLOAT_EQ(media().rate(), 1);
    clickKey(*m_document, Qt::Key_K);
    ASSERT_FALSE(media().isPlaying());

    // K held, L pressed: forward at 0.5 until L is released.
    pressKey(*m_document, Qt::Key_K);
    EXPECT_TRUE(m_document->kPressed());
    pressKey(*m_document, Qt::Key_L);
    EXPECT_TRUE(media().isPlaying());
    EXPECT_FLOAT_EQ(media().rate(), 0.5f);
    releaseKey(*m_document, Qt::Key_L);
    EXPECT_FALSE(media().isPlaying());
    // Still holding K, J plays backwards at 0.5 until K is released.
    pressKey(*m_document, Qt::Key_J);
    EXPECT_FLOAT_EQ(media().rate(), -0.5f);
    releaseKey(*m_document, Qt::Key_K);
    EXPECT_FALSE(media().isPlaying());
    EXPECT_FALSE(m_document->kPressed());
    releaseKey(*m_document, Qt::Key_J); // K no longer held: a plain J release shuttles down
    EXPECT_FLOAT_EQ(media().rate(), -1);
    m_document->pause();
    // Ctrl+J is not the key map's.
    EXPECT_FALSE(m_document->playbackKeyPressed(
        std::make_unique<QKeyEvent>(QEvent::KeyPress, Qt::Key_J, Qt::ControlModifier, QStringLiteral("j"))
            .get(),
        false));
}

TEST_F(DocumentTransport, ArrowsHomeAndEndMoveThePlayhead)
{
    ASSERT_TRUE(seekAndWait(*m_document, frameTime(48)));
    const struct
    {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        double expectedSeconds; // < 0: the duration
    } cases[] = {
        {Qt::Key_Right, Qt::NoModifier, 49 / media().fps()},
        {Qt::Key_Left, Qt::NoModifier, 48 / media().fps()},
        {Qt::Key_Right, Qt::ShiftModifier, 48 / media().fps() + 1},
        {Qt::Key_Left, Qt::ShiftModifier, 48 / media().fps()},
        // Shift wins over Ctrl.
        {Qt::Key_Right, Qt::ShiftModifier | Qt::ControlModifier, 48 / media().fps() + 1},
        {Qt::Key_Left, Qt::ControlModifier, 0},
        {Qt::Key_Right, Qt::ControlModifier, -1},
        {Qt::Key_Home, Qt::NoModifier, 0},
        {Qt::Key_End, Qt::NoModifier, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(QKeySequence(c.key | c.modifiers).toString().toStdString());
        clickKey(*m_document, c.key, c.modifiers);
        const double expected = c.expectedSeconds < 0 ? media().duration().seconds() : c.expectedSeconds;
        EXPECT_TRUE(BVTest::waitFor([&] {
            return std::fabs(seconds(*m_document) - expected) < 0.5 / media().fps();
        })) << "at "
            << seconds(*m_document) << " s, expected " << expected;
        EXPECT_FALSE(media().isPlaying());
    }
}

TEST_F(DocumentTransport, PlayAroundReturnsToItsStartAndLoopsWhenAsked)
{
    ASSERT_TRUE(seekAndWait(*m_document, MediaTime(1, 1)));
    m_document->playAround();
    EXPECT_TRUE(media().isPlaying());
    EXPECT_EQ(media().playbackRange(), MediaTimeRange(MediaTime::zero(), MediaTime(3, 1)));
    EXPECT_EQ(m_document->playbackResumePos(), MediaTime(1, 1));
    double latest = 0;
    ASSERT_TRUE(BVTest::waitFor(
        [&] {
            latest = std::max(latest, seconds(*m_document));
            return !media().isPlaying();
        },
        std::chrono::seconds(8)));
    EXPECT_GT(latest, 2.5);
    EXPECT_LT(latest, 3.3);
    EXPECT_TRUE(BVTest::waitFor([&] { return std::fabs(seconds(*m_document) - 1.0) < 1 / media().fps(); }))
        << seconds(*m_document);
    EXPECT_EQ(m_document->playbackResumePos(), MediaTime::zero());

    // With "loopPlayback" 1 the pass starts again at 0 s.
    defaults()->setInteger(1, QStringLiteral("loopPlayback"));
    m_document->playAround();
    double previous = 0;
    int wraps = 0;
    double highest = 0;
    BVTest::waitFor(
        [&] {
            const double now = seconds(*m_document);
            if (now + 1 < previous)
                ++wraps;
            previous = now;
            highest = std::max(highest, now);
            return wraps >= 2;
        },
        std::chrono::seconds(10));
    EXPECT_GE(wraps, 2);
    EXPECT_TRUE(media().isPlaying());
    EXPECT_LT(highest, 3.3);
    m_document->pause();
    EXPECT_FALSE(media().isPlaying());
    EXPECT_EQ(media().playbackRange().duration().value(), 0);
}

TEST_F(DocumentTransport, OutBeforeInMovesInToZeroAndInAfterOutMovesOutOneTickPast)
{
    const int32_t timescale = media().duration().timescale();
    ASSERT_TRUE(seekAndWait(*m_document, MediaTime(2, 1)));
    m_document->setInPoint();
    EXPECT_EQ(m_document->inOutRange().start(), MediaTime(2, 1));
    EXPECT_EQ(m_document->inOutRange().end(), media().duration());
    ASSERT_TRUE(seekAndWait(*m_document, MediaTime(1, 1)));
    m_document->setOutPoint();
    EXPECT_EQ(m_document->inOutRange().start(), MediaTime::zero());
    EXPECT_EQ(m_document->inOutRange().end(), MediaTime(1, 1));

    m_document->clearInOut();
    EXPECT_EQ(m_document->inOutRange().duration().value(), 0);
    m_document->setOutPoint();
    ASSERT_TRUE(seekAndWait(*m_document, MediaTime(2, 1)));
    m_document->setInPoint();
    EXPECT_EQ(m_document->inOutRange().start(), MediaTime(2, 1));
    EXPECT_EQ(m_document->inOutRange().end(), MediaTime(2, 1) + MediaTime(1, timescale));

    // Go to the in point, then play in to out: it stops at the out point.
    m_document->clearInOut();
    ASSERT_TRUE(seekAndWait(*m_document, MediaTime(1, 1)));
    m_document->setInPoint();
    ASSERT_TRUE(seekAndWait(*m_document, MediaTime(2, 1)));
    m_document->setOutPoint();
    ASSERT_TRUE(seekAndWait(*m_document, MediaTime(6, 1)));
    m_document->playInToOut();
    ASSERT_TRUE(BVTest::waitFor([&] { return !media().isPlaying(); }, std::chrono::seconds(5)));
    EXPECT_NEAR(seconds(*m_document), 2.0, 0.15);
}

TEST_F(DocumentTransport, TypedRelativeEntriesInFrameModeMoveByFramesAndStopAtZero)
{
    m_document->modifyTimecodeDisplay(2);
    const struct
    {
        QString typed;
        int64_t from;
        int64_t expected;
    } cases[] = {
        {QStringLiteral("+10"), 5, 15},
        {QStringLiteral("-10"), 5, 0},
        {QStringLiteral("-3"), 5, 2},
        {QStringLiteral("30"), 5, 30},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        ASSERT_TRUE(seekAndWait(*m_document, frameTime(c.from)));
        ASSERT_EQ(frame(*m_document), uint64_t(c.from));
        EXPECT_EQ(m_document->updateTimecode(), QString::number(c.from));
        m_document->timecodeModified(c.typed);
        EXPECT_TRUE(BVTest::waitFor([&] { return frame(*m_document) == uint64_t(c.expected); }))
            << "at frame " << frame(*m_document);
        EXPECT_EQ(m_document->updateTimecode(), QString::number(c.expected));
    }
}

TEST_F(DocumentTransport, TypedTimecodeInTheTwoTimecodeModes)
{
    // The clip starts at 01:00:00:00; mode 0 reads source timecode, mode 1 counts from zero.
    m_document->modifyTimecodeDisplay(0);
    m_document->timecodeModified(QStringLiteral("01:00:02:00"));
    EXPECT_TRUE(BVTest::waitFor([&] { return frame(*m_document) == 48; })) << frame(*m_document);
    EXPECT_EQ(m_document->updateTimecode(), QStringLiteral("01:00:02:00"));
    m_document->timecodeModified(QStringLiteral("+12"));
    EXPECT_TRUE(BVTest::waitFor([&] { return frame(*m_document) == 60; })) << frame(*m_document);
    m_document->modifyTimecodeDisplay(1);
    EXPECT_EQ(m_document->updateTimecode(), QStringLiteral("00:00:02:12"));
    m_document->timecodeModified(QStringLiteral("00:00:01:00"));
    EXPECT_TRUE(BVTest::waitFor([&] { return frame(*m_document) == 24; })) << frame(*m_document);
}

TEST_F(DocumentTransport, DigitKeysOpenTheTimecodeEntryWithTheTypedCharacter)
{
    QStringList requested;
    int done = 0;
    QObject::connect(m_document.get(), &BVDocument::timecodeEntryRequested,
        [&](const QString &text) { requested.append(text); });
    QObject::connect(m_document.get(), &BVDocument::timecodeEntryDone, [&] { ++done; });
    EXPECT_TRUE(pressKey(*m_document, Qt::Key_4));
    EXPECT_EQ(requested, QStringList {QStringLiteral("4")});
    // Shift and Ctrl digits are not the entry's.
    EXPECT_FALSE(pressKey(*m_document, Qt::Key_5, Qt::ControlModifier));
    EXPECT_EQ(requested.size(), 1);
    m_document->timecodeModified({});
    EXPECT_EQ(done, 1);
}

// A document closed while its first frames are still being decoded, and one closed while it plays,
// leave nothing behind: the test program's leak check at exit fails the run otherwise.
TEST(DocumentClosing, ClosedWhileDecodingOrPlayingTheEngineLetsGoOfEveryFrame)
{
    resetSettings();
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        auto document = std::make_unique<ScreenDocument>();
        BVError error;
        ASSERT_TRUE(document->readFromURL(QUrl::fromLocalFile(movie()), BVDocument::movieType(), &error));
        ASSERT_TRUE(BVTest::waitFor([&] { return document->isReady(); }));
        if (round % 2 == 1) {
            document->mediaObject()->play();
            ASSERT_TRUE(BVTest::waitFor([&] { return frame(*document) > 2; }));
        }
        document->cleanup();
        document.reset();
    }
}
