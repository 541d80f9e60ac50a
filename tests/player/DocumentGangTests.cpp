// Gang playback between two player documents, without windows: the key document (its window the
// active one) leads, the other follows commands on its own rate ladder and copies positions; nothing
// is posted with one document open; a follower whose item is not ready ignores positions; enabling
// twice does not double the handlers.
#include "DocumentTestSupport.h"

#include "player/time/BVAVFoundation.h"
#include "support/BVNotificationCenter.h"

using namespace DocumentTest;

namespace {

// What the window controllers tell the documents when the window of `document` becomes the active
// one instead of that of `previous`.
bool activate(BVDocument &document, BVDocument *previous = nullptr)
{
    if (previous)
        previous->windowDidResignKey(false);
    document.windowDidBecomeKey();
    return document.isKeyDocument();
}

// Counts the posts of some notification names.
class GangRecorder
{
public:
    explicit GangRecorder(const QStringList &names)
    {
        for (const QString &name : names)
            BVNotificationCenter::defaultCenter().addObserver(
                this, name, nullptr, [this](const BVNotification &n) { posted.append(n.name); });
    }
    ~GangRecorder() { BVNotificationCenter::defaultCenter().removeObserver(this); }
    QStringList posted;
};

class DocumentGang : public ::testing::Test
{
protected:
    void SetUp() override
    {
        resetSettings();
        defaults()->setInteger(1, QStringLiteral("gangMode"));
        m_leader = openHeadless(movie());
        m_follower = openHeadless(movie(QStringLiteral("320x240"), QStringLiteral("8")));
        ASSERT_TRUE(activate(*m_leader, m_follower.get()));
        ASSERT_TRUE(BVTest::waitFor([this] { return m_follower->gang().isListening(); }));
        EXPECT_FALSE(m_leader->gang().isListening());
    }
    void TearDown() override
    {
        for (auto *document : {m_follower.get(), m_leader.get()}) {
            if (document)
                document->cleanup();
        }
        m_follower.reset();
        m_leader.reset();
    }

    std::unique_ptr<ScreenDocument> m_leader;
    std::unique_ptr<ScreenDocument> m_follower;
};

} // namespace

TEST_F(DocumentGang, FollowerShuttlesOneRungOfItsOwnLadder)
{
    ASSERT_TRUE(seekAndWait(*m_follower, MediaTime(4, 1)));
    ASSERT_TRUE(seekAndWait(*m_leader, MediaTime(4, 1)));
    m_follower->play();
    ASSERT_FALSE(m_leader->mediaObject()->isPlaying());
    // The leader goes from paused to -1; the follower from 1 one rung down, also to -1.
    m_leader->rewind();
    EXPECT_FLOAT_EQ(m_leader->mediaObject()->rate(), -1);
    EXPECT_FLOAT_EQ(m_follower->mediaObject()->rate(), -1);
    m_follower->mediaObject()->setRate(2);
    m_leader->fastForward();
    EXPECT_FLOAT_EQ(m_leader->mediaObject()->rate(), 1);
    EXPECT_FLOAT_EQ(m_follower->mediaObject()->rate(), 4);
    // Pausing the leader pauses the follower.
    m_leader->pause();
    EXPECT_FALSE(m_follower->mediaObject()->isPlaying());
}

TEST_F(DocumentGang, FollowerStepsAndCopiesPositionsOnceEvenWhenEnabledAgain)
{
    const double fps = m_follower->mediaObject()->fps();
    ASSERT_TRUE(seekAndWait(*m_leader, BVAVFoundation::timeFromFrameCount(24, fps)));
    // The leader's seek was copied to the follower.
    EXPECT_TRUE(BVTest::waitFor([this] { return frame(*m_follower) == 24; })) << frame(*m_follower);

    m_follower->gang().enableGanging();
    m_follower->gang().enableGanging();
    m_follower->gang().updateGangSettings();
    m_leader->stepRight();
    EXPECT_TRUE(BVTest::waitFor([this] { return frame(*m_follower) == 25 && frame(*m_leader) == 25; }));
    BVTest::spin(std::chrono::milliseconds(300));
    EXPECT_EQ(frame(*m_follower), 25u);
    m_leader->stepLeft();
    EXPECT_TRUE(BVTest::waitFor([this] { return frame(*m_follower) == 24; }));
    m_leader->goToEnd();
    EXPECT_TRUE(BVTest::waitFor([this] {
        return std::fabs(seconds(*m_follower) - m_follower->mediaObject()->duration().seconds()) < 0.1;
    })) << seconds(*m_follower);
    m_leader->goToStart();
    EXPECT_TRUE(BVTest::waitFor([this] { return frame(*m_follower) == 0; }));
}

TEST_F(DocumentGang, TheActiveWindowLeadsAndTurningGangingOffStopsListening)
{
    ASSERT_TRUE(activate(*m_follower, m_leader.get()));
    EXPECT_TRUE(BVTest::waitFor(
        [this] { return m_leader->gang().isListening() && !m_follower->gang().isListening(); }));
    GangRecorder recorder({QStringLiteral("GANGSTEP+")});
    // A follower's commands are not posted: only the active window posts.
    m_leader->stepRight();
    EXPECT_TRUE(recorder.posted.isEmpty());
    m_follower->stepRight();
    EXPECT_EQ(recorder.posted, QStringList {QStringLiteral("GANGSTEP+")});

    m_follower->modifyGanging(0);
    EXPECT_FALSE(m_leader->gang().isListening());
    EXPECT_FALSE(m_follower->gang().isListening());
    m_follower->stepRight();
    EXPECT_EQ(recorder.posted.size(), 1);
}

TEST(DocumentGangAlone, NothingIsPostedWithOneDocumentOpen)
{
    resetSettings();
    defaults()->setInteger(1, QStringLiteral("gangMode"));
    auto only = openHeadless(movie());
    ASSERT_TRUE(activate(*only));
    GangRecorder recorder(
        {QStringLiteral("GANGPLAY"), QStringLiteral("GANGPAUSE"), QStringLiteral("GANGSTEP+"),
            QStringLiteral("GANGSEEK"), QStringLiteral("GANGHOME"), QStringLiteral("GANGREW")});
    only->stepRight();
    only->goToStart();
    only->rewind();
    only->pause();
    BVTest::spin(std::chrono::milliseconds(700));
    EXPECT_TRUE(recorder.posted.isEmpty()) << recorder.posted.join(u',').toStdString();
    EXPECT_FALSE(only->gang().postGangNotification(QStringLiteral("GANGPLAY")));
    only->cleanup();
}

TEST(DocumentGangAlone, FollowerWhoseItemIsNotReadyIgnoresPositions)
{
    resetSettings();
    defaults()->setInteger(1, QStringLiteral("gangMode"));
    ScreenDocument waiting;
    ASSERT_TRUE(waiting.readFromURL(QUrl::fromLocalFile(movie()), BVDocument::movieType()));
    waiting.gang().enableGanging();
    // Still loading: the position copy is dropped, not kept for later.
    BVNotificationCenter::defaultCenter().postNotification(
        QStringLiteral("GANGSEEK"), nullptr, {{QStringLiteral("time"), MediaTime(3, 1).dictionary()}});
    ASSERT_TRUE(BVTest::waitFor([&] {
        auto *asset = dynamic_cast<BVAVAsset *>(waiting.mediaObject());
        return waiting.isReady() && asset && asset->isReadyToPlay();
    }));
    BVTest::spin(std::chrono::milliseconds(300));
    EXPECT_EQ(seconds(waiting), 0.0);
    // Once ready it follows.
    BVNotificationCenter::defaultCenter().postNotification(
        QStringLiteral("GANGSEEK"), nullptr, {{QStringLiteral("time"), MediaTime(3, 1).dictionary()}});
    EXPECT_TRUE(BVTest::waitFor([&] { return std::fabs(seconds(waiting) - 3.0) < 0.05; }))
        << seconds(waiting);
    waiting.cleanup();
}
