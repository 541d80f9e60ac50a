#pragma once

#include <QImage>

#include <memory>
#include <vector>

struct AVFrame;
struct SwsContext;

// Converts decoded pictures to RGB32 images with swscale (bilinear, the frame's own colour matrix
// and range, full-range output). One converter per thread: it keeps its scaler between calls.
class MediaFrameConverter
{
public:
    MediaFrameConverter() = default;
    ~MediaFrameConverter();
    MediaFrameConverter(const MediaFrameConverter &) = delete;
    MediaFrameConverter &operator=(const MediaFrameConverter &) = delete;

    // Null when the picture cannot be converted.
    std::shared_ptr<const QImage> convert(const AVFrame *frame);

private:
    // An image handed out earlier that nobody holds any more, of the picture's size, if any.
    std::shared_ptr<QImage> reusableImage(int width, int height);

    SwsContext *m_context = nullptr;
    // The latest images handed out: once released they are written again rather than allocated
    // (fresh memory for every picture shown costs page faults).
    std::vector<std::shared_ptr<QImage>> m_recent;
};
