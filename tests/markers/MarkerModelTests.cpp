// The marker list of a local file: making, ordering, storing, chapters, deleting, thinning and the
// previous / next / pause-on-marker choices.
#include "MarkerTestSupport.h"

#include "markers/BVAnnotationCache.h"
#include "markers/BVMarkerList.h"
#include "markers/BVMarkerModel.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace MarkerTest;

namespace {

const QString key = QStringLiteral("file:///media/reel%201.mov");

QStringList names(const QList<BVMarker> &markers)
{
    QStringList out;
    for (const BVMarker &m : markers)
        out << m->value(BVMarkerKey::name).toString();
    return out;
}

BVMarker markerAt(double val, const QString &name = {})
{
    return BVMarkers::makeMarker({{BVMarkerKey::name, name}, {BVMarkerKey::val, val},
        {BVMarkerKey::position, seconds(val * 100).dictionary()}});
}

} // namespace

TEST(MarkerModel, MarkerAtThePlayheadIsStoredWithItsTimecodeAndOpensTheSameRecordTheSecondTime)
{
    FakeMedia media;
    BVMarkerModel model(&media, key);
    model.loadMarkers();
    media.now = MediaTime(24000 * 2 + 1000 * 5, 24000); // 2 s and 5 frames
    bool created = false;
    BVMarker first = model.addMarker(media.now, &created);
    EXPECT_TRUE(created);
    EXPECT_EQ(first->value(BVMarkerKey::name).toString(), QStringLiteral("Marker 1"));
    EXPECT_EQ(first->value(BVMarkerKey::timecode).toString(), QStringLiteral("01:00:02:05"));
    EXPECT_DOUBLE_EQ(first->value(BVMarkerKey::val).toDouble(), (2 + 5 / 24.0) / 100);
    EXPECT_TRUE(first->value(BVMarkerKey::canEdit).toBool());
    EXPECT_EQ(first->value(BVMarkerKey::color).toInt(), 0);

    // The same time in another timescale is the same playhead time.
    BVMarker again = model.addMarker(MediaTime(2 * 24 + 5, 24), &created);
    EXPECT_FALSE(created);
    EXPECT_EQ(again, first);
    EXPECT_EQ(model.markers().size(), 1);

    const QVariantList stored = fileEntry(key).value(QStringLiteral("markers")).toList();
    ASSERT_EQ(stored.size(), 1);
    EXPECT_EQ(
        MediaTime::fromDictionary(stored[0].toMap().value(QStringLiteral("position")).toMap()), media.now);
}

TEST(MarkerModel, StorageKeepsTheOtherEntriesAndKeysOfTheFile)
{
    BVUserDefaults *d = BVUserDefaults::standardUserDefaults();
    d->setObject(
        QVariantMap {{key, QVariantMap {{QStringLiteral("playbackPos"), 7}}},
            {QStringLiteral("file:///other.mov"), QVariantMap {{QStringLiteral("naturalWidth"), 640}}}},
        QStringLiteral("fileSettings"));
    FakeMedia media;
    BVMarkerModel model(&media, key);
    model.loadMarkers();
    model.addMarker(seconds(1));
    const QVariantMap all = d->dictionaryForKey(QStringLiteral("fileSettings"));
    EXPECT_EQ(
        all.value(QStringLiteral("file:///other.mov")).toMap().value(QStringLiteral("naturalWidth")).toInt(),
        640);
    EXPECT_EQ(fileEntry(key).value(QStringLiteral("playbackPos")).toInt(), 7);
    EXPECT_EQ(fileEntry(key).value(QStringLiteral("markers")).toList().size(), 1);

    // Deleting the last marker stores an empty array, which loads as an empty list.
    model.removeMarker(model.markers().first());
    EXPECT_TRUE(fileEntry(key).contains(QStringLiteral("markers")));
    EXPECT_TRUE(fileEntry(key).value(QStringLiteral("markers")).toList().isEmpty());
    BVMarkerModel reopened(&media, key);
    reopened.loadMarkers();
    EXPECT_TRUE(reopened.markers().isEmpty());
}

TEST(MarkerModel, ChaptersAreMergedOnceLockedAndCountedInTheDefaultLabel)
{
    FakeMedia media;
    media.addChapter(seconds(0), QStringLiteral("Opening"));
    media.addChapter(seconds(40), QString());
    media.addChapter(seconds(20), QStringLiteral("Middle"));
    {
        BVMarkerModel model(&media, key);
        model.loadMarkers();
        // In position order; a chapter without a title takes the count-based label.
        EXPECT_EQ(names(model.markers()), (QStringList {"Opening", "Middle", "Marker 2"}));
        for (const BVMarker &m : model.markers()) {
            EXPECT_FALSE(m->value(BVMarkerKey::canEdit).toBool());
            EXPECT_TRUE(BVMarkers::isChapter(*m));
        }
        EXPECT_EQ(model.markers()[1]->value(BVMarkerKey::timecode).toString(), QStringLiteral("01:00:20:00"));
        // Three chapter markers: the first marker of the user is number 4.
        BVMarker mine = model.addMarker(seconds(30));
        EXPECT_EQ(mine->value(BVMarkerKey::name).toString(), QStringLiteral("Marker 4"));
        // A chapter record is never committed.
        model.markers().first()->insert(BVMarkerKey::name, QStringLiteral("Changed"));
        model.saveMarker(model.markers().first());
    }
    // Loading again adds no duplicate chapters: the first load stored them.
    BVMarkerModel model(&media, key);
    model.loadMarkers();
    EXPECT_EQ(names(model.markers()), (QStringList {"Opening", "Middle", "Marker 4", "Marker 2"}));

    // "Delete All" brings the chapters back at once, without the user's markers.
    EXPECT_TRUE(model.deleteAllMarkers());
    EXPECT_EQ(names(model.markers()), (QStringList {"Opening", "Middle", "Marker 2"}));
}

TEST(MarkerModel, DeleteAllWithoutChaptersLeavesAnEmptyListAndKeepsTheFileEntry)
{
    FakeMedia media;
    BVMarkerModel model(&media, key);
    model.loadMarkers();
    model.addMarker(seconds(3));
    model.addMarker(seconds(5));
    EXPECT_TRUE(model.deleteAllMarkers());
    EXPECT_TRUE(model.markers().isEmpty());
    EXPECT_FALSE(fileEntry(key).contains(QStringLiteral("markers")));
}

TEST(MarkerModel, ZeroFrameRateAndPrivateCloudFilesLoadNothing)
{
    FakeMedia media;
    BVMarkerModel model(&media, key);
    model.loadMarkers();
    model.addMarker(seconds(3));
    media.setFps(0);
    BVMarkerModel zero(&media, key);
    EXPECT_FALSE(zero.loadMarkers());
    EXPECT_TRUE(zero.markers().isEmpty());
    media.setFps(24);
    BVMarkerModel cloud(&media, key);
    cloud.setVelo(12, -1);
    EXPECT_FALSE(cloud.loadMarkers());
}

TEST(MarkerModel, CloudRecordsArePostedOrEditedAndNeverStored)
{
    FakeMedia media;
    BVMarkerModel model(&media, QStringLiteral("velo"));
    model.setVelo(5, 3);
    QList<BVMarker> posted, edited;
    QObject::connect(&model, &BVMarkerModel::postCommentRequested, [&](const BVMarker &m) { posted << m; });
    QObject::connect(&model, &BVMarkerModel::editCommentRequested, [&](const BVMarker &m) { edited << m; });
    BVMarker marker = model.addMarker(seconds(1));
    EXPECT_EQ(marker->value(BVMarkerKey::veloraID).toInt(), -1);
    model.saveMarker(marker);
    marker->insert(BVMarkerKey::veloraID, 77);
    model.saveMarker(marker);
    EXPECT_EQ(posted, QList<BVMarker> {marker});
    EXPECT_EQ(edited, QList<BVMarker> {marker});
    EXPECT_TRUE(fileEntry(QStringLiteral("velo")).isEmpty());
}

TEST(MarkerModel, DeletingAnAnnotationRemovesItsFileAndEntry)
{
    FakeMedia media;
    BVMarkerModel model(&media, key);
    model.loadMarkers();
    BVMarker marker = model.addMarker(seconds(1));
    const QString uuid = BVMarkers::UUIDString();
    ASSERT_TRUE(BVAnnotationCache::writeAnnotation(uuid, QStringLiteral("<svg/>")));
    marker->insert(BVMarkerKey::annotation, uuid);
    model.saveMarker(marker);
    model.deleteAnnotationForMarker(marker);
    EXPECT_FALSE(QFileInfo::exists(BVAnnotationCache::pathForUUID(uuid)));
    EXPECT_FALSE(fileEntry(key)
                     .value(QStringLiteral("markers"))
                     .toList()[0]
                     .toMap()
                     .contains(QStringLiteral("annotation")));
}

TEST(MarkerList, RecordsAtOnePositionKeepTheirArrivalOrder)
{
    QList<BVMarker> list;
    for (const auto &[at, name] : std::initializer_list<std::pair<double, const char *>> {
             {0.5, "b"}, {0.2, "a"}, {0.5, "c"}, {0.9, "e"}, {0.5, "d"}})
        BVMarkerList::insertMarker(list, markerAt(at, QString::fromLatin1(name)));
    EXPECT_EQ(names(list), (QStringList {"a", "b", "c", "d", "e"}));
}

TEST(MarkerList, TimelineThinsMarkersWithinPointFourPercentOfTheLastOneKept)
{
    struct Case
    {
        QList<double> vals;
        QStringList kept;
    };
    const QList<Case> cases {
        {{0.5, 0.504}, {"0"}}, // exactly 0.004 apart: the second is not drawn
        {{0.5, 0.5041}, {"0", "1"}},
        {{0.1, 0.102, 0.104, 0.1041}, {"0", "3"}}, // compared with the last kept, not the last seen
        {{0.0, 0.0}, {"0"}},
        {{0.996, 1.0}, {"0"}},
        {{}, {}},
    };
    for (const Case &c : cases) {
        QList<BVMarker> list;
        for (qsizetype i = 0; i < c.vals.size(); ++i)
            list << markerAt(c.vals[i], QString::number(i));
        const QList<BVMarker> kept = BVMarkerList::filteredMarkerArrayForPlayhead(list);
        EXPECT_EQ(names(kept), c.kept) << c.vals.size();
        if (!kept.isEmpty()) {
            EXPECT_EQ(kept.first(), list.first()) << "the records themselves";
        }
    }
}

TEST(MarkerList, PreviousNextAndPauseOnMarkerChooseByTheRulesOfPlayback)
{
    QList<BVMarker> list;
    for (double s : {2.0, 9.0, 9.5, 10.0, 14.0})
        BVMarkerList::insertMarker(list, markerAt(s / 100, QString::number(s)));
    auto name = [](const BVMarker &m) {
        return m ? m->value(BVMarkerKey::name).toString() : QStringLiteral("none");
    };
    const MediaTime at10 = seconds(10);
    // Stopped on a marker: previous is the one before, next the one after.
    EXPECT_EQ(name(BVMarkerList::previousMarker(list, at10, false)), QStringLiteral("9.5"));
    EXPECT_EQ(name(BVMarkerList::nextMarker(list, at10)), QStringLiteral("14"));
    // Playing: 9.5 s and 9 s lie at 90 % of 10 s or more (9.0 / 10 = 0.9 is not below 0.9).
    EXPECT_EQ(name(BVMarkerList::previousMarker(list, at10, true)), QStringLiteral("2"));
    EXPECT_EQ(name(BVMarkerList::previousMarker(list, seconds(2), false)), QStringLiteral("none"));
    EXPECT_EQ(name(BVMarkerList::nextMarker(list, seconds(14))), QStringLiteral("none"));

    // Pause on markers: 0.04 s ahead stops, 0.06 s ahead not yet, on it not at all.
    EXPECT_EQ(name(BVMarkerList::markerToPauseOn(list, seconds(13.96))), QStringLiteral("14"));
    EXPECT_EQ(name(BVMarkerList::markerToPauseOn(list, seconds(13.94))), QStringLiteral("none"));
    EXPECT_EQ(name(BVMarkerList::markerToPauseOn(list, seconds(14))), QStringLiteral("none"));
}

TEST(MarkerRecord, UUIDStringIsCanonicalUpperCaseAndNew)
{
    const QString a = BVMarkers::UUIDString();
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"))
            .match(a)
            .hasMatch())
        << a.toStdString();
    EXPECT_NE(a, BVMarkers::UUIDString());
}
