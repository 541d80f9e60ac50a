// `reelmark --probe`: one line of JSON per file (or per image sequence), an "error" line for a file
// that cannot be probed while the others still are, and a non-zero exit status then.
#include "app/commandline/BVProbeCommand.h"

#include "common/BVTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

struct ProbeResult
{
    int status = -1;
    QList<QJsonObject> lines;
};

ProbeResult probe(const QStringList &arguments)
{
    ProbeResult result;
    FILE *out = std::tmpfile();
    result.status = BVProbeCommand::run(arguments, out);
    std::rewind(out);
    QByteArray text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, out)) > 0)
        text.append(buffer, qsizetype(n));
    std::fclose(out);
    for (const QByteArray &line : text.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.constData();
        result.lines.append(document.object());
    }
    return result;
}

} // namespace

TEST(ProbeCommand, DescribesMoviesAudioAndErrorsLineByLine)
{
    const QString movie
        = BVTest::sampleMedia(QStringLiteral("df2997"), {QStringLiteral("--duration"), QStringLiteral("3")});
    const QString audio = BVTest::sampleMedia(QStringLiteral("wav"));
    const QString missing = BVTest::makeTempFolder() + QStringLiteral("/missing.mov");
    const ProbeResult result = probe({movie, missing, audio});
    EXPECT_EQ(result.status, 1);
    ASSERT_EQ(result.lines.size(), 3);

    const QJsonObject m = result.lines[0];
    EXPECT_EQ(m.value(QStringLiteral("file")).toString(), movie);
    EXPECT_EQ(m.value(QStringLiteral("kind")).toString(), QStringLiteral("movie"));
    EXPECT_NEAR(m.value(QStringLiteral("fps")).toDouble(), 29.97, 0.001);
    EXPECT_EQ(m.value(QStringLiteral("timebase")).toInt(), 30);
    EXPECT_TRUE(m.value(QStringLiteral("ntsc")).toBool());
    EXPECT_TRUE(m.value(QStringLiteral("dropFrame")).toBool());
    EXPECT_EQ(m.value(QStringLiteral("timecodeStart")).toString(), QStringLiteral("01:00:00;00"));
    EXPECT_EQ(m.value(QStringLiteral("frameCount")).toInt(), 90);
    EXPECT_EQ(m.value(QStringLiteral("naturalWidth")).toDouble(), 1280);
    EXPECT_EQ(m.value(QStringLiteral("naturalHeight")).toDouble(), 720);
    const QJsonObject duration = m.value(QStringLiteral("duration")).toObject();
    EXPECT_EQ(duration.value(QStringLiteral("flags")).toInt(), 1);
    EXPECT_NEAR(duration.value(QStringLiteral("value")).toDouble()
            / duration.value(QStringLiteral("timescale")).toDouble(),
        3.0, 0.1);
    EXPECT_TRUE(duration.contains(QStringLiteral("epoch")));
    const QJsonArray chapters = m.value(QStringLiteral("chapters")).toArray();
    ASSERT_EQ(chapters.size(), 3);
    EXPECT_EQ(chapters[2].toObject().value(QStringLiteral("title")).toString(), QStringLiteral("Chapter 3"));
    EXPECT_NEAR(chapters[2].toObject().value(QStringLiteral("time")).toDouble(), 2.0, 0.001);
    EXPECT_FALSE(m.value(QStringLiteral("audioOnly")).toBool());
    // A movie at an even rate says so.
    EXPECT_EQ(m.value(QStringLiteral("variableFrameRate")), QJsonValue(false));
    EXPECT_EQ(m.value(QStringLiteral("averageFps")), m.value(QStringLiteral("fps")));
    EXPECT_TRUE(m.value(QStringLiteral("readable")).toBool());
    EXPECT_TRUE(m.value(QStringLiteral("playable")).toBool());

    EXPECT_EQ(result.lines[1].value(QStringLiteral("file")).toString(), missing);
    EXPECT_FALSE(result.lines[1].value(QStringLiteral("error")).toString().isEmpty());
    EXPECT_FALSE(result.lines[1].contains(QStringLiteral("kind")));

    const QJsonObject a = result.lines[2];
    EXPECT_EQ(a.value(QStringLiteral("kind")).toString(), QStringLiteral("audio"));
    EXPECT_TRUE(a.value(QStringLiteral("audioOnly")).toBool());
    EXPECT_EQ(a.value(QStringLiteral("naturalWidth")).toDouble(), 0);
    EXPECT_EQ(a.value(QStringLiteral("timecodeStart")).toString(), QStringLiteral("00:00:00:00"));
}

TEST(ProbeCommand, ImageFilesWithARateAreOneSequenceInTheOrderGiven)
{
    const QString first = BVTest::sampleMedia(QStringLiteral("png"),
        {QStringLiteral("--frames"), QStringLiteral("12"), QStringLiteral("--size"),
            QStringLiteral("320x180")});
    const QString folder = QFileInfo(first).path();
    QStringList files;
    for (int i = 11; i >= 0; --i)
        files.append(folder + QStringLiteral("/frame_%1.png").arg(i, 4, 10, QLatin1Char('0')));
    const QString unreadable = BVTest::makeTempFolder() + QStringLiteral("/garbage.mov");
    ASSERT_TRUE(BVTest::writeFile(unreadable, QByteArray(1000, 'z')));

    const ProbeResult result = probe(
        QStringList {QStringLiteral("--fps"), QStringLiteral("25")} + files + QStringList {unreadable});
    EXPECT_EQ(result.status, 1);
    ASSERT_EQ(result.lines.size(), 2);
    const QJsonObject s = result.lines[0];
    EXPECT_EQ(s.value(QStringLiteral("kind")).toString(), QStringLiteral("imageSequence"));
    EXPECT_EQ(s.value(QStringLiteral("file")).toString(), files.first());
    EXPECT_EQ(s.value(QStringLiteral("frameCount")).toInt(), 12);
    EXPECT_EQ(s.value(QStringLiteral("fps")).toDouble(), 25);
    EXPECT_EQ(s.value(QStringLiteral("naturalWidth")).toDouble(), 320);
    EXPECT_EQ(s.value(QStringLiteral("timecodeStart")).toString(), QStringLiteral("00:00:00:00"));
    const QJsonObject duration = s.value(QStringLiteral("duration")).toObject();
    EXPECT_EQ(duration.value(QStringLiteral("timescale")).toInt(), 2500);
    EXPECT_EQ(duration.value(QStringLiteral("value")).toInt(), 1200);
    EXPECT_TRUE(result.lines[1].contains(QStringLiteral("error")));

    EXPECT_EQ(probe({QStringLiteral("--fps")}).status, 2);
    EXPECT_EQ(probe({QStringLiteral("--fps"), QStringLiteral("0"), first}).status, 2);
    EXPECT_EQ(probe({}).status, 2);
}

TEST(ProbeCommand, StartTimecodeComesFromATimecodeTagWithoutATimecodeTrack)
{
    struct Case
    {
        const char *container;
        const char *rate;
        const char *size;
        const char *tc;
        bool dropFrame;
        int timebase;
    };
    const Case cases[] = {
        {"mxf", "30000/1001", "720x480", "10:00:00;00", true, 30},
        {"mxf", "25", "720x576", "09:59:50:12", false, 25},
        {"tagmov", "24000/1001", "64x16", "01:00:10:05", false, 24},
        {"tagmov", "30000/1001", "64x16", "01:02:03;04", true, 30},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.container) + " " + c.tc);
        const QString file = BVTest::sampleMedia(QStringLiteral("barcode"),
            {QStringLiteral("--container"), QString::fromLatin1(c.container), QStringLiteral("--rate"),
                QString::fromLatin1(c.rate), QStringLiteral("--size"), QString::fromLatin1(c.size),
                QStringLiteral("--tc"), QString::fromLatin1(c.tc), QStringLiteral("--duration"),
                QStringLiteral("1")});
        ASSERT_FALSE(file.isEmpty());
        const ProbeResult result = probe({file});
        EXPECT_EQ(result.status, 0);
        ASSERT_EQ(result.lines.size(), 1);
        const QJsonObject m = result.lines[0];
        EXPECT_EQ(m.value(QStringLiteral("timecodeStart")).toString(), QString::fromLatin1(c.tc));
        EXPECT_EQ(m.value(QStringLiteral("dropFrame")).toBool(), c.dropFrame);
        EXPECT_EQ(m.value(QStringLiteral("timebase")).toInt(), c.timebase);
    }
}

namespace {

// ffprobe's view of the first video stream: start, duration and the frames it decodes.
struct StreamFigures
{
    double start = -1;
    double duration = -1;
    qint64 frames = -1;
};

StreamFigures ffprobeFigures(const QString &path)
{
    const QJsonObject stream = QJsonDocument::fromJson(
        BVTest::runTool(QStringLiteral("ffprobe"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                QStringLiteral("v:0"), QStringLiteral("-count_frames"), QStringLiteral("-show_entries"),
                QStringLiteral("stream=start_time,duration,nb_read_frames"), QStringLiteral("-of"),
                QStringLiteral("json"), path}))
                                   .object()
                                   .value(QStringLiteral("streams"))
                                   .toArray()
                                   .at(0)
                                   .toObject();
    StreamFigures figures;
    figures.start = stream.value(QStringLiteral("start_time")).toString().toDouble();
    figures.duration = stream.value(QStringLiteral("duration")).toString().toDouble();
    figures.frames = stream.value(QStringLiteral("nb_read_frames")).toString().toLongLong();
    return figures;
}

double seconds(const QJsonObject &time)
{
    return time.value(QStringLiteral("value")).toDouble()
        / time.value(QStringLiteral("timescale")).toDouble();
}

} // namespace

TEST(ProbeCommand, TransportAndProgramStreamsCountFromTheirFirstPicture)
{
    const QString folder = BVTest::makeTempFolder(QStringLiteral("ts"));
    struct Case
    {
        const char *name;
        QStringList output;
    };
    const QStringList mpeg2 {QStringLiteral("-c:v"), QStringLiteral("mpeg2video"), QStringLiteral("-q:v"),
        QStringLiteral("2"), QStringLiteral("-c:a"), QStringLiteral("mp2")};
    const Case cases[] = {
        {"ten-hour clock.ts",
            mpeg2
                + QStringList {QStringLiteral("-output_ts_offset"), QStringLiteral("36000"),
                    QStringLiteral("-f"), QStringLiteral("mpegts")}},
        {"plain.ts", mpeg2 + QStringList {QStringLiteral("-f"), QStringLiteral("mpegts")}},
        {"program.mpg", mpeg2 + QStringList {QStringLiteral("-f"), QStringLiteral("vob")}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = folder + QLatin1Char('/') + QLatin1String(c.name);
        BVTest::runTool(QStringLiteral("ffmpeg"),
            QStringList {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                QStringLiteral("testsrc2=size=320x180:rate=25"), QStringLiteral("-f"),
                QStringLiteral("lavfi"), QStringLiteral("-i"),
                QStringLiteral("sine=frequency=440:sample_rate=48000"), QStringLiteral("-t"),
                QStringLiteral("4")}
                + c.output + QStringList {path});
        const StreamFigures expected = ffprobeFigures(path);
        ASSERT_GT(expected.frames, 0);
        const ProbeResult result = probe({path});
        ASSERT_EQ(result.status, 0);
        ASSERT_EQ(result.lines.size(), 1);
        const QJsonObject m = result.lines[0];
        EXPECT_EQ(m.value(QStringLiteral("frameCount")).toInteger(), expected.frames);
        EXPECT_NEAR(seconds(m.value(QStringLiteral("duration")).toObject()), expected.duration, 1.0 / 25);
        // Where the first picture stands on the container's clock: ffprobe's start of the stream.
        EXPECT_NEAR(m.value(QStringLiteral("containerStart")).toDouble(), expected.start, 0.001);
    }
}

TEST(ProbeCommand, AStillImageIsASequenceOfOneFrameAndUnreadableImagesAnswerAtOnce)
{
    const QString folder = BVTest::makeTempFolder(QStringLiteral("still"));
    const QString still = folder + QStringLiteral("/still.png");
    QImage image(200, 100, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    ASSERT_TRUE(image.save(still));
    ProbeResult result = probe({still});
    EXPECT_EQ(result.status, 0);
    ASSERT_EQ(result.lines.size(), 1);
    EXPECT_EQ(result.lines[0].value(QStringLiteral("kind")).toString(), QStringLiteral("imageSequence"));
    EXPECT_EQ(result.lines[0].value(QStringLiteral("frameCount")).toInt(), 1);
    EXPECT_EQ(result.lines[0].value(QStringLiteral("naturalWidth")).toDouble(), 200);

    QStringList broken;
    for (int i = 0; i < 3; ++i) {
        broken.append(folder + QString::asprintf("/broken_%04d.png", i));
        ASSERT_TRUE(BVTest::writeFile(broken.last(), QByteArray("not a picture")));
    }
    QElapsedTimer clock;
    clock.start();
    result = probe(QStringList {QStringLiteral("--fps"), QStringLiteral("24")} + broken);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(result.status, 1);
    ASSERT_EQ(result.lines.size(), 1);
    EXPECT_TRUE(result.lines[0].contains(QStringLiteral("error")));
}

TEST(ProbeCommand, AGapInANumberedSequenceIsCountedAndNamed)
{
    const QString folder = BVTest::makeTempFolder(QStringLiteral("gap"));
    QStringList files;
    for (const int n : {10, 11, 12, 14, 15}) {
        QImage image(32, 18, QImage::Format_RGB32);
        image.fill(QColor(n, n, n));
        files.append(folder + QString::asprintf("/shot_%04d.png", n));
        ASSERT_TRUE(image.save(files.last()));
    }
    const ProbeResult result = probe(QStringList {QStringLiteral("--fps"), QStringLiteral("25")} + files);
    ASSERT_EQ(result.lines.size(), 1);
    const QJsonObject s = result.lines[0];
    EXPECT_EQ(s.value(QStringLiteral("frameCount")).toInt(), 6);
    const QJsonArray missing = s.value(QStringLiteral("missingFrames")).toArray();
    ASSERT_EQ(missing.size(), 1);
    EXPECT_EQ(missing[0].toObject().value(QStringLiteral("frame")).toInt(), 3);
    EXPECT_EQ(missing[0].toObject().value(QStringLiteral("number")).toInt(), 13);
}

TEST(ProbeCommand, VariableRateFootageSaysSoAndCountsItsRealFrames)
{
    // 40 frames on a 30 fps clock, every fourth held for three frames of it: 2 s in all.
    const QString path = BVTest::makeTempFolder(QStringLiteral("vfr")) + QStringLiteral("/held.mov");
    BVTest::runTool(QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
            QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("testsrc2=size=64x32:rate=30"),
            QStringLiteral("-vf"), QStringLiteral("setpts='(N+2*floor(N/4))/30/TB'"),
            QStringLiteral("-frames:v"), QStringLiteral("40"), QStringLiteral("-fps_mode"),
            QStringLiteral("passthrough"), QStringLiteral("-c:v"), QStringLiteral("libx264"),
            QStringLiteral("-preset"), QStringLiteral("ultrafast"), QStringLiteral("-pix_fmt"),
            QStringLiteral("yuv420p"), path});
    const ProbeResult result = probe({path});
    EXPECT_EQ(result.status, 0);
    ASSERT_EQ(result.lines.size(), 1);
    const QJsonObject m = result.lines[0];
    EXPECT_EQ(m.value(QStringLiteral("variableFrameRate")), QJsonValue(true));
    EXPECT_EQ(m.value(QStringLiteral("fps")).toDouble(), 30);
    EXPECT_EQ(m.value(QStringLiteral("frameCount")).toInt(), 40);

    // The average rate counts the frames that decode over the duration, as ffprobe finds them.
    const QStringList fields = QString::fromUtf8(
        BVTest::runTool(QStringLiteral("ffprobe"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
                QStringLiteral("-select_streams"), QStringLiteral("v:0"), QStringLiteral("-show_entries"),
                QStringLiteral("stream=nb_read_frames:format=duration"), QStringLiteral("-of"),
                QStringLiteral("default=nw=1:nk=1"), path}))
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(fields.size(), 2);
    const double frames = fields.at(0).toDouble();
    const double seconds = fields.at(1).toDouble();
    ASSERT_GT(seconds, 0);
    EXPECT_EQ(frames, 40);
    EXPECT_NEAR(m.value(QStringLiteral("averageFps")).toDouble(), frames / seconds, 0.02 * frames / seconds);
}

namespace {

// A 48 kHz mono 16-bit Broadcast WAV, written byte by byte: fmt, bext with the time reference, an
// optional iXML chunk as field recorders write it, and a tenth of a second of silence.
QString recorderWave(const QString &name, uint64_t timeReference, const QByteArray &ixml)
{
    const auto le = [](uint64_t value, int bytes) {
        QByteArray out;
        for (int i = 0; i < bytes; ++i)
            out.append(char((value >> (8 * i)) & 0xFF));
        return out;
    };
    const auto chunk = [&](const QByteArray &id, const QByteArray &data) {
        QByteArray out = id + le(uint64_t(data.size()), 4) + data;
        if (data.size() % 2)
            out.append('\0');
        return out;
    };
    const QByteArray format = le(1, 2) + le(1, 2) + le(48000, 4) + le(96000, 4) + le(2, 2) + le(16, 2);
    QByteArray bext(602, '\0');
    bext.replace(338, 8, le(timeReference, 8));
    QByteArray body = "WAVE" + chunk("fmt ", format) + chunk("bext", bext);
    if (!ixml.isEmpty())
        body += chunk("iXML", ixml);
    body += chunk("data", QByteArray(9600, '\0'));
    const QString path = BVTest::makeTempFolder(QStringLiteral("recorder")) + u'/' + name;
    EXPECT_TRUE(BVTest::writeFile(path, "RIFF" + le(uint64_t(body.size()), 4) + body));
    return path;
}

QByteArray ixmlWith(const char *rate, const char *flag)
{
    return QByteArray(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<BWFXML><IXML_VERSION>1.61</IXML_VERSION>"
               "<PROJECT>Day 12</PROJECT><SPEED><NOTE>-</NOTE><MASTER_SPEED>")
        + rate + "</MASTER_SPEED><CURRENT_SPEED>" + rate + "</CURRENT_SPEED><TIMECODE_RATE>" + rate
        + "</TIMECODE_RATE><TIMECODE_FLAG>" + flag + "</TIMECODE_FLAG></SPEED></BWFXML>";
}

} // namespace

// A recorder's iXML names the rate and counting its timecode was written in: they win over the
// "defaultAudioTC" setting, which stays the fallback. Start labels are computed here from the time
// reference: 10:00:00;00 at 29.97 drop-frame is frame 10 x 107,892 = 1,078,920 (09:59:24:00 counted
// without drops, 35,964 s of 30 frames), that is
// 1,078,920 x 1001 / 30000 s, or 1,727,998,272 samples at 48 kHz.
TEST(ProbeCommand, ARecordersIxmlRateWinsOverTheAudioSetting)
{
    struct Case
    {
        const char *name;
        uint64_t timeReference;
        QByteArray ixml;
        const char *start;
        double fps;
        bool dropFrame;
        const char *source;
    };
    const Case cases[] = {
        {"df.wav", 1727998272, ixmlWith("30000/1001", "DF"), "10:00:00;00", 29.97, true, "iXML"},
        {"ndf.wav", 1727998272, ixmlWith("30000/1001", "NDF"), "09:59:24:00", 29.97, false, "iXML"},
        {"pal.wav", uint64_t(36000) * 48000, ixmlWith("25/1", "NDF"), "10:00:00:00", 25, false, "iXML"},
        // No iXML: the setting's default, 23.976 (36000 s x 24000/1001 = 863,136.86 frames, rounded).
        {"plain.wav", uint64_t(36000) * 48000, QByteArray(), "09:59:24:01", 23.976, false, "defaultAudioTC"},
        // An unreadable rate leaves the setting in force.
        {"odd.wav", uint64_t(36000) * 48000, ixmlWith("fast", "DF"), "09:59:24:01", 23.976, false,
            "defaultAudioTC"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const ProbeResult result
            = probe({recorderWave(QString::fromLatin1(c.name), c.timeReference, c.ixml)});
        ASSERT_EQ(result.lines.size(), 1);
        const QJsonObject a = result.lines[0];
        EXPECT_EQ(a.value(QStringLiteral("kind")).toString(), QStringLiteral("audio"));
        EXPECT_EQ(a.value(QStringLiteral("timecodeStart")).toString(), QString::fromLatin1(c.start));
        EXPECT_NEAR(a.value(QStringLiteral("fps")).toDouble(), c.fps, 0.001);
        EXPECT_EQ(a.value(QStringLiteral("dropFrame")).toBool(), c.dropFrame);
        EXPECT_EQ(a.value(QStringLiteral("timecodeRateSource")).toString(), QString::fromLatin1(c.source));
    }
}
