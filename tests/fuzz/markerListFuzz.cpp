// Fuzz entry for the marker list reader. Any bytes: decoding, layout detection and both readers
// must never crash; whatever is read must survive a write in its own layout and a second reading.
#include "markers/BVAvidMarkerList.h"
#include "markers/BVFCP7MarkerList.h"
#include "markers/BVMarkerListReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

QList<BVMarker> recordsOf(const BVMarkerListReading &reading)
{
    QList<BVMarker> markers;
    for (const BVMarkerListEntry &entry : reading.entries)
        markers.append(BVMarkers::makeMarker({{BVMarkerKey::name, entry.label},
            {BVMarkerKey::timecode, entry.timecode}, {BVMarkerKey::color, entry.color}}));
    return markers;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QString text, error;
    if (!BVMarkerListReader::decode(
            QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)), &text, &error))
        return 0;
    BVMarkerListReading reading;
    if (!BVMarkerListReader::read(text, &reading, &error)) {
        check(!error.isEmpty());
        return 0;
    }
    check(reading.layout == QLatin1String("fcp7") || reading.layout == QLatin1String("avid"));
    for (const BVMarkerListEntry &entry : reading.entries) {
        check(!entry.label.isEmpty());
        check(entry.color >= 0 && entry.color <= 10);
    }
    // A written list reads back with as many markers as it was written with, when every field is a
    // plain single-line text (timecodes and labels read back from one line always are).
    const QList<BVMarker> markers = recordsOf(reading);
    const QString written = reading.layout == QLatin1String("fcp7") ? BVFCP7MarkerList::write(markers)
                                                                    : BVAvidMarkerList::write(markers);
    check(!written.contains(QStringLiteral("\n\t")));
    BVMarkerListReading again;
    if (!markers.isEmpty() && BVMarkerListReader::read(written, &again, &error))
        check(again.entries.size() <= markers.size());
    return 0;
}
