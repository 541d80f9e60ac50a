#pragma once

#include <QImage>
#include <QSize>

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

// Pixel buffers of decoded image-sequence frames, recycled when the last copy of a frame's image
// goes: the view lets go of a shown frame a frame or two later, a cleared cache of its frames at
// once. Fresh memory costs a page fault per page, which for a 1920x1080 frame is about as much CPU as
// decoding it from JPEG. Buffers are taken on the decode threads and come back from whichever thread
// drops the image; images may outlive the shelf, and then free their buffer themselves.
class BVFrameBufferShelf
{
public:
    BVFrameBufferShelf() = default;
    ~BVFrameBufferShelf();
    BVFrameBufferShelf(const BVFrameBufferShelf &) = delete;
    BVFrameBufferShelf &operator=(const BVFrameBufferShelf &) = delete;

    // An image of the size and a 32-bit format over a recycled buffer of the shelf, or a new one;
    // a null image when memory runs out.
    static QImage take(const std::shared_ptr<BVFrameBufferShelf> &shelf, QSize size, QImage::Format format);
    // Buffers waiting for the next take(); for diagnostics.
    size_t idleCount() const;

    // Enough for the frames on their way to the screen and the decodes running meanwhile.
    static constexpr size_t kIdleBuffers = 8;

private:
    struct Owner;
    static void release(void *owner);

    mutable std::mutex m_mutex; // guards the members below
    size_t m_bufferBytes = 0;
    std::vector<unsigned char *> m_idle;
};
