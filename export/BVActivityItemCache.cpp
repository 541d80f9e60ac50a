#include "export/BVActivityItemCache.h"

std::shared_ptr<BVActivityItemCache> BVActivityItemCache::activityItemWithCacheURL(
    const QUrl &url, const QString &destination, qlonglong fileID, const QString &description)
{
    return std::make_shared<BVActivityItemCache>(url, destination, fileID, description);
}

BVActivityItemCache::BVActivityItemCache(
    QUrl url, QString destination, qlonglong fileID, const QString &description)
    : BVActivityItemDownload(std::move(url), std::move(destination), description)
    , m_veloFileID(fileID)
{ }

// No "Download complete": the documents showing the file say "Cache complete" instead.
void BVActivityItemCache::downloadFinished()
{
    setStatus(Finished);
    if (!isCancelled() && delegate())
        delegate()->activityFileCached(m_veloFileID, destinationFile());
}
