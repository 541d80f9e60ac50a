// Desktop notifications against a notification server this test runs on its own private D-Bus:
// what is sent, clicks and expiries coming back as application notifications, the global switch
// that turns them off, and a desktop without a notification service.
#include "app/BVGrowl.h"
#include "platform/defaults/BVPropertyList.h"
#include "support/BVBundle.h"
#include "support/BVNotificationCenter.h"
#include "tests/common/BVTestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDateTime>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

const QString serviceName = QStringLiteral("com.brightvane.test.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");

} // namespace

// The server side of org.freedesktop.Notifications: records each Notify call.
class FakeNotificationServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call
    {
        QString appName, icon, summary, body;
        QStringList actions;
        QVariantMap hints;
    };
    QList<Call> calls;
    uint nextID = 41;

public Q_SLOTS:
    uint Notify(const QString &appName, uint, const QString &icon, const QString &summary,
        const QString &body, const QStringList &actions, const QVariantMap &hints, int)
    {
        calls << Call {appName, icon, summary, body, actions, hints};
        return ++nextID;
    }
};

namespace {

// A private session bus with the fake server on it, and the notifications BVGrowl posts.
class GrowlFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        BVBundle::setMainBundle(BVBundle::reelmark());
        m_daemon.start(QStringLiteral("dbus-daemon"),
            {QStringLiteral("--config-file=/usr/share/dbus-1/session.conf"), QStringLiteral("--nofork"),
                QStringLiteral("--print-address=1")});
        ASSERT_TRUE(m_daemon.waitForStarted(5000));
        ASSERT_TRUE(BVTest::waitFor([this] { return m_daemon.canReadLine(); }, std::chrono::seconds(5)));
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        server = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(m_address, "server"));
        client = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(m_address, "client"));
        ASSERT_TRUE(server->isConnected());
        ASSERT_TRUE(client->isConnected());
        ASSERT_TRUE(server->registerService(serviceName));
        ASSERT_TRUE(server->registerObject(path, &fake, QDBusConnection::ExportAllSlots));
        for (const QString &name : {BVGrowl::clickedNotification, BVGrowl::timedOutNotification}) {
            BVNotificationCenter::defaultCenter().addObserver(
                this, name, nullptr, [this](const BVNotification &n) { received << n; });
        }
    }

    void TearDown() override
    {
        BVNotificationCenter::defaultCenter().removeObserver(this);
        server.reset();
        client.reset();
        QDBusConnection::disconnectFromBus("server");
        QDBusConnection::disconnectFromBus("client");
        m_daemon.terminate();
        m_daemon.waitForFinished(5000);
    }

    void emitSignal(const QString &name, const QVariantList &arguments)
    {
        QDBusMessage message = QDBusMessage::createSignal(path, interface, name);
        message.setArguments(arguments);
        ASSERT_TRUE(server->send(message));
    }

    // Posts and waits until the notification is shown; answers its id.
    uint postAndWait(BVGrowl *growl, const QString &title, const QVariant &context)
    {
        const qsizetype before = fake.calls.size();
        growl->postGrowlNotification(
            title, QStringLiteral("text"), QImage(), BVGrowl::defaultNotificationName, context);
        EXPECT_TRUE(BVTest::waitFor(
            [&] { return fake.calls.size() > before && growl->lastNotificationID() == fake.nextID; }));
        return growl->lastNotificationID();
    }

    FakeNotificationServer fake;
    std::unique_ptr<QDBusConnection> server, client;
    QList<BVNotification> received;

private:
    QProcess m_daemon;
    QString m_address;
};

} // namespace

TEST_F(GrowlFixture, ClickOnANotificationPostsClickedWithItsContext)
{
    BVGrowl *growl = BVGrowl::defaultController();
    growl->setBus(*client, serviceName);
    QImage icon(256, 256, QImage::Format_ARGB32);
    icon.fill(Qt::red);
    growl->postGrowlNotification(QStringLiteral("Frame exported"), QStringLiteral("shot.png"), icon,
        BVGrowl::defaultNotificationName, QStringLiteral("/home/user/Desktop/shot.png"));
    ASSERT_TRUE(BVTest::waitFor([&] { return fake.calls.size() == 1 && growl->lastNotificationID() == 42; }));
    const FakeNotificationServer::Call &call = fake.calls.first();
    EXPECT_EQ(call.appName, BVGrowl::applicationNameForGrowl());
    EXPECT_FALSE(call.appName.isEmpty());
    EXPECT_EQ(call.summary, QStringLiteral("Frame exported"));
    EXPECT_EQ(call.body, QStringLiteral("shot.png"));
    EXPECT_TRUE(call.actions.contains(QStringLiteral("default")));
    EXPECT_TRUE(call.hints.contains(QStringLiteral("image-data")));
    EXPECT_TRUE(growl->isRegistered());

    emitSignal(QStringLiteral("ActionInvoked"), {uint(7), QStringLiteral("default")}); // not ours
    emitSignal(QStringLiteral("ActionInvoked"), {uint(42), QStringLiteral("other")}); // not a click
    emitSignal(QStringLiteral("ActionInvoked"), {uint(42), QStringLiteral("default")});
    ASSERT_TRUE(BVTest::waitFor([&] { return !received.isEmpty(); }));
    BVTest::spin(std::chrono::milliseconds(100));
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(received.first().name, BVGrowl::clickedNotification);
    EXPECT_EQ(received.first().userInfo.value("clickContext").toString(),
        QStringLiteral("/home/user/Desktop/shot.png"));
}

TEST_F(GrowlFixture, ExpiryPostsTimedOutAndDismissalPostsNothing)
{
    BVGrowl *growl = BVGrowl::defaultController();
    growl->setBus(*client, serviceName);
    const uint first = postAndWait(growl, QStringLiteral("Download finished"), QStringLiteral("a"));
    const uint second = postAndWait(growl, QStringLiteral("Download finished"), QStringLiteral("b"));
    ASSERT_NE(first, second);
    emitSignal(QStringLiteral("NotificationClosed"), {second, uint(2)}); // dismissed by the user
    emitSignal(QStringLiteral("NotificationClosed"), {first, uint(1)}); // expired
    ASSERT_TRUE(BVTest::waitFor([&] { return !received.isEmpty(); }));
    BVTest::spin(std::chrono::milliseconds(100));
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(received.first().name, BVGrowl::timedOutNotification);
    EXPECT_EQ(received.first().userInfo.value("clickContext").toString(), QStringLiteral("a"));
    // A closed notification is forgotten: a late click on it posts nothing.
    emitSignal(QStringLiteral("ActionInvoked"), {first, QStringLiteral("default")});
    BVTest::spin(std::chrono::milliseconds(200));
    EXPECT_EQ(received.size(), 1);
}

TEST_F(GrowlFixture, WithoutAContextTheDateOfPostingComesBack)
{
    BVGrowl *growl = BVGrowl::defaultController();
    growl->setBus(*client, serviceName);
    const QDateTime before = QDateTime::currentDateTime();
    growl->postGrowlNotification(QStringLiteral("Copied"), QStringLiteral("Playback position: 01:00:00:00"));
    ASSERT_TRUE(BVTest::waitFor([&] { return growl->lastNotificationID() == 42; }));
    emitSignal(QStringLiteral("ActionInvoked"), {uint(42), QStringLiteral("default")});
    ASSERT_TRUE(BVTest::waitFor([&] { return !received.isEmpty(); }));
    const QDateTime context = received.first().userInfo.value("clickContext").toDateTime();
    EXPECT_GE(context, before.addMSecs(-1));
    EXPECT_LE(context, QDateTime::currentDateTime());

    // The callbacks themselves post nothing for a missing context.
    received.clear();
    growl->growlNotificationWasClicked(QVariant());
    growl->growlNotificationTimedOut(QVariant());
    BVTest::spin(std::chrono::milliseconds(100));
    EXPECT_TRUE(received.isEmpty());
}

TEST_F(GrowlFixture, GlobalSwitchShowsNothingAndRegistersNothing)
{
    ASSERT_TRUE(BVPropertyList::write(
        QVariantMap {{"growlDisabled", true}}, BVPropertyList::globalPreferencesPath()));
    BVGrowl *growl = BVGrowl::defaultController();
    growl->setBus(*client, serviceName);
    growl->postGrowlNotification(QStringLiteral("Frame exported"), QStringLiteral("shot.png"));
    BVTest::spin(std::chrono::milliseconds(500));
    EXPECT_TRUE(fake.calls.isEmpty());
    EXPECT_FALSE(growl->isRegistered());
    EXPECT_EQ(growl->lastNotificationID(), 0u);
}

TEST_F(GrowlFixture, WithoutANotificationServiceItOnlyLogs)
{
    BVGrowl *growl = BVGrowl::defaultController();
    growl->setBus(*client, QStringLiteral("com.brightvane.test.Nobody"));
    growl->postGrowlNotification(QStringLiteral("Frame exported"), QStringLiteral("shot.png"));
    BVTest::spin(std::chrono::milliseconds(500));
    EXPECT_TRUE(fake.calls.isEmpty());
    EXPECT_EQ(growl->lastNotificationID(), 0u);
    EXPECT_TRUE(received.isEmpty());
}

#include "GrowlTests.moc"
