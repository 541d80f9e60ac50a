// The application controller's preference backup commands, which start prefsync, and the update
// check.
#include "app/BVAppController.h"

#include "app/BVSoftwareUpdate.h"
#include "support/BVAlert.h"
#include "support/BVBundle.h"
#include "support/BVLog.h"
#include "support/BVTaskEx.h"

#include <QAction>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>

namespace {

BVAppController::TaskRunner &prefsyncRunner()
{
    static BVAppController::TaskRunner runner = [](const QString &path, const QStringList &arguments) {
        BVTaskEx::runTaskAndReturn(path, arguments);
    };
    return runner;
}

} // namespace

void BVAppController::setPrefsyncRunner(TaskRunner runner)
{
    prefsyncRunner() = std::move(runner);
}

QString BVAppController::prefsyncPath()
{
    // Installed beside the program; in the build tree, in the folder of its own name.
    const QString folder = QCoreApplication::applicationDirPath();
    const QStringList candidates {
        folder + QStringLiteral("/prefsync"), folder + QStringLiteral("/prefsync/prefsync")};
    for (const QString &path : candidates) {
        const QFileInfo info(path);
        if (info.isFile() && info.isExecutable())
            return path;
    }
    return QString();
}

void BVAppController::backupPrefs()
{
    runPrefsync(QStringLiteral("-backup"), QStringLiteral("Unable to backup preferences"));
}

void BVAppController::restorePrefs()
{
    runPrefsync(QStringLiteral("-restore"), QStringLiteral("Unable to restore preferences"));
}

void BVAppController::runPrefsync(const QString &mode, const QString &failureTitle)
{
    const QString path = prefsyncPath();
    if (path.isEmpty()) {
        BVLog::appendLog("prefsync was not found beside %@", QCoreApplication::applicationDirPath());
        BVAlert::alertSheetWithMessageText(failureTitle, QStringLiteral("Sync app not found."), nullptr);
        return;
    }
    prefsyncRunner()(path, {mode, BVBundle::mainBundle().bundleIdentifier()});
}

void BVAppController::addPreferenceCommands(QMenuBar *menuBar)
{
    if (!menuBar || menuBar->findChild<QAction *>(QStringLiteral("backupPrefs")))
        return;
    QMenu *file = nullptr;
    for (QAction *action : menuBar->actions()) {
        if (action->menu() && action->text().remove(QLatin1Char('&')) == QLatin1String("File"))
            file = action->menu();
    }
    if (!file)
        file = menuBar->addMenu(QStringLiteral("&File"));
    // Before Close, the last command of the menu.
    QAction *before = file->actions().isEmpty() ? nullptr : file->actions().constLast();
    auto *backup = new QAction(QStringLiteral("Backup Preferences"), menuBar);
    backup->setObjectName(QStringLiteral("backupPrefs"));
    connect(backup, &QAction::triggered, this, &BVAppController::backupPrefs);
    auto *restore = new QAction(QStringLiteral("Restore Preferences"), menuBar);
    restore->setObjectName(QStringLiteral("restorePrefs"));
    connect(restore, &QAction::triggered, this, &BVAppController::restorePrefs);
    file->insertAction(before, backup);
    file->insertAction(before, restore);
    file->insertSeparator(before);
}

void BVAppController::addUpdateCommand(QMenuBar *menuBar)
{
    if (!menuBar || menuBar->findChild<QAction *>(QStringLiteral("checkForUpdates")))
        return;
    QMenu *help = nullptr;
    for (QAction *action : menuBar->actions()) {
        if (action->menu() && action->text().remove(QLatin1Char('&')) == QLatin1String("Help"))
            help = action->menu();
    }
    if (!help)
        help = menuBar->addMenu(QStringLiteral("&Help"));
    auto *check = new QAction(QStringLiteral("Check for Updates..."), menuBar);
    check->setObjectName(QStringLiteral("checkForUpdates"));
    connect(check, &QAction::triggered, this,
        [menuBar] { BVSoftwareUpdate::manualUpdateCheck(menuBar ? menuBar->window() : nullptr); });
    help->addAction(check);
}
