#include "FileTestSupport.h"
#include "common/BVTestSupport.h"
#include "support/BVFileManager.h"
#include "support/BVLocalPaths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace std::chrono_literals;
using FileTest::ConsoleWatcher;
using FileTest::ScopedRunner;

namespace {

// The log these tests read back is started once for the test program, and no test can ever reach
// the real privilege prompt: outside a ScopedRunner the user refuses.
class LogEnvironment : public testing::Environment
{
public:
    void SetUp() override
    {
        BVLog::createNewLog();
        auto refusing = std::make_unique<FileTest::RecordingRunner>();
        refusing->grant = false;
        BVAuthorization::sharedController()->setRunner(std::move(refusing));
    }
};
testing::Environment *const g_logEnvironment = testing::AddGlobalTestEnvironment(new LogEnvironment);

void touch(const QString &path, const QByteArray &content = "x")
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    ASSERT_TRUE(BVTest::writeFile(path, content)) << path.toStdString();
}

QStringList zipListing(const QString &zip)
{
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-Z1"), zip});
    unzip.waitForFinished(30000);
    EXPECT_EQ(unzip.exitCode(), 0) << unzip.readAllStandardError().toStdString();
    return QString::fromUtf8(unzip.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

} // namespace

TEST(FileManager, UniqueFilenameCountsUpFromTwoKeepingTheExtension)
{
    const QString dir = BVTest::makeTempFolder();
    touch(dir + "/a.png");
    touch(dir + "/a 2.png");
    touch(dir + "/archive.tar.gz");
    touch(dir + "/.hidden");
    QDir().mkpath(dir + "/folder");
    const struct
    {
        QString path, expected;
    } cases[] = {
        {dir + "/a.png", dir + "/a 3.png"},
        {dir + "/free.png", dir + "/free.png"},
        {dir + "/folder", dir + "/folder 2"},
        {dir + "/folder/", dir + "/folder 2"},
        {dir + "/archive.tar.gz", dir + "/archive.tar 2.gz"},
        {dir + "/.hidden", dir + "/.hidden 2"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(BVFileManager::uniqueFilename(c.path), c.expected) << c.path.toStdString();
}

TEST(FileManager, FormatFileSizeSwitchesUnitAtEachPowerOf1024)
{
    const struct
    {
        double size;
        const char *expected;
    } cases[] = {
        {0, "0 B"},
        {1023, "1023 B"},
        {1024, "1.00 KB"},
        {1536, "1.50 KB"},
        {1048575, "1024.00 KB"},
        {1048576, "1.00 MB"},
        {1073741823, "1024.00 MB"},
        {1073741824, "1.00 GB"},
        {5.5 * 1073741824.0, "5.50 GB"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(BVFileManager::formatFileSize(c.size), QString::fromLatin1(c.expected)) << c.size;
}

TEST(FileManager, PathExtensionIgnoresLeadingDotsAndFolders)
{
    const struct
    {
        const char *path, *extension, *withoutExtension;
    } cases[] = {
        {"/t/movie.mov", "mov", "/t/movie"},
        {"/t/a.b/file", "", "/t/a.b/file"},
        {"/t/.hidden", "", "/t/.hidden"},
        {"/t/name.", "", "/t/name."},
        {"/t/x.tar.gz", "gz", "/t/x.tar"},
        {"/t/dir.d/", "d", "/t/dir"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(BVFileManager::pathExtension(c.path), QString::fromLatin1(c.extension)) << c.path;
        EXPECT_EQ(
            BVFileManager::stringByDeletingPathExtension(c.path), QString::fromLatin1(c.withoutExtension))
            << c.path;
    }
}

TEST(FileManager, TrashingOrRemovingAMissingItemSucceedsWithoutRights)
{
    ScopedRunner runner;
    const QString missing = BVTest::makeTempFolder() + "/missing.mov";
    EXPECT_TRUE(BVFileManager::trashFile(missing));
    EXPECT_TRUE(BVFileManager::removeFile(missing));
    EXPECT_TRUE(BVFileManager::trashFile(missing, 5s));
    EXPECT_TRUE(BVFileManager::removeFile(missing, 5s));
    EXPECT_EQ(runner->prompts, 0);
    EXPECT_TRUE(runner->calls.isEmpty());
}

TEST(FileManager, RemoveFileDeletesFoldersRecursivelyAndDanglingLinks)
{
    const QString dir = BVTest::makeTempFolder();
    touch(dir + "/tree/a/b/c.txt");
    ASSERT_TRUE(QFile::link(dir + "/nowhere", dir + "/dangling"));
    EXPECT_TRUE(BVFileManager::removeFile(dir + "/tree"));
    EXPECT_FALSE(QFileInfo::exists(dir + "/tree"));
    EXPECT_TRUE(BVFileManager::removeFile(dir + "/dangling"));
    EXPECT_FALSE(QFileInfo(dir + "/dangling").isSymLink());
}

TEST(FileManager, TrashFileMovesTheItemIntoTheDesktopTrashWithItsOrigin)
{
    const QString dir = BVTest::makeTempFolder();
    touch(dir + "/clip.mov", "clip");
    ASSERT_TRUE(BVFileManager::trashFile(dir + "/clip.mov", 5s));
    EXPECT_FALSE(QFileInfo::exists(dir + "/clip.mov"));
    const QString trash = BVLocalPaths::trashDirectory();
    const QStringList trashed = QDir(trash + "/files").entryList({"clip*.mov"});
    ASSERT_EQ(trashed.size(), 1);
    EXPECT_EQ(BVTest::readFile(trash + "/files/" + trashed.first()), QByteArray("clip"));
    const QString info
        = QString::fromUtf8(BVTest::readFile(trash + "/info/" + trashed.first() + ".trashinfo"));
    EXPECT_TRUE(info.contains("Path=" + dir + "/clip.mov")) << info.toStdString();
}

TEST(FileManager, TrashFileMakesAMissingTrashRatherThanUsingTheCurrentFolder)
{
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    const QString savedCwd = QDir::currentPath();
    const QString dir = BVTest::makeTempFolder();
    const QString dataHome = dir + "/not-yet/share";
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome));
    QDir::setCurrent(dir);
    touch(dir + "/take.mov", "take");
    const bool trashed = BVFileManager::trashFile(dir + "/take.mov", false);
    QDir::setCurrent(savedCwd);
    qputenv("XDG_DATA_HOME", savedData);
    EXPECT_TRUE(trashed);
    EXPECT_FALSE(QFileInfo::exists(dir + "/take.mov"));
    EXPECT_FALSE(QFileInfo::exists(dir + "/files/take.mov"));
    EXPECT_EQ(BVTest::readFile(dataHome + "/Trash/files/take.mov"), QByteArray("take"));
}

TEST(FileManager, CaseOnlyRenameKeepsTheContent)
{
    const QString dir = BVTest::makeTempFolder();
    touch(dir + "/a.mov", "movie");
    EXPECT_TRUE(BVFileManager::moveFile(dir + "/a.mov", dir + "/A.mov", 5s));
    EXPECT_EQ(QDir(dir).entryList(QDir::Files), QStringList {"A.mov"});
    EXPECT_EQ(BVTest::readFile(dir + "/A.mov"), QByteArray("movie"));
}

TEST(FileManager, CaseOnlyRenameOntoADistinctFileLosesNothingWithoutRights)
{
    const QString dir = BVTest::makeTempFolder();
    touch(dir + "/a.mov", "lower");
    touch(dir + "/A.mov", "upper");
    ScopedRunner runner;
    EXPECT_FALSE(BVFileManager::moveFile(dir + "/a.mov", dir + "/A.mov", false));
    EXPECT_EQ(BVTest::readFile(dir + "/a.mov"), QByteArray("lower"));
    EXPECT_EQ(BVTest::readFile(dir + "/A.mov"), QByteArray("upper"));
    EXPECT_FALSE(QFileInfo::exists(dir + "/A 2.mov"));
    EXPECT_TRUE(runner->calls.isEmpty());
}

TEST(FileManager, MoveOntoAnExistingDestinationFailsWithoutAskingOrReplacing)
{
    const QString dir = BVTest::makeTempFolder();
    touch(dir + "/new.plist", "new");
    touch(dir + "/old.plist", "old");
    ScopedRunner runner;
    EXPECT_FALSE(BVFileManager::moveFile(dir + "/new.plist", dir + "/old.plist", false));
    EXPECT_FALSE(BVFileManager::moveFile(dir + "/new.plist", dir + "/old.plist"));
    EXPECT_EQ(runner->prompts, 0);
    EXPECT_TRUE(runner->calls.isEmpty());
    EXPECT_EQ(BVTest::readFile(dir + "/old.plist"), QByteArray("old"));
    EXPECT_EQ(BVTest::readFile(dir + "/new.plist"), QByteArray("new"));
}

TEST(FileManager, MoveFileCrossesFileSystems)
{
    struct stat tmpStat, shmStat;
    const QString home = BVTest::homeDirectory();
    if (stat("/dev/shm", &shmStat) != 0 || stat(QFile::encodeName(home).constData(), &tmpStat) != 0
        || shmStat.st_dev == tmpStat.st_dev || access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no second writable file system";
    QTemporaryDir other(QStringLiteral("/dev/shm/bvfm-XXXXXX"));
    ASSERT_TRUE(other.isValid());
    touch(other.path() + "/pack/inner.txt", "inner");
    const QString destination = BVTest::makeTempFolder() + "/pack";
    EXPECT_TRUE(BVFileManager::moveFile(other.path() + "/pack", destination, false));
    EXPECT_FALSE(QFileInfo::exists(other.path() + "/pack"));
    EXPECT_EQ(BVTest::readFile(destination + "/inner.txt"), QByteArray("inner"));
}

TEST(FileManager, CopyFileCopiesFoldersAndRefusesMissingPaths)
{
    const QString dir = BVTest::makeTempFolder();
    touch(dir + "/src/sub/one.txt", "one");
    EXPECT_TRUE(BVFileManager::copyFile(dir + "/src", dir + "/dst", 5s));
    EXPECT_EQ(BVTest::readFile(dir + "/dst/sub/one.txt"), QByteArray("one"));
    EXPECT_TRUE(QFileInfo::exists(dir + "/src/sub/one.txt"));

    testing::internal::CaptureStdout();
    EXPECT_FALSE(BVFileManager::copyFile(QString(), dir + "/x"));
    EXPECT_FALSE(BVFileManager::copyFile(dir + "/src", QString()));
    const std::string echoed = testing::internal::GetCapturedStdout();
    EXPECT_NE(echoed.find("Error copying file: source path is nil"), std::string::npos) << echoed;
    EXPECT_NE(
        echoed.find(QString("Error copying file " + dir + "/src: destination path is nil").toStdString()),
        std::string::npos)
        << echoed;
}

TEST(FileManager, CopyingAFolderIntoItselfFailsAndLeavesNoPartialCopy)
{
    const QString dir = BVTest::makeTempFolder();
    touch(dir + "/src/one.txt");
    EXPECT_FALSE(BVFileManager::copyFile(dir + "/src", dir + "/src/inner", false));
    EXPECT_FALSE(QFileInfo::exists(dir + "/src/inner"));
}

TEST(FileManager, WildcardsMatchWholeNamesComponentByComponent)
{
    const QString dir = BVTest::makeTempFolder();
    for (const char *name : {"42.mov", "142.mov", "42.MOV", "43.mov", "a/x.txt", "b/y.txt", "b/z.doc"})
        touch(dir + u'/' + QLatin1String(name));
    auto sorted = [](QStringList list) {
        list.sort();
        return list;
    };
    const struct
    {
        QString pattern, base;
        QStringList expected;
    } cases[] = {
        {"42.*", dir, {dir + "/42.MOV", dir + "/42.mov"}},
        {"4?.m*", dir, {dir + "/42.mov", dir + "/43.mov"}},
        // Without "*" the pattern is a plain path, "?" included.
        {"4?.mov", dir, {dir + "/4?.mov"}},
        {"*/*.txt", dir, {dir + "/a/x.txt", dir + "/b/y.txt"}},
        {dir + "/b/*", QString(), {dir + "/b/y.txt", dir + "/b/z.doc"}},
        {"42.mov", dir, {dir + "/42.mov"}},
        {"missing.mov", dir, {dir + "/missing.mov"}},
        {dir + "/none/*.mov", QString(), {}},
        {"*.mkv", dir, {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(sorted(BVFileManager::filesMatchingWildcardPath(c.pattern, c.base)), c.expected)
            << c.pattern.toStdString();
}

TEST(FileManager, WildcardPatternTable)
{
    const struct
    {
        const char *name, *pattern;
        bool matches;
    } cases[] = {
        {"42.mov", "42.*", true},
        {"142.mov", "42.*", false},
        {"42.mov", "*", true},
        {"", "*", true},
        {"abc", "a*c", true},
        {"abbbc", "a*b*c", true},
        {"ac", "a?c", false},
        {"abc", "a?c", true},
        {"ABC", "abc", false},
        {"a.b.c", "*.c", true},
        {"a.b.c", "*.b", false},
        {"x*y", "x*y", true},
        {"aaa", "a*a*a*a", false},
        {"mississippi", "*sip*", true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(BVFileManager::matchesWildcard(QString::fromLatin1(c.name), QString::fromLatin1(c.pattern)),
            c.matches)
            << c.name << " ~ " << c.pattern;
}

TEST(FileManager, CreatingAFolderOnAMissingDriveFailsWithoutPrivilegedRetry)
{
    ScopedRunner runner;
    ConsoleWatcher console;
    EXPECT_FALSE(BVFileManager::createDirectory("/media/Missing/Reelmark/Cache"));
    EXPECT_FALSE(BVFileManager::createDirectory("/mnt/Missing/Reelmark", 3s));
    EXPECT_FALSE(QFileInfo::exists("/media/Missing"));
    EXPECT_TRUE(console.contains("Unable to create directory. Drive is not mounted."))
        << console.lines().join('\n').toStdString();
    EXPECT_EQ(runner->prompts, 0);
    EXPECT_TRUE(runner->calls.isEmpty());
}

TEST(FileManager, MountPointComesFromTheMountTable)
{
    const QString table = QStringLiteral("/dev/vda / ext4 rw 0 0\n"
                                         "/dev/sdb1 /media/alice/My\\040Disk vfat rw 0 0\n"
                                         "/dev/sdc1 /mnt/data ext4 rw 0 0\n"
                                         "/dev/sdc2 /mnt/data/inner ext4 rw 0 0\n");
    const struct
    {
        const char *path, *mountPoint;
    } cases[] = {
        {"/media/alice/My Disk/clips/a.mov", "/media/alice/My Disk"},
        {"/media/alice/My Disk", "/media/alice/My Disk"},
        {"/media/alice/Other/a.mov", ""},
        {"/media/Missing/x", ""},
        {"/mnt/data/x", "/mnt/data"},
        {"/mnt/data/inner/x", "/mnt/data/inner"},
        {"/mnt/database/x", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(BVFileManager::mountPointForPath(QString::fromUtf8(c.path), table),
            QString::fromUtf8(c.mountPoint))
            << c.path;
    EXPECT_TRUE(BVFileManager::isDriveMountedForPath(BVTest::homeDirectory() + "/x"));
    EXPECT_TRUE(BVFileManager::isDriveMountedForPath("/media/"));
    EXPECT_FALSE(BVFileManager::isDriveMountedForPath("/media/Missing/x"));
}

TEST(FileManager, DestructiveOperationsClearTheImmutableAttributeFirst)
{
    const QString dir = BVTest::makeTempFolder();
    touch(dir + "/locked.mov");
    if (!FileTest::setImmutable(dir + "/locked.mov", true))
        GTEST_SKIP() << "the immutable attribute cannot be set here";
    ASSERT_TRUE(BVFileManager::isFileLocked(dir + "/locked.mov"));
    ScopedRunner runner;
    EXPECT_TRUE(BVFileManager::removeFile(dir + "/locked.mov", false));
    EXPECT_FALSE(QFileInfo::exists(dir + "/locked.mov"));
    EXPECT_TRUE(runner->calls.isEmpty());

    touch(dir + "/locked2.mov");
    ASSERT_TRUE(FileTest::setImmutable(dir + "/locked2.mov", true));
    EXPECT_TRUE(BVFileManager::trashFile(dir + "/locked2.mov", false));
    EXPECT_FALSE(QFileInfo::exists(dir + "/locked2.mov"));
}

TEST(FileManager, FailedRemovalRetriesWithAdministratorRightsAndReportsTheirFailure)
{
    const QString dir = BVTest::makeTempFolder();
    touch(dir + "/sealed/take.mov");
    if (!FileTest::setImmutable(dir + "/sealed", true))
        GTEST_SKIP() << "the immutable attribute cannot be set here";
    ScopedRunner runner;
    EXPECT_FALSE(BVFileManager::removeFile(dir + "/sealed/take.mov", false));
    EXPECT_TRUE(runner->calls.isEmpty());
    // The folder stays sealed even for the privileged tool, so the retry fails and says so.
    EXPECT_FALSE(BVFileManager::removeFile(dir + "/sealed/take.mov"));
    ASSERT_EQ(runner->calls.size(), 1);
    EXPECT_EQ(runner->calls[0].request, (QStringList {"remove", dir + "/sealed/take.mov"}));
    EXPECT_TRUE(QFileInfo::exists(dir + "/sealed/take.mov"));
    FileTest::setImmutable(dir + "/sealed", false);
    EXPECT_TRUE(FileTest::logText().contains("Error removing file: "));
}

TEST(FileManager, TimeoutFormWaitsWhileTheInterfaceKeepsRunning)
{
    const QString dir = BVTest::makeTempFolder();
    touch(dir + "/new.plist", "new");
    QDir().mkpath(dir + "/sealed");
    // A folder nobody may change: the move fails for lack of permission and is retried.
    if (!FileTest::setImmutable(dir + "/sealed", true))
        GTEST_SKIP() << "the immutable attribute cannot be set here";
    ScopedRunner runner;
    // The privileged move lands a moment after it was asked for.
    runner->action = [&](const FileTest::RunnerCall &call) {
        const QString source = call.request.value(1), destination = call.request.value(2);
        QTimer::singleShot(400, [source, destination, dir] {
            FileTest::setImmutable(dir + "/sealed", false);
            QFile::rename(source, destination);
            FileTest::setImmutable(dir + "/sealed", true);
        });
        return 0;
    };
    EXPECT_TRUE(BVFileManager::moveFile(dir + "/new.plist", dir + "/sealed/prefs.plist", 15s));
    FileTest::setImmutable(dir + "/sealed", false);
    EXPECT_EQ(BVTest::readFile(dir + "/sealed/prefs.plist"), QByteArray("new"));

    // An effect that never shows ends the wait at the timeout, answered as false.
    touch(dir + "/again.plist");
    FileTest::setImmutable(dir + "/sealed", true);
    runner->action = [](const FileTest::RunnerCall &) { return 0; };
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(BVFileManager::moveFile(dir + "/again.plist", dir + "/sealed/again.plist", 1s));
    FileTest::setImmutable(dir + "/sealed", false);
    EXPECT_GE(timer.elapsed(), 900);
    EXPECT_LT(timer.elapsed(), 3000);
}

TEST(FileManager, CompressFileArchivesTheFolderItselfWhenAsked)
{
    const QString dir = BVTest::makeTempFolder();
    touch(dir + "/Pack/a.txt", "alpha");
    touch(dir + "/Pack/sub/b.txt", QByteArray(300000, 'b'));
    ASSERT_TRUE(QFile::link("a.txt", dir + "/Pack/link"));
    const QString zip = dir + "/Pack.zip";
    ASSERT_TRUE(BVFileManager::compressFile(dir + "/Pack", zip));
    QStringList listing = zipListing(zip);
    listing.sort();
    EXPECT_EQ(listing, (QStringList {"Pack/", "Pack/a.txt", "Pack/link", "Pack/sub/", "Pack/sub/b.txt"}));

    QProcess unzip;
    unzip.start("unzip", {"-q", zip, "-d", dir + "/out"});
    ASSERT_TRUE(unzip.waitForFinished(30000));
    EXPECT_EQ(BVTest::readFile(dir + "/out/Pack/sub/b.txt"), QByteArray(300000, 'b'));
    EXPECT_EQ(QFileInfo(dir + "/out/Pack/link").symLinkTarget(), dir + "/out/Pack/a.txt");

    // Again without the folder: the old archive goes to the trash first.
    ASSERT_TRUE(BVFileManager::compressFile(dir + "/Pack", zip, false));
    listing = zipListing(zip);
    listing.sort();
    EXPECT_EQ(listing, (QStringList {"a.txt", "link", "sub/", "sub/b.txt"}));
    EXPECT_FALSE(QDir(BVLocalPaths::trashDirectory() + "/files").entryList({"Pack*.zip"}).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(zip + ".part"));

    EXPECT_FALSE(BVFileManager::compressFile(dir + "/Missing", dir + "/Missing.zip"));
    EXPECT_FALSE(QFileInfo::exists(dir + "/Missing.zip"));
}
