#include "ExportTestSupport.h"

#include "common/BVTestSupport.h"
#include "export/BVActivityController.h"
#include "export/BVActivityItemExport.h"
#include "export/BVActivityWindow.h"
#include "platform/media/MediaAsset.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

// A job the test finishes by hand.
class ManualItem : public BVActivityItem
{
public:
    using BVActivityItem::BVActivityItem;
    void start() override
    {
        BVActivityItem::start();
        ++starts;
    }
    void end(int status) { setStatus(status); }
    int starts = 0;
};

QString statusCell(BVActivityController &controller, int row)
{
    BVActivityTableModel *model = controller.window()->model();
    return model->data(model->index(row, BVActivityTableModel::Status), Qt::DisplayRole).toString();
}

} // namespace

TEST(ActivityController, OneJobRunsAtATimeAndTheNextStartsByItself)
{
    BVActivityController controller;
    auto first = std::make_shared<ManualItem>(QStringLiteral("Export: one"));
    auto second = std::make_shared<ManualItem>(QStringLiteral("Export: two"));
    auto third = std::make_shared<ManualItem>(QStringLiteral("Export: three"));
    controller.addItem(first);
    controller.addItem(second);
    controller.addItem(third);
    EXPECT_TRUE(controller.window()->isVisible());
    EXPECT_EQ(first->status(), BVActivityItem::Running);
    EXPECT_EQ(second->starts, 0);
    EXPECT_EQ(statusCell(controller, 1), QStringLiteral("Queued"));
    EXPECT_EQ(statusCell(controller, 0), QString()); // the estimate's text, empty for the first 4 s

    first->end(BVActivityItem::Failed);
    EXPECT_EQ(statusCell(controller, 0), QStringLiteral("Error"));
    EXPECT_EQ(second->status(), BVActivityItem::Running);
    EXPECT_EQ(statusCell(controller, 2), QStringLiteral("Queued"));
    second->end(BVActivityItem::Finished);
    EXPECT_EQ(third->status(), BVActivityItem::Running);
    EXPECT_EQ(statusCell(controller, 1), QString());
    third->end(BVActivityItem::Finished);
    EXPECT_EQ(first->starts + second->starts + third->starts, 3);
    EXPECT_EQ(controller.items().size(), 3u); // finished and failed jobs stay listed
    EXPECT_EQ(controller.window()->model()->rowCount(), 3);
}

TEST(ActivityController, CancelledQueuedJobIsSkipped)
{
    BVActivityController controller;
    auto running = std::make_shared<ManualItem>(QStringLiteral("a"));
    auto skipped = std::make_shared<ManualItem>(QStringLiteral("b"));
    auto next = std::make_shared<ManualItem>(QStringLiteral("c"));
    controller.addItem(running);
    controller.addItem(skipped);
    controller.addItem(next);
    controller.cancelItemAtRow(1);
    EXPECT_EQ(statusCell(controller, 1), QStringLiteral("Cancelled"));
    EXPECT_EQ(next->starts, 0);
    EXPECT_TRUE(controller.hasWorkingItems());
    running->end(BVActivityItem::Finished);
    EXPECT_EQ(skipped->starts, 0);
    EXPECT_EQ(next->status(), BVActivityItem::Running);
    next->end(BVActivityItem::Finished);
    EXPECT_FALSE(controller.hasWorkingItems()); // only finished and cancelled jobs: quit at once
    EXPECT_TRUE(controller.applicationShouldTerminate());
}

TEST(ActivityController, ExportJobsReportProgressAndTheirEnd)
{
    BVActivityController controller;
    QStringList notifications;
    controller.setNotifier([&](const QString &title, const QString &description) {
        notifications << title + QStringLiteral(": ") + description;
    });
    const QString source = ExportTest::makeClip({});
    const QString folder = BVTest::makeTempFolder(QStringLiteral("activity"));
    std::vector<std::shared_ptr<BVActivityItemExport>> items;
    for (const char *name : {"first.mov", "second.mov"}) {
        auto engine = BVAVExport::create();
        engine->asset = MediaAsset::assetWithURL(QUrl::fromLocalFile(source));
        engine->outputURL = folder + u'/' + QLatin1String(name);
        items.push_back(BVActivityItemExport::activityItemWithAVExport(
            engine, QStringLiteral("Export: %1").arg(QFileInfo(engine->outputURL).completeBaseName())));
        controller.addItem(items.back());
    }
    EXPECT_TRUE(items[0]->isIndeterminate());
    EXPECT_EQ(statusCell(controller, 1), QStringLiteral("Queued"));
    ASSERT_TRUE(BVTest::waitFor(
        [&] { return items[0]->status() == BVActivityItem::Finished; }, std::chrono::seconds(60)));
    EXPECT_FALSE(items[0]->isIndeterminate());
    EXPECT_GT(items[0]->progress(), 0.9);
    ASSERT_TRUE(BVTest::waitFor(
        [&] { return items[1]->status() == BVActivityItem::Finished; }, std::chrono::seconds(60)));
    EXPECT_EQ(notifications,
        QStringList(
            {QStringLiteral("Export complete: first.mov"), QStringLiteral("Export complete: second.mov")}));
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/second.mov")));
}

TEST(ActivityController, CancellingARunningExportRemovesItsFileWithoutANotification)
{
    BVActivityController controller;
    QStringList notifications;
    controller.setNotifier([&](const QString &title, const QString &) { notifications << title; });
    auto engine = BVAVExport::create();
    engine->asset = MediaAsset::assetWithURL(
        QUrl::fromLocalFile(ExportTest::makeClip({.seconds = 10, .size = QStringLiteral("320x180")})));
    engine->outputURL = BVTest::makeTempFolder(QStringLiteral("cancel")) + QStringLiteral("/c.mov");
    engine->videoCodec = MediaVideoCodec::proRes422HQ;
    auto item = BVActivityItemExport::activityItemWithAVExport(engine, QStringLiteral("Export: c"));
    auto queued = std::make_shared<ManualItem>(QStringLiteral("after"));
    controller.addItem(item);
    controller.addItem(queued);
    ASSERT_TRUE(BVTest::waitFor([&] { return !item->isIndeterminate(); }, std::chrono::seconds(30)));
    controller.cancelItemAtRow(0);
    EXPECT_EQ(statusCell(controller, 0), QStringLiteral("Cancelled"));
    // A cancelled job no longer holds the queue.
    EXPECT_EQ(queued->status(), BVActivityItem::Running);
    ASSERT_TRUE(BVTest::waitFor(
        [&] { return item->status() == BVActivityItem::Finished; }, std::chrono::seconds(30)));
    EXPECT_TRUE(notifications.isEmpty());
    EXPECT_FALSE(QFile::exists(engine->outputURL));
}

TEST(ActivityController, ProgressCellGeometry)
{
    EXPECT_EQ(BVProgressIndicatorCell::barRect(QRect(10, 20, 300, 40), false), QRect(10, 19, 230, 38));
    EXPECT_EQ(BVProgressIndicatorCell::barRect(QRect(10, 20, 300, 40), true), QRect(10, 19, 230, 24));
    EXPECT_EQ(BVActivityTableModel::identifier(BVActivityTableModel::Status), QStringLiteral("status"));
    EXPECT_EQ(BVActivityTableModel::identifier(BVActivityTableModel::Cancel), QStringLiteral("cancel"));
}
