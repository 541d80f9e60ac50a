#pragma once

#include <QElapsedTimer>
#include <QObject>

#include <functional>

class QTimer;

// One-shot and repeating timers. Timers fire on the thread that created them, which must run an
// event loop (the main thread does).
class BVTimer : public QObject
{
    Q_OBJECT
public:
    // Fires once after the interval on the main thread. Callable from any thread.
    static void afterDelay(double seconds, std::function<void()> job);

    BVTimer(double seconds, bool repeats, std::function<void()> job, QObject *parent = nullptr);
    ~BVTimer() override;

    void start();
    void stop();
    bool isActive() const;
    double interval() const;
    void setInterval(double seconds);

private:
    void fire();

    QTimer *m_timer;
    std::function<void()> m_job;
    bool m_repeats;
    qint64 m_intervalNs;
    qint64 m_nextDeadlineNs = 0;
    QElapsedTimer m_clock;
};
