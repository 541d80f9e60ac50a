#include "markers/BVMarkerListReader.h"

#include "markers/BVAvidMarkerList.h"
#include "markers/BVFCP7MarkerList.h"

#include <QStringDecoder>

namespace BVMarkerListReader {

bool read(const QString &text, BVMarkerListReading *reading, QString *error)
{
    const QStringList lines = BVMarkerListText::lines(text);
    if (BVMarkerListText::trimmed(text).isEmpty()) {
        if (error)
            *error = QStringLiteral("File is empty.");
        return false;
    }
    const QStringList first = BVMarkerListText::trimmed(lines.first()).split(u'\t');
    const QStringList firstFields = BVMarkerListText::trimmedKeepingTabs(lines.first()).split(u'\t');
    if (BVAvidMarkerList::recognises(firstFields) || first.size() == 5) {
        *reading = BVAvidMarkerList::read(lines);
        return true;
    }
    if (first.size() == 7) {
        *reading = BVFCP7MarkerList::read(lines);
        return true;
    }
    if (error)
        *error = QStringLiteral("Unrecognized marker list format.");
    return false;
}

bool decode(const QByteArray &data, QString *text, QString *error)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString decoded = decoder(data);
    if (decoder.hasError()) {
        if (error)
            *error = QStringLiteral("The file is not UTF-8 text.");
        return false;
    }
    *text = decoded;
    return true;
}

} // namespace BVMarkerListReader
