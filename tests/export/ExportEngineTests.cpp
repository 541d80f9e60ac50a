#include "ExportTestSupport.h"

#include "common/BVTestSupport.h"
#include "export/BVAVExport.h"
#include "platform/media/MediaAsset.h"

#include <QFile>
#include <QJsonArray>
#include <QUrl>

#include <gtest/gtest.h>

using namespace ExportTest;

namespace {

std::shared_ptr<BVAVExport> engineFor(const QString &source, const QString &name)
{
    auto engine = BVAVExport::create();
    engine->asset = MediaAsset::assetWithURL(QUrl::fromLocalFile(source));
    engine->outputURL = BVTest::makeTempFolder(QStringLiteral("out")) + u'/' + name;
    return engine;
}

// Frames n to m of a clip at 25 fps as a range.
MediaTimeRange frames25(int first, int endBefore)
{
    return MediaTimeRange(MediaTime(first, 25), MediaTime(endBefore - first, 25));
}

QString tag(const QJsonObject &stream)
{
    return stream.value(QStringLiteral("codec_tag_string")).toString();
}

QString timecodeOf(const QJsonObject &probe)
{
    return stream(probe, QStringLiteral("data"))
        .value(QStringLiteral("tags"))
        .toObject()
        .value(QStringLiteral("timecode"))
        .toString();
}

} // namespace

// Every video codec writes its own sample description, and the pictures are the source's, in
// order, from the in point up to the out point.
TEST(ExportEngine, EachVideoCodecWritesItsTagAndTheInToOutFrames)
{
    const QString source = makeClip({});
    const struct
    {
        std::optional<QString> codec;
        const char *tag;
    } cases[] = {
        {MediaVideoCodec::h264, "avc1"},
        {MediaVideoCodec::proRes422, "apcn"},
        {MediaVideoCodec::proRes422HQ, "apch"},
        {MediaVideoCodec::proRes422LT, "apcs"},
        {MediaVideoCodec::proRes422Proxy, "apco"},
        {MediaVideoCodec::proRes4444, "ap4h"},
        {MediaVideoCodec::jpeg, "jpeg"},
        {std::nullopt, "avc1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tag);
        auto engine = engineFor(source, QStringLiteral("codec.mov"));
        engine->videoCodec = c.codec;
        engine->audioCodec = BVAVExport::audioCodecNone;
        engine->timeRange = frames25(31, 57); // within the third GOP of 12, not on a key frame
        const Outcome outcome = runExport(engine);
        ASSERT_TRUE(outcome.finished) << qPrintable(outcome.error);
        const QJsonObject info = probe(engine->outputURL);
        EXPECT_EQ(tag(stream(info, QStringLiteral("video"))), QLatin1String(c.tag));
        EXPECT_EQ(frameIndices(engine->outputURL), run(31, 56));
        EXPECT_EQ(stream(info, QStringLiteral("audio")), QJsonObject());
    }
}

TEST(ExportEngine, WholeMovieWithoutRangeKeepsEveryFrameAndTheSourceTimecode)
{
    auto engine = engineFor(makeClip({}), QStringLiteral("whole.mov"));
    const Outcome outcome = runExport(engine);
    ASSERT_TRUE(outcome.finished) << qPrintable(outcome.error);
    EXPECT_EQ(frameIndices(engine->outputURL), run(0, 99));
    EXPECT_EQ(timecodeOf(probe(engine->outputURL)), QStringLiteral("10:00:00:00"));
    // Progress is measured at the start of each sample: the last picture starts 1/100 before the end.
    ASSERT_FALSE(outcome.progress.empty());
    EXPECT_GE(outcome.progress.back(), 0.98);
    EXPECT_TRUE(std::is_sorted(outcome.progress.begin(), outcome.progress.end()));
}

// The in point's source timecode, not the source's start, even when the range does not start at 0.
TEST(ExportEngine, TimecodeTrackStartsAtTheInPointsSourceTimecode)
{
    const struct
    {
        ClipSpec clip;
        MediaTimeRange range;
        QString start; // what the document passes: the start advanced by the in point's frames
        bool drop;
        const char *expected;
        std::vector<int> frames;
    } cases[] = {
        {{}, frames25(30, 40), QStringLiteral("10:00:01:05"), false, "10:00:01:05", run(30, 39)},
        // 29.97 drop-frame: frame 1800 is the first of the second minute, labelled ;02.
        {{.rate = QStringLiteral("30000/1001"),
             .seconds = 62,
             .timecode = QStringLiteral("01:00:00;00"),
             .audioRate = 0},
            MediaTimeRange(MediaTime(1800 * 1001, 30000), MediaTime(5 * 1001, 30000)),
            QStringLiteral("01:01:00;02"), true, "01:01:00;02", run(1800, 1804)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected);
        for (bool copy : {false, true}) {
            auto engine = engineFor(makeClip(c.clip), QStringLiteral("tc.mov"));
            engine->timeRange = c.range;
            engine->timecodeStart = c.start;
            engine->dropFrame = c.drop;
            if (copy) {
                engine->videoCodec = std::nullopt;
                engine->audioCodec = BVAVExport::audioCodecCopy;
            }
            const Outcome outcome = runExport(engine);
            ASSERT_TRUE(outcome.finished) << qPrintable(outcome.error);
            EXPECT_EQ(timecodeOf(probe(engine->outputURL)), QLatin1String(c.expected)) << "copy " << copy;
            EXPECT_EQ(frameIndices(engine->outputURL), c.frames) << "copy " << copy;
        }
    }
}

TEST(ExportEngine, TimecodeSampleHoldsTheFrameNumberOfTheStart)
{
    EXPECT_EQ(BVAVExport::timecodeSampleFrameNumber(QStringLiteral("10:00:01:05"), 25, false), 900030);
    // 01:00:00;00 at 29.97 drop-frame: an hour holds 107892 frames.
    EXPECT_EQ(BVAVExport::timecodeSampleFrameNumber(QStringLiteral("01:00:00;00"), 29.97, true), 107892);
    EXPECT_EQ(BVAVExport::timecodeSampleFrameNumber(QStringLiteral("00:00:01:00"), 23.976, false), 24);
    EXPECT_EQ(BVAVExport::timecodeSampleFrameNumber(QStringLiteral("10:00:01"), 25, false), std::nullopt);
}

// A trim copies from the key frame before the in point; the edit list starts the movie on the in
// point's frame and ends it before the out point although later pictures are stored.
TEST(ExportEngine, TrimByCopyShowsExactlyTheInToOutFrames)
{
    const QString source = makeClip({});
    const MediaTimeRange ranges[] = {frames25(31, 57), frames25(12, 24), frames25(5, 6), frames25(90, 100)};
    for (const MediaTimeRange &range : ranges) {
        const int first = int(range.start().value());
        const int end = int(range.end().value());
        SCOPED_TRACE(first);
        auto engine = engineFor(source, QStringLiteral("trim.mov"));
        engine->timeRange = range;
        engine->videoCodec = std::nullopt;
        engine->audioCodec = BVAVExport::audioCodecCopy;
        const Outcome outcome = runExport(engine);
        ASSERT_TRUE(outcome.finished) << qPrintable(outcome.error);
        EXPECT_EQ(frameIndices(engine->outputURL), run(first, end - 1));
        const QJsonObject info = probe(engine->outputURL);
        EXPECT_EQ(tag(stream(info, QStringLiteral("audio"))), QStringLiteral("mp4a"));
        const double audio
            = stream(info, QStringLiteral("audio")).value(QStringLiteral("duration")).toString().toDouble();
        EXPECT_NEAR(audio, (end - first) / 25.0, 0.03);
    }
}

// A transport stream whose clock starts at ten hours: the in and out points count from its first
// picture, as the player shows them, whether the pictures are encoded again or copied.
TEST(ExportEngine, TransportStreamRangesCountFromTheFirstPicture)
{
    const QString source = makeClip({.timecode = {}, .transportClockStart = 36000});
    const struct
    {
        std::optional<QString> video;
        int32_t audio;
        const char *name;
    } modes[] = {
        {MediaVideoCodec::h264, BVAVExport::audioFormatLinearPCM, "H.264"},
        {MediaVideoCodec::proRes422HQ, BVAVExport::audioFormatLinearPCM, "ProRes"},
        {std::nullopt, BVAVExport::audioCodecCopy, "copy"},
    };
    for (const auto &mode : modes) {
        SCOPED_TRACE(mode.name);
        auto engine = engineFor(source, QStringLiteral("ts.mov"));
        engine->videoCodec = mode.video;
        engine->audioCodec = mode.audio;
        engine->timeRange = frames25(30, 40);
        const Outcome outcome = runExport(engine);
        ASSERT_TRUE(outcome.finished) << qPrintable(outcome.error);
        EXPECT_EQ(frameIndices(engine->outputURL), run(30, 39));
        const QJsonObject info = probe(engine->outputURL);
        const double audio
            = stream(info, QStringLiteral("audio")).value(QStringLiteral("duration")).toString().toDouble();
        EXPECT_NEAR(audio, 0.4, 0.03);
    }

    // Without a range: every picture, and a movie as long as the clip (not ten hours more).
    auto whole = engineFor(source, QStringLiteral("ts-whole.mov"));
    const Outcome outcome = runExport(whole);
    ASSERT_TRUE(outcome.finished) << qPrintable(outcome.error);
    EXPECT_EQ(frameIndices(whole->outputURL), run(0, 99));
    const QJsonObject format = probe(whole->outputURL).value(QStringLiteral("format")).toObject();
    EXPECT_NEAR(format.value(QStringLiteral("duration")).toString().toDouble(), 4.0, 0.1);
    ASSERT_FALSE(outcome.progress.empty());
    EXPECT_GE(outcome.progress.back(), 0.98);
}

TEST(ExportEngine, PictureSizeChangesOnlyWhenBothSidesDiffer)
{
    const QString source = makeClip({.seconds = 0.2, .size = QStringLiteral("1920x1080"), .audioRate = 0});
    const struct
    {
        QSize requested;
        int width;
        int height;
    } cases[] = {
        {{1280, 720}, 1280, 720}, {{1920, 800}, 1920, 1080}, {{0, 0}, 1920, 1080}, {{1280, 0}, 1920, 1080}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.width);
        auto engine = engineFor(source, QStringLiteral("size.mov"));
        engine->videoCodec = MediaVideoCodec::proRes422Proxy;
        engine->videoFrameSize = c.requested;
        const Outcome outcome = runExport(engine);
        ASSERT_TRUE(outcome.finished) << qPrintable(outcome.error);
        const QJsonObject video = stream(probe(engine->outputURL), QStringLiteral("video"));
        EXPECT_EQ(video.value(QStringLiteral("width")).toInt(), c.width);
        EXPECT_EQ(video.value(QStringLiteral("height")).toInt(), c.height);
    }
}

TEST(ExportEngine, AudioFormatsRatesDepthsAndLayouts)
{
    const QString source = makeClip({.seconds = 1, .audioRate = 96000});
    const struct
    {
        int32_t codec;
        uint32_t rate;
        int bits;
        bool little;
        bool floating;
        uint32_t layout;
        const char *tag;
        int writtenRate;
        int writtenBits;
        int channels;
        const char *channelLayout;
    } cases[] = {
        {BVAVExport::audioFormatLinearPCM, 48000, 16, true, false, 0x650002, "sowt", 48000, 16, 2, "stereo"},
        {BVAVExport::audioFormatLinearPCM, 48000, 16, false, false, 0x650002, "twos", 48000, 16, 2, "stereo"},
        {BVAVExport::audioFormatLinearPCM, 44100, 24, false, false, 0x640001, "in24", 44100, 24, 1, "mono"},
        {BVAVExport::audioFormatLinearPCM, 48000, 16, true, true, 0x650002, "fl32", 48000, 32, 2, "stereo"},
        {BVAVExport::audioFormatLinearPCM, 4000, 16, true, false, 0x650002, "sowt", 8000, 16, 2, "stereo"},
        {BVAVExport::audioFormatLinearPCM, 48000, 16, false, false, 0x790006, "twos", 48000, 16, 6,
            "5.1(side)"},
        {BVAVExport::audioFormatAAC, 96000, 16, true, false, 0x650002, "mp4a", 48000, 0, 2, "stereo"},
        {BVAVExport::audioFormatAAC, 48000, 16, true, false, 0x7C0006, "mp4a", 48000, 0, 6, ""},
        {BVAVExport::audioFormatAppleLossless, 48000, 24, true, false, 0x650002, "alac", 48000, 24, 2,
            "stereo"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tag + std::string(" ") + std::to_string(c.rate) + " " + c.channelLayout);
        auto engine = engineFor(source, QStringLiteral("audio.mov"));
        engine->videoCodec = std::nullopt;
        engine->audioCodec = c.codec;
        engine->audioRate = c.rate;
        engine->audioSampleSize = c.bits;
        engine->audioLittleEndian = c.little;
        engine->audioFloatingPoint = c.floating;
        engine->audioLayout = c.layout;
        engine->audioChannelCount = c.layout & 0xff;
        const Outcome outcome = runExport(engine);
        ASSERT_TRUE(outcome.finished) << qPrintable(outcome.error);
        const QJsonObject audio = stream(probe(engine->outputURL), QStringLiteral("audio"));
        EXPECT_EQ(tag(audio), QLatin1String(c.tag));
        EXPECT_EQ(audio.value(QStringLiteral("sample_rate")).toString().toInt(), c.writtenRate);
        const int bits = audio.value(QStringLiteral("bits_per_sample")).toInt();
        const int rawBits = audio.value(QStringLiteral("bits_per_raw_sample")).toString().toInt();
        if (c.writtenBits) {
            EXPECT_EQ(bits ? bits : rawBits, c.writtenBits);
        }
        EXPECT_EQ(audio.value(QStringLiteral("channels")).toInt(), c.channels);
        // AAC carries its layout in its own configuration, which the tool reports only as a count.
        if (*c.channelLayout) {
            EXPECT_EQ(
                audio.value(QStringLiteral("channel_layout")).toString(), QLatin1String(c.channelLayout));
        }
        const double seconds = audio.value(QStringLiteral("duration")).toString().toDouble();
        EXPECT_NEAR(seconds, 1.0, 0.03);
    }
}

// A movie without video has only the audio stream: its progress still reaches 100 %.
TEST(ExportEngine, AudioOnlyProgressReachesOne)
{
    auto engine
        = engineFor(makeClip({.seconds = 2, .timecode = {}, .video = false}), QStringLiteral("a.mov"));
    const Outcome outcome = runExport(engine);
    ASSERT_TRUE(outcome.finished) << qPrintable(outcome.error);
    ASSERT_FALSE(outcome.progress.empty());
    EXPECT_GE(outcome.progress.back(), 0.98);
    EXPECT_EQ(tag(stream(probe(engine->outputURL), QStringLiteral("audio"))), QStringLiteral("sowt"));
}

TEST(ExportEngine, CancelRemovesThePartialFileAndEndsAsFinished)
{
    auto engine
        = engineFor(makeClip({.seconds = 10, .size = QStringLiteral("320x180")}), QStringLiteral("c.mov"));
    engine->videoCodec = MediaVideoCodec::proRes422HQ;
    Outcome outcome;
    struct Recorder : BVAVExportDelegate
    {
        Outcome *outcome;
        BVAVExport *engine;
        void avExportProgress(BVAVExport *, double progress) override
        {
            outcome->progress.push_back(progress);
            if (outcome->progress.size() == 2)
                engine->cancel();
        }
        void avExportFinished(BVAVExport *) override { outcome->finished = true; }
        void avExportFailed(BVAVExport *, const BVError &) override { outcome->failed = true; }
    } recorder;
    recorder.outcome = &outcome;
    recorder.engine = engine.get();
    engine->setDelegate(&recorder);
    engine->startExport();
    ASSERT_TRUE(
        BVTest::waitFor([&] { return outcome.finished || outcome.failed; }, std::chrono::seconds(60)));
    engine->setDelegate(nullptr);
    EXPECT_TRUE(outcome.finished);
    EXPECT_FALSE(outcome.failed);
    EXPECT_LT(outcome.progress.back(), 0.9);
    EXPECT_FALSE(QFile::exists(engine->outputURL));
}

TEST(ExportEngine, FailuresReachTheDelegate)
{
    auto missing = engineFor(QStringLiteral("/nonexistent/clip.mov"), QStringLiteral("m.mov"));
    const Outcome noSource = runExport(missing);
    EXPECT_TRUE(noSource.failed);
    EXPECT_FALSE(QFile::exists(missing->outputURL));

    auto unwritable = engineFor(makeClip({}), QStringLiteral("x.mov"));
    unwritable->outputURL = QStringLiteral("/nonexistent-folder/out.mov");
    const Outcome noFolder = runExport(unwritable);
    EXPECT_TRUE(noFolder.failed);
    EXPECT_FALSE(noFolder.error.isEmpty());
}

TEST(ExportEngine, AudioSettingsClampRatesAndForceFloatDepth)
{
    auto engine = BVAVExport::create();
    const struct
    {
        int32_t codec;
        uint32_t rate;
        bool floating;
        int size;
        int expectedRate;
        int expectedBits;
    } cases[] = {
        {BVAVExport::audioFormatAAC, 96000, false, 16, 48000, 16},
        {BVAVExport::audioFormatLinearPCM, 4000, false, 16, 8000, 16},
        {BVAVExport::audioFormatLinearPCM, 400000, false, 24, 192000, 24},
        {BVAVExport::audioFormatLinearPCM, 96000, true, 16, 96000, 32},
        {BVAVExport::audioFormatAppleLossless, 44100, true, 24, 44100, 24},
    };
    for (const auto &c : cases) {
        engine->audioCodec = c.codec;
        engine->audioRate = c.rate;
        engine->audioFloatingPoint = c.floating;
        engine->audioSampleSize = c.size;
        const std::optional<MediaAudioSettings> settings = engine->audioSettings();
        ASSERT_TRUE(settings);
        EXPECT_EQ(settings->sampleRate, c.expectedRate);
        EXPECT_EQ(settings->bitDepth, c.expectedBits);
    }
    engine->audioCodec = BVAVExport::audioCodecCopy;
    EXPECT_FALSE(engine->audioSettings());
}
