#pragma once

#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// A work queue of width N running jobs on its own threads, in submission order (width 1 is a serial
// queue). Threads start with the first job. Destruction cancels pending jobs and waits for the
// running ones; a job may destroy its own queue, whose threads then end when their job returns.
class BVWorkQueue
{
public:
    explicit BVWorkQueue(QString label, int width = 1);
    ~BVWorkQueue();
    BVWorkQueue(const BVWorkQueue &) = delete;
    BVWorkQueue &operator=(const BVWorkQueue &) = delete;

    const QString &label() const;
    int width() const;

    void async(std::function<void()> job);
    // Queues the job and waits until it has run. Must not be called from one of this queue's threads.
    void sync(const std::function<void()> &job);
    // Drops every job not yet started; running jobs finish. Answers how many were dropped.
    int cancelAll();
    // Blocks until nothing is queued or running.
    void waitUntilEmpty();
    // Jobs queued plus running.
    int jobCount() const;
    // Called on the queue's thread (or the submitter's) whenever jobCount() changes.
    void setJobCountObserver(std::function<void(int)> observer);
    // True when the calling thread is one of this queue's threads.
    bool isCurrent() const;

private:
    struct State;
    // Shared with the worker threads, so that it outlives a queue destroyed by one of its own jobs.
    std::shared_ptr<State> m_state;
};
