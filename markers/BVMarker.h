#pragma once

#include "platform/media/MediaTime.h"

#include <QMetaType>
#include <QString>
#include <QVariantMap>

#include <memory>

// A marker record: string-keyed entries, stored exactly in this form. Records are shared by
// reference: the list, the popover's current marker, the tag strip and pending completions hold
// the same record, so an edit through one is seen by all.
using BVMarker = std::shared_ptr<QVariantMap>;
Q_DECLARE_METATYPE(BVMarker)

// The keys of a marker record.
namespace BVMarkerKey {
inline const QString name = QStringLiteral("name");
inline const QString position = QStringLiteral("position");
inline const QString val = QStringLiteral("val");
inline const QString timecode = QStringLiteral("timecode");
inline const QString color = QStringLiteral("color");
inline const QString canEdit = QStringLiteral("can_edit");
inline const QString annotation = QStringLiteral("annotation");
inline const QString chapter = QStringLiteral("chapter");
inline const QString veloraID = QStringLiteral("veloraID");
inline const QString veloraAuthor = QStringLiteral("veloraAuthor");
inline const QString veloraCurrentUser = QStringLiteral("veloraCurrentUser");
} // namespace BVMarkerKey

namespace BVMarkers {

// A new record holding a copy of the entries.
inline BVMarker makeMarker(const QVariantMap &entries = {})
{
    return std::make_shared<QVariantMap>(entries);
}
// The record's "position"; invalid when it has none.
MediaTime positionOf(const QVariantMap &record);
inline MediaTime positionOf(const BVMarker &marker)
{
    return marker ? positionOf(*marker) : MediaTime::invalid();
}
// The fraction of the duration a position stands at: the position in the timescale of the
// (absolute) duration, divided by the duration's value; 0 without a usable duration.
double valForPosition(const MediaTime &position, const MediaTime &duration);
// A usable position to move to: valid, a value of 0 or more and a timescale above 0.
bool isNavigable(const MediaTime &position);
int colorIndexOf(const QVariantMap &record);
// The record has an annotation: a local UUID, or a cloud ID of 0 or more.
bool hasAnnotation(const QVariantMap &record, bool cloud);
// A chapter record: carries a "chapter" entry.
inline bool isChapter(const QVariantMap &record)
{
    return record.contains(BVMarkerKey::chapter);
}
// A new random UUID, canonical upper-case text (8-4-4-4-12 hexadecimal digits).
QString UUIDString();

} // namespace BVMarkers
