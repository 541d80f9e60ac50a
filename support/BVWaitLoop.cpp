#include "support/BVWaitLoop.h"

#include "support/BVMainThread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <thread>

bool BVWaitLoop::canHandleEvents()
{
    return QCoreApplication::instance() && BVMainThread::isMainThread();
}

void BVWaitLoop::pass(double backgroundPass)
{
    if (canHandleEvents()) {
        // A nested loop that ends after 10 ms handles whatever arrives meanwhile, so the wait
        // neither spins nor delays the interface.
        QEventLoop loop;
        QTimer::singleShot(10, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::AllEvents);
        return;
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(backgroundPass > 0 ? backgroundPass : 0.001));
}

bool BVWaitLoop::waitUntil(
    const std::function<bool()> &condition, double timeoutSeconds, double backgroundPass)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    while (!condition()) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (timeoutSeconds >= 0 && elapsed >= timeoutSeconds)
            return condition();
        double slice = backgroundPass;
        if (timeoutSeconds >= 0 && timeoutSeconds - elapsed < slice)
            slice = timeoutSeconds - elapsed;
        pass(slice);
    }
    return true;
}
