#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class BVWorkQueue;
class QWidget;

// The update check. Reelmark comes from the system's package manager; a site that updates it
// otherwise names its updater program in the setting "softwareUpdateProgram" (none by default).
// At start, unless "SUCheckAtStartup" in the global preference file is false, the program is run
// on a background queue with "-checkpath" and Reelmark's own path, without waiting for it; "Check
// for Updates..." runs it without arguments, or explains where updates come from when there is
// none. A program in the shared temporary folder, where anyone can put one, is never run.
class BVSoftwareUpdate
{
public:
    BVSoftwareUpdate();
    ~BVSoftwareUpdate();

    // The check at start (created with the main interface).
    void startup();
    // Runs the updater with "-checkpath" and the application's path; answers whether it started.
    static bool automaticallyCheckForUpdates();
    // The menu command.
    static void manualUpdateCheck(QWidget *parentWindow);
    static bool launchSoftwareUpdate();
    // The updater program of the setting; empty when none is set.
    static QString updaterPath();
    // Whether a path lies in the shared temporary folder (or one like it).
    static bool isInSharedTemporaryFolder(const QString &path);

    // How the updater is started (path, arguments); replaceable so tests can see the call.
    using Runner = std::function<void(const QString &, const QStringList &)>;
    static void setRunner(Runner runner);

    static QString noUpdaterTitle() { return QStringLiteral("Updates come from your package manager"); }
    static QString noUpdaterText()
    {
        return QStringLiteral(
            "Reelmark is installed and updated by the system's package manager. Use it "
            "(for example \"sudo apt update && sudo apt upgrade\") to get the latest version.");
    }

private:
    static bool run(const QStringList &arguments);
    std::unique_ptr<BVWorkQueue> m_queue;
};
