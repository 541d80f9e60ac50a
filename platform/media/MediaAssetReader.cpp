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

bool MediaAssetTrackSource::open(
    const MediaAsset &asset, const MediaTrack &track, const std::atomic<bool> *cancel, BVError *error)
{
    close();
    const QString location = asset.location();
    if (!track.isValid()) {
        *error = MediaAssetProbe::errorFromCode(
            AVERROR(EINVAL), QStringLiteral("The reader has no track to read."), location);
        return false;
    }
    format = MediaAssetProbe::openInput(location, cancel, error);
    if (!format)
        return false;
    streamIndex = track.streamIndex();
    if (streamIndex < 0 || streamIndex >= int(format->nb_streams)) {
        *error = MediaAssetProbe::errorFromCode(
            AVERROR_STREAM_NOT_FOUND, QStringLiteral("The track is not in the file."), location);
        close();
        return false;
    }
    for (unsigned i = 0; i < format->nb_streams; ++i)
        format->streams[i]->discard = int(i) == streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    packet = av_packet_alloc();
    frame = av_frame_alloc();
    if (!packet || !frame) {
        *error = MediaAssetProbe::errorFromCode(
            AVERROR(ENOMEM), QStringLiteral("The reader could not start."), location);
        close();
        return false;
    }
    return true;
}

bool MediaAssetTrackSource::openDecoder(const MediaAsset &asset, BVError *error)
{
    const AVStream *stream = format->streams[streamIndex];
    const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
    decoder = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!decoder) {
        *error = MediaAssetProbe::errorFromCode(
            AVERROR_DECODER_NOT_FOUND, QStringLiteral("The track cannot be decoded."), asset.location());
        return false;
    }
    int result = avcodec_parameters_to_context(decoder, stream->codecpar);
    if (result >= 0) {
        decoder->pkt_timebase = stream->time_base;
        decoder->thread_count = 0; // as many as the machine has
        result = avcodec_open2(decoder, codec, nullptr);
    }
    if (result < 0) {
        *error = MediaAssetProbe::errorFromCode(
            result, QStringLiteral("The decoder could not be opened."), asset.location());
        return false;
    }
    return true;
}

void MediaAssetTrackSource::close()
{
    if (decoder)
        avcodec_free_context(&decoder);
    if (frame)
        av_frame_free(&frame);
    if (packet)
        av_packet_free(&packet);
    if (format)
        avformat_close_input(&format);
    streamIndex = -1;
}

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
    m_source.close();
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
    if (!m_source.open(*m_asset, m_track, &m_cancel, &m_error)) {
        m_status.store(m_cancel.load() ? Status::Cancelled : Status::Failed);
        if (!m_cancel.load())
            BVLog::appendLog("Asset reader failed: %@", m_error.description());
        close();
        return false;
    }
    if (m_output == Output::LinearPCM16) {
        if (m_source.format->streams[m_source.streamIndex]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) {
            fail(AVERROR(EINVAL), QStringLiteral("Only audio tracks can be read as linear PCM."));
            return false;
        }
        if (!m_source.openDecoder(*m_asset, &m_error)) {
            m_status.store(Status::Failed);
            BVLog::appendLog("Asset reader failed: %@", m_error.description());
            close();
            return false;
        }
        m_channels = m_source.decoder->ch_layout.nb_channels;
        m_sampleRate = m_source.decoder->sample_rate;
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
    const AVStream *stream = m_source.format->streams[m_track.streamIndex()];
    for (;;) {
        const int result = av_read_frame(m_source.format, m_source.packet);
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
        if (m_source.packet->stream_index != stream->index) {
            av_packet_unref(m_source.packet);
            continue;
        }
        MediaSampleBuffer buffer(
            QByteArray(reinterpret_cast<const char *>(m_source.packet->data), m_source.packet->size),
            timeInBase(m_source.packet->pts, stream->time_base),
            timeInBase(m_source.packet->duration, stream->time_base), 1);
        av_packet_unref(m_source.packet);
        return buffer;
    }
}

std::optional<MediaSampleBuffer> MediaAssetReader::nextDecoded()
{
    const int index = m_track.streamIndex();
    for (;;) {
        int result = avcodec_receive_frame(m_source.decoder, m_source.frame);
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
        result = av_read_frame(m_source.format, m_source.packet);
        if (result == AVERROR_EOF) {
            m_draining = true;
            avcodec_send_packet(m_source.decoder, nullptr);
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
        if (m_source.packet->stream_index != index) {
            av_packet_unref(m_source.packet);
            continue;
        }
        result = avcodec_send_packet(m_source.decoder, m_source.packet);
        av_packet_unref(m_source.packet);
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
        const int result = swr_alloc_set_opts2(&m_resampler, &m_source.frame->ch_layout, AV_SAMPLE_FMT_S16,
            m_source.frame->sample_rate, &m_source.frame->ch_layout, AVSampleFormat(m_source.frame->format),
            m_source.frame->sample_rate, 0, nullptr);
        if (result < 0 || swr_init(m_resampler) < 0) {
            av_frame_unref(m_source.frame);
            fail(result < 0 ? result : AVERROR(EINVAL), QStringLiteral("The audio could not be converted."));
            return std::nullopt;
        }
        m_channels = m_source.frame->ch_layout.nb_channels;
        m_sampleRate = m_source.frame->sample_rate;
    }
    const int capacity = swr_get_out_samples(m_resampler, m_source.frame->nb_samples);
    QByteArray data(qsizetype(std::max(capacity, 0)) * m_channels * 2, Qt::Uninitialized);
    auto *out = reinterpret_cast<uint8_t *>(data.data());
    const int converted = swr_convert(m_resampler, &out, capacity,
        const_cast<const uint8_t **>(m_source.frame->extended_data), m_source.frame->nb_samples);
    const AVStream *stream = m_source.format->streams[m_track.streamIndex()];
    const MediaTime time = timeInBase(m_source.frame->best_effort_timestamp, stream->time_base);
    av_frame_unref(m_source.frame);
    if (converted < 0) {
        fail(converted, QStringLiteral("The audio could not be converted."));
        return std::nullopt;
    }
    data.truncate(qsizetype(converted) * m_channels * 2);
    return MediaSampleBuffer(data, time, MediaTime(converted, std::max(m_sampleRate, 1)), converted);
}
