#include "markers/BVMarkerStore.h"

#include "player/document/BVFileSettings.h"

namespace {

const QString markersKey = QStringLiteral("markers");

} // namespace

QString BVMarkerStore::keyForURL(const QUrl &url)
{
    return BVFileSettings::keyForURL(url);
}

BVMarkerStore::BVMarkerStore(QString fileKey)
    : m_fileKey(std::move(fileKey))
{ }

QList<BVMarker> BVMarkerStore::storedMarkers() const
{
    QList<BVMarker> markers;
    for (const QVariant &record : BVFileSettings::entry(m_fileKey).value(markersKey).toList())
        if (record.typeId() == QMetaType::QVariantMap)
            markers.append(BVMarkers::makeMarker(record.toMap()));
    return markers;
}

void BVMarkerStore::storeMarkers(const QList<BVMarker> &markers) const
{
    QVariantList records;
    for (const BVMarker &marker : markers)
        records.append(*marker);
    BVFileSettings::updateEntry(m_fileKey, {{markersKey, records}});
}

void BVMarkerStore::removeMarkers() const
{
    BVFileSettings::updateEntry(m_fileKey, {{markersKey, QVariant()}});
}
