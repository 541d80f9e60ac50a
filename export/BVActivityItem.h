#pragma once

#include "support/BVTimeEstimate.h"

#include <QString>

class BVActivityItem;

// What a job tells the activity controller. Main thread.
class BVActivityItemDelegate
{
public:
    virtual ~BVActivityItemDelegate() = default;
    virtual void activityProgress(double progress, BVActivityItem *item)
    {
        (void)progress;
        (void)item;
    }
    virtual void activityStatusChanged(BVActivityItem *item) { (void)item; }
    // A desktop notification ("Export complete", "Download failed" ...).
    virtual void activityNotification(const QString &title, const QString &description)
    {
        (void)title;
        (void)description;
    }
    // A cloud file arrived in the local file cache at the path.
    virtual void activityFileCached(qlonglong fileID, const QString &path)
    {
        (void)fileID;
        (void)path;
    }
};

// One long job of the activity window: queued (0), running (1), finished (2) or failed (-1);
// cancelled is a flag that may be set in any state. The kinds start and cancel their own work.
// Main thread. The window shows `progress` as the row's bar (indeterminate until the first
// progress arrives) with the estimate's text beside it.
class BVActivityItem
{
public:
    enum Status { Queued = 0, Running = 1, Finished = 2, Failed = -1 };

    explicit BVActivityItem(QString description);
    virtual ~BVActivityItem();
    BVActivityItem(const BVActivityItem &) = delete;
    BVActivityItem &operator=(const BVActivityItem &) = delete;

    BVActivityItemDelegate *delegate() const { return m_delegate; }
    void setDelegate(BVActivityItemDelegate *delegate) { m_delegate = delegate; }
    const QString &description() const { return m_description; }
    int status() const { return m_status; }
    bool isCancelled() const { return m_cancelled; }
    // The bar: 0 to 1 (bytes for downloads, scaled by progressMaximum()).
    double progress() const { return m_progress; }
    double progressMaximum() const { return m_progressMaximum; }
    bool isIndeterminate() const { return m_indeterminate; }
    BVTimeEstimate &timeEstimate() { return m_timeEstimate; }

    // Status 1, the estimate started, the bar animating.
    virtual void start();
    // Marks the job cancelled.
    virtual void cancel();

protected:
    void setStatus(int status);
    void setProgress(double value) { m_progress = value; }
    void setProgressMaximum(double maximum) { m_progressMaximum = maximum; }
    void setIndeterminate(bool on) { m_indeterminate = on; }
    void notify(const QString &title, const QString &description);

private:
    BVActivityItemDelegate *m_delegate = nullptr;
    QString m_description;
    int m_status = Queued;
    bool m_cancelled = false;
    double m_progress = 0;
    double m_progressMaximum = 1;
    bool m_indeterminate = true;
    BVTimeEstimate m_timeEstimate;
};
