#include "markers/BVMarkerModel.h"

#include "markers/BVAnnotationCache.h"
#include "markers/BVMarkerList.h"
#include "player/media/BVMediaObject.h"
#include "player/time/BVTimecode.h"
#include "support/BVLog.h"

#include <chrono>

BVMarkerModel::BVMarkerModel(BVMediaObject *media, const QString &fileKey, QObject *parent)
    : QObject(parent)
    , m_media(media)
    , m_store(fileKey)
{ }

void BVMarkerModel::setVelo(qlonglong fileID, qlonglong projectID)
{
    m_veloFileID = fileID;
    m_veloProjectID = projectID;
}

void BVMarkerModel::setMarkers(const QList<BVMarker> &markers)
{
    m_markers = markers;
    Q_EMIT markersChanged();
    Q_EMIT tableReloadRequested();
}

QList<BVMarker> BVMarkerModel::filteredMarkers() const
{
    return BVMarkerList::filteredMarkerArrayForPlayhead(m_markers);
}

MediaTime BVMarkerModel::duration() const
{
    return m_media ? m_media->duration() : MediaTime::invalid();
}

QString BVMarkerModel::timecodeAtTime(const MediaTime &time) const
{
    const QString timecode = m_media ? m_media->timecodeAtTime(time) : QString();
    return timecode.isEmpty() ? BVTimecode::zeroTimecode() : timecode;
}

bool BVMarkerModel::loadMarkers()
{
    if (isPrivateCloudFile())
        return false;
    if (!m_media || m_media->fps() == 0)
        return false;
    if (isCloud()) {
        Q_EMIT commentsRequested();
    } else {
        m_markers = m_store.storedMarkers();
        if (!m_media->chapters().isEmpty()) {
            mergeChapters();
            saveMarkers();
        }
        Q_EMIT markersChanged();
    }
    Q_EMIT tableReloadRequested();
    QStringList names;
    for (const BVMarker &marker : m_markers)
        names.append(marker->value(BVMarkerKey::name).toString());
    BVLog::appendLog(QStringLiteral("markers: (%1)").arg(names.join(QStringLiteral(", "))));
    return true;
}

void BVMarkerModel::mergeChapters()
{
    const MediaTime length = duration().absolute();
    if (!length.isValid())
        return;
    const QList<BVMarker> snapshot = m_markers;
    for (const MediaTimedMetadataGroup &chapter : m_media->chapters()) {
        if (chapter.items().isEmpty())
            continue;
        MediaTime time = chapter.items().first().time();
        if (!time.isNumeric())
            time = MediaTime::zero();
        time = time.absolute();
        const bool known = std::any_of(snapshot.cbegin(), snapshot.cend(), [&](const BVMarker &m) {
            const MediaTime position = BVMarkers::positionOf(m);
            return position.isNumeric()
                && position.convertScale(time.timescale(), MediaTime::Rounding::QuickTime) == time;
        });
        if (known)
            continue;
        QString label = chapter.items().first().stringValue();
        if (label.isEmpty())
            label = QStringLiteral("Marker %1").arg(m_markers.size() + 1);
        BVMarker marker = makeMarker(time, label, false);
        // Chapters come from the media: the popover shows them locked.
        marker->insert(BVMarkerKey::chapter, true);
        BVMarkerList::insertMarker(m_markers, marker);
    }
}

BVMarker BVMarkerModel::makeMarker(const MediaTime &position, const QString &name, bool canEdit) const
{
    const MediaTime length = duration().absolute();
    const MediaTime scaled = length.isNumeric() && length.timescale() > 0
        ? position.convertScale(length.timescale(), MediaTime::Rounding::QuickTime)
        : position;
    BVMarker marker = BVMarkers::makeMarker({
        {BVMarkerKey::name, name},
        {BVMarkerKey::position, position.dictionary()},
        {BVMarkerKey::val, BVMarkers::valForPosition(position, length)},
        {BVMarkerKey::timecode, timecodeAtTime(scaled)},
        {BVMarkerKey::color, 0},
        {BVMarkerKey::canEdit, canEdit},
    });
    if (canEdit && isCloud()) {
        marker->insert(BVMarkerKey::veloraID, -1);
        marker->insert(BVMarkerKey::veloraCurrentUser, true);
    }
    return marker;
}

BVMarker BVMarkerModel::addMarker(const MediaTime &current, bool *created)
{
    const MediaTime now = current.absolute();
    if (BVMarker existing = BVMarkerList::markerAtTime(m_markers, now)) {
        if (created)
            *created = false;
        return existing;
    }
    BVMarker marker = makeMarker(now, QStringLiteral("Marker %1").arg(m_markers.size() + 1), true);
    // The timecode of the picture at the playhead, in the time's own timescale.
    marker->insert(BVMarkerKey::timecode, timecodeAtTime(now));
    BVMarkerList::insertMarker(m_markers, marker);
    saveMarkers();
    Q_EMIT markersChanged();
    if (created)
        *created = true;
    return marker;
}

void BVMarkerModel::insertMarker(const BVMarker &marker)
{
    BVMarkerList::insertMarker(m_markers, marker);
}

void BVMarkerModel::reorderMarker(const BVMarker &marker)
{
    if (m_markers.removeAll(marker) > 0)
        BVMarkerList::insertMarker(m_markers, marker);
}

void BVMarkerModel::saveMarker(const BVMarker &marker)
{
    if (!marker || BVMarkers::isChapter(*marker) || !marker->value(BVMarkerKey::canEdit).toBool())
        return;
    Q_EMIT markersChanged();
    saveMarkers();
    const auto id = marker->constFind(BVMarkerKey::veloraID);
    if (id == marker->cend())
        return;
    if (id->toLongLong() == -1)
        Q_EMIT postCommentRequested(marker);
    else
        Q_EMIT editCommentRequested(marker);
}

void BVMarkerModel::saveMarkers()
{
    if (isCloud())
        return;
    m_store.storeMarkers(m_markers);
    Q_EMIT tableReloadRequested();
}

void BVMarkerModel::removeMarker(const BVMarker &marker)
{
    if (!marker)
        return;
    if (marker->contains(BVMarkerKey::veloraID))
        Q_EMIT removeCommentRequested(marker->value(BVMarkerKey::veloraID).toLongLong());
    deleteAnnotationForMarker(marker);
    m_markers.removeAll(marker);
    Q_EMIT markersChanged();
    saveMarkers();
}

void BVMarkerModel::deleteAnnotationForMarker(const BVMarker &marker)
{
    if (isCloud() || !marker || !marker->contains(BVMarkerKey::annotation))
        return;
    BVAnnotationCache::removeAnnotation(marker->value(BVMarkerKey::annotation).toString());
    marker->remove(BVMarkerKey::annotation);
    saveMarker(marker);
}

bool BVMarkerModel::deleteAllMarkers()
{
    if (isCloud())
        return false;
    m_store.removeMarkers();
    loadMarkers();
    return true;
}
