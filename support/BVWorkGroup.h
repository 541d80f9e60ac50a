#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

class BVWorkQueue;

// Tracks a set of jobs and calls its completions once all of them have left.
class BVWorkGroup
{
public:
    BVWorkGroup() = default;
    BVWorkGroup(const BVWorkGroup &) = delete;
    BVWorkGroup &operator=(const BVWorkGroup &) = delete;
    ~BVWorkGroup();

    void enter();
    void leave();
    // Runs the job on the queue as a member of the group.
    void async(BVWorkQueue &queue, std::function<void()> job);
    // Called once when the group is next empty (at once, on the main thread, if it is empty now).
    // The completion runs on the main thread.
    void notify(std::function<void()> completion);
    // Blocks until the group is empty or the timeout (seconds, negative = forever) passes.
    // Answers true when the group emptied.
    bool wait(double timeoutSeconds = -1);
    int count() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_empty;
    int m_count = 0;
    std::vector<std::function<void()>> m_completions;
};
