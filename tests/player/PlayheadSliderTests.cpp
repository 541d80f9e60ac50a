// The scrubber: bar, buffered ranges, in and out brackets and knob geometry, the pixels they
// paint, and the scrubbing signals of the slider.
#include "player/window/BVPlayheadSlider.h"
#include "player/window/BVPlayheadSliderCell.h"
#include "tests/common/BVTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

const QRectF bounds(0, 0, 420, 26);

void expectRect(const QRectF &actual, const QRectF &expected)
{
    EXPECT_NEAR(actual.x(), expected.x(), 0.01);
    EXPECT_NEAR(actual.y(), expected.y(), 0.01);
    EXPECT_NEAR(actual.width(), expected.width(), 0.01);
    EXPECT_NEAR(actual.height(), expected.height(), 0.01);
}

void sendMouse(QWidget *widget, QEvent::Type type, double x, Qt::MouseButtons buttons)
{
    const QPointF at(x, 13);
    QMouseEvent event(type, at, widget->mapToGlobal(at),
        type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

} // namespace

TEST(PlayheadSliderCell, BarLeavesRoomForTheKnobAndTheMaximumImage)
{
    const QRectF bar = BVPlayheadSliderCell::barRect(bounds);
    expectRect(bar, {9, 11, 420 - 18 - 10, 4});
    expectRect(BVPlayheadSliderCell::maxValueImageRect(bounds), {0, 0, 10, 26});
    EXPECT_EQ(BVPlayheadSliderCell::barRect(QRectF(0, 0, 10, 26)).width(), 0); // never negative
}

TEST(PlayheadSliderCell, BufferedRangesReadUnusableValuesAsZero)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const QRectF bar(10, 11, 400, 4);
    struct Case
    {
        const char *label;
        QList<float> ranges;
        QList<QRectF> expected;
    };
    const Case cases[] = {
        {"one range", {0.f, 0.5f}, {{10, 11, 200, 4}}},
        {"two ranges", {0.1f, 0.2f, 0.5f, 0.75f}, {{50, 11, 40, 4}, {210, 11, 100, 4}}},
        {"a pair of zeros draws nothing", {0.f, 0.f}, {}},
        {"NaN start counts as 0", {float(nan), 0.25f}, {{10, 11, 100, 4}}},
        {"negative start is raised to 0", {-0.5f, 0.25f}, {{10, 11, 100, 4}}},
        {"infinite values count as 0", {float(inf), float(inf)}, {}},
        {"a missing end counts as 0", {0.2f}, {}},
        {"past the end is cut at the bar's end", {0.5f, 2.f}, {{210, 11, 200, 4}}},
        {"a reversed pair draws nothing", {0.6f, 0.4f}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        BVPlayheadSliderCell cell;
        cell.bufferedTimeRanges = c.ranges;
        const QList<QRectF> rects = cell.bufferedRects(bar);
        ASSERT_EQ(rects.size(), c.expected.size());
        for (qsizetype i = 0; i < rects.size(); ++i)
            expectRect(rects.at(i), c.expected.at(i));
    }
}

TEST(PlayheadSliderCell, BracketsSitOnTheirPointsAndStayOnTheBar)
{
    const QRectF bar(10, 11, 400, 4);
    BVPlayheadSliderCell cell;
    EXPECT_TRUE(cell.inBracketRect(bar).isEmpty()); // -1 after creation: not set
    EXPECT_TRUE(cell.outBracketRect(bar).isEmpty());
    cell.inPoint = 0.25;
    cell.outPoint = 0.5;
    expectRect(cell.inBracketRect(bar), {110, 2, 18, 22});
    expectRect(cell.outBracketRect(bar), {210, 2, 18, 22});
    cell.outPoint = 1.0;
    expectRect(cell.outBracketRect(bar), {10 + 400 - 18, 2, 18, 22});
    cell.outPoint = 0.98; // 392 + 18 > 400: moved in
    expectRect(cell.outBracketRect(bar), {10 + 400 - 18, 2, 18, 22});
    cell.inPoint = 0;
    expectRect(cell.inBracketRect(bar), {10, 2, 18, 22});
}

TEST(PlayheadSliderCell, ShapesAreTheNotchedSquaresAndTheDownwardPentagon)
{
    const QRectF r(0, 0, 10, 10);
    EXPECT_EQ(BVPlayheadSliderCell::inBracketPolygon(r),
        QPolygonF({{2, 2}, {8, 2}, {8, 8}, {2, 8}, {5, 5}, {2, 2}}));
    EXPECT_EQ(BVPlayheadSliderCell::outBracketPolygon(r),
        QPolygonF({{8, 2}, {2, 2}, {2, 8}, {8, 8}, {5, 5}, {8, 2}}));
    EXPECT_EQ(
        BVPlayheadSliderCell::knobPolygon(r), QPolygonF({{2, 2}, {8, 2}, {8, 7}, {5, 9}, {2, 7}, {2, 2}}));
    const QRectF bar(10, 11, 400, 4);
    expectRect(BVPlayheadSliderCell::knobRect(bar, 0.5), {210 - 9, 13 - 11, 18, 22});
    expectRect(BVPlayheadSliderCell::knobRect(bar, 7), {410 - 9, 2, 18, 22}); // clamped
    expectRect(BVPlayheadSliderCell::knobRect(bar, std::nan("")), {10 - 9, 2, 18, 22});
}

TEST(PlayheadSliderCell, PaintsBarRangesBracketsAndKnob)
{
    BVPlayheadSliderCell cell;
    cell.bufferedTimeRanges = {0.f, 0.6f};
    cell.inPoint = 0.1;
    cell.outPoint = 0.8;
    QImage image(420, 26, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(30, 30, 32));
    {
        QPainter painter(&image);
        cell.draw(painter, bounds, 0.3);
    }
    const QRectF bar = BVPlayheadSliderCell::barRect(bounds);
    const int barY = int(bar.center().y());
    auto at
        = [&](double fraction) { return QColor(image.pixel(int(bar.x() + fraction * bar.width()), barY)); };
    const QColor unbuffered = at(0.95);
    const QColor buffered = at(0.5);
    const QColor played = at(0.2);
    EXPECT_LT(unbuffered.lightness(), 80); // dark bar
    EXPECT_GT(buffered.lightness(), unbuffered.lightness() + 20); // loaded range is lighter
    EXPECT_GT(played.blue(), played.red() + 60); // played part in the accent colour
    // The knob's body is near white.
    const QRectF knob = BVPlayheadSliderCell::knobRect(bar, 0.3);
    EXPECT_GT(
        QColor(image.pixel(int(knob.center().x()), int(knob.y() + knob.height() * 0.4))).lightness(), 200);
    // The in bracket's body: right of its notch.
    const QRectF in = cell.inBracketRect(bar);
    EXPECT_GT(
        QColor(image.pixel(int(in.x() + in.width() * 0.7), int(in.y() + in.height() * 0.3))).lightness(),
        200);
    const QString binary = qEnvironmentVariable("BV_BINARY_DIR");
    if (!binary.isEmpty()) {
        QDir().mkpath(binary + "/screenshots");
        image.scaled(image.size() * 2).save(binary + "/screenshots/scrubber.png");
    }
}

TEST(PlayheadSlider, ValueMapsToTheBarAndModelUpdatesEmitNothing)
{
    BVPlayheadSlider slider;
    slider.resize(420, 26);
    slider.setRange(0, 10);
    const QRectF bar = BVPlayheadSliderCell::barRect(QRectF(slider.rect()));
    EXPECT_DOUBLE_EQ(slider.valueAtX(bar.x() + bar.width() / 2), 5);
    EXPECT_DOUBLE_EQ(slider.valueAtX(-50), 0);
    EXPECT_DOUBLE_EQ(slider.valueAtX(5000), 10);
    EXPECT_DOUBLE_EQ(slider.xForValue(10), bar.right());

    int signals = 0;
    QObject::connect(&slider, &BVPlayheadSlider::scrubbed, [&](double) { ++signals; });
    QObject::connect(&slider, &BVPlayheadSlider::scrubbingBegan, [&](double) { ++signals; });
    slider.setValue(2.5);
    EXPECT_DOUBLE_EQ(slider.value(), 2.5);
    EXPECT_DOUBLE_EQ(slider.fraction(), 0.25);
    slider.setValue(99);
    EXPECT_DOUBLE_EQ(slider.value(), 10);
    slider.setValue(std::nan(""));
    EXPECT_DOUBLE_EQ(slider.value(), 10);
    slider.setRange(0, 4); // shrinking the range pulls the value in
    EXPECT_DOUBLE_EQ(slider.value(), 4);
    EXPECT_EQ(signals, 0);
}

TEST(PlayheadSlider, PressDragReleaseScrubs)
{
    BVPlayheadSlider slider;
    slider.resize(420, 26);
    slider.setRange(0, 100);
    const QRectF bar = BVPlayheadSliderCell::barRect(QRectF(slider.rect()));
    QList<QPair<QString, double>> events;
    QObject::connect(&slider, &BVPlayheadSlider::scrubbingBegan,
        [&](double v) { events << qMakePair(QString("begin"), v); });
    QObject::connect(
        &slider, &BVPlayheadSlider::scrubbed, [&](double v) { events << qMakePair(QString("move"), v); });
    QObject::connect(&slider, &BVPlayheadSlider::scrubbingEnded,
        [&](double v) { events << qMakePair(QString("end"), v); });

    sendMouse(&slider, QEvent::MouseButtonPress, bar.x() + bar.width() * 0.25, Qt::LeftButton);
    EXPECT_TRUE(slider.isScrubbing());
    sendMouse(&slider, QEvent::MouseMove, bar.x() + bar.width() * 0.5, Qt::LeftButton);
    sendMouse(
        &slider, QEvent::MouseMove, bar.x() + bar.width() * 0.5, Qt::LeftButton); // no change: no signal
    sendMouse(&slider, QEvent::MouseButtonRelease, bar.x() + bar.width() * 0.75, Qt::NoButton);
    EXPECT_FALSE(slider.isScrubbing());
    ASSERT_EQ(events.size(), 4);
    EXPECT_EQ(events[0].first, "begin");
    EXPECT_NEAR(events[0].second, 25, 1e-9);
    EXPECT_EQ(events[1].first, "move");
    EXPECT_NEAR(events[1].second, 50, 1e-9);
    EXPECT_EQ(events[2].first, "move");
    EXPECT_NEAR(events[2].second, 75, 1e-9);
    EXPECT_EQ(events[3].first, "end");
    EXPECT_NEAR(slider.value(), 75, 1e-9);

    // A disabled scrubber ignores the mouse.
    slider.setEnabled(false);
    events.clear();
    sendMouse(&slider, QEvent::MouseButtonPress, bar.x(), Qt::LeftButton);
    EXPECT_TRUE(events.isEmpty());
}
