#pragma once

#include <QStringList>

// What `reelmark` was asked to do by its arguments.
struct BVCommandLine
{
    enum class Action { Open, Version, Help, Probe, Invalid };

    Action action = Action::Open;
    QStringList files;
    QStringList probeArguments;
    QString error;

    static BVCommandLine parse(const QStringList &arguments);
    static QString usage();
};
