#pragma once

#include "platform/media/MediaTime.h"

#include <QString>
#include <QVariant>

// One metadata item of an asset or of a chapter: its key in the container's key space, the common
// key it maps to ("title", "artist", "creationDate" ...; empty when none), its value and, for timed
// items such as chapter titles, its time and duration. A plain value.
class MediaMetadataItem
{
public:
    MediaMetadataItem() = default;
    MediaMetadataItem(QString key, QString commonKey, QVariant value, QString keySpace = {});

    const QString &key() const { return m_key; }
    void setKey(const QString &key) { m_key = key; }
    const QString &commonKey() const { return m_commonKey; }
    void setCommonKey(const QString &commonKey) { m_commonKey = commonKey; }
    const QString &keySpace() const { return m_keySpace; }
    void setKeySpace(const QString &keySpace) { m_keySpace = keySpace; }
    const QVariant &value() const { return m_value; }
    void setValue(const QVariant &value) { m_value = value; }
    // The value as text; empty when the value is not text-like (a picture, for example).
    QString stringValue() const;
    // The language of the value ("und" when unknown).
    const QString &extendedLanguageTag() const { return m_languageTag; }
    void setExtendedLanguageTag(const QString &tag) { m_languageTag = tag; }
    const MediaTime &time() const { return m_time; }
    void setTime(const MediaTime &time) { m_time = time; }
    const MediaTime &duration() const { return m_duration; }
    void setDuration(const MediaTime &duration) { m_duration = duration; }

    // The item as a string-keyed record ("key", "commonKey", "keySpace", "value", "time", "duration").
    QVariantMap dictionary() const;
    // "commonKey=value", for log lines.
    QString description() const;

    bool operator==(const MediaMetadataItem &other) const = default;

private:
    QString m_key;
    QString m_commonKey;
    QString m_keySpace;
    QVariant m_value;
    QString m_languageTag = QStringLiteral("und");
    MediaTime m_time = MediaTime::invalid();
    MediaTime m_duration = MediaTime::invalid();
};
