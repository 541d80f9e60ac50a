#include "markers/BVMarker.h"

#include <QUuid>

namespace BVMarkers {

MediaTime positionOf(const QVariantMap &record)
{
    const QVariant position = record.value(BVMarkerKey::position);
    if (position.typeId() != QMetaType::QVariantMap)
        return MediaTime::invalid();
    return MediaTime::fromDictionary(position.toMap());
}

double valForPosition(const MediaTime &position, const MediaTime &duration)
{
    const MediaTime length = duration.absolute();
    if (!length.isNumeric() || length.value() == 0 || !position.isNumeric())
        return 0;
    const MediaTime scaled = position.convertScale(length.timescale(), MediaTime::Rounding::QuickTime);
    return double(scaled.value()) / double(length.value());
}

bool isNavigable(const MediaTime &position)
{
    return position.isNumeric() && position.value() >= 0 && position.timescale() > 0;
}

int colorIndexOf(const QVariantMap &record)
{
    return record.value(BVMarkerKey::color).toInt();
}

bool hasAnnotation(const QVariantMap &record, bool cloud)
{
    const auto found = record.constFind(BVMarkerKey::annotation);
    if (found == record.cend())
        return false;
    if (cloud)
        return found->toLongLong() >= 0;
    return !found->toString().isEmpty();
}

QString UUIDString()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

} // namespace BVMarkers
