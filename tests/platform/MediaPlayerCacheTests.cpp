// The player's memory: the decoded-frame cache stays within its budget around the playhead (a GOP
// larger than the budget through a window of frames), and the decoder's picture pool recycles
// buffers within its capacity.
#include "MediaEngineTestSupport.h"

#include "common/BVTestSupport.h"
#include "platform/media/engine/MediaFrameCache.h"
#include "platform/media/engine/MediaFramePool.h"
#include "platform/media/engine/MediaPlayer.h"
#include "platform/media/engine/MediaPlayerItem.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <set>

using namespace MediaEngineTest;

namespace {

// A 1 MiB picture (luma only) standing for a decoded frame.
MediaAVFramePtr picture()
{
    MediaAVFramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_GRAY8;
    frame->width = 1024;
    frame->height = 1024;
    EXPECT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
    return frame;
}

// Fills the GOP [key, key + frames) of one-tick frames and marks it complete.
void addGop(MediaFrameCache &cache, int64_t key, int frames)
{
    cache.beginGroup(key);
    for (int i = 0; i < frames; ++i)
        cache.insert(picture(), key + i, 1, key, false);
    cache.markComplete(key, key + frames, false);
}

TEST(MediaFrameCache, InsertingPastTheBudgetEvictsTheGopsFarthestFromThePlayhead)
{
    constexpr size_t MiB = size_t(1) << 20;
    MediaFrameCache cache(40 * MiB);
    cache.trim(50, 1); // playing forward from tick 50
    for (int64_t key : {0, 10, 20, 30, 40, 50, 60, 70})
        addGop(cache, key, 10);
    // Every insert trims: never more than the budget plus the GOP being filled.
    EXPECT_LE(cache.bytes(), 40 * MiB + 10 * (MiB + 4096));
    // The playhead's GOP and the one filled last stay; the farthest behind went first.
    EXPECT_TRUE(cache.frameContaining(55));
    EXPECT_TRUE(cache.frameContaining(75));
    EXPECT_FALSE(cache.frameContaining(5));
    EXPECT_FALSE(cache.frameContaining(15));
}

// Offers the frames [from, to) of the GOP at `key` to the cache the way the decoder does: kept
// frames go in, dropped ones are left out; stops at the first frame that has to wait, answering it
// (`to` when none had to).
int64_t offer(MediaFrameCache &cache, int64_t key, int64_t from, int64_t to, bool *dropped = nullptr)
{
    for (int64_t pts = from; pts < to; ++pts) {
        MediaAVFramePtr frame = picture();
        switch (cache.admission(key, pts, 1, MediaFrameCache::frameBytes(frame.get()))) {
        case MediaFrameCache::Admission::Keep:
            cache.insert(std::move(frame), pts, 1, key, false);
            break;
        case MediaFrameCache::Admission::Drop:
            if (dropped)
                *dropped = true;
            break;
        case MediaFrameCache::Admission::Wait:
            return pts;
        }
    }
    return to;
}

std::vector<int64_t> cachedTicks(const MediaFrameCache &cache, int64_t from, int64_t to)
{
    std::vector<int64_t> ticks;
    for (int64_t t = from; t < to; ++t)
        if (cache.frameContaining(t))
            ticks.push_back(t);
    return ticks;
}

TEST(MediaFrameCache, AGopLargerThanTheBudgetKeepsAWindowOfFramesAroundThePlayhead)
{
    const size_t frameBytes = MediaFrameCache::frameBytes(picture().get());
    MediaFrameCache cache(8 * frameBytes);
    cache.trim(20, 0); // paused at tick 20 of a 40-frame GOP
    cache.beginGroup(0);
    // The frames nearest 20 stay (ties go to those ahead); the first one farther ahead than all
    // of them waits for the playhead to move.
    EXPECT_EQ(offer(cache, 0, 0, 40), 24);
    EXPECT_LE(cache.bytes(), 8 * frameBytes);
    EXPECT_EQ(cachedTicks(cache, 0, 40), (std::vector<int64_t> {16, 17, 18, 19, 20, 21, 22, 23}));
    // Two steps forward make room for two more, and the frames farthest behind go.
    cache.trim(22, 0);
    EXPECT_EQ(offer(cache, 0, 24, 40), 26);
    EXPECT_EQ(cachedTicks(cache, 0, 40), (std::vector<int64_t> {18, 19, 20, 21, 22, 23, 24, 25}));
    EXPECT_LE(cache.bytes(), 8 * frameBytes);
    // Playing on, frames behind the playhead give way to those ahead; one ahead waits while all
    // the frames kept are nearer than it.
    cache.trim(30, 1);
    EXPECT_EQ(offer(cache, 0, 26, 40), 35);
    EXPECT_EQ(cachedTicks(cache, 0, 40), (std::vector<int64_t> {27, 28, 29, 30, 31, 32, 33, 34}));
    cache.trim(36, 1);
    EXPECT_EQ(offer(cache, 0, 35, 40), 40);
    cache.markComplete(0, 40, false);
    EXPECT_EQ(cachedTicks(cache, 0, 40), (std::vector<int64_t> {32, 33, 34, 35, 36, 37, 38, 39}));
    // The thinned GOP still counts as decoded for stepping, says which frames it lost, and is not
    // reported as loaded.
    EXPECT_TRUE(cache.completeSpan(30, true));
    EXPECT_TRUE(cache.lostFrame(5));
    EXPECT_TRUE(cache.lostFrame(20));
    EXPECT_FALSE(cache.lostFrame(35));
    EXPECT_TRUE(cache.completeRanges().empty());
    EXPECT_TRUE(cache.gopsThinned());
    // Decoded again for a step far back in reverse play: the window moves there, and the frames
    // after it, which would be the first to go, are not kept.
    cache.trim(6, -1);
    cache.beginGroup(0);
    EXPECT_FALSE(cache.completeSpan(30, true));
    bool dropped = false;
    EXPECT_EQ(offer(cache, 0, 0, 40, &dropped), 40);
    EXPECT_TRUE(dropped);
    cache.markComplete(0, 40, false, dropped);
    EXPECT_EQ(cachedTicks(cache, 0, 40), (std::vector<int64_t> {0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_LE(cache.bytes(), 8 * frameBytes);
    EXPECT_FALSE(cache.lostFrame(3));
    EXPECT_TRUE(cache.lostFrame(30));
}

TEST(MediaFrameCache, ConvertedPicturesCountAgainstTheBudget)
{
    const size_t frameBytes = MediaFrameCache::frameBytes(picture().get());
    MediaFrameCache cache(10 * frameBytes);
    cache.trim(0, 1);
    addGop(cache, 0, 10);
    EXPECT_EQ(cachedTicks(cache, 0, 10).size(), 10u);
    // Three frames' worth of pictures held by the player: three frames ahead go.
    cache.setPictureBytes(3 * frameBytes);
    EXPECT_EQ(cache.frameLimit(), 7 * frameBytes);
    EXPECT_EQ(cachedTicks(cache, 0, 10), (std::vector<int64_t> {0, 1, 2, 3, 4, 5, 6}));
    // Pictures over the whole budget leave the frame at the playhead alone.
    cache.setPictureBytes(20 * frameBytes);
    EXPECT_EQ(cache.frameLimit(), 0u);
    EXPECT_EQ(cachedTicks(cache, 0, 10), (std::vector<int64_t> {0}));
}

// Restores the shared budget a test changes.
struct SharedBudgetScope
{
    explicit SharedBudgetScope(size_t bytes)
        : saved(MediaFrameCache::sharedBudget())
    {
        MediaFrameCache::setSharedBudget(bytes);
    }
    ~SharedBudgetScope() { MediaFrameCache::setSharedBudget(saved); }
    size_t saved;
};

TEST(MediaFrameCache, CachesWithoutABudgetOfTheirOwnDivideTheSharedBudget)
{
    constexpr size_t MiB = size_t(1) << 20;
    constexpr size_t gop = 10 * (MiB + 4096);
    SharedBudgetScope scope(240 * MiB);
    MediaFrameCache first;
    EXPECT_EQ(first.budget(), 240 * MiB);
    first.trim(0, 1);
    for (int64_t key = 0; key < 200; key += 10)
        addGop(first, key, 10);
    EXPECT_GE(first.bytes(), 200 * MiB);
    {
        MediaFrameCache second;
        MediaFrameCache third;
        MediaFrameCache ownBudget(100 * MiB);
        EXPECT_EQ(second.budget(), 80 * MiB);
        EXPECT_EQ(first.budget(), 80 * MiB);
        EXPECT_EQ(ownBudget.budget(), 100 * MiB);
        // The first gave back what exceeds its share as soon as the others opened, keeping the
        // GOP at its playhead and dropping the farthest ahead.
        EXPECT_LE(first.bytes(), 80 * MiB + gop);
        EXPECT_TRUE(first.frameContaining(5));
        EXPECT_FALSE(first.frameContaining(195));
        addGop(second, 0, 10);
        EXPECT_TRUE(second.frameContaining(5));
    }
    // The others closed: the share grows back.
    EXPECT_EQ(first.budget(), 240 * MiB);
    // A smaller shared budget applies at once; a share never falls below the minimum.
    MediaFrameCache::setSharedBudget(60 * MiB);
    EXPECT_LE(first.bytes(), 60 * MiB + gop);
    MediaFrameCache::setSharedBudget(MiB);
    EXPECT_EQ(first.budget(), MediaFrameCache::MinimumShare);
    // A budget of its own takes the cache out of the sharing, and 0 puts it back.
    MediaFrameCache::setSharedBudget(200 * MiB);
    MediaFrameCache other;
    EXPECT_EQ(other.budget(), 100 * MiB);
    first.setBudget(20 * MiB);
    EXPECT_EQ(other.budget(), 200 * MiB);
    EXPECT_LE(first.bytes(), 20 * MiB + gop);
    first.setBudget(0);
    EXPECT_EQ(other.budget(), 100 * MiB);
}

TEST(MediaFrameCache, IncompleteGopsServeTheirFramesButNoSpan)
{
    MediaFrameCache cache;
    cache.beginGroup(100);
    // A pass that skipped pictures on its way to tick 105: holes stay holes.
    for (int64_t pts : {100, 103, 105, 106})
        cache.insert(picture(), pts, 1, 100, false);
    cache.beginGroup(MediaStreamTiming::NoTime);
    const struct
    {
        int64_t ticks;
        bool cached;
    } cases[] = {{100, true}, {101, false}, {102, false}, {103, true}, {104, false}, {105, true}, {106, true},
        {107, false}};
    for (const auto &c : cases) {
        MediaCachedFramePtr frame = cache.frameContaining(c.ticks);
        EXPECT_EQ(bool(frame), c.cached) << "ticks " << c.ticks;
        if (frame) {
            EXPECT_EQ(frame->pts, c.ticks);
        }
    }
    EXPECT_FALSE(cache.completeSpan(105, true));
    MediaCachedFramePtr at105 = cache.frameContaining(105);
    ASSERT_TRUE(at105);
    EXPECT_TRUE(cache.adjacentFrame(*at105, 1));
    EXPECT_FALSE(cache.adjacentFrame(*at105, -1));
}

// Decodes the first `count` pictures of a file with a codec drawing on the pool; answers their
// plane addresses.
std::vector<const uint8_t *> decodeWithPool(const QString &path, MediaFramePool &pool, int count)
{
    std::vector<const uint8_t *> planes;
    AVFormatContext *format = nullptr;
    if (avformat_open_input(&format, path.toUtf8().constData(), nullptr, nullptr) < 0)
        return planes;
    avformat_find_stream_info(format, nullptr);
    const int stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodec *decoder = avcodec_find_decoder(format->streams[stream]->codecpar->codec_id);
    AVCodecContext *codec = avcodec_alloc_context3(decoder);
    avcodec_parameters_to_context(codec, format->streams[stream]->codecpar);
    codec->thread_count = 2;
    pool.install(codec);
    EXPECT_EQ(avcodec_open2(codec, decoder, nullptr), 0);
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    while (int(planes.size()) < count && av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == stream && avcodec_send_packet(codec, packet) >= 0)
            while (avcodec_receive_frame(codec, frame) == 0) {
                planes.push_back(frame->data[0]);
                av_frame_unref(frame);
            }
        av_packet_unref(packet);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    return planes;
}

TEST(MediaFramePool, ReleasedBuffersAreReusedWithinTheCapacity)
{
    const QString path
        = BVTest::sampleMedia(QStringLiteral("movie"), {QStringLiteral("--duration"), QStringLiteral("6")});
    ASSERT_FALSE(path.isEmpty());
    MediaFramePool pool;
    pool.setCapacity(size_t(256) << 20);
    const std::vector<const uint8_t *> planes = decodeWithPool(path, pool, 40);
    ASSERT_EQ(planes.size(), 40u);
    // Each picture is released before long: a handful of buffers go round.
    const std::set<const uint8_t *> distinct(planes.begin(), planes.end());
    EXPECT_LT(distinct.size(), 20u);
    EXPECT_GT(pool.idleBytes(), 0u);
    // A smaller capacity lets the idle buffers go.
    pool.setCapacity(0);
    EXPECT_EQ(pool.idleBytes(), 0u);
}

TEST(MediaFramePool, WithoutCapacityNothingIsKeptIdle)
{
    const QString path
        = BVTest::sampleMedia(QStringLiteral("movie"), {QStringLiteral("--duration"), QStringLiteral("6")});
    MediaFramePool pool;
    EXPECT_EQ(decodeWithPool(path, pool, 10).size(), 10u);
    EXPECT_EQ(pool.idleBytes(), 0u);
}

TEST(MediaPlayerMemory, SeveralPlayersKeepTheirCachesWithinTheBudget)
{
    const QString path
        = BVTest::sampleMedia(QStringLiteral("movie"), {QStringLiteral("--duration"), QStringLiteral("6")});
    std::vector<std::unique_ptr<Session>> sessions;
    for (int i = 0; i < 2; ++i) {
        sessions.push_back(open(path));
        ASSERT_EQ(sessions.back()->item->status(), MediaPlayerItem::Status::ReadyToPlay);
        sessions.back()->item->setCacheBudget(size_t(24) << 20);
    }
    for (const auto &session : sessions) {
        for (double seconds : {4.5, 1.2, 0.4})
            ASSERT_TRUE(seek(*session->player, MediaTime::fromSeconds(seconds, 1000)));
        ASSERT_TRUE(step(*session->player, -1));
        BVTest::spin(std::chrono::milliseconds(300)); // the paused decoder fills what fits
    }
    for (const auto &session : sessions) {
        EXPECT_LE(session->item->cacheBytes(), session->item->cacheBudget());
        EXPECT_GT(session->item->cacheBytes(), 0u);
    }
}

TEST(MediaPlayerMemory, APlayerWhoseGopsExceedItsBudgetStaysWithinItAndStepsExactly)
{
    const QString path
        = BVTest::sampleMedia(QStringLiteral("movie"), {QStringLiteral("--duration"), QStringLiteral("6")});
    ASSERT_FALSE(path.isEmpty());
    const std::vector<ReferenceFrame> reference = referenceFrames(path);
    ASSERT_GT(reference.size(), 100u);
    std::unique_ptr<Session> session = open(path);
    ASSERT_EQ(session->item->status(), MediaPlayerItem::Status::ReadyToPlay);
    MediaPlayer &player = *session->player;
    // Room for about ten decoded pictures and the two converted ones: far less than a GOP.
    const QSize size = session->item->presentationSize();
    const size_t picture = size_t(size.width()) * size_t(size.height());
    const size_t budget = 10 * picture * 3 / 2 + 2 * picture * 4;
    session->item->setCacheBudget(budget);
    const auto expectShowing = [&](int index, const QString &context) {
        std::shared_ptr<const QImage> image = player.currentImage();
        ASSERT_TRUE(image) << qPrintable(context);
        EXPECT_EQ(frameAt(reference, player.currentImageTime()), index) << qPrintable(context);
        EXPECT_EQ(digest(*image), reference[size_t(index)].digest)
            << qPrintable(context) << ": the picture differs from frame " << index;
        EXPECT_LE(session->item->cacheBytes(), budget) << qPrintable(context);
    };
    // Back from the last frame of the second GOP to the first frame of the first: the window
    // moves back through the GOP, decoded again from its keyframe each time a step leaves it.
    int index = 95;
    ASSERT_TRUE(seek(player, reference[size_t(index)].time));
    expectShowing(index, QStringLiteral("seek"));
    while (index > 0) {
        ASSERT_TRUE(step(player, -1)) << index;
        --index;
        expectShowing(index, QStringLiteral("step back to %1").arg(index));
        if (HasFailure())
            return;
    }
    // And forward again over the GOP boundary.
    for (int k = 0; k < 60; ++k) {
        ASSERT_TRUE(step(player, 1)) << index;
        ++index;
        expectShowing(index, QStringLiteral("step forward to %1").arg(index));
        if (HasFailure())
            return;
    }
    // Playing on over the next GOP boundary stays within the budget too, and the pictures keep
    // coming.
    size_t most = 0;
    player.setRate(1);
    const bool played = BVTest::waitFor(
        [&] {
            most = std::max(most, session->item->cacheBytes());
            return frameAt(reference, player.currentImageTime()) >= 100;
        },
        std::chrono::seconds(30));
    player.pause();
    EXPECT_TRUE(played);
    EXPECT_LE(most, budget);
}

TEST(MediaPlayerMemory, OpenPlayersShareOneBudget)
{
    constexpr size_t MiB = size_t(1) << 20;
    SharedBudgetScope scope(120 * MiB);
    const QString path
        = BVTest::sampleMedia(QStringLiteral("movie"), {QStringLiteral("--duration"), QStringLiteral("6")});
    std::vector<std::unique_ptr<Session>> sessions;
    for (int i = 0; i < 2; ++i) {
        sessions.push_back(open(path));
        ASSERT_EQ(sessions.back()->item->status(), MediaPlayerItem::Status::ReadyToPlay);
    }
    size_t total = 0;
    for (const auto &session : sessions) {
        EXPECT_EQ(session->item->cacheBudget(), 60 * MiB);
        for (double seconds : {4.5, 1.2, 0.4})
            ASSERT_TRUE(seek(*session->player, MediaTime::fromSeconds(seconds, 1000)));
        ASSERT_TRUE(step(*session->player, -1));
        BVTest::spin(std::chrono::milliseconds(300));
    }
    for (const auto &session : sessions) {
        EXPECT_LE(session->item->cacheBytes(), 60 * MiB);
        total += session->item->cacheBytes();
    }
    EXPECT_GT(total, 0u);
    // Closing one gives its share to the other.
    sessions.pop_back();
    EXPECT_EQ(sessions.front()->item->cacheBudget(), 120 * MiB);
}

} // namespace
