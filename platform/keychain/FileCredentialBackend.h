#pragma once

#include "platform/keychain/CredentialBackend.h"

// The credential store of a desktop without a Secret Service: one JSON file readable and writable
// by its owner only (0600, in a 0700 folder), replaced atomically on every change and locked
// against the other programs of the user while it is read and rewritten.
class FileCredentialBackend : public CredentialBackend
{
public:
    // The default file: the user's library folder followed by "/Credentials/credentials.json".
    static QString defaultPath();
    explicit FileCredentialBackend(QString path = defaultPath());

    QString description() const override { return m_path; }
    bool find(const QString &service, const QString &account, CredentialItem *item, bool *found) override;
    bool store(const CredentialItem &item, bool replaceGeneric) override;
    bool remove(const QString &service, const QString &account) override;
    bool list(const QString &service, int limit, QList<CredentialItem> *items) override;

private:
    class Lock;
    bool read(QList<CredentialItem> *items) const;
    bool write(const QList<CredentialItem> &items) const;

    QString m_path;
};
