#include "platform/keychain/FileCredentialBackend.h"

#include "support/BVLocalPaths.h"
#include "support/BVLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// Holds an exclusive lock on the folder's lock file for a read-modify-write, so two programs of
// the user changing the store at once do not lose each other's change.
class FileCredentialBackend::Lock
{
public:
    explicit Lock(const QString &path)
    {
        const QByteArray lockPath = QFile::encodeName(path + QStringLiteral(".lock"));
        m_fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd >= 0)
            ::flock(m_fd, LOCK_EX);
    }
    ~Lock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

QString FileCredentialBackend::defaultPath()
{
    return BVLocalPaths::libraryDirectory(true) + QStringLiteral("/Credentials/credentials.json");
}

FileCredentialBackend::FileCredentialBackend(QString path)
    : m_path(std::move(path))
{ }

namespace {

bool ensureFolder(const QString &folder)
{
    if (!QDir().mkpath(folder))
        return false;
    // Only the owner may list or enter the folder.
    return ::chmod(QFile::encodeName(folder).constData(), 0700) == 0;
}

} // namespace

bool FileCredentialBackend::read(QList<CredentialItem> *items) const
{
    items->clear();
    QFile file(m_path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        BVLog::appendLog("Credential file %@ could not be read: %@", m_path, file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        BVLog::appendLog("Credential file %@ is damaged: %@", m_path, parseError.errorString());
        return false;
    }
    for (const QJsonValue &value : document.object().value(QStringLiteral("items")).toArray()) {
        const QJsonObject object = value.toObject();
        CredentialItem item;
        item.service = object.value(QStringLiteral("service")).toString();
        item.account = object.value(QStringLiteral("account")).toString();
        item.generic = object.value(QStringLiteral("generic")).toString();
        item.secret = QByteArray::fromBase64(object.value(QStringLiteral("secret")).toString().toLatin1());
        items->append(item);
    }
    return true;
}

bool FileCredentialBackend::write(const QList<CredentialItem> &items) const
{
    if (!ensureFolder(QFileInfo(m_path).absolutePath())) {
        BVLog::appendLog("Credential folder for %@ could not be created", m_path);
        return false;
    }
    QJsonArray array;
    for (const CredentialItem &item : items) {
        QJsonObject object;
        object.insert(QStringLiteral("service"), item.service);
        object.insert(QStringLiteral("account"), item.account);
        if (!item.generic.isEmpty())
            object.insert(QStringLiteral("generic"), item.generic);
        object.insert(QStringLiteral("secret"), QString::fromLatin1(item.secret.toBase64()));
        array.append(object);
    }
    QJsonObject root;
    root.insert(QStringLiteral("items"), array);
    const QByteArray data = QJsonDocument(root).toJson(QJsonDocument::Indented);

    // Written to a new owner-only file beside it, then renamed over it: never readable by others,
    // never half written.
    const QByteArray target = QFile::encodeName(m_path);
    const QByteArray temporary = target + ".new";
    ::unlink(temporary.constData());
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        BVLog::appendLog("Credential file %@ could not be written: %s", m_path, std::strerror(errno));
        return false;
    }
    bool ok = ::fchmod(fd, 0600) == 0;
    for (qsizetype done = 0; ok && done < data.size();) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        done += n > 0 ? n : 0;
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.constData(), target.constData()) == 0;
    if (!ok) {
        BVLog::appendLog("Credential file %@ could not be written: %s", m_path, std::strerror(errno));
        ::unlink(temporary.constData());
    }
    return ok;
}

bool FileCredentialBackend::find(
    const QString &service, const QString &account, CredentialItem *item, bool *found)
{
    QList<CredentialItem> items;
    if (!read(&items))
        return false;
    *found = false;
    for (const CredentialItem &candidate : items) {
        if (candidate.service == service && candidate.account == account) {
            *item = candidate;
            *found = true;
            break;
        }
    }
    return true;
}

bool FileCredentialBackend::store(const CredentialItem &item, bool replaceGeneric)
{
    if (!ensureFolder(QFileInfo(m_path).absolutePath()))
        return false;
    Lock lock(m_path);
    QList<CredentialItem> items;
    if (!lock.held() || !read(&items))
        return false;
    for (CredentialItem &existing : items) {
        if (existing.service == item.service && existing.account == item.account) {
            existing.secret = item.secret;
            if (replaceGeneric)
                existing.generic = item.generic;
            return write(items);
        }
    }
    items.append(item);
    return write(items);
}

bool FileCredentialBackend::remove(const QString &service, const QString &account)
{
    if (!QFile::exists(m_path))
        return true;
    Lock lock(m_path);
    QList<CredentialItem> items;
    if (!lock.held() || !read(&items))
        return false;
    const qsizetype removed = items.removeIf(
        [&](const CredentialItem &item) { return item.service == service && item.account == account; });
    return removed == 0 || write(items);
}

bool FileCredentialBackend::list(const QString &service, int limit, QList<CredentialItem> *items)
{
    QList<CredentialItem> all;
    if (!read(&all))
        return false;
    items->clear();
    for (const CredentialItem &item : all) {
        if (limit >= 0 && items->size() >= limit)
            break;
        if (item.service == service)
            items->append(item);
    }
    return true;
}
