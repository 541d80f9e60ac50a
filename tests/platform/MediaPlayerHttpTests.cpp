// Playing network addresses: a local HTTP server answering Range requests (optionally throttled)
// feeds the engine; pictures, buffering state and loaded ranges are checked.
#include "MediaEngineTestSupport.h"

#include "common/BVTestSupport.h"
#include "platform/media/engine/MediaPlayer.h"
#include "platform/media/engine/MediaPlayerItem.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

using namespace MediaEngineTest;

namespace {

// Serves one file over HTTP/1.1 with byte ranges, one request per connection, optionally at a
// limited rate. Runs on the main thread's event loop.
class RangeServer : public QObject
{
public:
    RangeServer(QString path, qint64 bytesPerSecond)
        : m_path(std::move(path))
        , m_rate(bytesPerSecond)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onRequest(socket); });
        });
    }
    QString url(const QString &name = QStringLiteral("clip.mov")) const
    {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(m_server.serverPort()).arg(name);
    }
    int rangeRequests() const { return m_rangeRequests; }

private:
    void onRequest(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        if (!buffer.contains("\r\n\r\n"))
            return;
        const QByteArray request = buffer;
        buffer.clear();
        disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
        const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
        QFile file(m_path);
        if (words.size() < 2 || words[1] != "/clip.mov" || !file.open(QIODevice::ReadOnly)) {
            socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            socket->disconnectFromHost();
            return;
        }
        const qint64 total = file.size();
        qint64 from = 0, to = total - 1;
        const QRegularExpressionMatch range
            = QRegularExpression(QStringLiteral("(?i)\r\nRange: *bytes=(\\d+)-(\\d*)"))
                  .match(QString::fromLatin1(request));
        QByteArray head;
        if (range.hasMatch()) {
            ++m_rangeRequests;
            from = range.captured(1).toLongLong();
            if (!range.captured(2).isEmpty())
                to = std::min(total - 1, range.captured(2).toLongLong());
            if (from >= total) {
                socket->write("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */"
                    + QByteArray::number(total) + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                socket->disconnectFromHost();
                return;
            }
            head = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + QByteArray::number(from) + '-'
                + QByteArray::number(to) + '/' + QByteArray::number(total) + "\r\n";
        } else {
            head = "HTTP/1.1 200 OK\r\n";
        }
        head += "Accept-Ranges: bytes\r\nContent-Type: video/quicktime\r\nContent-Length: "
            + QByteArray::number(to - from + 1) + "\r\nConnection: close\r\n\r\n";
        socket->write(head);
        file.seek(from);
        auto body = std::make_shared<QByteArray>(file.read(to - from + 1));
        auto offset = std::make_shared<qint64>(0);
        const qint64 chunk = m_rate > 0 ? std::max<qint64>(m_rate / 20, 1) : body->size();
        auto *timer = new QTimer(socket);
        connect(timer, &QTimer::timeout, socket, [socket, body, offset, chunk, timer] {
            if (socket->state() != QAbstractSocket::ConnectedState) {
                timer->stop();
                return;
            }
            if (socket->bytesToWrite() > 4 * chunk && chunk < body->size())
                return;
            const qint64 n = std::min(chunk, body->size() - *offset);
            socket->write(body->constData() + *offset, n);
            *offset += n;
            if (*offset >= body->size()) {
                timer->stop();
                socket->disconnectFromHost();
            }
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        timer->start(m_rate > 0 ? 50 : 0);
    }

    QTcpServer m_server;
    QString m_path;
    qint64 m_rate;
    int m_rangeRequests = 0;
    std::map<QTcpSocket *, QByteArray> m_buffers;
};

double loadedSeconds(const MediaPlayerItem &item)
{
    double total = 0;
    for (const MediaTimeRange &range : item.loadedTimeRanges())
        total += range.duration().seconds();
    return total;
}

class HttpPlayback : public ::testing::TestWithParam<const char *>
{
};

TEST_P(HttpPlayback, PlaysAnAddressWithExactPicturesAndReportsWhatIsLoaded)
{
    const QString path = BVTest::sampleMedia(QStringLiteral("movie"),
        {QStringLiteral("--duration"), QStringLiteral("4"), QStringLiteral("--size"),
            QStringLiteral("640x360"), QStringLiteral("--index"), QString::fromLatin1(GetParam())});
    ASSERT_FALSE(path.isEmpty());
    const std::vector<ReferenceFrame> reference = referenceFrames(path);
    ASSERT_GT(reference.size(), 80u);
    RangeServer server(path, 0);
    std::unique_ptr<Session> session = open(server.url());
    ASSERT_EQ(session->item->status(), MediaPlayerItem::Status::ReadyToPlay)
        << qPrintable(session->item->error().description());
    EXPECT_EQ(session->item->presentationSize(), QSize(640, 360));

    for (int index : {70, 5, 49, 48, 90}) {
        ASSERT_TRUE(seek(*session->player, reference[size_t(index)].time));
        std::shared_ptr<const QImage> image = session->player->currentImage();
        ASSERT_TRUE(image);
        EXPECT_EQ(digest(*image), reference[size_t(index)].digest) << "frame " << index;
    }
    EXPECT_GT(server.rangeRequests(), 0);
    // With no limit on the connection the whole clip ends up loaded and the buffer full.
    ASSERT_TRUE(
        BVTest::waitFor([&] { return session->item->isPlaybackBufferFull(); }, std::chrono::seconds(20)));
    EXPECT_TRUE(session->item->isPlaybackLikelyToKeepUp());
    EXPECT_FALSE(session->item->isPlaybackBufferEmpty());
    const QList<MediaTimeRange> ranges = session->item->loadedTimeRanges();
    ASSERT_FALSE(ranges.isEmpty());
    EXPECT_TRUE(ranges.last().containsTime(reference[90].time));
}

INSTANTIATE_TEST_SUITE_P(Index, HttpPlayback, ::testing::Values("front", "end"),
    [](const ::testing::TestParamInfo<const char *> &index) { return std::string(index.param); });

TEST(HttpPlaybackThrottled, BuffersGraduallyAndReportsItsState)
{
    const QString path = BVTest::sampleMedia(QStringLiteral("movie"),
        {QStringLiteral("--duration"), QStringLiteral("6"), QStringLiteral("--size"),
            QStringLiteral("640x360")});
    ASSERT_FALSE(path.isEmpty());
    // About five seconds for the whole clip.
    RangeServer server(path, std::max<qint64>(QFileInfo(path).size() / 5, 20000));
    auto player = std::make_unique<MediaPlayer>();
    std::shared_ptr<MediaPlayerItem> item = MediaPlayerItem::create(server.url());
    std::vector<double> loaded;
    bool sawNotLikely = false, sawLikely = false, sawRangesChange = false;
    item->addObserver([&](MediaPlayerItem::Event event) {
        if (event == MediaPlayerItem::Event::LoadedTimeRanges) {
            sawRangesChange = true;
            loaded.push_back(loadedSeconds(*item));
        }
        if (event == MediaPlayerItem::Event::BufferLikelyToKeepUp)
            (item->isPlaybackLikelyToKeepUp() ? sawLikely : sawNotLikely) = true;
    });
    player->replaceCurrentItem(item);
    ASSERT_TRUE(BVTest::waitFor(
        [&] { return item->status() != MediaPlayerItem::Status::Unknown; }, std::chrono::seconds(30)));
    ASSERT_EQ(item->status(), MediaPlayerItem::Status::ReadyToPlay);
    const bool likelyAtStart = item->isPlaybackLikelyToKeepUp();
    ASSERT_TRUE(BVTest::waitFor([&] { return item->isPlaybackBufferFull(); }, std::chrono::seconds(40)));

    EXPECT_FALSE(likelyAtStart && !sawNotLikely)
        << "a slow connection was reported as keeping up from the start";
    EXPECT_TRUE(sawLikely);
    EXPECT_TRUE(sawRangesChange);
    ASSERT_GE(loaded.size(), 3u) << "the loaded ranges should grow in several steps on a slow connection";
    for (size_t i = 1; i < loaded.size(); ++i)
        EXPECT_GE(loaded[i], loaded[i - 1] - 1e-9) << "loaded time shrank while buffering ahead";
    EXPECT_NEAR(loaded.back(), 6.0, 0.2);
}

TEST(HttpPlaybackFailure, AMissingAddressFailsWithAnError)
{
    RangeServer server(QStringLiteral("/nonexistent"), 0);
    std::unique_ptr<Session> session = open(server.url(QStringLiteral("missing.mov")));
    EXPECT_EQ(session->item->status(), MediaPlayerItem::Status::Failed);
    EXPECT_EQ(session->item->error().domain(), MediaPlayerItem::ErrorDomain);
    EXPECT_FALSE(session->item->error().localizedDescription().isEmpty());
    EXPECT_FALSE(session->item->error().localizedFailureReason().isEmpty());
    // Seeking an item that never became ready reports an unfinished seek.
    EXPECT_FALSE(seek(*session->player, MediaTime(1, 1)));
}

} // namespace
