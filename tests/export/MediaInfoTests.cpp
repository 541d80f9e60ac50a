#include "ExportTestSupport.h"

#include "common/BVTestSupport.h"
#include "export/BVInfoPanel.h"
#include "platform/defaults/BVUserDefaults.h"
#include "support/BVFileManager.h"

#include <QFileInfo>
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
    if (!qEnvironmentVariableIsEmpty("BV_SCREENSHOT_DIR"))
        panel.grab().save(qEnvironmentVariable("BV_SCREENSHOT_DIR") + QStringLiteral("/info-panel.png"));
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
