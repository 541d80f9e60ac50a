// Reelmark's side of preference backup: its commands start prefsync, and its instance can be found
// and asked to quit on the session bus.
#include "PrivateBus.h"
#include "app/BVAppController.h"
#include "app/BVApplicationBus.h"
#include "prefsync/BVRunningApplication.h"

#include "common/BVTestSupport.h"
#include "support/BVBundle.h"
#include "support/BVWorkQueue.h"

#include <QAction>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>

TEST(ReelmarkPrefsCommands, BackupAndRestoreStartPrefsyncWithTheModeAndReelmarksIdentifier)
{
    BVBundle::setMainBundle(BVBundle::reelmark());
    QList<std::pair<QString, QStringList>> calls;
    BVAppController::setPrefsyncRunner([&](const QString &path, const QStringList &arguments) {
        calls.append({path, arguments});
    });
    BVAppController controller;
    QMenuBar bar;
    bar.addMenu(QStringLiteral("&File"))->addAction(QStringLiteral("Close"));
    controller.addPreferenceCommands(&bar);
    controller.addPreferenceCommands(&bar);

    QMenu *file = bar.actions().constFirst()->menu();
    QStringList titles;
    for (QAction *action : file->actions())
        titles << action->text();
    EXPECT_EQ(titles,
        (QStringList {QStringLiteral("Backup Preferences"), QStringLiteral("Restore Preferences"), QString(),
            QStringLiteral("Close")}));

    file->actions().at(0)->trigger();
    file->actions().at(1)->trigger();
    // The real program, built beside this test.
    const QString prefsync
        = QFileInfo(QStringLiteral(BV_BINARY_DIR "/prefsync/prefsync")).canonicalFilePath();
    ASSERT_EQ(calls.size(), 2);
    EXPECT_EQ(QFileInfo(calls[0].first).canonicalFilePath(), prefsync);
    EXPECT_EQ(calls[0].second,
        (QStringList {QStringLiteral("-backup"), QStringLiteral("com.brightvane.Reelmark")}));
    EXPECT_EQ(QFileInfo(calls[1].first).canonicalFilePath(), prefsync);
    EXPECT_EQ(calls[1].second,
        (QStringList {QStringLiteral("-restore"), QStringLiteral("com.brightvane.Reelmark")}));
}

TEST(ReelmarkPrefsCommands, TheRunningInstanceIsFoundByItsIdentifierAndQuitsWhenAsked)
{
    const QString identifier = QStringLiteral("com.brightvane.Reelmark");
    BVApplicationBus bus(identifier);
    bool quitRequested = false;
    QObject::connect(&bus, &BVApplicationBus::quitRequested, [&] { quitRequested = true; });

    BVWorkQueue worker(QStringLiteral("test.bus"));
    std::atomic<qint64> pid {0};
    std::atomic<int> answered {-1};
    // The bus name is requested without waiting: the lookup retries until it is owned.
    worker.async([&] {
        for (int i = 0; i < 100 && pid.load() == 0; ++i) {
            if (const auto app = BVRunningApplication::runningApplicationWithBundleIdentifier(identifier)) {
                pid = app->processIdentifier();
                answered = app->terminate() ? 1 : 0;
            } else {
                QThread::msleep(20);
            }
        }
    });
    EXPECT_TRUE(BVTest::waitFor([&] { return answered.load() != -1; }));
    EXPECT_EQ(pid.load(), QCoreApplication::applicationPid());
    EXPECT_EQ(answered.load(), 1);
    EXPECT_TRUE(BVTest::waitFor([&] { return quitRequested; }));
    worker.waitUntilEmpty();
}
