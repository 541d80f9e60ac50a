#pragma once

#include "markers/BVMarkerListEntry.h"

#include <QByteArray>

// Reads a marker list file's text in whichever layout its first line shows. Pure; any thread.
namespace BVMarkerListReader {

// The entries, or false with the alert text in *error ("File is empty.", "Unrecognized marker
// list format.").
bool read(const QString &text, BVMarkerListReading *reading, QString *error);
// Decodes UTF-8 (a byte order mark is skipped); false with the reason when the bytes are not UTF-8.
bool decode(const QByteArray &data, QString *text, QString *error);

} // namespace BVMarkerListReader
