// The credential store's operations on both of its backends: the desktop's Secret Service
// (gnome-keyring on a private session bus started by the test) and the owner-only file.
#include "common/BVTestSupport.h"
#include "platform/keychain/CredentialStore.h"
#include "platform/keychain/FileCredentialBackend.h"
#include "platform/keychain/SecretServiceCredentialBackend.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <thread>

namespace {

const QString kService = QStringLiteral("com.brightvane.velora");

// A session bus of its own with gnome-keyring's Secret Service on it, unlocked; it ends when the
// test closes the script's input.
class PrivateSecretService
{
public:
    bool start(QString *failure)
    {
        if (QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("dbus-run-session")).isEmpty()) {
            *failure = QStringLiteral("gnome-keyring-daemon or dbus-run-session is not installed");
            return false;
        }
        const QString script = QStringLiteral(
            "printf 'keyring-test-password' | gnome-keyring-daemon --unlock --components=secrets "
            "--foreground "
            ">/dev/null 2>&1 & keyring=$!; "
            // Until the daemon owns the name, a call would have the bus start a second, locked one.
            "for i in $(seq 150); do dbus-send --session --print-reply --dest=org.freedesktop.DBus "
            "/org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets "
            "2>/dev/null | grep -q 'boolean true' && break; sleep 0.1; done; "
            "echo \"BUS=$DBUS_SESSION_BUS_ADDRESS\"; cat >/dev/null; kill $keyring");
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("dbus-run-session"),
            {QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"), script});
        QString output;
        const bool ready = BVTest::waitFor(
            [&] {
                output += QString::fromUtf8(m_process.readAllStandardOutput());
                return output.contains(QLatin1Char('\n')) || m_process.state() == QProcess::NotRunning;
            },
            std::chrono::seconds(20));
        const qsizetype at = output.indexOf(QStringLiteral("BUS="));
        if (!ready || at < 0) {
            *failure = QStringLiteral("the private Secret Service did not start: ") + output;
            return false;
        }
        m_address = output.mid(at + 4).section(QLatin1Char('\n'), 0, 0).trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
        // The service answers before its unlocked login collection is in place: wait until an
        // item can be stored there.
        SecretServiceCredentialBackend backend;
        const CredentialItem probe {QStringLiteral("org.example.ready"), QStringLiteral("probe"), {}, "x"};
        const bool usable = BVTest::waitFor(
            [&] { return backend.store(probe, false) && backend.remove(probe.service, probe.account); },
            std::chrono::seconds(15));
        if (!usable)
            *failure = QStringLiteral("the private Secret Service never accepted an item");
        return usable;
    }
    ~PrivateSecretService()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.closeWriteChannel();
            if (!m_process.waitForFinished(5000)) {
                m_process.kill();
                m_process.waitForFinished(2000);
            }
        }
    }

private:
    QProcess m_process;
    QString m_address;
};

// The operations every backend must answer alike.
void exerciseStore(CredentialStore &store)
{
    store.setServiceName(kService);
    EXPECT_FALSE(store.stringForKey(QStringLiteral("ann@example.com")).has_value());
    ASSERT_TRUE(store.keychainItemsForService().has_value());
    EXPECT_TRUE(store.keychainItemsForService()->isEmpty());

    ASSERT_TRUE(store.storeString(QStringLiteral("pässwörd ✓"), QStringLiteral("ann@example.com"),
        QStringLiteral("Ann###1###http://own.example.org")));
    EXPECT_EQ(store.stringForKey(QStringLiteral("ann@example.com")), QStringLiteral("pässwörd ✓"));
    // Replacing the secret without a tag keeps the attribute; with one, replaces it.
    ASSERT_TRUE(store.storeString(QStringLiteral("second"), QStringLiteral("ann@example.com")));
    QVariantList items = store.keychainItemsForService().value_or(QVariantList());
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items.first().toMap().value(CredentialStore::genericKey).toString(),
        QStringLiteral("Ann###1###http://own.example.org"));
    EXPECT_EQ(items.first().toMap().value(CredentialStore::dataKey).toByteArray(), QByteArray("second"));
    ASSERT_TRUE(store.storeString(
        QStringLiteral("third"), QStringLiteral("ann@example.com"), QStringLiteral("Ann###0###")));
    items = store.keychainItemsForService().value_or(QVariantList());
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(
        items.first().toMap().value(CredentialStore::genericKey).toString(), QStringLiteral("Ann###0###"));
    EXPECT_EQ(items.first().toMap().value(CredentialStore::accountKey).toString(),
        QStringLiteral("ann@example.com"));

    // Other services' items stay apart.
    ASSERT_TRUE(store.storeString(
        QStringLiteral("x"), QStringLiteral("ann@example.com"), {}, QStringLiteral("org.example.other")));
    ASSERT_TRUE(store.storeString(QStringLiteral("legacy"), QStringLiteral("password")));
    items = store.keychainItemsForService().value_or(QVariantList());
    EXPECT_EQ(items.size(), 2);
    const QVariantList emails = CredentialStore::filterEmailKeychains(items);
    ASSERT_EQ(emails.size(), 1);
    EXPECT_EQ(emails.first().toMap().value(CredentialStore::accountKey).toString(),
        QStringLiteral("ann@example.com"));

    // At most ten items are listed.
    for (int i = 0; i < 12; ++i)
        ASSERT_TRUE(store.storeString(QStringLiteral("s"), QStringLiteral("user%1@example.com").arg(i)));
    EXPECT_EQ(store.keychainItemsForService().value_or(QVariantList()).size(), 10);

    CredentialBindings bindings = store.keychainBindings();
    EXPECT_EQ(bindings.objectForKey(QStringLiteral("password")), QStringLiteral("legacy"));
    bindings.removeObjectForKey(QStringLiteral("password"));
    EXPECT_FALSE(store.stringForKey(QStringLiteral("password")).has_value());
    // Deleting through an empty string form, and deleting what is not there.
    EXPECT_TRUE(store.storeString(std::nullopt, QStringLiteral("ann@example.com")));
    EXPECT_TRUE(store.storeString(std::nullopt, QStringLiteral("ann@example.com")));
    EXPECT_FALSE(store.stringForKey(QStringLiteral("ann@example.com")).has_value());
    EXPECT_EQ(store.stringForKey(QStringLiteral("ann@example.com"), QStringLiteral("org.example.other")),
        QStringLiteral("x"));
}

// A backend that never answers in time.
class StuckBackend : public CredentialBackend
{
public:
    QString description() const override { return QStringLiteral("stuck"); }
    bool find(const QString &, const QString &, CredentialItem *, bool *) override { return wait(); }
    bool store(const CredentialItem &, bool) override { return wait(); }
    bool remove(const QString &, const QString &) override { return wait(); }
    bool list(const QString &, int, QList<CredentialItem> *) override { return wait(); }

private:
    static bool wait()
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        return true;
    }
};

} // namespace

TEST(CredentialStore, FileBackendKeepsItemsAndIsOwnerOnly)
{
    const QString path = BVTest::makeTempFolder() + QStringLiteral("/keys/credentials.json");
    CredentialStore store(std::make_shared<FileCredentialBackend>(path));
    exerciseStore(store);
    EXPECT_EQ(QFileInfo(path).permissions()
            & ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
        QFile::Permissions());
    EXPECT_EQ(QFileInfo(QFileInfo(path).absolutePath()).permissions()
            & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther
                | QFile::ExeOther),
        QFile::Permissions());
    // The secret is not kept as readable text.
    EXPECT_FALSE(BVTest::readFile(path).contains("legacy"));
}

TEST(CredentialStore, FileBackendRefusesADamagedFileInsteadOfOverwritingIt)
{
    const QString path = BVTest::makeTempFolder() + QStringLiteral("/credentials.json");
    BVTest::writeFile(path, "{not json");
    CredentialStore store(std::make_shared<FileCredentialBackend>(path));
    EXPECT_FALSE(store.storeString(QStringLiteral("x"), QStringLiteral("a@example.com"), {}, kService));
    EXPECT_FALSE(store.keychainItemsForService(kService).has_value());
    EXPECT_EQ(BVTest::readFile(path), QByteArray("{not json"));
}

TEST(CredentialStore, SecretServiceKeepsItems)
{
    PrivateSecretService service;
    QString failure;
    if (!service.start(&failure)) {
        if (failure.contains(QStringLiteral("not installed")))
            GTEST_SKIP() << failure.toStdString();
        FAIL() << failure.toStdString();
    }
    auto backend = std::make_shared<SecretServiceCredentialBackend>();
    QString reason;
    ASSERT_TRUE(BVTest::waitFor([&] { return backend->probe(&reason); }, std::chrono::seconds(10)))
        << reason.toStdString();
    CredentialStore store(backend);
    exerciseStore(store);
}

TEST(CredentialStore, SharedStoreChoosesTheSecretServiceWhenItAnswers)
{
    PrivateSecretService service;
    QString failure;
    if (!service.start(&failure)) {
        if (failure.contains(QStringLiteral("not installed")))
            GTEST_SKIP() << failure.toStdString();
        FAIL() << failure.toStdString();
    }
    qunsetenv("BV_CREDENTIAL_STORE");
    SecretServiceCredentialBackend probe;
    QString reason;
    ASSERT_TRUE(BVTest::waitFor([&] { return probe.probe(&reason); }, std::chrono::seconds(10)));
    CredentialStore &store = CredentialStore::sharedStore();
    EXPECT_EQ(store.backendDescription(), QStringLiteral("Secret Service"));
    ASSERT_TRUE(store.storeString(QStringLiteral("pw"), QStringLiteral("ann@example.com"), {}, kService));
    EXPECT_EQ(store.stringForKey(QStringLiteral("ann@example.com"), kService), QStringLiteral("pw"));
    EXPECT_FALSE(QFileInfo::exists(FileCredentialBackend::defaultPath()));
}

TEST(CredentialStore, SharedStoreFallsBackToTheFileWithoutASecretService)
{
    qunsetenv("BV_CREDENTIAL_STORE");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    CredentialStore &store = CredentialStore::sharedStore();
    EXPECT_EQ(store.backendDescription(), FileCredentialBackend::defaultPath());
    ASSERT_TRUE(store.storeString(QStringLiteral("pw"), QStringLiteral("ann@example.com"), {}, kService));
    EXPECT_TRUE(QFileInfo::exists(FileCredentialBackend::defaultPath()));
}

TEST(CredentialStore, ACallThatDoesNotAnswerIsGivenUpAfterTheTimeout)
{
    CredentialStore store(std::make_shared<StuckBackend>());
    store.setTimeout(std::chrono::milliseconds(200));
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(store.stringForKey(QStringLiteral("a@example.com"), kService).has_value());
    EXPECT_FALSE(store.storeString(QStringLiteral("x"), QStringLiteral("a@example.com"), {}, kService));
    EXPECT_LT(timer.elapsed(), 1200);
}
