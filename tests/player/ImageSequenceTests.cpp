#include "player/media/BVFrameBufferShelf.h"
#include "player/media/BVImageSequence.h"

#include "common/BVTestSupport.h"
#include "support/BVLog.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// The frame number a test image carries in its colour.
QColor colourOfFrame(int index)
{
    return QColor(index % 256, index / 256, 77);
}

int frameOfImage(const QImage &image)
{
    const QRgb pixel = image.pixel(image.width() / 2, image.height() / 2);
    return qRed(pixel) + 256 * qGreen(pixel);
}

// Writes count small PNG files, each filled with the colour of its frame number.
QStringList makeFrames(int count, const QString &prefix = QStringLiteral("seq"))
{
    const QString folder = BVTest::makeTempFolder(prefix);
    QStringList files;
    for (int i = 0; i < count; ++i) {
        QImage image(64, 36, QImage::Format_RGB32);
        image.fill(colourOfFrame(i));
        const QString path = folder + QString::asprintf("/frame_%04d.png", i);
        EXPECT_TRUE(image.save(path));
        files.append(path);
    }
    return files;
}

class RecordingDelegate : public BVMediaObjectDelegate
{
public:
    explicit RecordingDelegate(BVImageSequence &sequence)
        : m_sequence(sequence)
    { }

    void mediaStatusChanged(const QString &status) override
    {
        statuses.append(status);
        if (status == BVMediaStatus::ready)
            updatesBeforeReady = bufferedRangeUpdates;
    }
    void prepareForPlayback() override
    {
        ++preparations;
        cachedWhenPrepared = m_sequence.cachedFrames();
    }
    void playbackStateChanged() override { ++stateChanges; }
    bool playerShouldSeek() override { return allowSeeks; }
    void playerSeeked() override { ++seeks; }
    void syncScrubber() override { scrubberFrames.push_back(int64_t(m_sequence.currentFrame())); }
    void bufferStatusChanged(const QString &status) override { bufferStatuses.append(status); }
    void updateBufferedRange() override { ++bufferedRangeUpdates; }
    // Arrives on the render queue, or on the seeking thread.
    void drawFrame(const QImage &image) override
    {
        if (const int delay = drawDelayMilliseconds.load(); delay > 0)
            QThread::msleep(delay);
        while (holdDraws.load()) {
            drawHeld.store(true);
            QThread::msleep(1);
        }
        drawHeld.store(false);
        std::lock_guard guard(m_mutex);
        m_drawn.push_back(frameOfImage(image));
        if (keepImages.load())
            m_kept.emplace_back(m_drawn.back(), image);
    }
    // The images kept by keepImages, with the frame each showed when it was drawn.
    std::vector<std::pair<int, QImage>> kept() const
    {
        std::lock_guard guard(m_mutex);
        return m_kept;
    }

    std::vector<int> drawn() const
    {
        std::lock_guard guard(m_mutex);
        return m_drawn;
    }
    int lastDrawn() const
    {
        std::lock_guard guard(m_mutex);
        return m_drawn.empty() ? -1 : m_drawn.back();
    }

    QStringList statuses;
    QStringList bufferStatuses;
    int updatesBeforeReady = -1;
    int bufferedRangeUpdates = 0;
    int preparations = 0;
    QList<uint64_t> cachedWhenPrepared;
    int stateChanges = 0;
    int seeks = 0;
    bool allowSeeks = true;
    std::atomic<int> drawDelayMilliseconds {0};
    // While set, a hand-over waits in drawFrame(), keeping the render queue busy; drawHeld tells it.
    std::atomic<bool> holdDraws {false};
    std::atomic<bool> drawHeld {false};
    // While set, every drawn image is kept, as a view keeps the picture it shows.
    std::atomic<bool> keepImages {false};
    std::vector<int64_t> scrubberFrames;

private:
    BVImageSequence &m_sequence;
    mutable std::mutex m_mutex;
    std::vector<int> m_drawn;
    std::vector<std::pair<int, QImage>> m_kept;
};

class ImageSequence : public ::testing::Test
{
protected:
    void SetUp() override { BVLog::createNewLog(); }
    void load(const QStringList &files, double fps)
    {
        m_sequence = std::make_unique<BVImageSequence>();
        m_delegate = std::make_unique<RecordingDelegate>(*m_sequence);
        m_sequence->setDelegate(m_delegate.get());
        m_sequence->setFps(fps);
        m_sequence->loadFiles(files);
    }
    void loadAndWaitUntilReady(const QStringList &files, double fps)
    {
        load(files, fps);
        ASSERT_TRUE(BVTest::waitFor([this] { return m_delegate->statuses.contains(BVMediaStatus::ready); }));
        ASSERT_TRUE(BVTest::waitFor([this] { return m_delegate->lastDrawn() == 0; }));
    }
    bool waitForCache(qsizetype count)
    {
        return BVTest::waitFor([&] { return m_sequence->cachedFrames().size() >= count; });
    }
    static QString logText()
    {
        BVLog::finishWriting();
        return QString::fromUtf8(BVTest::readFile(BVLog::sharedController()->currentLogPath()));
    }
    void TearDown() override
    {
        if (m_sequence)
            m_sequence->cleanup();
    }

    std::unique_ptr<BVImageSequence> m_sequence;
    std::unique_ptr<RecordingDelegate> m_delegate;
};

} // namespace

TEST_F(ImageSequence, FortyEightFilesAt24AreTwoSecondsReadyAfterTheFifthFrame)
{
    loadAndWaitUntilReady(makeFrames(48), 24);
    EXPECT_EQ(m_sequence->frameCount(), 48u);
    EXPECT_EQ(m_sequence->timescale(), 2400);
    EXPECT_EQ(m_sequence->duration().value(), 4800);
    EXPECT_EQ(m_sequence->duration().timescale(), 2400);
    EXPECT_EQ(m_sequence->currentTime(), MediaTime::zero());
    EXPECT_EQ(m_sequence->timecodeStart(), QStringLiteral("00:00:00:00"));
    EXPECT_EQ(m_sequence->naturalSize(), QSizeF(64, 36));
    EXPECT_TRUE(m_sequence->isLoaded());
    EXPECT_TRUE(m_sequence->isReady());
    EXPECT_EQ(m_delegate->statuses, (QStringList {BVMediaStatus::loaded, BVMediaStatus::ready}));
    // "ready" went out once the first five frames were decoded, not before.
    EXPECT_GE(m_delegate->updatesBeforeReady, 4);
    EXPECT_EQ(m_delegate->cachedWhenPrepared.mid(0, 5), (QList<uint64_t> {0, 1, 2, 3, 4}));
    EXPECT_EQ(m_delegate->preparations, 1);
    EXPECT_EQ(m_delegate->drawn(), std::vector<int> {0});

    // Frame 0 is shown; the other 47, the last one included, wait in the cache.
    ASSERT_TRUE(waitForCache(47));
    QList<uint64_t> expected;
    for (uint64_t i = 1; i < 48; ++i)
        expected.append(i);
    EXPECT_EQ(m_sequence->cachedFrames(), expected);
    const QList<MediaTimeRange> ranges = m_sequence->loadedTimeRanges();
    ASSERT_EQ(ranges.size(), 1);
    EXPECT_EQ(ranges.first(), MediaTimeRange(MediaTime(0, 2400), MediaTime(4700, 2400)));
    EXPECT_EQ(frameOfImage(m_sequence->copyCurrentFrameImage()), 0);
}

TEST_F(ImageSequence, PlayingPastTheLastFrameStopsAtTheDurationAndReplaysFromZero)
{
    loadAndWaitUntilReady(makeFrames(24), 24);
    ASSERT_TRUE(waitForCache(23));
    m_sequence->play();
    EXPECT_TRUE(m_sequence->isPlaying());
    ASSERT_TRUE(BVTest::waitFor([this] { return !m_sequence->isPlaying(); }, std::chrono::seconds(15)));
    EXPECT_EQ(m_sequence->currentTime(), m_sequence->duration());
    EXPECT_TRUE(m_sequence->seekToZeroBeforePlay());
    BVTest::spin(std::chrono::milliseconds(100));
    const std::vector<int> drawn = m_delegate->drawn();
    ASSERT_FALSE(drawn.empty());
    EXPECT_EQ(drawn.back(), 23); // the last frame is shown too
    for (size_t i = 1; i < drawn.size(); ++i)
        EXPECT_LT(drawn[i - 1], drawn[i]) << "hand-over " << i;

    const size_t before = drawn.size();
    m_sequence->play();
    EXPECT_FALSE(m_sequence->seekToZeroBeforePlay());
    EXPECT_LT(m_sequence->currentTime(), MediaTime(300, 2400));
    ASSERT_TRUE(BVTest::waitFor([&] { return m_delegate->drawn().size() > before; }));
    EXPECT_EQ(m_delegate->drawn()[before], 0);
    m_sequence->pause();
    EXPECT_FALSE(m_sequence->isPlaying());
}

TEST_F(ImageSequence, RateTwoAdvancesTwoFramesATickAndCachesEverySecondFrame)
{
    loadAndWaitUntilReady(makeFrames(96), 24);
    m_sequence->setRate(2);
    EXPECT_FALSE(m_sequence->isPlaying());
    ASSERT_TRUE(waitForCache(48)); // frames 0, 2 ... 94
    const QList<uint64_t> cached = m_sequence->cachedFrames();
    ASSERT_EQ(cached.size(), 48);
    for (qsizetype i = 0; i < cached.size(); ++i)
        EXPECT_EQ(cached[i], uint64_t(2 * i)) << "cache slot " << i;

    m_sequence->play();
    ASSERT_TRUE(BVTest::waitFor([this] { return !m_sequence->isPlaying(); }, std::chrono::seconds(15)));
    const std::vector<int64_t> &ticks = m_delegate->scrubberFrames;
    ASSERT_GT(ticks.size(), 20u);
    EXPECT_EQ(ticks.front(), 2);
    // Two frames a tick; the last tick reaches the end, where the last frame (95) stays on screen.
    for (size_t i = 1; i + 1 < ticks.size(); ++i)
        EXPECT_EQ(ticks[i] - ticks[i - 1], 2) << "tick " << i;
    EXPECT_EQ(ticks.back(), 95);
    for (const int frame : m_delegate->drawn())
        EXPECT_TRUE(frame % 2 == 0 || frame == 95) << frame;
}

TEST_F(ImageSequence, ASeekShowsTheFileOfThatFrame)
{
    loadAndWaitUntilReady(makeFrames(48), 24);
    struct Case
    {
        MediaTime time;
        int frame;
    };
    const std::vector<Case> cases = {
        {MediaTime(3700, 2400), 37}, {MediaTime::fromSeconds(10.0 / 24.0, 100000), 10},
        {MediaTime(-500, 2400), 0}, // clamped to the start
        {MediaTime(1234, 2400), 12}, // 12.34 frames in: inside frame 12
    };
    for (const Case &c : cases) {
        bool finished = false;
        m_sequence->seekToTime(c.time, [&](bool done) { finished = done; });
        ASSERT_TRUE(BVTest::waitFor([&] { return finished; })) << c.frame;
        ASSERT_TRUE(BVTest::waitFor([&] { return m_delegate->lastDrawn() == c.frame; })) << c.frame;
        EXPECT_EQ(m_sequence->currentFrame(), uint64_t(c.frame));
        EXPECT_EQ(frameOfImage(m_sequence->copyCurrentFrameImage()), c.frame);
    }
    EXPECT_EQ(m_delegate->seeks, int(cases.size()));

    // Past the end: the time stops at the duration and the next play starts again at zero.
    m_sequence->seekToTime(MediaTime(99999, 2400), MediaTime::zero(), MediaTime::zero(), {});
    EXPECT_EQ(m_sequence->currentTime(), m_sequence->duration());
    EXPECT_TRUE(m_sequence->seekToZeroBeforePlay());
    EXPECT_EQ(m_sequence->currentFrame(), 47u) << "the last frame stays on screen";
    EXPECT_EQ(frameOfImage(m_sequence->copyCurrentFrameImage()), 47);
}

TEST_F(ImageSequence, ASeekRefusedByTheDelegateLeavesThePosition)
{
    loadAndWaitUntilReady(makeFrames(24), 24);
    m_sequence->seekToTime(MediaTime(500, 2400), MediaTime::zero(), MediaTime::zero(), {});
    ASSERT_TRUE(BVTest::waitFor([this] { return m_delegate->lastDrawn() == 5; }));
    m_delegate->allowSeeks = false;
    bool called = false;
    m_sequence->seekToTime(MediaTime(1500, 2400), [&](bool) { called = true; });
    BVTest::spin(std::chrono::milliseconds(200));
    EXPECT_FALSE(called);
    EXPECT_EQ(m_sequence->currentTime(), MediaTime(500, 2400));
    EXPECT_EQ(m_delegate->lastDrawn(), 5);
    EXPECT_EQ(m_delegate->seeks, 1);
    EXPECT_TRUE(logText().contains(QStringLiteral(" - Delegate declined permission to seek.\n")));
}

TEST_F(ImageSequence, AnUnreadableImageIsSkipped)
{
    QStringList files = makeFrames(12);
    ASSERT_TRUE(BVTest::writeFile(files[3], "this is not a picture"));
    loadAndWaitUntilReady(files, 24);
    ASSERT_TRUE(waitForCache(10));
    EXPECT_FALSE(m_sequence->cachedFrames().contains(3));
    EXPECT_TRUE(m_sequence->cachedFrames().contains(4));

    m_sequence->seekToTime(MediaTime(200, 2400), MediaTime::zero(), MediaTime::zero(), {});
    ASSERT_TRUE(BVTest::waitFor([this] { return m_delegate->lastDrawn() == 2; }));
    const size_t drawnBefore = m_delegate->drawn().size();
    m_sequence->stepForward(); // to the unreadable frame: nothing new is shown
    EXPECT_EQ(m_sequence->currentFrame(), 3u);
    BVTest::spin(std::chrono::milliseconds(200));
    EXPECT_EQ(m_delegate->drawn().size(), drawnBefore);
    EXPECT_TRUE(m_sequence->copyCurrentFrameImage().isNull());

    m_sequence->play();
    ASSERT_TRUE(BVTest::waitFor([this] { return !m_sequence->isPlaying(); }, std::chrono::seconds(10)));
    EXPECT_EQ(m_delegate->lastDrawn(), 11);
    EXPECT_TRUE(logText().contains(files[3]));
}

TEST_F(ImageSequence, PlayingBackwardsShowsFramesDownToZero)
{
    loadAndWaitUntilReady(makeFrames(30), 24);
    m_sequence->seekToTime(MediaTime(2000, 2400), MediaTime::zero(), MediaTime::zero(), {});
    ASSERT_TRUE(BVTest::waitFor([this] { return m_delegate->lastDrawn() == 20; }));
    m_sequence->setRate(-1); // a negative rate starts playing
    EXPECT_TRUE(m_sequence->isPlaying());
    ASSERT_TRUE(BVTest::waitFor([this] { return !m_sequence->isPlaying(); }, std::chrono::seconds(10)));
    EXPECT_EQ(m_sequence->currentTime(), MediaTime(0, 2400));
    ASSERT_TRUE(BVTest::waitFor([this] { return m_delegate->lastDrawn() == 0; }));
    const std::vector<int> drawn = m_delegate->drawn();
    const auto start = std::find(drawn.begin(), drawn.end(), 20);
    ASSERT_NE(start, drawn.end());
    for (auto it = start + 1; it != drawn.end(); ++it)
        EXPECT_LT(*it, *(it - 1));
}

TEST_F(ImageSequence, StepsMoveToTheExactStartOfTheNextFrame)
{
    loadAndWaitUntilReady(makeFrames(10), 23.976);
    EXPECT_EQ(m_sequence->timescale(), 2398);
    m_sequence->stepForward();
    EXPECT_EQ(m_sequence->currentTime(), MediaTime(1001, 24000));
    EXPECT_EQ(m_sequence->currentFrame(), 1u);
    m_sequence->stepForward();
    EXPECT_EQ(m_sequence->currentFrame(), 2u);
    m_sequence->stepBack();
    m_sequence->stepBack();
    m_sequence->stepBack(); // stays at the start
    EXPECT_EQ(m_sequence->currentTime(), MediaTime(0, 2398));
    ASSERT_TRUE(BVTest::waitFor([this] { return m_delegate->lastDrawn() == 0; }));
}

TEST_F(ImageSequence, SlowHandOversDropFramesButShowTheFrameOfThePosition)
{
    loadAndWaitUntilReady(makeFrames(48), 24);
    ASSERT_TRUE(waitForCache(47));
    m_delegate->drawDelayMilliseconds.store(150);
    m_sequence->play();
    ASSERT_TRUE(BVTest::waitFor([this] { return !m_sequence->isPlaying(); }, std::chrono::seconds(15)));
    BVTest::spin(std::chrono::milliseconds(500));
    EXPECT_TRUE(logText().contains(QStringLiteral(" - Frame dropped\n")));
    const std::vector<int> drawn = m_delegate->drawn();
    EXPECT_LT(drawn.size(), 40u);
    for (size_t i = 1; i < drawn.size(); ++i)
        EXPECT_LT(drawn[i - 1], drawn[i]) << "hand-over " << i;
}

// A frame timer that fires late fires again at once to keep its rate: two ticks then queue their
// hand-overs before the render queue has run the first. Each shows the frame of its own tick, and
// a decoder finishing meanwhile does not throw away a frame still waiting to be shown; only a third
// waiting hand-over is dropped.
TEST_F(ImageSequence, ALateTickAndItsCatchUpShowEveryDecodedFrame)
{
    loadAndWaitUntilReady(makeFrames(48), 24);
    ASSERT_TRUE(waitForCache(47));
    m_delegate->holdDraws.store(true);
    m_sequence->seekToTime(MediaTime(1000, 2400), MediaTime::zero(), MediaTime::zero(), {});
    // The render queue is now busy drawing frame 10, and frames 11 to 14 are decoded again.
    ASSERT_TRUE(BVTest::waitFor([this] { return m_delegate->drawHeld.load(); }));
    ASSERT_TRUE(BVTest::waitFor([this] {
        const QList<uint64_t> cached = m_sequence->cachedFrames();
        return cached.size() >= 4 && cached.mid(0, 4) == QList<uint64_t>({11, 12, 13, 14});
    }));

    m_sequence->prepareToDisplayFrame(); // the late tick: frame 11
    m_sequence->prepareToDisplayFrame(); // its catch-up: frame 12
    m_sequence->cacheFrames(); // as a decoder finishing now would
    EXPECT_EQ(m_sequence->cachedFrames().mid(0, 2), (QList<uint64_t> {11, 12}));
    m_sequence->prepareToDisplayFrame(); // a third one while two wait: frame 13 is dropped
    EXPECT_EQ(m_sequence->currentFrame(), 13u);
    EXPECT_TRUE(logText().contains(QStringLiteral(" - Frame dropped\n")));

    m_delegate->holdDraws.store(false);
    ASSERT_TRUE(BVTest::waitFor([this] { return m_delegate->lastDrawn() == 12; }));
    m_sequence->prepareToDisplayFrame(); // on time again: frame 14
    ASSERT_TRUE(BVTest::waitFor([this] { return m_delegate->lastDrawn() == 14; }));
    const std::vector<int> drawn = m_delegate->drawn();
    ASSERT_GE(drawn.size(), 4u);
    EXPECT_EQ(std::vector<int>(drawn.end() - 4, drawn.end()), (std::vector<int> {10, 11, 12, 14}));
    EXPECT_EQ(m_sequence->cachedFrames().value(0), 15u);
}

// Decoded frames reuse the pixel buffers of frames let go of; a frame still held elsewhere (the
// view's picture, an exported frame) keeps its pixels through seeks, cleared caches and playing.
TEST_F(ImageSequence, PicturesStillHeldKeepTheirPixelsWhileBuffersAreReused)
{
    loadAndWaitUntilReady(makeFrames(60), 24);
    m_delegate->keepImages.store(true);
    for (const int frame : {30, 5, 45, 12}) {
        m_sequence->seekToTime(MediaTime(frame * 100, 2400), MediaTime::zero(), MediaTime::zero(), {});
        ASSERT_TRUE(BVTest::waitFor([&] { return m_delegate->lastDrawn() == frame; })) << frame;
    }
    const QImage exported = m_sequence->copyCurrentFrameImage();
    m_sequence->play();
    ASSERT_TRUE(BVTest::waitFor([this] { return !m_sequence->isPlaying(); }, std::chrono::seconds(15)));
    BVTest::spin(std::chrono::milliseconds(100));
    const std::vector<std::pair<int, QImage>> kept = m_delegate->kept();
    ASSERT_GT(kept.size(), 30u);
    for (const auto &[frame, image] : kept)
        EXPECT_EQ(frameOfImage(image), frame);
    EXPECT_EQ(frameOfImage(exported), 12);
}

TEST(FrameBufferShelf, ABufferReturnsWhenItsLastImageGoesAndOnlyUpToTheLimit)
{
    auto shelf = std::make_shared<BVFrameBufferShelf>();
    const QSize size(64, 36);
    QImage image = BVFrameBufferShelf::take(shelf, size, QImage::Format_RGB32);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), size);
    const uchar *pixels = image.constBits();
    QImage shown = image; // the view's copy
    image = QImage();
    EXPECT_EQ(shelf->idleCount(), 0u);
    shown = QImage();
    EXPECT_EQ(shelf->idleCount(), 1u);
    QImage next = BVFrameBufferShelf::take(shelf, size, QImage::Format_RGB32);
    EXPECT_EQ(next.constBits(), pixels);
    EXPECT_EQ(shelf->idleCount(), 0u);

    std::vector<QImage> many;
    for (size_t i = 0; i < BVFrameBufferShelf::kIdleBuffers + 4; ++i)
        many.push_back(BVFrameBufferShelf::take(shelf, size, QImage::Format_RGB32));
    many.clear();
    EXPECT_EQ(shelf->idleCount(), BVFrameBufferShelf::kIdleBuffers);

    // Another picture size: the buffers of the old one are of no use.
    QImage larger = BVFrameBufferShelf::take(shelf, QSize(128, 72), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(shelf->idleCount(), 0u);
    EXPECT_TRUE(BVFrameBufferShelf::take(shelf, size, QImage::Format_RGB888).isNull());

    // Images may outlive the shelf: they free their own buffers then.
    shelf.reset();
    larger.fill(Qt::red);
    next = QImage();
    larger = QImage();
}

TEST_F(ImageSequence, ShortOrUnusableSequencesReportTheirStatus)
{
    loadAndWaitUntilReady(makeFrames(3), 24);
    EXPECT_EQ(m_sequence->frameCount(), 3u);

    load({}, 24);
    ASSERT_TRUE(BVTest::waitFor([this] { return m_delegate->statuses.contains(BVMediaStatus::unknown); }));

    QStringList broken = makeFrames(2, QStringLiteral("broken"));
    for (const QString &file : broken)
        ASSERT_TRUE(BVTest::writeFile(file, "garbage"));
    load(broken, 24);
    ASSERT_TRUE(BVTest::waitFor([this] { return m_delegate->statuses.contains(BVMediaStatus::unknown); }));
    EXPECT_FALSE(m_sequence->isReady());
}

TEST_F(ImageSequence, NothingReachesTheDelegateAfterDestruction)
{
    const QStringList files = makeFrames(48);
    for (int i = 0; i < 5; ++i) {
        load(files, 24);
        BVTest::spin(std::chrono::milliseconds(i * 5));
        m_sequence.reset();
        const QStringList statuses = m_delegate->statuses;
        const int updates = m_delegate->bufferedRangeUpdates;
        const size_t drawn = m_delegate->drawn().size();
        BVTest::spin(std::chrono::milliseconds(100));
        EXPECT_EQ(m_delegate->statuses, statuses) << "round " << i;
        EXPECT_EQ(m_delegate->bufferedRangeUpdates, updates) << "round " << i;
        EXPECT_EQ(m_delegate->drawn().size(), drawn) << "round " << i;
    }
}

TEST_F(ImageSequence, AMissingNumberKeepsItsFrameAsAMarkedPlaceholder)
{
    // Files 0 to 11 without 4 and 5: the frames after the gap keep their numbers' times.
    QStringList files = makeFrames(12, QStringLiteral("gap"));
    ASSERT_TRUE(QFile::remove(files[4]));
    ASSERT_TRUE(QFile::remove(files[5]));
    files.removeAt(5);
    files.removeAt(4);
    loadAndWaitUntilReady(files, 24);
    EXPECT_EQ(m_sequence->frameCount(), 12u);
    EXPECT_EQ(m_sequence->duration(), MediaTime(1200, 2400));
    const std::map<uint64_t, qulonglong> expectedMissing {{4, 4}, {5, 5}};
    EXPECT_EQ(m_sequence->missingFrames(), expectedMissing);

    for (const int frame : {7, 11, 3, 6}) {
        m_sequence->seekToTime(MediaTime(frame * 100, 2400), MediaTime::zero(), MediaTime::zero(), {});
        ASSERT_TRUE(BVTest::waitFor([&] { return m_delegate->lastDrawn() == frame; })) << frame;
        EXPECT_EQ(frameOfImage(m_sequence->copyCurrentFrameImage()), frame);
    }
    // The gap shows a picture of the sequence's size, framed in red on dark grey: not a neighbour.
    m_delegate->keepImages = true;
    m_sequence->seekToTime(MediaTime(500, 2400), MediaTime::zero(), MediaTime::zero(), {});
    ASSERT_TRUE(BVTest::waitFor([&] { return !m_delegate->kept().empty(); }));
    const QImage placeholder = m_delegate->kept().back().second;
    EXPECT_EQ(placeholder.size(), QSize(64, 36));
    const QRgb border = placeholder.pixel(0, placeholder.height() / 2);
    EXPECT_GT(qRed(border), 180);
    EXPECT_LT(qGreen(border), 80);
    const QRgb inside = placeholder.pixel(placeholder.width() / 2, 3);
    EXPECT_LT(qRed(inside), 90);
    EXPECT_NEAR(qRed(inside), qGreen(inside), 10);
    EXPECT_EQ(m_sequence->currentFrame(), 5u);

    // Unrelated names and runs far apart are not padded.
    std::map<uint64_t, qulonglong> missing;
    EXPECT_EQ(BVImageSequence::holdingGaps(
                  {QStringLiteral("/a/x_0001.png"), QStringLiteral("/a/y_0003.png")}, &missing)
                  .size(),
        2);
    EXPECT_EQ(BVImageSequence::holdingGaps(
                  {QStringLiteral("/a/x_0001.png"), QStringLiteral("/a/x_0900.png")}, &missing)
                  .size(),
        2);
    EXPECT_TRUE(missing.empty());
    const QStringList held = BVImageSequence::holdingGaps(
        {QStringLiteral("/a/x_0098.exr"), QStringLiteral("/a/x_0099.exr"), QStringLiteral("/a/x_0101.exr")},
        &missing);
    EXPECT_EQ(held,
        (QStringList {QStringLiteral("/a/x_0098.exr"), QStringLiteral("/a/x_0099.exr"), QString(),
            QStringLiteral("/a/x_0101.exr")}));
    EXPECT_EQ(missing, (std::map<uint64_t, qulonglong> {{2, 100}}));
}

TEST_F(ImageSequence, OpenExrFramesDecodeThroughFFmpeg)
{
    // Two OpenEXR frames written by the ffmpeg tool: a red frame, then a blue one.
    const QString folder = BVTest::makeTempFolder(QStringLiteral("exr"));
    QStringList files;
    const char *colours[] = {"red", "blue"};
    for (int i = 0; i < 2; ++i) {
        const QString path = folder + QString::asprintf("/plate_%04d.exr", i + 1);
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
                QStringLiteral("lavfi"), QStringLiteral("-i"),
                QStringLiteral("color=c=%1:s=96x54").arg(QLatin1String(colours[i])),
                QStringLiteral("-frames:v"), QStringLiteral("1"), QStringLiteral("-pix_fmt"),
                QStringLiteral("gbrpf32le"), QStringLiteral("-c:v"), QStringLiteral("exr"), path});
        ASSERT_TRUE(ffmpeg.waitForFinished(30000));
        ASSERT_EQ(ffmpeg.exitCode(), 0) << ffmpeg.readAllStandardError().toStdString();
        files.append(path);
    }
    const QImage first = BVImageSequence::decodeImageFile(files[0]);
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(first.size(), QSize(96, 54));
    const QRgb red = first.pixel(48, 27);
    EXPECT_GT(qRed(red), 200);
    EXPECT_LT(qBlue(red), 30);
    const QRgb blue = BVImageSequence::decodeImageFile(files[1]).pixel(48, 27);
    EXPECT_GT(qBlue(blue), 200);
    EXPECT_LT(qRed(blue), 30);

    load(files, 24);
    ASSERT_TRUE(BVTest::waitFor([this] { return m_delegate->statuses.contains(BVMediaStatus::ready); }));
    EXPECT_EQ(m_sequence->naturalSize(), QSizeF(96, 54));
}
