#pragma once

#include "export/BVActivityItem.h"

#include <QUrl>

#include <memory>

class BVURLDownload;

// A download of an address to a file in the activity window. The bar counts bytes once the server
// has said how many to expect; the notification names the file ("Download complete") or the error
// ("Download failed"). Cancelling stops the transfer and leaves the destination as it was.
class BVActivityItemDownload : public BVActivityItem
{
public:
    static std::shared_ptr<BVActivityItemDownload> activityItemWithDownloadURL(
        const QUrl &url, const QString &destination, const QString &description);
    BVActivityItemDownload(QUrl url, QString destination, const QString &description);
    ~BVActivityItemDownload() override;

    const QUrl &url() const { return m_url; }
    const QString &destinationFile() const { return m_destinationFile; }
    // Where the estimates made for the transfer read "now" (the system clock unless set).
    void setClock(BVTimeEstimate::Clock clock);

    void start() override;
    void cancel() override;

    // The seconds without data after which the transfer fails.
    static constexpr double timeOutSeconds = 120;

protected:
    // The file arrived: status 2 and the notification. Kinds add their own ending.
    virtual void downloadFinished();
    // The destination's file name without its extension.
    QString destinationName() const;

private:
    void didReceiveResponse(qint64 expectedLength);
    void didReceiveData(qint64 bytes);
    void didFail(const QString &description, bool created);

    QUrl m_url;
    QString m_destinationFile;
    BVTimeEstimate::Clock m_clock;
    std::unique_ptr<BVURLDownload> m_download;
};
