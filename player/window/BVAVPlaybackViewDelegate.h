#pragma once

class BVAVPlaybackView;
class QKeyEvent;
class QMouseEvent;

// What the playback view tells its owner, the player document. Every call defaults to doing
// nothing; a key callback answers whether the key was used (unused keys go the usual way).
// All calls arrive on the main thread.
class BVAVPlaybackViewDelegate
{
public:
    virtual ~BVAVPlaybackViewDelegate() = default;

    // A key press reached the view. Also called for key equivalents (keys with Ctrl), which the
    // view offers here before the menu shortcuts see them.
    virtual bool keyDown(BVAVPlaybackView *view, QKeyEvent *event)
    {
        (void)view;
        (void)event;
        return false;
    }
    virtual bool keyUp(BVAVPlaybackView *view, QKeyEvent *event)
    {
        (void)view;
        (void)event;
        return false;
    }
    // The mouse moved over the view (the "BVReelmarkMouseMove" notification is posted as well).
    virtual void mouseMoved(BVAVPlaybackView *view, QMouseEvent *event)
    {
        (void)view;
        (void)event;
    }
    // Button presses, drags and releases over the picture, for the annotation tools.
    virtual void mouseDown(BVAVPlaybackView *view, QMouseEvent *event)
    {
        (void)view;
        (void)event;
    }
    virtual void mouseDragged(BVAVPlaybackView *view, QMouseEvent *event)
    {
        (void)view;
        (void)event;
    }
    virtual void mouseUp(BVAVPlaybackView *view, QMouseEvent *event)
    {
        (void)view;
        (void)event;
    }
    // The player offered a new picture, about to be painted: displays that follow the picture
    // (the timecode) refresh with it rather than on the next periodic tick.
    virtual void pictureChanged(BVAVPlaybackView *view) { (void)view; }
};
