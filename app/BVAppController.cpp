#include "app/BVAppController.h"

#include "app/BVDocumentController.h"
#include "app/BVGrowl.h"
#include "app/BVImageSequenceFiles.h"
#include "app/BVQC.h"
#include "app/BVSoftwareUpdate.h"
#include "export/BVActivityController.h"
#include "platform/defaults/BVUserDefaults.h"
#include "player/document/BVDocument.h"
#include "player/window/BVDocumentWindowController.h"
#include "support/BVError.h"
#include "support/BVLog.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QUrl>
#include <QVBoxLayout>

namespace {

BVAppController *s_shared = nullptr;

QUrl urlForArgument(const QString &argument)
{
    return QUrl::fromUserInput(argument, QDir::currentPath(), QUrl::AssumeLocalFile);
}

} // namespace

BVAppController::BVAppController()
{
    s_shared = this;
    BVLog::createNewLog();
    m_showOpenDialog = true;
    registerDefaults();
    // Player documents tell the user things ("Copied") through the desktop's notifications.
    BVDocument::setUserNotificationHandler(
        [](const QString &title, const QString &description, const QVariant &clickContext) {
            BVGrowl::defaultController()->postGrowlNotification(
                title, description, QImage(), BVGrowl::defaultNotificationName, clickContext);
        });
    // One queue of exports for the application; documents queue theirs in it.
    m_activity = new BVActivityController(this);
    m_activity->setNotifier([](const QString &title, const QString &description) {
        BVGrowl::defaultController()->postGrowlNotification(
            title, description, QImage(), BVGrowl::defaultNotificationName, QVariant());
    });
    // A cloud file that arrived in the file cache: every document showing it plays the local copy.
    m_activity->setCacheHandler([](qlonglong fileID, const QString &path) {
        for (BVDocument *document : BVDocument::openDocuments()) {
            if (!document->isVelo() || document->veloFileID() != fileID)
                continue;
            const QString title = document->cloudReview()->fileTitle();
            BVGrowl::defaultController()->postGrowlNotification(
                QStringLiteral("Cache complete"), title.isEmpty() ? document->displayName() : title);
            document->replaceURLWithCachedFile(path);
        }
    });
    BVDocumentController::sharedDocumentController()->setActivityController(m_activity);
    // Opened by the option refresh when "timecodeOutput" asks for it; documents send through it.
    m_midiOutput = std::make_shared<BVMIDIOutput>();
    m_midiOutput->setDelegate(this);
    BVDocumentController::sharedDocumentController()->setMIDIOutput(m_midiOutput);
    // Every document window carries the preference backup and activity commands.
    connect(BVDocumentController::sharedDocumentController(), &BVDocumentController::documentsChanged, this,
        [this] {
            for (BVDocument *document : BVDocumentController::sharedDocumentController()->documents()) {
                if (const BVDocumentWindowController *window = BVDocumentWindowController::of(*document)) {
                    addPreferenceCommands(window->menuBar());
                    addActivityCommands(window->menuBar());
                    addUpdateCommand(window->menuBar());
                }
            }
        });
}

BVAppController::~BVAppController()
{
    if (m_openDialog)
        delete m_openDialog;
    if (m_imageSequenceDialog)
        delete m_imageSequenceDialog;
    if (m_openURLWindow)
        delete m_openURLWindow;
    if (s_shared == this)
        s_shared = nullptr;
}

BVAppController *BVAppController::sharedController()
{
    return s_shared;
}

QVariantMap BVAppController::registeredDefaults()
{
    return {
        {QStringLiteral("veloCommentAlerts"), 1},
        {QStringLiteral("autoplay"), 1},
        {QStringLiteral("savePlaybackPos"), 1},
        {QStringLiteral("frontmostAudio"), 1},
        {QStringLiteral("launchCount"), 0},
        {QStringLiteral("actionSafeH"), 5},
        {QStringLiteral("actionSafeV"), 5},
        {QStringLiteral("titleSafeH"), 10},
        {QStringLiteral("titleSafeV"), 10},
        {QStringLiteral("showMarkersWhileStopped"), 1},
        {QStringLiteral("imageSequenceFPS"), QStringLiteral("24")},
        {QStringLiteral("infoType"), 0},
        {QStringLiteral("frameAspectRatioMask"), 1},
        {QStringLiteral("scrubAudio"), 1},
        {QStringLiteral("defaultAudioTC"), 0},
    };
}

void BVAppController::registerDefaults()
{
    BVUserDefaults::standardUserDefaults()->registerDefaults(registeredDefaults());
}

bool BVAppController::applicationOpenFile(const QString &path)
{
    m_showOpenDialog = false;
    BVError error;
    if (!BVDocumentController::sharedDocumentController()->openDocumentWithContentsOfURL(
            urlForArgument(path), true, &error)) {
        BVLog::appendLog("Error opening file: %@", error.localizedDescription());
        return false;
    }
    return true;
}

void BVAppController::openFiles(const QStringList &files, const QString &sequenceFPS)
{
    QStringList images;
    for (const QString &file : files) {
        if (BVImageSequenceFiles::isImagePath(file) && urlForArgument(file).isLocalFile())
            images.append(urlForArgument(file).toLocalFile());
        else
            applicationOpenFile(file);
    }
    if (images.isEmpty())
        return;
    m_showOpenDialog = false;
    const QString typed = sequenceFPS.isEmpty()
        ? BVUserDefaults::standardUserDefaults()->stringForKey(QStringLiteral("imageSequenceFPS"))
        : sequenceFPS;
    imageSequenceChosen(images, typed);
}

void BVAppController::applicationDidFinishLaunching()
{
    updateOptionSelections();
    if (m_showOpenDialog) {
        const qlonglong action
            = BVUserDefaults::standardUserDefaults()->integerForKey(QStringLiteral("startupAction"));
        if (action == 0)
            openFile();
        else if (action == 1)
            BVLog::appendLog("The cloud browser is not available in this build.");
    }
    BVQC::sharedController()->loadQC(nullptr);
    if (!m_softwareUpdate) {
        m_softwareUpdate = std::make_unique<BVSoftwareUpdate>();
        m_softwareUpdate->startup();
    }
}

void BVAppController::openFile()
{
    if (m_openDialog) {
        m_openDialog->raise();
        m_openDialog->activateWindow();
        return;
    }
    auto *dialog
        = new QFileDialog(nullptr, QStringLiteral("Browse for a QuickTime movie, audio file or playlist"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setOption(QFileDialog::ReadOnly, true);
    dialog->setNameFilters(
        {QStringLiteral("Movies, audio files and playlists (*.mov *.qt *.m4v *.mp4 *.dv *.aif "
                        "*.aiff *.wav *.mp3 *.m4a *.m3u *.m3u8 *.mxf *.mkv *.avi *.webm *.mts *.m2ts *.ts "
                        "*.mpg *.mpeg *.vob *.wmv *.flac *.ogg *.opus *.wma)"),
            QStringLiteral("All files (*)")});
    connect(dialog, &QFileDialog::filesSelected, this, [this](const QStringList &files) {
        for (const QString &file : files)
            applicationOpenFile(file);
    });
    m_openDialog = dialog;
    dialog->open();
}

void BVAppController::openImageSequence()
{
    if (m_imageSequenceDialog) {
        m_imageSequenceDialog->raise();
        m_imageSequenceDialog->activateWindow();
        return;
    }
    auto *dialog
        = new QFileDialog(nullptr, QStringLiteral("Select the image sequence frames you would like to play"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // The frame-rate box sits inside the dialog, which the platform's own dialog cannot host.
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setOption(QFileDialog::ReadOnly, true);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setNameFilters({QStringLiteral("Images (*.jpg *.jpeg *.tif *.tiff *.png *.bmp *.exr *.dpx)"),
        QStringLiteral("All files (*)")});
    auto *combo = new QComboBox(dialog);
    combo->setEditable(true);
    combo->addItems(
        {QStringLiteral("23.976"), QStringLiteral("24"), QStringLiteral("25"), QStringLiteral("29.97"),
            QStringLiteral("30"), QStringLiteral("50"), QStringLiteral("59.94"), QStringLiteral("60")});
    combo->setCurrentText(
        BVUserDefaults::standardUserDefaults()->stringForKey(QStringLiteral("imageSequenceFPS")));
    if (auto *grid = qobject_cast<QGridLayout *>(dialog->layout())) {
        const int row = grid->rowCount();
        auto *label = new QLabel(QStringLiteral("Frame rate:"), dialog);
        label->setBuddy(combo);
        grid->addWidget(label, row, 0);
        grid->addWidget(combo, row, 1);
    }
    m_imageSequenceFPSCombo = combo;
    connect(dialog, &QFileDialog::filesSelected, this, [this, combo](const QStringList &files) {
        const QString typed = combo->currentText();
        BVUserDefaults::standardUserDefaults()->setString(typed, QStringLiteral("imageSequenceFPS"));
        imageSequenceChosen(files, typed);
    });
    m_imageSequenceDialog = dialog;
    dialog->open();
}

void BVAppController::imageSequenceChosen(const QStringList &files, const QString &typedFPS)
{
    if (files.isEmpty())
        return;
    const QStringList sorted = BVImageSequenceFiles::sortedPaths(files);
    const double fps = BVImageSequenceFiles::frameRateForEntry(typedFPS);
    BVLog::appendLog("Opening an image sequence of %li files at %g fps", long(sorted.size()), fps);
    BVDocumentController::sharedDocumentController()->openImageSequence(sorted, fps);
}

void BVAppController::showOpenURLWindow()
{
    if (!m_openURLWindow) {
        auto *window = new QWidget(nullptr, Qt::Dialog);
        window->setWindowTitle(QStringLiteral("Open Address"));
        auto *layout = new QVBoxLayout(window);
        layout->addWidget(new QLabel(QStringLiteral("Media address (http or https):"), window));
        auto *text = new QLineEdit(window);
        text->setMinimumWidth(420);
        text->setPlaceholderText(QStringLiteral("https://"));
        layout->addWidget(text);
        auto *buttons = new QDialogButtonBox(QDialogButtonBox::Open | QDialogButtonBox::Cancel, window);
        layout->addWidget(buttons);
        connect(buttons, &QDialogButtonBox::accepted, this, &BVAppController::openURL);
        connect(buttons, &QDialogButtonBox::rejected, window, &QWidget::hide);
        connect(text, &QLineEdit::returnPressed, this, &BVAppController::openURL);
        m_openURLWindow = window;
        m_openURLText = text;
    }
    m_openURLWindow->show();
    m_openURLWindow->raise();
    m_openURLWindow->activateWindow();
    m_openURLText->setFocus();
}

void BVAppController::openURL()
{
    if (!m_openURLWindow)
        return;
    m_openURLWindow->hide();
    const QString text = m_openURLText->text().trimmed();
    if (text.isEmpty())
        return;
    // An address that cannot be played is reported by the player document.
    BVError error;
    if (!BVDocumentController::sharedDocumentController()->openDocumentWithContentsOfURL(
            QUrl::fromUserInput(text), true, &error, BVDocument::movieType()))
        BVLog::appendLog("Error opening file: %@", error.localizedDescription());
}

void BVAppController::updateOptionSelections()
{
    BVUserDefaults *defaults = BVUserDefaults::standardUserDefaults();
    defaults->setInteger(0, QStringLiteral("gangMode"));
    const qlonglong output = defaults->integerForKey(QStringLiteral("timecodeOutput"));
    if (output >= 1 && output <= 3)
        m_midiOutput->connect();
    for (BVDocument *document : BVDocumentController::sharedDocumentController()->documents()) {
        if (BVDocumentWindowController *window = BVDocumentWindowController::of(*document))
            window->updateMenuChecks();
    }
}

void BVAppController::midiPlayPressed()
{
    if (BVDocument *document = BVDocumentController::sharedDocumentController()->currentDocument())
        document->playPause();
}

void BVAppController::midiRewPressed()
{
    if (BVDocument *document = BVDocumentController::sharedDocumentController()->currentDocument())
        document->rewind();
}

void BVAppController::midiFFPressed()
{
    if (BVDocument *document = BVDocumentController::sharedDocumentController()->currentDocument())
        document->fastForward();
}

// ---- The activity window and quitting

bool BVAppController::applicationShouldTerminate()
{
    return !m_activity || m_activity->applicationShouldTerminate(QApplication::activeWindow());
}

void BVAppController::terminate()
{
    if (!applicationShouldTerminate())
        return;
    BVDocumentController::sharedDocumentController()->closeAllDocuments();
    QCoreApplication::quit();
}

void BVAppController::addActivityCommands(QMenuBar *menuBar)
{
    if (!menuBar || menuBar->findChild<QAction *>(QStringLiteral("toggleActivityWindow")))
        return;
    QMenu *file = nullptr;
    QMenu *window = nullptr;
    for (QAction *action : menuBar->actions()) {
        const QString title = action->text().remove(QLatin1Char('&'));
        if (action->menu() && title == QLatin1String("File"))
            file = action->menu();
        else if (action->menu() && title == QLatin1String("Window"))
            window = action->menu();
    }
    if (!window)
        window = menuBar->addMenu(QStringLiteral("&Window"));
    auto *activity = new QAction(QStringLiteral("Activity"), menuBar);
    activity->setObjectName(QStringLiteral("toggleActivityWindow"));
    activity->setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+A")));
    connect(activity, &QAction::triggered, this, [this] {
        if (m_activity)
            m_activity->toggleActivityWindow();
    });
    window->addAction(activity);
    if (!file)
        return;
    auto *quit = new QAction(QStringLiteral("Quit"), menuBar);
    quit->setObjectName(QStringLiteral("terminate"));
    quit->setShortcut(QKeySequence::Quit);
    quit->setShortcutContext(Qt::ApplicationShortcut);
    connect(quit, &QAction::triggered, this, &BVAppController::terminate, Qt::QueuedConnection);
    file->addSeparator();
    file->addAction(quit);
}
