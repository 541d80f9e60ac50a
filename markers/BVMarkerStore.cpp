#include "markers/BVMarkerStore.h"

#include "platform/defaults/BVUserDefaults.h"

namespace {

const QString fileSettingsKey = QStringLiteral("fileSettings");
const QString markersKey = QStringLiteral("markers");

BVUserDefaults *defaults()
{
    return BVUserDefaults::standardUserDefaults();
}

} // namespace

QString BVMarkerStore::keyForURL(const QUrl &url)
{
    return url.toString(QUrl::FullyEncoded);
}

BVMarkerStore::BVMarkerStore(QString fileKey)
    : m_fileKey(std::move(fileKey))
{ }

QList<BVMarker> BVMarkerStore::storedMarkers() const
{
    QList<BVMarker> markers;
    const QVariantMap entry = defaults()->dictionaryForKey(fileSettingsKey).value(m_fileKey).toMap();
    for (const QVariant &record : entry.value(markersKey).toList())
        if (record.typeId() == QMetaType::QVariantMap)
            markers.append(BVMarkers::makeMarker(record.toMap()));
    return markers;
}

void BVMarkerStore::storeMarkers(const QList<BVMarker> &markers) const
{
    QVariantList records;
    for (const BVMarker &marker : markers)
        records.append(*marker);
    QVariantMap entries = defaults()->dictionaryForKey(fileSettingsKey);
    QVariantMap entry = entries.value(m_fileKey).toMap();
    entry.insert(markersKey, records);
    entries.insert(m_fileKey, entry);
    defaults()->setObject(entries, fileSettingsKey);
}

void BVMarkerStore::removeMarkers() const
{
    QVariantMap entries = defaults()->dictionaryForKey(fileSettingsKey);
    QVariantMap entry = entries.value(m_fileKey).toMap();
    entry.remove(markersKey);
    entries.insert(m_fileKey, entry);
    defaults()->setObject(entries, fileSettingsKey);
}
