// Finding an installed application by bundle identifier among the desktop entries.
#include "prefsync/BVInstalledApplication.h"

#include "common/BVTestSupport.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

QString userApplications()
{
    return qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/applications");
}

void writeEntry(const QString &folder, const QString &fileName, const QByteArray &text)
{
    QDir().mkpath(folder);
    ASSERT_TRUE(BVTest::writeFile(folder + QLatin1Char('/') + fileName, text));
}

} // namespace

TEST(InstalledApplication, FoundByFileNameOrIdentifierKeyUserFolderFirst)
{
    const QString system = BVTest::makeTempFolder(QStringLiteral("data")) + QStringLiteral("/applications");
    qputenv("XDG_DATA_DIRS", QFileInfo(system).absolutePath().toUtf8());
    writeEntry(userApplications(), QStringLiteral("com.brightvane.Named.desktop"),
        "[Desktop Entry]\nName[de]=Benannt\nName=Named App\nExec=named\n");
    writeEntry(userApplications(), QStringLiteral("keyed-app.desktop"),
        "# comment\n[Desktop Entry]\nName=Keyed\\sApp\nExec=keyed\n"
        "X-Brightvane-BundleIdentifier=com.brightvane.Keyed\n[Desktop Action new]\nName=Other\n");
    writeEntry(system, QStringLiteral("com.brightvane.Named.desktop"), "[Desktop Entry]\nName=System Copy\n");
    writeEntry(system, QStringLiteral("com.brightvane.SystemOnly.desktop"), "[Desktop Entry]\nName=System\n");
    writeEntry(userApplications(), QStringLiteral("com.brightvane.Removed.desktop"),
        "[Desktop Entry]\nName=Removed\nHidden=true\n");
    writeEntry(userApplications(), QStringLiteral("elsewhere.desktop"),
        "[Other Group]\nX-Brightvane-BundleIdentifier=com.brightvane.Elsewhere\nName=No\n");

    const struct
    {
        const char *identifier;
        const char *name; // nullptr: not installed
    } cases[] = {
        {"com.brightvane.Named", "Named App"},
        {"com.brightvane.Keyed", "Keyed App"},
        {"com.brightvane.SystemOnly", "System"},
        {"com.brightvane.Removed", nullptr},
        {"com.brightvane.Elsewhere", nullptr},
        {"com.brightvane.Missing", nullptr},
        {"../com.brightvane.Named", nullptr},
    };
    for (const auto &c : cases) {
        const auto app
            = BVInstalledApplication::applicationWithBundleIdentifier(QString::fromLatin1(c.identifier));
        if (!c.name) {
            EXPECT_FALSE(app.has_value()) << c.identifier;
            continue;
        }
        ASSERT_TRUE(app.has_value()) << c.identifier;
        EXPECT_EQ(app->displayName().toStdString(), c.name) << c.identifier;
    }
}

TEST(InstalledApplication, LaunchCommandDropsFieldCodesAndKeepsQuotedWords)
{
    writeEntry(userApplications(), QStringLiteral("com.brightvane.Quoted.desktop"),
        "[Desktop Entry]\nName=Quoted\nExec=\"/opt/My App/run\" --flag %F 100%% %u\n");
    const auto app
        = BVInstalledApplication::applicationWithBundleIdentifier(QStringLiteral("com.brightvane.Quoted"));
    ASSERT_TRUE(app.has_value());
    EXPECT_EQ(app->launchCommand(),
        (QStringList {QStringLiteral("/opt/My App/run"), QStringLiteral("--flag"), QStringLiteral("100%")}));
}
