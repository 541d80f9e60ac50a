#include "platform/media/MediaAssetTrackOutput.h"

#include "platform/media/MediaAssetProbe.h"
#include "support/BVLog.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
#include <libavutil/samplefmt.h>
}

#include <limits>

namespace {

int64_t timeInBase(const MediaTime &time, AVRational base)
{
    return av_rescale_q_rnd(time.value(), AVRational {1, time.timescale()}, base,
        AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

int64_t packetTime(const AVPacket *packet)
{
    return packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
}

int64_t decodeTime(const AVPacket *packet)
{
    return packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
}

} // namespace

MediaAssetTrackOutput::MediaAssetTrackOutput(
    std::shared_ptr<MediaAsset> asset, const MediaTrack &track, Output output)
    : m_asset(std::move(asset))
    , m_track(track)
    , m_output(output)
{ }

MediaAssetTrackOutput::~MediaAssetTrackOutput() = default;

void MediaAssetTrackOutput::fail(int code, const QString &description)
{
    m_error = MediaAssetProbe::errorFromCode(code, description, m_asset ? m_asset->location() : QString());
    m_status.store(Status::Failed);
    BVLog::appendLog("Track output failed: %@", m_error.description());
}

void MediaAssetTrackOutput::finish(Status status)
{
    m_status.store(status);
}

const AVCodecParameters *MediaAssetTrackOutput::codecParameters() const
{
    return m_source.format ? m_source.format->streams[m_source.streamIndex]->codecpar : nullptr;
}

int MediaAssetTrackOutput::timeBaseNum() const
{
    return m_source.format ? m_source.format->streams[m_source.streamIndex]->time_base.num : 0;
}

int MediaAssetTrackOutput::timeBaseDen() const
{
    return m_source.format ? m_source.format->streams[m_source.streamIndex]->time_base.den : 1;
}

int MediaAssetTrackOutput::frameRateNum() const
{
    if (!m_source.format)
        return 0;
    const AVStream *stream = m_source.format->streams[m_source.streamIndex];
    return stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate.num : stream->r_frame_rate.num;
}

int MediaAssetTrackOutput::frameRateDen() const
{
    if (!m_source.format)
        return 1;
    const AVStream *stream = m_source.format->streams[m_source.streamIndex];
    return stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate.den
                                          : std::max(stream->r_frame_rate.den, 1);
}

bool MediaAssetTrackOutput::startReading()
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
            BVLog::appendLog("Track output failed: %@", m_error.description());
        return false;
    }
    const AVStream *stream = m_source.format->streams[m_source.streamIndex];
    if (m_output == Output::Decoded && !m_source.openDecoder(*m_asset, &m_error)) {
        m_status.store(Status::Failed);
        BVLog::appendLog("Track output failed: %@", m_error.description());
        return false;
    }

    // A transport stream's clock may start at hours: the asset's times count from its first frame.
    const MediaTime assetStart = m_asset->startTime();
    m_clockOffset = assetStart.isNumeric() && assetStart > MediaTime::zero()
        ? timeInBase(assetStart, stream->time_base)
        : 0;
    m_startTs = std::numeric_limits<int64_t>::min();
    m_endTs = std::numeric_limits<int64_t>::max();
    if (m_range.isValid() && m_range.duration().isNumeric() && m_range.duration() > MediaTime::zero()) {
        m_startTs = timeInBase(m_range.start(), stream->time_base) + m_clockOffset;
        // A range shorter than the stream's tick still holds the picture it starts in.
        m_endTs = std::max(timeInBase(m_range.end(), stream->time_base) + m_clockOffset, m_startTs + 1);
    } else if (m_clockOffset > 0) {
        // What lies before the first presented frame is not part of the asset.
        m_startTs = m_clockOffset;
    }
    m_status.store(Status::Reading);
    if (m_startTs != std::numeric_limits<int64_t>::min() && !seekToRange())
        return false;
    return true;
}

// Seeks to the key frame at or before the range start. A key frame found by its decoding time
// may still be shown after the start (pictures reordered, open GOPs): then seek further back.
bool MediaAssetTrackOutput::seekToRange()
{
    const AVStream *stream = m_source.format->streams[m_source.streamIndex];
    const int64_t first = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    if (m_startTs <= first)
        return true;
    const int64_t second = av_rescale_q(1, AVRational {1, 1}, stream->time_base);
    int64_t target = m_startTs;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const bool fromStart = target <= first || attempt == 7;
        const int result = fromStart
            ? av_seek_frame(m_source.format, m_source.streamIndex, first, AVSEEK_FLAG_BACKWARD)
            : av_seek_frame(m_source.format, m_source.streamIndex, target, AVSEEK_FLAG_BACKWARD);
        if (result < 0) {
            fail(result, QStringLiteral("The reader could not seek to the start of the range."));
            return false;
        }
        if (m_source.decoder)
            avcodec_flush_buffers(m_source.decoder);
        if (!readPacket())
            return m_status.load() != Status::Failed;
        const int64_t shown = packetTime(m_source.packet);
        if (fromStart || shown == AV_NOPTS_VALUE || shown <= m_startTs)
            return true;
        av_packet_unref(m_source.packet);
        m_packetPending = false;
        target = std::min(target, shown) - std::max(second, 2 * (shown - m_startTs));
    }
    return true;
}

// Reads the next packet of the track into m_source.packet (m_packetPending set). False at the end, on
// failure or once cancelled, with the status set.
bool MediaAssetTrackOutput::readPacket()
{
    if (m_packetPending)
        return true;
    for (;;) {
        if (m_cancel.load()) {
            finish(Status::Cancelled);
            return false;
        }
        const int result = av_read_frame(m_source.format, m_source.packet);
        if (result == AVERROR_EOF) {
            finish(Status::Completed);
            return false;
        }
        if (result < 0) {
            if (m_cancel.load())
                finish(Status::Cancelled);
            else
                fail(result, QStringLiteral("The file could not be read."));
            return false;
        }
        if (m_source.packet->stream_index != m_source.streamIndex) {
            av_packet_unref(m_source.packet);
            continue;
        }
        m_packetPending = true;
        return true;
    }
}

void MediaAssetTrackOutput::cancelReading()
{
    m_cancel.store(true);
}

std::optional<MediaTrackSample> MediaAssetTrackOutput::copyNextSample()
{
    if (m_status.load() != Status::Reading)
        return std::nullopt;
    if (m_cancel.load()) {
        finish(Status::Cancelled);
        return std::nullopt;
    }
    return m_output == Output::Passthrough ? nextPassthrough() : nextDecoded();
}

std::optional<MediaTrackSample> MediaAssetTrackOutput::nextPassthrough()
{
    const AVStream *stream = m_source.format->streams[m_source.streamIndex];
    const bool video = stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
    for (;;) {
        if (!readPacket())
            return std::nullopt;
        m_packetPending = false;
        // Once a sample is decoded at or after the end, no later one is shown before it.
        if ((video ? decodeTime(m_source.packet) : packetTime(m_source.packet)) >= m_endTs) {
            av_packet_unref(m_source.packet);
            finish(Status::Completed);
            return std::nullopt;
        }
        // Audio wholly before the range is not needed; pictures before it are (for decoding).
        if (!video && m_startTs != std::numeric_limits<int64_t>::min() && m_source.packet->duration > 0
            && packetTime(m_source.packet) + m_source.packet->duration <= m_startTs) {
            av_packet_unref(m_source.packet);
            continue;
        }
        AVPacket *out = av_packet_alloc();
        if (!out) {
            fail(AVERROR(ENOMEM), QStringLiteral("Out of memory."));
            return std::nullopt;
        }
        av_packet_move_ref(out, m_source.packet);
        if (out->pts != AV_NOPTS_VALUE)
            out->pts -= m_clockOffset;
        if (out->dts != AV_NOPTS_VALUE)
            out->dts -= m_clockOffset;
        return MediaTrackSample::withPacket(out, stream->time_base.num, stream->time_base.den);
    }
}

std::optional<MediaTrackSample> MediaAssetTrackOutput::nextDecoded()
{
    for (;;) {
        int result = avcodec_receive_frame(m_source.decoder, m_source.frame);
        if (result == 0) {
            if (std::optional<MediaTrackSample> sample = acceptFrame())
                return sample;
            if (m_status.load() != Status::Reading)
                return std::nullopt;
            continue;
        }
        if (result == AVERROR_EOF) {
            finish(Status::Completed);
            return std::nullopt;
        }
        if (result != AVERROR(EAGAIN)) {
            fail(result, QStringLiteral("The track could not be decoded."));
            return std::nullopt;
        }
        if (m_draining) {
            finish(Status::Completed);
            return std::nullopt;
        }
        if (!readPacket()) {
            if (m_status.load() != Status::Completed)
                return std::nullopt;
            m_status.store(Status::Reading);
            m_draining = true;
            avcodec_send_packet(m_source.decoder, nullptr);
            continue;
        }
        result = avcodec_send_packet(m_source.decoder, m_source.packet);
        if (result == AVERROR(EAGAIN))
            continue; // the packet stays pending until the decoder has given out a frame
        m_packetPending = false;
        av_packet_unref(m_source.packet);
        if (result == AVERROR_INVALIDDATA) {
            BVLog::appendLog("Track output skipped a damaged packet");
            continue;
        }
        if (result < 0) {
            fail(result, QStringLiteral("The track could not be decoded."));
            return std::nullopt;
        }
    }
}

// Takes m_source.frame when it lies in the range (audio cut to the sample); none for a frame before it.
// A frame at or after the end completes the output.
std::optional<MediaTrackSample> MediaAssetTrackOutput::acceptFrame()
{
    const AVStream *stream = m_source.format->streams[m_source.streamIndex];
    const AVRational base = stream->time_base;
    int64_t pts = m_source.frame->best_effort_timestamp != AV_NOPTS_VALUE
        ? m_source.frame->best_effort_timestamp
        : m_source.frame->pts;
    if (pts == AV_NOPTS_VALUE) {
        av_frame_unref(m_source.frame);
        return std::nullopt;
    }
    const bool audio = stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    int64_t duration = m_source.frame->pkt_duration;
    if (audio && m_source.frame->sample_rate > 0)
        duration
            = av_rescale_q(m_source.frame->nb_samples, AVRational {1, m_source.frame->sample_rate}, base);
    else if (duration <= 0 && frameRateNum() > 0)
        duration = av_rescale_q(1, AVRational {frameRateDen(), frameRateNum()}, base);
    if (pts >= m_endTs) {
        av_frame_unref(m_source.frame);
        finish(Status::Completed);
        return std::nullopt;
    }
    // A picture belongs to the range when its display interval meets it (the frame at a time is
    // the one whose interval contains it).
    if (pts + std::max<int64_t>(duration, 1) <= m_startTs) {
        av_frame_unref(m_source.frame);
        return std::nullopt;
    }
    AVFrame *out = av_frame_alloc();
    if (!out) {
        fail(AVERROR(ENOMEM), QStringLiteral("Out of memory."));
        return std::nullopt;
    }
    const bool cut = audio && m_source.frame->sample_rate > 0
        && (pts < m_startTs || (m_endTs != std::numeric_limits<int64_t>::max() && pts + duration > m_endTs));
    if (!cut) {
        av_frame_move_ref(out, m_source.frame);
        out->best_effort_timestamp = pts - m_clockOffset;
        out->pts = pts - m_clockOffset;
        return MediaTrackSample::withFrame(out, base.num, base.den);
    }
    const AVRational sampleBase {1, m_source.frame->sample_rate};
    const int skip = pts < m_startTs ? int(av_rescale_q(m_startTs - pts, base, sampleBase)) : 0;
    int keep = m_source.frame->nb_samples - skip;
    if (m_endTs != std::numeric_limits<int64_t>::max())
        keep = std::min<int64_t>(keep, av_rescale_q(m_endTs - pts, base, sampleBase) - skip);
    if (keep <= 0) {
        av_frame_free(&out);
        av_frame_unref(m_source.frame);
        return std::nullopt;
    }
    out->format = m_source.frame->format;
    out->sample_rate = m_source.frame->sample_rate;
    out->nb_samples = keep;
    av_channel_layout_copy(&out->ch_layout, &m_source.frame->ch_layout);
    if (av_frame_get_buffer(out, 0) < 0) {
        av_frame_free(&out);
        av_frame_unref(m_source.frame);
        fail(AVERROR(ENOMEM), QStringLiteral("Out of memory."));
        return std::nullopt;
    }
    av_samples_copy(out->extended_data, m_source.frame->extended_data, 0, skip, keep,
        m_source.frame->ch_layout.nb_channels, AVSampleFormat(m_source.frame->format));
    out->pts = pts - m_clockOffset + av_rescale_q(skip, sampleBase, base);
    out->best_effort_timestamp = out->pts;
    av_frame_unref(m_source.frame);
    return MediaTrackSample::withFrame(out, base.num, base.den);
}
