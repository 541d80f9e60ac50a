#pragma once

#include <cstddef>
#include <memory>

struct AVCodecContext;
struct AVFrame;

// Picture buffers for one video decoder. The decoder's default buffers are zero-filled on every
// allocation and are not reused once the cache holds many pictures; these are recycled as soon as a
// picture leaves the cache. Fresh memory is expensive (a page fault per page: on some virtual
// machines a 1080p picture costs more to fault in than to decode), so released buffers are kept
// while the buffers in use and idle ones together stay within the capacity; the rest go back to the
// system. Buffers are requested from the decoder's threads and released from any thread.
class MediaFramePool
{
public:
    MediaFramePool();
    ~MediaFramePool();
    MediaFramePool(const MediaFramePool &) = delete;
    MediaFramePool &operator=(const MediaFramePool &) = delete;

    // Makes the codec take its picture buffers from this pool (which must outlive the codec's use of
    // it; buffers still held by pictures may outlive both).
    void install(AVCodecContext *codec);
    // Bytes of buffers (in use and idle) above which released ones are freed. Any thread.
    void setCapacity(size_t bytes);
    size_t idleBytes() const;

private:
    struct Shelf;
    struct BufferOwner;
    static int getBuffer(AVCodecContext *codec, AVFrame *frame, int flags);
    int fill(AVCodecContext *codec, AVFrame *frame);

    std::shared_ptr<Shelf> m_shelf;
};
