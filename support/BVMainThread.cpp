#include "support/BVMainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

bool BVMainThread::isMainThread()
{
    QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void BVMainThread::async(std::function<void()> job)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || !job)
        return;
    QMetaObject::invokeMethod(app, std::move(job), Qt::QueuedConnection);
}

void BVMainThread::sync(const std::function<void()> &job)
{
    if (!job)
        return;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || isMainThread()) {
        job();
        return;
    }
    QMetaObject::invokeMethod(app, job, Qt::BlockingQueuedConnection);
}
