#include "support/BVSupportSettings.h"

#include <mutex>

namespace {

struct Readers
{
    std::mutex mutex;
    BVSupportSettings::GlobalPreferencesReader global;
    BVSupportSettings::BoolReader read;
    BVSupportSettings::BoolWriter write;
};

Readers &readers()
{
    static Readers r;
    return r;
}

} // namespace

void BVSupportSettings::setGlobalPreferencesReader(GlobalPreferencesReader reader)
{
    std::lock_guard lock(readers().mutex);
    readers().global = std::move(reader);
}

void BVSupportSettings::setUserDefaults(BoolReader read, BoolWriter write)
{
    std::lock_guard lock(readers().mutex);
    readers().read = std::move(read);
    readers().write = std::move(write);
}

QVariantMap BVSupportSettings::globalPreferences()
{
    GlobalPreferencesReader reader;
    {
        std::lock_guard lock(readers().mutex);
        reader = readers().global;
    }
    return reader ? reader() : QVariantMap();
}

bool BVSupportSettings::boolForKey(const QString &key)
{
    BoolReader reader;
    {
        std::lock_guard lock(readers().mutex);
        reader = readers().read;
    }
    return reader ? reader(key) : false;
}

void BVSupportSettings::setBool(bool value, const QString &key)
{
    BoolWriter writer;
    {
        std::lock_guard lock(readers().mutex);
        writer = readers().write;
    }
    if (writer)
        writer(value, key);
}
