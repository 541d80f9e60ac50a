#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>

// Property-list files (XML, binary read too) mapped to Qt values: dictionaries as QVariantMap,
// arrays as QVariantList, strings, booleans, integers (qlonglong), reals, data (QByteArray) and
// dates (QDateTime, UTC).
class BVPropertyList
{
public:
    static std::optional<QVariant> read(const QString &path);
    // The dictionary in the file, or an empty one when it is missing or not a dictionary.
    static QVariantMap readDictionary(const QString &path);
    // Writes XML atomically: a temporary file beside the target, flushed to disk, then renamed.
    static bool write(const QVariant &value, const QString &path);

    static std::optional<QVariant> fromData(const QByteArray &data);
    static QByteArray toXML(const QVariant &value);

    // The shared files of the maker's programs in the user's preferences folder.
    static QString globalPreferencesPath(); // "com.brightvane.global.plist"
    static QString qcPreferencesPath(); // "com.brightvane.qc.plist"
};
