// Screenshots for review of the MIDI and usage-reporting interface: the View menu's Timecode Output
// submenu of a player window, and the usage-reporting consent question of the second launch. Runs
// in a temporary HOME under an X server (Xvfb):
//   bv_midi_shots OUTDIR MOVIE
#include "app/BVQC.h"
#include "platform/defaults/BVUserDefaults.h"
#include "player/document/BVDocument.h"
#include "player/window/BVDocumentWindowController.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <cstdio>

namespace {

void spin(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

bool shoot(const QString &path)
{
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
    const bool saved = shot.save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

QMenu *submenu(QMenu *menu, const QString &title)
{
    for (QAction *action : menu->actions())
        if (action->menu() && action->text() == title)
            return action->menu();
    return nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        qputenv(name, (home.path() + u'/' + QString::fromLatin1(name)).toUtf8());
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bv_midi_shots OUTDIR MOVIE\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    BVUserDefaults *defaults = BVUserDefaults::standardUserDefaults();
    defaults->setInteger(0, QStringLiteral("autoplay"));
    defaults->setInteger(3, QStringLiteral("timecodeOutput"));
    int failures = 0;

    BVDocument document;
    if (!document.readFromURL(
            QUrl::fromLocalFile(QString::fromLocal8Bit(argv[2])), BVDocument::movieType())) {
        std::fprintf(stderr, "cannot open the movie\n");
        return 1;
    }
    BVDocumentWindowController::showWindows(document);
    spin(1500);
    QMenu *view = nullptr;
    for (QAction *action : BVDocumentWindowController::of(document)->menuBar()->actions())
        if (action->menu() && action->text().remove(u'&') == QLatin1String("View"))
            view = action->menu();
    QMenu *output = view ? submenu(view, QStringLiteral("Timecode Output")) : nullptr;
    if (!output) {
        std::fprintf(stderr, "no Timecode Output menu\n");
        ++failures;
    } else {
        BVDocumentWindowController::of(document)->updateMenuChecks();
        const QPoint at
            = BVDocumentWindowController::of(document)->window()->geometry().topLeft() + QPoint(40, 30);
        view->popup(at);
        spin(300);
        for (QAction *action : view->actions())
            if (action->menu() == output)
                view->setActiveAction(action);
        spin(300);
        if (!output->isVisible())
            output->popup(at + QPoint(view->width() - 4, view->actionGeometry(view->activeAction()).top()));
        spin(500);
        failures += shoot(out + QStringLiteral("/timecode-output-menu.png")) ? 0 : 1;
        output->hide();
        view->hide();
    }
    document.close();
    spin(300);

    // The second launch asks.
    defaults->setInteger(1, QStringLiteral("launchCount"));
    BVQC qc;
    QTimer::singleShot(1200, [&] {
        failures += shoot(out + QStringLiteral("/usage-consent.png")) ? 0 : 1;
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
                for (QAbstractButton *button : box->buttons())
                    if (button->text() == QLatin1String("Don't Allow"))
                        button->click();
    });
    qc.loadQC(nullptr);
    return failures == 0 ? 0 : 1;
}
