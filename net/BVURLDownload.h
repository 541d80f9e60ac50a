#pragma once

#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

// Downloads an address to a file on a worker thread of its own (libcurl), so the GUI thread never
// waits on the network or the disk. The bytes go into a temporary file beside the destination,
// which takes the destination's place only once everything has arrived: a failed or cancelled
// download leaves no partial file and never touches a file already at the destination.
//
// The callbacks arrive on the main thread, in this order: the response (once, with the expected
// length or -1 when the server gives none), data (the bytes arrived since the last call; at most
// one such call is queued at a time, so a fast transfer is not one call per block), then either
// the completion or the failure. None arrives once the download has been destroyed.
class BVURLDownload
{
public:
    struct Callbacks
    {
        std::function<void(qint64 expectedLength)> response;
        std::function<void(qint64 bytes)> data;
        std::function<void()> completion;
        // The error's description, and whether the transfer could be set up at all.
        std::function<void(const QString &description, bool created)> failure;
    };

    BVURLDownload(QUrl url, QString destinationFile, Callbacks callbacks);
    // Stops the transfer and waits for the worker to let go of the file.
    ~BVURLDownload();
    BVURLDownload(const BVURLDownload &) = delete;
    BVURLDownload &operator=(const BVURLDownload &) = delete;

    // Seconds without any byte arriving (or without a connection) after which the download fails.
    void setTimeOutSeconds(double seconds) { m_timeOutSeconds = seconds; }
    void start();
    // Stops the transfer; the failure follows ("The download was cancelled"). Any thread.
    void cancel();

    // What the owner and the worker share; kept alive by both.
    struct Shared;

private:
    static void run(std::shared_ptr<Shared> shared);

    QUrl m_url;
    QString m_destinationFile;
    double m_timeOutSeconds = 120;
    std::shared_ptr<Shared> m_shared;
    std::thread m_worker;
};
