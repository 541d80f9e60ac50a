// The markers table: the timecode column in each display mode, and typed timecodes moving a marker.
#include "MarkerTestSupport.h"

#include "markers/BVMarkerModel.h"
#include "markers/BVMarkersTableModel.h"

#include <gtest/gtest.h>

using namespace MarkerTest;

TEST(MarkersTable, TimecodeColumnInTheThreeDisplayModes)
{
    FakeMedia media; // 24 fps from 01:00:00:00
    BVMarkerModel markers(&media, QStringLiteral("file:///t.mov"));
    markers.loadMarkers();
    markers.addMarker(MediaTime(24000 * 61 + 1000 * 3, 24000)); // 1 min 1 s 3 frames
    BVMarkersTableModel table(&markers);
    ASSERT_EQ(table.rowCount(), 1);
    const QModelIndex tc = table.index(0, BVMarkersTableModel::Timecode);
    BVUserDefaults *d = BVUserDefaults::standardUserDefaults();
    const QList<std::pair<int, QString>> modes {
        {0, "01:01:01:03"}, {1, "00:01:01:03"}, {2, QString::number(61 * 24 + 3)}, {-1, "01:01:01:03"}};
    for (const auto &[mode, text] : modes) {
        d->setInteger(mode, QStringLiteral("timecodeDisplay"));
        EXPECT_EQ(table.data(tc).toString(), text) << mode;
    }
    EXPECT_EQ(table.data(table.index(0, BVMarkersTableModel::Author)).toString(), QStringLiteral("Me"));
    EXPECT_EQ(table.data(table.index(0, BVMarkersTableModel::Name)).toString(), QStringLiteral("Marker 1"));
    media.setFps(0);
    EXPECT_EQ(table.data(tc).toString(), QString());
    d->removeObjectForKey(QStringLiteral("timecodeDisplay"));
}

TEST(MarkersTable, TypedTimecodeMovesTheMarkerAndKeepsTheListInOrder)
{
    FakeMedia media;
    BVMarkerModel markers(&media, QStringLiteral("file:///u.mov"));
    markers.loadMarkers();
    BVMarker first = markers.addMarker(seconds(1));
    BVMarker second = markers.addMarker(seconds(5));
    BVMarkersTableModel table(&markers);
    BVUserDefaults *d = BVUserDefaults::standardUserDefaults();
    struct Case
    {
        int mode;
        QString typed;
        int64_t frame;
        QString timecode;
    };
    for (const Case &c : std::initializer_list<Case> {{2, "240", 240, "01:00:10:00"},
             {1, "00:00:20:12", 492, "01:00:20:12"}, {0, "01:00:03:00", 72, "01:00:03:00"}}) {
        d->setInteger(c.mode, QStringLiteral("timecodeDisplay"));
        const int row = int(markers.markers().indexOf(first));
        EXPECT_TRUE(table.setData(table.index(row, BVMarkersTableModel::Timecode), c.typed)) << c.mode;
        EXPECT_EQ(first->value(BVMarkerKey::timecode).toString(), c.timecode) << c.mode;
        EXPECT_EQ(BVMarkers::positionOf(first), MediaTime(c.frame, 24)) << c.mode;
        EXPECT_DOUBLE_EQ(first->value(BVMarkerKey::val).toDouble(), c.frame / 24.0 / 100) << c.mode;
        const bool after = c.frame > 5 * 24;
        EXPECT_EQ(markers.markers().indexOf(first), after ? 1 : 0) << c.mode;
    }
    const int row = int(markers.markers().indexOf(first));
    EXPECT_FALSE(table.setData(table.index(row, BVMarkersTableModel::Name), QString()))
        << "empty text is ignored";
    EXPECT_FALSE(table.setData(table.index(row, BVMarkersTableModel::Timecode), QStringLiteral("999999")))
        << "past the end";
    EXPECT_TRUE(table.setData(table.index(row, BVMarkersTableModel::Name), QStringLiteral("Renamed")));
    const QVariantList stored
        = fileEntry(QStringLiteral("file:///u.mov")).value(QStringLiteral("markers")).toList();
    EXPECT_EQ(stored[row].toMap().value(QStringLiteral("name")).toString(), QStringLiteral("Renamed"));
    (void)second;
    d->removeObjectForKey(QStringLiteral("timecodeDisplay"));

    // Chapters are not editable.
    FakeMedia chaptered;
    chaptered.addChapter(seconds(2), QStringLiteral("Act"));
    BVMarkerModel locked(&chaptered, QStringLiteral("file:///v.mov"));
    locked.loadMarkers();
    BVMarkersTableModel lockedTable(&locked);
    EXPECT_FALSE(lockedTable.flags(lockedTable.index(0, BVMarkersTableModel::Name)) & Qt::ItemIsEditable);
}
