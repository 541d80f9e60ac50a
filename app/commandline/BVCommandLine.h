#pragma once

#include <QStringList>

// What `reelmark` was asked to do by its arguments.
struct BVCommandLine
{
    enum class Action { Open, Version, Help, Probe, Markers, Invalid, ExportMovie, Trim, ExportFrame };

    Action action = Action::Open;
    QStringList files;
    QStringList probeArguments;
    // The marker command ("--markers" ...) and its arguments.
    QString markerCommand;
    QStringList markerArguments;
    // What follows "--export", "--trim" or "--export-frame".
    QStringList exportArguments;
    // The frame rate of image files opened as one sequence, as typed after "--fps"; empty when
    // not given (the "imageSequenceFPS" setting applies).
    QString sequenceFPS;
    QString error;

    static BVCommandLine parse(const QStringList &arguments);
    static QString usage();
};
