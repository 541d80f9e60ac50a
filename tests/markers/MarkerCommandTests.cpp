// The marker commands of the command line, on a generated movie with three chapters.
#include "app/commandline/BVMarkerCommand.h"
#include "common/BVTestSupport.h"
#include "platform/defaults/BVUserDefaults.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

struct Output
{
    int status;
    QString out, err;
};

QString readStream(FILE *f)
{
    std::rewind(f);
    QByteArray data;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        data.append(buffer, qsizetype(n));
    std::fclose(f);
    return QString::fromUtf8(data);
}

Output run(const QString &command, const QStringList &arguments)
{
    FILE *out = std::tmpfile();
    FILE *err = std::tmpfile();
    const int status = BVMarkerCommand::run(command, arguments, out, err);
    return {status, readStream(out), readStream(err)};
}

// 6 s at 23.976 fps from 01:00:00:00, chapters at 0, 2 and 4 s.
QString movie()
{
    static const QString path = BVTest::sampleMedia(
        QStringLiteral("movie"), {"--size", "320x180", "--duration", "6", "--name", "markers6s.mov"});
    return path;
}

} // namespace

TEST(MarkerCommand, ImportThenListThenExport)
{
    const QString list = BVTest::makeTempFolder() + "/mc.txt";
    ASSERT_TRUE(BVTest::writeFile(
        list, "jan\t01:00:01:00\tV1\tgreen\tgrade\t1\r\njan\t01:00:09:00\tV1\tblue\tlate\t1\r\n"));
    Output o = run(QStringLiteral("--import-markers"), {list, movie()});
    EXPECT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_EQ(
        o.out, QStringLiteral("Markers imported\n1 marker imported\n1 was outside the range of this file\n"));

    o = run(QStringLiteral("--markers"), {movie()});
    ASSERT_EQ(o.status, 0) << o.err.toStdString();
    const QJsonArray markers = QJsonDocument::fromJson(o.out.toUtf8()).array();
    ASSERT_EQ(markers.size(), 4);
    const QStringList names {"Chapter 1", "grade - jan", "Chapter 2", "Chapter 3"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(markers[i].toObject().value("name").toString(), names[i]);
    const QJsonObject imported = markers[1].toObject();
    EXPECT_EQ(imported.value("timecode").toString(), QStringLiteral("01:00:01:00"));
    EXPECT_EQ(imported.value("color").toInt(), 4);
    EXPECT_TRUE(imported.value("can_edit").toBool());
    EXPECT_FALSE(markers[0].toObject().value("can_edit").toBool());
    // 01:00:01:00 is 24 frames after the start; frame 24 begins at 24 x 1001 / 24000 s.
    EXPECT_EQ(imported.value("frame").toInt(), 24);
    const QJsonObject position = imported.value("position").toObject();
    EXPECT_NEAR(position.value("value").toDouble() / position.value("timescale").toDouble(), 1.001, 1e-4);

    const QString out = BVTest::makeTempFolder() + "/out.txt";
    // The chapters start at 2 s and 4 s of the 6 s movie. At 23.976 frame 48 starts at 2.002 s, so
    // 2 s lies inside frame 47 (01:00:01:23) and 4 s inside frame 95 (01:00:03:23).
    o = run(QStringLiteral("--export-markers"), {QStringLiteral("fcp7"), movie(), out});
    EXPECT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_EQ(BVTest::readFile(out),
        QByteArray("Name\tType\tMarker Name\tComment\tStart\tDuration\tColor\r\n"
                   "Sequence 1\tSequence\tChapter 1\t\t01:00:00:00\t00:00:00:00\tRed\r\n"
                   "Sequence 1\tSequence\tgrade - jan\t\t01:00:01:00\t00:00:00:00\tGreen\r\n"
                   "Sequence 1\tSequence\tChapter 2\t\t01:00:01:23\t00:00:00:00\tRed\r\n"
                   "Sequence 1\tSequence\tChapter 3\t\t01:00:03:23\t00:00:00:00\tRed\r\n"));
}

TEST(MarkerCommand, RefusalsAndUsage)
{
    const QString empty = BVTest::makeTempFolder() + "/empty.txt";
    ASSERT_TRUE(BVTest::writeFile(empty, "x\ty\n"));
    Output o = run(QStringLiteral("--import-markers"), {empty, movie()});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, QStringLiteral("Unable to import marker list\nUnrecognized marker list format.\n"));
    EXPECT_TRUE(o.out.isEmpty());

    o = run(QStringLiteral("--export-markers"), {QStringLiteral("xml"), movie(), empty});
    EXPECT_EQ(o.status, 2);
    EXPECT_TRUE(o.err.contains(QStringLiteral("Usage: reelmark"))) << o.err.toStdString();
    o = run(QStringLiteral("--markers"), {});
    EXPECT_EQ(o.status, 2);
    const QString tone = BVTest::sampleMedia(QStringLiteral("wav"), {"--duration", "2"});
    o = run(QStringLiteral("--export-markers"), {QStringLiteral("comma"), tone, empty + ".out"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, QStringLiteral("Cannot export markers\nNo markers have been added to this file.\n"));
    EXPECT_FALSE(QFile::exists(empty + ".out"));
    o = run(QStringLiteral("--markers"), {QStringLiteral("/no/such.mov")});
    EXPECT_EQ(o.status, 1);
}
