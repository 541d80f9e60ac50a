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
    , m_repeats(repeats)
    , m_intervalNs(qint64(std::llround(std::max(0.0, seconds) * 1e9)))
{
    // Repeating timers are rescheduled one shot at a time against absolute deadlines, so an
    // interval that is not a whole number of milliseconds (1/24 s) keeps its rate on average.
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] { fire(); });
}

BVTimer::~BVTimer() = default;

void BVTimer::start()
{
    m_clock.start();
    m_nextDeadlineNs = m_intervalNs;
    m_timer->start(int(std::llround(double(m_intervalNs) / 1e6)));
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
    return double(m_intervalNs) / 1e9;
}

void BVTimer::setInterval(double seconds)
{
    m_intervalNs = qint64(std::llround(std::max(0.0, seconds) * 1e9));
    if (m_timer->isActive())
        start();
}

void BVTimer::fire()
{
    if (m_repeats) {
        const qint64 now = m_clock.nsecsElapsed();
        m_nextDeadlineNs += m_intervalNs;
        // Far behind (a busy main thread): start counting again from now instead of catching up.
        if (m_nextDeadlineNs < now - m_intervalNs)
            m_nextDeadlineNs = now + m_intervalNs;
        const qint64 remaining = std::max<qint64>(0, m_nextDeadlineNs - now);
        m_timer->start(int((remaining + 500000) / 1000000));
    }
    if (m_job)
        m_job();
}
