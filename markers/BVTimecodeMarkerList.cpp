#include "markers/BVTimecodeMarkerList.h"

#include "markers/BVMarkerListEntry.h"

namespace BVTimecodeMarkerList {

namespace {

QString write(const QList<BVMarker> &markers, const QString &separator)
{
    QString text;
    for (const BVMarker &marker : markers)
        text += BVMarkerListText::field(marker->value(BVMarkerKey::timecode).toString()) + separator
            + BVMarkerListText::field(marker->value(BVMarkerKey::name).toString()) + QStringLiteral("\r\n");
    return text;
}

} // namespace

QString writeComma(const QList<BVMarker> &markers)
{
    return write(markers, QStringLiteral(", "));
}

QString writeSpace(const QList<BVMarker> &markers)
{
    return write(markers, QStringLiteral(" "));
}

} // namespace BVTimecodeMarkerList
