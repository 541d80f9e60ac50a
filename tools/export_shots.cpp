// Screenshots of the export feature for review: the export panel with the video and then the audio
// settings window, the activity window with a running and a queued export, and the information
// panel; or the activity window with a running and a queued download from a slow server of its
// own. Run under an X server (Xvfb):
//   bv_export_shots OUTDIR MOVIE
//   bv_export_shots --downloads OUTDIR
#include "export/BVAVExport.h"
#include "export/BVActivityController.h"
#include "export/BVActivityItemDownload.h"
#include "export/BVActivityWindow.h"
#include "export/BVCodecSettingsWindows.h"
#include "export/BVDocumentExporter.h"
#include "export/BVExportChoices.h"
#include "export/BVExportPanel.h"
#include "platform/defaults/BVUserDefaults.h"
#include "player/document/BVDocument.h"
#include "player/media/BVAVAsset.h"
#include "player/window/BVDocumentWindowController.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMainWindow>
#include <QScreen>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
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

bool shoot(const QString &path)
{
    const bool saved = QGuiApplication::primaryScreen()->grabWindow(0).save(path);
    std::fprintf(stderr, "%s %s\n", saved ? "saved" : "could not save", qPrintable(path));
    return saved;
}

QFileDialog *shownFileDialog()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<QFileDialog *>(widget); dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

// Two downloads from a server on 127.0.0.1 that sends 8 MB at about 500 KB/s: the first runs with
// its bar and time left, the second waits.
int shootDownloads(const QString &out)
{
    QDir().mkpath(out);
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    const QByteArray body(8 << 20, 'x');
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket *socket = server.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, &body] {
            socket->readAll();
            socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: "
                + QByteArray::number(body.size()) + "\r\n\r\n");
            auto *timer = new QTimer(socket);
            auto sent = std::make_shared<qsizetype>(0);
            QObject::connect(timer, &QTimer::timeout, socket, [socket, sent, &body] {
                socket->write(body.mid(*sent, 50 << 10));
                *sent += 50 << 10;
            });
            timer->start(100);
        });
    });
    const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort());
    BVActivityController activity;
    for (const QString &name :
        {QStringLiteral("Reel 1 - Grade v3.mov"), QStringLiteral("Reel 2 - Grade v3.mov")})
        activity.addItem(BVActivityItemDownload::activityItemWithDownloadURL(
            QUrl(base + name), QDir(out).filePath(name), QStringLiteral("Download: %1").arg(name)));
    activity.showActivityWindow();
    activity.window()->move(40, 40);
    spin(6500);
    const int status = shoot(out + QStringLiteral("/activity-downloads.png")) ? 0 : 1;
    for (int row = int(activity.items().size()) - 1; row >= 0; --row)
        activity.cancelItemAtRow(row);
    spin(1500);
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--downloads")
        return shootDownloads(QString::fromLocal8Bit(argv[2]));
    if (argc < 3) {
        std::fprintf(stderr, "usage: bv_export_shots OUTDIR MOVIE\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString movie = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(out);
    BVUserDefaults::standardUserDefaults()->registerDefaults(
        {{QStringLiteral("rotation"), 1}, {QStringLiteral("alwaysShowControls"), false}});

    BVActivityController activity;
    BVDocument document;
    BVDocumentExporter *exporter = BVDocumentExporter::install(document, &activity);
    if (!document.readFromURL(QUrl::fromLocalFile(movie), BVDocument::movieType()))
        return 1;
    BVDocumentWindowController::showWindows(document);
    QElapsedTimer clock;
    clock.start();
    while (!document.isReady() && clock.elapsed() < 20000)
        spin(50);
    spin(1500);
    int status = 0;

    // The save panel with the codec pop-ups, the video settings, then the audio settings.
    BVExportPanel *panel = exporter->exportPanel();
    QTimer::singleShot(1500, [&] {
        panel->videoCodecSettingsWindow()->show();
        panel->videoCodecSettingsWindow()->move(60, 60);
        spin(600);
        status |= shoot(out + QStringLiteral("/export-panel-video.png")) ? 0 : 1;
        panel->videoCodecSettingsWindow()->hide();
        panel->audioCodecSettingsWindow()->show();
        panel->audioCodecSettingsWindow()->move(60, 60);
        spin(600);
        status |= shoot(out + QStringLiteral("/export-panel-audio.png")) ? 0 : 1;
        panel->audioCodecSettingsWindow()->hide();
        if (QFileDialog *dialog = shownFileDialog())
            dialog->reject();
    });
    document.exportMovie();

    // Two exports queued: the first runs (ProRes HQ of the whole movie), the second waits.
    for (const QString &name : {QStringLiteral("first"), QStringLiteral("second")}) {
        auto engine = panel->makeExport(QDir(out).filePath(QStringLiteral("%1.mov").arg(name)));
        engine->videoCodec = BVExportChoices::videoCodecAtIndex(3);
        panel->queue(engine);
    }
    activity.showActivityWindow();
    spin(2500);
    status |= shoot(out + QStringLiteral("/activity-window.png")) ? 0 : 1;
    for (int row = int(activity.items().size()) - 1; row >= 0; --row)
        activity.cancelItemAtRow(row);
    spin(500);
    activity.window()->hide();

    // The information panel beside the player.
    BVDocumentWindowController::of(document)->toggleSubWindow(QStringLiteral("showInfo"));
    spin(1500);
    status |= shoot(out + QStringLiteral("/info-panel.png")) ? 0 : 1;
    document.close();
    spin(300);
    return status;
}
