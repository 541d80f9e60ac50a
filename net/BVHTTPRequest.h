#pragma once

#include "net/BVHTTPBody.h"
#include "net/BVHTTPRequestDelegate.h"
#include "support/BVError.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class BVWorkQueue;
class BVHTTPNetworkThread;
typedef void CURL;

// One HTTP request of the upload layer. Configure it, then start it: as a job of a work queue
// (addToQueue(), or startSynchronous() inside a job), or with startAsynchronous(). The network
// work always runs on the layer's own network thread; the delegate and the selectors are called on
// the main thread. Requests are owned through std::shared_ptr (see the factories); configure a
// request before starting it, and read its results after its finish or fail callback.
class BVHTTPRequest : public std::enable_shared_from_this<BVHTTPRequest>
{
public:
    static const QString errorDomain;
    enum ErrorCode {
        ConnectionFailureError = 1,
        RequestTimedOutError = 2,
        AuthenticationError = 3,
        RequestCancelledError = 4,
        UnableToCreateRequestError = 5,
        InternalErrorWhileBuildingRequest = 6,
        InternalErrorWhileApplyingCredentials = 7,
        FileManagementError = 8,
        TooMuchRedirectionError = 9,
        CompressionError = 11,
        // A redirect to another protocol, from https to http, or that would send the body to
        // another host.
        RedirectRefusedError = 12,
        // The reply kept in memory grew past maximumResponseSize().
        ResponseTooLargeError = 13,
    };
    // Redirects followed before the next one fails the request.
    static constexpr int maximumRedirects = 5;
    // The most reply bytes a request keeps in memory unless set otherwise: 256 MiB.
    static constexpr qint64 defaultMaximumResponseSizeBytes = qint64(256) << 20;

    using Selector = std::function<void(BVHTTPRequest *)>;
    using DataSelector = std::function<void(BVHTTPRequest *, const QByteArray &)>;

    static std::shared_ptr<BVHTTPRequest> requestWithURL(const QUrl &url);
    virtual ~BVHTTPRequest();
    BVHTTPRequest(const BVHTTPRequest &) = delete;
    BVHTTPRequest &operator=(const BVHTTPRequest &) = delete;

    const QUrl &url() const { return m_url; }
    void setURL(const QUrl &url) { m_url = url; }
    const QString &requestMethod() const { return m_requestMethod; }
    void setRequestMethod(const QString &method) { m_requestMethod = method; }
    // Sets a header, replacing an earlier value of the same name.
    void addRequestHeader(const QString &name, const QString &value);
    QString requestHeader(const QString &name) const;
    const QList<std::pair<QString, QString>> &requestHeaders() const { return m_requestHeaders; }

    // The body: bytes in memory, or a file (read while sending with shouldStreamPostDataFromDisk,
    // else loaded when the request starts).
    void appendPostData(const QByteArray &data);
    void setPostBodyFilePath(const QString &path) { m_postBodyFilePath = path; }
    const QString &postBodyFilePath() const { return m_postBodyFilePath; }
    bool shouldStreamPostDataFromDisk() const { return m_shouldStreamPostDataFromDisk; }
    void setShouldStreamPostDataFromDisk(bool on) { m_shouldStreamPostDataFromDisk = on; }
    // The body as it is sent; complete once the request has been built (when it starts).
    BVHTTPBody &postBody() { return m_body; }
    qint64 postLength() const { return m_body.size(); }

    // Time without network activity after which an attempt times out.
    double timeOutSeconds() const { return m_timeOutSeconds; }
    void setTimeOutSeconds(double seconds) { m_timeOutSeconds = seconds; }
    int numberOfTimesToRetryOnTimeout() const { return m_numberOfTimesToRetryOnTimeout; }
    void setNumberOfTimesToRetryOnTimeout(int count) { m_numberOfTimesToRetryOnTimeout = count; }
    int retryCount() const { return m_retryCount.load(); }

    // The most bytes of a reply collected in responseData(); past it the request fails with
    // ResponseTooLargeError. 0 (the default) stands for defaultMaximumResponseSize(). Replies handed
    // over through the data selector are not counted.
    qint64 maximumResponseSize() const;
    void setMaximumResponseSize(qint64 bytes) { m_maximumResponseSize = bytes; }
    // The process-wide limit; defaultMaximumResponseSizeBytes unless set.
    static qint64 defaultMaximumResponseSize();
    static void setDefaultMaximumResponseSize(qint64 bytes);

    BVHTTPRequestDelegate *delegate() const { return m_delegate.load(); }
    void setDelegate(BVHTTPRequestDelegate *delegate) { m_delegate = delegate; }
    BVHTTPUploadProgressDelegate *uploadProgressDelegate() const { return m_uploadProgressDelegate.load(); }
    void setUploadProgressDelegate(BVHTTPUploadProgressDelegate *d) { m_uploadProgressDelegate = d; }
    // Selectors are called only while a delegate is set. With a data selector the body of the
    // reply is handed over block by block instead of being collected in responseData().
    void setDidFinishSelector(Selector selector) { m_didFinishSelector = std::move(selector); }
    void setDidFailSelector(Selector selector) { m_didFailSelector = std::move(selector); }
    void setDidReceiveDataSelector(DataSelector selector) { m_didReceiveDataSelector = std::move(selector); }

    // Runs the request on the network thread and blocks the calling thread until it has finished
    // or failed (callbacks still arrive on the main thread). Meant for jobs of a work queue.
    void startSynchronous();
    // Runs the request on the network thread and returns at once.
    void startAsynchronous();
    // Queues startSynchronous() as a job of the queue: the request starts when the queue reaches it.
    void addToQueue(BVWorkQueue &queue);
    // Fails the request with "The request was cancelled" (code 4) unless it has already ended.
    // Safe from any thread.
    void cancel();
    // Clears the delegates first, so an owner on its way out gets no further call, then cancels.
    void clearDelegatesAndCancel();
    bool isCancelled() const { return m_cancelled.load(); }
    bool complete() const;
    // Blocks until the request has finished or failed (or was cancelled).
    void waitUntilComplete();

    int responseStatusCode() const { return m_responseStatusCode; }
    const QByteArray &responseData() const { return m_responseData; }
    QString responseString() const { return QString::fromUtf8(m_responseData); }
    const QMap<QString, QString> &responseHeaders() const { return m_responseHeaders; }
    // A reply header by case-insensitive name.
    QString responseHeader(const QString &name) const;
    // The failure, or a null error after success.
    const BVError &error() const { return m_error; }
    // Redirects followed by the last attempt.
    int redirectCount() const { return m_redirectCount; }
    // The address the last attempt was sent to: url() unless a redirect was followed.
    QUrl finalURL() const { return m_attemptURL.isEmpty() ? m_url : m_attemptURL; }

    // Whether a redirect from one address to the other is followed: only to http and https, and
    // never from https to http.
    static bool isRedirectAllowed(const QUrl &from, const QUrl &to);

    // "%@ %@ (%@; %@ %@; %@)": program name, version, device family, system name, system
    // version and the user's locale.
    static QString defaultUserAgentString();
    // The percent-encoding of form values and storage keys: every character of
    // ":/?#[]@!$ &'()*+,;=\"<>%{}|\\^~`", control and non-ASCII characters (as UTF-8) are escaped;
    // with keepSlash "/" is left as it is.
    static QString encodeURLComponent(const QString &text, bool keepSlash = false);

protected:
    explicit BVHTTPRequest(const QUrl &url);
    // Assembles the body and the headers just before sending, on the network thread. Answers
    // false with error set to refuse the request.
    virtual bool buildRequest(BVError *error);
    // Looks at a reply that arrived; answers false with error set to fail the request.
    virtual bool handleResponse(BVError *error);
    // Extra libcurl settings of a subclass.
    virtual void configureHandle(CURL *) { }

private:
    friend class BVHTTPNetworkThread;
    friend struct BVHTTPRequestCallbacks;
    enum class State { Idle, Running, Complete };

    // Network thread side.
    bool prepare(BVError *error);
    CURL *createHandle(BVError *error);
    void resetForAttempt();
    size_t onBodyBytes(const char *data, size_t size);
    size_t onHeaderLine(const char *data, size_t size);
    size_t onReadBody(char *buffer, size_t size);
    int onSeekBody(qint64 offset);
    void onProgress(qint64 uploaded, qint64 downloaded);
    void reportProgress(bool force);
    void noteActivity() { m_lastActivity = std::chrono::steady_clock::now(); }
    bool hasTimedOut(std::chrono::steady_clock::time_point now) const;
    // An attempt ended: completes the request, or restarts it after a time-out with retries left.
    void finishAttempt(
        int curlCode, long statusCode, const char *redirectURL, qint64 uploaded, const char *curlMessage);
    // Points the handle at the redirect's target; answers false with error set to refuse it.
    bool followRedirect(long statusCode, const QUrl &target, BVError *error);
    // Sets the address, the method, the body and the headers of the next attempt on the handle.
    void configureAttempt(CURL *handle);
    void completeWith(const BVError &error);

    void deliverFinished();
    void deliverFailed();

    static int curlProgress(void *self, int64_t, int64_t dlnow, int64_t, int64_t ulnow);

    QUrl m_url;
    QString m_requestMethod = QStringLiteral("GET");
    QList<std::pair<QString, QString>> m_requestHeaders;
    QByteArray m_postData;
    QString m_postBodyFilePath;
    bool m_shouldStreamPostDataFromDisk = false;
    double m_timeOutSeconds = 10.0;
    int m_numberOfTimesToRetryOnTimeout = 0;
    qint64 m_maximumResponseSize = 0;
    std::atomic<BVHTTPRequestDelegate *> m_delegate {nullptr};
    std::atomic<BVHTTPUploadProgressDelegate *> m_uploadProgressDelegate {nullptr};
    Selector m_didFinishSelector;
    Selector m_didFailSelector;
    DataSelector m_didReceiveDataSelector;

    BVHTTPBody m_body;
    std::atomic<int> m_retryCount {0};
    std::atomic<bool> m_cancelled {false};
    bool m_timedOut = false;
    bool m_bodyReadFailed = false;
    bool m_responseTooLarge = false;
    // The attempt in flight: where it goes, how, and whether it carries the body and the
    // credentials (both stay with the host the request was made for).
    CURL *m_handle = nullptr;
    QUrl m_attemptURL;
    QString m_attemptMethod;
    bool m_attemptSendsBody = true;
    bool m_attemptSendsCredentials = true;
    void *m_headerList = nullptr;
    std::chrono::steady_clock::time_point m_lastActivity;
    qint64 m_lastUploaded = 0;
    qint64 m_lastDownloaded = 0;
    qint64 m_reportedUploaded = 0;
    std::chrono::steady_clock::time_point m_lastReport;

    int m_responseStatusCode = 0;
    QByteArray m_responseData;
    QMap<QString, QString> m_responseHeaders;
    int m_redirectCount = 0;
    BVError m_error;

    mutable std::mutex m_stateMutex;
    std::condition_variable m_completed;
    State m_state = State::Idle;
};
