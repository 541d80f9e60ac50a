#pragma once

#include "markers/BVMarkerListEntry.h"

// The 7-column tab-separated marker list: a header line, then "Sequence 1", "Sequence", marker
// name, comment, start, duration, colour. Pure functions over text; any thread.
namespace BVFCP7MarkerList {

// Every line after the first (always the header) with exactly seven fields once trimmed.
BVMarkerListReading read(const QStringList &lines);
// The header and one CR LF line per record, in list order.
QString write(const QList<BVMarker> &markers);

} // namespace BVFCP7MarkerList
