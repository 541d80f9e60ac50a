// Downloads and cache jobs of the activity window against a server on 127.0.0.1 that the test
// drives: the file that arrives, the bar and the time left, the notifications, and what a failed
// or cancelled download leaves behind.
#include "common/BVTestSupport.h"
#include "export/BVActivityController.h"
#include "export/BVActivityItemCache.h"
#include "export/BVActivityItemDownload.h"
#include "export/BVActivityWindow.h"
#include "export/BVDocumentExporter.h"
#include "player/document/BVDocument.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

void PrintTo(const QString &text, std::ostream *os)
{
    *os << text.toStdString();
}

namespace {

// Bytes that differ from position to position, so a block lost, doubled or moved shows.
QByteArray patternBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = 2166136261u;
    for (int i = 0; i < size; ++i) {
        state = (state ^ quint32(i)) * 16777619u;
        bytes[i] = char(state >> 24);
    }
    return bytes;
}

// Answers every request with one reply. The body goes out at once, or only its first `sendFirst`
// bytes until release() is called (a slow server). Runs in the test's thread.
class DownloadServer : public QObject
{
public:
    int status = 200;
    QByteArray body;
    bool sendLength = true;
    qsizetype sendFirst = -1; // -1: all at once
    int requests = 0;

    DownloadServer()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] { accept(); });
    }
    QUrl url(const QString &path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }
    // Sends the rest of the body and ends the reply.
    void release()
    {
        if (m_socket) {
            m_socket->write(body.mid(sendFirst));
            m_socket->disconnectFromHost();
        }
    }

private:
    void accept()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                m_requestText += socket->readAll();
                if (!m_requestText.contains("\r\n\r\n"))
                    return;
                m_requestText.clear();
                ++requests;
                reply(socket);
            });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    }
    void reply(QTcpSocket *socket)
    {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + (status == 200 ? " OK" : " Not Found")
            + "\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n";
        if (sendLength)
            head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        socket->write(head + "\r\n");
        if (sendFirst < 0) {
            socket->write(body);
            socket->disconnectFromHost();
            return;
        }
        socket->write(body.left(sendFirst));
        m_socket = socket;
    }

    QTcpServer m_server;
    QByteArray m_requestText;
    QPointer<QTcpSocket> m_socket;
};

// A job standing in for an export that the test ends by hand.
class ManualItem : public BVActivityItem
{
public:
    using BVActivityItem::BVActivityItem;
    void end(int status) { setStatus(status); }
};

struct Notification
{
    QString title;
    QString description;
};

class DownloadJob : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder = BVTest::makeTempFolder(QStringLiteral("download"));
        controller.setNotifier([this](const QString &title, const QString &description) {
            notifications.append({title, description});
        });
    }
    QString statusCell(int row)
    {
        BVActivityTableModel *model = controller.window()->model();
        return model->data(model->index(row, BVActivityTableModel::Status), Qt::DisplayRole).toString();
    }
    QStringList folderEntries() const
    {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    static bool ended(const BVActivityItem &item)
    {
        return item.status() == BVActivityItem::Finished || item.status() == BVActivityItem::Failed;
    }

    QString folder;
    BVActivityController controller;
    QList<Notification> notifications;
};

} // namespace

TEST_F(DownloadJob, TheFileArrivesWholeAndTheBarReachesItsLength)
{
    DownloadServer server;
    server.body = patternBytes(3 * 1024 * 1024 + 17);
    const QString destination = folder + QStringLiteral("/Reel 1.final.mov");
    auto item
        = BVActivityItemDownload::activityItemWithDownloadURL(server.url(QStringLiteral("/files/reel.mov")),
            destination, QStringLiteral("Download: Reel 1.final.mov"));
    int progressReports = 0;
    QObject::connect(&controller, &BVActivityController::changed, [&] { ++progressReports; });
    controller.addItem(item);
    EXPECT_EQ(item->status(), BVActivityItem::Running);
    ASSERT_TRUE(BVTest::waitFor([&] { return ended(*item); }));

    EXPECT_EQ(item->status(), BVActivityItem::Finished);
    EXPECT_EQ(BVTest::readFile(destination), server.body);
    EXPECT_EQ(folderEntries(), QStringList {QStringLiteral("Reel 1.final.mov")}); // nothing temporary left
    EXPECT_FALSE(item->isIndeterminate());
    EXPECT_EQ(item->progressMaximum(), double(server.body.size()));
    EXPECT_EQ(item->progress(), double(server.body.size()));
    EXPECT_EQ(item->timeEstimate().totalValue, std::optional<double>(double(server.body.size())));
    EXPECT_GT(progressReports, 1);
    ASSERT_EQ(notifications.size(), 1);
    EXPECT_EQ(notifications[0].title, QStringLiteral("Download complete"));
    EXPECT_EQ(notifications[0].description, QStringLiteral("Reel 1.final"));
    EXPECT_EQ(server.requests, 1);
    EXPECT_FALSE(controller.hasWorkingItems());
}

TEST_F(DownloadJob, TheTimeLeftFollowsTheBytesOrIsUnknownWithoutALength)
{
    QDateTime now = QDateTime::currentDateTimeUtc();
    for (const bool withLength : {true, false}) {
        SCOPED_TRACE(withLength ? "with a length" : "without a length");
        DownloadServer server;
        server.body = patternBytes(400000);
        server.sendLength = withLength;
        server.sendFirst = 100000; // a quarter, then the server waits
        const QString destination
            = folder + (withLength ? QStringLiteral("/a.bin") : QStringLiteral("/b.bin"));
        auto item = BVActivityItemDownload::activityItemWithDownloadURL(
            server.url(QStringLiteral("/a.bin")), destination, QStringLiteral("Download: a.bin"));
        item->setClock([&now] { return now; });
        controller.addItem(item);
        const int row = int(controller.items().size()) - 1;
        ASSERT_TRUE(BVTest::waitFor([&] { return item->progress() == 100000.0; }));
        EXPECT_EQ(item->isIndeterminate(), !withLength);
        // A quarter after 10 s: 30 s to go.
        now = now.addSecs(10);
        EXPECT_EQ(statusCell(row), withLength ? QStringLiteral("00:00:30") : QStringLiteral("Unknown"));
        server.release();
        ASSERT_TRUE(BVTest::waitFor([&] { return ended(*item); }));
        EXPECT_EQ(item->status(), BVActivityItem::Finished);
        EXPECT_EQ(BVTest::readFile(destination), server.body);
        EXPECT_EQ(statusCell(row), QString());
        now = now.addSecs(60);
    }
}

TEST_F(DownloadJob, AnErrorStatusFailsAndLeavesNoFile)
{
    DownloadServer server;
    server.status = 404;
    server.body = "<html>No such file</html>";
    const QString destination = folder + QStringLiteral("/missing.mov");
    auto item = BVActivityItemDownload::activityItemWithDownloadURL(
        server.url(QStringLiteral("/missing.mov")), destination, QStringLiteral("Download: missing.mov"));
    controller.addItem(item);
    ASSERT_TRUE(BVTest::waitFor([&] { return ended(*item); }));
    EXPECT_EQ(item->status(), BVActivityItem::Failed);
    EXPECT_EQ(statusCell(0), QStringLiteral("Error"));
    EXPECT_TRUE(folderEntries().isEmpty()) << folderEntries().join(u',').toStdString();
    ASSERT_EQ(notifications.size(), 1);
    EXPECT_EQ(notifications[0].title, QStringLiteral("Download failed"));
    EXPECT_TRUE(notifications[0].description.contains(QStringLiteral("404")))
        << notifications[0].description.toStdString();
}

TEST_F(DownloadJob, ADestinationThatCannotBeWrittenFailsWithTheFilesName)
{
    DownloadServer server;
    server.body = "abc";
    const QString destination = folder + QStringLiteral("/no such folder/clip.mov");
    auto item = BVActivityItemDownload::activityItemWithDownloadURL(
        server.url(QStringLiteral("/clip.mov")), destination, QStringLiteral("Download: clip.mov"));
    controller.addItem(item);
    ASSERT_TRUE(BVTest::waitFor([&] { return ended(*item); }));
    EXPECT_EQ(item->status(), BVActivityItem::Failed);
    ASSERT_EQ(notifications.size(), 1);
    EXPECT_EQ(notifications[0].title, QStringLiteral("Download failed"));
    EXPECT_EQ(notifications[0].description, QStringLiteral("clip"));
    EXPECT_EQ(server.requests, 0);
}

TEST_F(DownloadJob, CancellingStopsTheTransferAndKeepsTheFileThatWasThere)
{
    DownloadServer server;
    server.body = patternBytes(1 << 20);
    server.sendFirst = 200000; // then nothing more
    const QString destination = folder + QStringLiteral("/clip.mov");
    ASSERT_TRUE(BVTest::writeFile(destination, "the earlier file"));
    auto item = BVActivityItemDownload::activityItemWithDownloadURL(
        server.url(QStringLiteral("/clip.mov")), destination, QStringLiteral("Download: clip.mov"));
    auto next = std::make_shared<ManualItem>(QStringLiteral("Export: after"));
    controller.addItem(item);
    controller.addItem(next);
    ASSERT_TRUE(BVTest::waitFor([&] { return item->progress() == 200000.0; }));
    EXPECT_EQ(statusCell(1), QStringLiteral("Queued"));

    controller.cancelItemAtRow(0);
    EXPECT_EQ(statusCell(0), QStringLiteral("Cancelled"));
    EXPECT_EQ(next->status(), BVActivityItem::Running); // the queue moves on at once
    ASSERT_TRUE(BVTest::waitFor([&] { return ended(*item); }, std::chrono::seconds(5)));
    EXPECT_EQ(BVTest::readFile(destination), QByteArray("the earlier file"));
    EXPECT_EQ(folderEntries(), QStringList {QStringLiteral("clip.mov")});
    EXPECT_TRUE(notifications.isEmpty());
    EXPECT_EQ(statusCell(0), QStringLiteral("Cancelled"));
    next->end(BVActivityItem::Finished);
}

TEST_F(DownloadJob, ADownloadAfterAnExportWaitsQueuedAndThenRuns)
{
    DownloadServer server;
    server.body = patternBytes(5000);
    auto exportJob = std::make_shared<ManualItem>(QStringLiteral("Export: first"));
    const QString destination = folder + QStringLiteral("/after.mp4");
    auto item = BVActivityItemDownload::activityItemWithDownloadURL(
        server.url(QStringLiteral("/after.mp4")), destination, QStringLiteral("Download: after.mp4"));
    controller.addItem(exportJob);
    controller.addItem(item);
    BVTest::spin(std::chrono::milliseconds(200));
    EXPECT_EQ(statusCell(1), QStringLiteral("Queued"));
    EXPECT_EQ(server.requests, 0);
    EXPECT_FALSE(QFileInfo::exists(destination));

    exportJob->end(BVActivityItem::Finished);
    ASSERT_TRUE(BVTest::waitFor([&] { return ended(*item); }));
    EXPECT_EQ(item->status(), BVActivityItem::Finished);
    EXPECT_EQ(BVTest::readFile(destination), server.body);
}

TEST_F(DownloadJob, ACacheJobHandsTheFileToTheDocumentsInsteadOfNotifying)
{
    DownloadServer server;
    server.body = patternBytes(70000);
    QList<std::pair<qlonglong, QString>> cached;
    controller.setCacheHandler([&](qlonglong fileID, const QString &path) {
        cached.append({fileID, path});
        // The file is complete when the documents are told.
        EXPECT_EQ(BVTest::readFile(path), server.body);
    });
    const QString destination = folder + QStringLiteral("/42.mov");
    auto item = BVActivityItemCache::activityItemWithCacheURL(
        server.url(QStringLiteral("/stream/42.mov")), destination, 42, QStringLiteral("Cache: Reel 42"));
    EXPECT_EQ(item->veloFileID(), 42);
    controller.addItem(item);
    ASSERT_TRUE(BVTest::waitFor([&] { return ended(*item); }));
    EXPECT_EQ(item->status(), BVActivityItem::Finished);
    ASSERT_EQ(cached.size(), 1);
    EXPECT_EQ(cached[0].first, 42);
    EXPECT_EQ(cached[0].second, destination);
    EXPECT_TRUE(notifications.isEmpty());

    // A cancelled cache job tells nobody.
    DownloadServer slow;
    slow.body = patternBytes(100000);
    slow.sendFirst = 1000;
    auto cancelled = BVActivityItemCache::activityItemWithCacheURL(
        slow.url(QStringLiteral("/7.mov")), folder + QStringLiteral("/7.mov"), 7, QStringLiteral("Cache: 7"));
    controller.addItem(cancelled);
    ASSERT_TRUE(BVTest::waitFor([&] { return cancelled->progress() > 0; }));
    controller.cancelItemAtRow(1);
    ASSERT_TRUE(BVTest::waitFor([&] { return ended(*cancelled); }));
    EXPECT_EQ(cached.size(), 1);
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/7.mov")));
}

TEST_F(DownloadJob, AJobReleasedMidTransferStopsWithoutCallingBack)
{
    DownloadServer server;
    server.body = patternBytes(500000);
    server.sendFirst = 1000;
    const QString destination = folder + QStringLiteral("/gone.mov");
    {
        BVActivityController own;
        auto item = BVActivityItemDownload::activityItemWithDownloadURL(
            server.url(QStringLiteral("/gone.mov")), destination, QStringLiteral("Download: gone.mov"));
        own.addItem(item);
        ASSERT_TRUE(BVTest::waitFor([&] { return item->progress() > 0; }));
    }
    BVTest::spin(std::chrono::milliseconds(100));
    EXPECT_TRUE(folderEntries().isEmpty());
}

TEST(DownloadNames, TheSavePanelProposesTheTitleWithTheAddressExtension)
{
    const QUrl stream(QStringLiteral("https://cdn.example.com/media/8812/Reel%202.mov?sig=abc"));
    EXPECT_EQ(BVDocumentExporter::proposedDownloadName(QStringLiteral("Reel 2 grade"), stream),
        QStringLiteral("Reel 2 grade.mov"));
    EXPECT_EQ(BVDocumentExporter::proposedDownloadName(QStringLiteral("Reel 2.mp4"), stream),
        QStringLiteral("Reel 2.mp4"));
    EXPECT_EQ(BVDocumentExporter::proposedDownloadName(QString(), stream), QStringLiteral("Reel 2.mov"));
    EXPECT_EQ(BVDocumentExporter::proposedDownloadName(
                  QStringLiteral("Promo"), QUrl(QStringLiteral("http://example.com/play"))),
        QStringLiteral("Promo"));
}

TEST(DownloadNames, CachedFilesAreNamedByIdAndExtension)
{
    const QString folder = QStringLiteral("/cache/Reelmark/File Cache/velora.example.com");
    EXPECT_EQ(BVDocumentExporter::cacheDestination(
                  folder, 42, QUrl(QStringLiteral("https://s3.example.com/a/b/clip.mov?x=1")), false),
        folder + QStringLiteral("/42.mov"));
    EXPECT_EQ(BVDocumentExporter::cacheDestination(
                  folder, 42, QUrl(QStringLiteral("https://velora.example.com/stream.php?id=42")), false),
        folder + QStringLiteral("/42.mp4"));
    EXPECT_EQ(BVDocumentExporter::cacheDestination(
                  folder, 42, QUrl(QStringLiteral("https://velora.example.com/stream?id=42")), true),
        folder + QStringLiteral("/42.wav"));
}

TEST_F(DownloadJob, TheDocumentsDownloadCommandAsksWhereAndQueuesTheDownload)
{
    DownloadServer server;
    server.body = patternBytes(250000);
    BVDocument document;
    BVDocumentExporter::install(document, &controller);
    const QString movie = BVTest::sampleMedia(QStringLiteral("movie"), {QStringLiteral("--duration"), "1"});
    ASSERT_TRUE(document.readFromURL(QUrl::fromLocalFile(movie), BVDocument::movieType()));
    ASSERT_TRUE(BVTest::waitFor([&] { return document.isReady(); }));
    // The document plays a network address.
    document.setFileURL(server.url(QStringLiteral("/review/Scene%2012.mov?token=x")));
    document.play();

    QString proposed;
    const QString chosen = folder + QStringLiteral("/Scene 12 v2.mov");
    QTimer::singleShot(300, [&] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *dialog = qobject_cast<QFileDialog *>(widget);
            if (!dialog || !dialog->isVisible())
                continue;
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            proposed = name->text();
            name->setText(chosen);
            static_cast<QDialog *>(dialog)->accept();
        }
    });
    document.downloadFile();
    EXPECT_EQ(proposed, QStringLiteral("Scene 12.mov"));
    EXPECT_FALSE(document.mediaObject()->isPlaying());
    ASSERT_EQ(controller.items().size(), 1u);
    EXPECT_EQ(controller.items()[0]->description(), QStringLiteral("Download: Scene 12 v2.mov"));
    ASSERT_TRUE(BVTest::waitFor([&] { return ended(*controller.items()[0]); }));
    EXPECT_EQ(BVTest::readFile(chosen), server.body);
    ASSERT_EQ(notifications.size(), 1);
    EXPECT_EQ(notifications[0].description, QStringLiteral("Scene 12 v2"));
    document.cleanup();
}
