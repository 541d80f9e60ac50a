#pragma once

#include <QImage>
#include <QSize>

#include <memory>
#include <vector>

struct AVFrame;
struct SwsContext;

// How a picture is converted for showing.
struct MediaPictureOptions
{
    // The picture is made no larger than this on either side (the size it is shown at, in the
    // picture's own orientation and in device pixels); larger pictures are scaled down here with
    // an averaging filter. Empty: the picture's own size.
    QSize limit;
    // Transparent pictures over a grey checkerboard instead of black.
    bool checkerboard = false;

    bool operator==(const MediaPictureOptions &other) const
    {
        return limit == other.limit && checkerboard == other.checkerboard;
    }
    bool operator!=(const MediaPictureOptions &other) const { return !(*this == other); }
};

// Converts decoded pictures to opaque RGB32 images with swscale: the picture's own colour matrix
// and range (untagged pictures get the matrix their size suggests), accurate rounding and full
// chroma interpolation, an area-averaging filter when scaling down, slice threads, ordered
// dithering from more than 8 bits, and transparency composited over black or a checkerboard.
// One converter per thread: it keeps its scaler between calls.
class MediaFrameConverter
{
public:
    MediaFrameConverter() = default;
    ~MediaFrameConverter();
    MediaFrameConverter(const MediaFrameConverter &) = delete;
    MediaFrameConverter &operator=(const MediaFrameConverter &) = delete;

    // Null when the picture cannot be converted.
    std::shared_ptr<const QImage> convert(const AVFrame *frame, const MediaPictureOptions &options = {});
    // The size convert() makes for a picture of `source` pixels: each side at most the limit's.
    static QSize outputSize(const QSize &source, const QSize &limit);
    // The scaler's threads (1 turns them off; the default follows the processor count).
    void setThreadCount(int threads) { m_threads = threads; }

private:
    struct Setup
    {
        int srcWidth = 0, srcHeight = 0, srcFormat = -1;
        int dstWidth = 0, dstHeight = 0, dstFormat = -1;
        int flags = 0, colorspace = 0, fullRange = 0;
        bool operator==(const Setup &other) const;
    };
    bool prepare(const Setup &setup);
    // An image handed out earlier that nobody holds any more, of the picture's size, if any.
    std::shared_ptr<QImage> reusableImage(int width, int height);

    SwsContext *m_context = nullptr;
    Setup m_setup;
    int m_threads = 0;
    // Wide intermediate for pictures of more than 8 bits (dithered from here into the image).
    std::vector<uint16_t> m_wide;
    std::vector<uint32_t> m_thresholds; // the dither thresholds, 8 rows of one line each
    // The latest images handed out: once released they are written again rather than allocated
    // (fresh memory for every picture shown costs page faults).
    std::vector<std::shared_ptr<QImage>> m_recent;
};
