#include "support/BVLocalPaths.h"
#include "support/BVOSDetect.h"
#include "support/BVPowerAssertion.h"

#include "common/BVTestSupport.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

TEST(LocalPaths, FoldersFollowHomeAndXDGAtTheMomentOfUse)
{
    const QString home = BVTest::homeDirectory();
    EXPECT_EQ(BVLocalPaths::userDirectory(), home);
    EXPECT_EQ(BVLocalPaths::libraryDirectory(true), home + "/.local/share/Brightvane");
    EXPECT_EQ(BVLocalPaths::prefsDirectory(true), home + "/.local/share/Brightvane/Preferences");
    EXPECT_EQ(BVLocalPaths::logDirectory(true), home + "/.local/share/Brightvane/Logs");
    EXPECT_EQ(BVLocalPaths::cacheDirectory(true), home + "/.cache");
    EXPECT_EQ(BVLocalPaths::desktopDirectory(), home + "/Desktop");

    const QByteArray saved = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", (home + "/elsewhere").toUtf8());
    EXPECT_EQ(BVLocalPaths::cacheDirectory(true), home + "/elsewhere");
    qputenv("XDG_CACHE_HOME", "relative/is/ignored");
    EXPECT_EQ(BVLocalPaths::cacheDirectory(true), home + "/.cache");
    qputenv("XDG_CACHE_HOME", saved);

    // The desktop folder named in user-dirs.dirs wins.
    ASSERT_TRUE(
        BVTest::writeFile(home + "/.config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"));
    EXPECT_EQ(BVLocalPaths::desktopDirectory(), home + "/Schreibtisch");
    QFile::remove(home + "/.config/user-dirs.dirs");
}

TEST(LocalPaths, ProtectedFolders)
{
    struct Case
    {
        QString path;
        bool exact;
        bool expected;
    };
    const QString home = BVTest::homeDirectory();
    const Case cases[] = {
        {"/", true, true},
        {"/a", false, false},
        {"/home", true, true},
        {"/home/", true, true},
        {"/media", true, true},
        {"/mnt/", true, true},
        {"/usr/local/x", false, true},
        {"/usr/local/x", true, false},
        {"/usr", true, false},
        {"/etc/fstab", false, true},
        {"/proc/self", false, true},
        {"/variable/data", false, false},
        {home, true, true},
        {home + "/", true, true},
        {home + "/Desktop", true, true},
        {home + "/.local/share/Brightvane/Preferences/", true, true},
        {home + "/Movies/clip.mov", false, false},
        {"/media/disk/clip.mov", false, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(BVLocalPaths::isPathSystemDirectory(c.path, c.exact), c.expected)
            << c.path.toStdString() << " exact=" << c.exact;
}

TEST(LocalPaths, RandomStringsAndTemporaryFiles)
{
    const QString random = BVLocalPaths::randomString(32);
    EXPECT_EQ(random.size(), 32);
    EXPECT_TRUE(QRegularExpression("^[a-z0-9]+$").match(random).hasMatch());
    EXPECT_TRUE(BVLocalPaths::randomString(0).isEmpty());
    const QString a = BVLocalPaths::tempFile();
    const QString b = BVLocalPaths::tempFile();
    EXPECT_NE(a, b);
    EXPECT_TRUE(a.startsWith(BVLocalPaths::tempDirectory() + "/"));
    EXPECT_TRUE(QRegularExpression("/[0-9A-F-]{36}[a-z0-9]{8}$").match(a).hasMatch()) << a.toStdString();
    EXPECT_FALSE(BVLocalPaths::username().isEmpty());
}

TEST(SystemServices, VersionAndPowerAssertion)
{
    EXPECT_TRUE(QRegularExpression("^\\d+\\.\\d+\\.\\d+$").match(BVOSDetect::osxVersion()).hasMatch());
    BVPowerAssertion assertion;
    // Nothing held: releasing succeeds.
    EXPECT_TRUE(assertion.releasePowerAssertion());
    EXPECT_EQ(assertion.assertionID(), 0u);
    // Without a screen-saver service the assertion is refused, and nothing is held.
    const QByteArray saved = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    if (saved.isEmpty()) {
        EXPECT_FALSE(assertion.createPowerAssertionWithReason("Video playback"));
        EXPECT_EQ(assertion.assertionID(), 0u);
    }
}
