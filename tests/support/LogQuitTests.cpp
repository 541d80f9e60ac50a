#include "platform/defaults/BVPropertyList.h"
#include "support/BVLocalPaths.h"
#include "support/BVLog.h"

#include "common/BVTestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;

QString logFolder()
{
    return BVLocalPaths::logDirectory(true) + "/Brightvane";
}

QString generation(int n)
{
    return QStringLiteral("%1/LogQuit.%2.log").arg(logFolder()).arg(n);
}

// The messages of a log file, without their time stamps.
QSet<QString> messages(const QString &path)
{
    QSet<QString> result;
    for (const QString &line : QString::fromUtf8(BVTest::readFile(path)).split('\n')) {
        const qsizetype dash = line.indexOf(QLatin1String(" +0000 - "));
        if (dash > 0)
            result.insert(line.mid(dash + 9));
    }
    return result;
}

// Open descriptors of this process on files in the log folder.
int openLogFiles()
{
    int count = 0;
    const QString folder = QFileInfo(logFolder()).canonicalFilePath();
    for (const QFileInfo &fd :
        QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System | QDir::Files)) {
        if (fd.symLinkTarget().startsWith(folder + u'/'))
            ++count;
    }
    return count;
}

class LogQuitTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QDir(logFolder()).removeRecursively();
        QFile::remove(BVPropertyList::globalPreferencesPath());
        BVLog::sharedController()->setAppName("LogQuit");
    }
    void TearDown() override
    {
        BVLog::sharedController()->setAppName("LogQuit");
        BVLog::createNewLog();
        BVLog::finishWriting();
    }
};

} // namespace

// Two threads keep logging (short waiting messages and fast ones) while the application quits, 200
// times over. Termination must return promptly each time, and every message logged after it must
// reach the file.
TEST_F(LogQuitTest, QuittingWhileOtherThreadsLogIsPromptAndLosesNothingAfterwards)
{
    constexpr int kQuits = 200;
    std::chrono::steady_clock::duration longest {};
    for (int quit = 0; quit < kQuits; ++quit) {
        SCOPED_TRACE(quit);
        BVLog::sharedController()->setAppName("LogQuit");
        BVLog::createNewLog();
        std::atomic<bool> terminated {false};
        std::atomic<bool> stop {false};
        std::atomic<int> started {0};
        QStringList after[2];
        std::vector<std::thread> threads;
        for (int t = 0; t < 2; ++t) {
            threads.emplace_back([&, t] {
                started.fetch_add(1);
                for (int i = 0; !stop.load(); ++i) {
                    const bool wasTerminated = terminated.load();
                    const QString text = QStringLiteral("q%1 t%2 m%3").arg(quit).arg(t).arg(i);
                    if (i % 2)
                        BVLog::appendLog(text);
                    else
                        BVLog::fastAppendLog(text);
                    if (wasTerminated) {
                        after[t].append(text);
                        if (after[t].size() == 20)
                            break;
                    }
                    if (i > 5000) // a bounded load; the quit happens well before
                        std::this_thread::sleep_for(1ms);
                }
            });
        }
        while (started.load() < 2)
            std::this_thread::yield();
        std::this_thread::sleep_for(2ms);

        const auto begin = std::chrono::steady_clock::now();
        auto quitting = std::async(std::launch::async, [] { BVLog::willTerminate(); });
        const bool returned = quitting.wait_for(10s) == std::future_status::ready;
        longest = std::max(longest, std::chrono::steady_clock::now() - begin);
        terminated = true;
        if (!returned)
            stop = true; // lets an older writer that waits for an empty queue finish
        for (std::thread &thread : threads)
            thread.join();
        quitting.wait();
        ASSERT_TRUE(returned) << "termination waited more than 10 s while other threads logged";

        const QSet<QString> written = messages(generation(1));
        for (const QStringList &list : after) {
            ASSERT_EQ(list.size(), 20);
            for (const QString &text : list)
                ASSERT_TRUE(written.contains(text)) << text.toStdString();
        }
    }
    EXPECT_LT(longest, 4s);
    std::printf("longest termination while logging: %lld ms\n",
        static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(longest).count()));
}

// Without a file to append to, a message logged after termination goes to standard error.
TEST_F(LogQuitTest, AfterTerminationWithoutAFileMessagesGoToStandardError)
{
    BVLog::sharedController()->setAppName("NoFileAtAll");
    BVLog::willTerminate();
    testing::internal::CaptureStderr();
    BVLog::appendLog("said after the end");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(" - said after the end\n"), std::string::npos) << err;
}

// Writers racing with log creation: no second handle is left open (one opened on the file being
// rotated away would keep receiving entries), and no entry lands in a new file before its header.
TEST_F(LogQuitTest, WritesDuringLogCreationNeitherLeakHandlesNorLandInTheRotatedFile)
{
    BVLog::createNewLog();
    BVLog::finishWriting();
    std::atomic<bool> stop {false};
    std::atomic<int> index {0};
    std::thread writer([&] {
        // Paced so the file stays below the size that rolls it over: only creation races here.
        while (!stop.load() && index.load() < 8000) {
            BVLog::fastAppendLog(QStringLiteral("racing %1").arg(index.fetch_add(1)));
            std::this_thread::sleep_for(100us);
        }
    });
    int worst = 0;
    for (int i = 0; i < 60; ++i) {
        BVLog::createNewLog();
        BVLog::finishWriting();
        worst = std::max(worst, openLogFiles());
    }
    stop = true;
    writer.join();
    BVLog::finishWriting();
    EXPECT_LE(worst, 1);
    EXPECT_LE(openLogFiles(), 1);
    // Every generation starts with its header.
    for (int n = 1; n <= 5; ++n) {
        const QByteArray text = BVTest::readFile(generation(n));
        ASSERT_FALSE(text.isEmpty()) << n;
        EXPECT_TRUE(text.left(text.indexOf('\n')).contains(" - Log started: "))
            << n << ": " << text.left(120).constData();
    }
}
