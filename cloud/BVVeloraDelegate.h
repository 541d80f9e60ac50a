#pragma once

#include "support/BVError.h"

#include <QVariant>
#include <QVariantMap>

class BVVelora;

// What a service client tells its owner, on the main thread. Every method does nothing by default,
// so an owner implements only the callbacks of the operations it uses. A success callback gets the
// parsed reply (a map or a list; an invalid QVariant when the reply carried nothing readable, to be
// treated as empty); a failure callback gets the error, whose message is under "error" of its
// details. The comment above each pair names the replies that reach it.
class BVVeloraDelegate
{
public:
    virtual ~BVVeloraDelegate() = default;

    // Credentials were missing or empty when an operation was called (code 403).
    virtual void veloraAuthorizationFailed(const BVError &error) { (void)error; }
    // The client's queue has just become empty. Called on the queue's worker thread.
    virtual void veloraProcessingFinished(BVVelora *velora) { (void)velora; }
    // Bytes of an upload were sent; upload is that upload's entry (its parameters and "file").
    virtual void veloraDidUploadBytes(BVVelora *velora, qint64 bytes, const QVariantMap &upload)
    {
        (void)velora;
        (void)bytes;
        (void)upload;
    }

    // "authenticate"
    virtual void veloraAuthorizationSuccessful(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraAuthorizationFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "projects"
    virtual void veloraProjectsReceived(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraPopulateProjectsFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "projects/create"
    virtual void veloraProjectCreated(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraCreateProjectFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "projects/departments"
    virtual void veloraDepartmentsReceived(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraPopulateDepartmentsFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "projects/files, projects/files/video, projects/files/audiovideo"
    virtual void veloraFilesReceived(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraPopulateFilesFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "projects/folders"
    virtual void veloraFoldersReceived(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraPopulateFoldersFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "projects/files/revisions"
    virtual void veloraRevisionsReceived(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraPopulateRevisionsFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "projects/events"
    virtual void veloraEventsReceived(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraPopulateEventsFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "commentstream/create"
    virtual void veloraCommentStreamCreated(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraCreateCommentStreamFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "file"
    virtual void veloraFileReceived(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraFileFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "files/remove"
    virtual void veloraFileRemoved(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraFileRemoveFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "files/url"
    virtual void veloraFileURLReceived(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraFileURLFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "folders/create"
    virtual void veloraFoldersCreated(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraCreateFoldersFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "files/thumb"
    virtual void veloraThumbnailUploadSuccessful(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraThumbnailUploadFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "files/metadata"
    virtual void veloraMetadataReceived(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraMetadataFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "files/approve"
    virtual void veloraFileApproved(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraFileApprovalFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "files/reject"
    virtual void veloraFileRejected(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraFileRejectionFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "comments"
    virtual void veloraCommentsReceived(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraCommentsFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "comments/create"
    virtual void veloraCommentCreated(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraCreateCommentFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "comments/edit"
    virtual void veloraCommentEdited(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraEditCommentFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "comments/remove"
    virtual void veloraCommentRemoved(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraRemoveCommentFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "files/playbackpos"
    virtual void veloraPlaybackPositionUpdated(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraPlaybackPositionFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "sync/localip"
    virtual void veloraSyncIPSet(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraSetSyncIPFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "remote/token"
    virtual void veloraRemoteTokenReceived(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraRemoteTokenFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "sessions"
    virtual void veloraSessionsReceived(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraSessionsFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "sessions/create"
    virtual void veloraSessionCreated(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraSessionCreationFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "sessions/fileid"
    virtual void veloraSessionFileIDSet(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraSessionFileIDFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "sessions/remove"
    virtual void veloraSessionRemoved(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraSessionRemovalFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "users"
    virtual void veloraUsersReceived(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraUsersFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "relationships"
    virtual void veloraRelationshipsReceived(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraRelationshipsFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "annotation"
    virtual void veloraAnnotationReceived(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraAnnotationFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "annotation/remove"
    virtual void veloraAnnotationRemoved(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraRemoveAnnotationFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "files/canupload"
    virtual void veloraCanUpload(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraCannotUploadWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "uniqueprojectid"
    virtual void veloraUniqueProjectID(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraUniqueProjectIDFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }

    // "files/upload"
    virtual void veloraFileUploaded(BVVelora *velora, const QVariant &result)
    {
        (void)velora;
        (void)result;
    }
    virtual void veloraUploadFileFailedWithError(BVVelora *velora, const BVError &error)
    {
        (void)velora;
        (void)error;
    }
};
