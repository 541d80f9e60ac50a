#pragma once

#include <QStringList>

// What `reelmark` was asked to do by its arguments.
struct BVCommandLine
{
    enum class Action { Open, Version, Help, Probe, Invalid, ExportMovie, Trim, ExportFrame };

    Action action = Action::Open;
    QStringList files;
    QStringList probeArguments;
    // What follows "--export", "--trim" or "--export-frame".
    QStringList exportArguments;
    // The frame rate of image files opened as one sequence, as typed after "--fps"; empty when
    // not given (the "imageSequenceFPS" setting applies).
    QString sequenceFPS;
    QString error;

    static BVCommandLine parse(const QStringList &arguments);
    static QString usage();
};
