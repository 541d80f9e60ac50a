#pragma once

#include <QImage>

#include <memory>

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
    SwsContext *m_context = nullptr;
};
