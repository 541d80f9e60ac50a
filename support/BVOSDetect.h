#pragma once

#include <QString>

// The running system's version.
class BVOSDetect
{
public:
    // "major.minor.patch" of the distribution release (for example "12.12.0").
    static QString osxVersion();
    // The distribution's name ("Debian GNU/Linux").
    static QString systemName();
};
