#pragma once

#include "platform/media/MediaTime.h"

class QWidget;

// The markers a document owns: its marker list, the timeline drawn over the scrubber and the marker
// window. Installed by whoever builds documents (BVDocument::setMarkers); the default does nothing,
// so a document without markers still plays. Main thread.
//
// The implementation keeps a reference to its BVDocument and reads what it needs through it:
// currentTime(), duration(), timecodeAtTime() (the display string in the current mode, through the
// program's one frame rule), fileSettingsKey() and the per-file settings helper BVFileSettings for
// storage under "markers"; frames and seeks go through the document's mediaObject() (frameAtTime(),
// seekToTime()).
class BVDocumentMarkers
{
public:
    virtual ~BVDocumentMarkers() = default;

    // The media reported "loaded" (local files) or "ready": read the stored markers and chapters.
    virtual void loadMarkers() { }
    // M, the add-marker button and menu: a marker at the playhead.
    virtual void addMarker() { }
    // Up and down arrows, the buttons and menu: go to the marker before or after the playhead.
    virtual void prevMarker() { }
    virtual void nextMarker() { }
    // Deletes every marker of the file (the menu asks first).
    virtual void deleteAllMarkers() { }

    // The playhead reached a new frame (every scrubber sync whose frame changed, and after seeks):
    // pause on markers, the timeline's playhead.
    virtual void playheadMoved(const MediaTime &time) { (void)time; }
    // The in and out points changed; a range whose duration has value 0 means none.
    virtual void inOutChanged(const MediaTimeRange &inOut) { (void)inOut; }
    // The display mode ("timecodeDisplay") changed: redraw labels and the marker table.
    virtual void displayModeChanged() { }

    // The window controller built its window: the timeline area over the scrubber (markers draw
    // their tags there, parented to it) and the window the marker popover belongs to. Called again
    // with nullptrs when the window goes.
    virtual void attachTimeline(QWidget *timelineArea, QWidget *window)
    {
        (void)timelineArea;
        (void)window;
    }
    // The marker window (toggleMarkers); none when the feature has no window.
    virtual QWidget *markersWindow() { return nullptr; }

    // The document is cleaning up: let go of views and observers. No call follows.
    virtual void cleanup() { }
};
