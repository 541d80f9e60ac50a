#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariantList>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class BVWorkQueue;
class QWidget;

// Anonymous usage reporting: with the user's consent (asked from the second launch on), launch
// and system events are kept in a cache file and sent at most once a day as a multipart POST to the
// usage endpoint (the setting "qcEndpointURL"; the Velora site's "/appdata/qc/qc.php" when unset,
// nothing when empty). The cache is emptied only after the endpoint answered 2xx, so the events of
// a failed upload go out with the next one. Cache writes and uploads run on the reporter's serial
// queue; everything else on the main thread.
class BVQC : public QObject
{
    Q_OBJECT
public:
    // The application's reporter, created on first use (one launch: "launchCount" goes up by one).
    static BVQC *sharedController();
    // A reporter of its own: each stands for one launch of the program.
    explicit BVQC(const QString &bundleID = {});
    ~BVQC() override;

    // Asks for consent if needed, logs the launch events and starts an upload when one is due.
    void loadQC(QWidget *parentWindow);
    void logQCEvent(const QVariantMap &event);
    void setQCLogging(bool enabled);
    void enableQCLogging() { setQCLogging(true); }
    void disableQCLogging() { setQCLogging(false); }
    bool shouldLog() const { return m_shouldLog; }
    QVariantList cache() const;
    // Stops the queue and writes the cache at once (the application is quitting).
    void willTerminate();
    // Blocks until cache writes and uploads queued so far are done.
    void waitUntilIdle();

    // The upload address now: the setting, else the Velora site's usage path; empty when off.
    static QUrl endpointURL();
    // The cache file: "<cache folder>/Brightvane/QC/<bundle identifier>".
    QString cachePath() const;
    // The multipart body of the fields in order, with its boundary.
    static QByteArray multipartBody(
        const QList<std::pair<QString, QString>> &fields, const QString &boundary);
    // Opens the page about analytics in the browser; replaceable for tests.
    using URLOpener = std::function<void(const QUrl &)>;
    static void setURLOpener(URLOpener opener);

private:
    void uploadData(); // on the queue
    void writeCache(); // on the queue
    QString anonymousIdentifier(); // on the queue
    static QVariantMap readPreferences();
    static void writePreferences(const QVariantMap &preferences);

    QString m_bundleID;
    std::atomic<bool> m_shouldLog {false}; // read by the queue
    mutable std::mutex m_mutex; // the cache, its write time; held through an upload
    QVariantList m_cache;
    QDateTime m_lastCacheWrite;
    std::atomic<bool> m_writePending {false};
    std::unique_ptr<BVWorkQueue> m_opQueue;
};
