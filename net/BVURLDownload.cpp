#include "net/BVURLDownload.h"

#include "support/BVLog.h"
#include "support/BVMainThread.h"

#include <QFileInfo>
#include <QSaveFile>

#include <curl/curl.h>

#include <mutex>

struct BVURLDownload::Shared
{
    QUrl url;
    QString destinationFile;
    double timeOutSeconds = 120;
    Callbacks callbacks;
    std::atomic<bool> cancelled {false};
    // Main thread: the owner is gone, no callback may run.
    std::atomic<bool> alive {true};
    std::atomic<qint64> received {0};
    std::atomic<bool> dataPending {false};
    qint64 delivered = 0; // main thread

    // Main thread: hands over the bytes that arrived since the last call.
    void deliverData()
    {
        dataPending = false;
        const qint64 now = received.load();
        const qint64 bytes = now - delivered;
        delivered = now;
        if (bytes > 0 && alive && callbacks.data)
            callbacks.data(bytes);
    }
};

namespace {

// What the worker's libcurl callbacks share during one transfer.
struct Transfer
{
    std::shared_ptr<BVURLDownload::Shared> shared;
    CURL *handle = nullptr;
    QSaveFile *file = nullptr;
    bool responseSent = false;
    bool writeFailed = false;

    void sendResponse()
    {
        if (responseSent)
            return;
        responseSent = true;
        curl_off_t length = -1;
        if (curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK)
            length = -1;
        std::shared_ptr<BVURLDownload::Shared> s = shared;
        const qint64 expected = length >= 0 ? qint64(length) : -1;
        BVMainThread::async([s, expected] {
            if (s->alive && s->callbacks.response)
                s->callbacks.response(expected);
        });
    }
};

size_t writeBody(char *data, size_t size, size_t count, void *context)
{
    auto *transfer = static_cast<Transfer *>(context);
    const size_t length = size * count;
    if (transfer->shared->cancelled)
        return 0;
    transfer->sendResponse();
    if (transfer->file->write(data, qint64(length)) != qint64(length)) {
        transfer->writeFailed = true;
        return 0;
    }
    transfer->shared->received += qint64(length);
    if (!transfer->shared->dataPending.exchange(true)) {
        std::shared_ptr<BVURLDownload::Shared> s = transfer->shared;
        BVMainThread::async([s] { s->deliverData(); });
    }
    return length;
}

int transferProgress(void *context, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<Transfer *>(context)->shared->cancelled ? 1 : 0;
}

void postFailure(
    const std::shared_ptr<BVURLDownload::Shared> &shared, const QString &description, bool created)
{
    BVMainThread::async([shared, description, created] {
        if (!shared->alive)
            return;
        shared->deliverData();
        if (shared->callbacks.failure)
            shared->callbacks.failure(description, created);
    });
}

} // namespace

BVURLDownload::BVURLDownload(QUrl url, QString destinationFile, Callbacks callbacks)
    : m_url(std::move(url))
    , m_destinationFile(std::move(destinationFile))
    , m_shared(std::make_shared<Shared>())
{
    m_shared->callbacks = std::move(callbacks);
}

BVURLDownload::~BVURLDownload()
{
    m_shared->alive = false;
    m_shared->cancelled = true;
    // The worker notices within one of libcurl's progress calls (under a second) and lets go of
    // the temporary file.
    if (m_worker.joinable())
        m_worker.join();
}

void BVURLDownload::start()
{
    if (m_worker.joinable())
        return;
    static std::once_flag curlReady;
    std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    m_shared->url = m_url;
    m_shared->destinationFile = m_destinationFile;
    m_shared->timeOutSeconds = m_timeOutSeconds;
    m_worker = std::thread(&BVURLDownload::run, m_shared);
}

void BVURLDownload::cancel()
{
    m_shared->cancelled = true;
}

// The worker thread.
void BVURLDownload::run(std::shared_ptr<Shared> shared)
{
    const QString name = QFileInfo(shared->destinationFile).fileName();
    QSaveFile file(shared->destinationFile);
    // Always through a temporary file: the destination is replaced only by a complete download.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        BVLog::appendLog("Download to %@ cannot be created: %@", shared->destinationFile, file.errorString());
        postFailure(shared, QStringLiteral("The file \"%1\" could not be created.").arg(name), false);
        return;
    }
    CURL *handle = curl_easy_init();
    if (!handle) {
        file.cancelWriting();
        postFailure(shared, QStringLiteral("The download could not be started."), false);
        return;
    }
    Transfer transfer;
    transfer.shared = shared;
    transfer.handle = handle;
    transfer.file = &file;
    char errorText[CURL_ERROR_SIZE] = {0};
    const QByteArray address = shared->url.toEncoded();
    const long seconds = std::max(1L, long(shared->timeOutSeconds));
    curl_easy_setopt(handle, CURLOPT_URL, address.constData());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https,ftp");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 5L);
    // An error status of the server is a failed download, not a file holding its error page.
    curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, seconds);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, seconds);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, writeBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, transferProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    const CURLcode code = curl_easy_perform(handle);

    if (shared->cancelled) {
        file.cancelWriting();
        curl_easy_cleanup(handle);
        postFailure(shared, QStringLiteral("The download was cancelled."), true);
        return;
    }
    if (code != CURLE_OK) {
        QString description;
        if (transfer.writeFailed)
            description
                = QStringLiteral("The file \"%1\" could not be written: %2").arg(name, file.errorString());
        else if (code == CURLE_HTTP_RETURNED_ERROR) {
            long status = 0;
            curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
            description = QStringLiteral("The server answered with the error status %1.").arg(status);
        } else if (code == CURLE_OPERATION_TIMEDOUT)
            description = QStringLiteral("The request timed out.");
        else if (errorText[0])
            description = QString::fromUtf8(errorText);
        else
            description = QString::fromUtf8(curl_easy_strerror(code));
        file.cancelWriting();
        curl_easy_cleanup(handle);
        postFailure(shared, description, true);
        return;
    }
    transfer.sendResponse(); // an empty file has no block that would have sent it
    curl_easy_cleanup(handle);
    if (!file.commit()) {
        postFailure(shared,
            QStringLiteral("The file \"%1\" could not be saved: %2").arg(name, file.errorString()), true);
        return;
    }
    BVMainThread::async([shared] {
        if (!shared->alive)
            return;
        shared->deliverData();
        if (shared->callbacks.completion)
            shared->callbacks.completion();
    });
}
