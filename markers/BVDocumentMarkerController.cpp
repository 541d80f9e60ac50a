// The markers of a player document in its window: the list, the tag strip, the popover, stepping and
// pausing, deletion with its sheets, the markers window and the marker list panels. Main thread.
#include "markers/BVDocumentMarkerController.h"

#include "markers/BVDocumentAnnotationController.h"
#include "markers/BVMarkerList.h"
#include "markers/BVMarkerListImport.h"
#include "markers/BVMarkerModel.h"
#include "markers/BVMarkerPopover.h"
#include "markers/BVMarkerView.h"
#include "markers/BVMarkersTableModel.h"
#include "markers/BVMarkersWindow.h"
#include "platform/defaults/BVUserDefaults.h"
#include "player/document/BVDocument.h"
#include "player/media/BVMediaObject.h"
#include "player/window/BVAVPlaybackView.h"
#include "player/window/BVDocumentWindowController.h"
#include "player/window/BVDocumentWindowLookup.h"
#include "player/window/BVPlayheadSlider.h"
#include "player/window/BVPlayheadSliderCell.h"
#include "support/BVAlert.h"
#include "support/BVLog.h"
#include "support/BVNotificationCenter.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace {

// The document's window, if it has one: sheets, alerts and the picture belong to it.
using BVDocumentWindowLookup::parentWindowOf;
using BVDocumentWindowLookup::playbackViewOf;
using BVDocumentWindowLookup::windowOf;

BVUserDefaults *defaults()
{
    return BVUserDefaults::standardUserDefaults();
}

// The format pop-up's items, in the order of the formats.
const QStringList &formatTitles()
{
    static const QStringList titles {QStringLiteral("FCP 7 Marker List (*.txt)"),
        QStringLiteral("Avid Marker List (*.txt)"), QStringLiteral("Comma-Separated Timecodes (*.csv)"),
        QStringLiteral("Space-Separated Timecodes (*.txt)")};
    return titles;
}

} // namespace

void BVDocumentMarkerController::install(BVDocument &document)
{
    auto markers = std::make_unique<BVDocumentMarkerController>(document);
    auto annotations = std::make_unique<BVDocumentAnnotationController>(*markers);
    markers->setAnnotations(annotations.get());
    document.setMarkers(std::move(markers));
    document.setAnnotations(std::move(annotations));
}

BVDocumentMarkerController::BVDocumentMarkerController(BVDocument &document)
    : m_document(document)
    , m_model(std::make_unique<BVMarkerModel>(document.mediaObject(), document.fileSettingsKey()))
{
    m_window = new BVMarkersWindow(m_model.get());
    connect(
        m_model.get(), &BVMarkerModel::markersChanged, this, &BVDocumentMarkerController::refreshTimeline);
    connect(m_window, &BVMarkersWindow::deleteRequested, this, &BVDocumentMarkerController::deleteMarker);
    connect(m_window, &BVMarkersWindow::markerSelected, this, [this](const BVMarker &marker) {
        if (!BVMarkers::isNavigable(BVMarkers::positionOf(marker)))
            return;
        if (m_annotations)
            m_annotations->removeShownAnnotation();
        goToMarker(marker);
    });
    // The media object goes with a playlist item: the list follows the new one.
    connect(&document, &BVDocument::mediaReplaced, this, &BVDocumentMarkerController::syncModel);
    connect(&document, &BVDocument::menuStateChanged, this, &BVDocumentMarkerController::displayModeChanged);
    observeNotifications();
}

BVDocumentMarkerController::~BVDocumentMarkerController()
{
    cleanup();
}

BVMarkerView *BVDocumentMarkerController::markerView() const
{
    return m_markerView;
}

BVMarkerPopover *BVDocumentMarkerController::popover() const
{
    return m_popover;
}

BVMarkersWindow *BVDocumentMarkerController::window() const
{
    return m_window;
}

void BVDocumentMarkerController::cleanup()
{
    if (m_cleanedUp)
        return;
    m_cleanedUp = true;
    BVNotificationCenter::defaultCenter().removeObserver(this);
    qApp->removeEventFilter(this);
    m_annotations = nullptr;
    m_model->setMediaObject(nullptr);
    if (m_timelineArea)
        m_timelineArea->removeEventFilter(this);
    delete m_popover.data();
    delete m_markerView.data();
    delete m_menu.data();
    // The player window owns the markers window once it took it; otherwise it is still ours.
    if (m_window && !m_playerWindow)
        delete m_window.data();
    m_window.clear();
}

void BVDocumentMarkerController::syncModel()
{
    m_model->setMediaObject(m_document.mediaObject());
    m_model->setFileKey(m_document.fileSettingsKey());
    m_model->setVelo(m_document.veloFileID(), m_document.veloFileID() == -1 ? -1 : 0);
}

void BVDocumentMarkerController::observeNotifications()
{
    BVNotificationCenter &center = BVNotificationCenter::defaultCenter();
    // "BVMarkerBeginEdit" comes from the popover; only this document's turns into the editor.
    center.addObserver(
        this, BVMarkerPopover::beginEditNotification, nullptr, [this](const BVNotification &n) {
            if (m_popover && n.sender == m_popover.data())
                editCurrentMarker();
        });
}

// ---- The timeline

void BVDocumentMarkerController::attachTimeline(QWidget *timelineArea, QWidget *window)
{
    if (m_cleanedUp)
        return;
    if (!timelineArea || !window) {
        delete m_popover.data();
        delete m_markerView.data();
        m_timelineArea.clear();
        m_playerWindow.clear();
        return;
    }
    m_timelineArea = timelineArea;
    m_playerWindow = window;
    m_markerView = new BVMarkerView(timelineArea);
    m_markerView->setObjectName(QStringLiteral("markerView"));
    m_markerView->setKeyHandler(
        [this](QKeyEvent *event, bool keyUp) { return m_document.playbackKeyPressed(event, keyUp); });
    m_markerView->show();
    timelineArea->installEventFilter(this);
    if (auto *scrubber = timelineArea->findChild<BVPlayheadSlider *>())
        scrubber->installEventFilter(this);
    layoutMarkerView();

    BVNotificationCenter &center = BVNotificationCenter::defaultCenter();
    center.addObserver(
        this, BVMarkerView::markerClickedNotification, m_markerView.data(), [this](const BVNotification &n) {
            markerClicked(n.userInfo.value(QStringLiteral("marker")).value<BVMarker>());
        });
    center.addObserver(
        this, BVMarkerView::markerHoverNotification, m_markerView.data(), [this](const BVNotification &n) {
            markerHover(n.userInfo.value(QStringLiteral("marker")).value<BVMarker>());
        });

    auto *main = qobject_cast<QMainWindow *>(window);
    m_popover = new BVMarkerPopover(main && main->centralWidget() ? main->centralWidget() : window);
    connect(m_popover, &BVMarkerPopover::commitRequested, this,
        [this](const BVMarker &marker) { m_model->saveMarker(marker); });
    connect(m_popover, &BVMarkerPopover::colorChanged, this, [this](const BVMarker &, int color) {
        refreshTimeline();
        if (m_annotations)
            m_annotations->markerColorChanged(color);
    });
    connect(m_popover, &BVMarkerPopover::deleteRequested, this, [this] { deleteMarkerAction(); });
    connect(m_popover, &BVMarkerPopover::annotateRequested, this, [this](const BVMarker &marker) {
        if (m_annotations)
            m_annotations->toggleAnnotationMode(marker);
    });
    connect(m_popover, &BVMarkerPopover::closed, this, [this] {
        qApp->removeEventFilter(this);
        if (BVAVPlaybackView *view = playbackViewOf(m_document))
            view->setFocus();
        if (!m_annotations || !m_annotations->isAnnotationModeOn())
            m_currentMarker.reset();
    });
    buildMenu(window);
    refreshTimeline();
}

void BVDocumentMarkerController::buildMenu(QWidget *window)
{
    auto *main = qobject_cast<QMainWindow *>(window);
    if (!main)
        return;
    m_menu = main->menuBar()->addMenu(QStringLiteral("&Markers"));
    m_menu->setObjectName(QStringLiteral("markersMenu"));
    auto add
        = [this](const QString &name, const QString &title, void (BVDocumentMarkerController::*command)()) {
              QAction *action = m_menu->addAction(title);
              action->setObjectName(name);
              connect(action, &QAction::triggered, this, command);
              return action;
          };
    add(QStringLiteral("addMarker"), QStringLiteral("Add Marker\tM"), &BVDocumentMarkerController::addMarker);
    add(QStringLiteral("prevMarker"), QStringLiteral("Previous Marker\tUp"),
        &BVDocumentMarkerController::prevMarker);
    add(QStringLiteral("nextMarker"), QStringLiteral("Next Marker\tDown"),
        &BVDocumentMarkerController::nextMarker);
    m_menu->addSeparator();
    add(QStringLiteral("importMarkers"), QStringLiteral("Import Markers..."),
        &BVDocumentMarkerController::importMarkers);
    add(QStringLiteral("exportMarkers"), QStringLiteral("Export Markers..."),
        &BVDocumentMarkerController::exportMarkers);
    m_menu->addSeparator();
    QAction *deleteAll = add(QStringLiteral("deleteAllMarkers"), QStringLiteral("Delete All Markers..."),
        &BVDocumentMarkerController::deleteAllMarkers);
    // A cloud file's markers are its comments: they are not deleted all at once.
    connect(m_menu, &QMenu::aboutToShow, this,
        [this, deleteAll] { deleteAll->setEnabled(!m_document.isVelo()); });
}

// The tag strip spans the scrubber's bar, so a tag's point stands over its position.
void BVDocumentMarkerController::layoutMarkerView()
{
    if (!m_markerView || !m_timelineArea)
        return;
    QRect strip(0, 0, m_timelineArea->width(), BVMarkerView::stripHeight);
    if (auto *scrubber = m_timelineArea->findChild<BVPlayheadSlider *>()) {
        const QRectF bar = BVPlayheadSliderCell::barRect(QRectF(scrubber->rect()));
        const QPoint origin = scrubber->mapTo(m_timelineArea, QPoint(0, 0));
        strip.setLeft(origin.x() + int(std::floor(bar.left())));
        strip.setWidth(std::max(1, int(std::lround(bar.width()))));
        strip.moveTop(std::max(0, origin.y() - BVMarkerView::stripHeight));
    }
    m_markerView->setGeometry(strip);
    m_markerView->raise();
}

bool BVDocumentMarkerController::eventFilter(QObject *watched, QEvent *event)
{
    if (m_cleanedUp)
        return QObject::eventFilter(watched, event);
    if ((watched == m_timelineArea.data() || qobject_cast<BVPlayheadSlider *>(watched))
        && (event->type() == QEvent::Resize || event->type() == QEvent::Move
            || event->type() == QEvent::LayoutRequest)) {
        layoutMarkerView();
    } else if (event->type() == QEvent::MouseButtonPress && m_popover && m_popover->isVisible()) {
        // The popover is transient: a click anywhere else closes it.
        auto *widget = qobject_cast<QWidget *>(watched);
        if (widget && widget != m_popover.data() && !m_popover->isAncestorOf(widget)
            && widget->window() == m_popover->window() && widget != m_markerView.data())
            closePopover();
    }
    return QObject::eventFilter(watched, event);
}

void BVDocumentMarkerController::refreshTimeline()
{
    if (m_markerView)
        m_markerView->setMarkers(m_model->filteredMarkers());
}

void BVDocumentMarkerController::displayModeChanged()
{
    if (m_window)
        m_window->tableModel()->reload();
}

QWidget *BVDocumentMarkerController::markersWindow()
{
    return m_window;
}

// ---- The list

void BVDocumentMarkerController::loadMarkers()
{
    if (m_cleanedUp)
        return;
    syncModel();
    m_model->loadMarkers();
    refreshTimeline();
}

void BVDocumentMarkerController::addMarker()
{
    BVMediaObject *media = m_document.mediaObject();
    if (m_cleanedUp || !media)
        return;
    syncModel();
    if (m_model->isPrivateCloudFile()) {
        BVAlert::alertSheetWithMessageText(QStringLiteral("Cannot add comment"),
            QStringLiteral("Comments are not supported for files located in private storage."),
            parentWindowOf(m_document));
        return;
    }
    if (BVDocumentWindowController *window = windowOf(m_document))
        window->showFullscreenUI();
    bool created = false;
    const BVMarker marker = m_model->addMarker(media->currentTime().absolute(), &created);
    if (!marker)
        return;
    if (created) {
        // The scrubber and the timeline follow the new marker at once.
        static_cast<BVMediaObjectDelegate &>(m_document).syncScrubber();
        refreshTimeline();
    }
    showMarkerEditViewForMarker(marker, created, false);
}

void BVDocumentMarkerController::prevMarker()
{
    BVMediaObject *media = m_document.mediaObject();
    if (m_cleanedUp || !media)
        return;
    const MediaTime now = media->currentTime();
    const BVMarker marker = BVMarkerList::previousMarker(m_model->markers(), now, media->isPlaying());
    if (!marker) {
        BVLog::appendLog("not found");
        return;
    }
    stepToMarker(marker);
}

void BVDocumentMarkerController::nextMarker()
{
    BVMediaObject *media = m_document.mediaObject();
    if (m_cleanedUp || !media)
        return;
    const BVMarker marker = BVMarkerList::nextMarker(m_model->markers(), media->currentTime());
    if (!marker) {
        BVLog::appendLog("no match found");
        return;
    }
    stepToMarker(marker);
}

// Previous and next: the popover opens read-only when the settings say so, then the playhead goes.
void BVDocumentMarkerController::stepToMarker(const BVMarker &marker)
{
    BVMediaObject *media = m_document.mediaObject();
    const bool show = media->isPlaying() ? defaults()->boolForKey(QStringLiteral("showMarkersWhilePlaying"))
                                         : defaults()->boolForKey(QStringLiteral("showMarkersWhileStopped"));
    if (show)
        showMarkerEditViewForMarker(marker, false, true);
    goToMarker(marker);
}

void BVDocumentMarkerController::goToMarker(const BVMarker &marker)
{
    BVMediaObject *media = m_document.mediaObject();
    const MediaTime position = BVMarkers::positionOf(marker);
    if (!media || !BVMarkers::isNavigable(position))
        return;
    QPointer<BVDocumentMarkerController> self(this);
    media->seekToTime(position, MediaTime::zero(), MediaTime::zero(), [self, marker](bool) {
        if (!self || self->m_cleanedUp || self->m_document.isUnloading() || !self->m_annotations)
            return;
        BVMediaObject *m = self->m_document.mediaObject();
        if (m && !m->isPlaying())
            self->m_annotations->showAnnotationForMarker(marker);
    });
}

void BVDocumentMarkerController::playheadMoved(const MediaTime &time)
{
    BVMediaObject *media = m_document.mediaObject();
    if (m_cleanedUp || !media || !media->isPlaying()
        || !defaults()->boolForKey(QStringLiteral("pauseOnMarker")))
        return;
    const BVMarker marker = BVMarkerList::markerToPauseOn(m_model->markers(), time);
    if (!marker)
        return;
    m_document.pause();
    media->setRestoreAfterScrubbingRate(0);
    goToMarker(marker);
    showMarkerEditViewForMarker(marker, false, true);
}

// ---- The popover

void BVDocumentMarkerController::showMarkerEditViewForMarker(const BVMarker &marker, bool, bool displayOnly)
{
    if (!marker || !m_popover || !m_markerView)
        return;
    if (m_popover->isVisible() && m_popover->marker() != marker)
        closePopover();
    m_currentMarker = marker;
    const double val = marker->value(BVMarkerKey::val).toDouble();
    QWidget *interface = m_popover->parentWidget();
    const QPoint strip = m_markerView->mapTo(interface, QPoint(0, 0));
    const QPoint anchor(int(std::max(0.0, val * m_markerView->width() - 5)) + strip.x() + 5, strip.y());
    BVMediaObject *media = m_document.mediaObject();
    m_popover->showMarker(marker, anchor, displayOnly, m_document.isVelo(), media && media->isAudioOnly());
    qApp->installEventFilter(this);
    if (displayOnly) {
        // Transport keys keep working while the popover only shows the marker.
        if (m_playerWindow)
            m_playerWindow->activateWindow();
        if (BVAVPlaybackView *view = playbackViewOf(m_document))
            view->setFocus();
    }
}

void BVDocumentMarkerController::editCurrentMarker()
{
    if (m_popover && m_popover->isVisible())
        m_popover->editCurrentMarker();
}

void BVDocumentMarkerController::closePopover()
{
    if (m_popover && m_popover->isVisible())
        m_popover->closePopover();
}

void BVDocumentMarkerController::markerClicked(const BVMarker &marker)
{
    if (!marker) {
        BVAlert::alertSheetWithMessageText(QStringLiteral("Unable to edit marker"),
            QStringLiteral("The marker could not be found."), parentWindowOf(m_document));
        return;
    }
    const bool annotating = m_annotations && m_annotations->isAnnotationModeOn();
    if (m_currentMarker && *m_currentMarker == *marker) {
        // Drawing over a marker: a click on it only brings its popover back.
        if (annotating)
            showMarkerEditViewForMarker(marker);
        return;
    }
    BVMediaObject *media = m_document.mediaObject();
    if (media && media->isPlaying())
        m_document.pause();
    if (!BVMarkers::isNavigable(BVMarkers::positionOf(marker)))
        return;
    showMarkerEditViewForMarker(marker);
    goToMarker(marker);
}

void BVDocumentMarkerController::markerHover(const BVMarker &marker)
{
    if (!marker) {
        BVAlert::alertSheetWithMessageText(QStringLiteral("Unable to edit marker"),
            QStringLiteral("The marker could not be found."), parentWindowOf(m_document));
        return;
    }
    if (marker == m_currentMarker)
        return;
    showMarkerEditViewForMarker(marker, false, true);
}

// ---- Deleting

void BVDocumentMarkerController::deleteMarker(const BVMarker &marker)
{
    if (!marker)
        return;
    const int answer
        = BVAlert::alertSheetWithMessageText(QStringLiteral("Are you sure you wish to delete this marker?"),
            QStringLiteral("Delete"), QStringLiteral("Cancel"), {}, QStringLiteral("This cannot be undone."),
            parentWindowOf(m_document), true);
    if (answer != 1 || m_cleanedUp)
        return;
    if (m_annotations) {
        m_annotations->removeShownAnnotation();
        m_annotations->removeAnnotationBar();
    }
    m_model->removeMarker(marker);
    if (m_currentMarker == marker)
        m_currentMarker.reset();
}

void BVDocumentMarkerController::deleteMarkerAction()
{
    if (const BVMarker marker = m_currentMarker)
        deleteMarker(marker);
    m_currentMarker.reset();
    if (m_popover && m_popover->isVisible()) {
        // The record is gone or kept as it was: nothing of the popover is committed.
        m_popover->hide();
        Q_EMIT m_popover->closed(BVMarker());
    }
}

void BVDocumentMarkerController::deleteAllMarkers()
{
    if (m_cleanedUp)
        return;
    const int answer = BVAlert::alertSheetWithMessageText(
        QStringLiteral("Are you sure you wish to delete all markers from this file?"),
        QStringLiteral("Delete All"), QStringLiteral("Cancel"), {},
        QStringLiteral("Note: Chapters cannot be removed."), parentWindowOf(m_document), true);
    if (answer != 1 || m_cleanedUp || m_document.isVelo())
        return;
    syncModel();
    if (m_annotations)
        m_annotations->removeShownAnnotation();
    closePopover();
    m_currentMarker.reset();
    m_model->deleteAllMarkers();
    refreshTimeline();
}

// ---- Marker lists

void BVDocumentMarkerController::importMarkers()
{
    auto *dialog = new QFileDialog(
        parentWindowOf(m_document), QStringLiteral("Select a plain text FCP 7 or Avid marker list"));
    dialog->setObjectName(QStringLiteral("importMarkersPanel"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilter(QStringLiteral("Marker lists (*.txt)"));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setWindowModality(Qt::WindowModal);
    QPointer<BVDocumentMarkerController> self(this);
    connect(dialog, &QFileDialog::fileSelected, this, [self](const QString &path) {
        if (self && !self->m_cleanedUp)
            self->importMarkersFromFile(path);
    });
    dialog->open();
}

void BVDocumentMarkerController::importMarkersFromFile(const QString &path)
{
    syncModel();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        BVAlert::alertSheetWithMessageText(
            QStringLiteral("Unable to import marker list"), file.errorString(), parentWindowOf(m_document));
        return;
    }
    const BVMarkerListImport::Result result = BVMarkerListImport::importMarkerList(file.readAll(), *m_model);
    if (result.refused) {
        BVAlert::alertSheetWithMessageText(result.alertTitle, result.alertText, parentWindowOf(m_document));
        return;
    }
    refreshTimeline();
    m_document.postUserNotification(result.notificationTitle, result.notificationText);
}

void BVDocumentMarkerController::exportMarkers()
{
    if (m_model->markers().isEmpty()) {
        BVAlert::alertSheetWithMessageText(QStringLiteral("Cannot export markers"),
            QStringLiteral("No markers have been added to this file."), parentWindowOf(m_document));
        return;
    }
    auto *dialog = new QFileDialog(parentWindowOf(m_document), QStringLiteral("Export Markers"));
    dialog->setObjectName(QStringLiteral("exportMarkersPanel"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setWindowModality(Qt::WindowModal);
    // The format pop-up: the panel's file type list, one item per format.
    dialog->setNameFilters(formatTitles());
    const QString base = m_document.fileURL().isLocalFile()
        ? QFileInfo(m_document.fileURL().toLocalFile()).completeBaseName()
        : QFileInfo(m_document.fileURL().path()).completeBaseName();
    dialog->selectFile(QStringLiteral("%1 Markers.txt").arg(base));
    QPointer<QFileDialog> panel(dialog);
    connect(dialog, &QFileDialog::filterSelected, dialog, [panel](const QString &filter) {
        const int format = int(formatTitles().indexOf(filter));
        const QString extension = BVMarkerListImport::extensionForFormat(format);
        auto *nameField = panel ? panel->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")) : nullptr;
        if (extension.isEmpty() || !nameField)
            return;
        panel->selectFile(
            QStringLiteral("%1.%2").arg(QFileInfo(nameField->text()).completeBaseName(), extension));
    });
    QPointer<BVDocumentMarkerController> self(this);
    connect(dialog, &QFileDialog::fileSelected, this, [self, panel](const QString &path) {
        if (self && panel)
            self->exportMarkersToFile(path, int(formatTitles().indexOf(panel->selectedNameFilter())));
    });
    dialog->open();
}

bool BVDocumentMarkerController::exportMarkersToFile(const QString &path, int format)
{
    const QString text = BVMarkerListImport::exportText(format, m_model->markers());
    if (text.isEmpty())
        return false;
    QString error;
    if (!BVMarkerListImport::writeText(path, text, &error)) {
        BVLog::appendLog("Error exporting markers: %@", error);
        return false;
    }
    return true;
}
