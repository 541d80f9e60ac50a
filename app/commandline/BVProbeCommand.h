#pragma once

#include <QStringList>

#include <cstdio>

// `reelmark --probe FILE...`: prints one line of JSON per file describing the media as the media
// object sees it once loaded. With "--fps RATE", the image files among the arguments are probed as
// one image sequence, in the order given; without it each still image is an image sequence of one
// frame. Runs on the main thread of a QCoreApplication and spins
// its event loop while the media load.
class BVProbeCommand
{
public:
    // The arguments after "--probe" (files, optionally "--fps RATE"). Answers the exit status:
    // 0 when every file was probed, 1 when one could not be, 2 for unusable arguments.
    static int run(const QStringList &arguments);
    // The same, writing the lines to the given stream.
    static int run(const QStringList &arguments, FILE *out);
};
