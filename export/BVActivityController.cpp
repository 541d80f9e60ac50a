#include "export/BVActivityController.h"

#include "export/BVActivityWindow.h"
#include "support/BVAlert.h"
#include "support/BVMainThread.h"

BVActivityController::BVActivityController(QObject *parent)
    : QObject(parent)
{ }

BVActivityController::~BVActivityController()
{
    for (const std::shared_ptr<BVActivityItem> &item : m_items)
        item->setDelegate(nullptr);
    delete m_window;
}

void BVActivityController::addItem(std::shared_ptr<BVActivityItem> item)
{
    if (!item)
        return;
    item->setDelegate(this);
    m_items.push_back(std::move(item));
    reload();
    processNextItem();
    showActivityWindow();
}

void BVActivityController::processNextItem()
{
    for (const std::shared_ptr<BVActivityItem> &item : m_items) {
        if (item->isCancelled())
            continue;
        if (item->status() == BVActivityItem::Running)
            return; // one job at a time
        if (item->status() == BVActivityItem::Queued) {
            item->start();
            reload();
            return;
        }
    }
}

void BVActivityController::cancelItemAtRow(int row)
{
    if (row < 0 || size_t(row) >= m_items.size())
        return;
    const std::shared_ptr<BVActivityItem> item = m_items[size_t(row)];
    if (item->isCancelled() || item->status() == BVActivityItem::Finished)
        return;
    item->cancel();
    processNextItem();
    reload();
}

bool BVActivityController::hasWorkingItems() const
{
    for (const std::shared_ptr<BVActivityItem> &item : m_items)
        if (!item->isCancelled()
            && (item->status() == BVActivityItem::Queued || item->status() == BVActivityItem::Running))
            return true;
    return false;
}

bool BVActivityController::applicationShouldTerminate(QWidget *parent)
{
    if (!hasWorkingItems())
        return true;
    showActivityWindow();
    const int answer = BVAlert::alertSheetWithMessageText(
        QStringLiteral("Tasks are still processing. Are you sure you wish to quit?"), QStringLiteral("Quit"),
        QStringLiteral("Cancel"), QString(), QStringLiteral("This will cancel all tasks."), parent, true);
    if (answer != 1)
        return false;
    // Cancelled exports remove their partial files.
    for (const std::shared_ptr<BVActivityItem> &item : m_items)
        if (!item->isCancelled() && item->status() != BVActivityItem::Finished)
            item->cancel();
    return true;
}

BVActivityWindow *BVActivityController::window()
{
    if (!m_window)
        m_window = new BVActivityWindow(this);
    return m_window;
}

void BVActivityController::showActivityWindow()
{
    BVActivityWindow *activity = window();
    activity->show();
    activity->raise();
    activity->activateWindow();
}

void BVActivityController::toggleActivityWindow()
{
    if (m_window && m_window->isVisible())
        m_window->hide();
    else
        showActivityWindow();
}

void BVActivityController::activityProgress(double, BVActivityItem *)
{
    reload();
}

void BVActivityController::activityStatusChanged(BVActivityItem *item)
{
    reload();
    if (item->status() != BVActivityItem::Running)
        processNextItem();
}

void BVActivityController::activityNotification(const QString &title, const QString &description)
{
    if (m_notifier)
        m_notifier(title, description);
}

void BVActivityController::activityFileCached(qlonglong fileID, const QString &path)
{
    if (m_cacheHandler)
        m_cacheHandler(fileID, path);
}

void BVActivityController::reload()
{
    if (BVMainThread::isMainThread()) {
        Q_EMIT changed();
        return;
    }
    QPointer<BVActivityController> self(this);
    BVMainThread::async([self] {
        if (self)
            Q_EMIT self->changed();
    });
}
