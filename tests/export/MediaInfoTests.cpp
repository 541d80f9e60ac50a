#include "ExportTestSupport.h"

#include "common/BVTestSupport.h"
#include "export/BVInfoPanel.h"
#include "platform/defaults/BVUserDefaults.h"
#include "support/BVFileManager.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTableView>

#include <gtest/gtest.h>

namespace {

BVMediaInfoSource sourceFor(const QString &path)
{
    BVMediaInfoSource source;
    source.asset = MediaAsset::assetWithURL(QUrl::fromLocalFile(path));
    source.asset->waitUntilLoaded();
    source.metadata = source.asset->commonMetadata();
    source.fps = 25;
    source.frameCount = 100;
    source.timebase = 25;
    source.duration = MediaTime(4, 1);
    source.fileURL = QUrl::fromLocalFile(path);
    source.displayName = QFileInfo(path).completeBaseName();
    source.inOutRange = MediaTimeRange(MediaTime(0, 0), MediaTime(0, 0));
    return source;
}

// "description: value" per row, "--" for the separator.
QStringList lines(const QVariantList &rows)
{
    QStringList out;
    for (const QVariant &row : rows) {
        const QVariantMap map = row.toMap();
        out << (map.value(QStringLiteral("type")) == QStringLiteral("separator")
                ? QStringLiteral("--")
                : map.value(QStringLiteral("description")).toString() + QStringLiteral(": ")
                    + map.value(QStringLiteral("value")).toString());
    }
    return out;
}

} // namespace

TEST(MediaInfo, RowsOfAGeneratedClip)
{
    const QString clip = ExportTest::makeClip({});
    BVMediaInfoSource source = sourceFor(clip);
    const QFileInfo file(clip);
    const double size = double(file.size());
    QStringList expected {
        QStringLiteral("Title: ") + file.fileName(), // no title item: the name with its extension
        QStringLiteral("Path: ") + file.absolutePath(),
        QStringLiteral("Frame Rate: 25.00"),
        QStringLiteral("Duration: 00:00:04:00"),
    };
    QStringList rows = lines(BVMediaInfo::infoRows(source));
    ASSERT_GE(rows.size(), 5);
    EXPECT_TRUE(rows.at(4).startsWith(QStringLiteral("Creation Date: "))) << qPrintable(rows.at(4));
    rows.removeAt(4);
    expected << QStringLiteral("Size: ") + BVFileManager::formatFileSize(size)
             << QStringLiteral("Data Rate: ") + BVFileManager::formatFileSize(size / 4) + QStringLiteral("/s")
             << QStringLiteral("Resolution: 80 x 16")
             << QStringLiteral("Aspect Ratio: 5.00")
             // Untagged and 80 wide: the matrix of standard definition, said to be assumed.
             << QStringLiteral("Color Matrix: BT.601 (assumed: not tagged)")
             << QStringLiteral("Field Order: Progressive") << QStringLiteral("--")
             << QStringLiteral("Number of Tracks: 3") << QStringLiteral("Track 1: Video - H.264")
             << QStringLiteral("Track 2: Audio - AAC 48.0KHz Stereo")
             << QStringLiteral("Track 3: Timecode - 10:00:00:00");
    EXPECT_EQ(rows, expected);

    // Frames instead of timecode, and the selected range just above the separator.
    source.timecodeDisplay = 2;
    source.inOutRange = MediaTimeRange(MediaTime(1, 1), MediaTime(2, 1));
    rows = lines(BVMediaInfo::infoRows(source));
    EXPECT_TRUE(rows.contains(QStringLiteral("Duration: 100")));
    const qsizetype separator = rows.indexOf(QStringLiteral("--"));
    ASSERT_GT(separator, 0);
    EXPECT_EQ(rows.at(separator - 1), QStringLiteral("Selected Range: 50"));
    source.timecodeDisplay = 0;
    rows = lines(BVMediaInfo::infoRows(source));
    EXPECT_EQ(rows.at(rows.indexOf(QStringLiteral("--")) - 1), QStringLiteral("Selected Range: 00:00:02:00"));
}

TEST(MediaInfo, MetadataRowsLeaveOutTheTitleAndFollowInfoType)
{
    const QString folder = BVTest::makeTempFolder(QStringLiteral("meta"));
    const QString clip = folder + QStringLiteral("/tagged.mov");
    QProcess tool;
    tool.start(QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), ExportTest::makeClip({}),
            QStringLiteral("-c"), QStringLiteral("copy"), QStringLiteral("-metadata"),
            QStringLiteral("title=Reel One"), QStringLiteral("-metadata"),
            QStringLiteral("artist=Second Unit"), clip});
    ASSERT_TRUE(tool.waitForFinished(60000));
    BVMediaInfoSource source = sourceFor(clip);
    EXPECT_EQ(lines(BVMediaInfo::infoRows(source)).first(), QStringLiteral("Title: Reel One"));
    const std::optional<QVariantList> meta = BVMediaInfo::metadataRows(source);
    ASSERT_TRUE(meta);
    // The tool also names itself ("software"); the title is row 1 of the information instead.
    const QStringList metaLines = lines(*meta);
    EXPECT_EQ(metaLines.first(), QStringLiteral("artist: Second Unit"));
    EXPECT_FALSE(metaLines.join(u'|').contains(QStringLiteral("title")));

    BVInfoPanel panel;
    panel.populateInfo(source);
    BVUserDefaults::standardUserDefaults()->setInteger(0, QStringLiteral("infoType"));
    panel.model()->reload();
    EXPECT_EQ(panel.model()->rowCount(), panel.model()->infoArray().size());
    BVUserDefaults::standardUserDefaults()->setInteger(1, QStringLiteral("infoType"));
    panel.model()->reload();
    EXPECT_EQ(panel.model()->rowCount(), metaLines.size());
    EXPECT_EQ(panel.model()->data(panel.model()->index(0, 1), Qt::DisplayRole).toString(),
        QStringLiteral("Second Unit"));
    EXPECT_FALSE(panel.model()->flags(panel.model()->index(0, 1)) & Qt::ItemIsEditable);

    // A cloud file keeps the previous metadata list.
    source.veloFileID = 12;
    EXPECT_FALSE(BVMediaInfo::metadataRows(source));
    panel.populateInfo(source);
    EXPECT_EQ(panel.model()->metaArray().size(), metaLines.size());
    BVUserDefaults::standardUserDefaults()->setInteger(0, QStringLiteral("infoType"));

    panel.toggleInfo(QStringLiteral("tagged"));
    EXPECT_EQ(panel.windowTitle(), QStringLiteral("tagged - Info"));
    EXPECT_TRUE(BVUserDefaults::standardUserDefaults()->boolForKey(QStringLiteral("showInfo")));
    panel.toggleInfo(QStringLiteral("tagged"));
    EXPECT_FALSE(BVUserDefaults::standardUserDefaults()->boolForKey(QStringLiteral("showInfo")));
}

TEST(MediaInfo, FieldOrderRowSaysHowThePictureWasScanned)
{
    // Clips scanned each way, made by the ffmpeg tool: the row follows the fields it was told of.
    const QString folder = BVTest::makeTempFolder(QStringLiteral("fields"));
    struct Case
    {
        QString filter, flags, expected;
    };
    const QList<Case> cases {
        {QStringLiteral("setfield=tff"), QStringLiteral("+ilme+ildct"),
            QStringLiteral("Field Order: Interlaced, top field first")},
        {QStringLiteral("setfield=bff"), QStringLiteral("+ilme+ildct"),
            QStringLiteral("Field Order: Interlaced, bottom field first")},
        {QStringLiteral("setfield=prog"), QStringLiteral("+global_header"),
            QStringLiteral("Field Order: Progressive")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.filter.toStdString());
        const QString clip = folder + QStringLiteral("/%1.mov").arg(c.filter.mid(9));
        QProcess tool;
        tool.start(QStringLiteral("ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
                QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("testsrc=size=320x240:rate=25"),
                QStringLiteral("-frames:v"), QStringLiteral("2"), QStringLiteral("-vf"), c.filter,
                QStringLiteral("-flags"), c.flags, QStringLiteral("-c:v"), QStringLiteral("prores_ks"),
                clip});
        ASSERT_TRUE(tool.waitForFinished(60000));
        ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().constData();
        const QStringList rows = lines(BVMediaInfo::infoRows(sourceFor(clip)));
        const QStringList fieldRows = rows.filter(QStringLiteral("Field Order: "));
        ASSERT_EQ(fieldRows.size(), 1) << rows.join(u'|').toStdString();
        EXPECT_EQ(fieldRows.first(), c.expected);
    }
}

TEST(MediaInfo, VariableRateFootageSaysSoAndCountsItsRealFrames)
{
    // 40 frames on a 30 fps clock, every fourth held for three frames of it.
    const QString clip = BVTest::makeTempFolder(QStringLiteral("vfr")) + QStringLiteral("/held.mov");
    QProcess tool;
    tool.start(QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
            QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("testsrc2=size=80x16:rate=30"),
            QStringLiteral("-vf"), QStringLiteral("setpts='(N+2*floor(N/4))/30/TB'"),
            QStringLiteral("-frames:v"), QStringLiteral("40"), QStringLiteral("-fps_mode"),
            QStringLiteral("passthrough"), QStringLiteral("-c:v"), QStringLiteral("libx264"),
            QStringLiteral("-preset"), QStringLiteral("ultrafast"), QStringLiteral("-pix_fmt"),
            QStringLiteral("yuv420p"), QStringLiteral("-video_track_timescale"), QStringLiteral("90000"),
            clip});
    ASSERT_TRUE(tool.waitForFinished(60000));
    ASSERT_EQ(tool.exitCode(), 0);
    // The frames starting inside the selected range, as ffprobe reads them.
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
            QStringLiteral("v:0"), QStringLiteral("-show_entries"), QStringLiteral("packet=pts_time"),
            QStringLiteral("-of"), QStringLiteral("json"), clip});
    ASSERT_TRUE(probe.waitForFinished(60000));
    const double in = 0.2, out = 0.8;
    int inRange = 0;
    for (const QJsonValue &packet : QJsonDocument::fromJson(probe.readAllStandardOutput())
                                        .object()
                                        .value(QStringLiteral("packets"))
                                        .toArray()) {
        const double time = packet.toObject().value(QStringLiteral("pts_time")).toString().toDouble();
        inRange += time >= in - 1e-6 && time < out - 1e-6 ? 1 : 0;
    }
    ASSERT_GT(inRange, 0);

    BVMediaInfoSource source = sourceFor(clip);
    const QList<MediaTrack> video = source.asset->tracksWithMediaType(MediaType::video);
    ASSERT_EQ(video.size(), 1);
    source.frameIndex = video.first().frameIndex();
    ASSERT_NE(source.frameIndex, nullptr);
    source.fps = 30;
    source.timebase = 30;
    source.frameCount = 40;
    source.timecodeDisplay = 2;
    source.inOutRange = MediaTimeRange(MediaTime(1, 5), MediaTime(3, 5));
    const QStringList rows = lines(BVMediaInfo::infoRows(source));
    EXPECT_TRUE(rows.contains(QStringLiteral("Frame Rate: 30.00 (variable)"))) << qPrintable(rows.join(u'|'));
    EXPECT_TRUE(rows.contains(QStringLiteral("Duration: 40")));
    EXPECT_EQ(
        rows.at(rows.indexOf(QStringLiteral("--")) - 1), QStringLiteral("Selected Range: %1").arg(inRange));

    // Constant-rate footage keeps the plain row.
    BVMediaInfoSource constant = sourceFor(ExportTest::makeClip({}));
    EXPECT_TRUE(lines(BVMediaInfo::infoRows(constant)).contains(QStringLiteral("Frame Rate: 25.00")));
}
