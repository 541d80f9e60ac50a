// The tag strip: where tags are drawn, which tags a click or hover hits, the notifications, and
// a picture of the whole timeline.
#include "markers/BVMarkerView.h"
#include "platform/defaults/BVUserDefaults.h"
#include "player/window/BVPlayheadSlider.h"
#include "support/BVNotificationCenter.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMouseEvent>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

BVMarker tag(double val, int color = 0, const QString &name = {})
{
    return BVMarkers::makeMarker(
        {{BVMarkerKey::val, val}, {BVMarkerKey::color, color}, {BVMarkerKey::name, name}});
}

} // namespace

TEST(MarkerView, TagPlacementAtTheEndsOfTheStrip)
{
    struct Case
    {
        double val, width, x;
    };
    for (const Case &c : std::initializer_list<Case> {{0, 600, 0}, {1.0, 600, 585}, {0.5, 600, 294},
             {0.005, 600, 0}, {0.99, 600, 588}, {0.9899, 600, 588}, {0.3333, 100, 28}}) {
        EXPECT_DOUBLE_EQ(BVMarkerView::tagX(c.val, c.width), c.x) << c.val << " on " << c.width;
    }
}

TEST(MarkerView, ReleaseHitsEveryOverlappingTagInListOrderAndHoverUsesTheSmallRectangle)
{
    const QList<BVMarker> markers {tag(0.5, 0, "a"), tag(0.51, 0, "b"), tag(0.9, 0, "c")};
    // On 600 points: "a" covers x 291..307, "b" 297..313.
    auto names = [](const QList<BVMarker> &hits) {
        QStringList out;
        for (const BVMarker &m : hits)
            out << m->value(BVMarkerKey::name).toString();
        return out;
    };
    EXPECT_EQ(names(BVMarkerView::markersAtPoint(markers, {300, 5}, 600, false)), (QStringList {"a", "b"}));
    EXPECT_EQ(names(BVMarkerView::markersAtPoint(markers, {292, 15}, 600, false)), (QStringList {"a"}));
    EXPECT_EQ(names(BVMarkerView::markersAtPoint(markers, {292, 15}, 600, true)), QStringList());
    EXPECT_EQ(names(BVMarkerView::markersAtPoint(markers, {290, 5}, 600, false)), QStringList());
    // The hit rectangle is not moved in at the right end as the drawing is.
    const QList<BVMarker> last {tag(1.0)};
    EXPECT_TRUE(BVMarkerView::markersAtPoint(last, {586, 5}, 600, false).isEmpty());
    EXPECT_EQ(BVMarkerView::markersAtPoint(last, {595, 5}, 600, false).size(), 1);
}

TEST(MarkerView, ClickPostsTheRecordAndHoverOnlyWhenAsked)
{
    BVMarkerView view;
    view.resize(600, 16);
    BVMarker a = tag(0.5);
    view.setMarkers({a});
    QList<BVMarker> clicked, hovered;
    auto &center = BVNotificationCenter::defaultCenter();
    center.addObserver(&clicked, BVMarkerView::markerClickedNotification, &view,
        [&](const BVNotification &n) { clicked << n.userInfo.value("marker").value<BVMarker>(); });
    center.addObserver(&hovered, BVMarkerView::markerHoverNotification, &view,
        [&](const BVNotification &n) { hovered << n.userInfo.value("marker").value<BVMarker>(); });
    const QPointF over(296, 8); // y downward in the widget: 8 points above the bottom
    QMouseEvent move(QEvent::MouseMove, over, over, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &move);
    EXPECT_TRUE(hovered.isEmpty()) << "showMarkerOnHover is off";
    BVUserDefaults::standardUserDefaults()->setBool(true, QStringLiteral("showMarkerOnHover"));
    QApplication::sendEvent(&view, &move);
    EXPECT_EQ(hovered, QList<BVMarker> {a});
    QMouseEvent release(QEvent::MouseButtonRelease, over, over, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &release);
    EXPECT_EQ(clicked, QList<BVMarker> {a});
    center.removeObserver(&clicked);
    center.removeObserver(&hovered);
    BVUserDefaults::standardUserDefaults()->removeObjectForKey(QStringLiteral("showMarkerOnHover"));
}

TEST(MarkerView, TagsAreDrawnInTheirColoursWhereTheyStand)
{
    BVMarkerView view;
    view.resize(600, 16);
    QList<BVMarker> markers;
    for (int i = 0; i < 11; ++i)
        markers << tag(0.04 + i * 0.09, i);
    view.setMarkers(markers);
    const QImage image = view.grab().toImage();
    for (int i = 0; i < 11; ++i) {
        const double x = BVMarkerView::tagX(0.04 + i * 0.09, 600);
        // Near the square end (tag y 14 = widget row 2) the colour is close to the square end's.
        const QColor seen = image.pixelColor(int(x) + 3, 16 - 14);
        const QColor want = BVMarkerView::squareEndColor(i);
        EXPECT_NEAR(seen.hueF() * (want.saturationF() > 0), want.hueF() * (want.saturationF() > 0), 0.05)
            << i;
        EXPECT_NEAR(seen.valueF(), want.valueF(), 0.12) << i;
    }
    // Outside the tags nothing is drawn.
    EXPECT_EQ(image.pixelColor(599, 8), image.pixelColor(599, 0));
    EXPECT_NE(image.pixelColor(int(BVMarkerView::tagX(0.04, 600)) + 3, 2), image.pixelColor(599, 0));
}
