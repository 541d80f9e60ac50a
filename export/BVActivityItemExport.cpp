#include "export/BVActivityItemExport.h"

#include <QFileInfo>

std::shared_ptr<BVActivityItemExport> BVActivityItemExport::activityItemWithAVExport(
    std::shared_ptr<BVAVExport> avExport, const QString &description)
{
    return std::make_shared<BVActivityItemExport>(std::move(avExport), description);
}

BVActivityItemExport::BVActivityItemExport(std::shared_ptr<BVAVExport> avExport, const QString &description)
    : BVActivityItem(description)
    , m_avExport(std::move(avExport))
{
    if (m_avExport)
        m_avExport->setDelegate(this);
}

BVActivityItemExport::~BVActivityItemExport()
{
    if (m_avExport) {
        m_avExport->setDelegate(nullptr);
        if (status() == Running)
            m_avExport->cancel();
    }
}

void BVActivityItemExport::start()
{
    BVActivityItem::start();
    if (m_avExport)
        m_avExport->startExport();
}

void BVActivityItemExport::cancel()
{
    BVActivityItem::cancel();
    if (m_avExport)
        m_avExport->cancel();
}

// The engine calls on the main thread, the latest progress only.
void BVActivityItemExport::avExportProgress(BVAVExport *, double progress)
{
    setIndeterminate(false);
    setProgress(progress);
    timeEstimate().setCurrentValue(progress);
    if (delegate())
        delegate()->activityProgress(progress, this);
}

void BVActivityItemExport::avExportFinished(BVAVExport *avExport)
{
    setStatus(Finished);
    if (!isCancelled())
        notify(QStringLiteral("Export complete"), QFileInfo(avExport->outputURL).fileName());
}

void BVActivityItemExport::avExportFailed(BVAVExport *avExport, const BVError &)
{
    setStatus(Failed);
    if (!isCancelled())
        notify(QStringLiteral("Export failed"), QFileInfo(avExport->outputURL).fileName());
}
