#include "platform/media/MediaMetadataItem.h"

#include <QDateTime>

MediaMetadataItem::MediaMetadataItem(QString key, QString commonKey, QVariant value, QString keySpace)
    : m_key(std::move(key))
    , m_commonKey(std::move(commonKey))
    , m_keySpace(std::move(keySpace))
    , m_value(std::move(value))
{ }

QString MediaMetadataItem::stringValue() const
{
    switch (m_value.typeId()) {
    case QMetaType::QString:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Bool:
        return m_value.toString();
    case QMetaType::QDateTime:
        return m_value.toDateTime().toString(Qt::ISODate);
    default:
        return {};
    }
}

QVariantMap MediaMetadataItem::dictionary() const
{
    QVariantMap record {
        {QStringLiteral("key"), m_key},
        {QStringLiteral("commonKey"), m_commonKey},
        {QStringLiteral("keySpace"), m_keySpace},
        {QStringLiteral("value"), m_value},
    };
    if (m_time.isValid())
        record.insert(QStringLiteral("time"), m_time.dictionary());
    if (m_duration.isValid())
        record.insert(QStringLiteral("duration"), m_duration.dictionary());
    return record;
}

QString MediaMetadataItem::description() const
{
    return (m_commonKey.isEmpty() ? m_key : m_commonKey) + QLatin1Char('=') + stringValue();
}
