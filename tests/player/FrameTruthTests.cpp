// Frame truth: the picture on screen, every timecode the window shows and every stored position name
// the same frame. The clips carry their frame index in their pixels (16 bars, most significant bit
// first), read back here without the player's code; expected labels are counted one frame at a time.
#include "DocumentTestSupport.h"

#include "platform/media/engine/MediaPlayer.h"
#include "player/window/BVAVPlaybackView.h"
#include "player/window/BVTimecodeOverlay.h"

#include <QFileInfo>
#include <QPushButton>
#include <QtTest/QTest>

#include <chrono>
#include <map>
#include <vector>

// Readable QString values in failure messages.
void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

using namespace DocumentTest;

struct Clip
{
    const char *rate;
    int timebase;
    int dropped;
    const char *start;
    int64_t frames;
    // Labels typed or sought; a label that names no frame stands for the first frame after it.
    std::vector<const char *> targets;
};

std::ostream &operator<<(std::ostream &os, const Clip &clip)
{
    return os << clip.rate << (clip.dropped ? " DF" : "");
}

class FrameTruth : public ::testing::TestWithParam<Clip>
{
protected:
    void SetUp() override
    {
        resetSettings();
        const Clip &clip = GetParam();
        m_path = BVTest::sampleMedia(QStringLiteral("barcode"),
            {QStringLiteral("--rate"), QString::fromLatin1(clip.rate), QStringLiteral("--frames"),
                QString::number(clip.frames), QStringLiteral("--tc"), QString::fromLatin1(clip.start)});
        ASSERT_FALSE(m_path.isEmpty());
        const QString start = QString::fromLatin1(clip.start);
        m_labels = countLabels(clip.timebase, clip.dropped, start.mid(0, 2).toInt(), start.mid(3, 2).toInt(),
            start.mid(6, 2).toInt(), start.mid(9, 2).toInt(), clip.frames);
    }

    // The frame a typed label names: its own, or the first real frame after a label that none has.
    int64_t frameOfLabel(const QString &label) const
    {
        for (size_t i = 0; i < m_labels.size(); ++i)
            if (m_labels[i] >= label)
                return int64_t(i);
        return int64_t(m_labels.size()) - 1;
    }

    static int shownIndex(BVDocument &document)
    {
        auto *asset = dynamic_cast<BVAVAsset *>(document.mediaObject());
        if (!asset || !asset->player())
            return -1;
        const std::shared_ptr<const QImage> image = asset->player()->currentImage();
        return image ? pictureIndex(*image) : -1;
    }

    // Waits for the picture to settle on a frame, then checks that it is the expected one and that
    // the strip, the overlay, the copied display string and the media's frame all name it.
    void expectShowing(BVDocument &document, int64_t expected, const std::string &what)
    {
        SCOPED_TRACE(what);
        BVTest::waitFor([&] { return shownIndex(document) == expected; }, std::chrono::milliseconds(5000));
        // Let late pictures arrive, so a frame that only passes through is not taken for the result.
        QTest::qWait(60);
        expectAllNameTheFrameShown(document, expected);
    }

    void expectAllNameTheFrameShown(BVDocument &document, int64_t expected)
    {
        const int shown = shownIndex(document);
        ASSERT_GE(expected, 0);
        ASSERT_LT(expected, int64_t(m_labels.size()));
        EXPECT_EQ(shown, expected) << "picture";
        const QString label = m_labels[size_t(expected)];
        EXPECT_EQ(document.updateTimecode(), label);
        EXPECT_EQ(document.currentDisplayTimecode(), label);
        auto *strip
            = DocumentTest::window(document)->findChild<QPushButton *>(QStringLiteral("mTimeElapsed"));
        ASSERT_NE(strip, nullptr);
        EXPECT_EQ(strip->text(), label) << "strip";
        auto *overlay = DocumentTest::window(document)->findChild<BVTimecodeOverlay *>();
        ASSERT_NE(overlay, nullptr);
        EXPECT_EQ(overlay->text(), label) << "overlay";
        EXPECT_EQ(int64_t(document.mediaObject()->currentFrame()), expected) << "media frame";
    }

    QString m_path;
    std::vector<QString> m_labels;
};

TEST_P(FrameTruth, TypedAndSoughtTimecodesAndStepsShowTheFrameTheyName)
{
    auto document = open(m_path);
    ASSERT_TRUE(document->isReady());
    EXPECT_EQ(document->mediaObject()->frameCount(), uint64_t(GetParam().frames));
    for (const char *target : GetParam().targets) {
        const QString label = QString::fromLatin1(target);
        const int64_t expected = frameOfLabel(label);
        document->timecodeModified(label);
        expectShowing(*document, expected, "typed " + label.toStdString());
        document->stepRight();
        expectShowing(*document, expected + 1, "step right after " + label.toStdString());
        document->stepLeft();
        document->stepLeft();
        expectShowing(*document, expected - 1, "two steps left after " + label.toStdString());
        document->seekToTimecode(label);
        expectShowing(*document, expected, "seekToTimecode " + label.toStdString());
    }
    document->goToEnd();
    expectShowing(*document, GetParam().frames - 1, "End");
    document->goToStart();
    expectShowing(*document, 0, "Home");
    document->close();
}

TEST_P(FrameTruth, APauseAfterPlayingNamesThePictureLeftOnScreen)
{
    auto document = open(m_path);
    ASSERT_TRUE(document->isReady());
    for (int round = 0; round < 4; ++round) {
        document->play();
        QTest::qWait(170 + 37 * round);
        document->pause();
        int last = -2;
        // Settled once two looks 80 ms apart agree.
        BVTest::waitFor(
            [&] {
                const int now = shownIndex(*document);
                const bool settled = now == last && now >= 0;
                last = now;
                QTest::qWait(80);
                return settled;
            },
            std::chrono::milliseconds(3000));
        SCOPED_TRACE("pause " + std::to_string(round));
        expectAllNameTheFrameShown(*document, shownIndex(*document));
    }
    document->close();
}

TEST_P(FrameTruth, RestoredPositionAndGangFollowerShowTheLeadersFrame)
{
    const Clip &clip = GetParam();
    defaults()->setBool(true, QStringLiteral("savePlaybackPos"));
    const int64_t kept = clip.frames / 3 + 1;
    {
        auto document = open(m_path);
        document->timecodeModified(m_labels[size_t(kept)]);
        expectShowing(*document, kept, "before saving");
        document->savePlaybackPosition(true);
        document->close();
    }
    defaults()->setInteger(1, QStringLiteral("gangMode"));
    auto leader = open(m_path);
    expectShowing(*leader, kept, "restored");
    auto follower = open(m_path);
    leader->window()->activateWindow();
    leader->window()->raise();
    ASSERT_TRUE(QTest::qWaitForWindowActive(leader->window()));
    ASSERT_TRUE(BVTest::waitFor([&] { return follower->gang().isListening(); }));
    // Home first: the follower's clock then runs in the coarse timescale of zero.
    leader->goToStart();
    expectShowing(*follower, 0, "follower after Home");
    for (int64_t frame : {int64_t(1), int64_t(5), clip.frames / 2, clip.frames - 2}) {
        leader->timecodeModified(m_labels[size_t(frame)]);
        expectShowing(*leader, frame, "leader");
        expectShowing(*follower, frame, "follower at " + std::to_string(frame));
    }
    follower->close();
    leader->close();
}

const Clip clips[] = {
    {"24000/1001", 24, 0, "01:00:00:00", 27 * 60 * 24,
        {"01:00:00:05", "01:00:10:05", "01:00:59:23", "01:26:10:05", "01:26:59:12"}},
    {"24", 24, 0, "00:00:00:00", 240, {"00:00:00:01", "00:00:04:23", "00:00:07:12"}},
    {"25", 25, 0, "10:00:00:00", 250, {"10:00:00:01", "10:00:03:24", "10:00:07:13"}},
    {"30000/1001", 30, 2, "01:00:00;00", 11 * 60 * 30,
        {"01:00:00;03", "01:00:59;29", "01:01:00;02", "01:01:00;00", "01:09:00;01", "01:10:00;00",
            "01:10:00;01"}},
    {"30", 30, 0, "01:00:00:00", 300, {"01:00:00:01", "01:00:05:29", "01:00:08:15"}},
    {"50", 50, 0, "00:59:59:00", 500, {"00:59:59:01", "01:00:00:00", "01:00:07:49"}},
    {"60000/1001", 60, 4, "01:00:00;00", 70 * 60,
        {"01:00:00;07", "01:00:59;59", "01:01:00;04", "01:01:00;00", "01:01:00;03", "01:01:05;10"}},
    {"60", 60, 0, "01:00:00:00", 600, {"01:00:00:01", "01:00:04:59", "01:00:08:30"}},
};

std::string clipName(const ::testing::TestParamInfo<Clip> &param)
{
    std::string name = std::string(param.param.rate) + (param.param.dropped ? "DF" : "");
    for (char &c : name)
        if (c == '/')
            c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Rates, FrameTruth, ::testing::ValuesIn(clips), clipName);

// Image sequences: End shows the last frame, Home the first, and steps move one frame from either,
// read from the pictures of barcode frames written as PNG, JPEG and OpenEXR files by the ffmpeg tool.
struct SequenceClip
{
    const char *format;
    const char *rate;
    double fps;
    int64_t frames;
};

class SequenceFrameTruth : public ::testing::TestWithParam<SequenceClip>
{
};

TEST_P(SequenceFrameTruth, EndHomeAndStepsShowTheFrameTheyName)
{
    resetSettings();
    const SequenceClip &clip = GetParam();
    const QString movie = BVTest::sampleMedia(QStringLiteral("barcode"),
        {QStringLiteral("--rate"), QString::fromLatin1(clip.rate), QStringLiteral("--frames"),
            QString::number(clip.frames)});
    ASSERT_FALSE(movie.isEmpty());
    const QString format = QString::fromLatin1(clip.format);
    const QString folder = BVTest::makeTempFolder(QStringLiteral("sequence-") + format);
    QStringList encode {QStringLiteral("-i"), movie, QStringLiteral("-start_number"), QStringLiteral("0")};
    if (format == QLatin1String("jpg"))
        encode << QStringLiteral("-q:v") << QStringLiteral("1");
    if (format == QLatin1String("exr"))
        encode << QStringLiteral("-pix_fmt") << QStringLiteral("gbrpf32le") << QStringLiteral("-c:v")
               << QStringLiteral("exr");
    ASSERT_TRUE(BVTest::runFfmpeg(encode << folder + QStringLiteral("/frame_%04d.") + format));
    QStringList files;
    for (int64_t i = 0; i < clip.frames; ++i)
        files << folder + QString::asprintf("/frame_%04lld.", static_cast<long long>(i)) + format;
    ASSERT_TRUE(QFileInfo::exists(files.last()));

    ScreenDocument document;
    document.loadImageSequence(files, clip.fps);
    document.showWindows();
    ASSERT_TRUE(BVTest::waitFor([&] { return document.isReady(); }));
    const auto shown = [&] { return pictureIndex(document.playbackView()->currentImage()); };
    const auto expectShowing = [&](int64_t expected, const char *what) {
        SCOPED_TRACE(what);
        EXPECT_TRUE(BVTest::waitFor([&] { return shown() == expected; }, std::chrono::milliseconds(5000)));
        QTest::qWait(60); // a picture that only passes through is not taken for the result
        EXPECT_EQ(shown(), expected) << "picture";
        EXPECT_EQ(int64_t(document.mediaObject()->currentFrame()), expected) << "media frame";
    };
    const int64_t last = clip.frames - 1;
    expectShowing(0, "opened");
    document.goToEnd();
    expectShowing(last, "End");
    document.stepLeft();
    expectShowing(last - 1, "a step left after End");
    document.stepRight();
    expectShowing(last, "a step right back to the last frame");
    document.stepRight();
    expectShowing(last, "a step right at the last frame");
    document.goToStart();
    expectShowing(0, "Home");
    document.stepRight();
    expectShowing(1, "a step right after Home");
    document.goToEnd();
    expectShowing(last, "End again");
    document.close();
}

const SequenceClip sequences[] = {
    {"png", "24", 24, 30},
    {"jpg", "25", 25, 30},
    {"exr", "30000/1001", 29.97, 30},
    {"png", "30000/1001", 29.97, 30},
    {"jpg", "24", 24, 30},
    {"exr", "25", 25, 30},
};

std::string sequenceName(const ::testing::TestParamInfo<SequenceClip> &param)
{
    std::string name = std::string(param.param.format) + "_" + param.param.rate;
    for (char &c : name)
        if (c == '/')
            c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Formats, SequenceFrameTruth, ::testing::ValuesIn(sequences), sequenceName);

} // namespace
