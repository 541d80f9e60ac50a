#pragma once

#include "player/window/BVAVPlaybackView.h"
#include "player/window/BVDocumentWindowController.h"

class QWidget;

// The window of a document, for the feature controllers that put sheets, alerts and pictures in it;
// each answers none for a document without a window (the command line, tests). Main thread.
namespace BVDocumentWindowLookup {

inline BVDocumentWindowController *windowOf(const BVDocument &document)
{
    return BVDocumentWindowController::of(document);
}

inline QWidget *parentWindowOf(const BVDocument &document)
{
    BVDocumentWindowController *window = windowOf(document);
    return window ? window->windowWidget() : nullptr;
}

inline BVAVPlaybackView *playbackViewOf(const BVDocument &document)
{
    BVDocumentWindowController *window = windowOf(document);
    return window ? window->playbackView() : nullptr;
}

} // namespace BVDocumentWindowLookup
