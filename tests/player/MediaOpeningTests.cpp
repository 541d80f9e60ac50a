// What reviewers open: transport and program streams whose clocks do not start at zero, phone
// footage whose frames do not come at a constant rate, and a network movie that cannot be read.
// Expected figures come from ffprobe and from the pictures: the clips carry their frame index in
// their pixels.
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

#include <algorithm>

namespace {

using namespace DocumentTest;

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
        BVTest::runTool(QStringLiteral("ffmpeg"),
            QStringList {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                QStringLiteral("-i"), source}
                + c.output + QStringList {path});
        const QJsonObject stream = QJsonDocument::fromJson(
            BVTest::runTool(QStringLiteral("ffprobe"),
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
        // The last pictures (a program stream's final packets carry no presentation time) and
        // the last picture of each GOP of 12, which its decoder gives out only when drained.
        for (const int64_t frame :
            {frames - 1, frames - 2, frames - 3, int64_t(11), int64_t(23), frames - 4}) {
            ASSERT_TRUE(seekAndWait(*document, media.timeOfFrame(frame)));
            EXPECT_TRUE(BVTest::waitFor([&] { return shownIndex(*document) == int(frame); }))
                << "frame " << frame << " shows " << shownIndex(*document);
            EXPECT_EQ(media.currentFrame(), uint64_t(frame));
        }
        // Steps from the last frame back and forth land on every real picture.
        ASSERT_TRUE(seekAndWait(*document, media.timeOfFrame(frames - 1)));
        for (int64_t frame = frames - 2; frame >= frames - 14; --frame) {
            document->stepLeft();
            EXPECT_TRUE(BVTest::waitFor([&] { return shownIndex(*document) == int(frame); }))
                << "step back to " << frame << " shows " << shownIndex(*document);
        }
        for (int64_t frame = frames - 13; frame < frames; ++frame) {
            document->stepRight();
            EXPECT_TRUE(BVTest::waitFor([&] { return shownIndex(*document) == int(frame); }))
                << "step to " << frame << " shows " << shownIndex(*document);
        }
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
    BVTest::runTool(QStringLiteral("ffmpeg"),
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

TEST(MediaOpening, VariableRateFootageStepsThroughItsRealFramesCountedAtItsNominalRate)
{
    resetSettings();
    // Phone-like footage: 60 barcode frames on a 30 fps clock, every third and every seventh frame
    // held one frame longer (the average rate is near 21 fps).
    const QString path = BVTest::makeTempFolder(QStringLiteral("vfr")) + QStringLiteral("/phone.mov");
    BVTest::runTool(QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
            QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("color=black:size=64x16:rate=30"),
            QStringLiteral("-vf"),
            QStringLiteral("geq=lum='if(bitand(N\\,pow(2\\,15-floor(X/4)))\\,235\\,16)':cb=128:cr=128,"
                           "setpts='(N+floor(N/3)+floor(N/7))/30/TB'"),
            QStringLiteral("-frames:v"), QStringLiteral("60"), QStringLiteral("-fps_mode"),
            QStringLiteral("passthrough"), QStringLiteral("-c:v"), QStringLiteral("libx264"),
            QStringLiteral("-qp"), QStringLiteral("0"), QStringLiteral("-preset"), QStringLiteral("veryfast"),
            QStringLiteral("-g"), QStringLiteral("24"), QStringLiteral("-bf"), QStringLiteral("2"),
            QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), QStringLiteral("-video_track_timescale"),
            QStringLiteral("90000"), path});
    const QJsonObject probe = QJsonDocument::fromJson(
        BVTest::runTool(QStringLiteral("ffprobe"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                QStringLiteral("v:0"), QStringLiteral("-show_entries"),
                QStringLiteral("frame=best_effort_timestamp_time,pkt_duration_time:stream=start_time,"
                               "duration,r_frame_rate"),
                QStringLiteral("-of"), QStringLiteral("json"), path}))
                                  .object();
    const QJsonObject stream = probe.value(QStringLiteral("streams")).toArray().at(0).toObject();
    std::vector<double> starts;
    double end = 0;
    for (const QJsonValue &value : probe.value(QStringLiteral("frames")).toArray()) {
        const QJsonObject frame = value.toObject();
        const double start = frame.value(QStringLiteral("best_effort_timestamp_time")).toString().toDouble();
        starts.push_back(start);
        end = std::max(end, start + frame.value(QStringLiteral("pkt_duration_time")).toString().toDouble());
    }
    ASSERT_EQ(starts.size(), size_t(60));
    std::sort(starts.begin(), starts.end());
    const double first = stream.value(QStringLiteral("start_time")).toString().toDouble();
    ASSERT_EQ(stream.value(QStringLiteral("r_frame_rate")).toString(), QStringLiteral("30/1"));
    // Irregular indeed: frame 3 starts where a 30 fps clock would put frame 4.
    ASSERT_NEAR(starts[3] - first, 4.0 / 30, 1e-6);

    auto document = open(path);
    ASSERT_TRUE(document->isReady());
    BVMediaObject &media = *document->mediaObject();
    EXPECT_TRUE(media.hasVariableFrameRate());
    EXPECT_EQ(media.frameCount(), uint64_t(starts.size()));
    EXPECT_NEAR(media.duration().seconds(), end - first, 1e-6);
    EXPECT_NEAR(
        media.duration().seconds(), stream.value(QStringLiteral("duration")).toString().toDouble(), 1e-6);
    // Timecode counts at the stream's nominal rate.
    EXPECT_EQ(media.fps(), 30.0);
    EXPECT_EQ(media.timebase(), 30);
    for (size_t k = 0; k < starts.size(); ++k)
        EXPECT_NEAR(media.timeOfFrame(int64_t(k)).seconds(), starts[k] - first, 1e-6) << "frame " << k;

    // Real frame k is labelled with the k-th label at 30 fps, counted from the start timecode.
    const std::vector<QString> labels = countLabels(30, 0, 0, 0, 0, 0, int64_t(starts.size()));
    ASSERT_TRUE(seekAndWait(*document, MediaTime::zero()));
    ASSERT_TRUE(BVTest::waitFor([&] { return shownIndex(*document) == 0; }));
    EXPECT_EQ(document->updateTimecode(), labels[0]);
    for (int k = 1; k < int(starts.size()); ++k) {
        document->stepRight();
        EXPECT_TRUE(BVTest::waitFor([&] { return shownIndex(*document) == k; }))
            << "step to " << k << " shows " << shownIndex(*document);
        EXPECT_EQ(media.currentFrame(), uint64_t(k));
        EXPECT_NEAR(media.currentTime().seconds(), starts[size_t(k)] - first, 1e-6);
        EXPECT_EQ(document->updateTimecode(), labels[size_t(k)]) << "frame " << k;
    }
    // Past the last frame nothing moves.
    document->stepRight();
    BVTest::spin(std::chrono::milliseconds(200));
    EXPECT_EQ(shownIndex(*document), int(starts.size()) - 1);
    for (int k = int(starts.size()) - 2; k >= 0; --k) {
        document->stepLeft();
        EXPECT_TRUE(BVTest::waitFor([&] { return shownIndex(*document) == k; }))
            << "step back to " << k << " shows " << shownIndex(*document);
        EXPECT_EQ(document->updateTimecode(), labels[size_t(k)]) << "frame " << k;
    }
    // A typed timecode names the real frame that carries that label.
    ASSERT_TRUE(seekAndWait(*document, media.timeForTimecode(labels[40])));
    EXPECT_TRUE(BVTest::waitFor([&] { return shownIndex(*document) == 40; })) << shownIndex(*document);
    document->cleanup();
}

TEST(MediaOpening, ConstantRateFootageKeepsItsConstantFrameRule)
{
    resetSettings();
    const QString path = BVTest::sampleMedia(QStringLiteral("barcode"),
        {QStringLiteral("--rate"), QStringLiteral("30000/1001"), QStringLiteral("--frames"),
            QStringLiteral("48"), QStringLiteral("--name"), QStringLiteral("cfr-2997.mov")});
    ASSERT_FALSE(path.isEmpty());
    auto document = open(path);
    ASSERT_TRUE(document->isReady());
    BVMediaObject &media = *document->mediaObject();
    EXPECT_FALSE(media.hasVariableFrameRate());
    EXPECT_EQ(media.frameCount(), uint64_t(48));
    EXPECT_EQ(media.timeOfFrame(47), MediaTime(47 * 1001, 30000));
    document->cleanup();
}
