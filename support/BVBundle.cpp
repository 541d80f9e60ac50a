#include "support/BVBundle.h"

#include "support/BVBundleInfo.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <mutex>

namespace {

QVariantMap makeInfo(const char *identifier, const char *name, const char *displayName,
    const char *executable, const char *shortName, const char *appID)
{
    return {
        {QStringLiteral("CFBundleIdentifier"), QString::fromLatin1(identifier)},
        {QStringLiteral("CFBundleName"), QString::fromLatin1(name)},
        {QStringLiteral("CFBundleDisplayName"), QString::fromLatin1(displayName)},
        {QStringLiteral("CFBundleExecutable"), QString::fromLatin1(executable)},
        {QStringLiteral("CFBundleVersion"), QStringLiteral(BV_BUNDLE_VERSION)},
        {QStringLiteral("CFBundleShortVersionString"), QStringLiteral(BV_SHORT_VERSION)},
        {QStringLiteral("BVShortName"), QString::fromLatin1(shortName)},
        {QStringLiteral("BVVAppID"), QString::fromLatin1(appID)},
    };
}

std::mutex s_mainMutex;
BVBundle *s_main = nullptr;

} // namespace

BVBundle BVBundle::reelmark()
{
    BVBundle b;
    b.m_info = makeInfo(
        "com.brightvane.Reelmark", "Reelmark", "Reelmark", "reelmark", "reelmark", BV_REELMARK_VAPP_ID);
    return b;
}

BVBundle BVBundle::prefsync()
{
    BVBundle b;
    b.m_info = makeInfo(
        "com.brightvane.prefsync", "prefsync", "prefsync", "prefsync", "prefsync", BV_PREFSYNC_VAPP_ID);
    return b;
}

BVBundle BVBundle::bundleWithIdentifier(const QString &identifier)
{
    for (const BVBundle &b : {reelmark(), prefsync()}) {
        if (b.bundleIdentifier() == identifier)
            return b;
    }
    return {};
}

const BVBundle &BVBundle::mainBundle()
{
    std::lock_guard lock(s_mainMutex);
    if (!s_main) {
        // A program that never named its bundle is known by its executable.
        const QString exe = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        s_main = new BVBundle(exe == QLatin1String("prefsync") ? prefsync() : reelmark());
    }
    return *s_main;
}

void BVBundle::setMainBundle(const BVBundle &bundle)
{
    std::lock_guard lock(s_mainMutex);
    if (!s_main)
        s_main = new BVBundle(bundle);
    else
        *s_main = bundle;
}

QString BVBundle::bundleIdentifier() const
{
    return m_info.value(QStringLiteral("CFBundleIdentifier")).toString();
}

QVariant BVBundle::objectForInfoDictionaryKey(const QString &key) const
{
    return m_info.value(key);
}
