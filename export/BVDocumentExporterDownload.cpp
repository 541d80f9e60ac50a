// The document's download and file cache commands: both queue a job in the activity window.
#include "export/BVDocumentExporter.h"

#include "export/BVActivityItemCache.h"
#include "export/BVActivityItemDownload.h"
#include "platform/defaults/BVPropertyList.h"
#include "player/document/BVDocument.h"
#include "player/media/BVAVAsset.h"
#include "support/BVLog.h"
#include "support/BVMainThread.h"
#include "support/BVWorkQueue.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

namespace {

QString timecodeListPath(const QString &folder)
{
    return folder + QStringLiteral("/timecode.plist");
}

} // namespace

QString BVDocumentExporter::proposedDownloadName(const QString &title, const QUrl &url)
{
    QString name = title.isEmpty() ? url.fileName() : title;
    const QString extension = QFileInfo(url.path()).suffix();
    if (QFileInfo(name).suffix().isEmpty() && !extension.isEmpty())
        name += u'.' + extension;
    return name;
}

QString BVDocumentExporter::cacheDestination(
    const QString &folder, qlonglong fileID, const QUrl &url, bool audioOnly)
{
    QString extension = QFileInfo(url.path()).suffix();
    if (extension.isEmpty() || extension.compare(QLatin1String("php"), Qt::CaseInsensitive) == 0)
        extension = audioOnly ? QStringLiteral("wav") : QStringLiteral("mp4");
    return folder + QStringLiteral("/%1.%2").arg(fileID).arg(extension);
}

void BVDocumentExporter::downloadFile()
{
    if (m_cleanedUp || !dynamic_cast<BVAVAsset *>(m_document.mediaObject()))
        return;
    m_document.pause();
    const QUrl url = m_document.fileURL();
    const QString name = proposedDownloadName(m_document.cloudReview()->fileTitle(), url);

    QFileDialog dialog(window(), QString(), QString());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.selectFile(name);
    const bool accepted = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
    if (!accepted || m_cleanedUp)
        return;
    const QString destination = dialog.selectedFiles().constFirst();
    if (!m_activity) {
        BVLog::appendLog("No activity window to download %@ in", url.toString());
        return;
    }
    m_activity->addItem(BVActivityItemDownload::activityItemWithDownloadURL(
        url, destination, QStringLiteral("Download: %1").arg(QFileInfo(destination).fileName())));
}

void BVDocumentExporter::cacheVeloFile()
{
    if (m_cleanedUp || !m_document.isVelo() || !m_document.mediaObject())
        return;
    BVDocumentCloudReview *cloud = m_document.cloudReview();
    const QString folder = cloud->fileCacheFolder();
    if (folder.isEmpty()) {
        BVLog::appendLog("No file cache for %@", m_document.fileURL().toString());
        return;
    }
    if (cloud->veloIsCached()) {
        discardCachedFile();
        return;
    }
    if (!m_activity) {
        BVLog::appendLog("No activity window to cache %@ in", m_document.fileURL().toString());
        return;
    }
    const QUrl url = m_document.fileURL();
    const qlonglong fileID = m_document.veloFileID();
    const QString destination
        = cacheDestination(folder, fileID, url, m_document.mediaObject()->isAudioOnly());
    const QString title = cloud->fileTitle().isEmpty() ? url.fileName() : cloud->fileTitle();
    const QString timecodeStart = m_document.mediaObject()->timecodeStart();
    // The folder and the start timecode are written off the GUI thread; the job is queued after.
    const BVLifetime::Token alive = m_lifetime.token();
    QPointer<BVActivityController> activity = m_activity;
    m_queue->async([=] {
        QDir().mkpath(folder);
        if (!timecodeStart.isEmpty()) {
            QVariantMap timecodes = BVPropertyList::readDictionary(timecodeListPath(folder));
            timecodes.insert(QString::number(fileID), timecodeStart);
            BVPropertyList::write(timecodes, timecodeListPath(folder));
        }
        BVMainThread::async([=] {
            if (alive.expired() || !activity)
                return;
            activity->addItem(BVActivityItemCache::activityItemWithCacheURL(
                url, destination, fileID, QStringLiteral("Cache: %1").arg(title)));
        });
    });
}

// Back to streaming: the copy and its start timecode go, and the service is asked for a new address,
// which is played from the same time.
void BVDocumentExporter::discardCachedFile()
{
    BVDocumentCloudReview *cloud = m_document.cloudReview();
    const QString folder = cloud->fileCacheFolder();
    const QString cached = m_document.fileURL().toLocalFile();
    const QString fileID = QString::number(m_document.veloFileID());
    m_queue->async([=] {
        if (!cached.isEmpty() && QFileInfo(cached).absolutePath() == QFileInfo(folder).absoluteFilePath())
            QFile::remove(cached);
        QVariantMap timecodes = BVPropertyList::readDictionary(timecodeListPath(folder));
        if (timecodes.remove(fileID) > 0)
            BVPropertyList::write(timecodes, timecodeListPath(folder));
    });
    if (m_document.mediaObject()) {
        m_document.mediaObject()->setShouldPlayWhenLoaded(m_document.mediaObject()->isPlaying());
        m_document.setSeekOnLoad(m_document.currentTime());
    }
    cloud->setVeloIsCached(false);
    const QString title = cloud->fileTitle().isEmpty() ? m_document.displayName() : cloud->fileTitle();
    m_document.postUserNotification(QStringLiteral("Reloading from the cloud..."), title);
    cloud->generateURLForFile();
    Q_EMIT m_document.titleChanged();
}
