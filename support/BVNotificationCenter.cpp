#include "support/BVNotificationCenter.h"

#include "support/BVMainThread.h"

BVNotificationCenter &BVNotificationCenter::defaultCenter()
{
    static BVNotificationCenter center;
    return center;
}

void BVNotificationCenter::addObserver(
    const void *observer, const QString &name, const void *sender, Handler handler)
{
    if (!handler)
        return;
    std::lock_guard lock(m_mutex);
    for (Entry &e : m_entries) {
        if (e.observer == observer && e.name == name && e.sender == sender) {
            // The same registration again replaces the handler instead of adding a second delivery.
            e.handler = std::make_shared<Handler>(std::move(handler));
            return;
        }
    }
    m_entries.push_back({m_nextId++, observer, name, sender, std::make_shared<Handler>(std::move(handler))});
}

void BVNotificationCenter::removeObserver(const void *observer, const QString &name, const void *sender)
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_entries, [&](const Entry &e) {
        return e.observer == observer && (name.isEmpty() || e.name == name)
            && (!sender || e.sender == sender);
    });
}

void BVNotificationCenter::postNotification(
    const QString &name, const void *sender, const QVariantMap &userInfo)
{
    std::vector<std::pair<uint64_t, std::shared_ptr<Handler>>> targets;
    {
        std::lock_guard lock(m_mutex);
        for (const Entry &e : m_entries) {
            if ((e.name.isEmpty() || e.name == name) && (!e.sender || e.sender == sender))
                targets.emplace_back(e.id, e.handler);
        }
    }
    const BVNotification note {name, sender, userInfo};
    for (const auto &[id, handler] : targets) {
        {
            // An observer removed by an earlier handler of this delivery is not called.
            std::lock_guard lock(m_mutex);
            const bool stillThere = std::any_of(
                m_entries.begin(), m_entries.end(), [id = id](const Entry &e) { return e.id == id; });
            if (!stillThere)
                continue;
        }
        (*handler)(note);
    }
}

void BVNotificationCenter::postNotificationOnMainThread(
    const QString &name, const void *sender, const QVariantMap &userInfo)
{
    BVMainThread::async([this, name, sender, userInfo] { postNotification(name, sender, userInfo); });
}

int BVNotificationCenter::observerCount(const QString &name) const
{
    std::lock_guard lock(m_mutex);
    if (name.isEmpty())
        return int(m_entries.size());
    return int(
        std::count_if(m_entries.begin(), m_entries.end(), [&](const Entry &e) { return e.name == name; }));
}
