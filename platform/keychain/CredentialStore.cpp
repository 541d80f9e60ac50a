#include "platform/keychain/CredentialStore.h"

#include "platform/keychain/FileCredentialBackend.h"
#include "platform/keychain/SecretServiceCredentialBackend.h"
#include "support/BVBundle.h"
#include "support/BVLog.h"
#include "support/BVWorkQueue.h"

#include <condition_variable>

const QString CredentialStore::accountKey = QStringLiteral("acct");
const QString CredentialStore::genericKey = QStringLiteral("gena");
const QString CredentialStore::serviceKey = QStringLiteral("svce");
const QString CredentialStore::dataKey = QStringLiteral("v_Data");

namespace {

constexpr int kItemLimit = 10;

std::shared_ptr<CredentialBackend> chooseBackend()
{
    const QString forced = qEnvironmentVariable("BV_CREDENTIAL_STORE").toLower();
    if (forced == QLatin1String("file"))
        return std::make_shared<FileCredentialBackend>();
    auto secretService = std::make_shared<SecretServiceCredentialBackend>();
    if (forced == QLatin1String("secret-service"))
        return secretService;

    // Probed on a worker with a time limit: a bus that never answers costs a few seconds once.
    // The worker owns itself through its job, so giving up on it does not wait for it.
    struct Probe
    {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool available = false;
        QString reason;
    };
    auto probe = std::make_shared<Probe>();
    auto worker = std::make_shared<BVWorkQueue>(QStringLiteral("credential probe"));
    worker->async([probe, secretService, worker]() mutable {
        QString reason;
        const bool available = secretService->probe(&reason);
        {
            std::lock_guard lock(probe->mutex);
            probe->available = available;
            probe->reason = reason;
            probe->finished = true;
        }
        probe->done.notify_all();
        worker.reset();
    });
    worker.reset();
    bool available = false;
    QString reason;
    {
        std::unique_lock lock(probe->mutex);
        if (probe->done.wait_for(lock, std::chrono::seconds(5), [&] { return probe->finished; })) {
            available = probe->available;
            reason = probe->reason;
        } else {
            reason = QStringLiteral("no answer within 5 seconds");
        }
    }
    if (available) {
        BVLog::appendLog("Credentials are kept by the Secret Service");
        return secretService;
    }
    secretService->cancelPending();
    auto file = std::make_shared<FileCredentialBackend>();
    BVLog::appendLog("No Secret Service answered (%@): credentials are kept in the owner-only file %@",
        reason, file->description());
    return file;
}

QVariantMap dictionaryForItem(const CredentialItem &item)
{
    QVariantMap dictionary;
    dictionary.insert(CredentialStore::accountKey, item.account);
    dictionary.insert(CredentialStore::serviceKey, item.service);
    if (!item.generic.isEmpty())
        dictionary.insert(CredentialStore::genericKey, item.generic);
    dictionary.insert(CredentialStore::dataKey, item.secret);
    return dictionary;
}

} // namespace

CredentialStore &CredentialStore::sharedStore()
{
    static CredentialStore *store = new CredentialStore(chooseBackend());
    return *store;
}

CredentialStore::CredentialStore(std::shared_ptr<CredentialBackend> backend)
    : m_backend(std::move(backend))
    , m_worker(std::make_unique<BVWorkQueue>(QStringLiteral("credential store")))
    , m_serviceName(BVBundle::mainBundle().bundleIdentifier())
{ }

CredentialStore::~CredentialStore() = default;

QString CredentialStore::serviceName() const
{
    std::lock_guard lock(m_mutex);
    return m_serviceName;
}

void CredentialStore::setServiceName(const QString &name)
{
    std::lock_guard lock(m_mutex);
    m_serviceName = name;
}

QString CredentialStore::backendDescription() const
{
    return m_backend->description();
}

bool CredentialStore::perform(const std::function<bool(CredentialBackend &)> &call)
{
    if (m_worker->isCurrent())
        return call(*m_backend);
    struct Result
    {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool ok = false;
    };
    auto result = std::make_shared<Result>();
    // The job owns what it touches, so a call given up on may still finish harmlessly.
    auto backend = m_backend;
    auto job = std::make_shared<std::function<bool(CredentialBackend &)>>(call);
    m_worker->async([result, backend, job] {
        const bool ok = (*job)(*backend);
        std::lock_guard lock(result->mutex);
        result->ok = ok;
        result->finished = true;
        result->done.notify_all();
    });
    std::unique_lock lock(result->mutex);
    if (!result->done.wait_for(lock, m_timeout, [&] { return result->finished; })) {
        lock.unlock();
        if (auto *secretService = dynamic_cast<SecretServiceCredentialBackend *>(backend.get()))
            secretService->cancelPending();
        BVLog::appendLog("Credential store (%@) did not answer within %lld ms", backend->description(),
            qint64(m_timeout.count()));
        return false;
    }
    return result->ok;
}

std::optional<QString> CredentialStore::stringForKey(const QString &key)
{
    return stringForKey(key, serviceName());
}

std::optional<QString> CredentialStore::stringForKey(const QString &key, const QString &service)
{
    auto item = std::make_shared<CredentialItem>();
    auto found = std::make_shared<bool>(false);
    if (!perform([=](CredentialBackend &b) { return b.find(service, key, item.get(), found.get()); })
        || !*found)
        return std::nullopt;
    return QString::fromUtf8(item->secret);
}

bool CredentialStore::storeString(
    const std::optional<QString> &string, const QString &key, const QString &tag)
{
    return storeString(string, key, tag, serviceName());
}

bool CredentialStore::storeString(
    const std::optional<QString> &string, const QString &key, const QString &tag, const QString &service)
{
    if (!string)
        return perform([=](CredentialBackend &b) { return b.remove(service, key); });
    CredentialItem item {service, key, tag, string->toUtf8()};
    return perform([=](CredentialBackend &b) { return b.store(item, !tag.isEmpty()); });
}

std::optional<QVariantList> CredentialStore::keychainItemsForService()
{
    return keychainItemsForService(serviceName());
}

std::optional<QVariantList> CredentialStore::keychainItemsForService(const QString &service)
{
    auto items = std::make_shared<QList<CredentialItem>>();
    if (!perform([=](CredentialBackend &b) { return b.list(service, kItemLimit, items.get()); }))
        return std::nullopt;
    QVariantList list;
    for (const CredentialItem &item : *items)
        list.append(dictionaryForItem(item));
    return list;
}

QVariantList CredentialStore::filterEmailKeychains(const QVariantList &items)
{
    QVariantList kept;
    for (const QVariant &item : items) {
        if (item.toMap().value(accountKey).toString().contains(QLatin1Char('@')))
            kept.append(item);
    }
    return kept;
}

CredentialBindings CredentialStore::keychainBindings()
{
    return CredentialBindings(this, serviceName());
}

std::optional<QString> CredentialBindings::objectForKey(const QString &key) const
{
    return m_store->stringForKey(key, m_service);
}

void CredentialBindings::removeObjectForKey(const QString &key)
{
    m_store->storeString(std::nullopt, key, {}, m_service);
}
