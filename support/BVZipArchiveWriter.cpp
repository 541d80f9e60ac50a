#include "support/BVZipArchiveWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct EntryDeleter
{
    void operator()(archive_entry *entry) const { archive_entry_free(entry); }
};

} // namespace

bool BVZipArchiveWriter::fail(const QString &what)
{
    const char *reason = archive_error_string(m_archive);
    m_error = reason ? what + QStringLiteral(": ") + QString::fromLocal8Bit(reason) : what;
    return false;
}

bool BVZipArchiveWriter::addItem(const QString &path, const QString &entryName)
{
    if (path == m_skipPath)
        return true;
    const QByteArray nativePath = QFile::encodeName(path);
    struct stat st;
    if (lstat(nativePath.constData(), &st) != 0) {
        m_error = path + QStringLiteral(": ") + QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode))
        return true; // pipes, sockets and devices have no place in an archive
    std::unique_ptr<archive_entry, EntryDeleter> entry(archive_entry_new());
    const QString name = S_ISDIR(st.st_mode) ? entryName + u'/' : entryName;
    archive_entry_set_pathname_utf8(entry.get(), name.toUtf8().constData());
    archive_entry_set_perm(entry.get(), st.st_mode & 07777);
    archive_entry_set_mtime(entry.get(), st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    if (S_ISDIR(st.st_mode)) {
        archive_entry_set_filetype(entry.get(), AE_IFDIR);
    } else if (S_ISLNK(st.st_mode)) {
        QByteArray target(st.st_size > 0 ? st.st_size + 1 : 4096, '\0');
        const ssize_t n = readlink(nativePath.constData(), target.data(), target.size());
        if (n < 0) {
            m_error = path + QStringLiteral(": ") + QString::fromLocal8Bit(strerror(errno));
            return false;
        }
        target.truncate(n);
        archive_entry_set_filetype(entry.get(), AE_IFLNK);
        archive_entry_set_symlink(entry.get(), target.constData());
    } else {
        archive_entry_set_filetype(entry.get(), AE_IFREG);
        archive_entry_set_size(entry.get(), st.st_size);
    }
    if (archive_write_header(m_archive, entry.get()) < ARCHIVE_OK)
        return fail(path);
    if (S_ISREG(st.st_mode)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            m_error = path + QStringLiteral(": ") + file.errorString();
            return false;
        }
        QByteArray buffer(256 * 1024, Qt::Uninitialized);
        qint64 total = 0;
        for (;;) {
            const qint64 n = file.read(buffer.data(), buffer.size());
            if (n < 0) {
                m_error = path + QStringLiteral(": ") + file.errorString();
                return false;
            }
            if (n == 0)
                break;
            if (archive_write_data(m_archive, buffer.constData(), size_t(n)) < 0)
                return fail(path);
            total += n;
        }
        if (total != st.st_size) {
            m_error = path + QStringLiteral(": the file changed while it was archived");
            return false;
        }
    }
    if (S_ISDIR(st.st_mode))
        return addFolderContents(path, name);
    return true;
}

bool BVZipArchiveWriter::addFolderContents(const QString &folder, const QString &prefix)
{
    const QStringList names = QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names) {
        if (!addItem(folder + u'/' + name, prefix + name))
            return false;
    }
    return true;
}

bool BVZipArchiveWriter::write(
    const QString &source, const QString &zipPath, bool includeParent, QString *error)
{
    const QString sourcePath = QDir::cleanPath(QFileInfo(source).absoluteFilePath());
    const QString finalPath = QDir::cleanPath(QFileInfo(zipPath).absoluteFilePath());
    const QString partPath = finalPath + QStringLiteral(".part");
    archive *a = archive_write_new();
    archive_write_set_format_zip(a);
    archive_write_zip_set_compression_deflate(a);
    archive_write_set_options(a, "zip:hdrcharset=UTF-8");
    BVZipArchiveWriter writer(a, partPath);
    bool ok = archive_write_open_filename(a, QFile::encodeName(partPath).constData()) == ARCHIVE_OK
        || writer.fail(partPath);
    if (ok) {
        const QFileInfo info(sourcePath);
        if (info.isDir() && !info.isSymLink() && !includeParent)
            ok = writer.addFolderContents(sourcePath, QString());
        else
            ok = writer.addItem(sourcePath, info.fileName());
    }
    if (archive_write_close(a) != ARCHIVE_OK && ok)
        ok = writer.fail(partPath);
    archive_write_free(a);
    if (ok) {
        QFile::remove(finalPath);
        ok = QFile::rename(partPath, finalPath);
        if (!ok)
            writer.m_error = QStringLiteral("Unable to move %1 to %2").arg(partPath, finalPath);
    }
    if (!ok) {
        QFile::remove(partPath);
        if (error)
            *error = writer.m_error;
    }
    return ok;
}
