// The player window: the menu bar leaves with full screen and its keys still work, new windows
// cascade, a resize by the user keeps the picture's proportions, Ctrl+Alt+M reaches the Mute command
// while the picture has the focus, and the next playlist item retitles the windows.
#include "DocumentTestSupport.h"

#include "player/window/BVTimecodePanel.h"

#include <QMenuBar>
#include <QTest>

using namespace DocumentTest;

namespace {

class DocumentWindow : public ::testing::Test
{
protected:
    void SetUp() override { resetSettings(); }
    void TearDown() override { BVTest::spin(std::chrono::milliseconds(500)); }
};

} // namespace

TEST_F(DocumentWindow, FullScreenTakesTheMenuBarAlongAndItsKeysStillWork)
{
    auto document = open(movie());
    ASSERT_TRUE(document->menuBar()->isVisible());
    document->windowController()->toggleFullScreen();
    ASSERT_TRUE(document->isFullScreen());
    EXPECT_FALSE(document->menuBar()->isVisible());
    // Ctrl+F leaves full screen with the menu bar hidden.
    document->window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(document->window()));
    QTest::keyClick(document->window(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_FALSE(document->isFullScreen());
    EXPECT_TRUE(document->menuBar()->isVisible());
    document->close();
}

TEST_F(DocumentWindow, TheStatusOverlayShowsWhatTheDocumentSaysAndGoesAfterTwoSeconds)
{
    auto document = open(movie());
    document->fastForward(); // paused: not on the ladder
    EXPECT_EQ(document->statusOverlayText(), QStringLiteral("Error"));
    EXPECT_TRUE(
        BVTest::waitFor([&] { return document->statusOverlayText().isEmpty(); }, std::chrono::seconds(4)));
    document->close();
}

TEST_F(DocumentWindow, DigitKeysOnThePictureOpenTheTimecodeEntryWithTheTypedCharacter)
{
    auto document = open(movie());
    EXPECT_FALSE(document->windowController()->isTimecodeEntryOpen());
    QTest::keyClick(document->playbackView(), Qt::Key_4, Qt::NoModifier);
    EXPECT_TRUE(document->windowController()->isTimecodeEntryOpen());
    document->timecodeModified({});
    EXPECT_FALSE(document->windowController()->isTimecodeEntryOpen());
    document->close();
}

TEST_F(DocumentWindow, NewWindowsCascade)
{
    auto first = open(movie());
    auto second = open(movie(QStringLiteral("320x240"), QStringLiteral("8")));
    const QPoint a = first->window()->frameGeometry().topLeft();
    const QPoint b = second->window()->frameGeometry().topLeft();
    // Down and to the right by one step (the window frame may take a few pixels of it).
    const QPoint step = b - a;
    EXPECT_EQ(step.x(), step.y()) << a.x() << "," << a.y() << " " << b.x() << "," << b.y();
    EXPECT_GE(step.x(), 16);
    EXPECT_LE(step.x(), 32);
    second->close();
    first->close();
}

TEST_F(DocumentWindow, AResizeByTheUserKeepsThePicturesProportions)
{
    auto document = open(movie());
    QMainWindow *window = document->window();
    const int fixed = window->height() - window->centralWidget()->height() + document->controlStripHeight();
    // As a drag of the window's edge would: wider and too low for a 4:3 picture.
    window->resize(800, 300);
    EXPECT_TRUE(BVTest::waitFor([&] { return window->size() == QSize(800, 600 + fixed); }))
        << window->width() << "x" << window->height() << " fixed " << fixed;
    document->close();
}

TEST_F(DocumentWindow, CtrlAltMMutesWhileThePictureHasTheFocus)
{
    auto document = open(movie());
    document->window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(document->window()));
    document->playbackView()->setFocus();
    ASSERT_FALSE(document->mediaObject()->isMuted());
    QTest::keyClick(document->playbackView(), Qt::Key_M, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_TRUE(document->mediaObject()->isMuted());
    document->close();
}

namespace {

class OneMoreItem : public BVDocument::Playlist
{
public:
    QUrl next;
    QUrl previousURL() override { return {}; }
    QUrl nextURL() override { return std::exchange(next, QUrl()); }
};

} // namespace

TEST_F(DocumentWindow, TheNextPlaylistItemRetitlesTheWindows)
{
    const QString second = movie(QStringLiteral("320x240"), QStringLiteral("4"));
    OneMoreItem playlist;
    playlist.next = QUrl::fromLocalFile(second);
    auto document = open(movie());
    document->setPlaylist(&playlist);
    document->skipNext();
    const QString name = QFileInfo(second).fileName();
    EXPECT_EQ(document->window()->windowTitle(), name);
    EXPECT_EQ(document->timecodePanel()->windowTitle(),
        QStringLiteral("%1 - Timecode").arg(QFileInfo(second).completeBaseName()));
    document->close();
}
