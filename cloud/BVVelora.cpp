#include "cloud/BVVelora.h"

#include "cloud/BVVeloraDeployment.h"
#include "cloud/BVVeloraRouting.h"
#include "cloud/BVWebSocket.h"
#include "net/BVHTTPRequest.h"
#include "support/BVBundle.h"
#include "support/BVLog.h"
#include "support/BVMainThread.h"
#include "support/BVNotificationCenter.h"
#include "support/BVWorkQueue.h"

const QString BVVelora::errorDomain = QStringLiteral("BVVeloraErrorDomain");
const QString BVVelora::updateSettingsNotification = QStringLiteral("BVVeloraUpdateSettings");
const QString BVVelora::keychainService = QStringLiteral("com.brightvane.velora");
const QString BVVelora::signedOutKey = QStringLiteral("signedOut");

namespace {

constexpr double kFormRequestTimeout = 90.0;
// What the log shows in place of the user name and the password's hash.
const QString kHiddenInLog = QStringLiteral("(hidden)");

BVVelora::Program runningProgram()
{
    return BVBundle::mainBundle().bundleIdentifier() == BVBundle::prefsync().bundleIdentifier()
        ? BVVelora::Program::Prefsync
        : BVVelora::Program::Reelmark;
}

} // namespace

// The queue's job count is watched from its worker; the watch outlives the client by a little, so
// it is told when the client goes.
struct BVVelora::QueueWatch
{
    std::mutex mutex;
    BVVelora *client = nullptr;
};

QString BVVelora::boundary(Program program)
{
    return program == Program::Prefsync ? QStringLiteral("xKhTmLbOuNdArY")
                                        : QStringLiteral("axhTsLbOxNzArUD");
}

BVVelora::BVVelora(BVVeloraDelegate *delegate)
    : BVVelora(runningProgram(), delegate)
{ }

BVVelora::BVVelora(Program program, BVVeloraDelegate *delegate)
    : m_program(program)
    , m_delegate(delegate)
    , m_queue(std::make_unique<BVWorkQueue>(QStringLiteral("velora")))
    , m_watch(std::make_shared<QueueWatch>())
{
    init();
}

void BVVelora::init()
{
    m_watch->client = this;
    m_queue->setJobCountObserver([watch = m_watch](int count) {
        if (count != 0)
            return;
        std::lock_guard lock(watch->mutex);
        BVVelora *client = watch->client;
        if (!client || client->shouldExpectAdditionalTasks())
            return;
        if (BVVeloraDelegate *d = client->delegate())
            d->veloraProcessingFinished(client);
    });
    m_sourceAppID = BVBundle::mainBundle().stringForKey(QStringLiteral("BVVAppID"));
    loadSavedSettings();
    BVVeloraDeployment::installStorageCredentials();
    BVNotificationCenter::defaultCenter().addObserver(
        this, updateSettingsNotification, nullptr, [this](const BVNotification &notification) {
            // A sign-out elsewhere signs this client out too, before it reloads what is left.
            if (notification.sender != this && notification.userInfo.value(signedOutKey).toBool()) {
                std::lock_guard lock(m_fieldsMutex);
                m_username.clear();
                m_password.clear();
                m_name.clear();
            }
            loadSavedSettings();
        });
}

BVVelora::~BVVelora()
{
    {
        std::lock_guard lock(m_watch->mutex);
        m_watch->client = nullptr;
    }
    m_queue->setJobCountObserver({});
    BVNotificationCenter::defaultCenter().removeObserver(this);
    m_lifetime.end();
    {
        std::lock_guard lock(m_fieldsMutex);
        m_username.clear();
        m_password.clear();
        m_name.clear();
        m_veloServerURLString.clear();
    }
    m_sourceAppID.clear();
    cancelAllOperations();
    m_queue.reset();
    m_delegate = nullptr;
    closeCommentSocket();
}

// Fields.

QString BVVelora::username() const
{
    std::lock_guard lock(m_fieldsMutex);
    return m_username;
}

void BVVelora::setUsername(const QString &username)
{
    std::lock_guard lock(m_fieldsMutex);
    m_username = username;
}

QString BVVelora::password() const
{
    std::lock_guard lock(m_fieldsMutex);
    return m_password;
}

void BVVelora::setPassword(const QString &password)
{
    std::lock_guard lock(m_fieldsMutex);
    m_password = password;
}

QString BVVelora::name() const
{
    std::lock_guard lock(m_fieldsMutex);
    return m_name.isEmpty() ? m_username : m_name;
}

void BVVelora::setName(const QString &name)
{
    std::lock_guard lock(m_fieldsMutex);
    m_name = name;
}

bool BVVelora::veloServerEnabled() const
{
    std::lock_guard lock(m_fieldsMutex);
    return m_veloServerEnabled;
}

void BVVelora::setVeloServerEnabled(bool enabled)
{
    std::lock_guard lock(m_fieldsMutex);
    m_veloServerEnabled = enabled;
}

QString BVVelora::veloServerURLString() const
{
    std::lock_guard lock(m_fieldsMutex);
    return m_veloServerURLString;
}

void BVVelora::setVeloServerURLString(const QString &address)
{
    std::lock_guard lock(m_fieldsMutex);
    m_veloServerURLString = address;
}

QList<QVariantMap> BVVelora::uploadQueue() const
{
    std::lock_guard lock(m_uploadMutex);
    QList<QVariantMap> entries;
    for (const Upload &upload : m_uploadQueue)
        entries.append(uploadEntry(upload));
    return entries;
}

// Login checks and addresses.

bool BVVelora::isLinked() const
{
    std::lock_guard lock(m_fieldsMutex);
    return !m_username.isEmpty() && !m_password.isEmpty();
}

bool BVVelora::validateUsernameAndPassword()
{
    if (isLinked())
        return true;
    reportAuthenticationError();
    return false;
}

void BVVelora::reportAuthenticationError()
{
    const BVError error
        = BVVeloraReply::errorWithMessage(403, QStringLiteral("Invalid username or password"));
    BVMainThread::async([this, alive = m_lifetime.token(), error] {
        if (alive.expired())
            return;
        if (BVVeloraDelegate *d = delegate())
            d->veloraAuthorizationFailed(error);
    });
}

bool BVVelora::ownServerInUse() const
{
    std::lock_guard lock(m_fieldsMutex);
    return m_veloServerEnabled && !m_veloServerURLString.isEmpty();
}

QString BVVelora::siteURLString() const
{
    QString site = ownServerInUse() ? veloServerURLString() : BVVeloraDeployment::publicSiteURLString();
    if (site.endsWith(QLatin1Char('/')))
        site.chop(1);
    return site;
}

QString BVVelora::apiURLString() const
{
    QString api = siteURLString();
    if (!api.endsWith(QLatin1Char('/')))
        api += QLatin1Char('/');
    return api + QStringLiteral("api/0");
}

QVariantMap BVVelora::credentialParams(const QVariantMap &params) const
{
    QVariantMap all = params;
    all.insert(QStringLiteral("username"), username());
    all.insert(QStringLiteral("password"), sha512(password()));
    return all;
}

void BVVelora::post(const QString &path, const QVariantMap &params, const QString &context)
{
    postURL(apiURLString() + path, params, context);
}

// Requests.

void BVVelora::postURL(const QString &url, const QVariantMap &params, const QString &context)
{
    postURL(url, params, QByteArray(), QString(), QString(), context);
}

void BVVelora::postURL(const QString &url, const QVariantMap &params, const QByteArray &data,
    const QString &mimeType, const QString &filename, const QString &context)
{
    if (!validateUsernameAndPassword())
        return;
    const QVariantMap all = credentialParams(params);
    std::shared_ptr<BVHTTPRequest> request = BVHTTPRequest::requestWithURL(QUrl(url));
    request->setRequestMethod(QStringLiteral("POST"));
    request->setTimeOutSeconds(kFormRequestTimeout);
    request->addRequestHeader(QStringLiteral("Cache-Control"), QStringLiteral("no-cache"));
    if (!data.isNull() && !filename.isEmpty()) {
        QByteArray textPart;
        request->appendPostData(multipartBody(m_program, all, data, mimeType, filename, &textPart));
        request->addRequestHeader(QStringLiteral("Content-Type"),
            QStringLiteral("multipart/form-data; boundary=") + boundary(m_program));
        // The log shows the fields sent, but not who signs in nor the password's hash.
        QVariantMap logged = all;
        logged.insert(QStringLiteral("username"), kHiddenInLog);
        logged.insert(QStringLiteral("password"), kHiddenInLog);
        QByteArray loggedText;
        multipartBody(m_program, logged, QByteArray(), mimeType, filename, &loggedText);
        BVLog::appendLog("params: %@", QString::fromUtf8(loggedText));
    } else {
        request->appendPostData(formBody(all));
    }
    addRequestToQueue(request, context);
}

QString BVVelora::parameterText(const QVariant &value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    return value.toString();
}

QByteArray BVVelora::formBody(const QVariantMap &params)
{
    QString body;
    for (auto it = params.cbegin(); it != params.cend(); ++it)
        body += QLatin1Char('&') + it.key() + QLatin1Char('=')
            + sanitizeURLParameter(parameterText(it.value()));
    return body.toUtf8();
}

QByteArray BVVelora::multipartBody(Program program, const QVariantMap &params, const QByteArray &data,
    const QString &mimeType, const QString &filename, QByteArray *textPart)
{
    const QString b = boundary(program);
    const QString crlf = QStringLiteral("\r\n");
    QString text = program == Program::Prefsync ? crlf : QString();
    text += QStringLiteral("--") + b + crlf;
    for (auto it = params.cbegin(); it != params.cend(); ++it) {
        text += QStringLiteral("Content-Disposition: form-data; name=\"%1\"").arg(it.key()) + crlf + crlf;
        text += parameterText(it.value()) + crlf + QStringLiteral("--") + b + crlf;
    }
    text += QStringLiteral("Content-Disposition: form-data; name=\"file\"; filename=\"%1\"").arg(filename)
        + crlf;
    text += QStringLiteral("Content-Type: ")
        + (mimeType.isEmpty() ? QStringLiteral("application/octet-stream") : mimeType) + crlf;
    text += QStringLiteral("Content-Transfer-Encoding: binary") + crlf + crlf;
    const QByteArray head = text.toUtf8();
    if (textPart)
        *textPart = head;
    return head + data + (crlf + QStringLiteral("--") + b + QStringLiteral("--") + crlf).toUtf8();
}

void BVVelora::addRequestToQueue(const std::shared_ptr<BVHTTPRequest> &request, const QString &context)
{
    {
        std::lock_guard lock(m_requestMutex);
        m_requests.append(request);
    }
    m_queue->async([this, request, context] { sendRequest(request, context); });
}

// On the queue's worker: the worker waits for the reply.
void BVVelora::sendRequest(const std::shared_ptr<BVHTTPRequest> &request, const QString &context)
{
    if (!request->isCancelled())
        request->startSynchronous();
    {
        std::lock_guard lock(m_requestMutex);
        m_requests.removeOne(request);
    }
    if (request->isCancelled())
        return;
    // Uploads report through the HTTP layer's callbacks instead.
    if (request->delegate())
        return;
    const QByteArray data = request->responseData();
    processReturnedData(&data, context, request->responseStatusCode());
}

int BVVelora::operationCount() const
{
    return m_queue ? m_queue->jobCount() : 0;
}

void BVVelora::cancelAllOperations()
{
    QList<std::shared_ptr<BVHTTPRequest>> requests;
    {
        std::lock_guard lock(m_requestMutex);
        requests = m_requests;
    }
    // The queued jobs go first, then the requests from the last queued to the one under way: ending
    // the one under way first would free the worker to start the next before it was cancelled.
    if (m_queue)
        m_queue->cancelAll();
    for (auto it = requests.crbegin(); it != requests.crend(); ++it)
        (*it)->clearDelegatesAndCancel();
    {
        // The dropped jobs no longer take their requests off the list.
        std::lock_guard lock(m_requestMutex);
        for (const auto &request : requests)
            m_requests.removeOne(request);
    }
    QList<Upload> uploads;
    {
        std::lock_guard lock(m_uploadMutex);
        uploads.swap(m_uploadQueue);
    }
    for (const Upload &upload : uploads)
        removeTemporaryArchive(upload);
}

// Response handling and delivery.

void BVVelora::processReturnedData(const QByteArray *data, const QString &context, int returnCode)
{
    const BVVeloraReply reply = BVVeloraReply::interpret(data, returnCode, ownServerInUse());
    for (const QString &line : reply.log)
        BVLog::appendLog(line);
    if (reply.success)
        postSuccess(reply.result, context);
    else
        postError(reply.error, context);
}

void BVVelora::postSuccess(const QVariant &result, const QString &context)
{
    BVMainThread::async([this, alive = m_lifetime.token(), result, context] {
        if (!alive.expired())
            postSuccessOnMainThread(result, context);
    });
}

void BVVelora::postError(const BVError &error, const QString &context)
{
    BVMainThread::async([this, alive = m_lifetime.token(), error, context] {
        if (!alive.expired())
            postErrorOnMainThread(error, context);
    });
}

void BVVelora::postSuccessOnMainThread(const QVariant &result, const QString &context)
{
    BVVeloraDelegate *d = delegate();
    if (!d) {
        BVLog::appendLog("Unable to post success notification - no delegate set. Context: %@", context);
        return;
    }
    if (context == QLatin1String("authenticate") && result.typeId() == QMetaType::QVariantMap) {
        const QVariantMap reply = result.toMap();
        if (reply.contains(QStringLiteral("name"))) {
            setName(reply.value(QStringLiteral("name")).toString());
            saveDisplayName();
            BVNotificationCenter::defaultCenter().postNotificationOnMainThread(
                updateSettingsNotification, this);
        }
    }
    if (m_program == Program::Reelmark
        && (context == QLatin1String("comments/create") || context == QLatin1String("comments/edit")
            || context == QLatin1String("comments/remove") || context == QLatin1String("annotation"))) {
        // Other viewers of the file reload their comments.
        if (m_commentSocket && m_commentSocket->readyState() == BVWebSocket::Open) {
            try {
                m_commentSocket->send(QStringLiteral("1"));
            } catch (const std::exception &exception) {
                BVLog::appendLog("Exception on comment socket send: %s", exception.what());
            }
        }
    }
    // The callback may release the client: nothing touches it afterwards.
    BVVeloraRouting::deliverSuccess(*d, this, context, result);
}

void BVVelora::postErrorOnMainThread(const BVError &error, const QString &context)
{
    BVVeloraDelegate *d = delegate();
    if (!d) {
        BVLog::appendLog("Unable to post failure notification - no delegate set. Context: %@", context);
        return;
    }
    BVVeloraRouting::deliverFailure(*d, this, context, error);
}
