#pragma once

#include "support/BVWorkGroup.h"

#include <QImage>
#include <QSize>

#include <memory>
#include <vector>

struct AVFrame;
class BVWorkQueue;
class MediaDeinterlacer;
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
    // Interlaced pictures deinterlaced (bwdif) instead of shown with their fields woven.
    bool deinterlace = false;

    bool operator==(const MediaPictureOptions &other) const
    {
        return limit == other.limit && checkerboard == other.checkerboard && deinterlace == other.deinterlace;
    }
    bool operator!=(const MediaPictureOptions &other) const { return !(*this == other); }
};

// Converts decoded pictures to opaque RGB32 images with swscale: the picture's own colour matrix
// and range (untagged pictures get the matrix their size suggests), accurate rounding and full
// chroma interpolation, an area-averaging filter when scaling down, slice threads, ordered
// dithering from more than 8 bits, transparency composited over black or a checkerboard, and
// interlaced pictures deinterlaced when asked. Pictures over 1080p shown at their own size are
// converted to planar RGB (8-bit: inside the image's own lines) and packed, in bands, half of them
// on a thread of the converter's own.
// One converter per thread: it keeps its scaler between calls.
class MediaFrameConverter
{
public:
    MediaFrameConverter();
    ~MediaFrameConverter();
    MediaFrameConverter(const MediaFrameConverter &) = delete;
    MediaFrameConverter &operator=(const MediaFrameConverter &) = delete;

    // Null when the picture cannot be converted.
    std::shared_ptr<const QImage> convert(const AVFrame *frame, const MediaPictureOptions &options = {});
    // The size convert() makes for a picture of `source` pixels: each side at most the limit's.
    static QSize outputSize(const QSize &source, const QSize &limit);
    // The scaler's threads (1 turns them off; the default follows the processor count).
    void setThreadCount(int threads);
    // Bytes of the pictures and working buffers the converter keeps between calls.
    size_t heldBytes() const;
    // Pictures of more pixels than this (over 1080p) take the planar path at their own size.
    static constexpr int64_t LargePicturePixels = int64_t(2048) * 1152;

private:
    struct Setup
    {
        int srcWidth = 0, srcHeight = 0, srcFormat = -1;
        int dstWidth = 0, dstHeight = 0, dstFormat = -1;
        int flags = 0, colorspace = 0, fullRange = 0;
        bool operator==(const Setup &other) const;
    };
    static SwsContext *createContext(const Setup &setup, int threads);
    bool prepare(const Setup &setup);
    // The two single-threaded scalers of the planar path.
    bool prepareHalves(const Setup &setup);
    // Packs the rows [from, to) of the image, each holding planar 8-bit G, B, R side by side, in
    // place (through `line`, room for one line of the three).
    static void packPlanar(QImage &image, uint8_t *line, int from, int to);
    // Dithers the rows [from, to) of planar 16-bit G, B, R (and A, composited) into the image.
    void packWide(const AVFrame &planes, QImage &image, bool alpha, bool checker, int from, int to) const;
    // An image handed out earlier that nobody holds any more, of the picture's size, if any.
    std::shared_ptr<QImage> reusableImage(int width, int height);

    SwsContext *m_context = nullptr;
    Setup m_setup;
    SwsContext *m_halves[2] = {nullptr, nullptr};
    Setup m_halvesSetup;
    // Runs the lower half of a planar conversion. The group outlives the queue's thread, which
    // may still be leaving it when wait() returns.
    BVWorkGroup m_helperJobs;
    std::unique_ptr<BVWorkQueue> m_helper;
    int m_threads = 0;
    std::unique_ptr<MediaDeinterlacer> m_deinterlacer;
    // 16-bit planar intermediate for pictures of more than 8 bits (dithered from here into the
    // image).
    std::vector<uint8_t> m_planes;
    std::vector<uint32_t> m_thresholds; // the dither thresholds, 8 rows of one line each
    // The latest images handed out: once released they are written again rather than allocated
    // (fresh memory for every picture shown costs page faults).
    std::vector<std::shared_ptr<QImage>> m_recent;
};
