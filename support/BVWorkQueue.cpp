#include "support/BVWorkQueue.h"

#include <QThread>

#include <future>

BVWorkQueue::BVWorkQueue(QString label, int width)
    : m_label(std::move(label))
    , m_width(std::max(1, width))
{ }

BVWorkQueue::~BVWorkQueue()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_jobs.clear();
    }
    m_wake.notify_all();
    for (std::thread &t : m_threads) {
        if (t.get_id() == std::this_thread::get_id())
            t.detach(); // A job destroying its own queue: the thread ends when the job returns.
        else if (t.joinable())
            t.join();
    }
}

void BVWorkQueue::async(std::function<void()> job)
{
    if (!job)
        return;
    int count;
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        m_jobs.push_back(std::move(job));
        count = int(m_jobs.size()) + m_running;
        // Start another thread when every existing one is busy and the width allows it.
        const int idle = int(m_threads.size()) - m_running;
        if (int(m_threads.size()) < m_width && int(m_jobs.size()) > idle)
            m_threads.emplace_back([this] { workerLoop(); });
    }
    m_wake.notify_one();
    notifyCount(count);
}

void BVWorkQueue::sync(const std::function<void()> &job)
{
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    async([&] {
        job();
        done.set_value();
    });
    finished.wait();
}

int BVWorkQueue::cancelAll()
{
    int dropped, count;
    {
        std::lock_guard lock(m_mutex);
        dropped = int(m_jobs.size());
        m_jobs.clear();
        count = m_running;
    }
    m_idle.notify_all();
    if (dropped)
        notifyCount(count);
    return dropped;
}

void BVWorkQueue::waitUntilEmpty()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_jobs.empty() && m_running == 0; });
}

int BVWorkQueue::jobCount() const
{
    std::lock_guard lock(m_mutex);
    return int(m_jobs.size()) + m_running;
}

void BVWorkQueue::setJobCountObserver(std::function<void(int)> observer)
{
    std::lock_guard lock(m_mutex);
    m_hasCountObserver.store(bool(observer));
    m_countObserver = std::move(observer);
}

bool BVWorkQueue::isCurrent() const
{
    std::lock_guard lock(m_mutex);
    for (const std::thread &t : m_threads) {
        if (t.get_id() == std::this_thread::get_id())
            return true;
    }
    return false;
}

void BVWorkQueue::notifyCount(int count)
{
    if (!m_hasCountObserver.load(std::memory_order_relaxed))
        return;
    std::function<void(int)> observer;
    {
        std::lock_guard lock(m_mutex);
        observer = m_countObserver;
    }
    if (observer)
        observer(count);
}

void BVWorkQueue::workerLoop()
{
    if (!m_label.isEmpty())
        pthread_setname_np(pthread_self(), m_label.left(15).toUtf8().constData());
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_stopping)
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
            ++m_running;
        }
        job();
        int count;
        {
            std::lock_guard lock(m_mutex);
            --m_running;
            count = int(m_jobs.size()) + m_running;
        }
        if (count == 0)
            m_idle.notify_all();
        notifyCount(count);
    }
}
