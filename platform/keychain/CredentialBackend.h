#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One generic-password item: addressed by service and account, with its secret and one free-text
// attribute (the "generic attribute", empty when unset).
struct CredentialItem
{
    QString service;
    QString account;
    QString generic;
    QByteArray secret;
};

// Where the items are kept. Every call answers false when the store could not be asked (no answer,
// refused, unreadable); "not found" is a successful answer. Calls may block: CredentialStore runs
// them off the GUI thread. One call at a time.
class CredentialBackend
{
public:
    virtual ~CredentialBackend() = default;
    // For the log: "Secret Service" or the file's path.
    virtual QString description() const = 0;
    virtual bool find(const QString &service, const QString &account, CredentialItem *item, bool *found) = 0;
    // Adds the item, or replaces the secret of the item with the same service and account (and its
    // generic attribute when replaceGeneric is set).
    virtual bool store(const CredentialItem &item, bool replaceGeneric) = 0;
    // Deletes the item with that service and account; a missing item is no failure.
    virtual bool remove(const QString &service, const QString &account) = 0;
    // Up to limit items of the service, oldest first.
    virtual bool list(const QString &service, int limit, QList<CredentialItem> *items) = 0;
};
