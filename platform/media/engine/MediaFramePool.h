#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

struct AVCodecContext;
struct AVFrame;

// Picture buffers for one video decoder. The decoder's default buffers are zero-filled on every
// allocation and are not reused once the cache holds many pictures; these are recycled as soon as a
// picture leaves the cache, with at most a few idle ones kept, so decoding touches no fresh pages in
// steady state and memory follows the cache. Buffers are requested from the decoder's threads.
class MediaFramePool
{
public:
    // Idle buffers kept per plane size; the rest go back to the system.
    static constexpr size_t MaximumIdle = 12;

    MediaFramePool();
    ~MediaFramePool();
    MediaFramePool(const MediaFramePool &) = delete;
    MediaFramePool &operator=(const MediaFramePool &) = delete;

    // Makes the codec take its picture buffers from this pool (which must outlive the codec's use of
    // it; buffers still held by pictures may outlive both).
    void install(AVCodecContext *codec);
    size_t idleBytes() const;

private:
    struct Shelf;
    struct BufferOwner;
    static int getBuffer(AVCodecContext *codec, AVFrame *frame, int flags);
    int fill(AVCodecContext *codec, AVFrame *frame);

    std::shared_ptr<Shelf> m_shelf;
};
