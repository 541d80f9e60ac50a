#include "markers/BVAvidMarkerList.h"

#include "markers/BVMarkerColor.h"
#include "support/BVLog.h"

namespace BVAvidMarkerList {

bool recognises(const QStringList &fields)
{
    return fields.size() >= 5 && BVMarkerListText::isTimecode(fields.at(1))
        && BVMarkerListText::isTrackName(fields.at(2));
}

BVMarkerListReading read(const QStringList &lines)
{
    BVMarkerListReading reading;
    reading.layout = QStringLiteral("avid");
    for (const QString &line : lines) {
        const QStringList fields = BVMarkerListText::trimmedKeepingTabs(line).split(u'\t');
        if (fields.size() < 5) {
            BVLog::appendLog(QStringLiteral("Marker list line is the wrong length - skipping..."));
            ++reading.wrongLengthLines;
            continue;
        }
        const QString label = BVMarkerListText::label(fields.at(4).trimmed(), fields.at(0).trimmed());
        if (label.isEmpty())
            continue;
        reading.entries.append(
            {label, fields.at(1).trimmed(), BVMarkerColor::fromAvidWord(fields.at(3).trimmed())});
    }
    return reading;
}

QString write(const QList<BVMarker> &markers)
{
    QString text;
    for (const BVMarker &marker : markers) {
        const QString author = marker->contains(BVMarkerKey::veloraID)
            ? marker->value(BVMarkerKey::veloraAuthor).toString()
            : QStringLiteral("Reelmark");
        text += QStringLiteral("%1\t%2\tV1\t%3\t%4\r\n")
                    .arg(BVMarkerListText::field(author),
                        BVMarkerListText::field(marker->value(BVMarkerKey::timecode).toString()),
                        BVMarkerColor::avidWord(BVMarkers::colorIndexOf(*marker)),
                        BVMarkerListText::field(marker->value(BVMarkerKey::name).toString()));
    }
    return text;
}

} // namespace BVAvidMarkerList
