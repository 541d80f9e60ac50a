#pragma once

#include "export/BVActivityItem.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <vector>

class BVActivityWindow;
class QWidget;

// The application's queue of long jobs (exports, trims, downloads, caching): one runs at a time,
// in the order added; finished, failed and cancelled jobs stay listed. Owned by the application
// controller. Main thread; the window observes it through changed().
class BVActivityController : public QObject, public BVActivityItemDelegate
{
    Q_OBJECT
public:
    explicit BVActivityController(QObject *parent = nullptr);
    ~BVActivityController() override;

    const std::vector<std::shared_ptr<BVActivityItem>> &items() const { return m_items; }

    // Makes itself the item's delegate, appends it, starts the next job if none runs and shows the window.
    void addItem(std::shared_ptr<BVActivityItem> item);
    // Starts the first queued job, unless one is running.
    void processNextItem();
    // Cancels the job of a row (the cancel column), then moves the queue on.
    void cancelItemAtRow(int row);
    // Some job is not cancelled and queued or running: quitting needs a confirmation.
    bool hasWorkingItems() const;
    // Asks "Tasks are still processing. Are you sure you wish to quit?" when a job still works
    // (showing the window first); true when the application may quit. Cancels every job then.
    bool applicationShouldTerminate(QWidget *parent = nullptr);

    // The window, made on first use.
    BVActivityWindow *window();
    void showActivityWindow();
    void toggleActivityWindow();
    // Where "Export complete" and the other notifications go (the log only until set).
    void setNotifier(std::function<void(const QString &title, const QString &description)> notifier)
    {
        m_notifier = std::move(notifier);
    }

    // What happens when a cloud file has been cached: the application switches the documents that
    // show it to the local copy (nothing until set).
    void setCacheHandler(std::function<void(qlonglong fileID, const QString &path)> handler)
    {
        m_cacheHandler = std::move(handler);
    }

    void activityProgress(double progress, BVActivityItem *item) override;
    void activityStatusChanged(BVActivityItem *item) override;
    void activityNotification(const QString &title, const QString &description) override;
    void activityFileCached(qlonglong fileID, const QString &path) override;

Q_SIGNALS:
    // The rows changed (a job added, its status or its progress).
    void changed();

private:
    void reload();

    std::vector<std::shared_ptr<BVActivityItem>> m_items;
    QPointer<BVActivityWindow> m_window;
    std::function<void(const QString &, const QString &)> m_notifier;
    std::function<void(qlonglong, const QString &)> m_cacheHandler;
};
