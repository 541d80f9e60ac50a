#include "cloud/BVVeloraRouting.h"

#include "cloud/BVVeloraDelegate.h"

#include <vector>

namespace {

struct Route
{
    QString context;
    bool successByPrefix; // the context only has to begin with it
    bool failureByPrefix;
    void (BVVeloraDelegate::*success)(BVVelora *, const QVariant &);
    void (BVVeloraDelegate::*failure)(BVVelora *, const BVError &);
};

// In order of testing: "projects/files/revisions" comes before "projects/files", whose prefix
// would take it otherwise ("projects/files/video" and "projects/files/audiovideo" go there).
const std::vector<Route> &routes()
{
    static const std::vector<Route> table = {
        {QStringLiteral("projects/files/revisions"), false, false, &BVVeloraDelegate::veloraRevisionsReceived,
            &BVVeloraDelegate::veloraPopulateRevisionsFailedWithError},
        {QStringLiteral("authenticate"), false, false, &BVVeloraDelegate::veloraAuthorizationSuccessful,
            &BVVeloraDelegate::veloraAuthorizationFailedWithError},
        {QStringLiteral("projects"), false, false, &BVVeloraDelegate::veloraProjectsReceived,
            &BVVeloraDelegate::veloraPopulateProjectsFailedWithError},
        {QStringLiteral("projects/create"), false, false, &BVVeloraDelegate::veloraProjectCreated,
            &BVVeloraDelegate::veloraCreateProjectFailedWithError},
        {QStringLiteral("projects/departments"), true, false, &BVVeloraDelegate::veloraDepartmentsReceived,
            &BVVeloraDelegate::veloraPopulateDepartmentsFailedWithError},
        {QStringLiteral("projects/files"), true, true, &BVVeloraDelegate::veloraFilesReceived,
            &BVVeloraDelegate::veloraPopulateFilesFailedWithError},
        {QStringLiteral("projects/folders"), true, true, &BVVeloraDelegate::veloraFoldersReceived,
            &BVVeloraDelegate::veloraPopulateFoldersFailedWithError},
        {QStringLiteral("projects/events"), true, true, &BVVeloraDelegate::veloraEventsReceived,
            &BVVeloraDelegate::veloraPopulateEventsFailedWithError},
        {QStringLiteral("commentstream/create"), false, false, &BVVeloraDelegate::veloraCommentStreamCreated,
            &BVVeloraDelegate::veloraCreateCommentStreamFailedWithError},
        {QStringLiteral("file"), false, false, &BVVeloraDelegate::veloraFileReceived,
            &BVVeloraDelegate::veloraFileFailedWithError},
        {QStringLiteral("files/remove"), false, false, &BVVeloraDelegate::veloraFileRemoved,
            &BVVeloraDelegate::veloraFileRemoveFailedWithError},
        {QStringLiteral("files/url"), false, false, &BVVeloraDelegate::veloraFileURLReceived,
            &BVVeloraDelegate::veloraFileURLFailedWithError},
        {QStringLiteral("folders/create"), false, false, &BVVeloraDelegate::veloraFoldersCreated,
            &BVVeloraDelegate::veloraCreateFoldersFailedWithError},
        {QStringLiteral("files/thumb"), false, false, &BVVeloraDelegate::veloraThumbnailUploadSuccessful,
            &BVVeloraDelegate::veloraThumbnailUploadFailedWithError},
        {QStringLiteral("files/metadata"), false, false, &BVVeloraDelegate::veloraMetadataReceived,
            &BVVeloraDelegate::veloraMetadataFailedWithError},
        {QStringLiteral("files/approve"), false, false, &BVVeloraDelegate::veloraFileApproved,
            &BVVeloraDelegate::veloraFileApprovalFailedWithError},
        {QStringLiteral("files/reject"), false, false, &BVVeloraDelegate::veloraFileRejected,
            &BVVeloraDelegate::veloraFileRejectionFailedWithError},
        {QStringLiteral("comments"), false, false, &BVVeloraDelegate::veloraCommentsReceived,
            &BVVeloraDelegate::veloraCommentsFailedWithError},
        {QStringLiteral("comments/create"), false, false, &BVVeloraDelegate::veloraCommentCreated,
            &BVVeloraDelegate::veloraCreateCommentFailedWithError},
        {QStringLiteral("comments/edit"), false, false, &BVVeloraDelegate::veloraCommentEdited,
            &BVVeloraDelegate::veloraEditCommentFailedWithError},
        {QStringLiteral("comments/remove"), false, false, &BVVeloraDelegate::veloraCommentRemoved,
            &BVVeloraDelegate::veloraRemoveCommentFailedWithError},
        {QStringLiteral("files/playbackpos"), false, false, &BVVeloraDelegate::veloraPlaybackPositionUpdated,
            &BVVeloraDelegate::veloraPlaybackPositionFailedWithError},
        {QStringLiteral("sync/localip"), false, false, &BVVeloraDelegate::veloraSyncIPSet,
            &BVVeloraDelegate::veloraSetSyncIPFailedWithError},
        {QStringLiteral("remote/token"), false, false, &BVVeloraDelegate::veloraRemoteTokenReceived,
            &BVVeloraDelegate::veloraRemoteTokenFailedWithError},
        {QStringLiteral("sessions"), false, false, &BVVeloraDelegate::veloraSessionsReceived,
            &BVVeloraDelegate::veloraSessionsFailedWithError},
        {QStringLiteral("sessions/create"), false, false, &BVVeloraDelegate::veloraSessionCreated,
            &BVVeloraDelegate::veloraSessionCreationFailedWithError},
        {QStringLiteral("sessions/fileid"), false, false, &BVVeloraDelegate::veloraSessionFileIDSet,
            &BVVeloraDelegate::veloraSessionFileIDFailedWithError},
        {QStringLiteral("sessions/remove"), false, false, &BVVeloraDelegate::veloraSessionRemoved,
            &BVVeloraDelegate::veloraSessionRemovalFailedWithError},
        {QStringLiteral("users"), false, false, &BVVeloraDelegate::veloraUsersReceived,
            &BVVeloraDelegate::veloraUsersFailedWithError},
        {QStringLiteral("relationships"), false, false, &BVVeloraDelegate::veloraRelationshipsReceived,
            &BVVeloraDelegate::veloraRelationshipsFailedWithError},
        {QStringLiteral("annotation"), false, false, &BVVeloraDelegate::veloraAnnotationReceived,
            &BVVeloraDelegate::veloraAnnotationFailedWithError},
        {QStringLiteral("annotation/remove"), false, false, &BVVeloraDelegate::veloraAnnotationRemoved,
            &BVVeloraDelegate::veloraRemoveAnnotationFailedWithError},
        {QStringLiteral("files/canupload"), false, false, &BVVeloraDelegate::veloraCanUpload,
            &BVVeloraDelegate::veloraCannotUploadWithError},
        {QStringLiteral("uniqueprojectid"), false, false, &BVVeloraDelegate::veloraUniqueProjectID,
            &BVVeloraDelegate::veloraUniqueProjectIDFailedWithError},
        {QStringLiteral("files/upload"), false, false, &BVVeloraDelegate::veloraFileUploaded,
            &BVVeloraDelegate::veloraUploadFileFailedWithError},
    };
    return table;
}

const Route *routeFor(const QString &context, bool success)
{
    for (const Route &route : routes()) {
        const bool prefix = success ? route.successByPrefix : route.failureByPrefix;
        if (prefix ? context.startsWith(route.context) : context == route.context)
            return &route;
    }
    return nullptr;
}

} // namespace

bool BVVeloraRouting::deliverSuccess(
    BVVeloraDelegate &delegate, BVVelora *velora, const QString &context, const QVariant &result)
{
    const Route *route = routeFor(context, true);
    if (!route)
        return false;
    (delegate.*(route->success))(velora, result);
    return true;
}

bool BVVeloraRouting::deliverFailure(
    BVVeloraDelegate &delegate, BVVelora *velora, const QString &context, const BVError &error)
{
    const Route *route = routeFor(context, false);
    if (!route)
        return false;
    (delegate.*(route->failure))(velora, error);
    return true;
}
