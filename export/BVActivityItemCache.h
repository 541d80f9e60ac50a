#pragma once

#include "export/BVActivityItemDownload.h"

// A download into the local file cache of a cloud file: when it has arrived the documents that
// show the file switch to the local copy (through the controller, which knows no documents
// either: the application hands it the way to them).
class BVActivityItemCache : public BVActivityItemDownload
{
public:
    static std::shared_ptr<BVActivityItemCache> activityItemWithCacheURL(
        const QUrl &url, const QString &destination, qlonglong fileID, const QString &description);
    BVActivityItemCache(QUrl url, QString destination, qlonglong fileID, const QString &description);

    qlonglong veloFileID() const { return m_veloFileID; }

protected:
    void downloadFinished() override;

private:
    qlonglong m_veloFileID;
};
