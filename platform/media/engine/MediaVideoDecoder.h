#pragma once

#include "platform/media/engine/MediaDemuxer.h"
#include "platform/media/engine/MediaFrameCache.h"
#include "platform/media/engine/MediaFramePool.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// The video decode thread: decodes whole GOPs from the demuxer into the frame cache, first the one
// at the playhead, then onward in the direction of play (backward GOP by GOP in reverse; while paused
// the one before and the one after), within the cache budget. At high rates only keyframes. A GOP
// larger than the budget goes through a window around the playhead: frames behind it that would
// not stay are not kept, and frames ahead wait until the playhead makes room for them.
class MediaVideoDecoder
{
public:
    MediaVideoDecoder(
        AVStream *stream, MediaStreamTiming timing, MediaDemuxer &demuxer, MediaFrameCache &cache);
    ~MediaVideoDecoder();
    MediaVideoDecoder(const MediaVideoDecoder &) = delete;
    MediaVideoDecoder &operator=(const MediaVideoDecoder &) = delete;

    // Opens the codec; false (logged) when the stream cannot be decoded.
    bool open();
    void start();
    // Called on the decode thread after every frame added to the cache; must not block.
    void setFrameHandler(std::function<void()> handler);

    // Steers decoding. `direction` -1, 0 (paused) or 1; `strideTicks` skips pictures at high rates
    // (keyframes only). Callable from any thread.
    void setPlayhead(int64_t ticks, int direction, bool keyframesOnly, int64_t strideTicks);
    // A jump (seek): abandons the GOP in progress unless it holds the new playhead.
    void jump(int64_t ticks);
    // How many passes went straight to a sought frame, skipping what it does not need.
    uint64_t fastPasses() const { return m_fastPasses.load(); }

    // The most frame threads for pictures over 1080p, whatever the processor count.
    static constexpr int LargeFrameThreads = 2;
    // What the pool keeps beyond the cache's frames: the decoder's own references and the
    // pictures in flight.
    static constexpr size_t DecoderAllowance = size_t(64) << 20;

private:
    struct Target
    {
        int64_t ticks = 0;
        int direction = 0;
        bool keyframesOnly = false;
        int64_t stride = 0;
        uint64_t generation = 0;
    };
    void run();
    bool nextWanted(const Target &target, int64_t *wanted);
    // `skipBefore`: pictures nobody refers to that end before these ticks are not decoded (the way
    // to a sought frame); the GOP then stays incomplete. NoTime decodes everything.
    void decodeGop(const MediaGop &gop, bool keyframesOnly, uint64_t generation, int64_t skipBefore);
    bool abandoned(const MediaGop *gop, uint64_t generation) const;
    // Waits a moment for the cache to make room for a frame ahead of the playhead; false when the
    // pass is to be given up instead (stopping, a jump elsewhere, a change of mode, or the frame
    // at the playhead missing).
    bool waitForRoom(const MediaGop &gop, uint64_t generation, bool keyframesOnly);

    AVStream *m_stream;
    MediaStreamTiming m_timing;
    MediaDemuxer &m_demuxer;
    MediaFrameCache &m_cache;
    AVCodecContext *m_codec = nullptr;
    MediaFramePool m_pool;
    // The generation whose jump has had its fast pass (decoder thread only).
    uint64_t m_servedJump = 0;
    // When the latest fast pass ended (decoder thread only).
    std::chrono::steady_clock::time_point m_fastPassEnded;
    // The GOP of the latest fast pass (decoder thread only).
    int64_t m_fastPassGop = MediaStreamTiming::NoTime;
    // The playhead a thinned GOP was last decoded again for (decoder thread only).
    int64_t m_windowMiss = MediaStreamTiming::NoTime;
    std::thread m_thread;
    std::function<void()> m_frameHandler;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    Target m_target;
    std::atomic<uint64_t> m_generation {0};
    std::atomic<uint64_t> m_fastPasses {0};
    std::atomic<int64_t> m_jumpTicks {0};
    std::atomic<bool> m_stopping {false};
};
