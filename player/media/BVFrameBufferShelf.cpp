#include "player/media/BVFrameBufferShelf.h"

#include <cstdlib>

// A buffer's way back to its shelf, which may be gone by then.
struct BVFrameBufferShelf::Owner
{
    std::weak_ptr<BVFrameBufferShelf> shelf;
    unsigned char *data = nullptr;
    size_t bytes = 0;
};

BVFrameBufferShelf::~BVFrameBufferShelf()
{
    for (unsigned char *data : m_idle)
        std::free(data);
}

QImage BVFrameBufferShelf::take(
    const std::shared_ptr<BVFrameBufferShelf> &shelf, QSize size, QImage::Format format)
{
    if (!shelf || size.isEmpty() || QImage::toPixelFormat(format).bitsPerPixel() != 32)
        return {};
    const qsizetype bytesPerLine = qsizetype(size.width()) * 4;
    // Whole cache lines, as the allocator wants a multiple of the alignment.
    const size_t bytes = (size_t(bytesPerLine) * size_t(size.height()) + 63) / 64 * 64;
    unsigned char *data = nullptr;
    {
        std::lock_guard guard(shelf->m_mutex);
        if (shelf->m_bufferBytes != bytes) {
            for (unsigned char *idle : shelf->m_idle)
                std::free(idle);
            shelf->m_idle.clear();
            shelf->m_bufferBytes = bytes;
        }
        if (!shelf->m_idle.empty()) {
            data = shelf->m_idle.back();
            shelf->m_idle.pop_back();
        }
    }
    if (!data)
        data = static_cast<unsigned char *>(std::aligned_alloc(64, bytes));
    if (!data)
        return {};
    auto *owner = new Owner {shelf, data, bytes};
    return QImage(
        data, size.width(), size.height(), bytesPerLine, format, &BVFrameBufferShelf::release, owner);
}

size_t BVFrameBufferShelf::idleCount() const
{
    std::lock_guard guard(m_mutex);
    return m_idle.size();
}

// Any thread: the image's last copy is gone. Its buffer goes back to the shelf, or to the system.
void BVFrameBufferShelf::release(void *info)
{
    std::unique_ptr<Owner> owner(static_cast<Owner *>(info));
    if (const std::shared_ptr<BVFrameBufferShelf> shelf = owner->shelf.lock()) {
        std::lock_guard guard(shelf->m_mutex);
        if (shelf->m_bufferBytes == owner->bytes && shelf->m_idle.size() < kIdleBuffers) {
            shelf->m_idle.push_back(owner->data);
            return;
        }
    }
    std::free(owner->data);
}
