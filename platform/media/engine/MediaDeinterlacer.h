#pragma once

#include "platform/media/engine/MediaEngineTypes.h"

struct AVFilterContext;
struct AVFilterGraph;

// Deinterlaces pictures with libavfilter's bwdif, one picture at a time: a woven picture becomes a
// whole picture of its first field, the other field's lines interpolated from it, so a paused
// frame and a playing one look alike and no neighbouring picture need be decoded. Runs on the thread
// that converts pictures for showing, never on the GUI thread; one deinterlacer per thread.
class MediaDeinterlacer
{
public:
    MediaDeinterlacer() = default;
    ~MediaDeinterlacer();
    MediaDeinterlacer(const MediaDeinterlacer &) = delete;
    MediaDeinterlacer &operator=(const MediaDeinterlacer &) = delete;

    // The picture deinterlaced; null when it is progressive or cannot be filtered (it is then
    // shown as it is, and a failure is logged once per picture format).
    MediaAVFramePtr deinterlace(const AVFrame *frame);
    // Slice threads of the filter (the default follows the processor count).
    void setThreadCount(int threads) { m_threads = threads; }

private:
    // A graph for one picture: the filter keeps the pictures it has seen, and it gives up the one
    // picture fed only when told that no more follow, after which it takes no other.
    bool build(const AVFrame *frame);
    void release();
    // A picture like `like` with every plane zero, kept for the next pictures of that kind.
    const AVFrame *emptyPicture(const AVFrame *like);

    AVFilterGraph *m_graph = nullptr;
    AVFilterContext *m_source = nullptr;
    AVFilterContext *m_sink = nullptr;
    int m_threads = 0;
    MediaAVFramePtr m_empty;
    int m_failedFormat = -1;
};
