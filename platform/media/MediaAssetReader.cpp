#include "platform/media/MediaAssetReader.h"

#include "platform/media/MediaAssetProbe.h"
#include "support/BVLog.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

namespace {

MediaTime timeInBase(int64_t value, AVRational base)
{
    if (value == AV_NOPTS_VALUE || base.num <= 0 || base.den <= 0)
        return MediaTime::invalid();
    return MediaTime(value * base.num, base.den);
}

} // namespace

MediaAssetReader::MediaAssetReader(std::shared_ptr<MediaAsset> asset, const MediaTrack &track, Output output)
    : m_asset(std::move(asset))
    , m_track(track)
    , m_output(output)
{ }

MediaAssetReader::~MediaAssetReader()
{
    close();
}

void MediaAssetReader::close()
{
    if (m_resampler)
        swr_free(&m_resampler);
    if (m_decoder)
        avcodec_free_context(&m_decoder);
    if (m_frame)
        av_frame_free(&m_frame);
    if (m_packet)
        av_packet_free(&m_packet);
    if (m_format)
        avformat_close_input(&m_format);
}

void MediaAssetReader::fail(int code, const QString &description)
{
    m_error = MediaAssetProbe::errorFromCode(code, description, m_asset ? m_asset->location() : QString());
    m_status.store(Status::Failed);
    BVLog::appendLog("Asset reader failed: %@", m_error.description());
    close();
}

bool MediaAssetReader::startReading()
{
    if (m_status.load() != Status::Unknown)
        return false;
    if (!m_asset || !m_track.isValid()) {
        fail(AVERROR(EINVAL), QStringLiteral("The reader has no track to read."));
        return false;
    }
    m_format = MediaAssetProbe::openInput(m_asset->location(), &m_cancel, &m_error);
    if (!m_format) {
        m_status.store(m_cancel.load() ? Status::Cancelled : Status::Failed);
        return false;
    }
    const int index = m_track.streamIndex();
    if (index >= int(m_format->nb_streams)) {
        fail(AVERROR_STREAM_NOT_FOUND, QStringLiteral("The track is not in the file."));
        return false;
    }
    for (unsigned i = 0; i < m_format->nb_streams; ++i)
        m_format->streams[i]->discard = int(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    m_packet = av_packet_alloc();
    m_frame = av_frame_alloc();
    if (!m_packet || !m_frame) {
        fail(AVERROR(ENOMEM), QStringLiteral("The reader could not start."));
        return false;
    }

    if (m_output == Output::LinearPCM16) {
        const AVCodecParameters *par = m_format->streams[index]->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_AUDIO) {
            fail(AVERROR(EINVAL), QStringLiteral("Only audio tracks can be read as linear PCM."));
            return false;
        }
        const AVCodec *codec = avcodec_find_decoder(par->codec_id);
        m_decoder = codec ? avcodec_alloc_context3(codec) : nullptr;
        if (!m_decoder) {
            fail(AVERROR_DECODER_NOT_FOUND, QStringLiteral("The audio cannot be decoded."));
            return false;
        }
        int result = avcodec_parameters_to_context(m_decoder, par);
        if (result >= 0) {
            m_decoder->pkt_timebase = m_format->streams[index]->time_base;
            result = avcodec_open2(m_decoder, codec, nullptr);
        }
        if (result < 0) {
            fail(result, QStringLiteral("The audio decoder could not be opened."));
            return false;
        }
        m_channels = m_decoder->ch_layout.nb_channels;
        m_sampleRate = m_decoder->sample_rate;
    }
    m_status.store(Status::Reading);
    return true;
}

void MediaAssetReader::cancelReading()
{
    m_cancel.store(true);
}

std::optional<MediaSampleBuffer> MediaAssetReader::copyNextSampleBuffer()
{
    if (m_status.load() != Status::Reading)
        return std::nullopt;
    if (m_cancel.load()) {
        m_status.store(Status::Cancelled);
        close();
        return std::nullopt;
    }
    return m_output == Output::Passthrough ? nextPacket() : nextDecoded();
}

std::optional<MediaSampleBuffer> MediaAssetReader::nextPacket()
{
    const AVStream *stream = m_format->streams[m_track.streamIndex()];
    for (;;) {
        const int result = av_read_frame(m_format, m_packet);
        if (result == AVERROR_EOF) {
            m_status.store(Status::Completed);
            close();
            return std::nullopt;
        }
        if (result < 0) {
            if (m_cancel.load()) {
                m_status.store(Status::Cancelled);
                close();
            } else {
                fail(result, QStringLiteral("The file could not be read."));
            }
            return std::nullopt;
        }
        if (m_packet->stream_index != stream->index) {
            av_packet_unref(m_packet);
            continue;
        }
        MediaSampleBuffer buffer(QByteArray(reinterpret_cast<const char *>(m_packet->data), m_packet->size),
            timeInBase(m_packet->pts, stream->time_base), timeInBase(m_packet->duration, stream->time_base),
            1);
        av_packet_unref(m_packet);
        return buffer;
    }
}

std::optional<MediaSampleBuffer> MediaAssetReader::nextDecoded()
{
    const int index = m_track.streamIndex();
    for (;;) {
        int result = avcodec_receive_frame(m_decoder, m_frame);
        if (result == 0)
            return convertFrame();
        if (result == AVERROR_EOF || (result == AVERROR(EAGAIN) && m_draining)) {
            m_status.store(Status::Completed);
            close();
            return std::nullopt;
        }
        if (result != AVERROR(EAGAIN)) {
            fail(result, QStringLiteral("The audio could not be decoded."));
            return std::nullopt;
        }
        if (m_cancel.load()) {
            m_status.store(Status::Cancelled);
            close();
            return std::nullopt;
        }
        result = av_read_frame(m_format, m_packet);
        if (result == AVERROR_EOF) {
            m_draining = true;
            avcodec_send_packet(m_decoder, nullptr);
            continue;
        }
        if (result < 0) {
            if (m_cancel.load()) {
                m_status.store(Status::Cancelled);
                close();
            } else {
                fail(result, QStringLiteral("The file could not be read."));
            }
            return std::nullopt;
        }
        if (m_packet->stream_index != index) {
            av_packet_unref(m_packet);
            continue;
        }
        result = avcodec_send_packet(m_decoder, m_packet);
        av_packet_unref(m_packet);
        // A damaged packet loses its own samples only; the rest of the track still decodes.
        if (result == AVERROR_INVALIDDATA) {
            BVLog::appendLog("Asset reader skipped a damaged audio packet");
            continue;
        }
        if (result < 0 && result != AVERROR(EAGAIN)) {
            fail(result, QStringLiteral("The audio could not be decoded."));
            return std::nullopt;
        }
    }
}

std::optional<MediaSampleBuffer> MediaAssetReader::convertFrame()
{
    if (!m_resampler) {
        const int result
            = swr_alloc_set_opts2(&m_resampler, &m_frame->ch_layout, AV_SAMPLE_FMT_S16, m_frame->sample_rate,
                &m_frame->ch_layout, AVSampleFormat(m_frame->format), m_frame->sample_rate, 0, nullptr);
        if (result < 0 || swr_init(m_resampler) < 0) {
            av_frame_unref(m_frame);
            fail(result < 0 ? result : AVERROR(EINVAL), QStringLiteral("The audio could not be converted."));
            return std::nullopt;
        }
        m_channels = m_frame->ch_layout.nb_channels;
        m_sampleRate = m_frame->sample_rate;
    }
    const int capacity = swr_get_out_samples(m_resampler, m_frame->nb_samples);
    QByteArray data(qsizetype(std::max(capacity, 0)) * m_channels * 2, Qt::Uninitialized);
    auto *out = reinterpret_cast<uint8_t *>(data.data());
    const int converted = swr_convert(m_resampler, &out, capacity,
        const_cast<const uint8_t **>(m_frame->extended_data), m_frame->nb_samples);
    const AVStream *stream = m_format->streams[m_track.streamIndex()];
    const MediaTime time = timeInBase(m_frame->best_effort_timestamp, stream->time_base);
    av_frame_unref(m_frame);
    if (converted < 0) {
        fail(converted, QStringLiteral("The audio could not be converted."));
        return std::nullopt;
    }
    data.truncate(qsizetype(converted) * m_channels * 2);
    return MediaSampleBuffer(data, time, MediaTime(converted, std::max(m_sampleRate, 1)), converted);
}
