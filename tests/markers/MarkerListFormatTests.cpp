// Marker list files: the bytes written, the layouts read (as the editing systems write them), the
// import's counts and texts, and round trips.
#include "MarkerTestSupport.h"

#include "markers/BVMarkerColor.h"
#include "markers/BVMarkerListImport.h"
#include "markers/BVMarkerListReader.h"
#include "markers/BVMarkerModel.h"

#include <gtest/gtest.h>

using namespace MarkerTest;

namespace {

BVMarker record(const QString &name, const QString &timecode, int color, const QVariantMap &extra = {})
{
    QVariantMap entries {
        {BVMarkerKey::name, name}, {BVMarkerKey::timecode, timecode}, {BVMarkerKey::color, color}};
    entries.insert(extra);
    return BVMarkers::makeMarker(entries);
}

struct Imported
{
    QString label;
    QString timecode;
    int color;
    int64_t frame; // frames after 01:00:00:00 at 24 fps
};

QList<Imported> imported(const BVMarkerModel &model)
{
    QList<Imported> out;
    for (const BVMarker &m : model.markers()) {
        const MediaTime p = BVMarkers::positionOf(m);
        out.append({m->value(BVMarkerKey::name).toString(), m->value(BVMarkerKey::timecode).toString(),
            m->value(BVMarkerKey::color).toInt(), int64_t(std::llround(p.seconds() * 24))});
    }
    return out;
}

} // namespace

TEST(MarkerListExport, SevenColumnBytes)
{
    const QList<BVMarker> markers {record(QStringLiteral("Shot 1"), QStringLiteral("01:00:01:02"), 3),
        record(QStringLiteral("Fix"), QStringLiteral("01:00:02;04"), 9),
        record(QStringLiteral("Cloud"), QStringLiteral("01:00:03:00"), 2,
            {{BVMarkerKey::veloraID, 4}, {BVMarkerKey::veloraAuthor, QStringLiteral("Ann")}})};
    EXPECT_EQ(BVMarkerListImport::exportText(0, markers),
        QStringLiteral("Name\tType\tMarker Name\tComment\tStart\tDuration\tColor\r\n"
                       "Sequence 1\tSequence\tShot 1\t\t01:00:01:02\t00:00:00:00\tOrange\r\n"
                       "Sequence 1\tSequence\tFix\t\t01:00:02;04\t00:00:00;00\tRed\r\n"
                       "Sequence 1\tSequence\tCloud\tAnn\t01:00:03:00\t00:00:00:00\tYellow\r\n"));
}

TEST(MarkerListExport, FiveColumnAndTimecodeListBytes)
{
    const QList<BVMarker> markers {record(QStringLiteral("Shot 1"), QStringLiteral("01:00:01:02"), 3),
        record(QStringLiteral("Sky\tblue"), QStringLiteral("01:00:02:04"), 6)};
    EXPECT_EQ(BVMarkerListImport::exportText(1, markers),
        QStringLiteral("Reelmark\t01:00:01:02\tV1\tred\tShot 1\r\n"
                       "Reelmark\t01:00:02:04\tV1\tcyan\tSky blue\r\n"));
    EXPECT_EQ(BVMarkerListImport::exportText(2, markers),
        QStringLiteral("01:00:01:02, Shot 1\r\n01:00:02:04, Sky blue\r\n"));
    EXPECT_EQ(BVMarkerListImport::exportText(3, markers),
        QStringLiteral("01:00:01:02 Shot 1\r\n01:00:02:04 Sky blue\r\n"));
    EXPECT_EQ(BVMarkerListImport::exportText(4, markers), QString());
}

TEST(MarkerListColors, WordsOfEachLayoutByIndex)
{
    const QStringList fcp7 {
        "Red", "Red", "Yellow", "Orange", "Green", "Blue", "Turquoise", "Pink", "Purple", "Red", "Red"};
    const QStringList avid {
        "red", "red", "yellow", "red", "green", "blue", "cyan", "magenta", "red", "white", "black"};
    const QList<int> fcp7Back {1, 1, 2, 3, 4, 5, 6, 7, 8, 1, 1};
    const QList<int> avidBack {1, 1, 2, 1, 4, 5, 6, 7, 1, 9, 10};
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(BVMarkerColor::fcp7Word(i), fcp7[i]) << i;
        EXPECT_EQ(BVMarkerColor::avidWord(i), avid[i]) << i;
        EXPECT_EQ(BVMarkerColor::fromFCP7Word(fcp7[i]), fcp7Back[i]) << i;
        EXPECT_EQ(BVMarkerColor::fromAvidWord(avid[i]), avidBack[i]) << i;
    }
    EXPECT_EQ(BVMarkerColor::fromFCP7Word(QStringLiteral("red")), 0); // case-sensitive
    EXPECT_EQ(BVMarkerColor::fromAvidWord(QStringLiteral("Purple")), 0);
}

TEST(MarkerListImport, ListsAsTheEditingSystemsWriteThem)
{
    struct Case
    {
        const char *what;
        QByteArray text;
        QList<Imported> expected;
    };
    const QList<Case> cases {
        {"seven columns, CR LF, the first line is the header whatever it holds",
            "Sequence 1\tSequence\tlost\t\t01:00:00:01\t00:00:00:00\tRed\r\n"
            "Sequence 1\tSequence\tShot\tlook left\t01:00:01:00\t00:00:00:00\tGreen\r\n"
            "Sequence 1\tSequence\t\tonly comment\t01:00:02:00\t00:00:00:00\tPink\r\n"
            "Sequence 1\tSequence\t\t\t01:00:03:00\t00:00:00:00\tBlue\r\n",
            {{"Shot - look left", "01:00:01:00", 4, 24}, {"only comment", "01:00:02:00", 7, 48}}},
        {"five columns from the first line, LF",
            "Reelmark\t01:00:00:12\tV1\tred\tFix\nann\t01:00:00:06\tV1\torange\tSky\n",
            {{"Sky - ann", "01:00:00:06", 0, 6}, {"Fix - Reelmark", "01:00:00:12", 1, 12}}},
        {"six fields with a duration, empty comments",
            "jan\t01:00:01:00\tV1\tgreen\tgrade\t1\r\njan\t01:00:02:00\tA2\tblue\t\t1\r\n",
            {{"grade - jan", "01:00:01:00", 4, 24}, {"jan", "01:00:02:00", 5, 48}}},
        {"eight fields, CR alone",
            "jan\t01:00:01:00\tV1\tmagenta\tgrade\t1\t\tmagenta\r\t01:00:03:00\tV2\tyellow\tno "
            "author\t1\t\tyellow\r",
            {{"grade - jan", "01:00:01:00", 7, 24}, {"no author", "01:00:03:00", 2, 72}}},
        {"five columns, empty comment at the end of the line", "Reelmark\t01:00:00:12\tV1\twhite\t\r\n",
            {{"Reelmark", "01:00:00:12", 9, 12}}},
    };
    for (const Case &c : cases) {
        BVUserDefaults::standardUserDefaults()->removeObjectForKey(QStringLiteral("fileSettings"));
        FakeMedia media;
        BVMarkerModel model(&media, QStringLiteral("file:///a.mov"));
        model.loadMarkers();
        const auto result = BVMarkerListImport::importMarkerList(c.text, model);
        ASSERT_FALSE(result.refused) << c.what << ": " << result.alertText.toStdString();
        const QList<Imported> got = imported(model);
        ASSERT_EQ(got.size(), c.expected.size()) << c.what;
        for (qsizetype i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].label, c.expected[i].label) << c.what;
            EXPECT_EQ(got[i].timecode, c.expected[i].timecode) << c.what;
            EXPECT_EQ(got[i].color, c.expected[i].color) << c.what;
            EXPECT_EQ(got[i].frame, c.expected[i].frame) << c.what;
        }
        EXPECT_EQ(fileEntry(QStringLiteral("file:///a.mov")).value(QStringLiteral("markers")).toList().size(),
            c.expected.size())
            << c.what;
    }
}

TEST(MarkerListImport, RefusedFilesAndTheirAlerts)
{
    const QList<std::pair<QByteArray, QString>> cases {
        {"", QStringLiteral("File is empty.")},
        {"\r\n\n", QStringLiteral("File is empty.")},
        {"a\tb\tc\n", QStringLiteral("Unrecognized marker list format.")},
        {"one line without tabs", QStringLiteral("Unrecognized marker list format.")},
        {"\xff\xfe\x00", QStringLiteral("The file is not UTF-8 text.")},
    };
    for (const auto &[text, message] : cases) {
        FakeMedia media;
        BVMarkerModel model(&media, QStringLiteral("file:///b.mov"));
        const auto result = BVMarkerListImport::importMarkerList(text, model);
        EXPECT_TRUE(result.refused) << text.toStdString();
        EXPECT_EQ(result.alertTitle, QStringLiteral("Unable to import marker list"));
        EXPECT_EQ(result.alertText, message) << text.toStdString();
        EXPECT_TRUE(model.markers().isEmpty());
    }
}

TEST(MarkerListImport, NotificationTextsCountMarkersInAndOutsideTheFile)
{
    struct Case
    {
        int n, m;
        const char *title, *text;
    };
    for (const Case &c : std::initializer_list<Case> {{1, 0, "Markers imported", "1 marker"},
             {3, 0, "Markers imported", "3 markers"},
             {1, 1, "Markers imported", "1 marker imported\n1 was outside the range of this file"},
             {2, 5, "Markers imported", "2 markers imported\n5 were outside the range of this file"},
             {0, 1, "No markers imported", "1 marker was outside the range of this file"},
             {0, 2, "No markers imported", "2 markers were outside the range of this file"},
             {0, 0, "No markers imported", "There were no valid markers in this file."}}) {
        QString title, text;
        BVMarkerListImport::notificationFor(c.n, c.m, &title, &text);
        EXPECT_EQ(title, QString::fromLatin1(c.title));
        EXPECT_EQ(text, QString::fromLatin1(c.text));
    }
}

TEST(MarkerListImport, RangeEqualPositionsAndDoubling)
{
    FakeMedia media; // 100 s from 01:00:00:00
    BVMarkerModel model(&media, QStringLiteral("file:///c.mov"));
    model.loadMarkers();
    BVMarker existing = model.addMarker(seconds(1));
    const QByteArray list = "me\t01:00:01:00\tV1\tblue\tsame time\n" // after the marker already there
                            "me\t01:01:40:00\tV1\tblue\tat the end\n" // equal to the duration: accepted
                            "me\t01:01:40:01\tV1\tblue\tafter the end\n"
                            "me\t00:59:59:00\tV1\tblue\tbefore the start\n";
    auto result = BVMarkerListImport::importMarkerList(list, model);
    EXPECT_EQ(result.imported, 2);
    EXPECT_EQ(result.outsideRange, 2);
    EXPECT_EQ(
        result.notificationText, QStringLiteral("2 markers imported\n2 were outside the range of this file"));
    ASSERT_EQ(model.markers().size(), 3);
    EXPECT_EQ(model.markers()[0], existing);
    EXPECT_EQ(model.markers()[1]->value(BVMarkerKey::name).toString(), QStringLiteral("same time - me"));
    EXPECT_DOUBLE_EQ(model.markers()[2]->value(BVMarkerKey::val).toDouble(), 1.0);
    // Importing the same file again doubles the imported markers.
    result = BVMarkerListImport::importMarkerList(list, model);
    EXPECT_EQ(model.markers().size(), 5);
    EXPECT_EQ(result.notificationTitle, QStringLiteral("Markers imported"));

    FakeMedia one;
    BVMarkerModel single(&one, QStringLiteral("file:///d.mov"));
    result = BVMarkerListImport::importMarkerList("me\t02:00:00:00\tV1\tred\tlate\n", single);
    EXPECT_EQ(result.notificationTitle, QStringLiteral("No markers imported"));
    EXPECT_EQ(result.notificationText, QStringLiteral("1 marker was outside the range of this file"));
}

TEST(MarkerListImport, ExportedListsReadBackWithTheirLabelsAndColours)
{
    FakeMedia media;
    BVMarkerModel source(&media, QStringLiteral("file:///e.mov"));
    source.loadMarkers();
    for (int i = 0; i < 11; ++i) {
        BVMarker m = source.addMarker(seconds(1 + i));
        m->insert(BVMarkerKey::color, i);
        m->insert(BVMarkerKey::name, QStringLiteral("Note %1").arg(i));
    }
    const QList<int> fcp7Back {1, 1, 2, 3, 4, 5, 6, 7, 8, 1, 1};
    const QList<int> avidBack {1, 1, 2, 1, 4, 5, 6, 7, 1, 9, 10};
    for (int format : {0, 1}) {
        BVMarkerModel target(&media, QStringLiteral("file:///f%1.mov").arg(format));
        target.loadMarkers();
        const auto result = BVMarkerListImport::importMarkerList(
            BVMarkerListImport::exportText(format, source.markers()).toUtf8(), target);
        EXPECT_EQ(result.notificationText, QStringLiteral("11 markers"));
        ASSERT_EQ(target.markers().size(), 11);
        for (int i = 0; i < 11; ++i) {
            const BVMarker &m = target.markers()[i];
            EXPECT_EQ(m->value(BVMarkerKey::name).toString(),
                format == 0 ? QStringLiteral("Note %1").arg(i) : QStringLiteral("Note %1 - Reelmark").arg(i));
            EXPECT_EQ(m->value(BVMarkerKey::color).toInt(), (format == 0 ? fcp7Back : avidBack)[i]) << i;
            EXPECT_EQ(BVMarkers::positionOf(m), BVMarkers::positionOf(source.markers()[i]));
            EXPECT_EQ(m->value(BVMarkerKey::timecode), source.markers()[i]->value(BVMarkerKey::timecode));
        }
    }
}
