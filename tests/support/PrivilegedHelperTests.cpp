#include "FileTestSupport.h"
#include "common/BVTestSupport.h"
#include "support/BVAuthorization.h"
#include "support/BVAuthorizationPkexecRunner.h"
#include "support/BVFileManager.h"
#include "support/BVLocalPaths.h"
#include "support/helper/BVPrivilegedPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <unistd.h>

using FileTest::ConsoleWatcher;
using FileTest::ScopedRunner;

namespace {

BVAuthorization *auth()
{
    return BVAuthorization::sharedController();
}

QString helper()
{
    return QStringLiteral(BV_BINARY_DIR "/reelmark-privileged-helper");
}

// The system's own folders and files, the home folder and paths that lead to them through links.
QStringList protectedPaths(const QString &linkFolder)
{
    const QString home = BVLocalPaths::userDirectory();
    QDir().mkpath(linkFolder);
    QFile::link(QStringLiteral("/usr"), linkFolder + "/usr-link");
    QFile::link(QStringLiteral("/etc"), linkFolder + "/etc-link");
    QFile::link(home, linkFolder + "/home-link");
    return {"/", "/etc", "/etc/", "/usr", "/bin", "/boot", "/var", "/root", "/opt", "/lib", "/lib64", "/sbin",
        "/dev", "/proc", "/run", "/srv", "/sys", "/etc/passwd", "/usr/share", "/usr/bin/env", "/var/log",
        "/usr/local", "/home", "/tmp", home, home + "/", linkFolder + "/usr-link",
        linkFolder + "/usr-link/share", linkFolder + "/etc-link/passwd", linkFolder + "/home-link",
        home + "/../" + QFileInfo(home).fileName()};
}

struct HelperResult
{
    int exitCode;
    QString error;
};

HelperResult runHelper(const QStringList &arguments)
{
    QProcess process;
    process.start(helper(), arguments);
    process.waitForFinished(30000);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardError())};
}

void touch(const QString &path, const QByteArray &content = "x")
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    ASSERT_TRUE(BVTest::writeFile(path, content));
}

} // namespace

TEST(PrivilegedPaths, SystemFoldersTheirContentsAndTheHomeFolderAreProtected)
{
    const QString home = QStringLiteral("/home/editor");
    const struct
    {
        const char *path;
        bool protectedPath;
    } cases[] = {
        {"/", true},
        {"/etc", true},
        {"/etc/passwd", true},
        {"/etc/ssh/sshd_config", true},
        {"/usr", true},
        {"/usr/lib/x86_64-linux-gnu", true},
        {"/bin", true},
        {"/boot/vmlinuz", true},
        {"/var", true},
        {"/var/log", true},
        {"/var/lib/dpkg", true},
        {"/root", true},
        {"/opt", true},
        {"/opt/tool", true},
        {"/lib", true},
        {"/lib32", true},
        {"/libx32/x", true},
        {"/proc/1", true},
        {"/sys", true},
        {"/srv", true},
        {"/run/user", true},
        {"/sbin/init", true},
        {"/dev/sda", true},
        {"/home", true},
        {"/home/editor", true},
        {"/home/other", true},
        {"/tmp", true},
        {"/data", true},
        {"/usr/local", true},
        {"/usr/local/bin", true},
        {"/home/editor/Movies/cut.mov", false},
        {"/opt/tool/cache", false},
        {"/var/tmp/render", false},
        {"/tmp/render.mov", false},
        {"/usr/local/share/reelmark", false},
        {"/data/projects", false},
        {"/media/disk/reel.mov", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(BVPrivilegedPaths::isProtected(QString::fromLatin1(c.path), home), c.protectedPath)
            << c.path;
}

// The guard of the program itself: every protected path is refused for removal, trashing, as the
// source of a move and as the destination of a move or copy, before anyone is asked for rights.
TEST(PrivilegedPaths, AuthorizationRefusesProtectedPathsAndLinksToThem)
{
    ScopedRunner runner;
    ConsoleWatcher console;
    const QString dir = BVTest::makeTempFolder();
    touch(dir + "/a.txt");
    for (const QString &path : protectedPaths(dir + "/links")) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_FALSE(auth()->authRemoveFile(path));
        EXPECT_FALSE(auth()->authTrashFile(path));
        EXPECT_FALSE(auth()->authMoveFile(path, dir + "/moved-away"));
        EXPECT_FALSE(auth()->authMoveFile(dir + "/a.txt", path));
        EXPECT_FALSE(auth()->authCopyFile(dir + "/a.txt", path));
        EXPECT_TRUE(console.contains("Unable to delete path " + path + " because it is a system directory."));
    }
    EXPECT_EQ(runner->prompts, 0);
    EXPECT_TRUE(runner->calls.isEmpty());
    EXPECT_TRUE(QFileInfo::exists(dir + "/a.txt"));
}

// The helper checks every request itself, whoever sends it.
TEST(PrivilegedHelper, RefusesEveryProtectedPathItself)
{
    ASSERT_TRUE(QFileInfo(helper()).isExecutable()) << helper().toStdString();
    const QString dir = BVTest::makeTempFolder();
    touch(dir + "/a.txt");
    for (const QString &path : protectedPaths(dir + "/links")) {
        SCOPED_TRACE(path.toStdString());
        for (const QStringList &request :
            {QStringList {"remove", path}, QStringList {"move", path, dir + "/away"},
                QStringList {"move", dir + "/a.txt", path}, QStringList {"copy", dir + "/a.txt", path},
                QStringList {"trash", path, BVLocalPaths::trashDirectory() + "/files/x"}}) {
            const HelperResult result = runHelper(request);
            EXPECT_NE(result.exitCode, 0) << request.join(' ').toStdString();
            EXPECT_TRUE(result.error.contains("system directory") || result.error.contains("File exists")
                || result.error.contains("No such file"))
                << result.error.toStdString();
        }
    }
    EXPECT_TRUE(QFileInfo::exists(dir + "/a.txt"));
    // Unknown operations and relative paths are refused.
    EXPECT_NE(runHelper({"exec", "/bin/sh"}).exitCode, 0);
    EXPECT_NE(runHelper({"remove", "relative/path"}).exitCode, 0);
    EXPECT_NE(runHelper({"trash", dir + "/a.txt", dir + "/not-the-trash"}).exitCode, 0);
    EXPECT_TRUE(QFileInfo::exists(dir + "/a.txt"));
}

// The runner drives the real helper (started without pkexec): one start serves every request, the
// words arrive exactly as given (no shell reads them), destinations are never replaced and never
// taken for folders to move into.
TEST(PrivilegedHelper, ServesRequestsAsArgumentVectorsWithoutAShell)
{
    BVAuthorizationPkexecRunner runner({helper()});
    EXPECT_FALSE(runner.hasRight());
    ASSERT_TRUE(runner.obtainRight("move"));
    EXPECT_TRUE(runner.hasRight());

    const QString dir = BVTest::makeTempFolder();
    QDir::setCurrent(dir);
    const QString tricky = dir + "/it's \"quoted\" $(touch pwned) `touch pwned2` ; touch pwned3 \\\nline";
    QString message;
    EXPECT_EQ(runner.perform({"mkdir", tricky + "/inner"}, &message), 0) << message.toStdString();
    EXPECT_TRUE(QFileInfo(tricky + "/inner").isDir());
    touch(tricky + "/inner/clip.mov", "frames");
    EXPECT_EQ(runner.perform({"copy", tricky + "/inner/clip.mov", tricky + "/copy $HOME.mov"}, &message), 0)
        << message.toStdString();
    EXPECT_EQ(BVTest::readFile(tricky + "/copy $HOME.mov"), QByteArray("frames"));
    EXPECT_EQ(runner.perform({"move", tricky + "/copy $HOME.mov", dir + "/moved;.mov"}, &message), 0);
    EXPECT_EQ(BVTest::readFile(dir + "/moved;.mov"), QByteArray("frames"));
    for (const char *pwned : {"pwned", "pwned2", "pwned3"}) {
        EXPECT_FALSE(QFileInfo::exists(dir + "/" + pwned)) << pwned;
        EXPECT_FALSE(QFileInfo::exists(QDir::currentPath() + "/" + pwned)) << pwned;
    }

    // An existing destination is never replaced; a folder named as destination is not entered.
    touch(dir + "/keep.mov", "keep");
    touch(dir + "/new.mov", "new");
    QDir().mkpath(dir + "/folder");
    EXPECT_EQ(runner.perform({"move", dir + "/new.mov", dir + "/keep.mov"}, &message), EEXIST);
    EXPECT_EQ(runner.perform({"copy", dir + "/new.mov", dir + "/keep.mov"}, &message), EEXIST);
    EXPECT_EQ(runner.perform({"move", dir + "/new.mov", dir + "/folder"}, &message), EEXIST);
    EXPECT_EQ(runner.perform({"copy", dir + "/new.mov", dir + "/folder"}, &message), EEXIST);
    EXPECT_EQ(BVTest::readFile(dir + "/keep.mov"), QByteArray("keep"));
    EXPECT_TRUE(QDir(dir + "/folder").isEmpty());
    EXPECT_EQ(runner.perform({"move", dir + "/gone.mov", dir + "/x.mov"}, &message), ENOENT);

    EXPECT_EQ(runner.perform({"remove", tricky}, &message), 0);
    EXPECT_FALSE(QFileInfo::exists(tricky));
    EXPECT_EQ(runner.perform({"remove", "/etc"}, &message), EPERM);
    EXPECT_TRUE(message.contains("system directory")) << message.toStdString();

    runner.releaseRight();
    EXPECT_FALSE(runner.hasRight());
    EXPECT_NE(runner.perform({"mkdir", dir + "/after"}, &message), 0);
    EXPECT_FALSE(QFileInfo::exists(dir + "/after"));
}

TEST(PrivilegedHelper, RefusedAuthenticationHoldsNoRight)
{
    BVAuthorizationPkexecRunner refused({"/bin/false"});
    EXPECT_FALSE(refused.obtainRight("remove"));
    EXPECT_FALSE(refused.hasRight());
    BVAuthorizationPkexecRunner missing({"/no/such/launcher"});
    EXPECT_FALSE(missing.obtainRight("remove"));
    // The default launcher is pkexec with the helper beside the programs.
    EXPECT_EQ(BVAuthorizationPkexecRunner::defaultLauncher(),
        (QStringList {"/usr/bin/pkexec", QFileInfo(helper()).canonicalFilePath()}));
}

// Only a failure for lack of permission asks for the administrator: a missing source, an existing
// destination or a folder of the destination's name fail at once and replace nothing.
TEST(PrivilegedFallback, OnlyPermissionFailuresAskAndNothingIsReplaced)
{
    ScopedRunner runner;
    const QString dir = BVTest::makeTempFolder();
    touch(dir + "/a.mov", "a");
    touch(dir + "/b.mov", "b");
    QDir().mkpath(dir + "/folder");
    EXPECT_FALSE(BVFileManager::moveFile(dir + "/a.mov", dir + "/b.mov"));
    EXPECT_FALSE(BVFileManager::copyFile(dir + "/a.mov", dir + "/b.mov"));
    EXPECT_FALSE(BVFileManager::moveFile(dir + "/a.mov", dir + "/folder"));
    EXPECT_FALSE(BVFileManager::copyFile(dir + "/a.mov", dir + "/folder"));
    EXPECT_FALSE(BVFileManager::moveFile(dir + "/missing.mov", dir + "/c.mov"));
    EXPECT_FALSE(BVFileManager::copyFile(dir + "/missing.mov", dir + "/c.mov"));
    EXPECT_EQ(runner->prompts, 0);
    EXPECT_TRUE(runner->calls.isEmpty());
    EXPECT_EQ(BVTest::readFile(dir + "/b.mov"), QByteArray("b"));
    EXPECT_TRUE(QDir(dir + "/folder").isEmpty());

    // A folder nobody may change (the superuser included): now the administrator is asked, once.
    QDir().mkpath(dir + "/sealed");
    if (!FileTest::setImmutable(dir + "/sealed", true))
        GTEST_SKIP() << "the immutable attribute cannot be set here";
    runner->performs = false;
    EXPECT_TRUE(BVFileManager::moveFile(dir + "/a.mov", dir + "/sealed/a.mov"));
    FileTest::setImmutable(dir + "/sealed", false);
    EXPECT_EQ(runner->prompts, 1);
    EXPECT_EQ(runner->promptedFor, QStringList {"move"});
    ASSERT_EQ(runner->calls.size(), 1);
    EXPECT_EQ(runner->calls[0].request, (QStringList {"move", dir + "/a.mov", dir + "/sealed/a.mov"}));
}

// The build installs the helper beside the programs and its polkit policy, one action per
// operation, each matched on the helper's path and first argument.
TEST(PrivilegedHelper, BuildInstallsTheHelperAndItsPolicy)
{
    const QString prefix = BVTest::makeTempFolder();
    QProcess install;
    install.start(QStringLiteral("cmake"), {"--install", BV_BINARY_DIR, "--prefix", prefix});
    ASSERT_TRUE(install.waitForFinished(120000));
    ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();
    EXPECT_TRUE(QFileInfo(prefix + "/bin/reelmark-privileged-helper").isExecutable());
    const QString policy = QString::fromUtf8(BVTest::readFile(
        prefix + "/share/polkit-1/actions/com.brightvane.reelmark.privileged-helper.policy"));
    ASSERT_FALSE(policy.isEmpty());
    for (const char *operation : {"remove", "move", "copy", "mkdir", "trash"}) {
        SCOPED_TRACE(operation);
        EXPECT_TRUE(
            policy.contains(QStringLiteral("<action id=\"com.brightvane.reelmark.privileged-helper.%1\">")
                                .arg(QLatin1String(operation))));
        EXPECT_TRUE(policy.contains(
            QStringLiteral("org.freedesktop.policykit.exec.argv1\">%1<").arg(QLatin1String(operation))));
    }
    EXPECT_EQ(policy.count("/bin/reelmark-privileged-helper</annotate>"), 5);
    EXPECT_FALSE(policy.contains("/bin/sh"));
}
