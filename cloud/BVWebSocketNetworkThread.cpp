#include "cloud/BVWebSocketNetworkThread.h"

#include "support/BVLog.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>

#include <mutex>

namespace {

struct NetworkThreadState
{
    std::mutex mutex;
    QThread *thread = nullptr;
    QObject *context = nullptr;
    bool stopped = false;
};

NetworkThreadState &state()
{
    static NetworkThreadState *shared = new NetworkThreadState; // outlives static destruction
    return *shared;
}

} // namespace

bool BVWebSocketNetworkThread::post(std::function<void()> job)
{
    NetworkThreadState &s = state();
    std::lock_guard lock(s.mutex);
    if (s.stopped || !QCoreApplication::instance())
        return false;
    if (!s.thread) {
        s.thread = new QThread;
        s.thread->setObjectName(QStringLiteral("BVWebSocket network"));
        s.context = new QObject;
        s.context->moveToThread(s.thread);
        // The context and every stream parented to it go when the loop ends, on the thread itself.
        QObject::connect(s.thread, &QThread::finished, s.context, &QObject::deleteLater);
        s.thread->start();
        qAddPostRoutine(&BVWebSocketNetworkThread::stop);
    }
    QMetaObject::invokeMethod(s.context, std::move(job), Qt::QueuedConnection);
    return true;
}

QObject *BVWebSocketNetworkThread::context()
{
    NetworkThreadState &s = state();
    std::lock_guard lock(s.mutex);
    return s.context;
}

bool BVWebSocketNetworkThread::isCurrent()
{
    NetworkThreadState &s = state();
    std::lock_guard lock(s.mutex);
    return s.thread && QThread::currentThread() == s.thread;
}

void BVWebSocketNetworkThread::stop()
{
    NetworkThreadState &s = state();
    QThread *thread = nullptr;
    {
        std::lock_guard lock(s.mutex);
        s.stopped = true;
        thread = s.thread;
        s.thread = nullptr;
        s.context = nullptr;
    }
    if (!thread)
        return;
    thread->quit();
    if (!thread->wait(5000)) {
        BVLog::appendLog("WebSocket network thread did not stop in time");
        return; // leaked rather than destroyed while running
    }
    delete thread;
}
