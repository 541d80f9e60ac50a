#pragma once

#include <QStringList>

// `reelmark --probe FILE...`: prints one line of JSON per file describing the media once loaded.
class BVProbeCommand
{
public:
    // The arguments after "--probe" (files, optionally "--fps RATE"). Answers the exit status.
    static int run(const QStringList &arguments);
};
