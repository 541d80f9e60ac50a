// The catalogue of the service's operations: each posts its parameters to the API path with the
// context that routes the reply to its callbacks; the post checks the login first (a signed-out
// client reports "Invalid username or password" to its delegate and sends nothing).
#include "cloud/BVVelora.h"

#include "support/BVFormat.h"
#include "support/BVLog.h"

namespace {

QString number(long value)
{
    return BVFormat::format("%li", value);
}

} // namespace

void BVVelora::populateProjects(bool privateStorage)
{
    post(QStringLiteral("/projects"),
        {{QStringLiteral("privateStorage"), BVFormat::format("%i", int(privateStorage))}},
        QStringLiteral("projects"));
}

bool BVVelora::createProject(
    const QString &title, const QString &description, const QString &client, long status)
{
    if (!validateUsernameAndPassword() || title.isEmpty())
        return false;
    QVariantMap params {{QStringLiteral("title"), title}, {QStringLiteral("status"), number(status)}};
    if (!description.isEmpty())
        params.insert(QStringLiteral("description"), description);
    if (!client.isEmpty())
        params.insert(QStringLiteral("client"), client);
    post(QStringLiteral("/projects/create"), params, QStringLiteral("projects/create"));
    return true;
}

void BVVelora::populateDepartmentsForProjectID(long projectID)
{
    post(QStringLiteral("/projects/departments"), {{QStringLiteral("project_id"), number(projectID)}},
        QStringLiteral("projects/departments"));
}

namespace {

// The parameters shared by the file listings.
QVariantMap fileListParams(long projectID, bool thumbnails, bool folders, const QString &parentFolder,
    long departmentID, bool showDepts)
{
    QVariantMap params {
        {QStringLiteral("project_id"), number(projectID)}, {QStringLiteral("dept"), number(departmentID)}};
    if (thumbnails)
        params.insert(QStringLiteral("thumbs"), QStringLiteral("1"));
    if (folders)
        params.insert(QStringLiteral("folders"), QStringLiteral("1"));
    if (!parentFolder.isEmpty())
        params.insert(QStringLiteral("parent"), parentFolder);
    if (showDepts)
        params.insert(QStringLiteral("depts"), QStringLiteral("1"));
    return params;
}

} // namespace

void BVVelora::populateVideoFilesForProjectID(long projectID, bool thumbnails, bool folders,
    const QString &parentFolder, long departmentID, bool showDepts, bool showCommentStreams)
{
    QVariantMap params
        = fileListParams(projectID, thumbnails, folders, parentFolder, departmentID, showDepts);
    if (showCommentStreams)
        params.insert(QStringLiteral("commentstreams"), QStringLiteral("1"));
    post(QStringLiteral("/projects/files/video"), params, QStringLiteral("projects/files/video"));
}

void BVVelora::populateAudioVideoFilesForProjectID(long projectID, bool thumbnails, bool folders,
    const QString &parentFolder, long departmentID, bool showDepts, bool showCommentStreams,
    const QVariantMap &settings)
{
    if (!validateUsernameAndPassword())
        return;
    QVariantMap params
        = fileListParams(projectID, thumbnails, folders, parentFolder, departmentID, showDepts);
    if (showCommentStreams)
        params.insert(QStringLiteral("commentstreams"), QStringLiteral("1"));
    if (m_program == Program::Reelmark)
        params.insert(settings);
    else if (!settings.isEmpty())
        BVLog::appendLog("Velora: extra listing settings are not sent by this program");
    post(QStringLiteral("/projects/files/audiovideo"), params, QStringLiteral("projects/files/audiovideo"));
}

void BVVelora::populateFilesForProjectID(long projectID, bool thumbnails, bool folders,
    const QString &parentFolder, long departmentID, bool showDepts, const QString &appID)
{
    QVariantMap params
        = fileListParams(projectID, thumbnails, folders, parentFolder, departmentID, showDepts);
    if (!appID.isEmpty())
        params.insert(QStringLiteral("app_id"), appID);
    post(appID.isEmpty() ? QStringLiteral("/projects/files") : QStringLiteral("/apps/files"), params,
        QStringLiteral("projects/files"));
}

void BVVelora::populateFilesForApp(const QString &appID, const QString &folder)
{
    populateFilesForProjectID(-1, false, false, folder, -1, false, appID);
}

void BVVelora::populateFoldersForProjectID(
    long projectID, const QString &parentFolder, long departmentID, bool subfolders)
{
    QVariantMap params {
        {QStringLiteral("project_id"), number(projectID)}, {QStringLiteral("dept"), number(departmentID)}};
    if (subfolders)
        params.insert(QStringLiteral("subfolders"), QStringLiteral("1"));
    if (!parentFolder.isEmpty())
        params.insert(QStringLiteral("parent"), parentFolder);
    post(QStringLiteral("/projects/folders"), params, QStringLiteral("projects/folders"));
}

void BVVelora::populateRevisionsForFile(long fileID, bool thumbnails)
{
    QVariantMap params {{QStringLiteral("file_id"), number(fileID)}};
    if (thumbnails)
        params.insert(QStringLiteral("thumbs"), QStringLiteral("1"));
    post(QStringLiteral("/projects/files/revisions"), params, QStringLiteral("projects/files/revisions"));
}

void BVVelora::populateAllEventsSinceDate(const std::optional<QDateTime> &date)
{
    QVariantMap params;
    if (date && date->isValid())
        params.insert(QStringLiteral("since"),
            BVFormat::format("%0.0f", double(date->toMSecsSinceEpoch()) / 1000.0 + 1.0));
    post(QStringLiteral("/projects/events"), params, QStringLiteral("projects/events"));
}

void BVVelora::createCommentStream(const QString &title, long projectID, long departmentID,
    const QString &folder, double fps, const QString &timecode, bool dropFrame)
{
    post(QStringLiteral("/commentstream/create"),
        {
            {QStringLiteral("project_id"), number(projectID)},
            {QStringLiteral("title"), title},
            {QStringLiteral("frame_rate"), BVFormat::format("%0.2f", fps)},
            {QStringLiteral("timecode"), timecode},
            {QStringLiteral("drop_frame"), BVFormat::format("%i", int(dropFrame))},
            {QStringLiteral("dept_id"), number(departmentID)},
            {QStringLiteral("folder"), folder},
        },
        QStringLiteral("commentstream/create"));
}

void BVVelora::getFile(long fileID)
{
    post(QStringLiteral("/file"), {{QStringLiteral("file_id"), number(fileID)}}, QStringLiteral("file"));
}

void BVVelora::removeFile(long fileID, const QString &appID)
{
    post(QStringLiteral("/apps/files/remove"),
        {{QStringLiteral("file_id"), number(fileID)}, {QStringLiteral("app_id"), appID}},
        QStringLiteral("files/remove"));
}

void BVVelora::generateURLForFileWithID(long fileID)
{
    if (!validateUsernameAndPassword())
        return;
    BVLog::appendLog("file id: %i", fileID);
    post(QStringLiteral("/files/url"), {{QStringLiteral("file_id"), number(fileID)}},
        QStringLiteral("files/url"));
}

void BVVelora::createFolder(const QString &name, long projectID, long departmentID)
{
    QString folder = name;
    if (m_program == Program::Reelmark)
        folder.replace(QLatin1Char('+'), QLatin1Char(' '));
    post(QStringLiteral("/folders/create"),
        {{QStringLiteral("folder"), folder}, {QStringLiteral("dept"), number(departmentID)},
            {QStringLiteral("project_id"), number(projectID)}},
        QStringLiteral("folders/create"));
}

void BVVelora::createFolders(const QStringList &names, long projectID, long departmentID)
{
    post(QStringLiteral("/folders/create"),
        {{QStringLiteral("folder"), names.join(QLatin1Char(';'))},
            {QStringLiteral("dept"), number(departmentID)},
            {QStringLiteral("project_id"), number(projectID)}},
        QStringLiteral("folders/create"));
}

void BVVelora::uploadThumbnailImage(const QImage &image, long fileID)
{
    if (!validateUsernameAndPassword())
        return;
    const QByteArray jpeg = image.width() == 120
        ? resizeImage(image, image.width(), image.height(), "jpg", 0.8)
        : resizeImage(image, 120, 0, "jpg", 0.8);
    if (jpeg.isEmpty()) {
        postError(BVVeloraReply::errorWithMessage(0, QStringLiteral("The thumbnail could not be encoded.")),
            QStringLiteral("files/thumb"));
        return;
    }
    postURL(apiURLString() + QStringLiteral("/files/thumb"), {{QStringLiteral("file_id"), number(fileID)}},
        jpeg, QStringLiteral("image/jpeg"), BVFormat::format("%@.jpg", randomString(32)),
        QStringLiteral("files/thumb"));
}

void BVVelora::metadataForFile(long fileID)
{
    post(QStringLiteral("/files/metadata"), {{QStringLiteral("file_id"), number(fileID)}},
        QStringLiteral("files/metadata"));
}

QString BVVelora::metadataString(const QVariantMap &metadata)
{
    QStringList entries;
    for (auto it = metadata.cbegin(); it != metadata.cend(); ++it)
        entries.append(BVFormat::format("%@<=|=>%@", it.key(), parameterText(it.value())));
    return entries.join(QStringLiteral("<=|=>"));
}

void BVVelora::setMetadata(const QVariantMap &metadata, long fileID)
{
    post(QStringLiteral("/files/metadata"),
        {{QStringLiteral("file_id"), number(fileID)}, {QStringLiteral("metadata"), metadataString(metadata)}},
        QStringLiteral("files/metadata"));
}

void BVVelora::approveFile(long fileID, const QString &comment)
{
    QVariantMap params {{QStringLiteral("file_id"), number(fileID)}};
    if (!comment.isEmpty())
        params.insert(QStringLiteral("comment"), comment);
    post(QStringLiteral("/files/approve"), params, QStringLiteral("files/approve"));
}

void BVVelora::rejectFile(long fileID, const QString &comment)
{
    QVariantMap params {{QStringLiteral("file_id"), number(fileID)}};
    if (!comment.isEmpty())
        params.insert(QStringLiteral("comment"), comment);
    post(QStringLiteral("/files/reject"), params, QStringLiteral("files/reject"));
}

void BVVelora::commentsForFileID(long fileID)
{
    post(QStringLiteral("/comments"), {{QStringLiteral("file_id"), number(fileID)}},
        QStringLiteral("comments"));
}

void BVVelora::postComment(const QString &body, const QString &timecode, long fileID, int colorID)
{
    QVariantMap params {{QStringLiteral("file_id"), number(fileID)}, {QStringLiteral("body"), body},
        {QStringLiteral("timecode"), timecode}};
    if (colorID >= 0)
        params.insert(QStringLiteral("color"), colorID);
    post(QStringLiteral("/comments/create"), params, QStringLiteral("comments/create"));
}

void BVVelora::editComment(const QString &body, const QString &timecode, long commentID, int colorID)
{
    QVariantMap params {{QStringLiteral("comment_id"), number(commentID)}, {QStringLiteral("body"), body}};
    if (!timecode.isEmpty())
        params.insert(QStringLiteral("timecode"), timecode);
    if (colorID >= 0)
        params.insert(QStringLiteral("color"), colorID);
    post(QStringLiteral("/comments/edit"), params, QStringLiteral("comments/edit"));
}

void BVVelora::removeComment(long commentID)
{
    post(QStringLiteral("/comments/remove"), {{QStringLiteral("comment_id"), number(commentID)}},
        QStringLiteral("comments/remove"));
}

void BVVelora::savePlaybackPosition(double seconds, long fileID)
{
    post(QStringLiteral("/files/playbackpos"),
        {{QStringLiteral("position"), BVFormat::format("%f", seconds)},
            {QStringLiteral("file_id"), number(fileID)}},
        QStringLiteral("files/playbackpos"));
}

void BVVelora::setSyncIP(const QString &address)
{
    post(QStringLiteral("/sync/localip"), {{QStringLiteral("ip"), address}}, QStringLiteral("sync/localip"));
}

void BVVelora::getRemoteControlToken()
{
    post(QStringLiteral("/remote/token"), {}, QStringLiteral("remote/token"));
}

void BVVelora::sessionsForProject(long projectID)
{
    post(QStringLiteral("/sessions"), {{QStringLiteral("project_id"), number(projectID)}},
        QStringLiteral("sessions"));
}

void BVVelora::createSession(const QString &name, const QList<long> &participants, long projectID)
{
    QStringList ids;
    for (const long id : participants)
        ids.append(number(id));
    post(QStringLiteral("/sessions/create"),
        {{QStringLiteral("name"), name}, {QStringLiteral("participants"), ids.join(QLatin1Char(','))},
            {QStringLiteral("project_id"), number(projectID)}},
        QStringLiteral("sessions/create"));
}

void BVVelora::setFileID(long fileID, long sessionID)
{
    post(QStringLiteral("/sessions/fileid"),
        {{QStringLiteral("file_id"), number(fileID)}, {QStringLiteral("session_id"), number(sessionID)}},
        QStringLiteral("sessions/fileid"));
}

void BVVelora::removeSession(long sessionID)
{
    post(QStringLiteral("/sessions/remove"), {{QStringLiteral("id"), number(sessionID)}},
        QStringLiteral("sessions/remove"));
}

void BVVelora::usersForProject(long projectID)
{
    post(QStringLiteral("/users"), {{QStringLiteral("project_id"), number(projectID)}},
        QStringLiteral("users"));
}

void BVVelora::relationshipsForFile(long fileID, const QStringList &types)
{
    QVariantMap params {{QStringLiteral("file_id"), number(fileID)}};
    if (!types.isEmpty())
        params.insert(QStringLiteral("linktypes"), types.join(QLatin1Char(',')));
    post(QStringLiteral("/relationships"), params, QStringLiteral("relationships"));
}

void BVVelora::annotationWithID(long annotationID)
{
    post(QStringLiteral("/annotation"), {{QStringLiteral("annotation_id"), number(annotationID)}},
        QStringLiteral("annotation"));
}

void BVVelora::setAnnotation(const QString &annotation, long commentID)
{
    post(QStringLiteral("/annotation"),
        {{QStringLiteral("comment_id"), number(commentID)}, {QStringLiteral("data"), annotation}},
        QStringLiteral("annotation"));
}

void BVVelora::removeAnnotationWithID(long annotationID)
{
    post(QStringLiteral("/annotation/remove"), {{QStringLiteral("annotation_id"), number(annotationID)}},
        QStringLiteral("annotation/remove"));
}

void BVVelora::canUploadToProject(long projectID)
{
    post(QStringLiteral("/files/canupload"), {{QStringLiteral("project_id"), number(projectID)}},
        QStringLiteral("files/canupload"));
}

void BVVelora::checkUniqueProjectID(const QString &uniqueProjectID)
{
    post(QStringLiteral("/uniqueprojectid"), {{QStringLiteral("unique_project_id"), uniqueProjectID}},
        QStringLiteral("uniqueprojectid"));
}
