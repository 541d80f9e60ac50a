#include "net/BVHTTPRequest.h"

#include "net/BVHTTPNetworkThread.h"
#include "support/BVBundle.h"
#include "support/BVFormat.h"
#include "support/BVLog.h"
#include "support/BVMainThread.h"
#include "support/BVOSDetect.h"
#include "support/BVWorkQueue.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>

#include <curl/curl.h>

const QString BVHTTPRequest::errorDomain = QStringLiteral("BVHTTPRequestErrorDomain");

namespace {

using namespace std::chrono_literals;

// Upload progress goes to the main thread at most this often, plus once at the end.
constexpr auto kProgressInterval = 100ms;

BVError httpError(int code, const QString &message, const QString &reason = {})
{
    return BVError::withDescription(BVHTTPRequest::errorDomain, code, message, reason);
}

} // namespace

// libcurl's C callbacks, forwarding to the request they were registered with.
struct BVHTTPRequestCallbacks
{
    static size_t write(char *data, size_t size, size_t count, void *self);
    static size_t header(char *data, size_t size, size_t count, void *self);
    static size_t read(char *buffer, size_t size, size_t count, void *self);
    static int seek(void *self, curl_off_t offset, int origin);
};

std::shared_ptr<BVHTTPRequest> BVHTTPRequest::requestWithURL(const QUrl &url)
{
    return std::shared_ptr<BVHTTPRequest>(new BVHTTPRequest(url));
}

BVHTTPRequest::BVHTTPRequest(const QUrl &url)
    : m_url(url)
{ }

BVHTTPRequest::~BVHTTPRequest()
{
    curl_slist_free_all(static_cast<curl_slist *>(m_headerList));
}

void BVHTTPRequest::addRequestHeader(const QString &name, const QString &value)
{
    for (auto &header : m_requestHeaders) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0) {
            header.second = value;
            return;
        }
    }
    m_requestHeaders.append({name, value});
}

QString BVHTTPRequest::requestHeader(const QString &name) const
{
    for (const auto &header : m_requestHeaders) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    }
    return {};
}

void BVHTTPRequest::appendPostData(const QByteArray &data)
{
    m_postData += data;
}

QString BVHTTPRequest::responseHeader(const QString &name) const
{
    for (auto it = m_responseHeaders.begin(); it != m_responseHeaders.end(); ++it) {
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            return it.value();
    }
    return {};
}

QString BVHTTPRequest::defaultUserAgentString()
{
    const BVBundle &bundle = BVBundle::mainBundle();
    QString name = bundle.stringForKey(QStringLiteral("CFBundleDisplayName"));
    if (name.isEmpty())
        name = bundle.stringForKey(QStringLiteral("CFBundleName"));
    if (name.isEmpty())
        name = QCoreApplication::applicationName();
    QString version = bundle.stringForKey(QStringLiteral("CFBundleShortVersionString"));
    if (version.isEmpty())
        version = bundle.stringForKey(QStringLiteral("CFBundleVersion"));
    return BVFormat::format("%@ %@ (%@; %@ %@; %@)", name, version, QStringLiteral("Linux"),
        BVOSDetect::systemName(), BVOSDetect::osxVersion(), QLocale::system().name());
}

QString BVHTTPRequest::encodeURLComponent(const QString &text, bool keepSlash)
{
    static const QByteArray reserved(":/?#[]@!$ &'()*+,;=\"<>%{}|\\^~`");
    static const char hex[] = "0123456789ABCDEF";
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() * 3);
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        const bool escape = byte < 0x21 || byte >= 0x7F || (reserved.contains(c) && !(keepSlash && c == '/'));
        if (escape) {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        } else {
            out += c;
        }
    }
    return QString::fromLatin1(out);
}

// Requests.

void BVHTTPRequest::startAsynchronous()
{
    std::shared_ptr<BVHTTPRequest> self = weak_from_this().lock();
    if (!self) {
        BVLog::appendLog(
            "HTTP request to %@ not started: it must be owned by a shared pointer", m_url.toString());
        return;
    }
    {
        std::lock_guard lock(m_stateMutex);
        if (m_state != State::Idle)
            return;
        m_state = State::Running;
    }
    BVHTTPNetworkThread::shared().start(std::move(self));
}

void BVHTTPRequest::startSynchronous()
{
    startAsynchronous();
    waitUntilComplete();
}

void BVHTTPRequest::addToQueue(BVWorkQueue &queue)
{
    std::shared_ptr<BVHTTPRequest> self = shared_from_this();
    queue.async([self] { self->startSynchronous(); });
}

void BVHTTPRequest::waitUntilComplete()
{
    std::unique_lock lock(m_stateMutex);
    m_completed.wait(lock, [this] { return m_state == State::Complete || m_state == State::Idle; });
}

bool BVHTTPRequest::complete() const
{
    std::lock_guard lock(m_stateMutex);
    return m_state == State::Complete;
}

void BVHTTPRequest::cancel()
{
    m_cancelled = true;
    {
        std::unique_lock lock(m_stateMutex);
        if (m_state == State::Complete)
            return;
        if (m_state == State::Running) {
            lock.unlock();
            BVHTTPNetworkThread::shared().wake();
            return;
        }
        m_state = State::Running; // never started: it fails here and now
    }
    completeWith(httpError(RequestCancelledError, QStringLiteral("The request was cancelled")));
}

void BVHTTPRequest::clearDelegatesAndCancel()
{
    m_delegate = nullptr;
    m_uploadProgressDelegate = nullptr;
    cancel();
}

// Network thread.

bool BVHTTPRequest::prepare(BVError *error)
{
    const QString scheme = m_url.scheme().toLower();
    if (!m_url.isValid() || m_url.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        *error = httpError(UnableToCreateRequestError, QStringLiteral("Unable to create request (bad url?)"));
        return false;
    }
    m_body.clear();
    if (!buildRequest(error))
        return false;
    resetForAttempt();
    return true;
}

bool BVHTTPRequest::buildRequest(BVError *error)
{
    m_body.appendData(m_postData);
    if (m_postBodyFilePath.isEmpty())
        return true;
    if (!QFile::exists(m_postBodyFilePath)) {
        *error = httpError(
            InternalErrorWhileBuildingRequest, BVFormat::format("No file exists at %@", m_postBodyFilePath));
        return false;
    }
    if (m_shouldStreamPostDataFromDisk)
        return m_body.appendFile(m_postBodyFilePath, error);
    QFile file(m_postBodyFilePath);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = httpError(InternalErrorWhileBuildingRequest, QStringLiteral("Unable to create read stream"));
        return false;
    }
    m_body.appendData(file.readAll());
    return true;
}

bool BVHTTPRequest::handleResponse(BVError *)
{
    return true;
}

CURL *BVHTTPRequest::createHandle(BVError *error)
{
    CURL *handle = curl_easy_init();
    if (!handle) {
        *error
            = httpError(InternalErrorWhileBuildingRequest, QStringLiteral("Unable to start HTTP connection"));
        return nullptr;
    }
    m_handle = handle;
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    // Redirects are followed here, one attempt each, so that every target is checked first.
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "gzip");
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &BVHTTPRequestCallbacks::write);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &BVHTTPRequestCallbacks::header);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &BVHTTPRequest::curlProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_UPLOAD_BUFFERSIZE, 256L * 1024);
    if (requestHeader(QStringLiteral("User-Agent")).isEmpty())
        curl_easy_setopt(handle, CURLOPT_USERAGENT, defaultUserAgentString().toUtf8().constData());
    m_attemptURL = m_url;
    m_attemptMethod = m_requestMethod.toUpper();
    m_attemptSendsBody = true;
    m_attemptSendsCredentials = true;
    m_redirectCount = 0;
    configureAttempt(handle);
    configureHandle(handle);
    return handle;
}

void BVHTTPRequest::configureAttempt(CURL *handle)
{
    curl_easy_setopt(handle, CURLOPT_URL, m_attemptURL.toEncoded().constData());
    // Back to a plain GET first, so that nothing of an earlier attempt's method stays.
    curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, static_cast<const char *>(nullptr));
    const QString &method = m_attemptMethod;
    const bool hasBody = m_attemptSendsBody
        && (m_body.size() > 0 || method == QLatin1String("POST") || method == QLatin1String("PUT"));
    if (hasBody) {
        curl_easy_setopt(handle, CURLOPT_READFUNCTION, &BVHTTPRequestCallbacks::read);
        curl_easy_setopt(handle, CURLOPT_READDATA, this);
        curl_easy_setopt(handle, CURLOPT_SEEKFUNCTION, &BVHTTPRequestCallbacks::seek);
        curl_easy_setopt(handle, CURLOPT_SEEKDATA, this);
        if (method == QLatin1String("PUT")) {
            curl_easy_setopt(handle, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(handle, CURLOPT_INFILESIZE_LARGE, curl_off_t(m_body.size()));
        } else {
            curl_easy_setopt(handle, CURLOPT_POST, 1L);
            curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(m_body.size()));
            if (method != QLatin1String("POST"))
                curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, method.toLatin1().constData());
        }
    } else if (method == QLatin1String("HEAD")) {
        curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
    } else if (method != QLatin1String("GET")) {
        curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, method.toLatin1().constData());
    }

    curl_slist_free_all(static_cast<curl_slist *>(m_headerList));
    curl_slist *headers = nullptr;
    for (const auto &[name, value] : m_requestHeaders) {
        // Credentials stay with the host they were made for; a body's type goes with the body.
        const bool credentials = name.compare(QLatin1String("Authorization"), Qt::CaseInsensitive) == 0
            || name.compare(QLatin1String("Cookie"), Qt::CaseInsensitive) == 0;
        const bool bodyHeader = name.startsWith(QLatin1String("Content-"), Qt::CaseInsensitive);
        if ((credentials && !m_attemptSendsCredentials) || (bodyHeader && !hasBody))
            continue;
        headers = curl_slist_append(headers, (name + QLatin1String(": ") + value).toUtf8().constData());
    }
    // The body follows the headers at once, without waiting for "100 Continue".
    headers = curl_slist_append(headers, "Expect:");
    m_headerList = headers;
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
}

bool BVHTTPRequest::isRedirectAllowed(const QUrl &from, const QUrl &to)
{
    const QString fromScheme = from.scheme().toLower();
    const QString toScheme = to.scheme().toLower();
    if (!to.isValid() || to.host().isEmpty())
        return false;
    if (toScheme != QLatin1String("http") && toScheme != QLatin1String("https"))
        return false;
    return !(fromScheme == QLatin1String("https") && toScheme == QLatin1String("http"));
}

bool BVHTTPRequest::followRedirect(long statusCode, const QUrl &target, BVError *error)
{
    if (m_redirectCount >= maximumRedirects) {
        *error = httpError(TooMuchRedirectionError,
            QStringLiteral("The request failed because it redirected too many times"));
        return false;
    }
    if (!isRedirectAllowed(m_attemptURL, target)) {
        *error = httpError(RedirectRefusedError,
            BVFormat::format("The request was redirected from %@ to %@, which is not followed",
                m_attemptURL.toString(), target.toString()));
        return false;
    }
    const bool sameHost = target.host().compare(m_url.host(), Qt::CaseInsensitive) == 0;
    const bool carriesBody = m_attemptSendsBody
        && (m_body.size() > 0 || m_attemptMethod == QLatin1String("POST")
            || m_attemptMethod == QLatin1String("PUT"));
    if (carriesBody && !sameHost) {
        // 307 and 308 must repeat the method with its body, which goes to no other host; the
        // others become a GET without body, as browsers do.
        if (statusCode == 307 || statusCode == 308) {
            *error = httpError(RedirectRefusedError,
                BVFormat::format(
                    "The request was redirected to %@, another host, which would receive its body",
                    target.toString()));
            return false;
        }
        m_attemptMethod = QStringLiteral("GET");
        m_attemptSendsBody = false;
    }
    if (!sameHost)
        m_attemptSendsCredentials = false;
    ++m_redirectCount;
    m_attemptURL = target;
    configureAttempt(m_handle);
    resetForAttempt();
    return true;
}

qint64 BVHTTPRequest::maximumResponseSize() const
{
    return m_maximumResponseSize > 0 ? m_maximumResponseSize : defaultMaximumResponseSize();
}

namespace {

std::atomic<qint64> g_defaultMaximumResponseSize {BVHTTPRequest::defaultMaximumResponseSizeBytes};

} // namespace

qint64 BVHTTPRequest::defaultMaximumResponseSize()
{
    return g_defaultMaximumResponseSize.load();
}

void BVHTTPRequest::setDefaultMaximumResponseSize(qint64 bytes)
{
    g_defaultMaximumResponseSize = bytes > 0 ? bytes : defaultMaximumResponseSizeBytes;
}

void BVHTTPRequest::resetForAttempt()
{
    m_body.seek(0);
    if (m_reportedUploaded != 0) {
        m_lastUploaded = 0;
        reportProgress(true); // gives back the bytes of the abandoned attempt
    }
    m_lastUploaded = 0;
    m_lastDownloaded = 0;
    m_timedOut = false;
    m_bodyReadFailed = false;
    m_responseTooLarge = false;
    m_responseStatusCode = 0;
    m_responseData.clear();
    m_responseHeaders.clear();
    m_lastReport = std::chrono::steady_clock::now();
    noteActivity();
}

bool BVHTTPRequest::hasTimedOut(std::chrono::steady_clock::time_point now) const
{
    return m_timeOutSeconds > 0 && now - m_lastActivity > std::chrono::duration<double>(m_timeOutSeconds);
}

size_t BVHTTPRequest::onBodyBytes(const char *data, size_t size)
{
    noteActivity();
    if (m_didReceiveDataSelector) {
        std::shared_ptr<BVHTTPRequest> self = shared_from_this();
        QByteArray bytes(data, qsizetype(size));
        BVMainThread::async([self, bytes] {
            if (self->m_delegate.load() && self->m_didReceiveDataSelector)
                self->m_didReceiveDataSelector(self.get(), bytes);
        });
    } else {
        if (m_responseData.size() + qint64(size) > maximumResponseSize()) {
            m_responseTooLarge = true;
            return 0; // libcurl ends the attempt
        }
        m_responseData.append(data, qsizetype(size));
    }
    return size;
}

size_t BVHTTPRequest::onHeaderLine(const char *data, size_t size)
{
    noteActivity();
    const QByteArray line = QByteArray(data, qsizetype(size)).trimmed();
    if (line.startsWith("HTTP/")) {
        m_responseHeaders.clear(); // a new reply (after a redirect or "100 Continue")
        m_responseStatusCode = line.split(' ').value(1).toInt();
    } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
        m_responseHeaders.insert(QString::fromLatin1(line.left(colon).trimmed()),
            QString::fromUtf8(line.mid(colon + 1).trimmed()));
    }
    return size;
}

size_t BVHTTPRequest::onReadBody(char *buffer, size_t size)
{
    noteActivity();
    const qint64 got = m_body.read(buffer, qint64(size));
    if (got < 0) {
        m_bodyReadFailed = true;
        return CURL_READFUNC_ABORT;
    }
    return size_t(got);
}

int BVHTTPRequest::onSeekBody(qint64 offset)
{
    return m_body.seek(offset) ? CURL_SEEKFUNC_OK : CURL_SEEKFUNC_FAIL;
}

int BVHTTPRequest::curlProgress(void *self, int64_t, int64_t dlnow, int64_t, int64_t ulnow)
{
    static_cast<BVHTTPRequest *>(self)->onProgress(ulnow, dlnow);
    return 0;
}

void BVHTTPRequest::onProgress(qint64 uploaded, qint64 downloaded)
{
    if (uploaded != m_lastUploaded || downloaded != m_lastDownloaded)
        noteActivity();
    m_lastUploaded = uploaded;
    m_lastDownloaded = downloaded;
}

void BVHTTPRequest::reportProgress(bool force)
{
    const qint64 delta = m_lastUploaded - m_reportedUploaded;
    if (delta == 0)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - m_lastReport < kProgressInterval)
        return;
    m_reportedUploaded = m_lastUploaded;
    m_lastReport = now;
    std::shared_ptr<BVHTTPRequest> self = shared_from_this();
    BVMainThread::async([self, delta] {
        if (BVHTTPUploadProgressDelegate *d = self->m_uploadProgressDelegate.load())
            d->requestDidSendBytes(self.get(), delta);
    });
}

void BVHTTPRequest::finishAttempt(
    int curlCode, long statusCode, const char *redirectURL, qint64 uploaded, const char *curlMessage)
{
    if (m_cancelled) {
        completeWith(httpError(RequestCancelledError, QStringLiteral("The request was cancelled")));
        return;
    }
    if (m_timedOut || curlCode == CURLE_OPERATION_TIMEDOUT) {
        if (m_retryCount < m_numberOfTimesToRetryOnTimeout) {
            ++m_retryCount;
            BVLog::appendLog("Request to %@ timed out, retrying (%d of %d)", m_url.toString(),
                m_retryCount.load(), m_numberOfTimesToRetryOnTimeout);
            resetForAttempt();
            return;
        }
        completeWith(httpError(RequestTimedOutError, QStringLiteral("The request timed out")));
        return;
    }
    const QString reason = QString::fromUtf8(curlMessage ? curlMessage : "");
    if (m_responseTooLarge) {
        completeWith(httpError(ResponseTooLargeError,
            BVFormat::format("The reply is larger than %lld bytes, the most a request keeps in memory",
                maximumResponseSize())));
        return;
    }
    switch (curlCode) {
    case CURLE_OK:
        break;
    case CURLE_TOO_MANY_REDIRECTS:
        completeWith(httpError(TooMuchRedirectionError,
            QStringLiteral("The request failed because it redirected too many times"), reason));
        return;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        completeWith(httpError(
            UnableToCreateRequestError, QStringLiteral("Unable to create request (bad url?)"), reason));
        return;
    case CURLE_BAD_CONTENT_ENCODING:
        completeWith(
            httpError(CompressionError, QStringLiteral("Decompressing the response failed"), reason));
        return;
    default:
        if (m_bodyReadFailed)
            completeWith(httpError(
                InternalErrorWhileBuildingRequest, QStringLiteral("Unable to create read stream"), reason));
        else
            completeWith(
                httpError(ConnectionFailureError, QStringLiteral("A connection failure occurred"), reason));
        return;
    }
    m_responseStatusCode = int(statusCode);
    const bool redirect = statusCode == 301 || statusCode == 302 || statusCode == 303 || statusCode == 307
        || statusCode == 308;
    if (redirect && redirectURL && *redirectURL) {
        BVError error;
        if (!followRedirect(statusCode, QUrl::fromEncoded(QByteArray(redirectURL)), &error))
            completeWith(error);
        return;
    }
    if (uploaded >= 0)
        m_lastUploaded = uploaded;
    if (statusCode == 401) {
        completeWith(httpError(AuthenticationError, QStringLiteral("Authentication needed")));
        return;
    }
    BVError error;
    completeWith(handleResponse(&error) ? BVError() : error);
}

void BVHTTPRequest::completeWith(const BVError &error)
{
    reportProgress(true);
    m_body.close();
    m_error = error;
    if (!error.isNull())
        BVLog::appendLog(
            "HTTP request %@ %@ failed: %@", m_requestMethod, m_url.toString(), error.description());
    std::shared_ptr<BVHTTPRequest> self = weak_from_this().lock();
    if (self) {
        if (error.isNull())
            BVMainThread::async([self] { self->deliverFinished(); });
        else
            BVMainThread::async([self] { self->deliverFailed(); });
    }
    std::lock_guard lock(m_stateMutex);
    m_state = State::Complete;
    m_completed.notify_all();
}

// Main thread.

void BVHTTPRequest::deliverFinished()
{
    BVHTTPRequestDelegate *d = m_delegate.load();
    if (!d)
        return;
    if (m_didFinishSelector)
        m_didFinishSelector(this);
    else
        d->requestFinished(this);
}

void BVHTTPRequest::deliverFailed()
{
    BVHTTPRequestDelegate *d = m_delegate.load();
    if (!d)
        return;
    if (m_didFailSelector)
        m_didFailSelector(this);
    else
        d->requestFailed(this);
}

size_t BVHTTPRequestCallbacks::write(char *data, size_t size, size_t count, void *self)
{
    return static_cast<BVHTTPRequest *>(self)->onBodyBytes(data, size * count);
}

size_t BVHTTPRequestCallbacks::header(char *data, size_t size, size_t count, void *self)
{
    return static_cast<BVHTTPRequest *>(self)->onHeaderLine(data, size * count);
}

size_t BVHTTPRequestCallbacks::read(char *buffer, size_t size, size_t count, void *self)
{
    return static_cast<BVHTTPRequest *>(self)->onReadBody(buffer, size * count);
}

int BVHTTPRequestCallbacks::seek(void *self, curl_off_t offset, int origin)
{
    if (origin != SEEK_SET)
        return CURL_SEEKFUNC_CANTSEEK;
    return static_cast<BVHTTPRequest *>(self)->onSeekBody(qint64(offset));
}
