#include "platform/defaults/BVUserDefaults.h"

#include "platform/defaults/BVPropertyList.h"
#include "support/BVBundle.h"
#include "support/BVLocalPaths.h"
#include "support/BVLog.h"
#include "support/BVSupportSettings.h"
#include "support/BVWorkQueue.h"

#include <QFileInfo>

#include <map>

namespace {

std::mutex s_registryMutex;
std::map<QString, std::unique_ptr<BVUserDefaults>> &registry()
{
    static std::map<QString, std::unique_ptr<BVUserDefaults>> domains;
    return domains;
}

// Alerts (support, below this store) read and write their suppression settings through these.
[[maybe_unused]] const bool s_supportSettingsInstalled = [] {
    BVSupportSettings::setUserDefaults(
        [](const QString &key) { return BVUserDefaults::standardUserDefaults()->boolForKey(key); },
        [](bool value, const QString &key) { BVUserDefaults::standardUserDefaults()->setBool(value, key); });
    return true;
}();

} // namespace

BVUserDefaults *BVUserDefaults::standardUserDefaults()
{
    return defaultsForDomain(BVBundle::mainBundle().bundleIdentifier());
}

BVUserDefaults *BVUserDefaults::defaultsForDomain(const QString &domain)
{
    std::lock_guard lock(s_registryMutex);
    auto &domains = registry();
    auto it = domains.find(domain);
    if (it == domains.end())
        it = domains.emplace(domain, std::unique_ptr<BVUserDefaults>(new BVUserDefaults(domain))).first;
    return it->second.get();
}

void BVUserDefaults::resetAll()
{
    std::map<QString, std::unique_ptr<BVUserDefaults>> old;
    {
        std::lock_guard lock(s_registryMutex);
        old.swap(registry());
    }
    for (auto &[domain, defaults] : old)
        defaults->synchronize();
}

BVUserDefaults::BVUserDefaults(QString domain)
    : m_domain(std::move(domain))
    , m_saveQueue(std::make_unique<BVWorkQueue>(QStringLiteral("bv.defaults")))
{ }

BVUserDefaults::~BVUserDefaults()
{
    m_saveQueue->waitUntilEmpty();
}

QString BVUserDefaults::filePath() const
{
    return BVLocalPaths::prefsDirectory(true) + u'/' + m_domain + QStringLiteral(".plist");
}

void BVUserDefaults::loadIfNeeded() const
{
    if (m_loaded)
        return;
    m_loaded = true;
    const QString path = filePath();
    if (!QFileInfo::exists(path))
        return;
    const std::optional<QVariant> stored = BVPropertyList::read(path);
    if (!stored || stored->typeId() != QMetaType::QVariantMap) {
        BVLog::appendLog("Unable to read the settings file %@; starting from the defaults", path);
        return;
    }
    m_values = stored->toMap();
}

void BVUserDefaults::registerDefaults(const QVariantMap &defaults)
{
    std::lock_guard lock(m_mutex);
    for (auto it = defaults.begin(); it != defaults.end(); ++it)
        m_registered.insert(it.key(), it.value());
}

QVariantMap BVUserDefaults::registeredDefaults() const
{
    std::lock_guard lock(m_mutex);
    return m_registered;
}

QVariant BVUserDefaults::objectForKey(const QString &key) const
{
    std::lock_guard lock(m_mutex);
    loadIfNeeded();
    auto it = m_values.constFind(key);
    if (it != m_values.constEnd())
        return it.value();
    return m_registered.value(key);
}

bool BVUserDefaults::hasStoredValue(const QString &key) const
{
    std::lock_guard lock(m_mutex);
    loadIfNeeded();
    return m_values.contains(key);
}

bool BVUserDefaults::boolForKey(const QString &key) const
{
    const QVariant v = objectForKey(key);
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed().toLower();
        return s == QLatin1String("yes") || s == QLatin1String("true") || s.toLongLong() != 0;
    }
    return v.toBool();
}

qlonglong BVUserDefaults::integerForKey(const QString &key) const
{
    const QVariant v = objectForKey(key);
    if (v.typeId() == QMetaType::Double)
        return qlonglong(v.toDouble());
    if (v.typeId() == QMetaType::QString)
        return qlonglong(v.toString().toDouble());
    return v.toLongLong();
}

float BVUserDefaults::floatForKey(const QString &key) const
{
    return float(doubleForKey(key));
}

double BVUserDefaults::doubleForKey(const QString &key) const
{
    return objectForKey(key).toDouble();
}

QString BVUserDefaults::stringForKey(const QString &key) const
{
    const QVariant v = objectForKey(key);
    switch (v.typeId()) {
    case QMetaType::QString:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double:
    case QMetaType::Bool:
        return v.toString();
    default:
        return {};
    }
}

QByteArray BVUserDefaults::dataForKey(const QString &key) const
{
    const QVariant v = objectForKey(key);
    return v.typeId() == QMetaType::QByteArray ? v.toByteArray() : QByteArray();
}

QDateTime BVUserDefaults::dateForKey(const QString &key) const
{
    const QVariant v = objectForKey(key);
    return v.typeId() == QMetaType::QDateTime ? v.toDateTime() : QDateTime();
}

QVariantMap BVUserDefaults::dictionaryForKey(const QString &key) const
{
    const QVariant v = objectForKey(key);
    return v.typeId() == QMetaType::QVariantMap ? v.toMap() : QVariantMap();
}

QVariantList BVUserDefaults::arrayForKey(const QString &key) const
{
    const QVariant v = objectForKey(key);
    return v.typeId() == QMetaType::QVariantList || v.typeId() == QMetaType::QStringList ? v.toList()
                                                                                         : QVariantList();
}

void BVUserDefaults::setObject(const QVariant &value, const QString &key)
{
    if (!value.isValid() || value.isNull()) {
        removeObjectForKey(key);
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        loadIfNeeded();
        m_values.insert(key, value);
    }
    scheduleSave();
}

void BVUserDefaults::removeObjectForKey(const QString &key)
{
    {
        std::lock_guard lock(m_mutex);
        loadIfNeeded();
        if (m_values.remove(key) == 0)
            return;
    }
    scheduleSave();
}

QVariantMap BVUserDefaults::persistentDomain() const
{
    std::lock_guard lock(m_mutex);
    loadIfNeeded();
    return m_values;
}

void BVUserDefaults::scheduleSave()
{
    {
        std::lock_guard lock(m_mutex);
        // Changes made while a save is queued ride along with it.
        if (m_saveScheduled)
            return;
        m_saveScheduled = true;
    }
    m_saveQueue->async([this] {
        QVariantMap snapshot;
        {
            std::lock_guard lock(m_mutex);
            m_saveScheduled = false;
            snapshot = m_values;
        }
        const QString path = filePath();
        const bool ok = BVPropertyList::write(snapshot, path);
        if (!ok)
            BVLog::appendLog("Unable to write the settings file %@", path);
        std::lock_guard lock(m_mutex);
        m_lastSaveOK = ok;
    });
}

bool BVUserDefaults::synchronize()
{
    m_saveQueue->waitUntilEmpty();
    std::lock_guard lock(m_mutex);
    return m_lastSaveOK;
}

void BVUserDefaults::reload()
{
    m_saveQueue->waitUntilEmpty();
    std::lock_guard lock(m_mutex);
    m_loaded = false;
    m_values.clear();
    loadIfNeeded();
}
