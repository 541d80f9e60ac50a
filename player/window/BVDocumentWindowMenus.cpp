// The player window's menu bar: the transport commands, the window and panel commands, and the
// display menus (timecode display and output, matte, rotation, ganging, overlays) whose check marks
// follow the settings. Main thread.
#include "player/window/BVDocumentWindowController.h"

#include "player/document/BVDocument.h"

#include "platform/defaults/BVUserDefaults.h"

#include <QAction>
#include <QActionGroup>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include <cmath>
#include <tuple>

namespace {

BVUserDefaults *defaults()
{
    return BVUserDefaults::standardUserDefaults();
}

// The "mask" setting as the matte menu's tag.
int matteTag(float ratio)
{
    const QList<float> ratios {1.33f, 1.5f, 1.78f, 1.85f, 2.35f, 2.4f};
    for (int i = 0; i < ratios.size(); ++i) {
        if (std::fabs(ratios.at(i) - ratio) < 0.001f)
            return i + 1;
    }
    return 0;
}

} // namespace

QAction *BVDocumentWindowController::addCommand(QMenu *menu, const QString &name, const QString &title,
    std::function<void()> handler, const QKeySequence &shortcut)
{
    auto *action = menu->addAction(title);
    action->setObjectName(name);
    if (!shortcut.isEmpty()) {
        action->setShortcut(shortcut);
        action->setShortcutContext(Qt::WindowShortcut);
    }
    connect(action, &QAction::triggered, this, [handler = std::move(handler)] { handler(); });
    m_actions.insert(name, action);
    // Its key works while the menu bar is hidden (full screen) too.
    if (!shortcut.isEmpty())
        m_window->addAction(action);
    return action;
}

void BVDocumentWindowController::addCheckGroup(QMenu *menu, const QString &name,
    const QList<QPair<QString, int>> &items, std::function<void(int)> handler)
{
    auto *group = new QActionGroup(menu);
    group->setExclusive(true);
    for (const auto &[title, tag] : items) {
        auto *action = menu->addAction(title);
        action->setCheckable(true);
        action->setData(tag);
        action->setObjectName(QStringLiteral("%1:%2").arg(name).arg(tag));
        group->addAction(action);
        connect(action, &QAction::triggered, this, [handler, tag] { handler(tag); });
        m_actions.insert(action->objectName(), action);
    }
}

void BVDocumentWindowController::buildMenus()
{
    m_menuBar = m_window->menuBar();
    m_menuBar->setNativeMenuBar(false);

    QMenu *file = m_menuBar->addMenu(QStringLiteral("&File"));
    addCommand(
        file, QStringLiteral("copyCurrentPosition"), QStringLiteral("Copy Current Position"),
        [this] { m_document.copyCurrentPosition(); }, QKeySequence(QStringLiteral("Ctrl+Shift+C")));
    addCommand(file, QStringLiteral("sendToTagsmith"), QStringLiteral("Send to Tagsmith"),
        [this] { m_document.sendToTagsmith(); });
    file->addSeparator();
    addCommand(
        file, QStringLiteral("exportMovie"), QStringLiteral("Export..."),
        [this] { m_document.exportMovie(); }, QKeySequence(QStringLiteral("Ctrl+E")));
    addCommand(
        file, QStringLiteral("trim"), QStringLiteral("Trim..."), [this] { m_document.trim(); },
        QKeySequence(QStringLiteral("Ctrl+Shift+T")));
    addCommand(
        file, QStringLiteral("exportFrame"), QStringLiteral("Export Frame..."),
        [this] { m_document.exportFrame(false); }, QKeySequence(QStringLiteral("Ctrl+Shift+E")));
    // The alternate command: straight to the desktop, without a panel and without pausing.
    addCommand(
        file, QStringLiteral("exportFrameToDesktop"), QStringLiteral("Export Frame to Desktop"),
        [this] { m_document.exportFrame(true); }, QKeySequence(QStringLiteral("Ctrl+Alt+Shift+E")));
    file->addSeparator();
    addCommand(file, QStringLiteral("downloadFile"), QStringLiteral("Download File..."),
        [this] { m_document.downloadFile(); });
    addCommand(file, QStringLiteral("cacheFile"), QStringLiteral("Cache current file"),
        [this] { m_document.cacheVeloFile(); });
    file->addSeparator();
    addCommand(
        file, QStringLiteral("close"), QStringLiteral("Close"), [this] { m_document.close(); },
        QKeySequence::Close);

    QMenu *playback = m_menuBar->addMenu(QStringLiteral("&Playback"));
    // Keys without Ctrl are the key map's (the playback view handles them); the menu shows them only.
    addCommand(playback, QStringLiteral("playPause"), QStringLiteral("Play/Pause\tSpace"),
        [this] { m_document.playPause(); });
    addCommand(playback, QStringLiteral("playInToOut"), QStringLiteral("Play In to Out\tShift+Space"),
        [this] { m_document.playInToOut(); });
    addCommand(
        playback, QStringLiteral("playAround"), QStringLiteral("Play Around Current Position"),
        [this] { m_document.playAround(); }, QKeySequence(QStringLiteral("Ctrl+Shift+P")));
    playback->addSeparator();
    addCommand(
        playback, QStringLiteral("rewind"), QStringLiteral("Rewind\tJ"), [this] { m_document.rewind(); });
    addCommand(playback, QStringLiteral("fastForward"), QStringLiteral("Fast Forward\tL"),
        [this] { m_document.fastForward(); });
    addCommand(playback, QStringLiteral("stepLeft"), QStringLiteral("Step Back\tLeft"),
        [this] { m_document.stepLeft(); });
    addCommand(playback, QStringLiteral("stepRight"), QStringLiteral("Step Forward\tRight"),
        [this] { m_document.stepRight(); });
    addCommand(playback, QStringLiteral("back1Second"), QStringLiteral("Back 1 Second\tShift+Left"),
        [this] { m_document.back1Second(); });
    addCommand(playback, QStringLiteral("forward1Second"), QStringLiteral("Forward 1 Second\tShift+Right"),
        [this] { m_document.forward1Second(); });
    addCommand(playback, QStringLiteral("goToStart"), QStringLiteral("Go to Start\tHome"),
        [this] { m_document.goToStart(); });
    addCommand(playback, QStringLiteral("goToEnd"), QStringLiteral("Go to End\tEnd"),
        [this] { m_document.goToEnd(); });
    addCommand(playback, QStringLiteral("skipBack"), QStringLiteral("Previous Item\tCtrl+Left"),
        [this] { m_document.skipBack(); });
    addCommand(playback, QStringLiteral("skipNext"), QStringLiteral("Next Item\tCtrl+Right"),
        [this] { m_document.skipNext(); });
    playback->addSeparator();
    addCommand(
        playback, QStringLiteral("setInPoint"), QStringLiteral("Set In Point"),
        [this] { m_document.setInPoint(); }, QKeySequence(QStringLiteral("I")));
    addCommand(
        playback, QStringLiteral("setOutPoint"), QStringLiteral("Set Out Point"),
        [this] { m_document.setOutPoint(); }, QKeySequence(QStringLiteral("O")));
    addCommand(
        playback, QStringLiteral("goToInPoint"), QStringLiteral("Go to In Point"),
        [this] { m_document.goToInPoint(); }, QKeySequence(QStringLiteral("Shift+I")));
    addCommand(
        playback, QStringLiteral("goToOutPoint"), QStringLiteral("Go to Out Point"),
        [this] { m_document.goToOutPoint(); }, QKeySequence(QStringLiteral("Shift+O")));
    addCommand(
        playback, QStringLiteral("clearInOut"), QStringLiteral("Clear In and Out"),
        [this] { m_document.clearInOut(); }, QKeySequence(QStringLiteral("Alt+X")));
    playback->addSeparator();
    addCommand(
        playback, QStringLiteral("timecodeClicked"), QStringLiteral("Go to Timecode..."),
        [this] { timecodeClicked(); }, QKeySequence(QStringLiteral("Ctrl+G")));
    addCommand(
        playback, QStringLiteral("mute"), QStringLiteral("Mute"), [this] { m_document.mute(); },
        QKeySequence(QStringLiteral("Ctrl+Alt+M")));
    QMenu *gang = playback->addMenu(QStringLiteral("Ganging"));
    addCheckGroup(gang, QStringLiteral("modifyGanging"),
        {{QStringLiteral("Off"), 0}, {QStringLiteral("Gang All Players"), 1}},
        [this](int tag) { m_document.modifyGanging(tag); });

    QMenu *view = m_menuBar->addMenu(QStringLiteral("&View"));
    addCommand(
        view, QStringLiteral("setActualSize"), QStringLiteral("Actual Size"), [this] { setActualSize(); },
        QKeySequence(QStringLiteral("Ctrl+1")));
    addCommand(
        view, QStringLiteral("setHalfSize"), QStringLiteral("Half Size"), [this] { setHalfSize(); },
        QKeySequence(QStringLiteral("Ctrl+0")));
    addCommand(
        view, QStringLiteral("fitToScreen"), QStringLiteral("Fit to Screen"), [this] { fitToScreen(); },
        QKeySequence(QStringLiteral("Ctrl+3")));
    addCommand(
        view, QStringLiteral("toggleFullScreen"), QStringLiteral("Enter Full Screen"),
        [this] { toggleFullScreen(); }, QKeySequence(QStringLiteral("Ctrl+F")));
    view->addSeparator();
    QMenu *display = view->addMenu(QStringLiteral("Timecode Display"));
    addCheckGroup(display, QStringLiteral("modifyTimecodeDisplay"),
        {{QStringLiteral("Source Timecode"), 0}, {QStringLiteral("Timecode from Zero"), 1},
            {QStringLiteral("Frame Count"), 2}},
        [this](int tag) { m_document.modifyTimecodeDisplay(tag); });
    QMenu *output = view->addMenu(QStringLiteral("Timecode Output"));
    addCheckGroup(output, QStringLiteral("modifyTimecodeOutput"),
        {{QStringLiteral("None"), 0}, {QStringLiteral("MIDI Transport Controls"), 1},
            {QStringLiteral("Control Surface and MIDI Timecode"), 2}, {QStringLiteral("MIDI Timecode"), 3}},
        [this](int tag) { m_document.modifyTimecodeOutput(tag); });
    auto *overlay = addCommand(
        view, QStringLiteral("toggleTimecodeOverlay"), QStringLiteral("Timecode Overlay"),
        [this] { toggleTimecodeOverlay(); }, QKeySequence(QStringLiteral("Ctrl+T")));
    overlay->setCheckable(true);
    view->addSeparator();
    QMenu *matte = view->addMenu(QStringLiteral("Widescreen Matte"));
    addCheckGroup(matte, QStringLiteral("changeMatte"),
        {{QStringLiteral("None"), 0}, {QStringLiteral("1.33"), 1}, {QStringLiteral("1.5"), 2},
            {QStringLiteral("1.78"), 3}, {QStringLiteral("1.85"), 4}, {QStringLiteral("2.35"), 5},
            {QStringLiteral("2.4"), 6}},
        [this](int tag) { m_document.changeMatte(tag); });
    QMenu *rotation = view->addMenu(QStringLiteral("Rotation"));
    addCheckGroup(rotation, QStringLiteral("changeRotation"),
        {{QStringLiteral("None"), 1}, {QStringLiteral("Flip Horizontally"), 2},
            {QStringLiteral("Rotate 90\u00B0 Right"), 3}, {QStringLiteral("Rotate 90\u00B0 Left"), 4}},
        [this](int tag) { m_document.changeRotation(tag); });
    // How pixels are drawn: enlarged as blocks, transparency over a checkerboard, interlaced
    // fields deinterlaced.
    const QList<std::tuple<QString, QString, QString>> drawing {
        {QStringLiteral("toggleNearestNeighbourZoom"), QStringLiteral("Show Pixels Above 100%"),
            QStringLiteral("nearestNeighbourZoom")},
        {QStringLiteral("toggleAlphaCheckerboard"), QStringLiteral("Transparency Checkerboard"),
            QStringLiteral("alphaCheckerboard")},
        {QStringLiteral("toggleDeinterlace"), QStringLiteral("Deinterlace"), QStringLiteral("deinterlace")},
    };
    for (const auto &[name, title, key] : drawing) {
        auto *toggle = addCommand(view, name, title, [this, key] {
            defaults()->setBool(!defaults()->boolForKey(key), key);
            updateViewOptions();
            updateMenuChecks();
        });
        toggle->setCheckable(true);
    }
    auto *safe43 = addCommand(view, QStringLiteral("toggle43Overlay"), QStringLiteral("4:3 Safe Area"),
        [this] { toggle43Overlay(); });
    safe43->setCheckable(true);
    auto *safe169 = addCommand(view, QStringLiteral("toggle169Overlay"), QStringLiteral("16:9 Safe Area"),
        [this] { toggle169Overlay(); });
    safe169->setCheckable(true);

    QMenu *window = m_menuBar->addMenu(QStringLiteral("&Window"));
    for (const auto &[name, title, handler] :
        {std::tuple<QString, QString, std::function<void()>> {QStringLiteral("toggleInfo"),
             QStringLiteral("Info"), [this] { toggleSubWindow(QStringLiteral("showInfo")); }},
            {QStringLiteral("toggleTimecode"), QStringLiteral("Timecode"),
                [this] { toggleSubWindow(QStringLiteral("showTimecode")); }},
            {QStringLiteral("toggleMarkers"), QStringLiteral("Markers"),
                [this] { toggleSubWindow(QStringLiteral("showMarkers")); }}}) {
        addCommand(window, name, title, handler)->setCheckable(true);
    }

    // Enabling follows validateMenuItem each time a menu opens.
    for (QMenu *menu : m_menuBar->findChildren<QMenu *>()) {
        connect(menu, &QMenu::aboutToShow, this, [this, menu] {
            for (QAction *action : menu->actions())
                action->setEnabled(m_document.validateMenuItem(action->objectName()));
            if (QAction *cache = m_actions.value(QStringLiteral("cacheFile")))
                cache->setText(m_document.cloudReview()->veloIsCached()
                        ? QStringLiteral("Discard cached file")
                        : QStringLiteral("Cache current file"));
            updateMenuChecks();
        });
    }
    updateMenuChecks();
}

void BVDocumentWindowController::updateMenuChecks()
{
    if (m_actions.isEmpty())
        return;
    auto check = [this](const QString &name, int value) {
        for (auto it = m_actions.cbegin(); it != m_actions.cend(); ++it) {
            if (it.key().startsWith(name + QLatin1Char(':')))
                it.value()->setChecked(it.value()->data().toInt() == value);
        }
    };
    check(QStringLiteral("modifyTimecodeDisplay"),
        int(defaults()->integerForKey(QStringLiteral("timecodeDisplay"))));
    check(QStringLiteral("modifyTimecodeOutput"),
        int(defaults()->integerForKey(QStringLiteral("timecodeOutput"))));
    check(QStringLiteral("changeMatte"), matteTag(defaults()->floatForKey(QStringLiteral("mask"))));
    check(QStringLiteral("changeRotation"), int(defaults()->integerForKey(QStringLiteral("rotation"))));
    check(
        QStringLiteral("modifyGanging"), defaults()->integerForKey(QStringLiteral("gangMode")) == 1 ? 1 : 0);
    const QList<QPair<QString, QString>> toggles {
        {QStringLiteral("toggleTimecodeOverlay"), QStringLiteral("timecodeOverlay")},
        {QStringLiteral("toggle43Overlay"), QStringLiteral("safe43Overlay")},
        {QStringLiteral("toggle169Overlay"), QStringLiteral("safe169Overlay")},
        {QStringLiteral("toggleNearestNeighbourZoom"), QStringLiteral("nearestNeighbourZoom")},
        {QStringLiteral("toggleAlphaCheckerboard"), QStringLiteral("alphaCheckerboard")},
        {QStringLiteral("toggleDeinterlace"), QStringLiteral("deinterlace")},
        {QStringLiteral("toggleInfo"), QStringLiteral("showInfo")},
        {QStringLiteral("toggleTimecode"), QStringLiteral("showTimecode")},
        {QStringLiteral("toggleMarkers"), QStringLiteral("showMarkers")}};
    for (const auto &[name, key] : toggles) {
        if (QAction *action = m_actions.value(name))
            action->setChecked(defaults()->boolForKey(key));
    }
    if (QAction *full = m_actions.value(QStringLiteral("toggleFullScreen")))
        full->setText(
            m_fullScreen ? QStringLiteral("Exit Full Screen") : QStringLiteral("Enter Full Screen"));
}
