#include "markers/BVMarkerList.h"

#include <algorithm>

namespace BVMarkerList {

namespace {

constexpr double thinningDistance = 0.004;
// "val" is a quotient of two integers; differences of exactly 0.004 carry a little rounding.
constexpr double thinningTolerance = 1e-9;

// The position in the current time's timescale, as the navigation compares it.
MediaTime converted(const BVMarker &marker, const MediaTime &current)
{
    const MediaTime position = BVMarkers::positionOf(marker);
    if (!position.isNumeric() || current.timescale() <= 0)
        return MediaTime::invalid();
    return position.convertScale(current.timescale(), MediaTime::Rounding::QuickTime);
}

} // namespace

void insertMarker(QList<BVMarker> &markers, const BVMarker &marker)
{
    const MediaTime at = BVMarkers::positionOf(marker);
    auto later = std::find_if(markers.begin(), markers.end(),
        [&](const BVMarker &m) { return MediaTime::compare(BVMarkers::positionOf(m), at) > 0; });
    markers.insert(later, marker);
}

BVMarker markerAtTime(const QList<BVMarker> &markers, const MediaTime &time)
{
    for (const BVMarker &marker : markers) {
        const MediaTime position = BVMarkers::positionOf(marker);
        if (position.isNumeric() && time.isNumeric()
            && position.convertScale(time.timescale(), MediaTime::Rounding::QuickTime) == time)
            return marker;
    }
    return {};
}

QList<BVMarker> filteredMarkerArrayForPlayhead(const QList<BVMarker> &markers)
{
    QList<BVMarker> kept;
    double lastVal = -1;
    for (const BVMarker &marker : markers) {
        const double val = marker->value(BVMarkerKey::val).toDouble();
        if (kept.isEmpty() || val - lastVal > thinningDistance + thinningTolerance) {
            kept.append(marker);
            lastVal = val;
        }
    }
    return kept;
}

BVMarker previousMarker(const QList<BVMarker> &markers, const MediaTime &current, bool playing)
{
    for (auto it = markers.crbegin(); it != markers.crend(); ++it) {
        const MediaTime time = converted(*it, current);
        if (!time.isNumeric() || time.value() < 0 || time.timescale() == 0)
            continue;
        if (!(MediaTime::compare(current, time) > 0))
            continue;
        if (!playing || time.seconds() / current.seconds() < 0.9)
            return *it;
    }
    return {};
}

BVMarker nextMarker(const QList<BVMarker> &markers, const MediaTime &current)
{
    for (const BVMarker &marker : markers) {
        const MediaTime time = converted(marker, current);
        if (time.isNumeric() && time.value() >= 0 && MediaTime::compare(time, current) > 0)
            return marker;
    }
    return {};
}

BVMarker markerToPauseOn(const QList<BVMarker> &markers, const MediaTime &current)
{
    for (const BVMarker &marker : markers) {
        const MediaTime time = converted(marker, current);
        if (!time.isNumeric() || time.value() < 0)
            continue;
        const double ahead = (time - current).seconds();
        if (ahead > 0 && ahead < 0.05)
            return marker;
    }
    return {};
}

} // namespace BVMarkerList
