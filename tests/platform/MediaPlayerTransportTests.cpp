// Transport behaviour of the playback engine: end of play, rate limits, high rates, tolerant seeks,
// periodic time observation, volume, and audio-only media.
#include "MediaEngineTestSupport.h"

#include "common/BVTestSupport.h"
#include "platform/media/engine/MediaPlayer.h"
#include "platform/media/engine/MediaPlayerItem.h"
#include "platform/media/engine/MediaVideoDecoder.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace MediaEngineTest;

namespace {

QString shortMovie()
{
    return BVTest::sampleMedia(QStringLiteral("movie"),
        {QStringLiteral("--duration"), QStringLiteral("6"), QStringLiteral("--size"),
            QStringLiteral("640x360")});
}

TEST(MediaPlayerTransport, PlayingToTheEndStopsAtTheDurationAndTellsObservers)
{
    std::unique_ptr<Session> session = open(shortMovie());
    ASSERT_EQ(session->item->status(), MediaPlayerItem::Status::ReadyToPlay);
    MediaPlayer &player = *session->player;
    int ended = 0, rateChanges = 0;
    session->item->addObserver(
        [&](MediaPlayerItem::Event event) { ended += event == MediaPlayerItem::Event::PlayedToEnd; });
    player.addObserver(
        [&](MediaPlayer::Event event) { rateChanges += event == MediaPlayer::Event::RateChanged; });
    const MediaTime duration = session->item->duration();
    ASSERT_TRUE(duration.isNumeric());
    ASSERT_TRUE(seek(player, duration - MediaTime(1, 4)));
    player.setRate(2);
    ASSERT_TRUE(BVTest::waitFor([&] { return ended > 0; }, std::chrono::seconds(10)));
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(player.rate(), 0.0f);
    EXPECT_EQ(player.currentTime(), duration);
    EXPECT_GE(rateChanges, 2); // started, then stopped at the end
    // The last frame stays on screen.
    EXPECT_TRUE(BVTest::waitFor(
        [&] { return player.currentImage() && duration - player.currentImageTime() < MediaTime(1, 10); }));
}

TEST(MediaPlayerTransport, RatesAreLimitedToThirtyTwoEitherWay)
{
    std::unique_ptr<Session> session = open(shortMovie());
    MediaPlayer &player = *session->player;
    // From the middle: at the start, a reverse rate would stop at once on the first frame.
    bool landed = false;
    player.seekToTime(MediaTime(2, 1), [&landed](bool) { landed = true; });
    ASSERT_TRUE(BVTest::waitFor([&landed] { return landed; }));
    const struct
    {
        float asked, expected;
    } cases[] = {{100, 32}, {-100, -32}, {0.5f, 0.5f}, {-0.5f, -0.5f}, {1.5f, 1.5f}, {0, 0}};
    for (const auto &c : cases) {
        player.setRate(c.asked);
        EXPECT_EQ(player.rate(), c.expected) << c.asked;
    }
    player.setRate(std::nanf(""));
    EXPECT_EQ(player.rate(), 0.0f);
}

TEST(MediaPlayerTransport, HighRatesMoveThePositionAtTheRate)
{
    std::unique_ptr<Session> session = open(shortMovie());
    MediaPlayer &player = *session->player;
    ASSERT_TRUE(seek(player, MediaTime::zero()));
    player.setRate(8);
    BVTest::spin(std::chrono::milliseconds(400));
    const double moved = player.currentTime().seconds();
    player.pause();
    // Keyframes only at this rate: the clock never waits for the decoder.
    EXPECT_GT(moved, 8 * 0.4 * 0.8);
    EXPECT_LT(moved, 8 * 0.4 * 1.5 + 0.5);
    EXPECT_TRUE(player.currentImage());
}

TEST(MediaPlayerTransport, TolerantSeeksLandOnADecodedFrameWithinTheWindow)
{
    const QString path = shortMovie();
    const std::vector<ReferenceFrame> reference = referenceFrames(path);
    std::unique_ptr<Session> session = open(path);
    MediaPlayer &player = *session->player;
    ASSERT_TRUE(seek(player, reference[60].time));
    BVTest::spin(std::chrono::milliseconds(300)); // the neighbouring GOPs get decoded
    const MediaTime target = reference[100].time + MediaTime(1, 100);
    const MediaTime window(2, 1);
    ASSERT_TRUE(seek(player, target, window, window));
    const MediaTime landed = player.currentTime();
    EXPECT_GE(landed, target - window);
    EXPECT_LE(landed, target + window);
    const int index = frameAt(reference, landed);
    ASSERT_GE(index, 0);
    EXPECT_EQ(reference[size_t(index)].time, landed) << "a tolerant seek lands on a frame start";
    EXPECT_EQ(digest(*player.currentImage()), reference[size_t(index)].digest);
}

TEST(MediaPlayerTransport, PeriodicObserverTicksOnlyWhilePlaying)
{
    std::unique_ptr<Session> session = open(shortMovie());
    MediaPlayer &player = *session->player;
    ASSERT_TRUE(seek(player, MediaTime::zero())); // every earlier jump has been reported
    std::vector<MediaTime> ticks;
    const int token = player.addPeriodicTimeObserver(
        MediaTime(3, 100), [&](const MediaTime &time) { ticks.push_back(time); });
    ASSERT_EQ(ticks.size(), 1u) << "a new observer is told the position once";
    ticks.clear();
    BVTest::spin(std::chrono::milliseconds(200));
    EXPECT_TRUE(ticks.empty()) << "ticks while paused: " << ticks.size() << " first "
                               << (ticks.empty() ? 0.0 : ticks[0].seconds());
    player.play();
    BVTest::spin(std::chrono::milliseconds(500));
    player.pause();
    const size_t whilePlaying = ticks.size();
    EXPECT_GE(whilePlaying, 5u);
    for (size_t i = 1; i < ticks.size(); ++i) {
        // Re-anchoring to the sound device may nudge the position back, never by a frame.
        EXPECT_GE(ticks[i] + MediaTime(1, 24), ticks[i - 1]);
        EXPECT_GE(ticks[i], MediaTime::zero());
    }
    BVTest::spin(std::chrono::milliseconds(200));
    EXPECT_LE(ticks.size(), whilePlaying + 1) << "ticks after pausing";
    player.removeTimeObserver(token);
}

TEST(MediaPlayerTransport, VolumeIsClampedAndMutingKeepsIt)
{
    MediaPlayer player;
    player.setVolume(1.7f);
    EXPECT_EQ(player.volume(), 1.0f);
    player.setVolume(-1);
    EXPECT_EQ(player.volume(), 0.0f);
    player.setVolume(0.4f);
    player.setMuted(true);
    EXPECT_TRUE(player.isMuted());
    EXPECT_EQ(player.volume(), 0.4f);
}

TEST(MediaPlayerTransport, AudioOnlyMediaPlaysOnTheAudioClock)
{
    const QString path
        = BVTest::sampleMedia(QStringLiteral("wav"), {QStringLiteral("--duration"), QStringLiteral("3")});
    std::unique_ptr<Session> session = open(path);
    ASSERT_EQ(session->item->status(), MediaPlayerItem::Status::ReadyToPlay);
    EXPECT_FALSE(session->item->hasVideo());
    EXPECT_TRUE(session->item->hasAudio());
    EXPECT_NEAR(session->item->duration().seconds(), 3.0, 0.05);
    MediaPlayer &player = *session->player;
    ASSERT_TRUE(seek(player, MediaTime(1, 2)));
    EXPECT_EQ(player.currentTime(), MediaTime(1, 2));
    player.play();
    BVTest::spin(std::chrono::milliseconds(600));
    const double position = player.currentTime().seconds();
    player.pause();
    EXPECT_GT(position, 0.8);
    EXPECT_LT(position, 1.6);
    EXPECT_FALSE(player.currentImage());
}

} // namespace

TEST(MediaPlayerTransport, StepsBackFromAnUncachedGopSkipAheadOnlyOnce)
{
    // The first step back goes straight to the previous GOP's last frame, skipping the pictures it
    // does not need; those are what the next steps want, so they wait for the full pass instead of
    // each starting another pass that skips them again.
    const QString path = BVTest::sampleMedia(QStringLiteral("movie"));
    std::unique_ptr<Session> session = open(path);
    MediaPlayer &player = *session->player;
    const MediaTime frame = session->item->frameDuration();
    const auto frameTime = [&](int64_t index) { return MediaTime(index * frame.value(), frame.timescale()); };
    ASSERT_TRUE(seek(player, frameTime(400)));
    ASSERT_TRUE(seek(player, frameTime(240))); // a GOP start; the GOP before is not decoded
    const uint64_t before = session->item->videoDecoder()->fastPasses();
    for (int64_t index = 239; index >= 230; --index) {
        ASSERT_TRUE(step(player, -1));
        EXPECT_EQ(player.currentTime(), frameTime(index));
    }
    EXPECT_LE(session->item->videoDecoder()->fastPasses() - before, 1u);
}
