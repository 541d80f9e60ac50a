#pragma once

#include "markers/BVMarker.h"
#include "player/document/BVDocumentAnnotations.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

class BVAnnotationCanvas;
class BVDocumentMarkerController;
class BVWorkQueue;
class QWidget;

// The annotations of one player document: annotation mode over a paused frame at the current
// marker, the annotation bar with Save and Discard and their sheets, the local annotation cache, a
// stored drawing shown over the picture when the playhead arrives at its marker, and the question
// the transport asks before it moves while a drawing is unsaved. Reaches the marker list through
// the document's marker controller. Main thread; the cache files are read and written on a serial
// queue of its own, and a drawing read for a marker the playhead has left is not shown.
class BVDocumentAnnotationController : public QObject, public BVDocumentAnnotations
{
    Q_OBJECT
public:
    explicit BVDocumentAnnotationController(BVDocumentMarkerController &markers);
    ~BVDocumentAnnotationController() override;

    // ---- The slot
    bool discardUnsavedAnnotation() override;
    void removeShownAnnotation() override;
    bool isAnnotating() const override;
    void drawAnnotationAtTime(const MediaTime &time, QPainter &painter, const QRectF &target) const override;
    void cleanup() override;

    // `canDrawAnnotations`: annotation mode is on (with or without strokes).
    bool isAnnotationModeOn() const;
    BVAnnotationCanvas *canvas() const;
    QWidget *annotationBar() const { return m_bar; }

    // The annotate button: draws over the marker's frame, or removes its annotation (asks first).
    void toggleAnnotationMode(const BVMarker &marker);
    // Save and Discard on the annotation bar.
    void saveAnnotation();
    // Answers whether the drawing was dropped (false when the user kept it).
    bool discardAnnotation();
    // The popover's colour changed: every stroke takes it.
    void markerColorChanged(int color);
    // The stored annotation of a marker at the playhead, if it has one. Shown when read, unless
    // the shown drawing was removed (the playhead moved) or annotation mode began meanwhile.
    void showAnnotationForMarker(const BVMarker &marker);
    void showAnnotationWithUUID(const QString &uuid);
    void showAnnotation(const QString &svg);
    void removeAnnotationBar();

private:
    // The canvas over the picture, made when the window has a playback view.
    BVAnnotationCanvas *ensureCanvas();
    void enterAnnotationMode(const BVMarker &marker);
    void endAnnotationMode();
    BVWorkQueue &diskQueue();

    BVDocumentMarkerController *m_markers;
    QPointer<BVAnnotationCanvas> m_canvas;
    QPointer<QWidget> m_bar;
    bool m_cleanedUp = false;
    // Counts removals of the shown drawing: a read started before the last one is dropped.
    uint64_t m_showGeneration = 0;
    std::unique_ptr<BVWorkQueue> m_diskQueue;
};
