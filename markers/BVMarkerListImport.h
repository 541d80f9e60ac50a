#pragma once

#include "markers/BVMarkerListEntry.h"

class BVMarkerModel;

// Imports a marker list into a document's list and exports the list in one of four formats. The
// same code serves the window and the command line. Main thread (the model's).
namespace BVMarkerListImport {

// What the import reports: an alert when it stopped before the first marker, else the
// notification of what it added.
struct Result
{
    bool refused = false;
    QString alertTitle;
    QString alertText;
    QString notificationTitle;
    QString notificationText;
    int imported = 0;
    int outsideRange = 0;
};

// The notification's title and text for n markers imported and m outside the file's range.
void notificationFor(int imported, int outside, QString *title, QString *text);
// Reads the file's bytes into the model: every entry inside the media becomes an editable record,
// inserted by the ordering rule; the list is stored once at the end.
Result importMarkerList(const QByteArray &data, BVMarkerModel &model);
Result importMarkerList(const BVMarkerListReading &reading, BVMarkerModel &model);

enum class Format { FCP7 = 0, Avid = 1, Comma = 2, Space = 3 };
// The format named on the command line ("fcp7", "avid", "comma", "space"); -1 when unknown.
int formatNamed(const QString &name);
// The text of a format (empty for an unknown one).
QString exportText(int format, const QList<BVMarker> &markers);
// The extension each format's file carries.
QString extensionForFormat(int format);
// Writes UTF-8 text, replacing the file atomically; false with the reason on failure.
bool writeText(const QString &path, const QString &text, QString *error = nullptr);

} // namespace BVMarkerListImport
