// The stored login in both forms, as the credential store and the settings files keep it.
#include "VeloraTestSupport.h"

#include "common/BVTestSupport.h"
#include "platform/defaults/BVUserDefaults.h"
#include "platform/keychain/CredentialStore.h"
#include "platform/keychain/FileCredentialBackend.h"
#include "support/BVBundle.h"
#include "support/BVNotificationCenter.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

const QString kService = QStringLiteral("com.brightvane.velora");

class VeloraLogin : public ::testing::Test
{
protected:
    void SetUp() override { clearEverything(); }
    void TearDown() override { clearEverything(); }

    static void clearEverything()
    {
        CredentialStore &store = CredentialStore::sharedStore();
        for (const QVariant &item : store.keychainItemsForService(kService).value_or(QVariantList()))
            store.storeString(
                std::nullopt, item.toMap().value(CredentialStore::accountKey).toString(), {}, kService);
        BVUserDefaults::standardUserDefaults()->removeObjectForKey(QStringLiteral("veloUserName"));
        BVUserDefaults *domain = BVUserDefaults::defaultsForDomain(kService);
        for (const char *key : {"username", "veloServerEnabled", "veloServerURL"})
            domain->removeObjectForKey(QString::fromLatin1(key));
        BVUserDefaults::standardUserDefaults()->synchronize();
        domain->synchronize();
    }
    static void storeItem(const QString &account, const QString &secret, const QString &tag)
    {
        ASSERT_TRUE(CredentialStore::sharedStore().storeString(secret, account, tag, kService));
    }
    static QVariantMap itemFor(const QString &account)
    {
        for (const QVariant &item :
            CredentialStore::sharedStore().keychainItemsForService(kService).value_or(QVariantList())) {
            if (item.toMap().value(CredentialStore::accountKey).toString() == account)
                return item.toMap();
        }
        return {};
    }

    RecordingDelegate delegate;
};

} // namespace

TEST_F(VeloraLogin, StoredAttributeGivesNameServerFlagAndAddress)
{
    struct Case
    {
        const char *label;
        QString tag;
        QString nameDefault;
        QString name;
        bool ownServer;
        QString address;
    };
    const QList<Case> cases = {
        {"three pieces", "Reviewer###1###http://velora.example.org/", {}, "Reviewer", true,
            "http://velora.example.org/"},
        {"user default wins", "Reviewer###1###http://velora.example.org", "Director", "Director", true,
            "http://velora.example.org"},
        {"two pieces", "Reviewer###1", {}, "ann@example.com", false, {}},
        {"(null) address", "Reviewer###0###(null)", {}, "Reviewer", false, {}},
        {"NULL address", "Reviewer###1###NULL", {}, "Reviewer", true, {}},
        {"no attribute", {}, {}, "ann@example.com", false, {}},
        {"empty name", "###0###", {}, "ann@example.com", false, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        clearEverything();
        storeItem(QStringLiteral("ann@example.com"), QStringLiteral("pässword"), c.tag);
        if (!c.nameDefault.isEmpty())
            BVUserDefaults::standardUserDefaults()->setString(c.nameDefault, QStringLiteral("veloUserName"));
        BVVelora velora(BVVelora::Program::Reelmark, &delegate);
        EXPECT_EQ(velora.username(), QStringLiteral("ann@example.com"));
        EXPECT_EQ(velora.password(), QStringLiteral("pässword"));
        EXPECT_EQ(velora.name(), c.name);
        EXPECT_EQ(velora.veloServerEnabled(), c.ownServer);
        EXPECT_EQ(velora.veloServerURLString(), c.address);
        EXPECT_TRUE(velora.isLinked());
    }
}

TEST_F(VeloraLogin, SavingStoresOneItemWithTheJoinedAttributeAndLoadsBack)
{
    storeItem(QStringLiteral("old@example.com"), QStringLiteral("x"), QStringLiteral("Old###0###"));
    {
        BVVelora velora(BVVelora::Program::Reelmark, &delegate);
        velora.setUsername(QStringLiteral("ann@example.com"));
        velora.setPassword(QStringLiteral("secret"));
        velora.setName(QStringLiteral("Ann Editor"));
        velora.setVeloServerEnabled(true);
        velora.setVeloServerURLString(QStringLiteral("http://review.example.org"));
        velora.saveSettings();
    }
    const QVariantList items
        = CredentialStore::sharedStore().keychainItemsForService(kService).value_or(QVariantList());
    ASSERT_EQ(items.size(), 1); // the earlier login of the current form is gone
    const QVariantMap item = items.first().toMap();
    EXPECT_EQ(item.value(CredentialStore::accountKey).toString(), QStringLiteral("ann@example.com"));
    EXPECT_EQ(item.value(CredentialStore::dataKey).toByteArray(), QByteArray("secret"));
    EXPECT_EQ(item.value(CredentialStore::genericKey).toString(),
        QStringLiteral("Ann Editor###1###http://review.example.org"));
    EXPECT_EQ(BVUserDefaults::standardUserDefaults()->stringForKey(QStringLiteral("veloUserName")),
        QStringLiteral("Ann Editor"));

    BVVelora again(BVVelora::Program::Reelmark, &delegate);
    EXPECT_EQ(again.username(), QStringLiteral("ann@example.com"));
    EXPECT_EQ(again.name(), QStringLiteral("Ann Editor"));
    EXPECT_TRUE(again.veloServerEnabled());
    EXPECT_EQ(again.siteURLString(), QStringLiteral("http://review.example.org"));
}

TEST_F(VeloraLogin, EarlierFormIsMigratedOnce)
{
    storeItem(QStringLiteral("password"), QStringLiteral("legacy-secret"), {});
    BVUserDefaults *domain = BVUserDefaults::defaultsForDomain(kService);
    domain->setString(QStringLiteral("bob@example.com"), QStringLiteral("username"));
    domain->setString(QStringLiteral("1"), QStringLiteral("veloServerEnabled"));
    domain->setString(QStringLiteral("http://own.example.org"), QStringLiteral("veloServerURL"));
    BVUserDefaults::standardUserDefaults()->setString(QStringLiteral("Bob"), QStringLiteral("veloUserName"));

    int updates = 0;
    BVNotificationCenter::defaultCenter().addObserver(&updates, QStringLiteral("BVVeloraUpdateSettings"),
        nullptr, [&](const BVNotification &) { ++updates; });
    {
        BVVelora velora(BVVelora::Program::Reelmark, &delegate);
        EXPECT_EQ(velora.username(), QStringLiteral("bob@example.com"));
        EXPECT_EQ(velora.password(), QStringLiteral("legacy-secret"));
        EXPECT_EQ(velora.name(), QStringLiteral("Bob"));
        EXPECT_TRUE(velora.veloServerEnabled());
    }
    EXPECT_EQ(updates, 1);
    const QVariantMap migrated = itemFor(QStringLiteral("bob@example.com"));
    EXPECT_EQ(migrated.value(CredentialStore::dataKey).toByteArray(), QByteArray("legacy-secret"));
    EXPECT_EQ(migrated.value(CredentialStore::genericKey).toString(),
        QStringLiteral("Bob###1###http://own.example.org"));
    // prefsync still reads the earlier form, so it stays.
    EXPECT_EQ(
        CredentialStore::sharedStore().stringForKey(QStringLiteral("password"), kService).value_or(QString()),
        QStringLiteral("legacy-secret"));
    {
        BVVelora second(BVVelora::Program::Reelmark, &delegate);
        EXPECT_EQ(second.username(), QStringLiteral("bob@example.com"));
    }
    EXPECT_EQ(updates, 1); // no second migration
    BVNotificationCenter::defaultCenter().removeObserver(&updates);
}

TEST_F(VeloraLogin, PrefsyncWritesAndReadsTheEarlierForm)
{
    {
        BVVelora velora(BVVelora::Program::Prefsync, &delegate);
        EXPECT_FALSE(velora.isLinked());
        velora.setUsername(QStringLiteral("carol@example.com"));
        velora.setPassword(QStringLiteral("pw"));
        velora.setVeloServerEnabled(true);
        velora.setVeloServerURLString(QStringLiteral("http://own.example.org"));
        velora.saveSettings();
    }
    BVUserDefaults *domain = BVUserDefaults::defaultsForDomain(kService);
    EXPECT_EQ(domain->objectForKey(QStringLiteral("veloServerEnabled")), QVariant(QStringLiteral("1")));
    EXPECT_EQ(domain->stringForKey(QStringLiteral("username")), QStringLiteral("carol@example.com"));
    EXPECT_EQ(
        domain->stringForKey(QStringLiteral("veloServerURL")), QStringLiteral("http://own.example.org"));
    EXPECT_EQ(
        CredentialStore::sharedStore().stringForKey(QStringLiteral("password"), kService).value_or(QString()),
        QStringLiteral("pw"));
    // The shared service name is given back to the program.
    EXPECT_EQ(CredentialStore::sharedStore().serviceName(), BVBundle::mainBundle().bundleIdentifier());

    BVVelora reader(BVVelora::Program::Prefsync, &delegate);
    EXPECT_EQ(reader.username(), QStringLiteral("carol@example.com"));
    EXPECT_EQ(reader.password(), QStringLiteral("pw"));
    EXPECT_TRUE(reader.veloServerEnabled());
}

TEST_F(VeloraLogin, PrefsyncUsesALoginReelmarkStoredInTheCurrentForm)
{
    storeItem(QStringLiteral("dana@example.com"), QStringLiteral("pw"),
        QStringLiteral("Dana###1###http://own.example.org"));
    BVVelora velora(BVVelora::Program::Prefsync, &delegate);
    EXPECT_TRUE(velora.isLinked());
    EXPECT_EQ(velora.username(), QStringLiteral("dana@example.com"));
    EXPECT_EQ(velora.siteURLString(), QStringLiteral("http://own.example.org"));
}

TEST_F(VeloraLogin, SigningOutErasesTheLoginAndSignsOutEveryClient)
{
    storeItem(QStringLiteral("eve@example.com"), QStringLiteral("pw"), QStringLiteral("Eve###0###"));
    storeItem(QStringLiteral("password"), QStringLiteral("pw"), {});
    BVUserDefaults::standardUserDefaults()->setString(QStringLiteral("Eve"), QStringLiteral("veloUserName"));
    BVVelora browser(BVVelora::Program::Reelmark, &delegate);
    BVVelora document(BVVelora::Program::Reelmark, &delegate);
    ASSERT_TRUE(browser.isLinked());
    ASSERT_TRUE(document.isLinked());
    browser.revokeAuthorization();
    EXPECT_FALSE(browser.isLinked());
    EXPECT_FALSE(document.isLinked());
    EXPECT_TRUE(itemFor(QStringLiteral("eve@example.com")).isEmpty());
    EXPECT_FALSE(
        CredentialStore::sharedStore().stringForKey(QStringLiteral("password"), kService).has_value());
    EXPECT_FALSE(BVUserDefaults::standardUserDefaults()->hasStoredValue(QStringLiteral("veloUserName")));
}

TEST_F(VeloraLogin, EveryClientReloadsWhenTheLoginChanges)
{
    BVVelora pane(BVVelora::Program::Reelmark, &delegate);
    BVVelora browser(BVVelora::Program::Reelmark, &delegate);
    EXPECT_FALSE(browser.isLinked());
    pane.setUsername(QStringLiteral("fay@example.com"));
    pane.setPassword(QStringLiteral("pw"));
    pane.saveSettings();
    EXPECT_TRUE(browser.isLinked());
    EXPECT_EQ(browser.username(), QStringLiteral("fay@example.com"));
}

TEST_F(VeloraLogin, CredentialFileIsReadableByItsOwnerOnly)
{
    storeItem(QStringLiteral("gil@example.com"), QStringLiteral("pw"), {});
    const QFile::Permissions permissions = QFile::permissions(FileCredentialBackend::defaultPath());
    EXPECT_EQ(permissions & ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
        QFile::Permissions());
    EXPECT_TRUE(permissions & QFile::ReadOwner);
}
