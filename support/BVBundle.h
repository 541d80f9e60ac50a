#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

// The information dictionary of a program ("CFBundleIdentifier", "CFBundleVersion",
// "CFBundleShortVersionString", "CFBundleName", "CFBundleDisplayName", "CFBundleExecutable",
// "BVShortName", "BVVAppID"), compiled in from the build. Each program names its bundle once at
// start-up with setMainBundle(); library code asks mainBundle().
class BVBundle
{
public:
    static BVBundle reelmark();
    static BVBundle prefsync();
    // Looks a bundle up by identifier ("com.brightvane.Reelmark"); an empty bundle when unknown.
    static BVBundle bundleWithIdentifier(const QString &identifier);

    static const BVBundle &mainBundle();
    static void setMainBundle(const BVBundle &bundle);

    bool isValid() const { return !m_info.isEmpty(); }
    QString bundleIdentifier() const;
    QVariant objectForInfoDictionaryKey(const QString &key) const;
    QString stringForKey(const QString &key) const { return objectForInfoDictionaryKey(key).toString(); }
    const QVariantMap &infoDictionary() const { return m_info; }

private:
    QVariantMap m_info;
};
