#pragma once

#include "markers/BVMarker.h"

#include <QList>
#include <QString>
#include <QUrl>

// Where a local file's markers live between sessions: the "markers" array of the file's entry in
// the "fileSettings" setting, keyed by the file's absolute URL string. Writes go through
// BVFileSettings, which changes only "markers" of that one entry under its update lock. Main thread.
class BVMarkerStore
{
public:
    // The "fileSettings" key of a local file: its absolute URL string.
    static QString keyForURL(const QUrl &url);

    explicit BVMarkerStore(QString fileKey);

    // Copies of the stored records, in stored order; empty when anything is missing.
    QList<BVMarker> storedMarkers() const;
    void storeMarkers(const QList<BVMarker> &markers) const;
    // Removes "markers" from the file's entry; the rest of the entry stays.
    void removeMarkers() const;

private:
    QString m_fileKey;
};
