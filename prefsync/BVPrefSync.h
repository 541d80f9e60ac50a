#pragma once

#include "cloud/BVVeloraDelegate.h"

#include <QObject>
#include <QStringList>

#include <chrono>
#include <memory>

class BVVelora;
class BVWorkQueue;

// The preference backup tool: copies one application's preference file to the signed-in user's
// private storage of this tool on the service, or brings it back and puts it in place. Every
// outcome is an alert; finished() tells the program to quit. Main thread, except Download and
// install, which runs on one background queue.
class BVPrefSync : public QObject, public BVVeloraDelegate
{
    Q_OBJECT
public:
    // The folder of the tool's storage that holds the backups.
    static const QString backupFolder; // "/"
    // The identifiers the tool handles begin with this.
    static const QString identifierPrefix; // "com.brightvane."

    // The arguments as the program got them, the program path first.
    explicit BVPrefSync(QStringList arguments, QObject *parent = nullptr);
    ~BVPrefSync() override;

    // The tool's application identifier on the service.
    static QString appID();
    // The preference file of the application: "<prefs folder>/<bundle id>.plist".
    static QString preferenceFilePath(const QString &bundleIdentifier);

    // Runs the checks and then the backup or the restore.
    void applicationDidFinishLaunching();

    // How long a running application gets to quit before a restore gives up (15 s).
    void setTerminationTimeout(std::chrono::milliseconds timeout) { m_terminationTimeout = timeout; }

Q_SIGNALS:
    // The job is over (its alert dismissed); the program quits.
    void finished();

protected:
    void veloraFileUploaded(BVVelora *velora, const QVariant &result) override;
    void veloraUploadFileFailedWithError(BVVelora *velora, const BVError &error) override;
    void veloraFilesReceived(BVVelora *velora, const QVariant &result) override;
    void veloraPopulateFilesFailedWithError(BVVelora *velora, const BVError &error) override;
    void veloraFileURLReceived(BVVelora *velora, const QVariant &result) override;
    void veloraFileURLFailedWithError(BVVelora *velora, const BVError &error) override;

private:
    bool isRestoreMode() const;
    QString bundleIdentifier() const { return m_arguments.last(); }
    void backup();
    void restore();
    // Background queue: fetches the address, writes the file and puts it in place.
    void downloadAndInstall(const QString &address);
    // Shows the alert (waiting until it is dismissed) and quits.
    void alertAndQuit(const QString &title, const QString &informativeText);
    void quit();

    QStringList m_arguments;
    std::unique_ptr<BVVelora> m_velora;
    std::unique_ptr<BVWorkQueue> m_installQueue;
    std::chrono::milliseconds m_terminationTimeout = std::chrono::seconds(15);
};
