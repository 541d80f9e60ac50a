#pragma once

#include <QString>

// The standard folders of the desktop, derived from HOME and the XDG variables at the moment of
// use. Every operation with a flag takes true for the user's own folder and false for the
// machine-wide one. A superuser process acting for the person at the screen gets that person's
// folders (see userDirectory()).
class BVLocalPaths
{
public:
    static QString applicationDirectory(bool user);
    static QString adminApplicationDirectory(bool user);
    static QString documentDirectory(bool user);
    static QString libraryDirectory(bool user);
    static QString prefsDirectory(bool user);
    static QString cacheDirectory(bool user);
    static QString appSupportDirectory(bool user);
    static QString logDirectory(bool user);
    static QString desktopDirectory();
    static QString userDirectory();
    static QString trashDirectory();
    static QString systemLibraryDirectory();
    static QString localDocumentationDirectory();
    static QString tempDirectory();
    static QString username();

    // A path in the temporary folder named by a unique identifier followed by randomString(8).
    static QString tempFile();
    static QString randomString(int count);
    static bool isPathSystemDirectory(const QString &path, bool exactMatch = false);
    static bool isSuperuser();
};
