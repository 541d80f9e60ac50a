// File uploads. To the user's own server: one multipart POST streamed from disk, retried on
// time-out. To the public service: the file is PUT into the storage bucket, then registered with a
// form POST. Both transfers run on the client's serial queue; the upload queue matches their
// progress and completion to the upload's entry.
#include "cloud/BVVelora.h"

#include "cloud/BVVeloraDeployment.h"
#include "net/BVFormDataRequest.h"
#include "net/BVS3ObjectRequest.h"
#include "support/BVFileManager.h"
#include "support/BVFormat.h"
#include "support/BVLocalPaths.h"
#include "support/BVLog.h"

#include <QDir>
#include <QFileInfo>

Q_DECLARE_METATYPE(BVHTTPRequest *)

namespace {

constexpr double kOwnServerUploadTimeout = 120.0;
constexpr int kOwnServerUploadRetries = 3;
constexpr double kStorageUploadTimeout = 300.0;
const QString kUploadContext = QStringLiteral("files/upload");

} // namespace

bool BVVelora::uploadFile(
    const QString &path, long projectID, const QString &parentFolder, const QString &title)
{
    return uploadFile(path, projectID, parentFolder, -1, title, QString(), 0, QString(), 0);
}

bool BVVelora::uploadFile(
    const QString &path, const QString &appID, const QString &parentFolder, const QString &title)
{
    return uploadFile(path, -1, parentFolder, -1, title, QString(), 0, QString(), 0, true, {}, false, appID);
}

bool BVVelora::uploadFile(const QString &path, const QString &appID, const QString &parentFolder,
    const QString &title, const QDateTime &date)
{
    const QVariantMap settings {
        {QStringLiteral("date"), BVFormat::format("%0.0f", double(date.toMSecsSinceEpoch()) / 1000.0)}};
    return uploadFile(path, -1, parentFolder, -1, title, QString(), 0, QString(), 0, true, {}, false, appID,
        false, settings);
}

bool BVVelora::uploadFile(const QString &path, long projectID, const QString &parentFolder, long departmentID,
    const QString &title, const QString &description, double frameRate, const QString &timecodeStart,
    quint64 duration, bool autoRevise, const QStringList &linkEmails, bool allowComments,
    const QString &appID, bool notifyUsers, const QVariantMap &settings)
{
    if (!validateUsernameAndPassword() || path.isEmpty() || projectID == 0)
        return false;
    const QString parent = parentFolder.isEmpty() ? QStringLiteral("/") : parentFolder;
    const QString fileTitle = title.isEmpty() ? QFileInfo(path).fileName() : title;

    Upload upload;
    upload.file = path;
    bool resized = false;
    if (QFileInfo(path).isDir()) {
        // The archive is named after the folder, in a folder of its own.
        const QString folder = BVLocalPaths::tempFile();
        const QString zipPath
            = folder + QLatin1Char('/') + QFileInfo(path).fileName() + QStringLiteral(".zip");
        BVLog::appendLog("Temporary zip path: %@", zipPath);
        if (QDir().mkpath(folder) && BVFileManager::compressFile(path, zipPath, true)) {
            upload.file = zipPath;
            upload.temporaryArchive = zipPath;
            resized = true;
        }
    }
    if (!QFileInfo(upload.file).isFile()) {
        BVLog::appendLog("Upload failed: no file at %@", upload.file);
        postError(BVVeloraReply::errorWithMessage(0, BVFormat::format("No file exists at %@", upload.file)),
            kUploadContext);
        removeTemporaryArchive(upload);
        return false;
    }
    const QString key = BVFormat::format(
        "uploads/%@-%@", randomString(32), sanitizeFilename(QFileInfo(upload.file).fileName()));

    QVariantMap &params = upload.params;
    params.insert(QStringLiteral("source"), key);
    params.insert(QStringLiteral("parent"), parent);
    params.insert(QStringLiteral("department"), qlonglong(departmentID));
    params.insert(QStringLiteral("project_id"), qlonglong(projectID));
    params.insert(QStringLiteral("title"), fileTitle);
    params.insert(QStringLiteral("mime-type"), fileMIMEType(upload.file));
    params.insert(QStringLiteral("auto_revise"), BVFormat::format("%i", int(autoRevise)));
    params.insert(QStringLiteral("notifications"), BVFormat::format("%i", int(notifyUsers)));
    if (!description.isEmpty())
        params.insert(QStringLiteral("description"), description);
    if (frameRate > 0)
        params.insert(QStringLiteral("frameRate"), BVFormat::format("%0.2f", frameRate));
    if (!timecodeStart.isEmpty())
        params.insert(QStringLiteral("timecodeStart"), timecodeStart);
    if (duration != 0)
        params.insert(QStringLiteral("duration"), BVFormat::format("%llu", qulonglong(duration)));
    if (!appID.isEmpty())
        params.insert(QStringLiteral("app_id"), appID);
    if (resized)
        params.insert(QStringLiteral("resetsize"), true);
    params.insert(settings);
    if (!linkEmails.isEmpty()) {
        params.insert(QStringLiteral("link_emails"), linkEmails.join(QLatin1Char(',')));
        params.insert(QStringLiteral("link_comments"), allowComments);
    }
    if (!m_sourceAppID.isEmpty())
        params.insert(QStringLiteral("source_id"), m_sourceAppID);

    if (ownServerInUse()) {
        upload.ownServer = true;
        auto request
            = BVFormDataRequest::requestWithURL(QUrl(apiURLString() + QStringLiteral("/files/upload")));
        const QVariantMap fields = credentialParams(params);
        for (auto it = fields.cbegin(); it != fields.cend(); ++it)
            request->setPostValue(parameterText(it.value()), it.key());
        request->setFile(upload.file, QStringLiteral("file"));
        request->setShouldStreamPostDataFromDisk(true);
        request->setTimeOutSeconds(kOwnServerUploadTimeout);
        request->setNumberOfTimesToRetryOnTimeout(kOwnServerUploadRetries);
        upload.request = request;
    } else {
        uploadToStorage(std::move(upload));
        return true;
    }
    upload.request->setDelegate(this);
    upload.request->setUploadProgressDelegate(this);
    const std::shared_ptr<BVHTTPRequest> request = upload.request;
    {
        std::lock_guard lock(m_uploadMutex);
        m_uploadQueue.append(std::move(upload));
    }
    addRequestToQueue(request, kUploadContext);
    return true;
}

void BVVelora::uploadToStorage(Upload upload)
{
    const BVVeloraDeployment::StorageCredentials storage = BVVeloraDeployment::storageCredentials();
    if (!storage.isComplete()) {
        BVLog::appendLog("Upload failed: no storage credentials are configured");
        postError(
            BVVeloraReply::errorWithMessage(0,
                QStringLiteral("Uploads are not configured on this computer: the storage credentials are "
                               "missing.")),
            kUploadContext);
        removeTemporaryArchive(upload);
        return;
    }
    auto request = BVS3ObjectRequest::PUTRequestForFile(upload.file, BVVeloraDeployment::storageBucket,
        upload.params.value(QStringLiteral("source")).toString());
    request->setRequestScheme(storage.scheme); // the address is built again when the request starts
    request->setTimeOutSeconds(kStorageUploadTimeout);
    request->setNumberOfTimesToRetryOnTimeout(0);
    request->setDelegate(this);
    request->setUploadProgressDelegate(this);
    upload.request = request;
    {
        std::lock_guard lock(m_uploadMutex);
        m_uploadQueue.append(upload);
    }
    addRequestToQueue(request, kUploadContext);
}

QVariantMap BVVelora::uploadEntry(const Upload &upload) const
{
    QVariantMap entry = upload.params;
    entry.insert(QStringLiteral("file"), upload.file);
    entry.insert(QStringLiteral("request"), QVariant::fromValue(upload.request.get()));
    return entry;
}

// The entry of the transfer: normally the oldest, as the transfers run in order.
std::optional<BVVelora::Upload> BVVelora::takeUpload(BVHTTPRequest *request)
{
    std::lock_guard lock(m_uploadMutex);
    for (qsizetype i = 0; i < m_uploadQueue.size(); ++i) {
        if (m_uploadQueue.at(i).request.get() == request)
            return m_uploadQueue.takeAt(i);
    }
    return std::nullopt;
}

void BVVelora::removeTemporaryArchive(const Upload &upload)
{
    if (upload.temporaryArchive.isEmpty())
        return;
    const QString folder = QFileInfo(upload.temporaryArchive).absolutePath();
    QFile::remove(upload.temporaryArchive);
    QDir().rmdir(folder);
}

// Main thread, from here on.

void BVVelora::requestDidSendBytes(BVHTTPRequest *request, qint64 bytes)
{
    std::optional<QVariantMap> entry;
    {
        std::lock_guard lock(m_uploadMutex);
        for (const Upload &upload : m_uploadQueue) {
            if (upload.request.get() == request) {
                entry = uploadEntry(upload);
                break;
            }
        }
    }
    if (!entry) {
        BVLog::appendLog("Error: uploaded data for unknown file");
        return;
    }
    if (BVVeloraDelegate *d = delegate())
        d->veloraDidUploadBytes(this, bytes, *entry);
}

void BVVelora::requestFinished(BVHTTPRequest *request)
{
    std::optional<Upload> upload = takeUpload(request);
    if (!upload) {
        BVLog::appendLog("Upload finished for unknown file");
        return;
    }
    BVLog::appendLog("Upload finished");
    removeTemporaryArchive(*upload);
    if (upload->ownServer) {
        const QByteArray data = request->responseData();
        processReturnedData(&data, kUploadContext, request->responseStatusCode());
        return;
    }
    if (!validateUsernameAndPassword())
        return;
    QVariantMap params = upload->params;
    params.insert(QStringLiteral("file"), upload->file);
    BVLog::appendLog("params: %@", BVFormat::describe(params));
    post(QStringLiteral("/files/upload"), params, kUploadContext);
}

void BVVelora::requestFailed(BVHTTPRequest *request)
{
    std::optional<Upload> upload = takeUpload(request);
    if (upload)
        removeTemporaryArchive(*upload);
    postError(BVVeloraReply::errorWithMessage(0, request->error().localizedDescription()), kUploadContext);
    BVLog::appendLog("Upload failed");
}
