#pragma once

#include "platform/media/MediaTime.h"

class QPainter;
class QRectF;

// The annotations of a document: the freehand layer over a paused frame. Installed by whoever
// builds documents (BVDocument::setAnnotations); the default does nothing and never holds playback
// back. Main thread.
class BVDocumentAnnotations
{
public:
    virtual ~BVDocumentAnnotations() = default;

    // Before a seek or a shuttle: an unsaved annotation may be discarded (the user is asked).
    // Answers false while annotation mode stays on, which holds the command back.
    virtual bool discardUnsavedAnnotation() { return true; }
    // Playback started, the playhead moved or scrubbing began: the annotation shown goes.
    virtual void removeShownAnnotation() { }
    // Annotation mode with strokes drawn.
    virtual bool isAnnotating() const { return false; }
    // Draws the stored annotation of a marker at this time (its 960 x 540 canvas scaled to the
    // target rectangle), as frame export composites it. Draws nothing when there is none.
    virtual void drawAnnotationAtTime(const MediaTime &time, QPainter &painter, const QRectF &target) const
    {
        (void)time;
        (void)painter;
        (void)target;
    }
    // The document is cleaning up. No call follows.
    virtual void cleanup() { }
};
