#pragma once

#include "markers/BVMarkerListEntry.h"

// The 5-column tab-separated marker list, without header: author, timecode, track, colour,
// comment. Lists written by the editing system itself carry more fields after these (a duration,
// then in newer versions an empty field and the colour again); they are read and ignored.
// Pure functions over text; any thread.
namespace BVAvidMarkerList {

// The first line opens such a list: five or more fields whose second is a timecode and whose
// third a track name.
bool recognises(const QStringList &firstLineFields);
// Every line from the first with five fields or more (fewer: skipped as the wrong length). Only
// line breaks and spaces are trimmed, so an empty first or last field keeps its place.
BVMarkerListReading read(const QStringList &lines);
// One CR LF line per record: author ("Reelmark" for a local marker), timecode, "V1", colour, name.
QString write(const QList<BVMarker> &markers);

} // namespace BVAvidMarkerList
