// Frame accuracy of the playback engine: every picture it shows after seeks, steps and reverse play
// must be the very frame an independent sequential decode of the file gives at that time.
#include "MediaEngineTestSupport.h"

#include "common/BVTestSupport.h"
#include "platform/media/engine/MediaFrameCache.h"
#include "platform/media/engine/MediaPlayer.h"
#include "platform/media/engine/MediaPlayerItem.h"

#include <gtest/gtest.h>

#include <random>

using namespace MediaEngineTest;

namespace {

struct Clip
{
    const char *variant;
    QStringList arguments;
};

void PrintTo(const Clip &clip, std::ostream *out)
{
    *out << clip.variant;
}

class FrameAccuracy : public ::testing::TestWithParam<Clip>
{
protected:
    void SetUp() override
    {
        m_path = QLatin1String(GetParam().variant) == QLatin1String("opengop")
            ? openGopClip()
            : BVTest::sampleMedia(QString::fromLatin1(GetParam().variant), GetParam().arguments);
        ASSERT_FALSE(m_path.isEmpty());
        m_reference = referenceFrames(m_path);
        ASSERT_GT(m_reference.size(), 60u);
        m_session = open(m_path);
        ASSERT_EQ(m_session->item->status(), MediaPlayerItem::Status::ReadyToPlay);
    }

    MediaPlayer &player() { return *m_session->player; }

    // The picture shown matches the reference frame `index`, and is reported at its time.
    void expectShowing(int index, const QString &context)
    {
        std::shared_ptr<const QImage> image = player().currentImage();
        ASSERT_TRUE(image) << qPrintable(context);
        const int shown = frameAt(m_reference, player().currentImageTime());
        EXPECT_EQ(shown, index) << qPrintable(context);
        EXPECT_EQ(digest(*image), m_reference[size_t(index)].digest)
            << qPrintable(context) << ": the picture differs from frame " << index;
    }

    QString m_path;
    std::vector<ReferenceFrame> m_reference;
    std::unique_ptr<Session> m_session;
};

TEST_P(FrameAccuracy, ExactSeeksLandOnTheFrameShowingAtTheTime)
{
    const int last = int(m_reference.size()) - 1;
    std::vector<int> targets {0, 1, 2, 23, 47, 48, 49, 95, 96, 97, last / 2, last - 1, last};
    std::mt19937 random(42);
    for (int i = 0; i < 8; ++i)
        targets.push_back(int(random() % unsigned(last + 1)));
    for (int index : targets) {
        const MediaTime start = m_reference[size_t(index)].time;
        ASSERT_TRUE(seek(player(), start)) << index;
        EXPECT_EQ(player().currentTime(), start);
        expectShowing(index, QStringLiteral("seek to the start of frame %1").arg(index));
        // A time inside the frame shows the same frame and keeps the exact time asked for.
        if (index < last) {
            const MediaTime end = m_reference[size_t(index + 1)].time;
            const MediaTime inside = MediaTime(end.value() - 1, end.timescale());
            ASSERT_TRUE(seek(player(), inside));
            EXPECT_EQ(player().currentTime(), inside);
            expectShowing(index, QStringLiteral("seek to the last tick of frame %1").arg(index));
        }
    }
}

TEST_P(FrameAccuracy, StepsForwardAndBackShowEachNeighbouringFrame)
{
    const int last = int(m_reference.size()) - 1;
    for (int origin : {3, 47, 48, 50, 96, last - 2}) {
        ASSERT_TRUE(seek(player(), m_reference[size_t(origin)].time));
        int index = origin;
        for (int delta : {1, 1, -1, -1, -1, -1, 1}) {
            const int expected = std::clamp(index + delta, 0, last);
            const bool moved = step(player(), delta);
            EXPECT_EQ(moved, expected != index) << "from " << index << " by " << delta;
            index = expected;
            EXPECT_EQ(player().currentTime(), m_reference[size_t(index)].time);
            expectShowing(index, QStringLiteral("step from %1 by %2").arg(origin).arg(delta));
        }
    }
}

TEST_P(FrameAccuracy, TheFrameAfterASoughtOneIsDecodedWithIt)
{
    // Seeks far apart into GOPs not decoded yet, each to a frame inside its GOP: the frame after it
    // comes with the pass that brings the sought one, before the GOP is filled (so the first step
    // forward waits for no full pass), and it is the right picture.
    const int last = int(m_reference.size()) - 1;
    const MediaStreamTiming &timing = m_session->item->timing();
    MediaFrameCache &cache = *m_session->item->cache();
    // Away from the first GOPs, which opening decodes, and inside a GOP (not its last frame).
    for (int origin : {last - 30, last / 2 - 5}) {
        const int64_t sought = timing.toTicks(m_reference[size_t(origin)].time);
        const int64_t next = timing.toTicks(m_reference[size_t(origin + 1)].time);
        const int64_t previous = timing.toTicks(m_reference[size_t(origin - 1)].time);
        ASSERT_TRUE(seek(player(), m_reference[size_t(origin)].time));
        // The full pass decodes the GOP in order: by the time it has the next frame it has the one
        // before the sought frame too. The pass to the sought frame keeps nothing before it.
        bool beforeTheFullPass = false;
        BVTest::waitFor(
            [&] {
                const bool cached = cache.frameContaining(next) != nullptr;
                beforeTheFullPass
                    = cached && !cache.frameContaining(previous) && !cache.completeSpan(sought, true);
                return cached;
            },
            std::chrono::milliseconds(3000));
        // (An intra-only clip has a GOP per frame: its next frame is a pass of its own.)
        if (QLatin1String(GetParam().variant) != QLatin1String("mjpeg")) {
            EXPECT_TRUE(beforeTheFullPass) << "after a seek to frame " << origin;
        }
        ASSERT_TRUE(step(player(), 1));
        expectShowing(origin + 1, QStringLiteral("first step forward after a seek to %1").arg(origin));
    }
}

TEST_P(FrameAccuracy, StepsBackAcrossGopsFromAnUncachedPosition)
{
    // Lands in a GOP whose predecessor has not been decoded: stepping back must decode it.
    const int start = std::min(int(m_reference.size()) - 1, 100);
    ASSERT_TRUE(seek(player(), m_reference[size_t(start)].time));
    for (int index = start - 1; index >= start - 60 && index >= 0; --index) {
        ASSERT_TRUE(step(player(), -1));
        expectShowing(index, QStringLiteral("step back to %1").arg(index));
    }
}

TEST_P(FrameAccuracy, ReversePlayShowsEveryFrameBackwards)
{
    const int start = std::min(int(m_reference.size()) - 1, 90);
    ASSERT_TRUE(seek(player(), m_reference[size_t(start)].time));
    std::vector<std::pair<MediaTime, QByteArray>> shown;
    player().setFrameAvailableHandler([&] {
        const MediaPlayer::Picture picture = player().currentPicture();
        if (picture.image && (shown.empty() || shown.back().first != picture.time))
            shown.emplace_back(picture.time, digest(*picture.image));
    });
    player().resetStatistics();
    player().setRate(-1);
    BVTest::spin(std::chrono::milliseconds(1000));
    player().pause();
    player().setFrameAvailableHandler({});

    // How many frames a second gets presented depends on the machine's load; which ones, does not.
    ASSERT_GE(shown.size(), 2u) << "reverse play presented too few frames in one second";
    RecordProperty("droppedFrames", int(player().statistics().droppedFrames));
    int previous = start + 1;
    for (const auto &[time, picture] : shown) {
        const int index = frameAt(m_reference, time);
        ASSERT_GE(index, 0);
        EXPECT_LT(index, previous) << "reverse play went forward";
        EXPECT_EQ(picture, m_reference[size_t(index)].digest)
            << "reverse play showed a wrong picture for frame " << index;
        previous = index;
    }
    // The position went back, by at most the second played (less when the decoder had to catch up).
    const double travelled = m_reference[size_t(start)].time.seconds() - player().currentTime().seconds();
    EXPECT_GT(travelled, 0.1);
    EXPECT_LT(travelled, 1.2);
}

INSTANTIATE_TEST_SUITE_P(Clips, FrameAccuracy,
    ::testing::Values(Clip {"movie", {QStringLiteral("--duration"), QStringLiteral("6")}},
        Clip {"df2997", {QStringLiteral("--duration"), QStringLiteral("6")}},
        Clip {"mjpeg", {QStringLiteral("--duration"), QStringLiteral("5")}}, Clip {"opengop", {}}),
    [](const ::testing::TestParamInfo<Clip> &clip) { return std::string(clip.param.variant); });

} // namespace
