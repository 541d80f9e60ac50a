#include "support/BVTimer.h"

#include "support/BVMainThread.h"

#include <QCoreApplication>
#include <QTimer>

#include <cmath>

namespace {
int milliseconds(double seconds)
{
    return int(std::lround(std::max(0.0, seconds) * 1000.0));
}
} // namespace

void BVTimer::afterDelay(double seconds, std::function<void()> job)
{
    BVMainThread::async([seconds, job = std::move(job)]() mutable {
        QTimer::singleShot(milliseconds(seconds), QCoreApplication::instance(), std::move(job));
    });
}

BVTimer::BVTimer(double seconds, bool repeats, std::function<void()> job, QObject *parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
    , m_job(std::move(job))
{
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setSingleShot(!repeats);
    m_timer->setInterval(milliseconds(seconds));
    connect(m_timer, &QTimer::timeout, this, [this] {
        if (m_job)
            m_job();
    });
}

BVTimer::~BVTimer() = default;

void BVTimer::start()
{
    m_timer->start();
}

void BVTimer::stop()
{
    m_timer->stop();
}

bool BVTimer::isActive() const
{
    return m_timer->isActive();
}

double BVTimer::interval() const
{
    return m_timer->interval() / 1000.0;
}

void BVTimer::setInterval(double seconds)
{
    m_timer->setInterval(milliseconds(seconds));
}
