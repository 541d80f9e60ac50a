// Screenshots of the player window for review: a player, the same player in full screen, two
// cascaded windows and the alert for a file that cannot be opened; with --markers, the timeline with
// tags of every colour, the marker popover, the markers window, an annotation drawn and shown again,
// and a file whose markers were imported from the command line. Run under an X server (Xvfb):
//   bv_window_shots OUTDIR MOVIE OTHER_MOVIE NOT_A_MOVIE
//   bv_window_shots --markers OUTDIR MOVIE IMPORTED_MOVIE
//   bv_window_shots --timecode OUTDIR MOVIE TIMECODE   (typed on the keyboard into the paused window)
//   bv_window_shots --picture OUTDIR NAME MOVIE [SETTING ...]   (the window as opened, each SETTING
//                                                              a view choice turned on: deinterlace ...)
//   bv_window_shots --stream-alert OUTDIR MOVIE   (MOVIE, index at the end, served from 127.0.0.1
//                                                 without byte ranges: the alert that it cannot be read)
#include "markers/BVAnnotationCanvas.h"
#include "markers/BVDocumentAnnotationController.h"
#include "markers/BVDocumentMarkerController.h"
#include "markers/BVMarkerModel.h"
#include "markers/BVMarkerPopover.h"
#include "platform/defaults/BVUserDefaults.h"
#include "player/document/BVDocument.h"
#include "player/media/BVAVAsset.h"
#include "player/window/BVDocumentWindowController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QUrl>

#include <cmath>
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

std::unique_ptr<BVDocument> openShown(const QString &path, bool markers = false)
{
    auto document = std::make_unique<BVDocument>();
    if (markers)
        BVDocumentMarkerController::install(*document);
    if (!document->readFromURL(QUrl::fromLocalFile(path), BVDocument::movieType()))
        return nullptr;
    BVDocumentWindowController::showWindows(*document);
    BVDocument *d = document.get();
    spinUntil([d] { return d->isReady(); }, 20000);
    spin(1500);
    return document;
}

BVDocumentMarkerController &markersOf(BVDocument &document)
{
    return *static_cast<BVDocumentMarkerController *>(document.markers());
}

bool seekTo(BVDocument &document, const MediaTime &time)
{
    bool done = false;
    document.mediaObject()->seekToTime(
        time, MediaTime::zero(), MediaTime::zero(), [&done](bool) { done = true; });
    const bool landed = spinUntil([&done] { return done; }, 10000);
    spin(400);
    return landed;
}

void drag(QWidget *canvas, const QList<QPointF> &points)
{
    for (const QPointF &p : points) {
        QMouseEvent move(
            QEvent::MouseMove, p, canvas->mapToGlobal(p), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(canvas, &move);
    }
    QMouseEvent up(QEvent::MouseButtonRelease, points.last(), canvas->mapToGlobal(points.last()),
        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(canvas, &up);
}

int markerShots(const QString &out, const QString &movie, const QString &imported)
{
    BVUserDefaults::standardUserDefaults()->setBool(false, QStringLiteral("showMarkers"));
    auto document = openShown(movie, true);
    if (!document)
        return 1;
    BVDocumentMarkerController &markers = markersOf(*document);
    BVMarkerModel &model = markers.model();
    // A tag of every colour, spread over the file.
    const MediaTime length = document->mediaObject()->duration();
    for (int color = 0; color < 11; ++color) {
        const MediaTime at = MediaTime::fromSeconds(length.seconds() * (0.04 + 0.09 * color), 600);
        BVMarker marker = model.makeMarker(at, QStringLiteral("Colour %1").arg(color), true);
        marker->insert(BVMarkerKey::color, color);
        model.insertMarker(marker);
    }
    model.saveMarkers();
    markers.refreshTimeline();
    seekTo(*document, MediaTime::fromSeconds(length.seconds() * 0.2, 600));
    document->setInPoint();
    seekTo(*document, MediaTime::fromSeconds(length.seconds() * 0.7, 600));
    document->setOutPoint();
    static_cast<BVMediaObjectDelegate &>(*document).updateBufferedRange();
    spin(500);
    shoot(out + QStringLiteral("/timeline.png"));

    // The popover of a marker that can be edited (chapters only show theirs).
    BVMarker fifth = model.markers().at(5);
    for (const BVMarker &marker : model.markers())
        if (marker->value(BVMarkerKey::canEdit).toBool() && marker != model.markers().first()) {
            fifth = marker;
            break;
        }
    markers.showMarkerEditViewForMarker(fifth, false, true);
    spin(400);
    shoot(out + QStringLiteral("/popover-display.png"));
    markers.editCurrentMarker();
    spin(400);
    shoot(out + QStringLiteral("/popover-edit.png"));
    markers.closePopover();

    BVDocumentWindowController::of(*document)->toggleSubWindow(QStringLiteral("showMarkers"));
    spin(600);
    shoot(out + QStringLiteral("/markers-window.png"));
    BVDocumentWindowController::of(*document)->toggleSubWindow(QStringLiteral("showMarkers"));

    // An annotation over the frame of the fifth marker, saved, then shown again after reopening.
    auto &annotations = *static_cast<BVDocumentAnnotationController *>(document->annotations());
    markers.showMarkerEditViewForMarker(fifth);
    annotations.toggleAnnotationMode(fifth);
    spinUntil([&] { return annotations.isAnnotationModeOn(); }, 5000);
    spin(300);
    if (BVAnnotationCanvas *canvas = annotations.canvas()) {
        const double w = canvas->width(), h = canvas->height();
        QList<QPointF> circle;
        for (int i = 0; i <= 40; ++i)
            circle.append({w * (0.5 + 0.2 * std::cos(i * 0.157)), h * (0.5 + 0.25 * std::sin(i * 0.157))});
        drag(canvas, circle);
        drag(canvas, {{w * 0.15, h * 0.2}, {w * 0.3, h * 0.35}, {w * 0.4, h * 0.4}});
    }
    spin(300);
    shoot(out + QStringLiteral("/annotation-drawing.png"));
    annotations.saveAnnotation();
    document->close();
    document.reset();
    spin(500);

    document = openShown(movie, true);
    if (!document)
        return 1;
    seekTo(*document, MediaTime::zero());
    for (const BVMarker &marker : markersOf(*document).model().markers())
        if (!marker->value(BVMarkerKey::annotation).toString().isEmpty()) {
            markersOf(*document).goToMarker(marker);
            break;
        }
    spin(1200);
    shoot(out + QStringLiteral("/annotation-reopened.png"));
    document->close();
    document.reset();
    spin(500);

    if (!imported.isEmpty()) {
        document = openShown(imported, true);
        if (!document)
            return 1;
        BVDocumentWindowController::of(*document)->toggleSubWindow(QStringLiteral("showMarkers"));
        spin(800);
        shoot(out + QStringLiteral("/imported.png"));
        BVDocumentWindowController::of(*document)->toggleSubWindow(QStringLiteral("showMarkers"));
        document->close();
    }
    spin(500);
    return 0;
}

// Keys as the keyboard gives them: to whichever widget has the focus at that moment (the digits
// typed over the picture open the entry field, which takes the rest).
void typeKeys(const QString &text)
{
    for (const QChar c : text) {
        const int key = c == QLatin1Char('\n') ? int(Qt::Key_Return) : int(c.toUpper().unicode());
        const QString typed = c == QLatin1Char('\n') ? QString() : QString(c);
        QWidget *target = QApplication::focusWidget();
        if (!target)
            target = QApplication::activeWindow();
        if (!target)
            return;
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, typed);
        QApplication::sendEvent(target, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, typed);
        QApplication::sendEvent(QApplication::focusWidget() ? QApplication::focusWidget() : target, &release);
        spin(60);
    }
}

int timecodeShot(const QString &out, const QString &movie, const QString &timecode)
{
    auto document = openShown(movie);
    if (!document)
        return 1;
    document->windowDidBecomeKey();
    typeKeys(timecode + QLatin1Char('\n'));
    spin(1500);
    shoot(out + QStringLiteral("/typed-timecode.png"));
    document->close();
    spin(500);
    return 0;
}

// The window as it opens a movie, with some of the View menu's choices turned on.
int pictureShot(const QString &out, const QString &name, const QString &movie, const QStringList &settings)
{
    for (const QString &key : settings)
        BVUserDefaults::standardUserDefaults()->setBool(true, key);
    auto document = openShown(movie);
    if (!document)
        return 1;
    shoot(out + QStringLiteral("/%1.png").arg(name));
    document->close();
    spin(500);
    for (const QString &key : settings)
        BVUserDefaults::standardUserDefaults()->removeObjectForKey(key);
    return 0;
}

// Serves one file over HTTP/1.0 as a plain download: the whole file to every request, whatever Range
// it asks for, and no Accept-Ranges.
class PlainDownloadServer : public QObject
{
public:
    explicit PlainDownloadServer(QByteArray body)
        : m_body(std::move(body))
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                    m_request[socket] += socket->readAll();
                    if (!m_request[socket].contains("\r\n\r\n"))
                        return;
                    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
                    m_request.remove(socket);
                    socket->write("HTTP/1.0 200 OK\r\nContent-Type: video/mp4\r\nContent-Length: "
                        + QByteArray::number(m_body.size()) + "\r\n\r\n");
                    socket->write(m_body);
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QUrl url() const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/review.mp4").arg(m_server.serverPort()));
    }

private:
    QTcpServer m_server;
    QByteArray m_body;
    QHash<QTcpSocket *, QByteArray> m_request;
};

QMessageBox *visibleAlert()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
            return box;
    }
    return nullptr;
}

// The window of a network movie that cannot be read, with its alert.
int streamAlertShot(const QString &out, const QString &movie)
{
    QFile file(movie);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(movie));
        return 1;
    }
    PlainDownloadServer server(file.readAll());
    auto document = std::make_unique<BVDocument>();
    if (!document->readFromURL(server.url(), BVDocument::movieType()))
        return 1;
    BVDocumentWindowController::showWindows(*document);
    if (!spinUntil([] { return visibleAlert() != nullptr; }, 60000)) {
        std::fprintf(stderr, "no alert\n");
        return 1;
    }
    spin(800);
    if (QMessageBox *box = visibleAlert())
        std::fprintf(stderr, "alert: %s / %s\n", qPrintable(box->text()), qPrintable(box->informativeText()));
    shoot(out + QStringLiteral("/stream-alert.png"));
    if (QMessageBox *box = visibleAlert())
        box->close();
    spin(300);
    shoot(out + QStringLiteral("/stream-after-alert.png"));
    document->close();
    spin(500);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc >= 4 && QByteArray(argv[1]) == "--markers") {
        BVUserDefaults::standardUserDefaults()->registerDefaults({{QStringLiteral("rotation"), 1},
            {QStringLiteral("timecodeOverlay"), true}, {QStringLiteral("showMarkersWhileStopped"), true},
            {QStringLiteral("alwaysShowControls"), false}});
        return markerShots(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
            argc > 4 ? QString::fromLocal8Bit(argv[4]) : QString());
    }
    if (argc >= 5 && QByteArray(argv[1]) == "--timecode") {
        BVUserDefaults::standardUserDefaults()->registerDefaults(
            {{QStringLiteral("timecodeOverlay"), true}, {QStringLiteral("alwaysShowControls"), true}});
        return timecodeShot(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
            QString::fromLocal8Bit(argv[4]));
    }
    if (argc >= 5 && QByteArray(argv[1]) == "--picture") {
        BVUserDefaults::standardUserDefaults()->registerDefaults({{QStringLiteral("rotation"), 1}});
        QStringList settings;
        for (int i = 5; i < argc; ++i)
            settings << QString::fromLocal8Bit(argv[i]);
        return pictureShot(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
            QString::fromLocal8Bit(argv[4]), settings);
    }
    if (argc >= 4 && QByteArray(argv[1]) == "--stream-alert")
        return streamAlertShot(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
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
    BVDocumentWindowController::of(*first)->toggleFullScreen();
    spin(1500);
    BVDocumentWindowController::of(*first)->mouseMovedOverVideo();
    spin(300);
    shoot(out + QStringLiteral("/fullscreen.png"));
    BVDocumentWindowController::of(*first)->toggleFullScreen();
    spin(1500);

    auto second = openShown(QString::fromLocal8Bit(argv[3]));
    shoot(out + QStringLiteral("/cascade.png"));

    BVDocument failing;
    failing.readFromURL(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[4])), BVDocument::movieType());
    // Opened as the application opens it, with its window: a document alone tells no one.
    BVDocumentWindowController::showWindows(failing);
    spin(2500);
    shoot(out + QStringLiteral("/alert.png"));
    first->close();
    if (second)
        second->close();
    spin(500);
    return 0;
}
