#pragma once

#include "markers/BVMarker.h"

#include <QList>
#include <QString>
#include <QStringList>

// One marker read from a marker list file: the label made of its name parts, the start timecode
// exactly as written, and the colour index of its colour word.
struct BVMarkerListEntry
{
    QString label;
    QString timecode;
    int color = 0;
    bool operator==(const BVMarkerListEntry &other) const = default;
};

// What a reader made of a file: the layout it recognised (empty when none), the markers, and how
// many lines it skipped for their field count.
struct BVMarkerListReading
{
    QString layout; // "fcp7", "avid" or empty
    QList<BVMarkerListEntry> entries;
    int wrongLengthLines = 0;
};

namespace BVMarkerListText {

// The file's lines: split at LF, CR LF and CR alone (old Mac text).
QStringList lines(const QString &text);
// Trims spaces, tabs and line breaks from both ends.
QString trimmed(const QString &line);
// Trims spaces and line breaks only: empty first and last fields keep their places.
QString trimmedKeepingTabs(const QString &line);
// The label of two name parts: "part1 - part2", or the one that is not empty.
QString label(const QString &part1, const QString &part2);
// A field fit for a tab-separated line: tabs and line breaks become spaces.
QString field(const QString &text);
// "HH:MM:SS:FF" (";" or "." allowed before the frames).
bool isTimecode(const QString &text);
// A track name such as "V1", "A2" or "TC1".
bool isTrackName(const QString &text);

} // namespace BVMarkerListText
