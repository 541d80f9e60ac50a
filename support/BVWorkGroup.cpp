#include "support/BVWorkGroup.h"

#include "support/BVMainThread.h"
#include "support/BVWorkQueue.h"

#include <chrono>

BVWorkGroup::~BVWorkGroup()
{
    wait();
}

void BVWorkGroup::enter()
{
    std::lock_guard lock(m_mutex);
    ++m_count;
}

void BVWorkGroup::leave()
{
    std::vector<std::function<void()>> completions;
    {
        std::lock_guard lock(m_mutex);
        if (m_count == 0)
            return;
        if (--m_count > 0)
            return;
        completions.swap(m_completions);
    }
    m_empty.notify_all();
    for (auto &completion : completions)
        BVMainThread::async(std::move(completion));
}

void BVWorkGroup::async(BVWorkQueue &queue, std::function<void()> job)
{
    enter();
    queue.async([this, job = std::move(job)] {
        job();
        leave();
    });
}

void BVWorkGroup::notify(std::function<void()> completion)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_count > 0) {
            m_completions.push_back(std::move(completion));
            return;
        }
    }
    BVMainThread::async(std::move(completion));
}

bool BVWorkGroup::wait(double timeoutSeconds)
{
    std::unique_lock lock(m_mutex);
    if (timeoutSeconds < 0) {
        m_empty.wait(lock, [this] { return m_count == 0; });
        return true;
    }
    return m_empty.wait_for(
        lock, std::chrono::duration<double>(timeoutSeconds), [this] { return m_count == 0; });
}

int BVWorkGroup::count() const
{
    std::lock_guard lock(m_mutex);
    return m_count;
}
