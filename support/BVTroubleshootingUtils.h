#pragma once

#include <QString>
#include <QStringList>

// Support requests: opens a program's current log in the desktop's viewer, and gathers the maker's
// logs, crash reports and preference files of some programs into a zip archive on the desktop.
// Stateless; called from the Help menu on the main thread. The copying and compressing run on a
// background queue while the main thread keeps handling events.
class BVTroubleshootingUtils
{
public:
    // Opens the program's current log ("NAME.1.log" in the log folder) without waiting for the
    // viewer. A missing log shows an alert and answers false.
    static bool viewLogForApp(const QString &name);
    static bool gatherLogsForAppWithName(const QString &name);
    // Gathers into "NAME Logs.zip" on the desktop (the first name; time-stamped when taken). Alerts
    // tell the outcome unless silent. False when nothing was gathered or anything failed.
    static bool gatherLogsForAppsWithNames(
        const QStringList &names, bool silent, const QStringList &additionalFiles);

    // The files a gathering picks for these names: logs, crash reports and preference files of the
    // user's domain, then of the machine's.
    static QStringList filesToGather(const QStringList &names);
    // Where an archive for this name would be written now.
    static QString archivePathForName(const QString &name);
    // The name of the folder the archive holds.
    static QString workFolderName() { return QStringLiteral("BV_App_Logs"); }

private:
    enum class Outcome { Gathered, NothingFound, Failed };
    static Outcome gather(const QStringList &names, const QStringList &additionalFiles);
};
