#pragma once

#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// A named notification with its sender and user information.
struct BVNotification
{
    QString name;
    const void *sender = nullptr;
    QVariantMap userInfo;
};

// The process-wide notification center. Delivery is synchronous, on the posting thread, in the order
// observers registered. An observer is identified by (observer, name, sender): registering the same
// triple again replaces the handler, so it is never delivered twice. A null sender in a registration
// means any sender. Removal is guarded: removing what was never added is harmless, and an observer
// removed during a delivery is not called afterwards.
class BVNotificationCenter
{
public:
    using Handler = std::function<void(const BVNotification &)>;

    static BVNotificationCenter &defaultCenter();

    void addObserver(const void *observer, const QString &name, const void *sender, Handler handler);
    // Removes the observer's registrations for the name (all names when empty) and sender (all
    // senders when null).
    void removeObserver(const void *observer, const QString &name = {}, const void *sender = nullptr);
    void postNotification(
        const QString &name, const void *sender = nullptr, const QVariantMap &userInfo = {});
    // Posts on the main thread, asynchronously.
    void postNotificationOnMainThread(
        const QString &name, const void *sender = nullptr, const QVariantMap &userInfo = {});
    int observerCount(const QString &name = {}) const;

private:
    struct Entry
    {
        uint64_t id;
        const void *observer;
        QString name;
        const void *sender;
        std::shared_ptr<Handler> handler;
    };

    mutable std::recursive_mutex m_mutex;
    std::vector<Entry> m_entries;
    uint64_t m_nextId = 1;
};
