#pragma once

#include "markers/BVMarker.h"

#include <QList>
#include <QString>

// The plain timecode lists (export only): "timecode, name" or "timecode name", one CR LF line per
// record. Pure functions; any thread.
namespace BVTimecodeMarkerList {

QString writeComma(const QList<BVMarker> &markers);
QString writeSpace(const QList<BVMarker> &markers);

} // namespace BVTimecodeMarkerList
