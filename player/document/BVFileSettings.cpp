#include "player/document/BVFileSettings.h"

#include "platform/defaults/BVUserDefaults.h"

#include <mutex>

namespace {

const QString kFileSettings = QStringLiteral("fileSettings");

// The read and the write of one update belong together: two writers on two threads must not each
// write back a copy without the other's change.
std::mutex &updateLock()
{
    static std::mutex lock;
    return lock;
}

} // namespace

QString BVFileSettings::keyForURL(const QUrl &url)
{
    return url.toString(QUrl::FullyEncoded);
}

QString BVFileSettings::keyForVeloFile(qlonglong veloFileID)
{
    return QStringLiteral("velo://%1").arg(veloFileID);
}

QVariantMap BVFileSettings::entry(const QString &key)
{
    return BVUserDefaults::standardUserDefaults()->dictionaryForKey(kFileSettings).value(key).toMap();
}

void BVFileSettings::updateEntry(const QString &key, const QVariantMap &changes)
{
    if (key.isEmpty())
        return;
    std::lock_guard guard(updateLock());
    BVUserDefaults *defaults = BVUserDefaults::standardUserDefaults();
    QVariantMap entries = defaults->dictionaryForKey(kFileSettings);
    QVariantMap entry = entries.value(key).toMap();
    for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
        if (it.value().isValid())
            entry.insert(it.key(), it.value());
        else
            entry.remove(it.key());
    }
    entries.insert(key, entry);
    defaults->setObject(entries, kFileSettings);
}

void BVFileSettings::removeEntry(const QString &key)
{
    std::lock_guard guard(updateLock());
    BVUserDefaults *defaults = BVUserDefaults::standardUserDefaults();
    QVariantMap entries = defaults->dictionaryForKey(kFileSettings);
    if (entries.remove(key) == 0)
        return;
    defaults->setObject(entries, kFileSettings);
}
