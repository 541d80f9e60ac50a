// The document's transport state without a window: the one transport event per command, the end
// of the media after a shuttle and in reverse, the reverse shuttle from pause, the play-around that
// a pause ends, the next playlist item, notification clicks, the key map's Ctrl+Alt+M and a K held
// across a loss of focus, files that cannot be opened and addresses still being probed.
#include "DocumentTestSupport.h"

#include "player/document/BVTransportEvent.h"
#include "player/time/BVAVFoundation.h"
#include "support/BVNotificationCenter.h"

#include <QApplication>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

using namespace DocumentTest;

namespace {

// The transport events of one document, in order.
class EventRecorder
{
public:
    explicit EventRecorder(BVDocument &document)
    {
        m_connection = QObject::connect(&document, &BVDocument::transportPerformed,
            [this](const BVTransportEvent &event) { events.append(event); });
    }
    ~EventRecorder() { QObject::disconnect(m_connection); }
    QList<BVTransportEvent::Kind> kinds() const
    {
        QList<BVTransportEvent::Kind> list;
        for (const BVTransportEvent &event : events)
            list.append(event.kind);
        return list;
    }
    bool has(BVTransportEvent::Kind kind) const { return kinds().contains(kind); }
    void clear() { events.clear(); }
    QList<BVTransportEvent> events;

private:
    QMetaObject::Connection m_connection;
};

// Counts the posts of some notification names.
class NotificationRecorder
{
public:
    explicit NotificationRecorder(const QStringList &names)
    {
        for (const QString &name : names)
            BVNotificationCenter::defaultCenter().addObserver(
                this, name, nullptr, [this](const BVNotification &n) { posted.append(n.name); });
    }
    ~NotificationRecorder() { BVNotificationCenter::defaultCenter().removeObserver(this); }
    QStringList posted;
};

const QStringList kGangWords {QStringLiteral("GANGPLAY"), QStringLiteral("GANGPAUSE"),
    QStringLiteral("GANGREW"), QStringLiteral("GANGFF")};

// A leader and a follower with no windows; the leader is the key document.
class DocumentState : public ::testing::Test
{
protected:
    void SetUp() override
    {
        resetSettings();
        defaults()->setInteger(1, QStringLiteral("gangMode"));
        m_leader = openHeadless(movie(QStringLiteral("320x240"), QStringLiteral("3")));
        m_follower = openHeadless(movie());
        m_leader->windowDidBecomeKey();
        m_follower->gang().updateGangSettings();
        ASSERT_TRUE(m_follower->gang().isListening());
        ASSERT_FALSE(m_leader->gang().isListening());
    }
    void TearDown() override
    {
        BVTest::spin(std::chrono::milliseconds(500));
        m_follower.reset();
        m_leader.reset();
    }
    BVMediaObject &media() { return *m_leader->mediaObject(); }

    std::unique_ptr<BVDocument> m_leader;
    std::unique_ptr<BVDocument> m_follower;
};

} // namespace

TEST_F(DocumentState, ReachingTheEndAfterAShuttleStopsAsAPauseDoes)
{
    const MediaTime duration = media().duration();
    ASSERT_TRUE(seekAndWait(*m_leader, duration - MediaTime(1, 2)));
    EventRecorder events(*m_leader);
    NotificationRecorder gang(kGangWords);
    m_leader->play();
    m_leader->fastForward();
    EXPECT_FLOAT_EQ(media().rate(), 1.5f);
    ASSERT_TRUE(BVTest::waitFor(
        [&] { return events.has(BVTransportEvent::EndOfMedia); }, std::chrono::milliseconds(10000)));
    BVTest::spin(std::chrono::milliseconds(300));
    EXPECT_FALSE(media().isPlaying());
    EXPECT_FALSE(m_leader->holdsPowerAssertion());
    EXPECT_EQ(events.kinds(),
        (QList {BVTransportEvent::Play, BVTransportEvent::ShuttleUp, BVTransportEvent::EndOfMedia}));
    EXPECT_NEAR(events.events.last().position.seconds(), duration.seconds(), 0.1);
    EXPECT_EQ(gang.posted,
        (QStringList {QStringLiteral("GANGPLAY"), QStringLiteral("GANGFF"), QStringLiteral("GANGPAUSE")}));
    // The follower stopped with it.
    EXPECT_FALSE(m_follower->mediaObject()->isPlaying());
}

TEST_F(DocumentState, ReverseShuttleFromPauseStartsAsPlayAndStopsAtTheStart)
{
    ASSERT_TRUE(seekAndWait(*m_leader, MediaTime(1, 2)));
    ASSERT_FALSE(media().isPlaying());
    EventRecorder events(*m_leader);
    NotificationRecorder gang(kGangWords);
    m_leader->rewind();
    EXPECT_FLOAT_EQ(media().rate(), -1);
    EXPECT_TRUE(m_leader->holdsPowerAssertion());
    EXPECT_EQ(events.kinds(), (QList {BVTransportEvent::Play, BVTransportEvent::ShuttleDown}));
    EXPECT_EQ(gang.posted, (QStringList {QStringLiteral("GANGPLAY"), QStringLiteral("GANGREW")}));
    ASSERT_TRUE(BVTest::waitFor(
        [&] { return events.has(BVTransportEvent::EndOfMedia); }, std::chrono::milliseconds(10000)));
    BVTest::spin(std::chrono::milliseconds(300));
    EXPECT_FALSE(media().isPlaying());
    EXPECT_FALSE(m_leader->holdsPowerAssertion());
    EXPECT_EQ(frame(*m_leader), 0u);
    EXPECT_EQ(gang.posted.last(), QStringLiteral("GANGPAUSE"));
}

TEST_F(DocumentState, EveryCommandEndsInOneEventWithThePosition)
{
    const double fps = media().fps();
    ASSERT_TRUE(seekAndWait(*m_leader, BVAVFoundation::timeFromFrameCount(10, fps)));
    EventRecorder events(*m_leader);
    struct Case
    {
        const char *name;
        std::function<void()> command;
        BVTransportEvent::Kind kind;
    };
    const QList<Case> cases {
        {"step right", [&] { m_leader->stepRight(); }, BVTransportEvent::StepForward},
        {"step left", [&] { m_leader->stepLeft(); }, BVTransportEvent::StepBack},
        {"forward 1 s", [&] { m_leader->forward1Second(); }, BVTransportEvent::Jump},
        {"go to end", [&] { m_leader->goToEnd(); }, BVTransportEvent::End},
        {"go to start", [&] { m_leader->goToStart(); }, BVTransportEvent::Home},
    };
    for (const Case &c : cases) {
        events.clear();
        c.command();
        ASSERT_FALSE(events.events.isEmpty()) << c.name;
        EXPECT_EQ(events.events.first().kind, c.kind) << c.name;
        EXPECT_EQ(events.kinds().count(c.kind), 1) << c.name;
        // The seek it started reports where it landed.
        EXPECT_TRUE(BVTest::waitFor([&] { return events.has(BVTransportEvent::SeekDone); })) << c.name;
        EXPECT_EQ(events.events.last().position, media().currentTime()) << c.name;
    }
}

TEST_F(DocumentState, APauseEndsThePlayAroundItInterrupted)
{
    ASSERT_TRUE(seekAndWait(*m_follower, MediaTime(5, 1)));
    BVDocument &document = *m_follower;
    document.playAround();
    EXPECT_EQ(document.playbackResumePos(),
        MediaTime(5, 1).convertScale(document.playbackResumePos().timescale(), MediaTime::Rounding::Default));
    BVTest::spin(std::chrono::milliseconds(300));
    document.pause();
    EXPECT_EQ(document.playbackResumePos(), MediaTime::zero());
    EXPECT_EQ(document.mediaObject()->playbackRange().duration().value(), 0);

    // The next in-to-out play ends at its out point, not back where the play-around began.
    ASSERT_TRUE(seekAndWait(document, MediaTime(1, 1)));
    document.setInPoint();
    ASSERT_TRUE(seekAndWait(document, MediaTime(3, 2)));
    document.setOutPoint();
    document.playInToOut();
    ASSERT_TRUE(BVTest::waitFor(
        [&] { return !document.mediaObject()->isPlaying(); }, std::chrono::milliseconds(8000)));
    BVTest::spin(std::chrono::milliseconds(400));
    EXPECT_NEAR(seconds(document), 1.5, 0.25);
}

namespace {

class TwoItemPlaylist : public BVDocument::Playlist
{
public:
    QUrl next;
    QUrl previousURL() override { return {}; }
    QUrl nextURL() override { return std::exchange(next, QUrl()); }
};

} // namespace

TEST(DocumentPlaylist, TheNextItemStartsWithoutThePreviousItemsState)
{
    resetSettings();
    const QString first = movie(QStringLiteral("320x240"), QStringLiteral("10"));
    const QString second = movie(QStringLiteral("320x240"), QStringLiteral("4"));
    TwoItemPlaylist playlist;
    playlist.next = QUrl::fromLocalFile(second);
    auto document = openHeadless(first);
    document->setPlaylist(&playlist);
    ASSERT_TRUE(seekAndWait(*document, MediaTime(2, 1)));
    document->setInPoint();
    ASSERT_TRUE(seekAndWait(*document, MediaTime(6, 1)));
    document->setOutPoint();
    ASSERT_NE(document->inOutRange().duration().value(), 0);

    document->skipNext();
    EXPECT_EQ(document->inOutRange().duration().value(), 0);
    EXPECT_EQ(document->fileURL(), QUrl::fromLocalFile(second));
    EXPECT_EQ(document->displayName(), QFileInfo(second).fileName());
    ASSERT_TRUE(BVTest::waitFor([&] {
        auto *asset = dynamic_cast<BVAVAsset *>(document->mediaObject());
        return document->isReady() && asset && asset->isReadyToPlay();
    }));
    EXPECT_NEAR(document->duration().seconds(), 4.0, 0.1);
    document->cleanup();
}

namespace {

// Catches what would be opened in the file browser.
class Revealer : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void reveal(const QUrl &url) { opened.append(url); }
};

} // namespace

TEST(DocumentNotifications, OnlyThePlayerThatPostedANotificationActsOnItsClick)
{
    resetSettings();
    const QString firstPath = movie();
    const QString secondPath = movie(QStringLiteral("320x240"), QStringLiteral("8"));
    auto first = openHeadless(firstPath);
    auto second = openHeadless(secondPath);
    QVariant context;
    BVDocument::setUserNotificationHandler(
        [&](const QString &, const QString &, const QVariant &clickContext) { context = clickContext; });
    first->copyCurrentPosition();
    BVDocument::setUserNotificationHandler({});
    ASSERT_EQ(context.toString(), firstPath);

    Revealer revealer;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &revealer, "reveal");
    BVNotificationCenter::defaultCenter().postNotification(
        QStringLiteral("BVGrowlAlertClicked"), nullptr, {{QStringLiteral("clickContext"), context}});
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    EXPECT_EQ(revealer.opened, QList {QUrl::fromLocalFile(QFileInfo(firstPath).absolutePath())});
    first->cleanup();
    second->cleanup();
}

TEST(DocumentKeys, CtrlAltMIsTheMuteCommandsAndAHeldKIsLetGoWithTheFocus)
{
    resetSettings();
    auto document = openHeadless(movie());
    QKeyEvent ctrlAltM(
        QEvent::KeyPress, Qt::Key_M, Qt::ControlModifier | Qt::AltModifier, QStringLiteral("m"));
    EXPECT_FALSE(document->playbackKeyPressed(&ctrlAltM, false));
    QKeyEvent ctrlM(QEvent::KeyPress, Qt::Key_M, Qt::ControlModifier, QStringLiteral("m"));
    EXPECT_TRUE(document->playbackKeyPressed(&ctrlM, false));

    QKeyEvent kDown(QEvent::KeyPress, Qt::Key_K, Qt::NoModifier, QStringLiteral("k"));
    document->playbackKeyPressed(&kDown, false);
    EXPECT_TRUE(document->kPressed());
    // The release goes to the window that took the focus.
    document->windowDidResignKey(false);
    EXPECT_FALSE(document->kPressed());
    // L is no longer slow: pressed and released while paused, it plays at 1.
    QKeyEvent lDown(QEvent::KeyPress, Qt::Key_L, Qt::NoModifier, QStringLiteral("l"));
    QKeyEvent lUp(QEvent::KeyRelease, Qt::Key_L, Qt::NoModifier, QStringLiteral("l"));
    document->playbackKeyPressed(&lDown, false);
    EXPECT_FALSE(document->mediaObject()->isPlaying());
    document->playbackKeyPressed(&lUp, true);
    EXPECT_TRUE(document->mediaObject()->isPlaying());
    EXPECT_FLOAT_EQ(document->mediaObject()->rate(), 1);
    document->pause();
    BVTest::spin(std::chrono::milliseconds(300));
    document->cleanup();
}

namespace {

// The text of an alert dialog shown now; closes it. Empty when none is shown.
QString shownAlertText()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (box && box->isVisible()) {
            const QString text = box->text() + QLatin1Char('\n') + box->informativeText();
            box->close();
            return text;
        }
    }
    return {};
}

} // namespace

TEST(DocumentOpening, AFileOrAddressThatCannotBeOpenedIsNamedInAnAlertAndTheDocumentGoes)
{
    resetSettings();
    QTemporaryDir dir;
    const QString notMedia = dir.filePath(QStringLiteral("notes.mov"));
    {
        QFile file(notMedia);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
    }
    // A server that accepts and hangs up at once.
    QTcpServer refusing;
    ASSERT_TRUE(refusing.listen(QHostAddress::LocalHost));
    QObject::connect(&refusing, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *socket = refusing.nextPendingConnection())
            socket->abort();
    });
    const QUrl address(QStringLiteral("http://127.0.0.1:%1/review.mov").arg(refusing.serverPort()));
    struct Case
    {
        QUrl url;
        QString name;
    };
    for (const Case &c : {Case {QUrl::fromLocalFile(notMedia), QStringLiteral("notes.mov")},
             Case {address, address.toDisplayString()}}) {
        BVDocument document;
        QSignalSpy closed(&document, &BVDocument::documentClosed);
        // The document has no window: it tells, and opens no dialog itself.
        QString alert;
        QObject::connect(&document, &BVDocument::alertRequested, [&](const BVDocumentAlert &told) {
            alert = told.messageText + QLatin1Char('\n') + told.informativeText;
        });
        ASSERT_TRUE(document.readFromURL(c.url, BVDocument::movieType()));
        EXPECT_TRUE(BVTest::waitFor([&] { return closed.count() == 1; })) << c.name.toStdString();
        EXPECT_TRUE(alert.contains(c.name)) << alert.toStdString();
        EXPECT_TRUE(shownAlertText().isEmpty());
    }
}

TEST(DocumentOpening, TheTimecodeOfAnAddressStillBeingProbedDoesNotWaitForIt)
{
    resetSettings();
    // A server that accepts and never answers.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    QList<QTcpSocket *> held;
    QObject::connect(&silent, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *socket = silent.nextPendingConnection())
            held.append(socket);
    });
    BVDocument document;
    ASSERT_TRUE(
        document.readFromURL(QUrl(QStringLiteral("http://127.0.0.1:%1/slow.mov").arg(silent.serverPort())),
            BVDocument::movieType()));
    BVTest::waitFor([&] { return !held.isEmpty(); }, std::chrono::milliseconds(3000));
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(document.currentDisplayTimecode(), QStringLiteral("00:00:00:00"));
    document.modifyTimecodeDisplay(2);
    EXPECT_EQ(document.updateTimecode(), QStringLiteral("0"));
    EXPECT_LT(clock.elapsed(), 1000);
    document.cleanup();
    for (QTcpSocket *socket : held)
        socket->abort();
}

#include "DocumentStateTests.moc"
