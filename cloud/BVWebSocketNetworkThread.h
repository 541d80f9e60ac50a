#pragma once

#include <functional>

class QObject;
class QThread;

// The one process-wide thread, with its own event loop, on which every WebSocket's TCP or TLS stream
// lives. Started on first use; stopped when the application object is destroyed.
class BVWebSocketNetworkThread
{
public:
    // Queues the job on the network thread. Callable from any thread; answers false (and drops the
    // job) when there is no application object or the thread has stopped.
    static bool post(std::function<void()> job);
    // The object that streams are parented to; use only on the network thread.
    static QObject *context();
    static bool isCurrent();

private:
    static void stop();
};
