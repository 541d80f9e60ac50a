#pragma once

#include <QString>
#include <QUrl>
#include <QVariantMap>

// The per-file settings kept in the user setting "fileSettings": one entry per file, keyed by the
// file URL's absolute string ("velo://<id>" for a cloud file). Each writer changes only its own keys
// of one entry ("playbackPos", "naturalWidth", "naturalHeight" for the position memory, "markers"
// for the markers) and writes the whole dictionary back. Any thread: the settings store serialises.
class BVFileSettings
{
public:
    // The key of a local or remote file: its URL's absolute, fully encoded string.
    static QString keyForURL(const QUrl &url);
    // The key of a cloud file.
    static QString keyForVeloFile(qlonglong veloFileID);

    // The file's entry; empty when nothing is stored.
    static QVariantMap entry(const QString &key);
    // Reads "fileSettings", sets the given keys of one entry (an invalid QVariant removes the key),
    // keeps the entry's other keys and the other files' entries, and writes it back.
    static void updateEntry(const QString &key, const QVariantMap &changes);
    // Forgets one file's entry altogether.
    static void removeEntry(const QString &key);
};
