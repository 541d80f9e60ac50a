#pragma once

#include <QString>

struct archive;

// Writes zip archives in-process through libarchive: regular files (deflated), folders and symbolic
// links, with their permissions and modification times. Used by BVFileManager::compressFile.
class BVZipArchiveWriter
{
public:
    // Archives the file or folder at source into zipPath (written whole or not at all). With
    // includeParent a folder's entries begin with the folder's own name. Answers false with a
    // description in error when anything fails.
    static bool write(const QString &source, const QString &zipPath, bool includeParent, QString *error);

private:
    explicit BVZipArchiveWriter(archive *a, QString skipPath)
        : m_archive(a)
        , m_skipPath(std::move(skipPath))
    { }
    bool addItem(const QString &path, const QString &entryName);
    bool addFolderContents(const QString &folder, const QString &prefix);
    bool fail(const QString &what);

    archive *m_archive;
    QString m_skipPath;
    QString m_error;
};
