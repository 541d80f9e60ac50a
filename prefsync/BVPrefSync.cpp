#include "prefsync/BVPrefSync.h"

#include "cloud/BVVelora.h"
#include "net/BVHTTPRequest.h"
#include "prefsync/BVInstalledApplication.h"
#include "prefsync/BVRunningApplication.h"
#include "support/BVAlert.h"
#include "support/BVBundle.h"
#include "support/BVFileManager.h"
#include "support/BVFormat.h"
#include "support/BVLocalPaths.h"
#include "support/BVLog.h"
#include "support/BVMainThread.h"
#include "support/BVWorkQueue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QThread>
#include <QUrl>

const QString BVPrefSync::backupFolder = QStringLiteral("/");
const QString BVPrefSync::identifierPrefix = QStringLiteral("com.brightvane.");

namespace {

const QString kBackupArgument = QStringLiteral("-backup");
const QString kRestoreArgument = QStringLiteral("-restore");

const QString kRestoreTitle = QStringLiteral("Unable to restore");
const QString kBackupTitle = QStringLiteral("Unable to backup");
const QString kNoRestoreApplication
    = QStringLiteral("Could not find the application to restore on this computer.");
const QString kNoBackupApplication
    = QStringLiteral("Could not find the application to backup on this computer.");
const QString kNoAppName = QStringLiteral("Could not get app name.");

} // namespace

BVPrefSync::BVPrefSync(QStringList arguments, QObject *parent)
    : QObject(parent)
    , m_arguments(std::move(arguments))
    , m_installQueue(std::make_unique<BVWorkQueue>(QStringLiteral("com.brightvane.prefsync.install")))
{ }

BVPrefSync::~BVPrefSync()
{
    // A restore in progress finishes its file moves before the queue goes.
    m_installQueue->waitUntilEmpty();
    if (m_velora)
        m_velora->setDelegate(nullptr);
}

QString BVPrefSync::appID()
{
    return BVBundle::prefsync().stringForKey(QStringLiteral("BVVAppID"));
}

QString BVPrefSync::preferenceFilePath(const QString &bundleIdentifier)
{
    return BVLocalPaths::prefsDirectory(true) + BVFormat::format("/%@.plist", bundleIdentifier);
}

bool BVPrefSync::isRestoreMode() const
{
    return m_arguments.contains(kRestoreArgument) && !m_arguments.contains(kBackupArgument);
}

void BVPrefSync::applicationDidFinishLaunching()
{
    m_velora = std::make_unique<BVVelora>(BVVelora::Program::Prefsync, this);
    if (!m_velora->isLinked()) {
        alertAndQuit(QStringLiteral("Velora not authorized"),
            QStringLiteral("Please login to Velora from another Brightvane application and try again."));
        return;
    }
    if (m_arguments.size() <= 2) {
        alertAndQuit(QStringLiteral("Invalid paramaters"), QString());
        return;
    }
    if (!bundleIdentifier().startsWith(identifierPrefix)) {
        alertAndQuit(QStringLiteral("Invalid paramater format"), QString());
        return;
    }
    if (!BVInstalledApplication::applicationWithBundleIdentifier(bundleIdentifier())) {
        if (isRestoreMode())
            alertAndQuit(kRestoreTitle, kNoRestoreApplication);
        else
            alertAndQuit(kBackupTitle, kNoBackupApplication);
        return;
    }
    if (m_arguments.contains(kBackupArgument))
        backup();
    else if (m_arguments.contains(kRestoreArgument))
        restore();
    else
        alertAndQuit(QStringLiteral("Invalid paramaters"), QString());
}

void BVPrefSync::backup()
{
    const auto app = BVInstalledApplication::applicationWithBundleIdentifier(bundleIdentifier());
    const QString name = app ? app->displayName() : QString();
    if (name.isEmpty()) {
        alertAndQuit(kBackupTitle, kNoAppName);
        return;
    }
    const QString path = preferenceFilePath(bundleIdentifier());
    if (!QFileInfo(path).isFile()) {
        alertAndQuit(QStringLiteral("No preferences to backup"),
            QStringLiteral("Please launch the application you'd like to backup and try again."));
        return;
    }
    BVLog::appendLog("Backing up %@ to the folder %@ as %@", path, backupFolder, name);
    // A refused start has already been told to the delegate as an authorization failure.
    if (!m_velora->uploadFile(path, appID(), backupFolder, name))
        alertAndQuit(kBackupTitle, QStringLiteral("Could not read the preference file."));
}

void BVPrefSync::veloraFileUploaded(BVVelora *, const QVariant &)
{
    alertAndQuit(QStringLiteral("Preferences backed up successfully"), QString());
}

void BVPrefSync::veloraUploadFileFailedWithError(BVVelora *, const BVError &error)
{
    BVVelora::showAlertForError(error);
    quit();
}

void BVPrefSync::restore()
{
    m_velora->populateFilesForApp(appID(), backupFolder);
}

void BVPrefSync::veloraFilesReceived(BVVelora *, const QVariant &result)
{
    const auto app = BVInstalledApplication::applicationWithBundleIdentifier(bundleIdentifier());
    if (!app) {
        alertAndQuit(kRestoreTitle, kNoRestoreApplication);
        return;
    }
    if (app->displayName().isEmpty()) {
        alertAndQuit(kRestoreTitle, kNoAppName);
        return;
    }
    // In the order received: the first record of that title is the backup.
    for (const QVariant &item : result.toList()) {
        const QVariantMap file = item.toMap();
        if (file.value(QStringLiteral("title")).toString() != app->displayName())
            continue;
        m_velora->generateURLForFileWithID(file.value(QStringLiteral("id")).toLongLong());
        return;
    }
    alertAndQuit(QStringLiteral("Unable to restore preferences"),
        QStringLiteral("Could not find a backup for this application."));
}

void BVPrefSync::veloraPopulateFilesFailedWithError(BVVelora *, const BVError &error)
{
    // The tool has no window to stay open in: after the alert there is nothing left to do.
    BVVelora::showAlertForError(error);
    quit();
}

void BVPrefSync::veloraFileURLReceived(BVVelora *, const QVariant &result)
{
    const QString address = result.toMap().value(QStringLiteral("url")).toString();
    m_installQueue->async([this, address] { downloadAndInstall(address); });
}

void BVPrefSync::veloraFileURLFailedWithError(BVVelora *, const BVError &error)
{
    BVVelora::showAlertForError(error);
    quit();
}

void BVPrefSync::downloadAndInstall(const QString &address)
{
    const QString identifier = bundleIdentifier();
    const QString destination = preferenceFilePath(identifier);

    auto request = BVHTTPRequest::requestWithURL(QUrl(address));
    request->setRequestMethod(QStringLiteral("GET"));
    request->setTimeOutSeconds(60);
    request->startSynchronous();
    BVError error = request->error();
    // An error page is not a preference file.
    if (error.isNull() && request->responseStatusCode() >= 400) {
        error = BVError::withDescription(BVHTTPRequest::errorDomain, request->responseStatusCode(),
            BVFormat::format("The server answered with status %i.", request->responseStatusCode()));
    }
    if (!error.isNull()) {
        alertAndQuit(QStringLiteral("Unable to download file"), error.localizedDescription());
        return;
    }

    // A folder of this run's own inside the temporary folder: the file keeps the preference file's
    // name without meeting another user's or another run's file of that name.
    const QString folder = BVLocalPaths::tempFile();
    const QString downloaded = folder + QLatin1Char('/') + QFileInfo(destination).fileName();
    QSaveFile file(downloaded);
    if (!QDir().mkpath(folder) || !file.open(QIODevice::WriteOnly)
        || file.write(request->responseData()) != request->responseData().size() || !file.commit()) {
        QDir(folder).removeRecursively();
        alertAndQuit(QStringLiteral("Unable to write data"), file.errorString());
        return;
    }

    // An application that saves its settings while quitting would overwrite the restored file, so
    // the file is replaced only once the application has ended.
    const auto running = BVRunningApplication::runningApplicationWithBundleIdentifier(identifier);
    if (running && (!running->terminate() || !running->waitUntilTerminated(m_terminationTimeout))) {
        QDir(folder).removeRecursively();
        alertAndQuit(QStringLiteral("Unable to terminate running application"), QString());
        return;
    }

    // The old file stays where it is when it cannot go to the Trash, and is then not the restored one.
    const bool trashed
        = !BVFileManager::fileExistsAtPath(destination) || BVFileManager::trashFile(destination);
    QDir().mkpath(QFileInfo(destination).absolutePath());
    const bool moved = trashed && BVFileManager::moveFile(downloaded, destination, std::chrono::seconds(15));
    QDir(folder).removeRecursively();

    if (moved && QFileInfo(destination).isFile()) {
        BVAlert::alertSheetWithMessageText(
            QStringLiteral("Preferences successfully restored"), QString(), nullptr);
    } else if (!trashed) {
        BVAlert::alertSheetWithMessageText(QStringLiteral("Error restoring preferences"),
            QStringLiteral("The current preference file could not be moved to the Trash."), nullptr);
    } else {
        BVAlert::alertSheetWithMessageText(
            QStringLiteral("Error restoring preferences"), QStringLiteral("Path does not exist."), nullptr);
    }
    if (running) {
        QThread::sleep(1);
        if (const auto app = BVInstalledApplication::applicationWithBundleIdentifier(identifier))
            app->launch();
    }
    quit();
}

void BVPrefSync::alertAndQuit(const QString &title, const QString &informativeText)
{
    BVAlert::alertSheetWithMessageText(title, informativeText, nullptr);
    quit();
}

void BVPrefSync::quit()
{
    if (BVMainThread::isMainThread()) {
        Q_EMIT finished();
        return;
    }
    QMetaObject::invokeMethod(
        this, [this] { Q_EMIT finished(); }, Qt::QueuedConnection);
}
