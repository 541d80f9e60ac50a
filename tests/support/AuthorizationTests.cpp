#include "FileTestSupport.h"
#include "common/BVTestSupport.h"
#include "support/BVAuthorization.h"
#include "support/BVAuthorizationPkexecRunner.h"
#include "support/BVFileManager.h"
#include "support/BVLocalPaths.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

using FileTest::ConsoleWatcher;
using FileTest::ScopedRunner;

namespace {

BVAuthorization *auth()
{
    return BVAuthorization::sharedController();
}

void touch(const QString &path, const QByteArray &content = "x")
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    ASSERT_TRUE(BVTest::writeFile(path, content));
}

} // namespace

TEST(Authorization, ProtectedFoldersAreRefusedWithAndWithoutATrailingSlash)
{
    ScopedRunner runner;
    ConsoleWatcher console;
    const QString home = BVLocalPaths::userDirectory();
    const QString folders[] = {
        BVLocalPaths::applicationDirectory(false),
        BVLocalPaths::applicationDirectory(false) + "/",
        BVLocalPaths::applicationDirectory(true) + "/",
        home,
        home + "/",
        home + "/./",
        "/",
        "//usr/lib",
        BVLocalPaths::libraryDirectory(true) + "/Preferences/..",
    };
    for (const QString &folder : folders) {
        EXPECT_FALSE(auth()->authRemoveFile(folder)) << folder.toStdString();
        EXPECT_FALSE(auth()->authTrashFile(folder)) << folder.toStdString();
        EXPECT_FALSE(auth()->authMoveFile(folder, home + "/elsewhere")) << folder.toStdString();
        EXPECT_TRUE(
            console.contains("Unable to delete path " + folder + " because it is a system directory."));
        EXPECT_TRUE(
            console.contains("Unable to trash path " + folder + " because it is a system directory."));
        EXPECT_TRUE(console.contains("Unable to move path " + folder + " because it is a system directory."));
    }
    EXPECT_EQ(runner->prompts, 0);
    EXPECT_TRUE(runner->calls.isEmpty());
}

TEST(Authorization, AdministratorRightIsAskedOnceAndKeptUntilAuthEnd)
{
    ScopedRunner runner;
    const QString dir = BVTest::makeTempFolder();
    EXPECT_FALSE(auth()->isAuthorized());
    EXPECT_TRUE(auth()->authCreateDir(dir + "/one/two"));
    EXPECT_TRUE(auth()->authCreateDir(dir + "/three"));
    EXPECT_EQ(runner->prompts, 1);
    EXPECT_EQ(runner->promptedFor, QStringList {"mkdir"});
    EXPECT_TRUE(auth()->isAuthorized());
    EXPECT_TRUE(QFileInfo(dir + "/one/two").isDir());
    ASSERT_EQ(runner->calls.size(), 2);
    EXPECT_EQ(runner->calls[0].request, (QStringList {"mkdir", dir + "/one/two"}));
    // With rights from the user, only the fixed file operations run: never a tool of choice.
    EXPECT_EQ(auth()->authExecTask("/bin/true", {}), -1);
    EXPECT_EQ(runner->calls.size(), 2);

    auth()->authEnd();
    EXPECT_FALSE(auth()->isAuthorized());
    EXPECT_TRUE(auth()->authCreateDir(dir + "/four"));
    EXPECT_EQ(runner->prompts, 2);
}

TEST(Authorization, RefusedPromptFailsTheCallAndAsksAgainNextTime)
{
    ScopedRunner runner;
    runner->grant = false;
    const QString dir = BVTest::makeTempFolder();
    touch(dir + "/a.mov");
    EXPECT_FALSE(auth()->authStart());
    EXPECT_FALSE(auth()->authRemoveFile(dir + "/a.mov"));
    EXPECT_EQ(auth()->authExecTask("/bin/true", {}), -1);
    EXPECT_EQ(runner->prompts, 2);
    EXPECT_TRUE(runner->calls.isEmpty());
    EXPECT_TRUE(QFileInfo::exists(dir + "/a.mov"));
}

TEST(Authorization, ExecTaskAnswersStatusCodes)
{
    ScopedRunner runner;
    ConsoleWatcher console;
    EXPECT_EQ(auth()->authExecTask("/no/such/tool", {}), -2);
    EXPECT_TRUE(console.contains("Unable to execute task: path /no/such/tool doesn't exist"));
    EXPECT_EQ(runner->prompts, 0);

    // The superuser runs the tool as an ordinary child, waiting or not.
    auth()->setSuperuserForTesting(true);
    const QString marker = BVTest::makeTempFolder() + "/ran";
    EXPECT_EQ(auth()->authExecTask("/bin/sh", {"-c", "touch \"$1\"", "sh", marker}, false), 0);
    EXPECT_TRUE(QFileInfo::exists(marker));
    EXPECT_EQ(runner->prompts, 0);
}

TEST(Authorization, MoveAndCopyRefuseMissingPaths)
{
    ScopedRunner runner;
    ConsoleWatcher console;
    const QString dir = BVTest::makeTempFolder();
    EXPECT_FALSE(auth()->authMoveFile(QString(), dir + "/b"));
    EXPECT_FALSE(auth()->authMoveFile(dir + "/a", QString()));
    EXPECT_FALSE(auth()->authCopyFile(QString(), dir + "/b"));
    EXPECT_FALSE(auth()->authCopyFile(dir + "/a", QString()));
    EXPECT_FALSE(auth()->authMoveFile(dir + "/missing", dir + "/b"));
    EXPECT_FALSE(auth()->authCopyFile(dir + "/missing", dir + "/b"));
    for (const char *line :
        {"Error in authMoveFile: old path is null", "Error in authMoveFile: new path is null",
            "Error in authCopyFile: old path is null", "Error in authCopyFile: new path is null"})
        EXPECT_TRUE(console.contains(QString::fromLatin1(line))) << line;
    EXPECT_TRUE(runner->calls.isEmpty());
}

TEST(Authorization, PrivilegedTrashAppendsTheLocalTimeWhenTheNameIsTaken)
{
    ScopedRunner runner;
    const QString dir = BVTest::makeTempFolder();
    const QString trash = BVLocalPaths::trashDirectory() + "/files";
    touch(trash + "/movie.mov", "older");
    touch(trash + "/notes", "older");
    touch(dir + "/movie.mov", "newer");
    touch(dir + "/notes", "newer");
    touch(dir + "/fresh.mov", "fresh");

    const QString before = QDateTime::currentDateTime().toString("yyyyMMddHHmmss");
    EXPECT_TRUE(auth()->authTrashFile(dir + "/movie.mov"));
    EXPECT_TRUE(auth()->authTrashFile(dir + "/notes"));
    EXPECT_TRUE(auth()->authTrashFile(dir + "/fresh.mov"));
    const QString after = QDateTime::currentDateTime().toString("yyyyMMddHHmmss");
    ASSERT_EQ(runner->calls.size(), 3);

    const QRegularExpression stamped("^trash " + QRegularExpression::escape(dir) + "/movie\\.mov "
        + QRegularExpression::escape(trash) + "/movie_(\\d{14})\\.mov$");
    const QRegularExpressionMatch match = stamped.match(runner->calls[0].line());
    ASSERT_TRUE(match.hasMatch()) << runner->calls[0].line().toStdString();
    EXPECT_GE(match.captured(1), before);
    EXPECT_LE(match.captured(1), after);
    // An item without extension gets the time and no dangling dot.
    EXPECT_TRUE(QRegularExpression("/notes_\\d{14}$").match(runner->calls[1].line()).hasMatch())
        << runner->calls[1].line().toStdString();
    EXPECT_EQ(runner->calls[2].request.last(), trash + "/fresh.mov");

    EXPECT_EQ(BVTest::readFile(trash + "/movie.mov"), QByteArray("older"));
    EXPECT_EQ(BVTest::readFile(trash + "/movie_" + match.captured(1) + ".mov"), QByteArray("newer"));
    EXPECT_TRUE(QFileInfo::exists(BVLocalPaths::trashDirectory() + "/info/fresh.mov.trashinfo"));

    // A second item of the same name within the same second does not replace the first.
    touch(dir + "/movie.mov", "newest");
    EXPECT_TRUE(auth()->authTrashFile(dir + "/movie.mov"));
    EXPECT_EQ(QDir(trash).entryList({"movie*.mov"}).size(), 3);
}

TEST(Authorization, FailingToolIsReportedAsFailure)
{
    ScopedRunner runner;
    const QString dir = BVTest::makeTempFolder();
    touch(dir + "/a.txt");
    EXPECT_FALSE(auth()->authCopyFile(dir + "/a.txt", dir + "/no/such/folder/a.txt"));
    ASSERT_EQ(runner->calls.size(), 1);
    EXPECT_EQ(
        runner->calls[0].request, (QStringList {"copy", dir + "/a.txt", dir + "/no/such/folder/a.txt"}));
}

TEST(Authorization, SuperuserRunsTheFileToolsDirectly)
{
    ScopedRunner runner;
    auth()->setSuperuserForTesting(true);
    const QString dir = BVTest::makeTempFolder();
    touch(dir + "/a.txt", "a");
    EXPECT_TRUE(auth()->isAuthorized());
    EXPECT_TRUE(auth()->authCreateDir(dir + "/made/deep"));
    EXPECT_TRUE(auth()->authCopyFile(dir + "/a.txt", dir + "/made/b.txt"));
    EXPECT_TRUE(auth()->authMoveFile(dir + "/made/b.txt", dir + "/made/deep/c.txt"));
    EXPECT_EQ(BVTest::readFile(dir + "/made/deep/c.txt"), QByteArray("a"));
    EXPECT_TRUE(auth()->authRemoveFile(dir + "/made"));
    EXPECT_FALSE(QFileInfo::exists(dir + "/made"));
    EXPECT_FALSE(auth()->authCopyFile(dir + "/a.txt", dir + "/missing/folder/a.txt"));
    EXPECT_EQ(runner->prompts, 0);
    EXPECT_TRUE(runner->calls.isEmpty());
}
