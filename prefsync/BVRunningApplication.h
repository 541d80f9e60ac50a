#pragma once

#include <QString>

#include <chrono>
#include <optional>

// A running instance of an application, found on the session bus: the instance owns its bundle
// identifier as a bus name and offers org.freedesktop.Application at the object path made from it.
// The calls block on the bus; use them off the main thread.
class BVRunningApplication
{
public:
    // The instance that owns the identifier's bus name; none when no instance runs.
    static std::optional<BVRunningApplication> runningApplicationWithBundleIdentifier(
        const QString &identifier);
    // "/com/brightvane/Reelmark" for "com.brightvane.Reelmark".
    static QString objectPathForBundleIdentifier(const QString &identifier);

    const QString &bundleIdentifier() const { return m_bundleIdentifier; }
    // The owner's process, -1 when the bus does not tell.
    qint64 processIdentifier() const { return m_processIdentifier; }
    // Asks the instance to quit (ActivateAction "quit"); false when it refuses or does not answer.
    bool terminate() const;
    // Waits until the bus name is released and the process has ended; false after the timeout.
    bool waitUntilTerminated(std::chrono::milliseconds timeout) const;
    bool isTerminated() const;

private:
    QString m_bundleIdentifier;
    qint64 m_processIdentifier = -1;
};
