#pragma once

#include "platform/keychain/CredentialBackend.h"

#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class BVWorkQueue;
class CredentialStore;

// A view of the store's items by account: read one, or delete one.
class CredentialBindings
{
public:
    explicit CredentialBindings(CredentialStore *store, QString service)
        : m_store(store)
        , m_service(std::move(service))
    { }
    // The secret of the item with that account as text, or none.
    std::optional<QString> objectForKey(const QString &key) const;
    void removeObjectForKey(const QString &key);

private:
    CredentialStore *m_store;
    QString m_service;
};

// The process-wide way to the user's credential store: generic-password items addressed by a
// service name and an account, each with a secret and one free-text attribute. Kept by the
// desktop's Secret Service, or, when none answers, in an owner-only file (logged once).
//
// Any thread may call it. The backend's calls run on the store's own worker thread; the caller
// waits at most timeout() for an answer (then the call is cancelled, logged and answered as a
// failure), so the GUI thread never hangs on D-Bus.
class CredentialStore
{
public:
    // Item dictionary keys: account, generic attribute, service, secret (QByteArray).
    static const QString accountKey; // "acct"
    static const QString genericKey; // "gena"
    static const QString serviceKey; // "svce"
    static const QString dataKey; // "v_Data"

    // The shared store. Its backend is chosen on first use: BV_CREDENTIAL_STORE=file or
    // =secret-service forces one; otherwise the Secret Service when it answers, else the file.
    static CredentialStore &sharedStore();
    explicit CredentialStore(std::shared_ptr<CredentialBackend> backend);
    ~CredentialStore();
    CredentialStore(const CredentialStore &) = delete;
    CredentialStore &operator=(const CredentialStore &) = delete;

    // Initially the running program's bundle identifier.
    QString serviceName() const;
    void setServiceName(const QString &name);
    QString backendDescription() const;
    std::chrono::milliseconds timeout() const { return m_timeout; }
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }

    // The operations on the current service name.
    std::optional<QString> stringForKey(const QString &key);
    // With a string: replaces the secret of an existing item (and its attribute when the tag is
    // non-empty) or adds a new item; with none: deletes the item. Answers success.
    bool storeString(const std::optional<QString> &string, const QString &key, const QString &tag = {});
    // Up to 10 items of the service as dictionaries; none on error.
    std::optional<QVariantList> keychainItemsForService();
    static QVariantList filterEmailKeychains(const QVariantList &items);
    CredentialBindings keychainBindings();

    // The same, addressed to a named service (for callers that must not depend on the shared
    // service name while other threads change it).
    std::optional<QString> stringForKey(const QString &key, const QString &service);
    bool storeString(
        const std::optional<QString> &string, const QString &key, const QString &tag, const QString &service);
    std::optional<QVariantList> keychainItemsForService(const QString &service);

private:
    bool perform(const std::function<bool(CredentialBackend &)> &call);

    std::shared_ptr<CredentialBackend> m_backend;
    std::unique_ptr<BVWorkQueue> m_worker;
    std::chrono::milliseconds m_timeout {5000};
    mutable std::mutex m_mutex;
    QString m_serviceName;
};
