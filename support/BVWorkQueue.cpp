#include "support/BVWorkQueue.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include <pthread.h>

struct BVWorkQueue::State
{
    QString label;
    int width = 1;
    mutable std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable idle;
    std::deque<std::function<void()>> jobs;
    std::vector<std::thread> threads;
    int running = 0;
    bool stopping = false;
    std::function<void(int)> countObserver;
    std::atomic<bool> hasCountObserver {false};

    void notifyCount(int count)
    {
        if (!hasCountObserver.load(std::memory_order_relaxed))
            return;
        std::function<void(int)> observer;
        {
            std::lock_guard lock(mutex);
            observer = countObserver;
        }
        if (observer)
            observer(count);
    }

    static void workerLoop(const std::shared_ptr<State> &state)
    {
        if (!state->label.isEmpty())
            pthread_setname_np(pthread_self(), state->label.left(15).toUtf8().constData());
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(state->mutex);
                state->wake.wait(lock, [&] { return state->stopping || !state->jobs.empty(); });
                if (state->stopping)
                    return;
                job = std::move(state->jobs.front());
                state->jobs.pop_front();
                ++state->running;
            }
            job();
            job = nullptr;
            int count;
            {
                std::lock_guard lock(state->mutex);
                count = int(state->jobs.size()) + state->running - 1;
            }
            // Observers hear the new count before the job stops counting as running, so nobody
            // waiting for an empty queue returns while an observer call is still under way.
            state->notifyCount(count);
            bool empty;
            {
                std::lock_guard lock(state->mutex);
                --state->running;
                empty = state->jobs.empty() && state->running == 0;
            }
            if (empty)
                state->idle.notify_all();
        }
    }
};

BVWorkQueue::BVWorkQueue(QString label, int width)
    : m_state(std::make_shared<State>())
{
    m_state->label = std::move(label);
    m_state->width = std::max(1, width);
}

BVWorkQueue::~BVWorkQueue()
{
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stopping = true;
        m_state->jobs.clear();
        threads.swap(m_state->threads);
    }
    m_state->wake.notify_all();
    m_state->idle.notify_all();
    for (std::thread &t : threads) {
        if (t.get_id() == std::this_thread::get_id())
            t.detach(); // Destroyed by its own job: the thread ends when the job returns.
        else if (t.joinable())
            t.join();
    }
}

const QString &BVWorkQueue::label() const
{
    return m_state->label;
}

int BVWorkQueue::width() const
{
    return m_state->width;
}

void BVWorkQueue::async(std::function<void()> job)
{
    if (!job)
        return;
    // The job may destroy this queue before this call returns: keep the state alive until then.
    const std::shared_ptr<State> state = m_state;
    State &s = *state;
    int count;
    {
        std::lock_guard lock(s.mutex);
        if (s.stopping)
            return;
        s.jobs.push_back(std::move(job));
        count = int(s.jobs.size()) + s.running;
        // Another thread starts when every existing one is busy and the width allows it.
        const int idle = int(s.threads.size()) - s.running;
        if (int(s.threads.size()) < s.width && int(s.jobs.size()) > idle)
            s.threads.emplace_back([state] { State::workerLoop(state); });
    }
    s.wake.notify_one();
    s.notifyCount(count);
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
    const std::shared_ptr<State> state = m_state;
    State &s = *state;
    int dropped, count;
    {
        std::lock_guard lock(s.mutex);
        dropped = int(s.jobs.size());
        s.jobs.clear();
        count = s.running;
    }
    s.idle.notify_all();
    if (dropped)
        s.notifyCount(count);
    return dropped;
}

void BVWorkQueue::waitUntilEmpty()
{
    State &s = *m_state;
    std::unique_lock lock(s.mutex);
    s.idle.wait(lock, [&] { return s.jobs.empty() && s.running == 0; });
}

int BVWorkQueue::jobCount() const
{
    std::lock_guard lock(m_state->mutex);
    return int(m_state->jobs.size()) + m_state->running;
}

void BVWorkQueue::setJobCountObserver(std::function<void(int)> observer)
{
    std::lock_guard lock(m_state->mutex);
    m_state->hasCountObserver.store(bool(observer));
    m_state->countObserver = std::move(observer);
}

bool BVWorkQueue::isCurrent() const
{
    std::lock_guard lock(m_state->mutex);
    const auto self = std::this_thread::get_id();
    return std::any_of(m_state->threads.begin(), m_state->threads.end(),
        [&](const std::thread &t) { return t.get_id() == self; });
}
