// Measures the player window as a user drives it, on the 1080p 23.976 H.264 sample:
//  - holding the Right arrow (auto-repeat at 30 presses a second): pictures shown per second;
//  - playing 30 s at rate 1: dropped frames, timecode display changes against frames played, CPU;
//  - resident memory with one and with four player windows open.
// Run under a display (xvfb-run -a) or with QT_QPA_PLATFORM=offscreen.
//   bv_player_window_benchmark [--seconds N] [FILE]
#include "app/BVAppController.h"
#include "app/BVDocumentController.h"
#include "platform/defaults/BVUserDefaults.h"
#include "platform/media/engine/MediaPlayer.h"
#include "player/document/BVDocument.h"
#include "player/media/BVAVAsset.h"
#include "player/window/BVAVPlaybackView.h"
#include "player/window/BVDocumentWindowController.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMainWindow>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <functional>

namespace {

void spinFor(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

bool spinUntil(const std::function<bool()> &done, int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > milliseconds)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Resident and peak resident memory in MB.
std::pair<double, double> memoryMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    double rss = 0, peak = 0;
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                rss = line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
            if (line.startsWith("VmHWM:"))
                peak = line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
        }
    }
    return {rss, peak};
}

// The text of the elapsed-time display of the document's control strip.
QString displayedTimecode(BVDocument *document)
{
    static const QRegularExpression timecode(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d[:;]\\d\\d$"));
    for (QAbstractButton *button :
        BVDocumentWindowController::of(*document)->window()->findChildren<QAbstractButton *>()) {
        if (timecode.match(button->text()).hasMatch())
            return button->text();
    }
    return {};
}

BVDocument *openAndWait(const QString &path)
{
    BVDocument *document = nullptr;
    if (!BVAppController::sharedController()->applicationOpenFile(path))
        return nullptr;
    for (BVDocument *d : BVDocumentController::sharedDocumentController()->documents()) {
        if (d->fileURL() == QUrl::fromLocalFile(path))
            document = d;
    }
    if (!document || !spinUntil([document] { return document->isReady(); }, 30000))
        return nullptr;
    return document;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QString file;
    int playSeconds = 30;
    const QStringList arguments = QApplication::arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--seconds") && i + 1 < arguments.size())
            playSeconds = arguments[++i].toInt();
        else
            file = arguments[i];
    }
    if (file.isEmpty()) {
        file = QStringLiteral(BV_BENCHMARK_MEDIA_DIR "/window-benchmark.mov");
        if (!QFileInfo::exists(file)) {
            const int status = QProcess::execute(QStringLiteral(BV_SOURCE_DIR "/tools/bv-make-sample"),
                {QStringLiteral("--variant"), QStringLiteral("movie"), QStringLiteral("--duration"),
                    QStringLiteral("40"), QStringLiteral("--output"), QStringLiteral(BV_BENCHMARK_MEDIA_DIR),
                    QStringLiteral("--name"), QStringLiteral("window-benchmark.mov")});
            if (status != 0) {
                std::fprintf(stderr, "cannot make the sample clip\n");
                return 1;
            }
        }
    }

    BVAppController controller;
    // No saved position, no autoplay: every run starts the same way.
    BVUserDefaults::standardUserDefaults()->setInteger(0, QStringLiteral("autoplay"));
    BVUserDefaults::standardUserDefaults()->setInteger(0, QStringLiteral("savePlaybackPos"));
    QElapsedTimer openClock;
    openClock.start();
    BVDocument *document = openAndWait(file);
    if (!document) {
        std::fprintf(stderr, "the file did not become ready\n");
        return 1;
    }
    auto *asset = dynamic_cast<BVAVAsset *>(document->mediaObject());
    MediaPlayer *player = asset ? asset->player() : nullptr;
    if (!player) {
        std::fprintf(stderr, "not a movie\n");
        return 1;
    }
    spinUntil([player] { return player->currentImage() != nullptr; }, 10000);
    std::printf("open to first picture: %lld ms\n", static_cast<long long>(openClock.elapsed()));
    spinFor(1000);

    // Holding the Right arrow: the keyboard repeats at 30 presses a second.
    {
        QWidget *target = BVDocumentWindowController::of(*document)->playbackView();
        // Polled, so that the view keeps the engine's frame handler to itself.
        int pictures = 0;
        MediaTime last = player->currentImageTime();
        const auto countPicture = [&] {
            const MediaTime shown = player->currentImageTime();
            if (shown != last)
                ++pictures;
            last = shown;
        };
        const int presses = 90;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < presses; ++i) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier, QString(), i > 0);
            QApplication::sendEvent(target, &press);
            while (clock.elapsed() < (i + 1) * 1000 / 30) {
                QApplication::processEvents(QEventLoop::AllEvents, 2);
                countPicture();
            }
        }
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Right, Qt::NoModifier);
        QApplication::sendEvent(target, &release);
        const double seconds = clock.elapsed() / 1000.0;
        spinFor(300);
        std::printf("holding Right: %d presses in %.2f s, %d pictures shown = %.1f frames/s, position %.3f s "
                    "(frame %lld)\n",
            presses, seconds, pictures, pictures / seconds, asset->currentTime().seconds(),
            static_cast<long long>(asset->currentTime().seconds() * 24000 / 1001 + 1e-6));
    }

    // Playing at rate 1.
    {
        asset->seekToTime(MediaTime::zero());
        spinFor(500);
        player->resetStatistics();
        int displayChanges = 0;
        QString lastDisplay = displayedTimecode(document);
        QTimer poll;
        poll.setTimerType(Qt::PreciseTimer);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            const QString shown = displayedTimecode(document);
            if (shown != lastDisplay)
                ++displayChanges;
            lastDisplay = shown;
        });
        poll.start(4);
        const double cpuBefore = cpuSeconds();
        const MediaTime startTime = asset->currentTime();
        QElapsedTimer clock;
        clock.start();
        document->playPause();
        spinFor(playSeconds * 1000);
        document->playPause();
        const double wall = clock.elapsed() / 1000.0;
        const double cpu = cpuSeconds() - cpuBefore;
        poll.stop();
        const double played = (asset->currentTime() - startTime).seconds();
        const MediaPlayer::Statistics stats = player->statistics();
        std::printf(
            "rate 1 for %.1f s: played %.2f s (%lld frames), presented %lld, dropped %lld, stalls %lld; "
            "timecode display changed %d times; CPU %.0f%% of one core\n",
            wall, played, static_cast<long long>(played * 24000 / 1001),
            static_cast<long long>(stats.presentedFrames), static_cast<long long>(stats.droppedFrames),
            static_cast<long long>(stats.stalls), displayChanges, 100 * cpu / wall);
    }

    auto [rssOne, peakOne] = memoryMB();
    std::printf("memory with one player: %.0f MB resident (peak %.0f MB)\n", rssOne, peakOne);

    // Three more windows on copies of the file (the same file would come forward instead).
    for (int i = 2; i <= 4; ++i) {
        const QString copy
            = QStringLiteral("%1/window-benchmark-%2.mov").arg(QFileInfo(file).absolutePath()).arg(i);
        if (!QFileInfo::exists(copy))
            QFile::copy(file, copy);
        BVDocument *other = openAndWait(copy);
        if (!other) {
            std::fprintf(stderr, "window %d did not become ready\n", i);
            return 1;
        }
        other->playPause();
        spinFor(2000);
        other->playPause();
    }
    spinFor(1000);
    auto [rssFour, peakFour] = memoryMB();
    std::printf("memory with four players: %.0f MB resident (peak %.0f MB)\n", rssFour, peakFour);
    BVDocumentController::sharedDocumentController()->closeAllDocuments();
    spinFor(200);
    return 0;
}
