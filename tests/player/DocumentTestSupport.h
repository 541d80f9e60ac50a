#pragma once

// Opening player documents on generated media for the document tests.
#include "platform/defaults/BVUserDefaults.h"
#include "platform/media/MediaTime.h"
#include "platform/media/engine/MediaPlayer.h"
#include "player/document/BVDocument.h"
#include "player/document/BVGangPlayback.h"
#include "player/media/BVAVAsset.h"
#include "player/window/BVAVPlaybackView.h"
#include "player/window/BVDocumentWindowController.h"
#include "player/window/BVTimecodePanel.h"

#include "common/BVTestSupport.h"

#include <QImage>
#include <QKeyEvent>
#include <QMainWindow>
#include <QUrl>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace DocumentTest {

// The index the bars of a barcode clip's picture spell (16 bars, most significant first, white for
// 1); -1 when there is no picture.
inline int pictureIndex(const QImage &image)
{
    if (image.isNull() || image.width() < 16 || image.height() < 1)
        return -1;
    int value = 0;
    const int y = image.height() / 2;
    for (int bit = 0; bit < 16; ++bit) {
        const int x = (bit * 4 + 2) * image.width() / 64;
        value = value * 2 + (qGray(image.pixel(x, y)) > 128 ? 1 : 0);
    }
    return value;
}

// Every label of a clip, counted from its start label one frame at a time; at drop-frame rates the
// first `dropped` labels of each minute not divisible by ten are skipped.
inline std::vector<QString> countLabels(int timebase, int dropped, int h, int m, int s, int f, int64_t frames)
{
    std::vector<QString> labels;
    labels.reserve(size_t(frames));
    const QChar separator = dropped > 0 ? u';' : u':';
    for (int64_t i = 0; i < frames; ++i) {
        labels.push_back(
            QString::asprintf("%02d:%02d:%02d", h, m, s) + separator + QString::asprintf("%02d", f));
        if (++f < timebase)
            continue;
        f = 0;
        if (++s < 60)
            continue;
        s = 0;
        if (++m == 60) {
            m = 0;
            h = (h + 1) % 24;
        }
        if (dropped > 0 && m % 10 != 0)
            f = dropped;
    }
    return labels;
}

// The index of the picture a movie document's player shows now; -1 when none.
inline int shownIndex(BVDocument &document)
{
    auto *asset = dynamic_cast<BVAVAsset *>(document.mediaObject());
    const std::shared_ptr<const QImage> image
        = asset && asset->player() ? asset->player()->currentImage() : nullptr;
    return image ? pictureIndex(*image) : -1;
}

// The window a test opens for a document, on a screen of a chosen size (the offscreen screen is
// small).
class ScreenWindowController : public BVDocumentWindowController
{
public:
    ScreenWindowController(BVDocument &document, const QRect *screen)
        : BVDocumentWindowController(document)
        , m_screen(screen)
    { }
    QRect availableScreenGeometry() const override
    {
        return m_screen ? *m_screen : BVDocumentWindowController::availableScreenGeometry();
    }

private:
    const QRect *m_screen;
};

// The window of a document, as the tests' document opener makes it: shown, on the given screen
// (the one the offscreen platform has when none).
inline BVDocumentWindowController *showWindows(BVDocument &document, const QRect *screen = nullptr)
{
    BVDocumentWindowController *window = BVDocumentWindowController::of(document);
    if (!window && !document.isUnloading())
        window = new ScreenWindowController(document, screen);
    if (window)
        window->showWindow();
    return window;
}

// The window's parts of any document the tests opened a window for.
inline QMainWindow *window(const BVDocument &document)
{
    BVDocumentWindowController *controller = BVDocumentWindowController::of(document);
    return controller ? controller->window() : nullptr;
}
inline BVAVPlaybackView *playbackView(const BVDocument &document)
{
    BVDocumentWindowController *controller = BVDocumentWindowController::of(document);
    return controller ? controller->playbackView() : nullptr;
}

// A document on a screen of a chosen size, with what the tests read of its window.
class ScreenDocument : public BVDocument
{
public:
    QRect screen {0, 0, 1920, 1080};
    void showWindows() { DocumentTest::showWindows(*this, &screen); }
    BVDocumentWindowController *windowController() const { return BVDocumentWindowController::of(*this); }
    QMainWindow *window() const { return windowController() ? windowController()->window() : nullptr; }
    BVAVPlaybackView *playbackView() const
    {
        return windowController() ? windowController()->playbackView() : nullptr;
    }
    BVTimecodePanel *timecodePanel() const
    {
        return windowController() ? windowController()->timecodePanel() : nullptr;
    }
    QMenuBar *menuBar() const { return windowController() ? windowController()->menuBar() : nullptr; }
    QAction *actionNamed(const QString &name) const
    {
        return windowController() ? windowController()->actionNamed(name) : nullptr;
    }
    bool isFullScreen() const { return windowController() && windowController()->isFullScreen(); }
    QString statusOverlayText() const
    {
        return windowController() ? windowController()->statusOverlayText() : QString();
    }
    static int controlStripHeight() { return BVDocumentWindowController::controlStripHeight(); }
};

inline BVUserDefaults *defaults()
{
    return BVUserDefaults::standardUserDefaults();
}

// The settings the document reads, at the values the application registers.
inline void registerDefaults()
{
    defaults()->registerDefaults({
        {QStringLiteral("autoplay"), 0},
        {QStringLiteral("timecodeDisplay"), 0},
        {QStringLiteral("timecodeOutput"), 0},
        {QStringLiteral("timecodeOverlay"), false},
        {QStringLiteral("loopPlayback"), false},
        {QStringLiteral("savePlaybackPos"), false},
        {QStringLiteral("frontmostAudio"), 0},
        {QStringLiteral("scrubAudio"), false},
        {QStringLiteral("showInfo"), false},
        {QStringLiteral("showTimecode"), false},
        {QStringLiteral("showMarkers"), false},
        {QStringLiteral("playbackRate"), 0.0},
        {QStringLiteral("mask"), 0.0},
        {QStringLiteral("rotation"), 1},
        {QStringLiteral("safe43Overlay"), false},
        {QStringLiteral("safe169Overlay"), false},
        {QStringLiteral("gangMode"), 0},
        {QStringLiteral("actionSafeH"), 5.0},
        {QStringLiteral("actionSafeV"), 5.0},
        {QStringLiteral("titleSafeH"), 10.0},
        {QStringLiteral("titleSafeV"), 10.0},
    });
}

// Every stored setting back to its registered default.
inline void resetSettings()
{
    registerDefaults();
    for (const QString &key : defaults()->persistentDomain().keys())
        defaults()->removeObjectForKey(key);
}

// A 10-second 23.976 fps clip, small enough to decode quickly.
inline QString movie(
    const QString &size = QStringLiteral("320x240"), const QString &duration = QStringLiteral("10"))
{
    return BVTest::sampleMedia(QStringLiteral("movie"),
        {QStringLiteral("--duration"), duration, QStringLiteral("--size"), size, QStringLiteral("--name"),
            QStringLiteral("doc-%1-%2").arg(size, duration)});
}

// Opens a file in a shown window and waits until its media is ready.
template<typename Document = ScreenDocument>
std::unique_ptr<Document> open(const QString &path, const QRect &screen = QRect(0, 0, 1920, 1080))
{
    auto document = std::make_unique<Document>();
    if constexpr (std::is_same_v<Document, ScreenDocument>)
        document->screen = screen;
    BVError error;
    EXPECT_TRUE(document->readFromURL(QUrl::fromLocalFile(path), BVDocument::movieType(), &error))
        << error.description().toStdString();
    document->showWindows();
    Document *d = document.get();
    EXPECT_TRUE(BVTest::waitFor([d] {
        auto *asset = dynamic_cast<BVAVAsset *>(d->mediaObject());
        return d->isReady() && asset && asset->isReadyToPlay();
    }));
    return document;
}

// Opens a file with no window, the document alone, and waits until its media is ready and its
// first positioning (the remembered position) has landed.
template<typename Document = ScreenDocument> std::unique_ptr<Document> openHeadless(const QString &path)
{
    auto document = std::make_unique<Document>();
    BVError error;
    EXPECT_TRUE(document->readFromURL(QUrl::fromLocalFile(path), BVDocument::movieType(), &error))
        << error.description().toStdString();
    Document *d = document.get();
    EXPECT_TRUE(BVTest::waitFor([d] {
        auto *asset = dynamic_cast<BVAVAsset *>(d->mediaObject());
        return d->isReady() && asset && asset->isReadyToPlay();
    }));
    BVTest::spin(std::chrono::milliseconds(300));
    return document;
}

// A key as the playback view hands it to the document: pressed, then released.
inline bool pressKey(BVDocument &document, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const QString text = key >= Qt::Key_A && key <= Qt::Key_Z ? QString(QChar(u'a' + (key - Qt::Key_A)))
        : key >= Qt::Key_0 && key <= Qt::Key_9                ? QString(QChar(u'0' + (key - Qt::Key_0)))
                                                              : QString();
    QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
    return document.playbackKeyPressed(&event, false);
}
inline bool releaseKey(BVDocument &document, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const QString text = key >= Qt::Key_A && key <= Qt::Key_Z ? QString(QChar(u'a' + (key - Qt::Key_A)))
        : key >= Qt::Key_0 && key <= Qt::Key_9                ? QString(QChar(u'0' + (key - Qt::Key_0)))
                                                              : QString();
    QKeyEvent event(QEvent::KeyRelease, key, modifiers, text);
    return document.playbackKeyPressed(&event, true);
}
inline void clickKey(BVDocument &document, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    pressKey(document, key, modifiers);
    releaseKey(document, key, modifiers);
}

// Seeks and waits for the seek to land.
inline bool seekAndWait(BVDocument &document, const MediaTime &time)
{
    bool done = false;
    document.mediaObject()->seekToTime(
        time, MediaTime::zero(), MediaTime::zero(), [&done](bool) { done = true; });
    return BVTest::waitFor([&done] { return done; });
}

inline double seconds(const BVDocument &document)
{
    return document.mediaObject()->currentTime().seconds();
}

inline uint64_t frame(const BVDocument &document)
{
    return document.mediaObject()->currentFrame();
}

} // namespace DocumentTest
