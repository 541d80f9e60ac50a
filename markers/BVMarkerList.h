#pragma once

#include "markers/BVMarker.h"

#include <QList>

// The ordering and thinning rules of a marker list, shared by playhead markers, chapters, imports
// and the timeline. Stateless; any thread.
namespace BVMarkerList {

// Inserts before the first record strictly later, else appends: records at one position keep the
// order in which they arrived. Positions compare rationally.
void insertMarker(QList<BVMarker> &markers, const BVMarker &marker);
// The first record whose position equals the time; none when there is none.
BVMarker markerAtTime(const QList<BVMarker> &markers, const MediaTime &time);
// The records the timeline draws: the first, then each whose "val" lies more than 0.004 past the
// last one kept. The same records, not copies.
QList<BVMarker> filteredMarkerArrayForPlayhead(const QList<BVMarker> &markers);

// The record `prevMarker:` goes to: the last one strictly before the current time, skipping while
// playing any at 90 % of the current time or more (the marker just passed); none when none qualifies.
BVMarker previousMarker(const QList<BVMarker> &markers, const MediaTime &current, bool playing);
// The first record strictly after the current time.
BVMarker nextMarker(const QList<BVMarker> &markers, const MediaTime &current);
// Pause on markers: the first record ahead of the current time by more than 0 and less than 0.05 s.
BVMarker markerToPauseOn(const QList<BVMarker> &markers, const MediaTime &current);

} // namespace BVMarkerList
