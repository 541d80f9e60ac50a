#include "markers/BVMarkerListImport.h"

#include "markers/BVAvidMarkerList.h"
#include "markers/BVFCP7MarkerList.h"
#include "markers/BVMarkerListReader.h"
#include "markers/BVMarkerModel.h"
#include "markers/BVTimecodeMarkerList.h"
#include "player/media/BVMediaObject.h"
#include "support/BVLog.h"

#include <QSaveFile>

namespace BVMarkerListImport {

namespace {

const QString refusedTitle = QStringLiteral("Unable to import marker list");

QString plural(int n)
{
    return n == 1 ? QString() : QStringLiteral("s");
}

QString wasWere(int n)
{
    return n == 1 ? QStringLiteral("was") : QStringLiteral("were");
}

} // namespace

void notificationFor(int n, int m, QString *title, QString *text)
{
    if (n > 0) {
        *title = QStringLiteral("Markers imported");
        *text = m == 0 ? QStringLiteral("%1 marker%2").arg(n).arg(plural(n))
                       : QStringLiteral("%1 marker%2 imported\n%3 %4 outside the range of this file")
                             .arg(n)
                             .arg(plural(n))
                             .arg(m)
                             .arg(wasWere(m));
        return;
    }
    *title = QStringLiteral("No markers imported");
    *text = m > 0
        ? QStringLiteral("%1 marker%2 %3 outside the range of this file").arg(m).arg(plural(m), wasWere(m))
        : QStringLiteral("There were no valid markers in this file.");
}

Result importMarkerList(const QByteArray &data, BVMarkerModel &model)
{
    Result result;
    QString text, error;
    BVMarkerListReading reading;
    if (!BVMarkerListReader::decode(data, &text, &error)
        || !BVMarkerListReader::read(text, &reading, &error)) {
        result.refused = true;
        result.alertTitle = refusedTitle;
        result.alertText = error;
        return result;
    }
    return importMarkerList(reading, model);
}

Result importMarkerList(const BVMarkerListReading &reading, BVMarkerModel &model)
{
    Result result;
    BVMediaObject *media = model.mediaObject();
    const MediaTime duration = model.duration().absolute();
    if (!media || !duration.isNumeric() || duration.timescale() <= 0) {
        result.refused = true;
        result.alertTitle = refusedTitle;
        result.alertText = QStringLiteral("The media has no duration yet.");
        return result;
    }
    for (const BVMarkerListEntry &entry : reading.entries) {
        const MediaTime at = media->timeForTimecode(entry.timecode);
        if (!at.isNumeric()) {
            BVLog::appendLog(QStringLiteral("Marker list line has no usable timecode - skipping..."));
            continue;
        }
        // A timecode before the file's start lies outside it too (made absolute, it would land
        // at a mirrored position inside).
        const MediaTime time = at.convertScale(duration.timescale(), MediaTime::Rounding::QuickTime);
        if (at.value() < 0 || MediaTime::compare(time, duration) > 0) {
            ++result.outsideRange;
            continue;
        }
        BVMarker marker = model.makeMarker(time, entry.label, true);
        marker->insert(BVMarkerKey::timecode, entry.timecode);
        marker->insert(BVMarkerKey::color, entry.color);
        model.insertMarker(marker);
        ++result.imported;
    }
    model.saveMarkers();
    Q_EMIT model.markersChanged();
    Q_EMIT model.tableReloadRequested();
    notificationFor(
        result.imported, result.outsideRange, &result.notificationTitle, &result.notificationText);
    return result;
}

int formatNamed(const QString &name)
{
    const QStringList names {
        QStringLiteral("fcp7"), QStringLiteral("avid"), QStringLiteral("comma"), QStringLiteral("space")};
    return int(names.indexOf(name));
}

QString exportText(int format, const QList<BVMarker> &markers)
{
    switch (format) {
    case int(Format::FCP7):
        return BVFCP7MarkerList::write(markers);
    case int(Format::Avid):
        return BVAvidMarkerList::write(markers);
    case int(Format::Comma):
        return BVTimecodeMarkerList::writeComma(markers);
    case int(Format::Space):
        return BVTimecodeMarkerList::writeSpace(markers);
    default:
        return {};
    }
}

QString extensionForFormat(int format)
{
    return format == int(Format::Comma) ? QStringLiteral("csv") : QStringLiteral("txt");
}

bool writeText(const QString &path, const QString &text, QString *error)
{
    QSaveFile file(path);
    const QByteArray data = text.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        BVLog::appendLog(QStringLiteral("marker list write failed: %1").arg(file.errorString()));
        return false;
    }
    return true;
}

} // namespace BVMarkerListImport
