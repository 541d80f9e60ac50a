// The stored login: the credential store's items of "com.brightvane.velora" and the settings.
//
// Current form (Reelmark): one item per login, account = the user name (it contains "@"), secret =
// the password, generic attribute = "name###0|1###server address". Earlier form (still written by
// prefsync, read by both): the item of account "password" plus "username", "veloServerEnabled" and
// "veloServerURL" in the preferences domain "com.brightvane.velora". The display name is
// "veloUserName" in the program's own settings.
#include "cloud/BVVelora.h"

#include "platform/defaults/BVUserDefaults.h"
#include "platform/keychain/CredentialStore.h"
#include "support/BVBundle.h"
#include "support/BVFormat.h"
#include "support/BVLog.h"
#include "support/BVNotificationCenter.h"

namespace {

const QString kUserNameDefault = QStringLiteral("veloUserName");
const QString kLegacyPasswordAccount = QStringLiteral("password");
const QString kLegacyUsernameAccount = QStringLiteral("username");

BVUserDefaults *veloraDomain()
{
    return BVUserDefaults::defaultsForDomain(BVVelora::keychainService);
}

BVUserDefaults *programDefaults()
{
    return BVUserDefaults::standardUserDefaults();
}

// The store addressed to the cloud's service name. prefsync gives the shared name back afterwards.
class ServiceScope
{
public:
    explicit ServiceScope(BVVelora::Program program)
        : m_restore(program == BVVelora::Program::Prefsync)
    {
        CredentialStore::sharedStore().setServiceName(BVVelora::keychainService);
    }
    ~ServiceScope()
    {
        if (m_restore)
            CredentialStore::sharedStore().setServiceName(BVBundle::mainBundle().bundleIdentifier());
    }
    CredentialStore &store() { return CredentialStore::sharedStore(); }

private:
    bool m_restore;
};

bool isNullText(const QString &text)
{
    return text == QLatin1String("(null)") || text == QLatin1String("null") || text == QLatin1String("NULL");
}

bool boolFromText(const QVariant &value)
{
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().trimmed().toLower();
        return text == QLatin1String("1") || text == QLatin1String("yes") || text == QLatin1String("true")
            || (text.toInt() != 0);
    }
    return value.toBool();
}

} // namespace

bool BVVelora::authenticateWithUsername(const QString &username, const QString &password)
{
    if (username.isEmpty() || password.isEmpty()) {
        reportAuthenticationError();
        return false;
    }
    setUsername(username);
    setPassword(password);
    saveSettings();
    post(QStringLiteral("/authenticate"), {}, QStringLiteral("authenticate"));
    return true;
}

void BVVelora::saveDisplayName()
{
    if (m_program == Program::Reelmark) {
        saveSettings();
        return;
    }
    programDefaults()->setString(name(), kUserNameDefault);
    programDefaults()->synchronize();
}

void BVVelora::saveSettings()
{
    ServiceScope scope(m_program);
    CredentialStore &store = scope.store();
    const QString user = username();
    const QString secret = password();
    if (m_program == Program::Reelmark) {
        const std::optional<QVariantList> items = store.keychainItemsForService(keychainService);
        for (const QVariant &item : CredentialStore::filterEmailKeychains(items.value_or(QVariantList())))
            store.storeString(std::nullopt, item.toMap().value(CredentialStore::accountKey).toString(), {},
                keychainService);
        if (!user.isEmpty() && !secret.isEmpty()) {
            QString displayName, address;
            bool ownServer;
            {
                std::lock_guard lock(m_fieldsMutex);
                if (m_name.isEmpty())
                    m_name = m_username;
                displayName = m_name;
                address = m_veloServerURLString;
                ownServer = m_veloServerEnabled;
            }
            const QString tag = BVFormat::format("%@###%i###%@", displayName, int(ownServer), address);
            if (!store.storeString(secret, user, tag, keychainService))
                BVLog::appendLog("Velora error: Unable to save login information in Keychain");
        }
    } else {
        if (!secret.isEmpty() && !store.storeString(secret, kLegacyPasswordAccount, {}, keychainService))
            BVLog::appendLog("Velora error: Unable to save login information in Keychain");
        BVUserDefaults *domain = veloraDomain();
        domain->setString(user, kLegacyUsernameAccount);
        domain->setString(
            BVFormat::format("%i", int(veloServerEnabled())), QStringLiteral("veloServerEnabled"));
        domain->setString(veloServerURLString(), QStringLiteral("veloServerURL"));
        domain->synchronize();
    }
    const QString displayName = name();
    if (!displayName.isEmpty() && displayName != user)
        programDefaults()->setString(displayName, kUserNameDefault);
    programDefaults()->synchronize();
    BVNotificationCenter::defaultCenter().postNotification(updateSettingsNotification, this);
}

void BVVelora::loadSavedSettings()
{
    bool migrated = false;
    {
        std::lock_guard lock(m_loadMutex);
        if (m_program == Program::Reelmark)
            loadSavedSettingsReelmark(&migrated);
        else
            loadSavedSettingsPrefsync();
    }
    // Stored in the current form; outside the lock, as saving tells every instance to reload.
    if (migrated)
        saveSettings();
}

void BVVelora::loadSavedSettingsReelmark(bool *migrated)
{
    ServiceScope scope(m_program);
    CredentialStore &store = scope.store();
    bool earlierLogin = false;
    if (username().isEmpty()) {
        const std::optional<QString> secret = store.stringForKey(kLegacyPasswordAccount, keychainService);
        const QString user = veloraDomain()->stringForKey(kLegacyUsernameAccount);
        if (secret && !user.isEmpty()) {
            const QString displayName = programDefaults()->stringForKey(kUserNameDefault);
            std::lock_guard lock(m_fieldsMutex);
            m_username = user;
            m_password = *secret;
            m_veloServerEnabled
                = boolFromText(veloraDomain()->objectForKey(QStringLiteral("veloServerEnabled")));
            m_veloServerURLString = veloraDomain()->stringForKey(QStringLiteral("veloServerURL"));
            m_name = displayName.isEmpty() ? user : displayName;
            earlierLogin = true;
        }
    }
    const bool current = loadCurrentForm();
    // An earlier login is stored anew only when no current one stands in for it, so it is
    // migrated once, not again by every client created afterwards.
    *migrated = earlierLogin && !current;
}

// Reads the first login of the current form; false when there is none.
bool BVVelora::loadCurrentForm()
{
    CredentialStore &store = CredentialStore::sharedStore();
    const std::optional<QVariantList> items = store.keychainItemsForService(keychainService);
    const QVariantList logins = CredentialStore::filterEmailKeychains(items.value_or(QVariantList()));
    const QString displayDefault = programDefaults()->stringForKey(kUserNameDefault);
    std::lock_guard lock(m_fieldsMutex);
    bool found = false;
    if (!logins.isEmpty()) {
        const QVariantMap item = logins.first().toMap();
        m_username = item.value(CredentialStore::accountKey).toString();
        m_password = QString::fromUtf8(item.value(CredentialStore::dataKey).toByteArray());
        m_veloServerEnabled = false;
        m_veloServerURLString.clear();
        m_name = m_username;
        const QVariant generic = item.value(CredentialStore::genericKey);
        const QString attribute = generic.typeId() == QMetaType::QByteArray
            ? QString::fromUtf8(generic.toByteArray())
            : generic.toString();
        const QStringList pieces = attribute.split(QStringLiteral("###"));
        if (pieces.size() >= 3) {
            m_name = pieces.at(0);
            m_veloServerEnabled = boolFromText(pieces.at(1));
            m_veloServerURLString = pieces.at(2);
        }
        found = true;
    }
    if (!displayDefault.isEmpty())
        m_name = displayDefault;
    if (m_name.isEmpty())
        m_name = m_username;
    if (isNullText(m_veloServerURLString))
        m_veloServerURLString.clear();
    return found;
}

void BVVelora::loadSavedSettingsPrefsync()
{
    std::optional<QString> secret;
    {
        ServiceScope scope(m_program);
        secret = scope.store().stringForKey(kLegacyPasswordAccount, keychainService);
    }
    const QString user = veloraDomain()->stringForKey(kLegacyUsernameAccount);
    if (secret && !user.isEmpty()) {
        const QString displayName = programDefaults()->stringForKey(kUserNameDefault);
        std::lock_guard lock(m_fieldsMutex);
        m_username = user;
        m_password = *secret;
        m_veloServerEnabled = boolFromText(veloraDomain()->objectForKey(QStringLiteral("veloServerEnabled")));
        m_veloServerURLString = veloraDomain()->stringForKey(QStringLiteral("veloServerURL"));
        if (isNullText(m_veloServerURLString))
            m_veloServerURLString.clear();
        m_name = displayName.isEmpty() ? user : displayName;
        return;
    }
    // A login stored by Reelmark in the current form only is used as well, so signing in there is
    // enough for backups.
    if (username().isEmpty()) {
        ServiceScope scope(m_program);
        loadCurrentForm();
    }
}

void BVVelora::revokeAuthorization()
{
    {
        ServiceScope scope(m_program);
        CredentialStore &store = scope.store();
        const QString user = username();
        if (m_program == Program::Reelmark && !user.isEmpty())
            store.storeString(std::nullopt, user, {}, keychainService);
        store.storeString(std::nullopt, kLegacyUsernameAccount, {}, keychainService);
        store.storeString(std::nullopt, kLegacyPasswordAccount, {}, keychainService);
    }
    {
        std::lock_guard lock(m_fieldsMutex);
        m_username.clear();
        m_password.clear();
        m_name.clear();
    }
    programDefaults()->removeObjectForKey(kUserNameDefault);
    programDefaults()->synchronize();
    BVNotificationCenter::defaultCenter().postNotification(
        updateSettingsNotification, this, QVariantMap {{signedOutKey, true}});
}
