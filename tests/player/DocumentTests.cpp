// The player document: opening errors, the three timecode display modes, playback-position memory
// with its 5 % / 95 % rules and throttle (without a window), window fitting, view options from the menus,
// muting, auxiliary windows and late callbacks after cleanup.
#include "DocumentTestSupport.h"

#include "player/media/BVImageSequence.h"
#include "player/time/BVAVFoundation.h"
#include "player/window/BVTimecodePanel.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QTest>

using namespace DocumentTest;

namespace {

QVariantMap fileEntry(const QString &path)
{
    return defaults()
        ->dictionaryForKey(QStringLiteral("fileSettings"))
        .value(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded))
        .toMap();
}

MediaTime storedPosition(const QString &path)
{
    return MediaTime::fromDictionary(fileEntry(path).value(QStringLiteral("playbackPos")).toMap());
}

class Document : public ::testing::Test
{
protected:
    void SetUp() override { resetSettings(); }
};

} // namespace

TEST_F(Document, OpeningAMissingFileFailsWithAReason)
{
    ScreenDocument document;
    BVError error;
    EXPECT_FALSE(
        document.readFromURL(QUrl::fromLocalFile(BVTest::homeDirectory() + QStringLiteral("/none.mov")),
            BVDocument::movieType(), &error));
    EXPECT_FALSE(error.isNull());
    EXPECT_FALSE(error.localizedFailureReason().isEmpty());
    EXPECT_EQ(document.mediaObject(), nullptr);
    EXPECT_FALSE(
        document.readFromURL(QUrl(QStringLiteral("ftp://example.com/a.mov")), BVDocument::movieType()));
}

TEST_F(Document, DisplaysTimecodeInTheThreeModes)
{
    const QString path = movie();
    auto document = open(path);
    ASSERT_TRUE(
        seekAndWait(*document, BVAVFoundation::timeFromFrameCount(30, document->mediaObject()->fps())));
    const struct
    {
        int mode;
        QString display;
    } cases[] = {
        {0, QStringLiteral("01:00:01:06")},
        {1, QStringLiteral("00:00:01:06")},
        {2, QStringLiteral("30")},
    };
    for (const auto &c : cases) {
        document->modifyTimecodeDisplay(c.mode);
        QString raw;
        EXPECT_EQ(document->currentDisplayTimecode(&raw), c.display) << c.mode;
        EXPECT_EQ(raw, QStringLiteral("01:00:01:06"));
        EXPECT_EQ(document->updateTimecode(), c.display);
        EXPECT_EQ(document->timecodePanel()->text(), c.display);
        EXPECT_TRUE(
            document->actionNamed(QStringLiteral("modifyTimecodeDisplay:%1").arg(c.mode))->isChecked());
    }
    document->close();
}

TEST_F(Document, RemembersPositionsWithTheFivePercentRules)
{
    const QString path = movie(QStringLiteral("320x240"), QStringLiteral("10"));
    defaults()->setBool(true, QStringLiteral("savePlaybackPos"));
    auto document = openHeadless(path);
    const MediaTime duration = document->mediaObject()->duration();
    const struct
    {
        double fraction;
        MediaTime expected;
    } cases[] = {
        {0.03, MediaTime(0, 1)},
        {0.97, MediaTime(int64_t(double(duration.value()) * 0.9), duration.timescale())},
        {0.5, MediaTime::zero()}, // the position itself, checked below
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.fraction);
        ASSERT_TRUE(seekAndWait(*document, MediaTime::fromSeconds(c.fraction * duration.seconds(), 600)));
        document->savePlaybackPosition(true); // a forced save
        const MediaTime stored = storedPosition(path);
        if (c.fraction == 0.5)
            EXPECT_EQ(stored, document->mediaObject()->currentTime());
        else
            EXPECT_EQ(stored, c.expected);
    }
    ASSERT_TRUE(seekAndWait(*document, MediaTime::fromSeconds(0.97 * duration.seconds(), 600)));
    document->savePlaybackPosition(true);
    EXPECT_DOUBLE_EQ(fileEntry(path).value(QStringLiteral("naturalWidth")).toDouble(), 320);
    EXPECT_DOUBLE_EQ(fileEntry(path).value(QStringLiteral("naturalHeight")).toDouble(), 240);
    document->cleanup();
    document.reset();

    // Reopening resumes at 90 %.
    ASSERT_EQ(storedPosition(path), MediaTime(int64_t(double(duration.value()) * 0.9), duration.timescale()));
    auto reopened = openHeadless(path);
    EXPECT_TRUE(BVTest::waitFor([&] {
        return std::fabs(seconds(*reopened) - 0.9 * duration.seconds()) < 0.05;
    })) << seconds(*reopened);
    reopened->cleanup();
}

TEST_F(Document, UnforcedSavesComeAtMostEveryTenSeconds)
{
    const QString path = movie(QStringLiteral("320x240"), QStringLiteral("10"));
    auto document = openHeadless(path);
    defaults()->setBool(true, QStringLiteral("savePlaybackPos"));
    // The first unforced save is written (the seek's scrubber sync makes it).
    ASSERT_TRUE(seekAndWait(*document, MediaTime(5, 1)));
    document->savePlaybackPosition();
    // The start of the frame on screen: 5 s at 23.976 is inside frame 119 (119.88 frames in).
    EXPECT_EQ(storedPosition(path), MediaTime(119 * 1001, 24000));
    const MediaTime first = storedPosition(path);
    // A second one moments later is not.
    ASSERT_TRUE(seekAndWait(*document, MediaTime(6, 1)));
    document->savePlaybackPosition();
    EXPECT_EQ(storedPosition(path), first);
    // A forced one always is.
    document->savePlaybackPosition(true);
    const MediaTime second = storedPosition(path);
    EXPECT_EQ(second, MediaTime(143 * 1001, 24000)); // 6 s is 143.86 frames in
    EXPECT_NE(second, first);
    // With the setting off nothing is written.
    defaults()->setBool(false, QStringLiteral("savePlaybackPos"));
    ASSERT_TRUE(seekAndWait(*document, MediaTime(2, 1)));
    document->savePlaybackPosition(true);
    EXPECT_EQ(storedPosition(path), second);
    document->cleanup();
}

TEST_F(Document, SavingKeepsTheOtherKeysOfTheFileEntry)
{
    const QString path = movie();
    const QString key = QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
    defaults()->setObject(QVariantMap {{key, QVariantMap {{QStringLiteral("markers"), QVariantList {1, 2}}}},
                              {QStringLiteral("file:///other.mov"), QVariantMap {{QStringLiteral("x"), 1}}}},
        QStringLiteral("fileSettings"));
    defaults()->setBool(true, QStringLiteral("savePlaybackPos"));
    auto document = openHeadless(path);
    ASSERT_TRUE(seekAndWait(*document, MediaTime(5, 1)));
    document->savePlaybackPosition(true);
    const QVariantMap all = defaults()->dictionaryForKey(QStringLiteral("fileSettings"));
    EXPECT_EQ(all.value(key).toMap().value(QStringLiteral("markers")), QVariant(QVariantList {1, 2}));
    EXPECT_TRUE(all.value(key).toMap().contains(QStringLiteral("playbackPos")));
    EXPECT_TRUE(all.contains(QStringLiteral("file:///other.mov")));
    document->cleanup();
}

TEST_F(Document, WindowFitsTheMediaOrTheScreen)
{
    // A 320 x 240 clip opens with its picture scaled to 540 x 405; the window adds what it puts
    // around the picture (menu bar, strip, borders).
    auto small = open(movie());
    EXPECT_EQ(small->playbackView()->size(), QSize(540, 405));
    EXPECT_GE(small->window()->frameGeometry().height(), 405 + small->controlStripHeight());
    small->close();

    // A 1920 x 1080 clip on a 1440-wide screen fits the screen.
    const QRect screen(0, 0, 1440, 900);
    auto large = open(movie(QStringLiteral("1920x1080"), QStringLiteral("2")), screen);
    EXPECT_EQ(large->window()->frameGeometry(), screen);
    // Actual size and half size follow the picture; fit to screen takes the screen.
    large->screen = QRect(0, 0, 2560, 1440);
    large->windowController()->setHalfSize();
    EXPECT_EQ(large->playbackView()->size(), QSize(960, 540));
    large->windowController()->setActualSize();
    EXPECT_EQ(large->playbackView()->size(), QSize(1920, 1080));
    large->windowController()->fitToScreen();
    EXPECT_EQ(large->window()->frameGeometry(), large->screen);
    large->close();
}

TEST_F(Document, DisplayMenusStoreTheSettingsAndTickTheirItems)
{
    auto document = open(movie(QStringLiteral("640x360"), QStringLiteral("2")));
    BVAVPlaybackView *view = document->playbackView();
    document->actionNamed(QStringLiteral("changeMatte:5"))->trigger();
    EXPECT_FLOAT_EQ(defaults()->floatForKey(QStringLiteral("mask")), 2.35f);
    EXPECT_FLOAT_EQ(view->maskRatio(), 2.35f);
    EXPECT_TRUE(document->actionNamed(QStringLiteral("changeMatte:5"))->isChecked());
    EXPECT_FALSE(document->actionNamed(QStringLiteral("changeMatte:0"))->isChecked());
    // 2.35 on a 16:9 picture: bars above and below.
    const QRectF open235 = view->maskBoundsForRatio(2.35);
    EXPECT_LT(open235.height(), view->videoRect().height());
    EXPECT_NEAR(open235.width(), view->videoRect().width(), 1);
    document->actionNamed(QStringLiteral("changeMatte:1"))->trigger();
    const QRectF open133 = view->maskBoundsForRatio(1.33);
    EXPECT_LT(open133.width(), view->videoRect().width());

    document->actionNamed(QStringLiteral("changeRotation:4"))->trigger();
    EXPECT_EQ(defaults()->integerForKey(QStringLiteral("rotation")), 4);
    EXPECT_EQ(view->rotation(), 4);
    EXPECT_TRUE(document->validateMenuItem(QStringLiteral("changeRotation:4")));

    document->actionNamed(QStringLiteral("toggle43Overlay"))->trigger();
    EXPECT_TRUE(defaults()->boolForKey(QStringLiteral("safe43Overlay")));
    EXPECT_TRUE(view->show43Safe());
    EXPECT_NE(view->safeAreaOverlay(), nullptr);
    document->actionNamed(QStringLiteral("toggle43Overlay"))->trigger();
    EXPECT_EQ(view->safeAreaOverlay(), nullptr);

    document->actionNamed(QStringLiteral("modifyGanging:1"))->trigger();
    EXPECT_EQ(defaults()->integerForKey(QStringLiteral("gangMode")), 1);
    EXPECT_TRUE(document->actionNamed(QStringLiteral("modifyGanging:1"))->isChecked());
    document->close();
}

TEST_F(Document, MuteTogglesAndRestoresTheVolume)
{
    auto document = open(movie());
    BVMediaObject *media = document->mediaObject();
    media->setVolume(0.6f);
    document->mute();
    EXPECT_TRUE(media->isMuted());
    document->mute();
    EXPECT_FLOAT_EQ(media->volume(), 0.6f);
    // Muted by hand, unmuting gives the volume from before the last mute.
    media->setVolume(0);
    document->mute();
    EXPECT_FLOAT_EQ(media->volume(), 0.6f);
    document->close();
}

TEST_F(Document, TimecodePanelShowsTheDisplayAndRemembersItsVisibility)
{
    auto document = open(movie());
    ASSERT_FALSE(document->timecodePanel()->isVisible());
    document->windowController()->toggleSubWindow(QStringLiteral("showTimecode"));
    EXPECT_TRUE(document->timecodePanel()->isVisible());
    EXPECT_TRUE(defaults()->boolForKey(QStringLiteral("showTimecode")));
    EXPECT_TRUE(document->timecodePanel()->windowTitle().endsWith(QStringLiteral(" - Timecode")));
    const int small = document->timecodePanel()->fontSize();
    document->timecodePanel()->resize(900, 195);
    EXPECT_GT(document->timecodePanel()->fontSize(), small);
    document->timecodePanel()->close();
    EXPECT_FALSE(defaults()->boolForKey(QStringLiteral("showTimecode")));
    document->close();
}

TEST_F(Document, CopiesTheDisplayedPosition)
{
    auto document = open(movie());
    QStringList shown;
    BVDocument::setUserNotificationHandler(
        [&](const QString &title, const QString &text, const QVariant &) { shown << title << text; });
    document->copyCurrentPosition();
    BVDocument::setUserNotificationHandler({});
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("01:00:00:00"));
    EXPECT_EQ(
        shown, (QStringList {QStringLiteral("Copied"), QStringLiteral("Playback position: 01:00:00:00")}));
    document->close();
}

TEST_F(Document, PlaysAnImageSequenceAndRefusesRotation)
{
    const QString folder = BVTest::makeTempFolder(QStringLiteral("sequence"));
    QStringList files;
    for (int i = 0; i < 24; ++i) {
        QImage image(160, 90, QImage::Format_RGB32);
        image.fill(QColor::fromHsv(i * 15, 200, 200));
        files << folder + QString::asprintf("/frame_%04d.png", i);
        ASSERT_TRUE(image.save(files.last()));
    }
    ASSERT_GE(files.size(), 5);
    ScreenDocument document;
    document.loadImageSequence(files, 24);
    document.showWindows();
    ASSERT_TRUE(BVTest::waitFor([&] { return document.isReady(); }));
    EXPECT_FALSE(document.validateMenuItem(QStringLiteral("changeRotation:4")));
    QTest::keyClick(document.playbackView(), Qt::Key_Right);
    EXPECT_TRUE(BVTest::waitFor([&] { return document.mediaObject()->currentFrame() == 1; }));
    EXPECT_TRUE(BVTest::waitFor([&] { return !document.playbackView()->currentImage().isNull(); }));
    document.close();
}

TEST_F(Document, CallbacksAfterCleanupDoNothing)
{
    auto document = open(movie());
    BVMediaObject *media = document->mediaObject();
    (void)media;
    document->cleanup();
    EXPECT_TRUE(document->isUnloading());
    EXPECT_EQ(document->mediaObject(), nullptr);
    BVMediaObjectDelegate &delegate = *document;
    delegate.mediaStatusChanged(QStringLiteral("ready"));
    delegate.playbackStateChanged();
    delegate.syncScrubber();
    document->playPause();
    document->stepRight();
    EXPECT_EQ(document->updateTimecode(), QString());
    EXPECT_FALSE(BVDocument::openDocuments().contains(document.get()));
}

TEST_F(Document, AudioFileOpensAtTheAudioSizeWithItsWaveform)
{
    const QString path
        = BVTest::sampleMedia(QStringLiteral("wav"), {QStringLiteral("--duration"), QStringLiteral("3")});
    ScreenDocument document;
    ASSERT_TRUE(document.readFromURL(QUrl::fromLocalFile(path), BVDocument::audioType()));
    document.showWindows();
    ASSERT_TRUE(BVTest::waitFor([&] { return document.isReady(); }));
    EXPECT_TRUE(document.mediaObject()->isAudioOnly());
    // It opens 600 wide, 100 high over the strip.
    EXPECT_EQ(document.playbackView()->size(), QSize(600, 100));
    EXPECT_TRUE(BVTest::waitFor([&] { return !document.playbackView()->currentImage().isNull(); }));
    // The green waveform strokes are in the picture.
    const QImage waveform = document.playbackView()->currentImage();
    bool green = false;
    for (int x = 0; x < waveform.width() && !green; x += 4)
        green = qGreen(waveform.pixel(x, waveform.height() / 2)) > 150;
    EXPECT_TRUE(green);
    document.close();
}

TEST_F(Document, OnlyTheActiveWindowIsAudibleWhenAsked)
{
    defaults()->setInteger(1, QStringLiteral("frontmostAudio"));
    auto first = open(movie());
    auto second = open(movie(QStringLiteral("320x240"), QStringLiteral("8")));
    auto activate = [](BVDocument &d) {
        DocumentTest::window(d)->activateWindow();
        return QTest::qWaitForWindowActive(DocumentTest::window(d));
    };
    ASSERT_TRUE(activate(*first));
    EXPECT_TRUE(BVTest::waitFor([&] { return second->mediaObject()->isMuted(); }));
    EXPECT_FALSE(first->mediaObject()->isMuted());
    ASSERT_TRUE(activate(*second));
    EXPECT_TRUE(BVTest::waitFor(
        [&] { return first->mediaObject()->isMuted() && !second->mediaObject()->isMuted(); }));
    // A player the user muted stays muted when it comes to the front.
    second->mute();
    ASSERT_TRUE(activate(*first));
    ASSERT_TRUE(activate(*second));
    EXPECT_TRUE(second->mediaObject()->isMuted());
    second->close();
    first->close();
}

TEST_F(Document, FullScreenHidesTheControlsUnlessAlwaysShown)
{
    auto document = open(movie());
    auto *strip = document->window()->findChild<QWidget *>(QStringLiteral("BVControlStrip"));
    ASSERT_NE(strip, nullptr);
    document->windowController()->toggleFullScreen();
    EXPECT_TRUE(document->isFullScreen());
    EXPECT_TRUE(strip->isVisible());
    document->windowController()->hideFullscreenUI();
    EXPECT_FALSE(strip->isVisible());
    document->windowController()->mouseMovedOverVideo();
    EXPECT_TRUE(strip->isVisible());
    defaults()->setBool(true, QStringLiteral("alwaysShowControls"));
    document->windowController()->hideFullscreenUI();
    EXPECT_TRUE(strip->isVisible());
    document->windowController()->toggleFullScreen();
    EXPECT_FALSE(document->isFullScreen());
    EXPECT_TRUE(strip->isVisible());
    document->close();
}

TEST_F(Document, SpaceAndShiftSpacePlayAndPlayInToOut)
{
    auto document = open(movie());
    BVAVPlaybackView *view = document->playbackView();
    BVMediaObject *media = document->mediaObject();
    QTest::keyClick(view, Qt::Key_Space);
    EXPECT_TRUE(media->isPlaying());
    QTest::keyClick(view, Qt::Key_Space);
    EXPECT_FALSE(media->isPlaying());
    ASSERT_TRUE(seekAndWait(*document, MediaTime(1, 1)));
    document->setInPoint();
    ASSERT_TRUE(seekAndWait(*document, MediaTime(2, 1)));
    document->setOutPoint();
    QTest::keyClick(view, Qt::Key_Space, Qt::ShiftModifier);
    EXPECT_EQ(media->playbackRange(), document->inOutRange());
    EXPECT_TRUE(BVTest::waitFor([&] { return !media->isPlaying(); }, std::chrono::seconds(5)));
    EXPECT_NEAR(seconds(*document), 2.0, 0.15);
    document->close();
}
