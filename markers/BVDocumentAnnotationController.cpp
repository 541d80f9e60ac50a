#include "markers/BVDocumentAnnotationController.h"

#include "markers/BVAnnotationCache.h"
#include "markers/BVAnnotationCanvas.h"
#include "markers/BVDocumentMarkerController.h"
#include "markers/BVMarkerModel.h"
#include "markers/BVMarkerPopover.h"
#include "markers/BVStoredAnnotation.h"
#include "player/document/BVDocument.h"
#include "player/media/BVMediaObject.h"
#include "player/window/BVAVPlaybackView.h"
#include "player/window/BVDocumentWindowController.h"
#include "player/window/BVDocumentWindowLookup.h"
#include "support/BVAlert.h"
#include "support/BVMainThread.h"
#include "support/BVWorkQueue.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QPainter>
#include <QPushButton>
#include <QSvgRenderer>

namespace {

// The document's window, if it has one: sheets, alerts and the picture belong to it.
using BVDocumentWindowLookup::parentWindowOf;
using BVDocumentWindowLookup::playbackViewOf;
using BVDocumentWindowLookup::windowOf;

} // namespace

BVDocumentAnnotationController::BVDocumentAnnotationController(BVDocumentMarkerController &markers)
    : m_markers(&markers)
{ }

BVDocumentAnnotationController::~BVDocumentAnnotationController()
{
    cleanup();
    // Waits for a read or write under way; what it hands back finds this object gone.
    m_diskQueue.reset();
}

BVWorkQueue &BVDocumentAnnotationController::diskQueue()
{
    if (!m_diskQueue)
        m_diskQueue = std::make_unique<BVWorkQueue>(QStringLiteral("com.brightvane.Reelmark.annotations"));
    return *m_diskQueue;
}

void BVDocumentAnnotationController::cleanup()
{
    if (m_cleanedUp)
        return;
    m_cleanedUp = true;
    delete m_bar.data();
    // The playback view owns the canvas; it goes with the view.
    m_canvas.clear();
}

BVAnnotationCanvas *BVDocumentAnnotationController::ensureCanvas()
{
    if (m_canvas || m_cleanedUp)
        return m_canvas;
    BVAVPlaybackView *view = playbackViewOf(m_markers->document());
    if (!view)
        return nullptr;
    auto *canvas = new BVAnnotationCanvas;
    view->setAnnotationLayer(canvas);
    m_canvas = canvas;
    return canvas;
}

BVAnnotationCanvas *BVDocumentAnnotationController::canvas() const
{
    return m_canvas;
}

bool BVDocumentAnnotationController::isAnnotationModeOn() const
{
    return m_canvas && m_canvas->canDrawAnnotations();
}

bool BVDocumentAnnotationController::isAnnotating() const
{
    return isAnnotationModeOn() && !m_canvas->drawing().isEmpty();
}

bool BVDocumentAnnotationController::discardUnsavedAnnotation()
{
    if (!isAnnotationModeOn())
        return true;
    discardAnnotation();
    return !isAnnotationModeOn();
}

void BVDocumentAnnotationController::removeShownAnnotation()
{
    ++m_showGeneration;
    // Only a shown drawing goes: one being drawn is dropped by discarding it.
    if (m_canvas && !m_canvas->canDrawAnnotations())
        m_canvas->clearAnnotation();
}

// ---- Annotation mode

void BVDocumentAnnotationController::toggleAnnotationMode(const BVMarker &marker)
{
    BVDocument &document = m_markers->document();
    BVMediaObject *media = document.mediaObject();
    if (!marker || !media || m_cleanedUp)
        return;
    const bool cloud = document.isVelo();
    if (!BVMarkers::hasAnnotation(*marker, cloud)) {
        if (isAnnotationModeOn())
            return;
        const MediaTime position = BVMarkers::positionOf(marker);
        if (!BVMarkers::isNavigable(position))
            return;
        document.pause();
        QPointer<BVDocumentAnnotationController> self(this);
        media->seekToTime(position, MediaTime::zero(), MediaTime::zero(), [self, marker](bool) {
            if (self && !self->m_cleanedUp && !self->m_markers->document().isUnloading())
                self->enterAnnotationMode(marker);
        });
        return;
    }
    const int answer = BVAlert::alertSheetWithMessageText(
        QStringLiteral("Are you sure you wish to remove this annotation?"),
        QStringLiteral("Remove Annotation"), QStringLiteral("Cancel"), {},
        QStringLiteral("This cannot be undone."), parentWindowOf(document), true);
    if (answer != 1 || m_cleanedUp)
        return;
    if (m_canvas)
        m_canvas->clearAnnotation();
    if (cloud)
        return; // the service owns a cloud file's annotations
    const QString uuid = marker->value(BVMarkerKey::annotation).toString();
    for (const BVMarker &record : m_markers->model().markers()) {
        if (record->value(BVMarkerKey::annotation).toString() == uuid) {
            m_markers->model().deleteAnnotationForMarker(record);
            break;
        }
    }
    if (BVMarkerPopover *popover = m_markers->popover(); popover && popover->isVisible())
        popover->editCurrentMarker();
}

void BVDocumentAnnotationController::enterAnnotationMode(const BVMarker &marker)
{
    BVAnnotationCanvas *canvas = ensureCanvas();
    if (!canvas)
        return;
    m_markers->closePopover();
    // Closing the popover outside annotation mode forgets the marker: it is the one drawn on.
    m_markers->setCurrentMarker(marker);
    canvas->clearAnnotation();
    canvas->setCanDrawAnnotations(true);
    canvas->raise();

    auto *window = qobject_cast<QMainWindow *>(parentWindowOf(m_markers->document()));
    QWidget *content = window ? window->centralWidget() : nullptr;
    if (content && !m_bar) {
        auto *bar = new QWidget(content);
        bar->setObjectName(QStringLiteral("annotationBarView"));
        bar->setAutoFillBackground(true);
        QPalette palette = bar->palette();
        palette.setColor(QPalette::Window, QColor(40, 40, 44, 230));
        bar->setPalette(palette);
        auto *layout = new QHBoxLayout(bar);
        layout->setContentsMargins(10, 4, 10, 4);
        auto *label = new QLabel(QStringLiteral("Draw over the picture"), bar);
        auto *discard = new QPushButton(QStringLiteral("Discard"), bar);
        discard->setObjectName(QStringLiteral("discardAnnotation"));
        auto *save = new QPushButton(QStringLiteral("Save"), bar);
        save->setObjectName(QStringLiteral("saveAnnotation"));
        save->setDefault(true);
        layout->addWidget(label, 1);
        layout->addWidget(discard);
        layout->addWidget(save);
        connect(save, &QPushButton::clicked, this, &BVDocumentAnnotationController::saveAnnotation);
        connect(discard, &QPushButton::clicked, this, [this] { discardAnnotation(); });
        m_bar = bar;
    }
    if (m_bar && content) {
        m_bar->setGeometry(0, 0, content->width(), m_bar->sizeHint().height());
        m_bar->show();
        m_bar->raise();
    }
    // The popover's colour is the drawing's.
    int color = BVMarkers::colorIndexOf(*marker);
    if (BVMarkerPopover *popover = m_markers->popover())
        color = popover->colorPopUp()->currentIndex();
    markerColorChanged(color);
}

void BVDocumentAnnotationController::markerColorChanged(int color)
{
    if (isAnnotationModeOn())
        m_canvas->setAnnotationColorIndex(color);
}

void BVDocumentAnnotationController::endAnnotationMode()
{
    if (m_canvas)
        m_canvas->setCanDrawAnnotations(false);
    removeAnnotationBar();
    m_markers->setCurrentMarker(BVMarker());
}

void BVDocumentAnnotationController::removeAnnotationBar()
{
    if (m_bar)
        m_bar->hide();
}

void BVDocumentAnnotationController::saveAnnotation()
{
    if (!isAnnotationModeOn())
        return;
    BVDocument &document = m_markers->document();
    QWidget *parent = parentWindowOf(document);
    const QString title = QStringLiteral("Unable to save annotation");
    const BVMarker marker = m_markers->currentMarker();
    if (!marker) {
        BVAlert::alertSheetWithMessageText(title, QStringLiteral("Could not locate parent marker."), parent);
        return;
    }
    if (m_canvas->drawing().isEmpty()) {
        BVAlert::alertSheetWithMessageText(
            title, QStringLiteral("You must draw over the image in order to create an annotation."), parent);
        return;
    }
    const QString svg = m_canvas->renderAnnotationSVG();
    if (svg.isEmpty()) {
        BVAlert::alertSheetWithMessageText(title, QStringLiteral("Invalid image data."), parent);
        return;
    }
    if (!document.isVelo()) {
        // The marker takes the drawing once it is on disk.
        const QString uuid = BVMarkers::UUIDString();
        QPointer<BVDocumentAnnotationController> self(this);
        diskQueue().async([self, uuid, svg, marker] {
            QString error;
            const bool written = BVAnnotationCache::writeAnnotation(uuid, svg, &error);
            BVMainThread::async([self, uuid, marker, written, error] {
                if (!self || self->m_cleanedUp)
                    return;
                if (!written) {
                    BVAlert::alertSheetWithMessageText(QStringLiteral("Error writing annotation to disk"),
                        error, parentWindowOf(self->m_markers->document()));
                    return;
                }
                if (!self->m_markers->model().markers().contains(marker)) {
                    // The marker went while its drawing was written.
                    self->diskQueue().async([uuid] { BVAnnotationCache::removeAnnotation(uuid); });
                    return;
                }
                marker->insert(BVMarkerKey::annotation, uuid);
                self->m_markers->model().saveMarker(marker);
            });
        });
    }
    // The drawing stays on the picture until the playhead moves.
    endAnnotationMode();
}

bool BVDocumentAnnotationController::discardAnnotation()
{
    if (!isAnnotationModeOn())
        return true;
    if (!m_canvas->drawing().isEmpty()) {
        const int answer = BVAlert::alertSheetWithMessageText(
            QStringLiteral("Are you sure you wish to discard this annotation?"),
            QStringLiteral("Discard Annotation"), QStringLiteral("Cancel"), {},
            QStringLiteral("The annotation will not be saved."), parentWindowOf(m_markers->document()), true);
        if (answer != 1 || m_cleanedUp)
            return false;
    }
    m_canvas->clearAnnotation();
    endAnnotationMode();
    return true;
}

// ---- Showing stored annotations

void BVDocumentAnnotationController::showAnnotationForMarker(const BVMarker &marker)
{
    if (!marker || m_markers->document().isVelo() || !BVMarkers::hasAnnotation(*marker, false))
        return;
    showAnnotationWithUUID(marker->value(BVMarkerKey::annotation).toString());
}

void BVDocumentAnnotationController::showAnnotationWithUUID(const QString &uuid)
{
    if (isAnnotationModeOn())
        return;
    removeShownAnnotation();
    const uint64_t generation = m_showGeneration;
    QPointer<BVDocumentAnnotationController> self(this);
    diskQueue().async([self, uuid, generation] {
        QString svg;
        QString error;
        const bool read = BVAnnotationCache::readAnnotation(uuid, &svg, &error);
        BVMainThread::async([self, generation, read, svg, error] {
            if (!self || self->m_cleanedUp || generation != self->m_showGeneration
                || self->isAnnotationModeOn())
                return;
            if (!read) {
                BVAlert::alertSheetWithMessageText(QStringLiteral("Unable to display annotation"), error,
                    parentWindowOf(self->m_markers->document()));
                return;
            }
            self->showAnnotation(svg);
        });
    });
}

void BVDocumentAnnotationController::showAnnotation(const QString &svg)
{
    if (BVAnnotationCanvas *canvas = ensureCanvas()) {
        canvas->showAnnotation(svg);
        canvas->raise();
        // Painted now: a layer that was only asked to update could stay unpainted over a picture
        // that is not changing (a paused frame).
        canvas->repaint();
        if (BVAVPlaybackView *view = playbackViewOf(m_markers->document()))
            view->updateOverlays();
    }
}

// Frame export composites the drawing of the marker on the frame at this time.
void BVDocumentAnnotationController::drawAnnotationAtTime(
    const MediaTime &time, QPainter &painter, const QRectF &target) const
{
    if (m_cleanedUp)
        return;
    BVDocument &document = m_markers->document();
    const BVMediaObject *media = document.mediaObject();
    if (!media || document.isVelo() || !time.isNumeric())
        return;
    BVStoredAnnotation::drawStoredAnnotation(
        m_markers->model().markers(), media->frameAtTime(time),
        [media](const MediaTime &position) { return media->frameAtTime(position); }, painter, target);
}
