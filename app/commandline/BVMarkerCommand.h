#pragma once

#include <QStringList>

#include <cstdio>

// The marker commands of `reelmark` without a window: "--markers MEDIA", "--import-markers LIST
// MEDIA" and "--export-markers FORMAT MEDIA OUT". They load the media as a document does and go
// through the same marker model, list formats and storage as the window. Exit 0 on success, 1 with
// the error on standard error, 2 for usage. Needs a QCoreApplication.
class BVMarkerCommand
{
public:
    BVMarkerCommand() = delete;

    // The command name ("--markers" ...) and the arguments after it.
    static int run(
        const QString &command, const QStringList &arguments, FILE *out = stdout, FILE *err = stderr);
    static bool isMarkerCommand(const QString &argument);
    static QString usage();
};
