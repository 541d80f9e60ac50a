#include "app/BVApplicationController.h"

#include "app/BVPlaceholderWindow.h"
#include "support/BVLog.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace {
BVApplicationController *s_shared = nullptr;
}

BVApplicationController::BVApplicationController(QObject *parent)
    : QObject(parent)
{
    s_shared = this;
    BVLog::createNewLog();
}

BVApplicationController::~BVApplicationController()
{
    if (s_shared == this)
        s_shared = nullptr;
}

BVApplicationController *BVApplicationController::sharedController()
{
    return s_shared;
}

void BVApplicationController::applicationDidFinishLaunching(const QStringList &files)
{
    BVLog::appendLog("Launched with %li file(s)", long(files.size()));
    openFiles(files);
    if (m_windows.empty()) {
        auto window = std::make_unique<BVPlaceholderWindow>(QString());
        window->show();
        m_windows.push_back(std::move(window));
    }
}

void BVApplicationController::openFiles(const QStringList &files)
{
    for (const QString &file : files) {
        const QUrl url = QUrl::fromUserInput(file, QDir::currentPath(), QUrl::AssumeLocalFile);
        BVLog::appendLog("Opening %@", url.toString());
        auto window = std::make_unique<BVPlaceholderWindow>(
            url.isLocalFile() ? QFileInfo(url.toLocalFile()).absoluteFilePath() : url.toString());
        window->show();
        m_windows.push_back(std::move(window));
    }
}
