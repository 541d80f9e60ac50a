// The player side of BVAVAsset: readiness, play and pause with their callbacks, seeks and their
// refusal, frame steps, the end of the media, the playback range, scrub audio and cleanup.
#include "platform/defaults/BVUserDefaults.h"
#include "platform/media/MediaAsset.h"
#include "platform/media/engine/MediaPlayer.h"
#include "platform/media/engine/MediaPlayerItem.h"
#include "player/media/BVAVAsset.h"
#include "support/BVLog.h"
#include "support/BVMainThread.h"

#include "common/BVTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

class PlaybackDelegate : public BVMediaObjectDelegate
{
public:
    void mediaStatusChanged(const QString &status) override { events.append(status); }
    void prepareForPlayback() override { events.append(QStringLiteral("prepareForPlayback")); }
    void playbackStateChanged() override { ++stateChanges; }
    void playerReachedEnd() override { ++ends; }
    void mediaPlaybackFailed(const BVError &) override { events.append(QStringLiteral("failed")); }
    bool playerShouldSeek() override
    {
        ++seekQuestions;
        return allowSeeks;
    }
    void playerSeeked() override { ++seeks; }
    void syncScrubber() override { ++scrubberSyncs; }

    QStringList events;
    int stateChanges = 0;
    int ends = 0;
    int seekQuestions = 0;
    int seeks = 0;
    int scrubberSyncs = 0;
    bool allowSeeks = true;
};

QString logText()
{
    BVLog::finishWriting();
    return QString::fromUtf8(BVTest::readFile(BVLog::sharedController()->currentLogPath()));
}

// Frame n of a 23.976 clip starts at n x 1001/24000 s.
MediaTime frameStart(int64_t n)
{
    return MediaTime(n * 1001, 24000);
}

class AVAssetPlayback : public ::testing::Test
{
protected:
    void SetUp() override { BVLog::createNewLog(); }
    void open(const QString &path, bool waitForReady = true)
    {
        m_media = std::make_unique<BVAVAsset>();
        m_media->setDelegate(&m_delegate);
        auto asset = MediaAsset::assetWithURL(QUrl::fromLocalFile(path));
        std::thread([media = m_media.get(), asset] { media->loadAsset(asset); }).join();
        if (waitForReady) {
            ASSERT_TRUE(
                BVTest::waitFor([this] { return m_delegate.events.contains(QStringLiteral("ready")); }));
        }
    }
    void TearDown() override
    {
        if (m_media)
            m_media->cleanup();
    }
    // Seeks and waits until the seek has landed.
    void seekAndWait(const MediaTime &time)
    {
        bool done = false;
        m_media->seekToTime(time, [&done](bool) { done = true; });
        ASSERT_TRUE(BVTest::waitFor([&done] { return done; }));
    }
    PlaybackDelegate m_delegate;
    std::unique_ptr<BVAVAsset> m_media;
};

const QStringList threeSeconds {QStringLiteral("--duration"), QStringLiteral("3")};

} // namespace

TEST_F(AVAssetPlayback, BecomesReadyAfterPrepareForPlaybackWithAPlayerForTheView)
{
    open(BVTest::sampleMedia(QStringLiteral("movie"), threeSeconds));
    EXPECT_EQ(m_delegate.events,
        (QStringList {
            QStringLiteral("loaded"), QStringLiteral("prepareForPlayback"), QStringLiteral("ready")}));
    ASSERT_NE(m_media->player(), nullptr);
    EXPECT_TRUE(m_media->isReadyToPlay());
    EXPECT_EQ(m_media->player()->currentItem(), m_media->playerItem());
    EXPECT_EQ(m_media->currentTime(), MediaTime::zero());
    EXPECT_FALSE(m_media->isPlaying());
    EXPECT_FALSE(m_media->isMuted());
    EXPECT_EQ(m_media->frameCount(), 72u);
    // The first picture shows without playing or seeking.
    EXPECT_TRUE(BVTest::waitFor([this] { return m_media->player()->currentImage() != nullptr; }));
    EXPECT_EQ(m_media->player()->currentImageTime(), MediaTime::zero());
}

TEST_F(AVAssetPlayback, PlayAndPauseReportTheStateAndTheScrubberFollowsWhilePlaying)
{
    open(BVTest::sampleMedia(QStringLiteral("movie"), threeSeconds));
    m_media->play();
    EXPECT_TRUE(m_media->isPlaying());
    EXPECT_TRUE(m_media->shouldPlayWhenLoaded());
    EXPECT_EQ(m_delegate.stateChanges, 1);
    EXPECT_TRUE(BVTest::waitFor([this] { return m_media->currentTime() > MediaTime(1, 4); }));
    const int syncs = m_delegate.scrubberSyncs;
    EXPECT_GE(syncs, 5) << "the periodic observer ticks every 0.03 s while playing";

    m_media->pause(false);
    EXPECT_FALSE(m_media->isPlaying());
    EXPECT_EQ(m_delegate.stateChanges, 1) << "a pause without notice says nothing";
    m_media->play();
    m_media->pause();
    EXPECT_EQ(m_delegate.stateChanges, 3);
    const MediaTime stopped = m_media->currentTime();
    BVTest::spin(std::chrono::milliseconds(200));
    EXPECT_EQ(m_media->currentTime(), stopped);
}

TEST_F(AVAssetPlayback, ARestoreRateIsAppliedAndClearedByPauseAndCountsAsPlaying)
{
    open(BVTest::sampleMedia(QStringLiteral("movie"), threeSeconds));
    m_media->setRestoreAfterScrubbingRate(2);
    EXPECT_TRUE(m_media->isPlaying()) << "a pending restore rate counts as playing";
    m_media->pause();
    EXPECT_EQ(m_media->restoreAfterScrubbingRate(), 0.0f);
    EXPECT_EQ(m_media->rate(), 0.0f);
    EXPECT_FALSE(m_media->isPlaying());
    m_media->setRate(-2);
    EXPECT_EQ(m_media->rate(), -2.0f);
    EXPECT_TRUE(m_media->isPlaying());
    m_media->pause();
}

TEST_F(AVAssetPlayback, SeeksLandExactlyAndReportBackOnTheMainThread)
{
    open(BVTest::sampleMedia(QStringLiteral("movie"), threeSeconds));
    bool onMain = false;
    bool finished = false;
    m_media->seekToTime(frameStart(30), [&](bool f) {
        onMain = BVMainThread::isMainThread();
        finished = f;
    });
    ASSERT_TRUE(BVTest::waitFor([this] { return m_delegate.seeks == 1; }));
    EXPECT_TRUE(onMain);
    EXPECT_TRUE(finished);
    EXPECT_EQ(m_delegate.seekQuestions, 1);
    EXPECT_EQ(m_media->currentTime(), frameStart(30));
    EXPECT_FALSE(m_media->seekToZeroBeforePlay());

    seekAndWait(m_media->duration());
    EXPECT_TRUE(m_media->seekToZeroBeforePlay()) << "a seek to the end makes the next play start over";
}

TEST_F(AVAssetPlayback, ARefusedSeekLeavesThePositionAndIsLogged)
{
    open(BVTest::sampleMedia(QStringLiteral("movie"), threeSeconds));
    seekAndWait(frameStart(10));
    m_delegate.allowSeeks = false;
    bool called = false;
    m_media->seekToTime(frameStart(40), [&called](bool) { called = true; });
    BVTest::spin(std::chrono::milliseconds(200));
    EXPECT_FALSE(called);
    EXPECT_EQ(m_media->currentTime(), frameStart(10));
    EXPECT_EQ(m_delegate.seeks, 1);
    EXPECT_TRUE(logText().contains(QStringLiteral(" - Delegate declined permission to seek.\n")));
}

TEST_F(AVAssetPlayback, ASeekBeforeTheItemIsReadyIsDroppedWithoutCallingItsHandler)
{
    m_media = std::make_unique<BVAVAsset>();
    m_media->setDelegate(&m_delegate);
    bool called = false;
    m_media->seekToTime(MediaTime(1, 1), [&called](bool) { called = true; });
    m_media->stepForward();
    BVTest::spin(std::chrono::milliseconds(100));
    EXPECT_FALSE(called);
    EXPECT_EQ(m_delegate.seekQuestions, 0);
    EXPECT_EQ(m_media->currentTime(), MediaTime::zero());
}

TEST_F(AVAssetPlayback, StepsMoveOneFrameEitherWayEvenFromTheStartOfAFrame)
{
    open(BVTest::sampleMedia(QStringLiteral("movie"), threeSeconds));
    // From 0, one step of 100/2398 s stays short of frame 1 (which starts at 1001/24000 s): the
    // picture must still move to frame 1.
    m_media->stepForward();
    ASSERT_TRUE(BVTest::waitFor([this] { return m_delegate.seeks == 1; }));
    EXPECT_GE(m_media->currentTime(), frameStart(1));
    EXPECT_LT(m_media->currentTime(), frameStart(2));
    EXPECT_EQ(m_delegate.stateChanges, 1) << "a step pauses with notice";

    for (int i = 0; i < 10; ++i)
        m_media->stepForward();
    ASSERT_TRUE(
        BVTest::waitFor([this] { return m_delegate.seeks >= 2 && m_media->player()->currentImage(); }));
    EXPECT_GE(m_media->currentTime(), frameStart(11));
    EXPECT_LT(m_media->currentTime(), frameStart(12));

    for (int i = 0; i < 11; ++i)
        m_media->stepBack();
    ASSERT_TRUE(BVTest::waitFor([this] { return m_media->player()->currentImageTime() == frameStart(0); }));
    EXPECT_GE(m_media->currentTime(), frameStart(0));
    EXPECT_LT(m_media->currentTime(), frameStart(1));
    m_media->stepBack();
    BVTest::spin(std::chrono::milliseconds(100));
    EXPECT_EQ(m_media->currentTime(), MediaTime::zero()) << "a step back from the first frame stays there";
}

TEST_F(AVAssetPlayback, StepsFromInsideAFrameLandOnTheStartOfTheNextFrame)
{
    open(BVTest::sampleMedia(QStringLiteral("movie"), threeSeconds));
    const MediaTime inside = frameStart(20) + MediaTime(1, 100);
    seekAndWait(inside);
    m_media->stepForward();
    ASSERT_TRUE(BVTest::waitFor([this] { return m_delegate.seeks == 2; }));
    EXPECT_EQ(m_media->currentTime(), frameStart(21));
}

TEST_F(AVAssetPlayback, PlayingToTheEndReportsItAndTheNextPlayStartsOver)
{
    open(BVTest::sampleMedia(QStringLiteral("movie"), {QStringLiteral("--duration"), QStringLiteral("1")}));
    seekAndWait(MediaTime(18, 24));
    m_media->play();
    ASSERT_TRUE(BVTest::waitFor([this] { return m_delegate.ends == 1; }, std::chrono::seconds(10)));
    EXPECT_TRUE(m_media->seekToZeroBeforePlay());
    EXPECT_EQ(m_delegate.stateChanges, 2) << "play, then the end";

    m_media->play();
    EXPECT_FALSE(m_media->seekToZeroBeforePlay());
    ASSERT_TRUE(BVTest::waitFor([this] { return m_delegate.seeks == 2; }));
    EXPECT_LT(m_media->currentTime(), MediaTime(1, 2));
    m_media->pause();
}

TEST_F(AVAssetPlayback, APlaybackRangeStartsPlayAtItsStartAndPauseClearsIt)
{
    open(BVTest::sampleMedia(QStringLiteral("movie"), threeSeconds));
    m_media->setPlaybackRange(MediaTimeRange(MediaTime(2, 1), MediaTime(1, 2)));
    m_media->play();
    ASSERT_TRUE(BVTest::waitFor([this] { return m_delegate.seeks == 1; }));
    EXPECT_GE(m_media->currentTime(), MediaTime(2, 1));
    m_media->pause();
    EXPECT_EQ(m_media->playbackRange().duration(), MediaTime::zero());
}

TEST_F(AVAssetPlayback, ScrubAudioSoundsBrieflyOnlyWhenTheSettingIsOn)
{
    open(BVTest::sampleMedia(QStringLiteral("movie"), threeSeconds));
    BVUserDefaults::standardUserDefaults()->setBool(false, QStringLiteral("scrubAudio"));
    m_media->stepForward();
    ASSERT_TRUE(BVTest::waitFor([this] { return m_delegate.seeks == 1; }));
    BVTest::spin(std::chrono::milliseconds(50));
    EXPECT_FALSE(m_media->isScrubAudioPlaying());

    BVUserDefaults::standardUserDefaults()->setBool(true, QStringLiteral("scrubAudio"));
    m_media->stepForward();
    ASSERT_TRUE(BVTest::waitFor([this] { return m_media->isScrubAudioPlaying(); }));
    EXPECT_EQ(m_media->rate(), 0.0f) << "the main player stays paused";
    ASSERT_TRUE(BVTest::waitFor([this] { return !m_media->isScrubAudioPlaying(); }));
    BVUserDefaults::standardUserDefaults()->removeObjectForKey(QStringLiteral("scrubAudio"));
}

TEST_F(AVAssetPlayback, VolumeReachesThePlayerAndZeroIsMuted)
{
    open(BVTest::sampleMedia(QStringLiteral("movie"), threeSeconds));
    m_media->setVolume(0.25f);
    EXPECT_FLOAT_EQ(m_media->player()->volume(), 0.25f);
    EXPECT_FALSE(m_media->isMuted());
    m_media->setVolume(0);
    EXPECT_TRUE(m_media->isMuted());
}

TEST_F(AVAssetPlayback, CleanupDropsThePlayerAndSilencesEveryCallback)
{
    open(BVTest::sampleMedia(QStringLiteral("movie"), threeSeconds));
    m_media->play();
    ASSERT_TRUE(BVTest::waitFor([this] { return m_delegate.scrubberSyncs > 0; }));
    m_media->cleanup();
    EXPECT_TRUE(m_media->isUnloading());
    EXPECT_EQ(m_media->player(), nullptr);
    EXPECT_FALSE(m_media->isPlaying());
    const int syncs = m_delegate.scrubberSyncs;
    const int states = m_delegate.stateChanges;
    m_media->seekToTime(MediaTime(1, 1));
    m_media->stepForward();
    BVTest::spin(std::chrono::milliseconds(150));
    EXPECT_EQ(m_delegate.scrubberSyncs, syncs);
    EXPECT_EQ(m_delegate.stateChanges, states);
    m_media.reset();
}

TEST_F(AVAssetPlayback, AnAudioFilePlaysWithoutAPicture)
{
    open(BVTest::sampleMedia(QStringLiteral("wav"), threeSeconds));
    EXPECT_TRUE(m_media->isAudioOnly());
    EXPECT_TRUE(m_media->isReadyToPlay());
    m_media->play();
    EXPECT_TRUE(BVTest::waitFor([this] { return m_media->currentTime() > MediaTime(1, 5); }));
    m_media->pause();
    EXPECT_EQ(m_media->player()->currentImage(), nullptr);
}
