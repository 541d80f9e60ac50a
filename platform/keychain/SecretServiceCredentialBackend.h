#pragma once

#include "platform/keychain/CredentialBackend.h"

#include <mutex>

typedef struct _GCancellable GCancellable;
typedef struct _SecretService SecretService;

// Items of the desktop's Secret Service (libsecret), with the attributes "service", "account" and
// "generic". The calls block on D-Bus: CredentialStore runs them on its worker thread and cancels
// one that has not answered in time.
class SecretServiceCredentialBackend : public CredentialBackend
{
public:
    SecretServiceCredentialBackend();
    ~SecretServiceCredentialBackend() override;

    // Connects to the service and opens a session; false (with the reason) when nobody answers.
    bool probe(QString *reason);
    // Cancels the call under way (any thread); the next call starts afresh.
    void cancelPending();

    QString description() const override { return QStringLiteral("Secret Service"); }
    bool find(const QString &service, const QString &account, CredentialItem *item, bool *found) override;
    bool store(const CredentialItem &item, bool replaceGeneric) override;
    bool remove(const QString &service, const QString &account) override;
    bool list(const QString &service, int limit, QList<CredentialItem> *items) override;

private:
    class Call;
    SecretService *service(GCancellable *cancellable, QString *reason);
    // The service, or none with the reason logged.
    SecretService *reachableService(GCancellable *cancellable);

    std::mutex m_mutex;
    GCancellable *m_pending = nullptr; // the cancellable of the call under way
};
