#pragma once

#include "platform/media/MediaAsset.h"
#include "platform/media/MediaFrameRate.h"
#include "platform/media/MediaTime.h"

#include <QSizeF>
#include <QString>

#include <memory>

class QWidget;

// What the export and trim commands need of the player document: its media, its in/out range and
// its window. Main thread. The document implements it (or hands a small adapter).
class BVExportSource
{
public:
    virtual ~BVExportSource() = default;
    virtual std::shared_ptr<MediaAsset> asset() const = 0;
    // The display size of the picture (pixel aspect applied).
    virtual QSizeF naturalSize() const = 0;
    virtual double fps() const = 0;
    // The exact rate frames and times convert through (the media's own; by default the one the
    // decimal rate stands for).
    virtual MediaFrameRate frameRate() const { return MediaFrameRate::fromFps(fps()); }
    // The frame showing at a time: by the exact rate, or by the real frames of variable-rate
    // footage when the media counts them.
    virtual int64_t frameAtTime(const MediaTime &time) const
    {
        MediaFrameRate rate = frameRate();
        if (!rate.isValid())
            rate = MediaFrameRate::fromFps(fps());
        return rate.frameAtTime(time);
    }
    virtual int64_t timebase() const = 0;
    virtual bool ntsc() const = 0;
    virtual bool dropFrame() const = 0;
    // Timecode of the media's first frame.
    virtual QString timecodeStart() const = 0;
    // In point and duration to the out point; a duration of 0 means none.
    virtual MediaTimeRange inOutRange() const = 0;
    // The document's title, or the media file's name without extension.
    virtual QString title() const = 0;
    // The player window, parent of the save panel and alerts.
    virtual QWidget *window() const = 0;
    virtual void pause() { }
    // An export was queued (the document starts its own time estimate, total 1).
    virtual void exportStarted() { }
};
