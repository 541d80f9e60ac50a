#pragma once

#include "export/BVAVExport.h"
#include "export/BVActivityItem.h"

#include <memory>

// A movie export or trim in the activity window: starts the engine and follows its progress.
class BVActivityItemExport : public BVActivityItem, public BVAVExportDelegate
{
public:
    static std::shared_ptr<BVActivityItemExport> activityItemWithAVExport(
        std::shared_ptr<BVAVExport> avExport, const QString &description);
    BVActivityItemExport(std::shared_ptr<BVAVExport> avExport, const QString &description);
    // Releasing the job cancels its engine.
    ~BVActivityItemExport() override;

    const std::shared_ptr<BVAVExport> &avExport() const { return m_avExport; }
    void start() override;
    void cancel() override;

    void avExportProgress(BVAVExport *avExport, double progress) override;
    void avExportFinished(BVAVExport *avExport) override;
    void avExportFailed(BVAVExport *avExport, const BVError &error) override;

private:
    std::shared_ptr<BVAVExport> m_avExport;
};
