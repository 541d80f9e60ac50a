#pragma once

#include <functional>

// Hands work to the GUI thread ("the main queue"). Safe to call from any thread.
class BVMainThread
{
public:
    static bool isMainThread();
    // Queues the call on the main thread and returns at once.
    static void async(std::function<void()> job);
    // Runs the call on the main thread and waits for it; runs it directly on the main thread.
    static void sync(const std::function<void()> &job);
};
