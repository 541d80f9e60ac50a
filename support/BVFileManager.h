#pragma once

#include <QString>
#include <QStringList>

#include <chrono>

// Stateless file operations shared by both programs. Destructive operations first clear the item's
// immutable flag; a failed change can be retried with administrator rights (BVAuthorization); the
// timeout forms wait until the file system shows the result, keeping the interface responsive on
// the main thread. Callable from any thread; failures are logged and answered as false.
class BVFileManager
{
public:
    static bool fileExistsAtPath(const QString &path);
    // For a path under "/media/" or "/mnt/": true when the mount table lists a mount point holding
    // it and that folder exists. Any other path is on a mounted drive.
    static bool isDriveMountedForPath(const QString &path);
    // The mount point under "/media/" or "/mnt/" that holds the path, per the given mount table
    // (the text of /proc/self/mounts); empty when there is none.
    static QString mountPointForPath(const QString &path, const QString &mountTable);
    // Clears the immutable and append-only attributes. False (logged) when they are set and cannot
    // be cleared; a missing item or a file system without the attributes has nothing to clear.
    static bool unlockFile(const QString &path);
    // True when the item carries the immutable or append-only attribute.
    static bool isFileLocked(const QString &path);

    // Moves the item to the desktop's trash. A missing item is already gone: true.
    static bool trashFile(const QString &path, bool shouldAuth = true);
    static bool trashFile(const QString &path, std::chrono::seconds timeout);
    // Deletes the file or folder (recursively). A missing item: true.
    static bool removeFile(const QString &path, bool shouldAuth = true);
    static bool removeFile(const QString &path, std::chrono::seconds timeout);
    // Creates the folder with its missing parents; refused at once on a drive that is not mounted.
    static bool createDirectory(const QString &path, bool shouldAuth = true);
    static bool createDirectory(const QString &path, std::chrono::seconds timeout);
    // Copies a file or folder; an existing destination is not replaced by the ordinary copy.
    static bool copyFile(const QString &source, const QString &destination, bool shouldAuth = true);
    static bool copyFile(const QString &source, const QString &destination, std::chrono::seconds timeout);
    // Moves or renames, also across file systems and by letter case only.
    static bool moveFile(const QString &source, const QString &destination, bool shouldAuth = true);
    static bool moveFile(const QString &source, const QString &destination, std::chrono::seconds timeout);

    // Writes a zip archive of the file or folder; an existing archive goes to the trash first.
    // With includeParent the archive holds the folder itself, not only its contents.
    static bool compressFile(
        const QString &source, const QString &destinationFile, bool includeParent = true);

    // The path itself when free, else "name 2.ext", "name 3.ext", ...
    static QString uniqueFilename(const QString &path);
    static QString formatFileSize(double size);
    // The extension of the last path component ("" for none, for ".hidden" and for "name.").
    static QString pathExtension(const QString &path);
    static QString stringByDeletingPathExtension(const QString &path);

    // Paths matching a pattern whose components may hold "*" (any run) and "?" (one character),
    // letter case significant; a pattern without "*" is answered as it is, existing or not.
    // searchSubdirs has no effect.
    static QStringList filesMatchingWildcardPath(
        const QString &wildcardPath, const QString &basePath = {}, bool searchSubdirs = false);
    static bool matchesWildcard(const QString &name, const QString &pattern);
};
