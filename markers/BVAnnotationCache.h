#pragma once

#include <QString>

// The local annotation cache: one SVG file per annotation, "<UUID>.svg" in
// "/Reelmark/Local Annotation Cache" under the user's cache folder. Writes replace files
// atomically. Any thread; callers on the main thread keep to small files.
class BVAnnotationCache
{
public:
    BVAnnotationCache() = delete;

    static QString folder();
    static QString pathForUUID(const QString &uuid);
    // Writes the SVG in UTF-8; on failure answers false with the reason in *error.
    static bool writeAnnotation(const QString &uuid, const QString &svg, QString *error = nullptr);
    // The SVG text; *error says why when it answers none ("Could not locate the file on disk." when
    // the file is missing).
    static bool readAnnotation(const QString &uuid, QString *svg, QString *error = nullptr);
    // Removes the file if it exists (10-second time-out); a missing file is no failure.
    static bool removeAnnotation(const QString &uuid);
};
