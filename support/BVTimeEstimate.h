#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

// The time remaining of a long job, from how far it got since it started: the time so far scaled
// linearly to what is left. Used by the activity items and the document's progress sheet. Main
// thread (or one thread at a time).
class BVTimeEstimate
{
public:
    using Clock = std::function<QDateTime()>;

    BVTimeEstimate() = default;
    static BVTimeEstimate timeEstimateWithTotal(std::optional<double> total);

    // Start value 0 and start date now; current value 0 unless it has one; the cached text is dropped.
    void start();
    void startWithValue(double value);
    // Start and current values 0; the cached text is dropped.
    void reset();
    void incrementCurrentValue(double value);
    void setCurrentValue(double value) { currentValue = value; }

    // Seconds left; -1 when unknown (a value missing, less than 4 s since the start, no progress).
    double secondsRemaining() const;
    // "Calculating time" (or nothing) for the first 4 s, "Unknown", or "HH:MM:SS" with the hours
    // taken modulo 24. The text changes at most once every 0.8 s.
    QString timeRemaining();

    // The archive: start date, start value, total value, current value, cached value, last query
    // date, then "showCalculatingTimeMessage".
    QByteArray archive() const;
    static std::optional<BVTimeEstimate> fromArchive(const QByteArray &archive);

    // Where "now" comes from (the system clock unless set).
    void setClock(Clock clock) { m_clock = std::move(clock); }

    QDateTime startDate;
    std::optional<double> startValue;
    std::optional<double> totalValue;
    std::optional<double> currentValue;
    std::optional<QString> cachedValue;
    QDateTime lastQueryDate;
    bool showCalculatingTimeMessage = true;

private:
    QDateTime now() const { return m_clock ? m_clock() : QDateTime::currentDateTimeUtc(); }
    Clock m_clock;
};
