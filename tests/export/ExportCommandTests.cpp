#include "ExportTestSupport.h"

#include "app/commandline/BVExportCommand.h"
#include "common/BVTestSupport.h"

#include <QFile>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace ExportTest;

namespace {

QString outputPath(const QString &name)
{
    return BVTest::makeTempFolder(QStringLiteral("cli")) + u'/' + name;
}

QString timecodeOf(const QString &path)
{
    return stream(probe(path), QStringLiteral("data"))
        .value(QStringLiteral("tags"))
        .toObject()
        .value(QStringLiteral("timecode"))
        .toString();
}

} // namespace

// Typed source timecodes, drop-frame included, become the in point's frame and its timecode: at
// 29.97 drop-frame 01:01:00;02 is 1800 frames after 01:00:00;00 (the labels ;00 and ;01 of the
// second minute do not exist).
TEST(ExportCommand, InAndOutTimecodesSelectTheFramesAndStampTheInPoint)
{
    const QString dropFrame = makeClip({.rate = QStringLiteral("30000/1001"),
        .seconds = 62,
        .timecode = QStringLiteral("01:00:00;00"),
        .audioRate = 0});
    const QString fps25 = makeClip({});
    const struct
    {
        BVExportCommand::Mode mode;
        QString source;
        QStringList options;
        const char *timecode;
        std::vector<int> frames;
    } cases[] = {
        {BVExportCommand::Mode::Export, dropFrame,
            {QStringLiteral("--in"), QStringLiteral("01:01:00;02"), QStringLiteral("--out"),
                QStringLiteral("01:01:00;07")},
            "01:01:00;02", run(1800, 1804)},
        {BVExportCommand::Mode::Trim, dropFrame,
            {QStringLiteral("--in"), QStringLiteral("01:00:59;28"), QStringLiteral("--out"),
                QStringLiteral("01:01:00;03")},
            "01:00:59;28", run(1798, 1800)}, // ;28, ;29 and ;02
        {BVExportCommand::Mode::Export, fps25,
            {QStringLiteral("--in"), QStringLiteral("10:00:01:07"), QStringLiteral("--out"),
                QStringLiteral("10:00:02:00"), QStringLiteral("--video"), QStringLiteral("prores422"),
                QStringLiteral("--audio"), QStringLiteral("aac")},
            "10:00:01:07", run(32, 49)},
        {BVExportCommand::Mode::Export, fps25, {QStringLiteral("--video"), QStringLiteral("copy")},
            "10:00:00:00", run(0, 99)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.timecode);
        const QString out = outputPath(QStringLiteral("cli.mov"));
        ASSERT_EQ(BVExportCommand::run(c.mode, QStringList {c.source, out} + c.options), 0);
        EXPECT_EQ(timecodeOf(out), QLatin1String(c.timecode));
        EXPECT_EQ(frameIndices(out), c.frames);
    }
}

TEST(ExportCommand, DefaultsAreThoseOfThePanel)
{
    const QString out = outputPath(QStringLiteral("defaults.mov"));
    ASSERT_EQ(BVExportCommand::run(BVExportCommand::Mode::Export, {makeClip({}), out}), 0);
    const QJsonObject info = probe(out);
    const QJsonObject video = stream(info, QStringLiteral("video"));
    const QJsonObject audio = stream(info, QStringLiteral("audio"));
    EXPECT_EQ(video.value(QStringLiteral("codec_tag_string")).toString(), QStringLiteral("avc1"));
    EXPECT_EQ(audio.value(QStringLiteral("codec_tag_string")).toString(), QStringLiteral("sowt"));
    EXPECT_EQ(audio.value(QStringLiteral("sample_rate")).toString(), QStringLiteral("48000"));
    EXPECT_EQ(audio.value(QStringLiteral("channels")).toInt(), 2);
    EXPECT_EQ(audio.value(QStringLiteral("bits_per_sample")).toInt(), 16);
}

TEST(ExportCommand, BadUsageAnswersTwoAndFailuresOne)
{
    const QString clip = makeClip({});
    const QString out = outputPath(QStringLiteral("bad.mov"));
    const struct
    {
        BVExportCommand::Mode mode;
        QStringList arguments;
        int status;
    } cases[] = {
        {BVExportCommand::Mode::Export, {clip}, 2},
        {BVExportCommand::Mode::Export, {clip, out, QStringLiteral("--in"), QStringLiteral("10:00:01:00")},
            2},
        {BVExportCommand::Mode::Export, {clip, out, QStringLiteral("--video"), QStringLiteral("vp9")}, 2},
        {BVExportCommand::Mode::Export, {clip, out, QStringLiteral("--size"), QStringLiteral("big")}, 2},
        {BVExportCommand::Mode::Export,
            {clip, out, QStringLiteral("--in"), QStringLiteral("10:00:02:00"), QStringLiteral("--out"),
                QStringLiteral("10:00:01:00")},
            2},
        {BVExportCommand::Mode::Export,
            {clip, out, QStringLiteral("--in"), QStringLiteral("ten"), QStringLiteral("--out"),
                QStringLiteral("10:00:01:00")},
            2},
        {BVExportCommand::Mode::Trim, {clip, out}, 2},
        {BVExportCommand::Mode::Trim,
            {clip, out, QStringLiteral("--in"), QStringLiteral("10:00:00:00"), QStringLiteral("--out"),
                QStringLiteral("10:00:01:00"), QStringLiteral("--video"), QStringLiteral("h264")},
            2},
        {BVExportCommand::Mode::Export, {QStringLiteral("/nonexistent.mov"), out}, 1},
        {BVExportCommand::Mode::Export,
            {clip, out, QStringLiteral("--in"), QStringLiteral("10:00:01:00"), QStringLiteral("--out"),
                QStringLiteral("10:01:00:00")},
            1},
        {BVExportCommand::Mode::Export, {clip, clip}, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.join(u' ').toStdString());
        EXPECT_EQ(BVExportCommand::run(c.mode, c.arguments), c.status);
        EXPECT_FALSE(QFile::exists(out));
    }
    EXPECT_TRUE(QFile::exists(clip));
}
