#include "platform/defaults/BVPropertyList.h"
#include "support/BVLocalPaths.h"
#include "support/BVLog.h"

#include "common/BVTestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <thread>

namespace {

QString logFolder()
{
    return BVLocalPaths::logDirectory(true) + "/Brightvane";
}

QString generation(const QString &name, int n)
{
    return QStringLiteral("%1/%2.%3.log").arg(logFolder(), name).arg(n);
}

QStringList lines(const QString &path)
{
    QStringList result = QString::fromUtf8(BVTest::readFile(path)).split('\n');
    if (!result.isEmpty() && result.last().isEmpty())
        result.removeLast();
    return result;
}

// The message part of an entry: everything after "YYYY-MM-DD HH:MM:SS +0000 - ".
QString message(const QString &entry)
{
    static const QRegularExpression stamp("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} \\+0000 - ");
    const QRegularExpressionMatch m = stamp.match(entry);
    return m.hasMatch() ? entry.mid(m.capturedLength()) : QStringLiteral("<no stamp> ") + entry;
}

struct ChildResult
{
    int exitCode;
    bool crashed;
    QString output;
};

ChildResult runChild(const QString &mode)
{
    QProcess child;
    child.setProgram(QStringLiteral(BV_BINARY_DIR "/tests/support/bv_log_child"));
    child.setArguments({mode});
    child.start();
    child.waitForFinished(30000);
    return {child.exitCode(), child.exitStatus() == QProcess::CrashExit,
        QString::fromUtf8(child.readAllStandardOutput())};
}

class LogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QDir(logFolder()).removeRecursively();
        QFile::remove(BVPropertyList::globalPreferencesPath());
        BVLog::sharedController()->setAppName("LogTest");
    }
};

} // namespace

TEST_F(LogTest, NewLogStartsWithTheHeaderEntries)
{
    BVLog::createNewLog();
    BVLog::appendLog("Opened %@ at %0.2f fps", QStringLiteral("clip.mov"), 23.976);
    BVLog::finishWriting();
    const QStringList entries = lines(generation("LogTest", 1));
    ASSERT_EQ(entries.size(), 6);
    EXPECT_TRUE(message(entries[0]).startsWith("Log started: "));
    EXPECT_EQ(message(entries[1]), "Version: 1");
    EXPECT_TRUE(message(entries[2]).startsWith("Path: /"));
    EXPECT_TRUE(QRegularExpression("^System: .+ \\d+\\.\\d+\\.\\d+, \\d+ CPU\\(s\\), \\d+\\.\\d\\d GB RAM$")
                    .match(message(entries[3]))
                    .hasMatch())
        << entries[3].toStdString();
    EXPECT_EQ(message(entries[4]), "Running in 64-bit mode");
    EXPECT_EQ(message(entries[5]), "Opened clip.mov at 23.98 fps");
}

TEST_F(LogTest, StartingSixTimesKeepsFiveGenerations)
{
    for (int run = 1; run <= 6; ++run) {
        BVLog::createNewLog();
        BVLog::appendLog("run %i", run);
        BVLog::finishWriting();
    }
    const QStringList files = QDir(logFolder()).entryList({"LogTest.*"}, QDir::Files, QDir::Name);
    EXPECT_EQ(files,
        QStringList({"LogTest.1.log", "LogTest.2.log", "LogTest.3.log", "LogTest.4.log", "LogTest.5.log"}));
    // Generation 1 is the newest: run 6; generation 5 the oldest kept: run 2.
    EXPECT_EQ(message(lines(generation("LogTest", 1)).last()), "run 6");
    EXPECT_EQ(message(lines(generation("LogTest", 5)).last()), "run 2");
}

TEST_F(LogTest, RollsOverAtFiveHundredThousandBytes)
{
    BVLog::createNewLog();
    const QString filler(200, u'x');
    for (int i = 0; i < 2600; ++i)
        BVLog::fastAppendLog("%i %@", i, filler);
    BVLog::finishWriting();

    const QString oldPath = generation("LogTest", 2);
    const qint64 oldSize = QFileInfo(oldPath).size();
    const QStringList old = lines(oldPath);
    ASSERT_FALSE(old.isEmpty());
    // The entry that took the file to 500,000 bytes or more is its last one.
    EXPECT_GE(oldSize, 500000);
    EXPECT_LT(oldSize - (old.last().toUtf8().size() + 1), 500000);
    const int last = message(old.last()).section(' ', 0, 0).toInt();

    const QStringList current = lines(generation("LogTest", 1));
    ASSERT_GE(current.size(), 7);
    EXPECT_TRUE(message(current[0]).startsWith("Log started: "));
    EXPECT_EQ(message(current[4]), "Running in 64-bit mode");
    EXPECT_EQ(message(current[5]), "Log truncated at 500KB");
    EXPECT_EQ(message(current[6]).section(' ', 0, 0).toInt(), last + 1);
}

TEST_F(LogTest, BlankMessagesWriteNothingAndMessagesAreTrimmed)
{
    BVLog::createNewLog();
    BVLog::finishWriting();
    const int before = lines(generation("LogTest", 1)).size();
    BVLog::appendLog(" \n\t  \r\n");
    EXPECT_EQ(BVLog::sharedController()->bytesInQueue(), 0);
    BVLog::appendLog("  \n first line\n second line \n ");
    BVLog::finishWriting();
    const QStringList after = lines(generation("LogTest", 1));
    ASSERT_EQ(after.size(), before + 2);
    // Inner line breaks stay; the continuation line carries no time stamp.
    EXPECT_EQ(message(after[before]), "first line");
    EXPECT_EQ(after[before + 1], " second line");
    EXPECT_EQ(BVLog::sharedController()->bytesInQueue(), 0);
}

TEST_F(LogTest, PercentSignsReachTheFileAndEchoDropsObjectPlaceholders)
{
    BVLog::createNewLog();
    testing::internal::CaptureStdout();
    BVLog::appendLogAndPrint(QStringLiteral("  Export 50% done %@ (%d) \n"));
    BVLog::finishWriting();
    const std::string echoed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(echoed, "Export 50% done  (%d)\n");
    EXPECT_EQ(message(lines(generation("LogTest", 1)).last()), "Export 50% done %@ (%d)");
}

TEST_F(LogTest, TerminationWaitsForTenPendingWritesAndDropsEleven)
{
    for (int pending : {10, 11}) {
        SCOPED_TRACE(pending);
        BVLog::sharedController()->setAppName("LogTest");
        BVLog::createNewLog();
        BVLog::finishWriting();
        const int before = lines(generation("LogTest", 1)).size();

        BVLog::setWritesSuspendedForTesting(true);
        for (int i = 0; i < pending; ++i)
            BVLog::fastAppendLog("pending %i", i);
        EXPECT_EQ(BVLog::sharedController()->pendingWrites(), pending);
        std::thread terminator([] { BVLog::willTerminate(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        BVLog::setWritesSuspendedForTesting(false);
        terminator.join();

        const int written = lines(generation("LogTest", 1)).size() - before;
        EXPECT_EQ(written, pending == 10 ? 10 : 0);
    }
}

TEST_F(LogTest, DisabledLoggingWritesNoFileAndSaysSoOnce)
{
    struct Case
    {
        QVariant value;
        bool disabled;
    };
    const Case cases[] = {{QString("1"), true}, {true, true}, {1, true}, {QString("0"), false},
        {QString("true"), false}, {false, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value.toString().toStdString());
        QDir(logFolder()).removeRecursively();
        ASSERT_TRUE(BVPropertyList::write(
            QVariantMap {{"disable-logging", c.value}}, BVPropertyList::globalPreferencesPath()));
        const ChildResult result = runChild("write");
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.output.count("Logging is disabled"), c.disabled ? 1 : 0);
        EXPECT_EQ(QFileInfo::exists(generation("LogChild", 1)), !c.disabled);
    }
}

TEST_F(LogTest, WithoutACurrentFileEachMessageIsReportedOnTheConsole)
{
    const ChildResult result = runChild("append-only");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output,
        "Unable to log the following information: first line from the child\n"
        "Unable to open log for output\n");
    // Once a log exists, a process that does not start its own appends to it.
    ASSERT_EQ(runChild("write").exitCode, 0);
    ASSERT_EQ(runChild("append-only").exitCode, 0);
    EXPECT_EQ(message(lines(generation("LogChild", 1)).last()), "first line from the child");
}

TEST_F(LogTest, UncaughtExceptionAndFatalSignalReachTheFileBeforeTheProcessEnds)
{
    const ChildResult thrown = runChild("terminate");
    EXPECT_TRUE(thrown.crashed);
    EXPECT_EQ(message(lines(generation("LogChild", 1)).last()), "disk on fire while exporting");
    EXPECT_TRUE(thrown.output.contains("disk on fire while exporting"));

    const ChildResult crashed = runChild("segv");
    EXPECT_TRUE(crashed.crashed);
    const QStringList entries = lines(generation("LogChild", 1));
    ASSERT_GE(entries.size(), 2);
    EXPECT_EQ(message(entries[entries.size() - 2]), "about to crash");
    EXPECT_EQ(message(entries.last()), "Fatal signal SIGSEGV");
}

TEST_F(LogTest, BackgroundThreadsWaitForShortMessagesOnly)
{
    BVLog::createNewLog();
    BVLog::finishWriting();
    // A short message from a background thread has reached the file when appendLog returns.
    std::thread worker([] {
        BVLog::appendLog("background task finished");
        const QStringList entries = lines(generation("LogTest", 1));
        EXPECT_EQ(message(entries.last()), "background task finished");
    });
    worker.join();
}
