#pragma once

#include "platform/media/MediaMetadataItem.h"
#include "platform/media/MediaTime.h"

#include <QList>

// A group of metadata items that apply to one time range of an asset; a chapter is one group whose
// items carry the chapter's title at the chapter's start time.
class MediaTimedMetadataGroup
{
public:
    MediaTimedMetadataGroup() = default;
    MediaTimedMetadataGroup(const MediaTimeRange &timeRange, QList<MediaMetadataItem> items)
        : m_timeRange(timeRange)
        , m_items(std::move(items))
    { }

    const MediaTimeRange &timeRange() const { return m_timeRange; }
    const QList<MediaMetadataItem> &items() const { return m_items; }
    // The value of the first item with the common key "title"; empty when there is none.
    QString title() const
    {
        for (const MediaMetadataItem &item : m_items)
            if (item.commonKey() == QLatin1String("title"))
                return item.stringValue();
        return {};
    }

    bool operator==(const MediaTimedMetadataGroup &other) const = default;

private:
    MediaTimeRange m_timeRange;
    QList<MediaMetadataItem> m_items;
};
