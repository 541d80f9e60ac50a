// The playback view and its overlays as widgets under the offscreen platform: pixels of the matte,
// rotation and safe areas, overlay lifetime, notifications, key forwarding, dragging the timecode
// overlay, and a rendered screenshot of the whole arrangement.
#include "platform/defaults/BVUserDefaults.h"
#include "platform/media/engine/MediaPlayer.h"
#include "platform/media/engine/MediaPlayerItem.h"
#include "player/window/BVAVPlaybackView.h"
#include "player/window/BVAVPlaybackViewDelegate.h"
#include "player/window/BVStatusOverlayView.h"
#include "player/window/BVTimecodeHoverView.h"
#include "player/window/BVTimecodeOverlay.h"
#include "player/window/BVTimecodeTextField.h"
#include "support/BVNotificationCenter.h"
#include "tests/common/BVTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <thread>

namespace {

// A 16:9 picture: left half red, right half blue, so that rotation and flips can be read back.
QImage halvesImage(int width = 1920, int height = 1080)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(0, 0, width / 2, height, Qt::red);
    painter.fillRect(width / 2, 0, width - width / 2, height, Qt::blue);
    return image;
}

QImage solid(const QColor &color, int width = 1920, int height = 1080)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

QColor pixel(const QImage &image, int x, int y)
{
    return QColor(image.pixel(x, y));
}

bool isBlack(const QColor &c)
{
    return c.red() < 8 && c.green() < 8 && c.blue() < 8;
}

QString screenshotFolder()
{
    const QString binary = qEnvironmentVariable("BV_BINARY_DIR");
    const QString folder = binary.isEmpty() ? BVTest::makeTempFolder("shots") : binary + "/screenshots";
    QDir().mkpath(folder);
    return folder;
}

struct PaintCounter : QObject
{
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

struct RecordingDelegate : BVAVPlaybackViewDelegate
{
    int downs = 0, ups = 0, moves = 0;
    QList<int> keys;
    bool handle = true;
    bool keyDown(BVAVPlaybackView *, QKeyEvent *event) override
    {
        ++downs;
        keys << event->key();
        return handle;
    }
    bool keyUp(BVAVPlaybackView *, QKeyEvent *) override
    {
        ++ups;
        return handle;
    }
    void mouseMoved(BVAVPlaybackView *, QMouseEvent *) override { ++moves; }
};

} // namespace

TEST(PlaybackView, PictureIsFittedInsideTheViewWithBlackBars)
{
    BVAVPlaybackView view;
    view.resize(800, 300);
    view.renderImage(solid(Qt::white));
    EXPECT_EQ(view.naturalSize(), QSizeF(1920, 1080));
    const QRectF video = view.videoRect();
    // On whole pixels: 533.33 wide rounds to 533, centred from x = 133.
    EXPECT_EQ(video.width(), 533);
    EXPECT_EQ(video.x(), 133);
    const QImage shot = view.grab().toImage();
    EXPECT_TRUE(isBlack(pixel(shot, 50, 150)));
    EXPECT_EQ(pixel(shot, 400, 150), QColor(Qt::white));
}

TEST(PlaybackView, WidescreenMatteBarsFollowTheRatio)
{
    struct Case
    {
        const char *label;
        float ratio;
        QRectF open; // what the matte leaves open on a 640 x 360 (16:9) picture
        QList<QPoint> black, white;
    };
    const Case cases[] = {
        {"2.35 puts bars above and below", 2.35f, {0, (360 - 640 / 2.35) / 2, 640, 640 / 2.35},
            {{320, 20}, {320, 340}}, {{320, 180}, {3, 180}, {636, 180}}},
        {"1.33 puts bars left and right", 1.33f, {(640 - 1.33 * 360) / 2, 0, 1.33 * 360, 360},
            {{40, 180}, {600, 180}}, {{320, 180}, {320, 3}, {320, 356}}},
        {"1.78 on 16:9 leaves the picture whole", 1.78f, {0, (360 - 640 / 1.78) / 2, 640, 640 / 1.78}, {},
            {{2, 2}, {637, 357}}},
        {"no matte", 0.f, {0, 0, 640, 360}, {}, {{1, 1}, {638, 358}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        BVAVPlaybackView view;
        view.resize(640, 360);
        view.renderImage(solid(Qt::white));
        view.setMaskRatio(c.ratio);
        const QRectF open = view.maskBoundsForRatio(c.ratio);
        EXPECT_NEAR(open.x(), c.open.x(), 0.05);
        EXPECT_NEAR(open.y(), c.open.y(), 0.05);
        EXPECT_NEAR(open.width(), c.open.width(), 0.05);
        EXPECT_NEAR(open.height(), c.open.height(), 0.05);
        const QImage shot = view.grab().toImage();
        for (const QPoint &p : c.black)
            EXPECT_TRUE(isBlack(pixel(shot, p.x(), p.y()))) << p.x() << "," << p.y();
        for (const QPoint &p : c.white)
            EXPECT_EQ(pixel(shot, p.x(), p.y()), QColor(Qt::white)) << p.x() << "," << p.y();
    }
}

TEST(PlaybackView, RotationAndFlipTurnThePicture)
{
    struct Case
    {
        int rotation;
        QPoint redAt, blueAt;
        QSizeF videoSize;
    };
    // 640 x 360 view, 16:9 picture red on the left, blue on the right.
    const Case cases[] = {
        {BVPictureRotation::RotationNone, {160, 180}, {480, 180}, {640, 360}},
        {BVPictureRotation::RotationFlipHorizontal, {480, 180}, {160, 180}, {640, 360}},
        // Angles turn counter-clockwise: 90 takes the left side down, 270 takes it up.
        {BVPictureRotation::Rotation90, {320, 300}, {320, 60}, {202.5, 360}},
        {BVPictureRotation::Rotation270, {320, 60}, {320, 300}, {202.5, 360}},
        {99, {160, 180}, {480, 180}, {640, 360}}, // unknown values leave it as it is
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.rotation);
        BVAVPlaybackView view;
        view.resize(640, 360);
        view.renderImage(halvesImage());
        view.setRotation(c.rotation);
        // The picture lies on whole pixels: within half a pixel of the exact size.
        EXPECT_NEAR(view.videoRect().width(), c.videoSize.width(), 0.5);
        EXPECT_NEAR(view.videoRect().height(), c.videoSize.height(), 0.5);
        const QImage shot = view.grab().toImage();
        EXPECT_EQ(pixel(shot, c.redAt.x(), c.redAt.y()), QColor(Qt::red));
        EXPECT_EQ(pixel(shot, c.blueAt.x(), c.blueAt.y()), QColor(Qt::blue));
    }
}

TEST(PlaybackView, SafeAreaOverlayExistsOnlyWhileAFlagIsOn)
{
    BVAVPlaybackView view;
    view.resize(800, 450);
    view.renderImage(solid(Qt::black));
    EXPECT_EQ(view.safeAreaOverlay(), nullptr);
    view.setSafeAreaOverlay(true, false);
    ASSERT_NE(view.safeAreaOverlay(), nullptr);
    EXPECT_EQ(QRectF(view.safeAreaOverlay()->geometry()), view.videoRect());
    EXPECT_TRUE(view.safeAreaOverlay()->show43());
    EXPECT_FALSE(view.safeAreaOverlay()->show169());
    view.setSafeAreaOverlay(true, true);
    EXPECT_TRUE(view.safeAreaOverlay()->show169());
    view.setSafeAreaOverlay(false, false);
    EXPECT_EQ(view.safeAreaOverlay(), nullptr);
    EXPECT_TRUE(view.findChildren<BVSafeAreaOverlay *>().isEmpty()); // removed, not hidden
}

TEST(PlaybackView, SafeAreaMarginsAreReadAgainOnUpdateBoundsNotification)
{
    BVUserDefaults *defaults = BVUserDefaults::standardUserDefaults();
    defaults->setDouble(5, "actionSafeH");
    defaults->setDouble(5, "actionSafeV");
    defaults->setDouble(10, "titleSafeH");
    defaults->setDouble(10, "titleSafeV");
    BVAVPlaybackView view;
    view.resize(640, 360);
    view.renderImage(solid(Qt::black));
    view.setSafeAreaOverlay(false, true);
    ASSERT_NE(view.safeAreaOverlay(), nullptr);
    EXPECT_DOUBLE_EQ(view.safeAreaOverlay()->actionSafeHorizontalDistance, 0.05);
    QImage shot = view.grab().toImage();
    EXPECT_EQ(pixel(shot, 32, 180), QColor(Qt::white)); // 16:9 action-safe left edge at 5 %
    EXPECT_TRUE(isBlack(pixel(shot, 40, 180)));

    defaults->setDouble(7.5, "actionSafeH");
    defaults->setDouble(200, "titleSafeV"); // nonsense margins are ignored, not drawn inside out
    BVNotificationCenter::defaultCenter().postNotification(BVAVPlaybackView::updateBoundsNotification);
    EXPECT_DOUBLE_EQ(view.safeAreaOverlay()->actionSafeHorizontalDistance, 0.075);
    EXPECT_DOUBLE_EQ(view.safeAreaOverlay()->titleSafeVerticalDistance, 0.1);
    shot = view.grab().toImage();
    EXPECT_EQ(pixel(shot, 48, 180), QColor(Qt::white));
}

TEST(PlaybackView, MouseMovementIsPostedWithTheViewAsSender)
{
    BVAVPlaybackView view;
    BVAVPlaybackView other;
    view.resize(320, 180);
    RecordingDelegate delegate;
    view.setDelegate(&delegate);
    int fromView = 0;
    int observer = 0;
    BVNotificationCenter::defaultCenter().addObserver(
        &observer, BVAVPlaybackView::mouseMoveNotification, &view, [&](const BVNotification &n) {
            EXPECT_EQ(n.sender, &view);
            ++fromView;
        });
    QMouseEvent move(
        QEvent::MouseMove, QPointF(10, 10), QPointF(10, 10), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &move);
    QMouseEvent moveOther(
        QEvent::MouseMove, QPointF(10, 10), QPointF(10, 10), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&other, &moveOther);
    BVNotificationCenter::defaultCenter().removeObserver(&observer);
    EXPECT_EQ(fromView, 1);
    EXPECT_EQ(delegate.moves, 1);
}

TEST(PlaybackView, KeysGoToTheDelegateAndKeyEquivalentsOnlyOnce)
{
    BVAVPlaybackView view;
    RecordingDelegate delegate;
    view.setDelegate(&delegate);

    QKeyEvent press(QEvent::KeyPress, Qt::Key_J, Qt::NoModifier, QStringLiteral("j"));
    QApplication::sendEvent(&view, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_J, Qt::NoModifier, QStringLiteral("j"));
    QApplication::sendEvent(&view, &release);
    EXPECT_EQ(delegate.downs, 1);
    EXPECT_EQ(delegate.ups, 1);
    EXPECT_TRUE(press.isAccepted());

    // Ctrl+Right: offered before the menu shortcuts; the key press that follows is not offered again.
    QKeyEvent override(QEvent::ShortcutOverride, Qt::Key_Right, Qt::ControlModifier);
    override.setAccepted(false); // as the shortcut machinery sends it
    QApplication::sendEvent(&view, &override);
    EXPECT_TRUE(override.isAccepted());
    QKeyEvent ctrlPress(QEvent::KeyPress, Qt::Key_Right, Qt::ControlModifier);
    QApplication::sendEvent(&view, &ctrlPress);
    EXPECT_EQ(delegate.downs, 2);
    EXPECT_TRUE(ctrlPress.isAccepted());

    // A key the delegate does not use is offered once and goes the usual way.
    delegate.handle = false;
    QKeyEvent unusedOverride(QEvent::ShortcutOverride, Qt::Key_Q, Qt::ControlModifier);
    unusedOverride.setAccepted(false);
    QApplication::sendEvent(&view, &unusedOverride);
    EXPECT_FALSE(unusedOverride.isAccepted());
    QKeyEvent unusedPress(QEvent::KeyPress, Qt::Key_Q, Qt::ControlModifier);
    QApplication::sendEvent(&view, &unusedPress);
    EXPECT_GE(delegate.downs, 3);
    EXPECT_FALSE(unusedPress.isAccepted());
    // Plain keys the delegate does not use go the usual way too.
    QKeyEvent plain(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QApplication::sendEvent(&view, &plain);
    EXPECT_FALSE(plain.isAccepted());
}

TEST(PlaybackView, FramesRenderedFromAnotherThreadAreShown)
{
    BVAVPlaybackView view;
    view.resize(320, 180);
    std::thread render([&view] {
        for (int i = 0; i < 20; ++i)
            view.renderImage(solid(i % 2 ? Qt::green : Qt::white, 640, 360));
    });
    render.join();
    BVTest::spin(std::chrono::milliseconds(20));
    EXPECT_EQ(view.naturalSize(), QSizeF(640, 360));
    EXPECT_EQ(pixel(view.grab().toImage(), 160, 90), QColor(Qt::green));
}

TEST(PlaybackView, WaveformFillsTheWholeView)
{
    BVAVPlaybackView view;
    view.resize(600, 100);
    view.showWaveformImage(solid(Qt::green, 1200, 180));
    EXPECT_EQ(view.videoRect(), QRectF(0, 0, 600, 100));
    const QImage shot = view.grab().toImage();
    EXPECT_EQ(pixel(shot, 1, 1), QColor(Qt::green));
    EXPECT_EQ(pixel(shot, 598, 98), QColor(Qt::green));
}

TEST(PlaybackView, AnnotationLayerFollowsThePicture)
{
    BVAVPlaybackView view;
    view.resize(800, 300);
    view.renderImage(solid(Qt::white));
    view.show(); // a hidden widget's resizes are only applied when it is shown
    auto *layer = new QWidget;
    view.setAnnotationLayer(layer);
    EXPECT_EQ(view.annotationLayer(), layer);
    EXPECT_EQ(layer->parentWidget(), &view);
    EXPECT_EQ(QRectF(layer->geometry()), QRectF(view.videoRect().toAlignedRect()));
    view.resize(400, 300);
    EXPECT_EQ(QRectF(layer->geometry()), QRectF(view.videoRect().toAlignedRect()));
}

TEST(PlaybackView, ShowsTheEnginesPictureAndFollowsSeeks)
{
    const QString path = BVTest::sampleMedia(QStringLiteral("movie"),
        {QStringLiteral("--size"), QStringLiteral("320x180"), QStringLiteral("--duration"),
            QStringLiteral("3")});
    ASSERT_FALSE(path.isEmpty());
    auto player = std::make_unique<MediaPlayer>();
    player->replaceCurrentItem(MediaPlayerItem::create(path));
    ASSERT_TRUE(BVTest::waitFor([&] { return player->currentImage() != nullptr; }, std::chrono::seconds(20)));

    auto view = std::make_unique<BVAVPlaybackView>();
    view->resize(320, 180); // 1:1, so the view's pixels are the picture's
    view->show();
    view->setPlayer(player.get());
    EXPECT_EQ(view->player(), player.get());
    auto matches = [&] {
        std::shared_ptr<const QImage> picture = player->currentImage();
        const QImage shot = view->grab().toImage();
        for (QPoint p : {QPoint(40, 40), QPoint(160, 90), QPoint(300, 170)}) {
            if (shot.pixel(p) != picture->pixel(p))
                return false;
        }
        return true;
    };
    EXPECT_TRUE(matches());

    // A seek brings a new picture; the view repaints with it through the engine's frame handler.
    const QImage before = view->grab().toImage();
    BVTest::spin(std::chrono::milliseconds(50));
    PaintCounter paints;
    view->installEventFilter(&paints);
    bool sought = false;
    player->seekToTime(MediaTime(2, 1), [&](bool) { sought = true; });
    ASSERT_TRUE(BVTest::waitFor([&] { return sought; }, std::chrono::seconds(20)));
    EXPECT_TRUE(BVTest::waitFor([&] { return paints.count > 0; }, std::chrono::seconds(5)));
    view->removeEventFilter(&paints);
    ASSERT_TRUE(BVTest::waitFor([&] { return matches(); }, std::chrono::seconds(5)));
    EXPECT_NE(view->grab().toImage(), before);

    // The view gives the handler back when it goes away; pictures after that reach nobody.
    view.reset();
    sought = false;
    player->seekToTime(MediaTime(1, 1), [&](bool) { sought = true; });
    EXPECT_TRUE(BVTest::waitFor([&] { return sought; }, std::chrono::seconds(20)));
    BVTest::spin(std::chrono::milliseconds(100));
}

TEST(TimecodeOverlay, DraggingToTheBottomStopsTenPointsAboveTheStripAndIsRestored)
{
    BVUserDefaults *defaults = BVUserDefaults::standardUserDefaults();
    defaults->removeObjectForKey(BVTimecodeOverlay::xKey);
    defaults->removeObjectForKey(BVTimecodeOverlay::yKey);

    QWidget host;
    host.resize(800, 560); // a 60-point strip at the bottom
    BVTimecodeOverlay overlay(&host);
    overlay.setConstraints(QRect(0, 0, 800, 500));
    EXPECT_FALSE(overlay.setTimecodeOverlayPosition()); // nothing stored yet
    overlay.move(100, 100);
    const QSize size = overlay.size();

    auto send = [&overlay](QEvent::Type type, QPoint global, Qt::MouseButtons buttons) {
        const QPointF local = overlay.mapFromParent(global); // host is at the screen's origin here
        QMouseEvent event(type, local, QPointF(global), QPointF(global),
            type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(&overlay, &event);
    };
    send(QEvent::MouseButtonPress, {110, 110}, Qt::LeftButton);
    send(QEvent::MouseMove, {150, 400}, Qt::LeftButton);
    send(QEvent::MouseMove, {160, 900}, Qt::LeftButton); // far below the strip
    send(QEvent::MouseButtonRelease, {160, 900}, Qt::NoButton);
    EXPECT_EQ(overlay.geometry().bottom() + 1, 500 - 10);
    EXPECT_EQ(overlay.x(), 150);

    // Another window of another size puts it at the same relative place.
    QWidget bigger;
    bigger.resize(1600, 1060);
    BVTimecodeOverlay restored(&bigger);
    restored.resize(size);
    restored.setConstraints(QRect(0, 0, 1600, 1000));
    ASSERT_TRUE(restored.setTimecodeOverlayPosition());
    EXPECT_EQ(restored.x(), 300);
    EXPECT_EQ(restored.geometry().bottom() + 1, 1000 - 20);
}

TEST(StatusOverlay, SitsAtTheTopRightOfItsHost)
{
    EXPECT_EQ(
        BVStatusOverlayView::topRightFrame(QRect(0, 0, 800, 450), QSize(150, 30)), QRect(630, 20, 150, 30));
    QWidget host;
    host.resize(800, 450);
    BVStatusOverlayView status(&host);
    EXPECT_TRUE(status.isHidden());
    status.showText(QStringLiteral("2x Forward"));
    EXPECT_FALSE(status.isHidden());
    EXPECT_EQ(status.geometry().right() + 1, 800 - 20);
    EXPECT_EQ(status.y(), 20);
    EXPECT_EQ(status.text(), QStringLiteral("2x Forward"));
}

TEST(TimecodeTextField, HandsOverWhatWasTypedOnReturn)
{
    BVTimecodeTextField field;
    QStringList entered;
    int cancelled = 0;
    QObject::connect(&field, &BVTimecodeTextField::timecodeEntered, [&](const QString &t) { entered << t; });
    QObject::connect(&field, &BVTimecodeTextField::entryCancelled, [&] { ++cancelled; });
    for (const char *typed : {"+10", "1.2.3", "01:00:00;12", "abc"}) {
        field.clear();
        for (QChar ch : QString::fromLatin1(typed)) {
            QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
            QApplication::sendEvent(&field, &key);
        }
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(&field, &enter);
    }
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&field, &escape);
    EXPECT_EQ(entered, (QStringList {"+10", "1.2.3", "01:00:00;12", ""})); // letters are not taken
    EXPECT_EQ(cancelled, 1);
}

TEST(PlaybackView, ScreenshotOfPictureWithOverlays)
{
    QWidget window;
    window.setStyleSheet(QStringLiteral("background: #161618;"));
    window.resize(960, 600);
    auto *view = new BVAVPlaybackView(&window);
    view->setGeometry(0, 0, 960, 540);
    QImage picture(1920, 1080, QImage::Format_RGB32);
    {
        QPainter painter(&picture);
        QLinearGradient sky(0, 0, 0, 1080);
        sky.setColorAt(0, QColor(40, 70, 120));
        sky.setColorAt(1, QColor(200, 140, 90));
        painter.fillRect(picture.rect(), sky);
        painter.setBrush(QColor(30, 30, 36));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QPointF(960, 1300), 1400, 500);
    }
    view->renderImage(picture);
    view->setMaskRatio(2.35f);
    view->setSafeAreaOverlay(true, true);
    auto *overlay = new BVTimecodeOverlay(view);
    overlay->setTimecode(QStringLiteral("01:00:12;17"));
    overlay->move(40, 420);
    auto *status = new BVStatusOverlayView(view);
    status->showText(QStringLiteral("2x Forward"));
    auto *hover = new BVTimecodeHoverView(&window);
    hover->setGeometry(0, 548, 100, 20);
    hover->showAtLocation(480, QStringLiteral("01:00:30:00"));
    auto *field = new BVTimecodeTextField(&window);
    field->setGeometry(20, 566, 160, 28);
    field->setText(QStringLiteral("01:00:12;17"));
    const QString path = screenshotFolder() + "/playback-view.png";
    ASSERT_TRUE(window.grab().save(path));
    const QImage shot(path);
    EXPECT_TRUE(isBlack(pixel(shot, 480, 30))); // matte bar
    EXPECT_FALSE(isBlack(pixel(shot, 480, 270))); // picture
}
