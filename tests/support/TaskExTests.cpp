#include "FileTestSupport.h"
#include "common/BVTestSupport.h"
#include "support/BVTaskEx.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

namespace {

const QString kShell = QStringLiteral("/bin/sh");

QString makeScript(const QString &path, const QByteArray &body, bool executable)
{
    BVTest::writeFile(path, "#!/bin/sh\n" + body + '\n');
    QFile::setPermissions(path,
        executable ? QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                   : QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return path;
}

} // namespace

TEST(TaskEx, NonExecutablesAreRefusedWithoutStartingAnything)
{
    const QString dir = BVTest::makeTempFolder();
    const QString marker = dir + "/ran";
    QDir().mkpath(dir + "/Viewer.app");
    const QString cases[] = {
        dir + "/missing-tool",
        makeScript(dir + "/plain.sh", "touch '" + marker.toUtf8() + "'", false),
        dir + "/Viewer.app",
        makeScript(dir + "/viewer.desktop", "touch '" + marker.toUtf8() + "'", true),
        QString(),
    };
    for (const QString &path : cases) {
        testing::internal::CaptureStdout();
        EXPECT_FALSE(BVTaskEx::runTask(path, {}));
        BVTaskEx::runTaskAndReturn(path, {});
        EXPECT_EQ(BVTaskEx::runTaskForExitStatus(path, {}), -1);
        const std::string echoed = testing::internal::GetCapturedStdout();
        EXPECT_NE(
            echoed.find(QString("Error: " + path + " is not executable").toStdString()), std::string::npos)
            << echoed;
    }
    BVTest::spin(std::chrono::milliseconds(200));
    EXPECT_FALSE(QFileInfo::exists(marker));
}

TEST(TaskEx, NonZeroExitStillCountsAsSuccess)
{
    EXPECT_TRUE(BVTaskEx::runTask(kShell, {"-c", "exit 3"}));
    EXPECT_EQ(BVTaskEx::runTaskForExitStatus(kShell, {"-c", "exit 3"}), 3);
    EXPECT_EQ(BVTaskEx::runTaskForExitStatus(kShell, {"-c", "kill -9 $$"}), -1);
}

TEST(TaskEx, ArgumentsArriveUnchangedAndOutputIsDiscarded)
{
    const QString dir = BVTest::makeTempFolder();
    const QString tricky = dir + "/it's a \"name\" with $HOME;";
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_TRUE(BVTaskEx::runTask(
        kShell, {"-c", "echo visible-out; echo visible-err >&2; touch \"$1\"", "sh", tricky}));
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out.find("visible-out"), std::string::npos);
    EXPECT_EQ(err.find("visible-err"), std::string::npos);
    EXPECT_TRUE(QFileInfo::exists(tricky));
}

TEST(TaskEx, TimeLimitTerminatesAHangingToolAfterWholeSeconds)
{
    QElapsedTimer timer;
    timer.start();
    testing::internal::CaptureStdout();
    BVTaskEx::runTask("/bin/sleep", {"30"}, 2.9);
    const std::string echoed = testing::internal::GetCapturedStdout();
    EXPECT_GE(timer.elapsed(), 1950);
    EXPECT_LT(timer.elapsed(), 2800);
    EXPECT_NE(echoed.find("Task /bin/sleep timed out. Terminating..."), std::string::npos) << echoed;

    // A tool that ends in time is not reported.
    testing::internal::CaptureStdout();
    BVTaskEx::runTask(kShell, {"-c", "exit 0"}, 5);
    EXPECT_EQ(testing::internal::GetCapturedStdout().find("timed out"), std::string::npos);
}

TEST(TaskEx, ToolIgnoringTerminationIsKilledAfterAGracePeriod)
{
    const QString dir = BVTest::makeTempFolder();
    const QString stubborn = makeScript(dir + "/stubborn", "trap '' TERM\nwhile :; do sleep 0.1; done", true);
    QElapsedTimer timer;
    timer.start();
    testing::internal::CaptureStdout();
    BVTaskEx::runTask(stubborn, {}, 1);
    testing::internal::GetCapturedStdout();
    EXPECT_GE(timer.elapsed(), 950);
    EXPECT_LT(timer.elapsed(), 4000);
}

TEST(TaskEx, TimeLimitAlsoWorksOffTheMainThread)
{
    qint64 elapsed = 0;
    std::thread worker([&] {
        QElapsedTimer timer;
        timer.start();
        BVTaskEx::runTask("/bin/sleep", {"30"}, 1.5);
        elapsed = timer.elapsed();
    });
    worker.join();
    EXPECT_GE(elapsed, 950);
    EXPECT_LT(elapsed, 2500);
}

TEST(TaskEx, RunTaskAndReturnDoesNotWaitForTheTool)
{
    const QString marker = BVTest::makeTempFolder() + "/done";
    QElapsedTimer timer;
    timer.start();
    BVTaskEx::runTaskAndReturn(kShell, {"-c", "sleep 1; touch \"$1\"", "sh", marker});
    EXPECT_LT(timer.elapsed(), 700);
    EXPECT_FALSE(QFileInfo::exists(marker));
    EXPECT_TRUE(BVTest::waitFor([&] { return QFileInfo::exists(marker); }, std::chrono::seconds(10)));
}

TEST(TaskEx, WaitingOnTheMainThreadKeepsHandlingEvents)
{
    int fired = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++fired; });
    timer.start(50);
    EXPECT_TRUE(BVTaskEx::runTask(kShell, {"-c", "sleep 0.6"}));
    timer.stop();
    EXPECT_GE(fired, 5);
}
