#include "platform/media/MediaAssetWriterInput.h"

#include "platform/media/MediaAssetProbe.h"
#include "platform/media/MediaAssetWriter.h"
#include "platform/media/MediaChannelLayout.h"
#include "support/BVLog.h"
#include "support/BVWorkQueue.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <cmath>

namespace {

struct VideoEncoder
{
    const char *name;
    AVPixelFormat pixelFormat;
    int profile; // ProRes profile, -1 for none
};

VideoEncoder videoEncoderFor(const QString &codec, bool alpha)
{
    if (codec == MediaVideoCodec::proRes422)
        return {"prores_ks", AV_PIX_FMT_YUV422P10LE, 2};
    if (codec == MediaVideoCodec::proRes422HQ)
        return {"prores_ks", AV_PIX_FMT_YUV422P10LE, 3};
    if (codec == MediaVideoCodec::proRes422LT)
        return {"prores_ks", AV_PIX_FMT_YUV422P10LE, 1};
    if (codec == MediaVideoCodec::proRes422Proxy)
        return {"prores_ks", AV_PIX_FMT_YUV422P10LE, 0};
    if (codec == MediaVideoCodec::proRes4444)
        return {"prores_ks", alpha ? AV_PIX_FMT_YUVA444P10LE : AV_PIX_FMT_YUV444P10LE, 4};
    if (codec == MediaVideoCodec::jpeg)
        return {"mjpeg", AV_PIX_FMT_YUVJ422P, -1};
    // H.264 in 4:2:0, which every player decodes.
    return {"libx264", AV_PIX_FMT_YUV420P, -1};
}

uint32_t tagOf(const QString &code)
{
    const QByteArray bytes = code.toLatin1();
    return bytes.size() == 4 ? MKTAG(bytes[0], bytes[1], bytes[2], bytes[3]) : 0;
}

AVCodecID pcmCodec(const MediaAudioSettings &settings)
{
    if (settings.floatingPoint)
        return settings.bigEndian ? AV_CODEC_ID_PCM_F32BE : AV_CODEC_ID_PCM_F32LE;
    if (settings.bitDepth <= 8)
        return AV_CODEC_ID_PCM_S8;
    if (settings.bitDepth <= 16)
        return settings.bigEndian ? AV_CODEC_ID_PCM_S16BE : AV_CODEC_ID_PCM_S16LE;
    if (settings.bitDepth <= 24)
        return settings.bigEndian ? AV_CODEC_ID_PCM_S24BE : AV_CODEC_ID_PCM_S24LE;
    return settings.bigEndian ? AV_CODEC_ID_PCM_S32BE : AV_CODEC_ID_PCM_S32LE;
}

} // namespace

MediaAssetWriterInput::MediaAssetWriterInput(MediaAssetWriter *writer, Kind kind)
    : m_writer(writer)
    , m_kind(kind)
{ }

MediaAssetWriterInput::~MediaAssetWriterInput()
{
    if (m_fifo)
        av_audio_fifo_free(m_fifo);
    if (m_resampler)
        swr_free(&m_resampler);
    if (m_scaler)
        sws_freeContext(m_scaler);
    for (AVFrame *picture : m_pictures)
        av_frame_free(&picture);
    if (m_packet)
        av_packet_free(&m_packet);
    if (m_encoder)
        avcodec_free_context(&m_encoder);
    if (m_source)
        avcodec_parameters_free(&m_source);
}

bool MediaAssetWriterInput::fail(int code, const QString &description)
{
    std::lock_guard guard(m_writer->m_mutex);
    m_writer->setFailed(code, description);
    return false;
}

bool MediaAssetWriterInput::isReadyForMoreMediaData() const
{
    std::lock_guard guard(m_writer->m_mutex);
    const bool ready = m_writer->readyLocked(this);
    // Not ready now: the writer runs the block again once the others have caught up.
    if (!ready && !m_finished)
        m_waiting = true;
    return ready;
}

bool MediaAssetWriterInput::isFinished() const
{
    std::lock_guard guard(m_writer->m_mutex);
    return m_finished;
}

void MediaAssetWriterInput::requestMediaDataWhenReady(BVWorkQueue &queue, std::function<void()> block)
{
    {
        std::lock_guard guard(m_writer->m_mutex);
        m_queue = &queue;
        m_block = std::move(block);
    }
    queue.async([this] { runBlock(); });
}

// On the input's queue. The block may release the last owner of the writer, so nothing of the
// input is touched once it has returned.
void MediaAssetWriterInput::runBlock()
{
    std::function<void()> block;
    {
        std::lock_guard guard(m_writer->m_mutex);
        if (m_finished)
            return;
        block = m_block;
    }
    if (block)
        block();
}

bool MediaAssetWriterInput::openEncoder(AVStream *stream, bool globalHeader)
{
    if (m_kind == Kind::Video && m_video)
        return openVideoEncoder(stream, globalHeader);
    if (m_kind == Kind::Audio && m_audio)
        return openAudioEncoder(stream, globalHeader);
    // Stored samples pass unchanged; keep the source's sample description when the movie can carry it.
    int result = avcodec_parameters_copy(stream->codecpar, m_source);
    if (result < 0)
        return fail(result, QStringLiteral("The track could not be copied."));
    const AVOutputFormat *format = m_writer->m_format->oformat;
    const uint32_t tag = stream->codecpar->codec_tag;
    if (tag && format->codec_tag && av_codec_get_id(format->codec_tag, tag) != stream->codecpar->codec_id)
        stream->codecpar->codec_tag = 0;
    stream->time_base = AVRational {m_sourceTbNum, m_sourceTbDen};
    if (m_rateNum > 0)
        stream->avg_frame_rate = AVRational {m_rateNum, m_rateDen};
    stream->sample_aspect_ratio = m_source->sample_aspect_ratio;
    m_packet = av_packet_alloc();
    return true;
}

bool MediaAssetWriterInput::openVideoEncoder(AVStream *stream, bool globalHeader)
{
    const MediaVideoSettings &settings = *m_video;
    const AVPixFmtDescriptor *source = av_pix_fmt_desc_get(AVPixelFormat(m_source->format));
    const bool alpha = source && (source->flags & AV_PIX_FMT_FLAG_ALPHA);
    const VideoEncoder choice = videoEncoderFor(settings.codec, alpha);
    const AVCodec *codec = avcodec_find_encoder_by_name(choice.name);
    if (!codec)
        return fail(AVERROR_ENCODER_NOT_FOUND,
            QStringLiteral("The %1 encoder is not available.").arg(settings.codec));
    m_encoder = avcodec_alloc_context3(codec);
    m_packet = av_packet_alloc();
    if (!m_encoder || !m_packet)
        return fail(AVERROR(ENOMEM), QStringLiteral("Out of memory."));
    m_encoder->width = settings.size.width();
    m_encoder->height = settings.size.height();
    m_encoder->pix_fmt = choice.pixelFormat;
    m_encoder->time_base = AVRational {m_sourceTbNum, m_sourceTbDen};
    if (m_rateNum > 0)
        m_encoder->framerate = AVRational {m_rateNum, m_rateDen};
    if (settings.pixelAspectHorizontal > 0 && settings.pixelAspectVertical > 0)
        m_encoder->sample_aspect_ratio
            = AVRational {settings.pixelAspectHorizontal, settings.pixelAspectVertical};
    m_encoder->color_primaries = m_source->color_primaries;
    m_encoder->color_trc = m_source->color_trc;
    m_encoder->colorspace = m_source->color_space;
    m_encoder->thread_count = 0;
    if (globalHeader)
        m_encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary *options = nullptr;
    if (settings.codec == MediaVideoCodec::h264) {
        if (settings.averageBitRate > 0)
            m_encoder->bit_rate = int64_t(settings.averageBitRate);
        int interval = settings.maxKeyFrameInterval > 0 ? settings.maxKeyFrameInterval : 0;
        if (settings.maxKeyFrameIntervalDuration > 0 && m_rateNum > 0) {
            const int byDuration = std::max(1,
                int(std::lround(settings.maxKeyFrameIntervalDuration * m_rateNum / std::max(m_rateDen, 1))));
            interval = interval > 0 ? std::min(interval, byDuration) : byDuration;
        }
        if (interval > 0)
            m_encoder->gop_size = interval;
    } else if (choice.profile >= 0) {
        m_encoder->profile = choice.profile;
        av_dict_set_int(&options, "profile", choice.profile, 0);
    } else if (settings.codec == MediaVideoCodec::jpeg) {
        m_encoder->color_range = AVCOL_RANGE_JPEG;
        m_encoder->flags |= AV_CODEC_FLAG_QSCALE;
        m_encoder->global_quality = FF_QP2LAMBDA * 3;
    }
    int result = avcodec_open2(m_encoder, codec, &options);
    av_dict_free(&options);
    if (result < 0)
        return fail(result, QStringLiteral("The video encoder could not be opened."));
    result = avcodec_parameters_from_context(stream->codecpar, m_encoder);
    if (result < 0)
        return fail(result, QStringLiteral("The video track could not be created."));
    stream->codecpar->codec_tag = tagOf(settings.codec);
    stream->time_base = m_encoder->time_base;
    if (m_rateNum > 0)
        stream->avg_frame_rate = AVRational {m_rateNum, m_rateDen};
    stream->sample_aspect_ratio = m_encoder->sample_aspect_ratio;
    return true;
}

bool MediaAssetWriterInput::openAudioEncoder(AVStream *stream, bool globalHeader)
{
    const MediaAudioSettings &settings = *m_audio;
    const AVCodec *codec = nullptr;
    if (settings.formatID == MKBETAG('l', 'p', 'c', 'm'))
        codec = avcodec_find_encoder(pcmCodec(settings));
    else if (settings.formatID == MKBETAG('a', 'a', 'c', ' '))
        codec = avcodec_find_encoder_by_name("aac");
    else if (settings.formatID == MKBETAG('a', 'l', 'a', 'c'))
        codec = avcodec_find_encoder_by_name("alac");
    if (!codec)
        return fail(AVERROR_ENCODER_NOT_FOUND, QStringLiteral("The audio format cannot be written."));
    m_encoder = avcodec_alloc_context3(codec);
    m_packet = av_packet_alloc();
    if (!m_encoder || !m_packet)
        return fail(AVERROR(ENOMEM), QStringLiteral("Out of memory."));
    m_encoder->sample_rate = settings.sampleRate;
    m_encoder->time_base = AVRational {1, settings.sampleRate};
    MediaChannelLayout::layoutForTag(
        settings.channelLayoutTag, settings.channelCount, codec, &m_encoder->ch_layout);
    m_encoder->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    if (settings.formatID == MKBETAG('a', 'l', 'a', 'c')) {
        const bool deep = settings.bitDepth > 16;
        m_encoder->sample_fmt = deep ? AV_SAMPLE_FMT_S32P : AV_SAMPLE_FMT_S16P;
        m_encoder->bits_per_raw_sample = deep ? 24 : 16;
    } else if (settings.formatID == MKBETAG('a', 'a', 'c', ' ')) {
        m_encoder->bit_rate = settings.bitRate;
    }
    if (globalHeader)
        m_encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int result = avcodec_open2(m_encoder, codec, nullptr);
    if (result < 0)
        return fail(result, QStringLiteral("The audio encoder could not be opened."));
    result = avcodec_parameters_from_context(stream->codecpar, m_encoder);
    if (result < 0)
        return fail(result, QStringLiteral("The audio track could not be created."));
    stream->time_base = m_encoder->time_base;
    m_fifo = av_audio_fifo_alloc(m_encoder->sample_fmt, m_encoder->ch_layout.nb_channels, 4096);
    if (!m_fifo)
        return fail(AVERROR(ENOMEM), QStringLiteral("Out of memory."));
    return true;
}

bool MediaAssetWriterInput::appendSample(const MediaTrackSample &sample)
{
    if (m_kind == Kind::Timecode || m_writer->status() != MediaAssetWriter::Status::Writing)
        return false;
    const MediaTime time = sample.presentationTime();
    bool appended = false;
    if (AVPacket *source = sample.packet()) {
        av_packet_unref(m_packet);
        if (av_packet_ref(m_packet, source) < 0)
            return fail(AVERROR(ENOMEM), QStringLiteral("Out of memory."));
        if (m_packet->pts != AV_NOPTS_VALUE)
            m_packet->pts -= m_sessionOffset;
        if (m_packet->dts != AV_NOPTS_VALUE)
            m_packet->dts -= m_sessionOffset;
        appended = m_writer->writePacket(this, m_packet, sample.timeBaseNum(), sample.timeBaseDen());
        av_packet_unref(m_packet);
    } else if (const AVFrame *frame = sample.frame()) {
        appended = m_kind == Kind::Video ? encodeVideo(frame) : encodeAudio(frame);
    }
    if (appended && time.isNumeric())
        m_writer->inputAppended(this, (time - m_writer->m_sessionStart).seconds());
    return appended;
}

bool MediaAssetWriterInput::encodeVideo(const AVFrame *frame)
{
    if (!m_encoder)
        return fail(AVERROR(EINVAL), QStringLiteral("Decoded pictures need an encoding input."));
    const int64_t pts = frame->pts - m_sessionOffset;
    if (frame->format == m_encoder->pix_fmt && frame->width == m_encoder->width
        && frame->height == m_encoder->height) {
        AVFrame *same = av_frame_clone(frame);
        if (!same)
            return fail(AVERROR(ENOMEM), QStringLiteral("Out of memory."));
        same->pts = pts;
        same->pict_type = AV_PICTURE_TYPE_NONE;
        const bool sent = sendFrame(same);
        av_frame_free(&same);
        return sent;
    }
    if (!prepareScaler(frame))
        return fail(AVERROR(EINVAL), QStringLiteral("The pictures could not be converted."));
    AVFrame *picture = writablePicture();
    if (!picture)
        return fail(AVERROR(ENOMEM), QStringLiteral("Out of memory."));
    // Converted in slices on several threads, as the encoder's own pipeline runs.
    const int result = sws_scale_frame(m_scaler, picture, frame);
    if (result < 0)
        return fail(result, QStringLiteral("The pictures could not be converted."));
    picture->pts = pts;
    picture->color_primaries = frame->color_primaries;
    picture->color_trc = frame->color_trc;
    picture->colorspace = frame->colorspace;
    return sendFrame(picture);
}

// A converter from the frame's size and format to the encoder's, made again when the source changes.
bool MediaAssetWriterInput::prepareScaler(const AVFrame *frame)
{
    if (m_scaler && frame->width == m_scalerWidth && frame->height == m_scalerHeight
        && frame->format == m_scalerFormat)
        return true;
    sws_freeContext(m_scaler);
    m_scaler = sws_alloc_context();
    if (!m_scaler)
        return false;
    av_opt_set_int(m_scaler, "srcw", frame->width, 0);
    av_opt_set_int(m_scaler, "srch", frame->height, 0);
    av_opt_set_int(m_scaler, "src_format", frame->format, 0);
    av_opt_set_int(m_scaler, "dstw", m_encoder->width, 0);
    av_opt_set_int(m_scaler, "dsth", m_encoder->height, 0);
    av_opt_set_int(m_scaler, "dst_format", m_encoder->pix_fmt, 0);
    av_opt_set_int(m_scaler, "sws_flags", SWS_BICUBIC, 0);
    av_opt_set_int(m_scaler, "threads", 0, 0); // one slice per processor
    if (sws_init_context(m_scaler, nullptr, nullptr) < 0) {
        sws_freeContext(m_scaler);
        m_scaler = nullptr;
        return false;
    }
    m_scalerWidth = frame->width;
    m_scalerHeight = frame->height;
    m_scalerFormat = frame->format;
    return true;
}

// A converted picture no encoder thread still reads; a new one while all are in use.
AVFrame *MediaAssetWriterInput::writablePicture()
{
    for (AVFrame *picture : m_pictures)
        if (av_frame_is_writable(picture))
            return picture;
    AVFrame *picture = av_frame_alloc();
    if (!picture)
        return nullptr;
    picture->format = m_encoder->pix_fmt;
    picture->width = m_encoder->width;
    picture->height = m_encoder->height;
    if (av_frame_get_buffer(picture, 0) < 0) {
        av_frame_free(&picture);
        return nullptr;
    }
    m_pictures.push_back(picture);
    return picture;
}

bool MediaAssetWriterInput::encodeAudio(const AVFrame *frame)
{
    if (!m_encoder)
        return fail(AVERROR(EINVAL), QStringLiteral("Decoded audio needs an encoding input."));
    if (!m_resampler) {
        AVChannelLayout in {};
        if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&in, frame->ch_layout.nb_channels);
        else
            av_channel_layout_copy(&in, &frame->ch_layout);
        const int result = swr_alloc_set_opts2(&m_resampler, &m_encoder->ch_layout, m_encoder->sample_fmt,
            m_encoder->sample_rate, &in, AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&in);
        if (result < 0 || swr_init(m_resampler) < 0)
            return fail(
                result < 0 ? result : AVERROR(EINVAL), QStringLiteral("The audio could not be converted."));
        m_nextAudioPts = av_rescale_q(
            frame->pts - m_sessionOffset, AVRational {m_sourceTbNum, m_sourceTbDen}, m_encoder->time_base);
        m_audioStarted = true;
    }
    const int capacity = swr_get_out_samples(m_resampler, frame->nb_samples);
    if (capacity > 0) {
        uint8_t **buffers = nullptr;
        int lineSize = 0;
        if (av_samples_alloc_array_and_samples(
                &buffers, &lineSize, m_encoder->ch_layout.nb_channels, capacity, m_encoder->sample_fmt, 0)
            < 0)
            return fail(AVERROR(ENOMEM), QStringLiteral("Out of memory."));
        const int converted = swr_convert(m_resampler, buffers, capacity,
            const_cast<const uint8_t **>(frame->extended_data), frame->nb_samples);
        const int written
            = converted > 0 ? av_audio_fifo_write(m_fifo, reinterpret_cast<void **>(buffers), converted) : 0;
        av_freep(&buffers[0]);
        av_freep(&buffers);
        if (converted < 0 || written < converted)
            return fail(converted < 0 ? converted : AVERROR(ENOMEM),
                QStringLiteral("The audio could not be converted."));
    }
    return flushAudioFifo(false);
}

// Hands the queued audio to the encoder in frames of its size (any size for PCM); with `all` the
// last, shorter frame too.
bool MediaAssetWriterInput::flushAudioFifo(bool all)
{
    const bool variable
        = m_encoder->frame_size <= 0 || (m_encoder->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    const int frameSize = variable ? 4096 : m_encoder->frame_size;
    while (av_audio_fifo_size(m_fifo) >= frameSize || (all && av_audio_fifo_size(m_fifo) > 0)
        || (variable && av_audio_fifo_size(m_fifo) > 0)) {
        const int count = std::min(av_audio_fifo_size(m_fifo), frameSize);
        AVFrame *out = av_frame_alloc();
        if (!out)
            return fail(AVERROR(ENOMEM), QStringLiteral("Out of memory."));
        out->nb_samples = count;
        out->format = m_encoder->sample_fmt;
        out->sample_rate = m_encoder->sample_rate;
        av_channel_layout_copy(&out->ch_layout, &m_encoder->ch_layout);
        if (av_frame_get_buffer(out, 0) < 0
            || av_audio_fifo_read(m_fifo, reinterpret_cast<void **>(out->data), count) < count) {
            av_frame_free(&out);
            return fail(AVERROR(ENOMEM), QStringLiteral("Out of memory."));
        }
        out->pts = m_nextAudioPts;
        m_nextAudioPts += count;
        const bool sent = sendFrame(out);
        av_frame_free(&out);
        if (!sent)
            return false;
    }
    return true;
}

bool MediaAssetWriterInput::sendFrame(AVFrame *frame)
{
    int result = avcodec_send_frame(m_encoder, frame);
    if (result < 0 && result != AVERROR_EOF)
        return fail(result, QStringLiteral("The encoder refused a sample."));
    for (;;) {
        result = avcodec_receive_packet(m_encoder, m_packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return true;
        if (result < 0)
            return fail(result, QStringLiteral("The encoder failed."));
        const bool written
            = m_writer->writePacket(this, m_packet, m_encoder->time_base.num, m_encoder->time_base.den);
        av_packet_unref(m_packet);
        if (!written)
            return false;
    }
}

void MediaAssetWriterInput::markAsFinished()
{
    if (isFinished())
        return;
    if (m_encoder && m_writer->status() == MediaAssetWriter::Status::Writing) {
        if (m_kind == Kind::Audio && m_resampler) {
            // What the resampler still holds, then the last short frame.
            const int capacity = swr_get_out_samples(m_resampler, 0);
            if (capacity > 0) {
                uint8_t **buffers = nullptr;
                int lineSize = 0;
                if (av_samples_alloc_array_and_samples(&buffers, &lineSize, m_encoder->ch_layout.nb_channels,
                        capacity, m_encoder->sample_fmt, 0)
                    >= 0) {
                    const int converted = swr_convert(m_resampler, buffers, capacity, nullptr, 0);
                    if (converted > 0)
                        av_audio_fifo_write(m_fifo, reinterpret_cast<void **>(buffers), converted);
                    av_freep(&buffers[0]);
                    av_freep(&buffers);
                }
            }
        }
        if (m_kind == Kind::Audio && m_fifo)
            flushAudioFifo(true);
        sendFrame(nullptr);
    }
    m_writer->inputFinished(this);
}
