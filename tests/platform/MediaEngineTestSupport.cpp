#include "MediaEngineTestSupport.h"

#include "common/BVTestSupport.h"
#include "platform/media/engine/MediaPlayer.h"
#include "platform/media/engine/MediaPlayerItem.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QProcess>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace MediaEngineTest {

QString openGopClip()
{
    static QString path;
    if (!path.isEmpty() && QFileInfo::exists(path))
        return path;
    const QString output
        = BVTest::makeTempFolder(QStringLiteral("opengop")) + QStringLiteral("/open-gop.mov");
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
            QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("testsrc2=size=320x240:rate=24"),
            QStringLiteral("-t"), QStringLiteral("6"), QStringLiteral("-c:v"), QStringLiteral("libx264"),
            QStringLiteral("-preset"), QStringLiteral("veryfast"), QStringLiteral("-pix_fmt"),
            QStringLiteral("yuv420p"), QStringLiteral("-bf"), QStringLiteral("3"),
            QStringLiteral("-x264-params"), QStringLiteral("open-gop=1:keyint=24:min-keyint=24:scenecut=0"),
            output});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitStatus() != QProcess::NormalExit
        || ffmpeg.exitCode() != 0)
        return {};
    path = output;
    return path;
}

QByteArray digest(const QImage &image)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (int y = 0; y < image.height(); ++y)
        hash.addData(
            QByteArrayView(reinterpret_cast<const char *>(image.constScanLine(y)), image.width() * 4));
    return hash.result();
}

namespace {

QImage convert(SwsContext **context, const AVFrame *frame)
{
    const auto format = AVPixelFormat(frame->format);
    *context = sws_getCachedContext(*context, frame->width, frame->height, format, frame->width,
        frame->height, AV_PIX_FMT_BGRA,
        SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP | SWS_BILINEAR, nullptr, nullptr, nullptr);
    int colorspace = frame->colorspace;
    if (colorspace == AVCOL_SPC_UNSPECIFIED)
        colorspace = frame->width >= 1280 || frame->height > 576 ? SWS_CS_ITU709 : SWS_CS_ITU601;
    const bool fullRange = frame->color_range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P
        || format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P;
    sws_setColorspaceDetails(*context, sws_getCoefficients(colorspace), fullRange,
        sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    QImage image(frame->width, frame->height, QImage::Format_RGB32);
    uint8_t *planes[4] = {image.bits(), nullptr, nullptr, nullptr};
    int strides[4] = {int(image.bytesPerLine()), 0, 0, 0};
    sws_scale(*context, frame->data, frame->linesize, 0, frame->height, planes, strides);
    return image;
}

} // namespace

std::vector<ReferenceFrame> referenceFrames(const QString &path)
{
    std::vector<ReferenceFrame> frames;
    AVFormatContext *format = nullptr;
    if (avformat_open_input(&format, path.toUtf8().constData(), nullptr, nullptr) < 0)
        return frames;
    avformat_find_stream_info(format, nullptr);
    const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    AVStream *stream = format->streams[index];
    const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
    AVCodecContext *decoder = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder, stream->codecpar);
    decoder->pkt_timebase = stream->time_base;
    avcodec_open2(decoder, codec, nullptr);
    const int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    SwsContext *scaler = nullptr;
    const auto drain = [&] {
        while (avcodec_receive_frame(decoder, frame) == 0) {
            const int64_t pts = frame->best_effort_timestamp;
            frames.push_back(
                {MediaTime(pts - start, stream->time_base.den), digest(convert(&scaler, frame))});
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == index) {
            avcodec_send_packet(decoder, packet);
            drain();
        }
        av_packet_unref(packet);
    }
    avcodec_send_packet(decoder, nullptr);
    drain();
    sws_freeContext(scaler);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
    return frames;
}

int frameAt(const std::vector<ReferenceFrame> &frames, const MediaTime &time)
{
    int found = -1;
    for (size_t i = 0; i < frames.size(); ++i)
        if (frames[i].time <= time)
            found = int(i);
    return found;
}

Session::Session() = default;
Session::~Session()
{
    player.reset();
    item.reset();
}

std::unique_ptr<Session> open(const QString &pathOrUrl, int timeoutMs)
{
    auto session = std::make_unique<Session>();
    session->player = std::make_unique<MediaPlayer>();
    session->item = MediaPlayerItem::create(pathOrUrl);
    session->player->replaceCurrentItem(session->item);
    BVTest::waitFor([&] { return session->item->status() != MediaPlayerItem::Status::Unknown; },
        std::chrono::milliseconds(timeoutMs));
    // The first picture arrives with the item's initial positioning.
    BVTest::waitFor(
        [&] {
            return session->item->status() == MediaPlayerItem::Status::Failed || !session->item->hasVideo()
                || session->player->currentImage() != nullptr;
        },
        std::chrono::milliseconds(timeoutMs));
    return session;
}

bool seek(MediaPlayer &player, const MediaTime &time, const MediaTime &before, const MediaTime &after)
{
    int result = -1;
    player.seekToTime(time, before, after, [&](bool finished) { result = finished ? 1 : 0; });
    BVTest::waitFor([&] { return result >= 0; }, std::chrono::seconds(20));
    return result == 1;
}

bool step(MediaPlayer &player, int count)
{
    int result = -1;
    player.stepByCount(count, [&](bool finished) { result = finished ? 1 : 0; });
    BVTest::waitFor([&] { return result >= 0; }, std::chrono::seconds(20));
    return result == 1;
}

} // namespace MediaEngineTest
