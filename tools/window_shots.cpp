// Screenshots of the player window for review: a player, the same player in full screen, two
// cascaded windows and the alert for a file that cannot be opened. Run under an X server (Xvfb):
//   bv_window_shots OUTDIR MOVIE OTHER_MOVIE NOT_A_MOVIE
#include "platform/defaults/BVUserDefaults.h"
#include "player/BVAVAsset.h"
#include "player/BVDocument.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <QUrl>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

void spin(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

bool spinUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

bool shoot(const QString &path)
{
    const bool saved = QGuiApplication::primaryScreen()->grabWindow(0).save(path);
    std::fprintf(stderr, "%s %s\n", saved ? "saved" : "could not save", qPrintable(path));
    return saved;
}

std::unique_ptr<BVDocument> openShown(const QString &path)
{
    auto document = std::make_unique<BVDocument>();
    if (!document->readFromURL(QUrl::fromLocalFile(path), BVDocument::movieType()))
        return nullptr;
    document->showWindows();
    BVDocument *d = document.get();
    spinUntil([d] { return d->isReady(); }, 20000);
    spin(1500);
    return document;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 5) {
        std::fprintf(stderr, "usage: bv_window_shots OUTDIR MOVIE OTHER_MOVIE NOT_A_MOVIE\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    BVUserDefaults::standardUserDefaults()->registerDefaults({{QStringLiteral("rotation"), 1},
        {QStringLiteral("timecodeOverlay"), true}, {QStringLiteral("alwaysShowControls"), false}});

    auto first = openShown(QString::fromLocal8Bit(argv[2]));
    if (!first)
        return 1;
    shoot(out + QStringLiteral("/player.png"));
    first->toggleFullScreen();
    spin(1500);
    first->mouseMovedOverVideo();
    spin(300);
    shoot(out + QStringLiteral("/fullscreen.png"));
    first->toggleFullScreen();
    spin(1500);

    auto second = openShown(QString::fromLocal8Bit(argv[3]));
    shoot(out + QStringLiteral("/cascade.png"));

    BVDocument failing;
    failing.readFromURL(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[4])), BVDocument::movieType());
    spin(2500);
    shoot(out + QStringLiteral("/alert.png"));
    first->close();
    if (second)
        second->close();
    spin(500);
    return 0;
}
