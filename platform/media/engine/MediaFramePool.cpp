#include "platform/media/engine/MediaFramePool.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
}

#include <sys/mman.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <vector>

namespace {

// Room past each plane for decoders' wide SIMD stores and reads.
constexpr size_t PlanePadding = 1024;
// Linesizes are multiples of this (covers every decoder's and swscale's stride alignment).
constexpr int LinesizeAlignment = 64;

// Buffers are mapped with their pages in at once: one call instead of a fault per page.
uint8_t *allocatePlane(size_t size)
{
    void *data
        = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    return data == MAP_FAILED ? nullptr : static_cast<uint8_t *>(data);
}

void freePlane(uint8_t *data, size_t size)
{
    munmap(data, size);
}

} // namespace

// The idle buffers by size, shared with every buffer handed out so a buffer released after the pool
// is gone is simply freed.
struct MediaFramePool::Shelf
{
    std::mutex mutex;
    std::map<size_t, std::vector<uint8_t *>> idle;
    size_t idleBytes = 0;
    size_t liveBytes = 0;
    size_t capacity = 0;
    bool closed = false;

    ~Shelf()
    {
        for (auto &[size, buffers] : idle)
            for (uint8_t *data : buffers)
                freePlane(data, size);
    }
    uint8_t *take(size_t size)
    {
        {
            std::lock_guard lock(mutex);
            liveBytes += size;
            auto it = idle.find(size);
            if (it != idle.end() && !it->second.empty()) {
                uint8_t *data = it->second.back();
                it->second.pop_back();
                idleBytes -= size;
                return data;
            }
        }
        uint8_t *data = allocatePlane(size);
        if (!data) {
            std::lock_guard lock(mutex);
            liveBytes -= size;
        }
        return data;
    }
    void give(uint8_t *data, size_t size)
    {
        {
            std::lock_guard lock(mutex);
            liveBytes -= size;
            if (!closed && liveBytes + idleBytes + size <= capacity) {
                idle[size].push_back(data);
                idleBytes += size;
                return;
            }
        }
        freePlane(data, size);
    }
};

struct MediaFramePool::BufferOwner
{
    std::shared_ptr<Shelf> shelf;
    size_t size;
};

MediaFramePool::MediaFramePool()
    : m_shelf(std::make_shared<Shelf>())
{ }

MediaFramePool::~MediaFramePool()
{
    std::lock_guard lock(m_shelf->mutex);
    m_shelf->closed = true;
}

void MediaFramePool::setCapacity(size_t bytes)
{
    std::lock_guard lock(m_shelf->mutex);
    m_shelf->capacity = bytes;
    // Idle buffers past the new capacity go now.
    for (auto &[size, buffers] : m_shelf->idle) {
        while (!buffers.empty() && m_shelf->liveBytes + m_shelf->idleBytes > bytes) {
            freePlane(buffers.back(), size);
            buffers.pop_back();
            m_shelf->idleBytes -= size;
        }
    }
}

size_t MediaFramePool::idleBytes() const
{
    std::lock_guard lock(m_shelf->mutex);
    return m_shelf->idleBytes;
}

void MediaFramePool::install(AVCodecContext *codec)
{
    if (!codec || !codec->codec || !(codec->codec->capabilities & AV_CODEC_CAP_DR1))
        return;
    codec->opaque = this;
    codec->get_buffer2 = &MediaFramePool::getBuffer;
#if FF_API_THREAD_SAFE_CALLBACKS
    // Libraries of this age still ask: without it they decode custom-buffered video on one thread.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    codec->thread_safe_callbacks = 1;
#pragma GCC diagnostic pop
#endif
}

int MediaFramePool::getBuffer(AVCodecContext *codec, AVFrame *frame, int flags)
{
    auto *pool = static_cast<MediaFramePool *>(codec->opaque);
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(AVPixelFormat(frame->format));
    // Hardware, palette and bitstream formats keep the library's own allocation.
    if (!pool || codec->codec_type != AVMEDIA_TYPE_VIDEO || !descriptor
        || (descriptor->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM)))
        return avcodec_default_get_buffer2(codec, frame, flags);
    const int result = pool->fill(codec, frame);
    return result == 0 ? 0 : avcodec_default_get_buffer2(codec, frame, flags);
}

int MediaFramePool::fill(AVCodecContext *codec, AVFrame *frame)
{
    const auto format = AVPixelFormat(frame->format);
    int width = frame->width;
    int height = frame->height;
    int alignments[AV_NUM_DATA_POINTERS] = {};
    // The decoder's own padding (macroblock multiples plus edges it may write).
    avcodec_align_dimensions2(codec, &width, &height, alignments);
    int linesizes[4] = {};
    if (av_image_fill_linesizes(linesizes, format, FFALIGN(width, LinesizeAlignment * 2)) < 0)
        return -1;
    for (int i = 0; i < 4; ++i) {
        linesizes[i] = FFALIGN(linesizes[i], LinesizeAlignment);
        if (alignments[i] > 0 && linesizes[i] % alignments[i])
            return -1;
    }
    size_t sizes[4] = {};
    ptrdiff_t strides[4] = {linesizes[0], linesizes[1], linesizes[2], linesizes[3]};
    if (av_image_fill_plane_sizes(sizes, format, height, strides) < 0)
        return -1;

    AVBufferRef *buffers[4] = {};
    int planes = 0;
    for (; planes < 4 && sizes[planes] > 0; ++planes) {
        const size_t size = sizes[planes] + PlanePadding;
        uint8_t *data = m_shelf->take(size);
        auto *owner = data ? new BufferOwner {m_shelf, size} : nullptr;
        buffers[planes] = data ? av_buffer_create(
                              data, size,
                              [](void *opaque, uint8_t *bytes) {
                                  auto *o = static_cast<BufferOwner *>(opaque);
                                  o->shelf->give(bytes, o->size);
                                  delete o;
                              },
                              owner, 0)
                               : nullptr;
        if (!buffers[planes]) {
            if (data) {
                delete owner;
                m_shelf->give(data, size);
            }
            for (int i = 0; i < planes; ++i)
                av_buffer_unref(&buffers[i]);
            return -1;
        }
    }
    for (int i = 0; i < planes; ++i) {
        frame->buf[i] = buffers[i];
        frame->data[i] = buffers[i]->data;
        frame->linesize[i] = linesizes[i];
    }
    frame->extended_data = frame->data;
    return 0;
}
