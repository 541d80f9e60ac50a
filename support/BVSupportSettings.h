#pragma once

#include <QString>
#include <QVariantMap>

#include <functional>

// The settings support code reads (the log's "disable-logging" switch in the shared global
// preferences, an alert's suppression checkbox) live in the settings store of platform/defaults,
// which sits above support. That store installs these readers when its code is linked in; without
// them the global preferences are read as an XML property list here, and no suppression is ticked.
// Any thread.
class BVSupportSettings
{
public:
    using GlobalPreferencesReader = std::function<QVariantMap()>;
    using BoolReader = std::function<bool(const QString &key)>;
    using BoolWriter = std::function<void(bool value, const QString &key)>;

    static void setGlobalPreferencesReader(GlobalPreferencesReader reader);
    static void setUserDefaults(BoolReader read, BoolWriter write);

    // The shared global preferences ("com.brightvane.global.plist").
    static QVariantMap globalPreferences();
    // A user setting; false without a reader. Writing without a writer does nothing.
    static bool boolForKey(const QString &key);
    static void setBool(bool value, const QString &key);
};
