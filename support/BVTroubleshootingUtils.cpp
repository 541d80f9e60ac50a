#include "support/BVTroubleshootingUtils.h"

#include "support/BVAlert.h"
#include "support/BVFileManager.h"
#include "support/BVLocalPaths.h"
#include "support/BVLog.h"
#include "support/BVMainThread.h"
#include "support/BVSystemConsole.h"
#include "support/BVWaitLoop.h"
#include "support/BVWorkQueue.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QUrl>

#include <atomic>

namespace {

QString brightvaneLogFolder(bool user)
{
    return BVLocalPaths::libraryDirectory(user) + QStringLiteral("/Logs/Brightvane");
}

// Files of a folder (links included, dangling ones too) whose names pass the filter, by name.
QStringList filesIn(const QString &folder, const std::function<bool(const QString &)> &accept)
{
    QStringList result;
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::Files | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : entries) {
        if ((entry.isFile() || entry.isSymLink()) && accept(entry.fileName()))
            result.append(entry.absoluteFilePath());
    }
    return result;
}

QStringList filesOfDomain(const QStringList &names, bool user)
{
    QStringList files;
    files += filesIn(brightvaneLogFolder(user), [&](const QString &file) {
        if (!file.endsWith(QLatin1String(".log")))
            return false;
        for (const QString &name : names) {
            if (file.startsWith(name))
                return true;
        }
        return false;
    });
    for (const char *reports : {"DiagnosticReports", "CrashReporter"}) {
        files += filesIn(
            BVLocalPaths::logDirectory(user) + u'/' + QLatin1String(reports), [&](const QString &file) {
                if (!file.endsWith(QLatin1String(".crash")))
                    return false;
                for (const QString &name : names) {
                    if (file.startsWith(name + u'_'))
                        return true;
                }
                return false;
            });
    }
    for (const QString &name : names) {
        QString compact = name;
        compact.remove(u' ');
        const QString prefs = BVLocalPaths::prefsDirectory(user) + QStringLiteral("/com.brightvane.");
        QString path = prefs + compact + QStringLiteral(".plist");
        if (!QFileInfo::exists(path))
            path = prefs + compact.toLower() + QStringLiteral(".plist");
        if (QFileInfo::exists(path))
            files.append(path);
    }
    return files;
}

// Copies one file into the work folder under its own folder path. A link is copied from its target
// when that exists. Answers false on a failed copy; skipping counts as success.
bool copyIntoWorkFolder(const QString &workFolder, const QString &file, QSet<QString> *copied, int *count)
{
    const QFileInfo info(file);
    const QString absolute = QDir::cleanPath(info.absoluteFilePath());
    const QString destination = workFolder + absolute;
    if (copied->contains(absolute) || QFileInfo::exists(destination) || QFileInfo(destination).isSymLink())
        return true;
    QString source = absolute;
    if (info.isSymLink() && info.exists())
        source = info.canonicalFilePath();
    if (!QDir().mkpath(QFileInfo(destination).absolutePath()))
        return false;
    if (!BVFileManager::copyFile(source, destination, false))
        return false;
    copied->insert(absolute);
    ++*count;
    return true;
}

std::atomic<bool> g_gathering {false};

} // namespace

bool BVTroubleshootingUtils::viewLogForApp(const QString &name)
{
    const QString path = brightvaneLogFolder(true) + u'/' + name + QStringLiteral(".1.log");
    if (name.isEmpty() || !QFileInfo(path).isFile()) {
        BVAlert::alertSheetWithMessageText(QStringLiteral("No log found"),
            QStringLiteral("You must perform a task before viewing the log."), nullptr);
        return false;
    }
    // The desktop's default viewer is started detached; nothing waits for it.
    BVMainThread::async([path] {
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
            BVLog::appendLog("Unable to open the log %@ in the default viewer", path);
    });
    return true;
}

bool BVTroubleshootingUtils::gatherLogsForAppWithName(const QString &name)
{
    return gatherLogsForAppsWithNames({name}, false, {});
}

QStringList BVTroubleshootingUtils::filesToGather(const QStringList &names)
{
    if (names.isEmpty())
        return {};
    return filesOfDomain(names, true) + filesOfDomain(names, false);
}

QString BVTroubleshootingUtils::archivePathForName(const QString &name)
{
    const QString path = BVLocalPaths::desktopDirectory() + QStringLiteral("/%1 Logs.zip").arg(name);
    if (!BVFileManager::fileExistsAtPath(path))
        return path;
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    // A second gathering within the same second must not send the first one to the trash.
    return BVFileManager::uniqueFilename(
        BVFileManager::stringByDeletingPathExtension(path) + u'_' + stamp + QStringLiteral(".zip"));
}

BVTroubleshootingUtils::Outcome BVTroubleshootingUtils::gather(
    const QStringList &names, const QStringList &additionalFiles)
{
    // The work folder sits in a private folder of its own: a fixed name in the shared temporary
    // folder could belong to another user, or be a link planted there.
    QTemporaryDir privateFolder(BVLocalPaths::tempDirectory() + QStringLiteral("/BV_App_Logs-XXXXXX"));
    if (!privateFolder.isValid()) {
        BVSystemConsole::log("Error creating temp folder: %@", privateFolder.errorString());
        return Outcome::Failed;
    }
    const QString workFolder = privateFolder.path() + u'/' + workFolderName();
    if (BVFileManager::fileExistsAtPath(workFolder) && !BVFileManager::removeFile(workFolder, false)) {
        BVSystemConsole::log("Error removing existing folder: %@", workFolder);
        return Outcome::Failed;
    }
    if (!BVFileManager::createDirectory(workFolder, false)) {
        BVSystemConsole::log("Error creating temp folder: %@", workFolder);
        return Outcome::Failed;
    }
    QSet<QString> copied;
    int count = 0;
    for (const QString &file : filesToGather(names)) {
        if (!copyIntoWorkFolder(workFolder, file, &copied, &count)) {
            BVSystemConsole::log("Unable to copy log: %@", file);
            return Outcome::Failed;
        }
    }
    for (const QString &file : additionalFiles) {
        if (!copyIntoWorkFolder(workFolder, file, &copied, &count)) {
            BVSystemConsole::log("Unable to copy file: %@", file);
            return Outcome::Failed;
        }
    }
    if (count == 0)
        return Outcome::NothingFound;
    QDir().mkpath(BVLocalPaths::desktopDirectory());
    const QString archive = archivePathForName(names.first());
    if (!BVFileManager::compressFile(workFolder, archive))
        return Outcome::Failed;
    BVLog::appendLog("Logs gathered into %@", archive);
    return Outcome::Gathered;
}

bool BVTroubleshootingUtils::gatherLogsForAppsWithNames(
    const QStringList &names, bool silent, const QStringList &additionalFiles)
{
    if (names.isEmpty())
        return false;
    // The main thread handles events while it waits, so a second request could arrive meanwhile.
    if (g_gathering.exchange(true)) {
        BVLog::appendLog("Log gathering is already running");
        return false;
    }
    Outcome outcome = Outcome::Failed;
    if (BVWaitLoop::canHandleEvents()) {
        std::atomic<bool> done {false};
        BVWorkQueue queue(QStringLiteral("BVTroubleshootingUtils"));
        queue.async([&] {
            outcome = gather(names, additionalFiles);
            done = true;
        });
        BVWaitLoop::waitUntil([&] { return done.load(); }, -1, 0.01);
    } else {
        outcome = gather(names, additionalFiles);
    }
    g_gathering = false;

    if (!silent) {
        switch (outcome) {
        case Outcome::Gathered:
            BVAlert::alertSheetWithMessageText(QStringLiteral("Logs gathered successfully"),
                QStringLiteral("The gathered logs were placed on your desktop."), nullptr);
            break;
        case Outcome::NothingFound:
            BVAlert::alertSheetWithMessageText(QStringLiteral("No logs found"),
                QStringLiteral("There were no logs available to gather."), nullptr);
            break;
        case Outcome::Failed:
            BVAlert::alertSheetWithMessageText(QStringLiteral("Logs could not be gathered"),
                QStringLiteral("Please check your file permissions."), nullptr);
            break;
        }
    }
    return outcome == Outcome::Gathered;
}
