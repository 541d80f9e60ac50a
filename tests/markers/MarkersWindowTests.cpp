// The markers window: delete keys, selection, row heights, and a picture of it.
#include "MarkerTestSupport.h"

#include "markers/BVMarkerModel.h"
#include "markers/BVMarkersTableModel.h"
#include "markers/BVMarkersWindow.h"

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QTableView>

#include <gtest/gtest.h>

using namespace MarkerTest;

TEST(MarkersWindow, DeleteKeysAndSelectionNameTheFirstSelectedRecord)
{
    FakeMedia media;
    media.addChapter(seconds(0), QStringLiteral("Opening titles"));
    BVMarkerModel markers(&media, QStringLiteral("file:///w.mov"));
    markers.loadMarkers();
    BVMarker a = markers.addMarker(seconds(12.5));
    a->insert(BVMarkerKey::color, 4);
    BVMarker b = markers.addMarker(seconds(40));
    b->insert(BVMarkerKey::name,
        QStringLiteral(
            "A long note about the sky, which flickers in the third shot and needs another grade pass"));
    b->insert(BVMarkerKey::color, 1);
    markers.saveMarkers();
    BVMarkersWindow window(&markers);
    window.setDocumentTitle(QStringLiteral("reel 1"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("reel 1 - Markers"));
    QList<BVMarker> selected, deleted;
    QObject::connect(&window, &BVMarkersWindow::markerSelected, [&](const BVMarker &m) { selected << m; });
    QObject::connect(&window, &BVMarkersWindow::deleteRequested, [&](const BVMarker &m) { deleted << m; });

    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(window.tableView(), &del);
    EXPECT_TRUE(deleted.isEmpty()) << "no row selected";
    window.tableView()->selectRow(2);
    EXPECT_EQ(selected, QList<BVMarker> {b});
    for (int key : {Qt::Key_Backspace, Qt::Key_Delete}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(window.tableView(), &press);
    }
    EXPECT_EQ(deleted, (QList<BVMarker> {b, b}));

    window.show();
    // The long name wraps: its row is 18 points a line.
    EXPECT_GE(window.heightOfRow(2), 36);
    EXPECT_EQ(window.heightOfRow(1), window.tableView()->verticalHeader()->defaultSectionSize());
}
