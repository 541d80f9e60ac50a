#include "markers/BVFCP7MarkerList.h"

#include "markers/BVMarkerColor.h"
#include "support/BVLog.h"

namespace BVFCP7MarkerList {

BVMarkerListReading read(const QStringList &lines)
{
    BVMarkerListReading reading;
    reading.layout = QStringLiteral("fcp7");
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList fields = BVMarkerListText::trimmed(lines.at(i)).split(u'\t');
        if (fields.size() != 7) {
            BVLog::appendLog(QStringLiteral("Marker list line is the wrong length - skipping..."));
            ++reading.wrongLengthLines;
            continue;
        }
        const QString label = BVMarkerListText::label(fields.at(2), fields.at(3));
        if (label.isEmpty())
            continue;
        reading.entries.append({label, fields.at(4), BVMarkerColor::fromFCP7Word(fields.at(6))});
    }
    return reading;
}

QString write(const QList<BVMarker> &markers)
{
    QString text = QStringLiteral("Name\tType\tMarker Name\tComment\tStart\tDuration\tColor\r\n");
    for (const BVMarker &marker : markers) {
        const QString timecode = marker->value(BVMarkerKey::timecode).toString();
        const QString separator = timecode.size() >= 3 && timecode.at(timecode.size() - 3) == u';'
            ? QStringLiteral(";")
            : QStringLiteral(":");
        const QString comment = marker->contains(BVMarkerKey::veloraID)
            ? marker->value(BVMarkerKey::veloraAuthor).toString()
            : QString();
        text += QStringLiteral("Sequence 1\tSequence\t")
            + BVMarkerListText::field(marker->value(BVMarkerKey::name).toString()) + u'\t'
            + BVMarkerListText::field(comment) + u'\t' + BVMarkerListText::field(timecode)
            + QStringLiteral("\t00:00:00") + separator + QStringLiteral("00\t")
            + BVMarkerColor::fcp7Word(BVMarkers::colorIndexOf(*marker)) + QStringLiteral("\r\n");
    }
    return text;
}

} // namespace BVFCP7MarkerList
