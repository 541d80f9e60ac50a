#pragma once

#include "platform/media/engine/MediaEngineTypes.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

struct SwrContext;
struct AVFilterGraph;
struct AVFilterContext;
class MediaAudioOutput;
class MediaDemuxer;

// The audio decode thread: decodes the audio stream from the playhead, resamples it to the output
// format and, at rates from 0.5 to 2 other than 1, changes its tempo with the pitch kept (atempo).
// At other rates and in reverse the sound is muted and nothing is decoded.
class MediaAudioDecoder
{
public:
    static constexpr double MinimumAudibleRate = 0.5;
    static constexpr double MaximumAudibleRate = 2.0;
    static bool isAudible(double rate) { return rate >= MinimumAudibleRate && rate <= MaximumAudibleRate; }

    MediaAudioDecoder(
        AVStream *stream, MediaStreamTiming primaryTiming, MediaDemuxer &demuxer, MediaAudioOutput &output);
    ~MediaAudioDecoder();
    MediaAudioDecoder(const MediaAudioDecoder &) = delete;
    MediaAudioDecoder &operator=(const MediaAudioDecoder &) = delete;

    bool open();
    void start();
    // Starts over at the playhead (primary stream ticks) with the rate; 0 or an inaudible rate stops.
    void restart(int64_t primaryTicks, double rate);

private:
    void run();
    bool configureTempo(double rate);
    void emit(const float *samples, int frames, uint64_t serial, double rate);
    void decodePacket(const AVPacket *packet, uint64_t serial, double rate);

    AVStream *m_stream;
    MediaStreamTiming m_timing;
    MediaDemuxer &m_demuxer;
    MediaAudioOutput &m_output;
    AVCodecContext *m_codec = nullptr;
    SwrContext *m_resampler = nullptr;
    AVFilterGraph *m_graph = nullptr;
    AVFilterContext *m_source = nullptr;
    AVFilterContext *m_sink = nullptr;
    std::thread m_thread;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::atomic<uint64_t> m_serial {0};
    int64_t m_startTicks = 0;
    double m_rate = 0;

    // Decode-thread state for the current serial.
    int64_t m_trimNs = 0; // samples before this media time are dropped
    int64_t m_nextNs = 0; // media time of the next sample handed to the output
    bool m_positioned = false;
};
