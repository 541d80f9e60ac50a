#pragma once

#include "cloud/BVVelora.h"
#include "cloud/BVVeloraDelegate.h"

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <ostream>

// Readable QStrings in test failures.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

// One callback the client made: its name without "velora", and what it carried.
struct VeloraCall
{
    QString name;
    QVariant result;
    BVError error;
    qint64 bytes = 0;
    QVariantMap upload;
};

// Records every callback in order (main thread).
class RecordingDelegate : public BVVeloraDelegate
{
public:
    QList<VeloraCall> calls;
    int processingFinished = 0;

    // The calls of that name (or every call when empty), oldest first.
    QList<VeloraCall> named(const QString &name) const;
    QStringList names() const;
    bool waitForCalls(int count, int milliseconds = 10000);
    const VeloraCall &last() const { return calls.last(); }

    void veloraAuthorizationFailed(const BVError &error) override
    {
        calls.append({QStringLiteral("AuthorizationFailed"), {}, error});
    }
    void veloraProcessingFinished(BVVelora *) override { ++processingFinished; }
    void veloraDidUploadBytes(BVVelora *, qint64 bytes, const QVariantMap &upload) override
    {
        calls.append({QStringLiteral("DidUploadBytes"), {}, {}, bytes, upload});
    }

#define BV_RECORD_SUCCESS(event)                                                                             \
    void velora##event(BVVelora *, const QVariant &result) override                                          \
    {                                                                                                        \
        calls.append({QStringLiteral(#event), result, {}});                                                  \
    }
#define BV_RECORD_FAILURE(event)                                                                             \
    void velora##event(BVVelora *, const BVError &error) override                                            \
    {                                                                                                        \
        calls.append({QStringLiteral(#event), {}, error});                                                   \
    }
    BV_RECORD_SUCCESS(AuthorizationSuccessful)
    BV_RECORD_SUCCESS(ProjectsReceived)
    BV_RECORD_SUCCESS(ProjectCreated)
    BV_RECORD_SUCCESS(DepartmentsReceived)
    BV_RECORD_SUCCESS(FilesReceived)
    BV_RECORD_SUCCESS(FoldersReceived)
    BV_RECORD_SUCCESS(RevisionsReceived)
    BV_RECORD_SUCCESS(EventsReceived)
    BV_RECORD_SUCCESS(CommentStreamCreated)
    BV_RECORD_SUCCESS(FileReceived)
    BV_RECORD_SUCCESS(FileRemoved)
    BV_RECORD_SUCCESS(FileURLReceived)
    BV_RECORD_SUCCESS(FoldersCreated)
    BV_RECORD_SUCCESS(ThumbnailUploadSuccessful)
    BV_RECORD_SUCCESS(MetadataReceived)
    BV_RECORD_SUCCESS(FileApproved)
    BV_RECORD_SUCCESS(FileRejected)
    BV_RECORD_SUCCESS(CommentsReceived)
    BV_RECORD_SUCCESS(CommentCreated)
    BV_RECORD_SUCCESS(CommentEdited)
    BV_RECORD_SUCCESS(CommentRemoved)
    BV_RECORD_SUCCESS(PlaybackPositionUpdated)
    BV_RECORD_SUCCESS(SyncIPSet)
    BV_RECORD_SUCCESS(RemoteTokenReceived)
    BV_RECORD_SUCCESS(SessionsReceived)
    BV_RECORD_SUCCESS(SessionCreated)
    BV_RECORD_SUCCESS(SessionFileIDSet)
    BV_RECORD_SUCCESS(SessionRemoved)
    BV_RECORD_SUCCESS(UsersReceived)
    BV_RECORD_SUCCESS(RelationshipsReceived)
    BV_RECORD_SUCCESS(AnnotationReceived)
    BV_RECORD_SUCCESS(AnnotationRemoved)
    BV_RECORD_SUCCESS(CanUpload)
    BV_RECORD_SUCCESS(UniqueProjectID)
    BV_RECORD_SUCCESS(FileUploaded)
    BV_RECORD_FAILURE(AuthorizationFailedWithError)
    BV_RECORD_FAILURE(PopulateProjectsFailedWithError)
    BV_RECORD_FAILURE(CreateProjectFailedWithError)
    BV_RECORD_FAILURE(PopulateDepartmentsFailedWithError)
    BV_RECORD_FAILURE(PopulateFilesFailedWithError)
    BV_RECORD_FAILURE(PopulateFoldersFailedWithError)
    BV_RECORD_FAILURE(PopulateRevisionsFailedWithError)
    BV_RECORD_FAILURE(PopulateEventsFailedWithError)
    BV_RECORD_FAILURE(CreateCommentStreamFailedWithError)
    BV_RECORD_FAILURE(FileFailedWithError)
    BV_RECORD_FAILURE(FileRemoveFailedWithError)
    BV_RECORD_FAILURE(FileURLFailedWithError)
    BV_RECORD_FAILURE(CreateFoldersFailedWithError)
    BV_RECORD_FAILURE(ThumbnailUploadFailedWithError)
    BV_RECORD_FAILURE(MetadataFailedWithError)
    BV_RECORD_FAILURE(FileApprovalFailedWithError)
    BV_RECORD_FAILURE(FileRejectionFailedWithError)
    BV_RECORD_FAILURE(CommentsFailedWithError)
    BV_RECORD_FAILURE(CreateCommentFailedWithError)
    BV_RECORD_FAILURE(EditCommentFailedWithError)
    BV_RECORD_FAILURE(RemoveCommentFailedWithError)
    BV_RECORD_FAILURE(PlaybackPositionFailedWithError)
    BV_RECORD_FAILURE(SetSyncIPFailedWithError)
    BV_RECORD_FAILURE(RemoteTokenFailedWithError)
    BV_RECORD_FAILURE(SessionsFailedWithError)
    BV_RECORD_FAILURE(SessionCreationFailedWithError)
    BV_RECORD_FAILURE(SessionFileIDFailedWithError)
    BV_RECORD_FAILURE(SessionRemovalFailedWithError)
    BV_RECORD_FAILURE(UsersFailedWithError)
    BV_RECORD_FAILURE(RelationshipsFailedWithError)
    BV_RECORD_FAILURE(AnnotationFailedWithError)
    BV_RECORD_FAILURE(RemoveAnnotationFailedWithError)
    BV_RECORD_FAILURE(CannotUploadWithError)
    BV_RECORD_FAILURE(UniqueProjectIDFailedWithError)
    BV_RECORD_FAILURE(UploadFileFailedWithError)
#undef BV_RECORD_SUCCESS
#undef BV_RECORD_FAILURE
};

namespace VeloraTest {

// A client of the given program that is signed in (in memory only) to the server at site.
std::unique_ptr<BVVelora> signedInClient(
    const QString &site, BVVeloraDelegate *delegate, BVVelora::Program program = BVVelora::Program::Reelmark);

// A form body as its pairs (values percent-decoded); duplicate keys keep the last.
QMap<QString, QString> formPairs(const QByteArray &body);
// The fields of a multipart body (name -> value), the file part's bytes under "file".
QMap<QString, QByteArray> multipartFields(const QByteArray &body, const QByteArray &boundary);

// The reference server, started for a test on free ports of 127.0.0.1.
class VeloraServer
{
public:
    VeloraServer();
    ~VeloraServer();
    bool start(QString *failure);
    QString siteURL() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    int port() const { return m_port; }
    int webSocketPort() const { return m_wsPort; }
    const QString &adminUser() const { return m_adminUser; }
    const QString &adminPassword() const { return m_adminPassword; }
    const QString &dataFolder() const { return m_data; }
    QString output() const { return m_output; }

private:
    QProcess m_process;
    QString m_data;
    int m_port = 0;
    int m_wsPort = 0;
    QString m_adminUser;
    QString m_adminPassword;
    QString m_output;
};

// A free TCP port of 127.0.0.1 (free when asked).
int freePort();

} // namespace VeloraTest
