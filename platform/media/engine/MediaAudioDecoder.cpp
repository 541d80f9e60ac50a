#include "platform/media/engine/MediaAudioDecoder.h"

#include "platform/media/engine/MediaAudioOutput.h"
#include "platform/media/engine/MediaDemuxer.h"
#include "support/BVLog.h"

#include <QByteArray>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace {
constexpr int64_t QueueLimitNs = 300'000'000;
}

MediaAudioDecoder::MediaAudioDecoder(
    AVStream *stream, MediaStreamTiming primaryTiming, MediaDemuxer &demuxer, MediaAudioOutput &output)
    : m_stream(stream)
    , m_timing(primaryTiming)
    , m_demuxer(demuxer)
    , m_output(output)
{ }

MediaAudioDecoder::~MediaAudioDecoder()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    ++m_serial;
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    avfilter_graph_free(&m_graph);
    swr_free(&m_resampler);
    avcodec_free_context(&m_codec);
}

bool MediaAudioDecoder::open()
{
    const AVCodec *codec = avcodec_find_decoder(m_stream->codecpar->codec_id);
    if (!codec) {
        BVLog::appendLog("No decoder for audio codec %s", avcodec_get_name(m_stream->codecpar->codec_id));
        return false;
    }
    m_codec = avcodec_alloc_context3(codec);
    if (!m_codec || avcodec_parameters_to_context(m_codec, m_stream->codecpar) < 0)
        return false;
    m_codec->pkt_timebase = m_stream->time_base;
    if (avcodec_open2(m_codec, codec, nullptr) < 0) {
        BVLog::appendLog("Cannot open the %s decoder", codec->name);
        return false;
    }
    AVChannelLayout input {};
    if (m_codec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || m_codec->ch_layout.nb_channels == 0)
        av_channel_layout_default(&input, std::max(m_codec->ch_layout.nb_channels, 1));
    else
        av_channel_layout_copy(&input, &m_codec->ch_layout);
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    const int result = swr_alloc_set_opts2(&m_resampler, &stereo, AV_SAMPLE_FMT_FLT,
        MediaAudioOutput::SampleRate, &input, m_codec->sample_fmt, m_codec->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&input);
    if (result < 0 || swr_init(m_resampler) < 0) {
        BVLog::appendLog("Cannot resample the audio stream");
        return false;
    }
    return true;
}

void MediaAudioDecoder::start()
{
    m_thread = std::thread([this] { run(); });
}

void MediaAudioDecoder::restart(int64_t primaryTicks, double rate)
{
    {
        std::lock_guard lock(m_mutex);
        m_startTicks = primaryTicks;
        m_rate = isAudible(rate) ? rate : 0;
        m_output.flush(++m_serial);
    }
    m_wake.notify_all();
}

bool MediaAudioDecoder::configureTempo(double rate)
{
    avfilter_graph_free(&m_graph);
    m_source = m_sink = nullptr;
    if (rate == 1.0)
        return true;
    m_graph = avfilter_graph_alloc();
    const QByteArray sourceArgs
        = QByteArrayLiteral("sample_rate=48000:sample_fmt=flt:channel_layout=stereo:time_base=1/48000");
    const QByteArray tempo = QByteArray::number(rate, 'f', 6);
    AVFilterContext *atempo = nullptr;
    if (!m_graph
        || avfilter_graph_create_filter(
               &m_source, avfilter_get_by_name("abuffer"), "in", sourceArgs.constData(), nullptr, m_graph)
            < 0
        || avfilter_graph_create_filter(&atempo, avfilter_get_by_name("atempo"), "tempo",
               QByteArray("tempo=" + tempo).constData(), nullptr, m_graph)
            < 0
        || avfilter_graph_create_filter(
               &m_sink, avfilter_get_by_name("abuffersink"), "out", nullptr, nullptr, m_graph)
            < 0
        || avfilter_link(m_source, 0, atempo, 0) < 0 || avfilter_link(atempo, 0, m_sink, 0) < 0
        || avfilter_graph_config(m_graph, nullptr) < 0) {
        BVLog::appendLog("Cannot set up the tempo filter for rate %g", rate);
        avfilter_graph_free(&m_graph);
        m_source = m_sink = nullptr;
        return false;
    }
    return true;
}

void MediaAudioDecoder::emit(const float *samples, int frames, uint64_t serial, double rate)
{
    const double periodNs = 1e9 / MediaAudioOutput::SampleRate;
    if (!m_graph) {
        m_output.push(samples, frames, m_nextNs, rate, serial);
        m_nextNs += int64_t(frames * periodNs);
        return;
    }
    MediaAVFramePtr in(av_frame_alloc());
    in->format = AV_SAMPLE_FMT_FLT;
    in->sample_rate = MediaAudioOutput::SampleRate;
    in->nb_samples = frames;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    av_channel_layout_copy(&in->ch_layout, &stereo);
    if (av_frame_get_buffer(in.get(), 0) < 0)
        return;
    std::memcpy(in->data[0], samples, size_t(frames) * MediaAudioOutput::Channels * sizeof(float));
    if (av_buffersrc_add_frame(m_source, in.get()) < 0)
        return;
    MediaAVFramePtr out(av_frame_alloc());
    while (av_buffersink_get_frame(m_sink, out.get()) >= 0) {
        m_output.push(reinterpret_cast<const float *>(out->data[0]), out->nb_samples, m_nextNs, rate, serial);
        m_nextNs += int64_t(out->nb_samples * periodNs * rate);
        av_frame_unref(out.get());
    }
}

void MediaAudioDecoder::decodePacket(const AVPacket *packet, uint64_t serial, double rate)
{
    if (avcodec_send_packet(m_codec, packet) < 0)
        return;
    MediaAVFramePtr frame(av_frame_alloc());
    std::vector<float> buffer;
    while (avcodec_receive_frame(m_codec, frame.get()) == 0) {
        const int capacity = swr_get_out_samples(m_resampler, frame->nb_samples);
        buffer.resize(size_t(std::max(capacity, 0)) * MediaAudioOutput::Channels);
        uint8_t *out[1] = {reinterpret_cast<uint8_t *>(buffer.data())};
        const int frames = swr_convert(m_resampler, out, capacity,
            const_cast<const uint8_t **>(frame->extended_data), frame->nb_samples);
        int64_t frameNs = MediaStreamTiming::NoTime;
        if (frame->best_effort_timestamp != AV_NOPTS_VALUE)
            frameNs
                = av_rescale_q(frame->best_effort_timestamp, m_stream->time_base, AVRational {1, 1000000000})
                - av_rescale_q(m_timing.startTicks, m_timing.timeBase, AVRational {1, 1000000000});
        av_frame_unref(frame.get());
        if (frames <= 0)
            continue;
        if (!m_positioned) {
            // The first samples after a restart: drop what lies before the playhead.
            if (frameNs == MediaStreamTiming::NoTime)
                frameNs = m_trimNs;
            const int64_t periodNs = 1000000000 / MediaAudioOutput::SampleRate;
            const int64_t skip = std::clamp<int64_t>((m_trimNs - frameNs) / periodNs, 0, frames);
            if (skip >= frames)
                continue;
            m_nextNs = frameNs + skip * 1000000000 / MediaAudioOutput::SampleRate;
            m_positioned = true;
            emit(buffer.data() + skip * MediaAudioOutput::Channels, frames - int(skip), serial, rate);
            continue;
        }
        emit(buffer.data(), frames, serial, rate);
    }
}

void MediaAudioDecoder::run()
{
    uint64_t current = 0;
    double rate = 0;
    int64_t lastPts = MediaStreamTiming::NoTime;
    int64_t startTicks = 0;
    while (true) {
        {
            std::unique_lock lock(m_mutex);
            if (m_stopping)
                return;
            if (m_serial != current) {
                current = m_serial;
                rate = m_rate;
                startTicks = m_startTicks;
                lastPts = MediaStreamTiming::NoTime;
                avcodec_flush_buffers(m_codec);
                swr_init(m_resampler);
                if (rate != 0)
                    configureTempo(rate);
                m_trimNs = m_timing.ticksToNs(startTicks);
                m_positioned = false;
            }
            if (rate == 0 || m_output.queuedNs() > QueueLimitNs) {
                m_wake.wait_for(lock, std::chrono::milliseconds(rate == 0 ? 100 : 10));
                continue;
            }
        }
        bool endOfStream = false;
        MediaPacketPtr packet = m_demuxer.audioPacket(
            lastPts, startTicks, [&] { return m_serial != current; }, &endOfStream);
        if (!packet) {
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, std::chrono::milliseconds(endOfStream ? 100 : 5));
            continue;
        }
        lastPts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        decodePacket(packet.get(), current, rate);
    }
}
