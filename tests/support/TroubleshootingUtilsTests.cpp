#include "FileTestSupport.h"
#include "common/BVTestSupport.h"
#include "support/BVLocalPaths.h"
#include "support/BVTroubleshootingUtils.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

void touch(const QString &path, const QByteArray &content = "x")
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    ASSERT_TRUE(BVTest::writeFile(path, content));
}

QString logFolder()
{
    return BVLocalPaths::libraryDirectory(true) + "/Logs/Brightvane";
}

QString reportsFolder()
{
    return BVLocalPaths::logDirectory(true) + "/DiagnosticReports";
}

// Answers every alert that appears with its first button and remembers its texts.
class AlertWatcher : public QObject
{
public:
    QStringList seen;
    AlertWatcher()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(widget);
                if (!box || !box->isVisible() || box->property("bvAnswered").toBool())
                    continue;
                box->setProperty("bvAnswered", true);
                seen.append(box->text() + " / " + box->informativeText());
                if (!box->buttons().isEmpty())
                    box->buttons().first()->click();
            }
        });
        m_timer.start(20);
    }

private:
    QTimer m_timer;
};

// Each test starts with empty log, crash report, preference and desktop folders.
class Troubleshooting : public testing::Test
{
protected:
    void SetUp() override
    {
        for (const QString &folder : {BVLocalPaths::libraryDirectory(true), BVLocalPaths::desktopDirectory()})
            QDir(folder).removeRecursively();
    }
};

QStringList zipListing(const QString &zip)
{
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-l"), zip});
    unzip.waitForFinished(30000);
    EXPECT_EQ(unzip.exitCode(), 0);
    QStringList names;
    // "unzip -l" lines: length, date, time, name.
    const QRegularExpression line(QStringLiteral("^\\s*\\d+\\s+\\S+\\s+\\S+\\s+(.+)$"));
    for (const QString &text : QString::fromUtf8(unzip.readAllStandardOutput()).split(u'\n')) {
        const QRegularExpressionMatch match = line.match(text);
        if (match.hasMatch())
            names.append(match.captured(1));
    }
    return names;
}

class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void openUrl(const QUrl &url) { opened.append(url); }
};

} // namespace

TEST_F(Troubleshooting, PicksLogsByNamePrefixAndCrashReportsByNameAndUnderscore)
{
    touch(logFolder() + "/Reelmark.1.log");
    touch(logFolder() + "/Reelmark.3.log");
    touch(logFolder() + "/ReelmarkTool.1.log");
    touch(logFolder() + "/Reelmark.1.txt");
    touch(logFolder() + "/Other.1.log");
    touch(reportsFolder() + "/Reelmark_2016-03-09-120000_host.crash");
    touch(reportsFolder() + "/ReelmarkTool_2016-03-09-120000_host.crash");
    touch(reportsFolder() + "/Reelmark_2016-03-09-120000_host.txt");
    touch(BVLocalPaths::logDirectory(true) + "/CrashReporter/Reelmark_2015-01-01-000000_host.crash");
    touch(BVLocalPaths::prefsDirectory(true) + "/com.brightvane.Reelmark.plist");
    touch(BVLocalPaths::prefsDirectory(true) + "/com.brightvane.Other.plist");

    const QStringList files = BVTroubleshootingUtils::filesToGather({"Reelmark"});
    const QStringList expected = {
        logFolder() + "/Reelmark.1.log",
        logFolder() + "/Reelmark.3.log",
        logFolder() + "/ReelmarkTool.1.log",
        reportsFolder() + "/Reelmark_2016-03-09-120000_host.crash",
        BVLocalPaths::logDirectory(true) + "/CrashReporter/Reelmark_2015-01-01-000000_host.crash",
        BVLocalPaths::prefsDirectory(true) + "/com.brightvane.Reelmark.plist",
    };
    EXPECT_EQ(files, expected);
    EXPECT_TRUE(BVTroubleshootingUtils::filesToGather({}).isEmpty());
}

TEST_F(Troubleshooting, PreferenceFileFallsBackToTheLowerCaseNameWithoutSpaces)
{
    touch(BVLocalPaths::prefsDirectory(true) + "/com.brightvane.velorabrowser.plist");
    const QStringList files = BVTroubleshootingUtils::filesToGather({"Velora Browser"});
    EXPECT_EQ(
        files, QStringList {BVLocalPaths::prefsDirectory(true) + "/com.brightvane.velorabrowser.plist"});
}

TEST_F(Troubleshooting, ArchiveHoldsTheWorkFolderWithEachFileUnderItsFolderPath)
{
    touch(logFolder() + "/Reelmark.1.log", "current log");
    touch(reportsFolder() + "/Reelmark_2016-03-09-120000_host.crash", "crash");
    const QString extra = BVTest::makeTempFolder() + "/extra notes.txt";
    touch(extra, "extra");
    ASSERT_TRUE(BVTroubleshootingUtils::gatherLogsForAppsWithNames({"Reelmark"}, true, {extra}));

    const QString zip = BVLocalPaths::desktopDirectory() + "/Reelmark Logs.zip";
    ASSERT_TRUE(QFileInfo::exists(zip));
    const QStringList names = zipListing(zip);
    ASSERT_FALSE(names.isEmpty());
    EXPECT_EQ(names.first(), "BV_App_Logs/");
    for (const QString &name : names)
        EXPECT_TRUE(name.startsWith("BV_App_Logs/")) << name.toStdString();
    EXPECT_TRUE(names.contains("BV_App_Logs" + logFolder() + "/Reelmark.1.log"));
    EXPECT_TRUE(names.contains("BV_App_Logs" + reportsFolder() + "/Reelmark_2016-03-09-120000_host.crash"));
    EXPECT_TRUE(names.contains("BV_App_Logs" + extra));

    QProcess unzip;
    unzip.start("unzip", {"-p", zip, "BV_App_Logs" + logFolder() + "/Reelmark.1.log"});
    ASSERT_TRUE(unzip.waitForFinished(30000));
    EXPECT_EQ(unzip.readAllStandardOutput(), QByteArray("current log"));
    // Nothing of the work is left in the temporary folder.
    EXPECT_TRUE(QDir(BVLocalPaths::tempDirectory()).entryList({"BV_App_Logs*"}, QDir::AllEntries).isEmpty());
}

TEST_F(Troubleshooting, GatheringTwiceLeavesTwoArchives)
{
    touch(logFolder() + "/Reelmark.1.log");
    ASSERT_TRUE(BVTroubleshootingUtils::gatherLogsForAppsWithNames({"Reelmark"}, true, {}));
    ASSERT_TRUE(BVTroubleshootingUtils::gatherLogsForAppsWithNames({"Reelmark"}, true, {}));
    ASSERT_TRUE(BVTroubleshootingUtils::gatherLogsForAppsWithNames({"Reelmark"}, true, {}));
    QStringList archives
        = QDir(BVLocalPaths::desktopDirectory()).entryList({"*.zip"}, QDir::Files, QDir::Name);
    ASSERT_EQ(archives.size(), 3) << archives.join(", ").toStdString();
    EXPECT_TRUE(archives.contains("Reelmark Logs.zip"));
    archives.removeAll("Reelmark Logs.zip");
    for (const QString &name : archives)
        EXPECT_TRUE(QRegularExpression("^Reelmark Logs_\\d{14}( \\d+)?\\.zip$").match(name).hasMatch())
            << name.toStdString();
}

TEST_F(Troubleshooting, LinkedLogIsCopiedFromItsTarget)
{
    const QString target = BVTest::makeTempFolder() + "/real.log";
    touch(target, "real content");
    QDir().mkpath(logFolder());
    ASSERT_TRUE(QFile::link(target, logFolder() + "/Reelmark.2.log"));
    ASSERT_TRUE(BVTroubleshootingUtils::gatherLogsForAppsWithNames({"Reelmark"}, true, {}));
    QProcess unzip;
    unzip.start("unzip",
        {"-p", BVLocalPaths::desktopDirectory() + "/Reelmark Logs.zip",
            "BV_App_Logs" + logFolder() + "/Reelmark.2.log"});
    ASSERT_TRUE(unzip.waitForFinished(30000));
    EXPECT_EQ(unzip.readAllStandardOutput(), QByteArray("real content"));
}

TEST_F(Troubleshooting, AlertsTellTheOutcomeUnlessSilent)
{
    AlertWatcher alerts;
    EXPECT_FALSE(BVTroubleshootingUtils::gatherLogsForAppsWithNames({}, false, {}));
    EXPECT_FALSE(BVTroubleshootingUtils::gatherLogsForAppsWithNames({"Reelmark"}, true, {}));
    EXPECT_TRUE(alerts.seen.isEmpty());

    EXPECT_FALSE(BVTroubleshootingUtils::gatherLogsForAppWithName("Reelmark"));
    touch(logFolder() + "/Reelmark.1.log");
    EXPECT_TRUE(BVTroubleshootingUtils::gatherLogsForAppWithName("Reelmark"));
    FileTest::ConsoleWatcher console;
    EXPECT_FALSE(
        BVTroubleshootingUtils::gatherLogsForAppsWithNames({"Reelmark"}, false, {"/no/such/extra.txt"}));
    EXPECT_TRUE(console.contains("Unable to copy file: /no/such/extra.txt"));
    EXPECT_EQ(alerts.seen,
        (QStringList {
            "No logs found / There were no logs available to gather.",
            "Logs gathered successfully / The gathered logs were placed on your desktop.",
            "Logs could not be gathered / Please check your file permissions.",
        }));
}

TEST_F(Troubleshooting, GatheringKeepsTheInterfaceRunning)
{
    touch(logFolder() + "/Reelmark.1.log", QByteArray(8 * 1024 * 1024, 'l'));
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(5);
    ASSERT_TRUE(BVTroubleshootingUtils::gatherLogsForAppsWithNames({"Reelmark"}, true, {}));
    EXPECT_GT(ticks, 0);
}

TEST_F(Troubleshooting, ViewLogOpensTheCurrentLogOrExplainsWhyNot)
{
    AlertWatcher alerts;
    EXPECT_FALSE(BVTroubleshootingUtils::viewLogForApp("Reelmark"));
    EXPECT_EQ(alerts.seen, QStringList {"No log found / You must perform a task before viewing the log."});

    // The desktop's viewer is replaced by a recorder for file addresses.
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler("file", &recorder, "openUrl");
    touch(logFolder() + "/Reelmark.1.log");
    EXPECT_TRUE(BVTroubleshootingUtils::viewLogForApp("Reelmark"));
    EXPECT_TRUE(BVTest::waitFor([&] { return !recorder.opened.isEmpty(); }));
    QDesktopServices::unsetUrlHandler("file");
    EXPECT_EQ(recorder.opened, QList<QUrl> {QUrl::fromLocalFile(logFolder() + "/Reelmark.1.log")});
    EXPECT_EQ(alerts.seen.size(), 1);
}

#include "TroubleshootingUtilsTests.moc"
