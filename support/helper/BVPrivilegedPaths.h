#pragma once

#include <QString>

// Which paths may be changed with administrator rights. Shared by the program asking for the
// right and by the privileged helper, which checks every request again itself: the file-system
// root, the system folders (their contents too, or at least what lies directly in them) and the
// home folder itself are never removed, replaced or moved away. Paths are judged after every
// symbolic link in them has been resolved, so a link cannot lead the check astray.
class BVPrivilegedPaths
{
public:
    // The path made absolute and clean with every symbolic link resolved, the last component's
    // too; components that do not exist yet are kept as written.
    static QString resolvedPath(const QString &path);
    // True when the path, both as written (made absolute and clean) and resolved, is outside
    // every protected folder. home is the user's home folder.
    static bool mayChange(const QString &path, const QString &home);
    // The rule itself, for a path that is already absolute, clean and resolved.
    static bool isProtected(const QString &resolvedPath, const QString &home);
};
