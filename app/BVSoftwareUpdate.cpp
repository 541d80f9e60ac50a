#include "app/BVSoftwareUpdate.h"

#include "platform/defaults/BVPropertyList.h"
#include "platform/defaults/BVUserDefaults.h"
#include "support/BVAlert.h"
#include "support/BVLog.h"
#include "support/BVTaskEx.h"
#include "support/BVWorkQueue.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <mutex>

namespace {

std::mutex s_runnerMutex;

BVSoftwareUpdate::Runner &runner()
{
    static BVSoftwareUpdate::Runner r = [](const QString &path, const QStringList &arguments) {
        BVTaskEx::runTaskAndReturn(path, arguments);
    };
    return r;
}

} // namespace

BVSoftwareUpdate::BVSoftwareUpdate() = default;
BVSoftwareUpdate::~BVSoftwareUpdate() = default;

void BVSoftwareUpdate::setRunner(Runner r)
{
    std::lock_guard lock(s_runnerMutex);
    runner() = std::move(r);
}

void BVSoftwareUpdate::startup()
{
    const QVariant check = BVPropertyList::readDictionary(BVPropertyList::globalPreferencesPath())
                               .value(QStringLiteral("SUCheckAtStartup"));
    if (check.isValid() && check.canConvert<double>() && check.typeId() != QMetaType::QString
        && !check.toBool())
        return;
    if (updaterPath().isEmpty())
        return; // nothing to run: the package manager updates the program
    if (!m_queue)
        m_queue = std::make_unique<BVWorkQueue>(QStringLiteral("com.brightvane.softwareupdate"));
    m_queue->async([] { automaticallyCheckForUpdates(); });
}

QString BVSoftwareUpdate::updaterPath()
{
    return BVUserDefaults::standardUserDefaults()
        ->stringForKey(QStringLiteral("softwareUpdateProgram"))
        .trimmed();
}

bool BVSoftwareUpdate::isInSharedTemporaryFolder(const QString &path)
{
    const QString resolved = QFileInfo(path).canonicalFilePath().isEmpty()
        ? QFileInfo(path).absoluteFilePath()
        : QFileInfo(path).canonicalFilePath();
    for (const QString &folder :
        {QDir::tempPath(), QStringLiteral("/tmp"), QStringLiteral("/var/tmp"), QStringLiteral("/dev/shm")}) {
        const QString canonical = QFileInfo(folder).canonicalFilePath().isEmpty()
            ? folder
            : QFileInfo(folder).canonicalFilePath();
        if (resolved == canonical || resolved.startsWith(canonical + u'/'))
            return true;
    }
    return false;
}

bool BVSoftwareUpdate::run(const QStringList &arguments)
{
    const QString path = updaterPath();
    if (path.isEmpty())
        return false;
    if (!QFileInfo::exists(path)) {
        BVLog::appendLogAndPrint("Unable to launch Software Update - path doesn't exist");
        return false;
    }
    if (!BVTaskEx::isExecutable(path)) {
        BVLog::appendLogAndPrint("Unable to launch Software Update - executable path doesn't exist");
        return false;
    }
    if (isInSharedTemporaryFolder(path)) {
        BVLog::appendLogAndPrint(
            "Unable to launch Software Update - %@ is in the shared temporary folder", path);
        return false;
    }
    std::lock_guard lock(s_runnerMutex);
    runner()(path, arguments);
    return true;
}

bool BVSoftwareUpdate::automaticallyCheckForUpdates()
{
    return run({QStringLiteral("-checkpath"), QCoreApplication::applicationFilePath()});
}

bool BVSoftwareUpdate::launchSoftwareUpdate()
{
    return run({});
}

void BVSoftwareUpdate::manualUpdateCheck(QWidget *parentWindow)
{
    if (updaterPath().isEmpty()) {
        BVAlert::alertSheetWithMessageText(noUpdaterTitle(), noUpdaterText(), parentWindow);
        return;
    }
    launchSoftwareUpdate();
}
