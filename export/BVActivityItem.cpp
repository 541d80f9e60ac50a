#include "export/BVActivityItem.h"

#include "support/BVLog.h"

BVActivityItem::BVActivityItem(QString description)
    : m_description(std::move(description))
    , m_timeEstimate(BVTimeEstimate::timeEstimateWithTotal(1.0))
{
    m_timeEstimate.showCalculatingTimeMessage = false;
}

BVActivityItem::~BVActivityItem() = default;

void BVActivityItem::start()
{
    m_status = Running;
    m_timeEstimate.start();
}

void BVActivityItem::cancel()
{
    m_cancelled = true;
}

void BVActivityItem::setStatus(int status)
{
    m_status = status;
    if (m_delegate)
        m_delegate->activityStatusChanged(this);
}

void BVActivityItem::notify(const QString &title, const QString &description)
{
    BVLog::appendLog("%@: %@", title, description);
    if (m_delegate)
        m_delegate->activityNotification(title, description);
}
