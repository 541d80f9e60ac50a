// Pure geometry of the player window and its overlays: window fitting, size commands, safe-area
// frames, the timecode overlay's constraints and stored position, the hover tip, font fitting.
#include "player/window/BVSafeAreaOverlay.h"
#include "player/window/BVTimecodeHoverView.h"
#include "player/window/BVTimecodeOverlay.h"
#include "player/window/BVTimecodeTextField.h"
#include "player/window/BVWindowGeometry.h"

#include <QFontMetrics>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr double strip = 60;
constexpr double title = 28;

void expectRect(const QRectF &actual, const QRectF &expected, const char *label)
{
    SCOPED_TRACE(label);
    EXPECT_NEAR(actual.x(), expected.x(), 0.01);
    EXPECT_NEAR(actual.y(), expected.y(), 0.01);
    EXPECT_NEAR(actual.width(), expected.width(), 0.01);
    EXPECT_NEAR(actual.height(), expected.height(), 0.01);
}

} // namespace

TEST(WindowGeometry, FitsTheWindowToTheMediaAndTheScreen)
{
    struct Case
    {
        const char *label;
        QSizeF media;
        QRectF current;
        QRectF screen;
        bool fitToScreen;
        QRectF expected;
    };
    const QRectF wide(0, 0, 1920, 1080);
    const Case cases[] = {
        {"narrow media open 540 wide, height scaled", {320, 240}, {100, 100, 600, 400}, wide, false,
            {100, 100, 540, 405 + strip + title}},
        {"1080p on a 1440-wide screen fits the screen", {1920, 1080}, {100, 100, 600, 400}, {0, 0, 1440, 900},
            true, {0, 0, 1440, 900}},
        {"a wider window grows to the left", {1280, 720}, {500, 100, 800, 600}, wide, false,
            {20, 100, 1280, 720 + strip + title}},
        {"growing never passes the screen's left edge", {1280, 720}, {100, 100, 800, 600}, wide, false,
            {0, 100, 1280, 720 + strip + title}},
        {"a narrower window keeps its origin", {640, 360}, {300, 50, 800, 600}, wide, false,
            {300, 50, 640, 360 + strip + title}},
        {"media taller than the screen fit the screen", {1000, 1000}, {0, 0, 600, 400}, wide, true, wide},
        {"a window near the bottom is moved up onto the screen", {1280, 720}, {100, 700, 1280, 800}, wide,
            false, {100, 1080 - (720 + strip + title), 1280, 720 + strip + title}},
        {"second screen to the right: never left of its own edge", {1280, 720}, {2000, 100, 600, 400},
            {1920, 0, 1920, 1080}, false, {1920, 100, 1280, 720 + strip + title}},
    };
    for (const Case &c : cases) {
        const BVWindowGeometry::Fit fit
            = BVWindowGeometry::resizeWindowToFit(c.media, strip, title, c.current, c.screen);
        SCOPED_TRACE(c.label);
        EXPECT_EQ(fit.fitToScreen, c.fitToScreen);
        expectRect(fit.frame, c.expected, c.label);
        if (!c.fitToScreen) {
            EXPECT_NEAR(
                fit.aspectRatio.width() / fit.aspectRatio.height(), c.media.width() / c.media.height(), 1e-9);
        }
    }
}

TEST(WindowGeometry, SizeToFitFallsBackToStoredSizeThenDefault)
{
    const QVariantMap stored {{"naturalWidth", 1280.0}, {"naturalHeight", 720.0}};
    const QVariantMap widthOnly {{"naturalWidth", 1280.0}};
    EXPECT_EQ(BVWindowGeometry::sizeToFit({1920, 1080}, stored, false), QSizeF(1920, 1080));
    EXPECT_EQ(BVWindowGeometry::sizeToFit({0, 0}, stored, false), QSizeF(1280, 720));
    EXPECT_EQ(BVWindowGeometry::sizeToFit({1920, 0}, stored, false), QSizeF(1280, 720));
    EXPECT_EQ(BVWindowGeometry::sizeToFit({0, 0}, widthOnly, false), QSizeF(960, 540));
    EXPECT_EQ(BVWindowGeometry::sizeToFit({0, 0}, {}, false), QSizeF(960, 540));
    EXPECT_EQ(BVWindowGeometry::sizeToFit({0, 0}, {{"naturalWidth", 0}, {"naturalHeight", 720}}, false),
        QSizeF(960, 540));
    EXPECT_EQ(BVWindowGeometry::sizeToFit({0, 0}, {}, true), QSizeF(600, 100));
}

TEST(WindowGeometry, SizeCommandsAddStripAndTitleBar)
{
    const QRectF current(40, 30, 800, 500);
    expectRect(BVWindowGeometry::setActualSize({1920, 1080}, strip, title, current),
        {40, 30, 1920, 1080 + strip + title}, "actual");
    expectRect(BVWindowGeometry::setHalfSize({1920, 1080}, strip, title, current, {400, 200}),
        {40, 30, 960, 540 + strip + title}, "half");
    expectRect(BVWindowGeometry::setHalfSize({400, 200}, strip, title, current, {540, 300}),
        {40, 30, 540, 300}, "half never below the minimum size");
    expectRect(BVWindowGeometry::setActualSize({0, 0}, strip, title, current), current, "no natural size");
    expectRect(BVWindowGeometry::audioBarFrame(current, strip), {40, 30, 620, strip + 20}, "audio bar");
    expectRect(BVWindowGeometry::fitToScreen({0, 25, 1440, 875}), {0, 25, 1440, 875}, "fit to screen");
    EXPECT_EQ(BVWindowGeometry::heightOfTitleBar({0, 0, 800, 628}, {0, 28, 800, 600}), 28);
    EXPECT_EQ(BVWindowGeometry::heightOfTitleBar({0, 0, 800, 600}, {0, 0, 800, 600}), 0);
}

TEST(WindowGeometry, LiveResizeKeepsThePictureShape)
{
    // 16:9 picture under 88 points of strip and title bar: width 1000 gives 562.5 + 88.
    EXPECT_EQ(BVWindowGeometry::windowWillResize({1000, 300}, {1920, 1080}, 88), QSizeF(1000, 651));
    EXPECT_EQ(BVWindowGeometry::windowWillResize({640, 900}, {1920, 1080}, 88), QSizeF(640, 448));
    EXPECT_EQ(BVWindowGeometry::windowWillResize({640, 900}, {}, 88), QSizeF(640, 900));
}

TEST(SafeAreaOverlay, FramesFollowTheMarginsInTheirAreas)
{
    struct Case
    {
        const char *label;
        QRectF bounds;
        bool is169;
        double h, v;
        QRectF expected;
    };
    const Case cases[] = {
        {"16:9 action on 16:9", {0, 0, 1600, 900}, true, 0.05, 0.05, {80, 45, 1440, 810}},
        {"16:9 title on 16:9", {0, 0, 1600, 900}, true, 0.1, 0.1, {160, 90, 1280, 720}},
        {"4:3 action on 16:9 is centred", {0, 0, 1600, 900}, false, 0.05, 0.05, {260, 45, 1080, 810}},
        {"4:3 title on 16:9", {0, 0, 1600, 900}, false, 0.1, 0.1, {320, 90, 960, 720}},
        {"16:9 on 4:3 is centred vertically", {0, 0, 1200, 900}, true, 0.05, 0.05,
            {60, 112.5 + 33.75, 1080, 607.5}},
        {"4:3 on 4:3 fills the width", {0, 0, 1200, 900}, false, 0.05, 0.05, {60, 45, 1080, 810}},
        {"offset bounds", {100, 50, 1600, 900}, true, 0.05, 0.05, {180, 95, 1440, 810}},
        {"zero margins give the area itself", {0, 0, 1600, 900}, false, 0, 0, {200, 0, 1200, 900}},
    };
    for (const Case &c : cases) {
        const QRectF r = c.is169 ? BVSafeAreaOverlay::safeRect169(c.bounds, c.h, c.v)
                                 : BVSafeAreaOverlay::safeRect43(c.bounds, c.h, c.v);
        expectRect(r, c.expected, c.label);
    }
}

TEST(SafeAreaOverlay, DrawsOnlyTheFramesOfItsFlags)
{
    BVSafeAreaOverlay overlay;
    overlay.resize(1600, 900);
    EXPECT_TRUE(overlay.frames().isEmpty());
    overlay.setShow169(true);
    ASSERT_EQ(overlay.frames().size(), 2);
    expectRect(overlay.frames().at(0), {80, 45, 1440, 810}, "action");
    expectRect(overlay.frames().at(1), {160, 90, 1280, 720}, "title");
    overlay.setShow43(true);
    EXPECT_EQ(overlay.frames().size(), 4);
    overlay.setShow169(false);
    ASSERT_EQ(overlay.frames().size(), 2);
    expectRect(overlay.frames().at(0), {260, 45, 1080, 810}, "4:3 action");
}

TEST(TimecodeOverlay, ConstraintsKeepItAboveTheStripAndBelowTheTop)
{
    const QRect constraints(0, 0, 800, 500); // the control strip starts at y = 500
    struct Case
    {
        const char *label;
        QPoint at;
        QPoint expected;
    };
    const Case cases[] = {
        {"inside stays", {100, 100}, {100, 100}},
        {"bottom stops 10 above the strip", {100, 480}, {100, 500 - 10 - 40}},
        {"top stops 5 below the top", {100, -30}, {100, 5}},
        {"right edge stays inside", {700, 100}, {600, 100}},
        {"left edge stays inside", {-15, 100}, {0, 100}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        const QRect frame = BVTimecodeOverlay::constrainedFrame(QRect(c.at, QSize(200, 40)), constraints);
        EXPECT_EQ(frame.topLeft(), c.expected);
        EXPECT_EQ(frame.size(), QSize(200, 40));
    }
    // Offset constraints (a strip at the top of a host, say) are honoured the same way.
    EXPECT_EQ(BVTimecodeOverlay::constrainedFrame(QRect(0, 0, 200, 40), QRect(50, 60, 800, 500)).topLeft(),
        QPoint(50, 65));
}

TEST(TimecodeOverlay, StoredPositionComesBackAtTheSameRelativePlace)
{
    const QRect small(0, 0, 800, 500);
    const QRect large(0, 0, 1600, 1000);
    const QRect frame(300, 200, 200, 40);
    const QPointF stored = BVTimecodeOverlay::storedPosition(frame, small);
    EXPECT_DOUBLE_EQ(stored.x(), 300.0 / 800);
    EXPECT_DOUBLE_EQ(stored.y(), (500.0 - 240) / 500); // bottom's height above the strip
    EXPECT_EQ(BVTimecodeOverlay::frameForStoredPosition(stored, frame.size(), small), frame);
    EXPECT_EQ(
        BVTimecodeOverlay::frameForStoredPosition(stored, frame.size(), large), QRect(600, 440, 200, 40));
    // Positions outside the picture come back inside it: a negative one just above the strip.
    EXPECT_EQ(
        BVTimecodeOverlay::frameForStoredPosition({0.2, -0.5}, {200, 40}, small), QRect(160, 450, 200, 40));
    EXPECT_EQ(BVTimecodeOverlay::frameForStoredPosition({1.5, 2}, {200, 40}, small), QRect(600, 5, 200, 40));
}

TEST(TimecodeHoverView, TipIsCentredOnThePointerAndReadsTheTimeUnderIt)
{
    EXPECT_EQ(BVTimecodeHoverView::leftEdgeForLocation(10, 100.3, 80), 71);
    EXPECT_EQ(BVTimecodeHoverView::leftEdgeForLocation(0, 20, 80), -20);

    const MediaTime duration(6000, 600);
    const MediaTime quarter = BVTimecodeHoverView::timeAtLocation(250, 1000, duration);
    EXPECT_EQ(quarter.value(), 1500);
    EXPECT_EQ(quarter.timescale(), 600);
    EXPECT_EQ(BVTimecodeHoverView::timeAtLocation(333, 1000, duration).value(), 1998); // truncated
    EXPECT_FALSE(BVTimecodeHoverView::timeAtLocation(10, 0, duration).isValid());
    EXPECT_FALSE(BVTimecodeHoverView::timeAtLocation(10, 100, MediaTime::invalid()).isValid());
}

TEST(TimecodeTextField, FontFitsTheFieldLessForty)
{
    QFont font;
    font.setFamily(QStringLiteral("DejaVu Sans"));
    auto widthAt = [&font](int size) {
        QFont probe = font;
        probe.setPointSize(size);
        return QFontMetrics(probe).horizontalAdvance(QStringLiteral("00:00:00:00"));
    };
    for (int fieldWidth : {200, 300, 450, 900}) {
        SCOPED_TRACE(fieldWidth);
        const int size = BVTimecodeTextField::fittedPointSize(font, fieldWidth, 10, 200);
        EXPECT_GE(size, 10);
        EXPECT_LE(size, 200);
        EXPECT_LE(widthAt(size), fieldWidth - 40);
        if (size < 200) {
            EXPECT_GT(widthAt(size + 1), fieldWidth - 40); // the largest that fits
        }
    }
    EXPECT_EQ(BVTimecodeTextField::fittedPointSize(font, 30, 10, 200), 10); // never below the minimum
    EXPECT_EQ(BVTimecodeTextField::fittedPointSize(font, 100000, 10, 0), 300); // no maximum: 300

    QWidget field;
    field.resize(400, 80);
    field.setFont(font);
    const int applied
        = BVTimecodeTextField::resizeFontForField(&field, QStringLiteral("01:00:00:00"), 10, 200);
    EXPECT_EQ(field.font().pointSize(), applied);
    EXPECT_EQ(BVTimecodeTextField::resizeFontForField(nullptr, {}, 10, 200), -1);
}
