#pragma once

#include "support/BVFormat.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>

class BVWorkQueue;

// The process-wide diagnostic log: one file per program in the shared log folder, rotated through
// five generations, written on a serial background queue. Callers never wait for the disk, except
// background threads logging short messages while the queue is nearly empty (see appendLog).
class BVLog
{
public:
    static BVLog *sharedController();

    static void createNewLog(const QString &name = {});
    static void appendLog(const QString &message);
    static void fastAppendLog(const QString &message);
    static void appendLogAndPrint(const QString &message);
    template<typename... Args> static void appendLog(const char *format, Args &&...args)
    {
        appendLog(BVFormat::format(format, std::forward<Args>(args)...));
    }
    template<typename... Args> static void fastAppendLog(const char *format, Args &&...args)
    {
        fastAppendLog(BVFormat::format(format, std::forward<Args>(args)...));
    }
    template<typename... Args> static void appendLogAndPrint(const char *format, Args &&...args)
    {
        appendLogAndPrint(BVFormat::format(format, std::forward<Args>(args)...));
    }
    // Blocks until every write queued before the call has been performed (later ones are not
    // waited for, so other threads logging on cannot hold the caller).
    static void finishWriting();
    // Application termination: waits (for a few seconds at most) for the writes pending at the call
    // when there are at most 10, drops them when there are 11 or more, then closes the file. Every
    // later message is written at once by its caller: appended to the file, or, when that fails,
    // to standard error.
    static void willTerminate();

    QString appName() const;
    void setAppName(const QString &name);
    uint64_t bytesWritten() const { return m_bytesWritten.load(); }
    int64_t bytesInQueue() const { return m_bytesInQueue.load(); }
    bool loggingDisabled() const { return m_loggingDisabled.load(); }
    // The current log file: the log folder followed by "/NAME.1.log".
    QString currentLogPath() const;
    QString logFolder() const;
    int pendingWrites() const;

    // The entry text for a message, with its time stamp; exposed for tests.
    static QString entryForMessage(const QString &message);
    // The echoed copy of a message: every "%@" and NUL removed.
    static QString consoleText(const QString &message);
    // Holds every write until released, so tests can build up a known number of pending writes.
    static void setWritesSuspendedForTesting(bool suspended);

private:
    BVLog();
    void queueMessage(const QString &message, bool mayWait);
    // Waits until every write up to the sequence number has been performed, or the deadline.
    bool waitForWritten(uint64_t sequence, std::chrono::steady_clock::time_point deadline);
    void noteWritten(uint64_t sequence);
    // After termination: the message goes straight to the file, or to standard error.
    void writeAfterTermination(const QString &message);
    void drain();
    void performWrite(const QString &message, uint64_t generation);
    void writeEntry(const QString &message);
    void createNewLogLocked(const QString &name);
    QString settledName(const QString &name) const;
    QString pathForGeneration(const QString &name, int generation) const;

    mutable std::mutex m_stateMutex;
    std::recursive_mutex m_createMutex;
    QString m_appName;
    FILE *m_file = nullptr;
    std::atomic<uint64_t> m_bytesWritten {0};
    std::atomic<int64_t> m_bytesInQueue {0};
    std::atomic<bool> m_loggingDisabled {false};
    // Bumped when pending writes are dropped; a write queued under an older value is not performed.
    std::atomic<uint64_t> m_generation {0};
    std::unique_ptr<BVWorkQueue> m_writeQueue;

    struct PendingEntry
    {
        QString message;
        uint64_t generation;
        uint64_t sequence;
    };
    // Guards the pending entries, the sequence numbers and the termination state.
    mutable std::mutex m_pendingMutex;
    std::condition_variable m_writtenChanged;
    std::deque<PendingEntry> m_pending;
    // Every queued message gets the next number; the writer records the highest one performed.
    uint64_t m_queuedSequence = 0;
    uint64_t m_writtenSequence = 0;
    std::atomic<bool> m_terminated {false};
    QString m_terminatedPath;
    bool m_drainScheduled = false;
    std::atomic<int> m_inFlight {0};

    friend class BVLogCrashHandler;
};
