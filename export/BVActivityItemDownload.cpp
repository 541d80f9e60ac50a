#include "export/BVActivityItemDownload.h"

#include "net/BVURLDownload.h"
#include "support/BVLog.h"

#include <QFileInfo>

std::shared_ptr<BVActivityItemDownload> BVActivityItemDownload::activityItemWithDownloadURL(
    const QUrl &url, const QString &destination, const QString &description)
{
    return std::make_shared<BVActivityItemDownload>(url, destination, description);
}

BVActivityItemDownload::BVActivityItemDownload(QUrl url, QString destination, const QString &description)
    : BVActivityItem(description)
    , m_url(std::move(url))
    , m_destinationFile(std::move(destination))
{ }

BVActivityItemDownload::~BVActivityItemDownload() = default;

void BVActivityItemDownload::setClock(BVTimeEstimate::Clock clock)
{
    m_clock = clock;
    timeEstimate().setClock(std::move(clock));
}

QString BVActivityItemDownload::destinationName() const
{
    return QFileInfo(m_destinationFile).completeBaseName();
}

void BVActivityItemDownload::start()
{
    BVActivityItem::start();
    BVURLDownload::Callbacks callbacks;
    callbacks.response = [this](qint64 expected) { didReceiveResponse(expected); };
    callbacks.data = [this](qint64 bytes) { didReceiveData(bytes); };
    callbacks.completion = [this] { downloadFinished(); };
    callbacks.failure = [this](const QString &description, bool created) { didFail(description, created); };
    m_download = std::make_unique<BVURLDownload>(m_url, m_destinationFile, std::move(callbacks));
    m_download->setTimeOutSeconds(timeOutSeconds);
    BVLog::appendLog("Downloading %@ to %@", m_url.toString(), m_destinationFile);
    m_download->start();
}

void BVActivityItemDownload::cancel()
{
    BVActivityItem::cancel();
    if (m_download)
        m_download->cancel();
}

void BVActivityItemDownload::didReceiveResponse(qint64 expectedLength)
{
    // A fresh estimate over the expected bytes, started now; without a length it has no usable
    // total and reads "Unknown", and the bar stays busy.
    BVTimeEstimate estimate = BVTimeEstimate::timeEstimateWithTotal(
        expectedLength > 0 ? std::optional<double>(double(expectedLength)) : std::nullopt);
    estimate.showCalculatingTimeMessage = false;
    if (m_clock)
        estimate.setClock(m_clock);
    estimate.start();
    timeEstimate() = estimate;
    setProgress(0);
    if (expectedLength > 0) {
        setProgressMaximum(double(expectedLength));
        setIndeterminate(false);
    }
    if (delegate())
        delegate()->activityProgress(0, this);
}

void BVActivityItemDownload::didReceiveData(qint64 bytes)
{
    setProgress(progress() + double(bytes));
    timeEstimate().setCurrentValue(progress());
    if (delegate())
        delegate()->activityProgress(progress(), this);
}

void BVActivityItemDownload::downloadFinished()
{
    setStatus(Finished);
    if (!isCancelled())
        notify(QStringLiteral("Download complete"), destinationName());
}

void BVActivityItemDownload::didFail(const QString &description, bool created)
{
    setStatus(Failed);
    BVLog::appendLog("Download of %@ failed: %@", m_url.toString(), description);
    if (!isCancelled())
        notify(QStringLiteral("Download failed"), created ? description : destinationName());
}
