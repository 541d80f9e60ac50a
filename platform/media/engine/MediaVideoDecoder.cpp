#include "platform/media/engine/MediaVideoDecoder.h"

#include "support/BVLog.h"

#include <algorithm>
#include <chrono>
#include <thread>

MediaVideoDecoder::MediaVideoDecoder(
    AVStream *stream, MediaStreamTiming timing, MediaDemuxer &demuxer, MediaFrameCache &cache)
    : m_stream(stream)
    , m_timing(timing)
    , m_demuxer(demuxer)
    , m_cache(cache)
{
    m_target.ticks = timing.startTicks;
}

MediaVideoDecoder::~MediaVideoDecoder()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    ++m_generation;
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    avcodec_free_context(&m_codec);
}

bool MediaVideoDecoder::open()
{
    const AVCodec *codec = avcodec_find_decoder(m_stream->codecpar->codec_id);
    if (!codec) {
        BVLog::appendLog("No decoder for video codec %s", avcodec_get_name(m_stream->codecpar->codec_id));
        return false;
    }
    m_codec = avcodec_alloc_context3(codec);
    if (!m_codec || avcodec_parameters_to_context(m_codec, m_stream->codecpar) < 0)
        return false;
    m_codec->pkt_timebase = m_stream->time_base;
    m_codec->thread_count = std::clamp(int(std::thread::hardware_concurrency()), 1, 4);
    if (avcodec_open2(m_codec, codec, nullptr) < 0) {
        BVLog::appendLog("Cannot open the %s decoder", codec->name);
        return false;
    }
    return true;
}

void MediaVideoDecoder::start()
{
    m_thread = std::thread([this] { run(); });
}

void MediaVideoDecoder::setFrameHandler(std::function<void()> handler)
{
    std::lock_guard lock(m_mutex);
    m_frameHandler = std::move(handler);
}

void MediaVideoDecoder::setPlayhead(int64_t ticks, int direction, bool keyframesOnly, int64_t strideTicks)
{
    bool wake;
    {
        std::lock_guard lock(m_mutex);
        wake = direction != m_target.direction || keyframesOnly != m_target.keyframesOnly;
        m_target.ticks = ticks;
        m_target.direction = direction;
        m_target.keyframesOnly = keyframesOnly;
        m_target.stride = strideTicks;
    }
    if (wake)
        m_wake.notify_all();
}

void MediaVideoDecoder::jump(int64_t ticks)
{
    {
        std::lock_guard lock(m_mutex);
        // A jump wants the exact frame there, whatever the rate was.
        m_target.ticks = ticks;
        m_target.direction = 0;
        m_target.keyframesOnly = false;
        m_jumpTicks = ticks;
        m_target.generation = ++m_generation;
    }
    m_wake.notify_all();
}

bool MediaVideoDecoder::abandoned(const MediaGop *gop, uint64_t generation) const
{
    if (m_generation.load() == generation)
        return false;
    // The jump landed inside the GOP being decoded: finishing it is the fastest way there.
    return !gop || !gop->contains(m_jumpTicks.load());
}

bool MediaVideoDecoder::nextWanted(const Target &target, int64_t *wanted) const
{
    const int64_t end = m_demuxer.endTicks();
    const bool full = !target.keyframesOnly;
    const size_t budget = m_cache.budget();
    const auto pastEnd = [&](int64_t t) { return end != MediaStreamTiming::NoTime && t >= end; };
    int64_t t = std::max(target.ticks, m_timing.startTicks);
    if (pastEnd(t) && end != MediaStreamTiming::NoTime)
        t = end - 1;

    auto span = m_cache.completeSpan(t, full);
    if (!span) {
        *wanted = t;
        return true;
    }
    const size_t gopBytes = std::max<size_t>(m_cache.lastGopBytes(), 1);
    const auto roomFor = [&](int direction) {
        return m_cache.bytesAhead(target.ticks, direction) + gopBytes <= budget * 55 / 100;
    };
    const auto before = [&](std::pair<int64_t, int64_t> s) {
        return target.keyframesOnly ? std::min(s.first - 1, t - target.stride) : s.first - 1;
    };
    const auto after = [&](std::pair<int64_t, int64_t> s) {
        return target.keyframesOnly ? std::max(s.second, t + target.stride) : s.second;
    };
    if (target.direction == 0) {
        // Paused: the neighbours on both sides, so steps either way come from the cache.
        const int64_t previous = span->first - 1;
        if (previous >= m_timing.startTicks && !m_cache.completeSpan(previous, true) && roomFor(-1)) {
            *wanted = previous;
            return true;
        }
        const int64_t next = span->second;
        if (!pastEnd(next) && !m_cache.completeSpan(next, true) && roomFor(1)) {
            *wanted = next;
            return true;
        }
        return false;
    }
    const int maxGops = target.keyframesOnly ? 24 : 64;
    for (int i = 0; i < maxGops; ++i) {
        t = target.direction > 0 ? after(*span) : before(*span);
        if (pastEnd(t) || t < m_timing.startTicks)
            return false;
        span = m_cache.completeSpan(t, full);
        if (!span) {
            if (!roomFor(target.direction))
                return false;
            *wanted = t;
            return true;
        }
    }
    return false;
}

void MediaVideoDecoder::run()
{
    while (true) {
        Target target;
        {
            std::unique_lock lock(m_mutex);
            if (m_stopping)
                return;
            target = m_target;
        }
        int64_t wanted = 0;
        if (!nextWanted(target, &wanted)) {
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, std::chrono::milliseconds(10));
            continue;
        }
        const uint64_t generation = target.generation;
        MediaGopPtr gop
            = m_demuxer.gopContaining(wanted, [&] { return m_stopping || abandoned(nullptr, generation); });
        if (!gop) {
            if (m_demuxer.hasFailed()) {
                std::unique_lock lock(m_mutex);
                m_wake.wait_for(lock, std::chrono::milliseconds(100));
            }
            continue;
        }
        decodeGop(*gop, target.keyframesOnly, generation);
    }
}

void MediaVideoDecoder::decodeGop(const MediaGop &gop, bool keyframesOnly, uint64_t generation)
{
    avcodec_flush_buffers(m_codec);
    m_cache.beginGroup(gop.key);
    MediaAVFramePtr pending;
    MediaAVFramePtr frame(av_frame_alloc());
    bool cancelled = false;
    const auto deliver = [&](MediaAVFramePtr picture, int64_t duration) {
        const int64_t pts = picture->best_effort_timestamp;
        m_cache.insert(std::move(picture), pts, duration, gop.key, keyframesOnly);
        // Called under the lock, so that once setFrameHandler() returns no old handler still runs.
        std::lock_guard lock(m_mutex);
        if (m_frameHandler)
            m_frameHandler();
    };
    const auto receive = [&] {
        while (avcodec_receive_frame(m_codec, frame.get()) == 0) {
            const int64_t pts = frame->best_effort_timestamp;
            if (pts == AV_NOPTS_VALUE || pts < gop.key || pts >= gop.end) {
                av_frame_unref(frame.get());
                continue;
            }
            // Held back one picture: its duration is the distance to the next one.
            if (pending && pts > pending->best_effort_timestamp)
                deliver(std::move(pending), pts - pending->best_effort_timestamp);
            pending.reset(av_frame_clone(frame.get()));
            av_frame_unref(frame.get());
        }
    };
    for (size_t i = 0; i < gop.packets.size(); ++i) {
        if (keyframesOnly && i > 0)
            break;
        if (m_stopping || abandoned(&gop, generation)) {
            cancelled = true;
            break;
        }
        int result = avcodec_send_packet(m_codec, gop.packets[i].get());
        if (result == AVERROR(EAGAIN)) {
            receive();
            result = avcodec_send_packet(m_codec, gop.packets[i].get());
        }
        if (result < 0 && result != AVERROR(EAGAIN))
            BVLog::appendLog("Video decoding error in the GOP at %lld", (long long)gop.key);
        receive();
    }
    if (!cancelled) {
        avcodec_send_packet(m_codec, nullptr);
        receive();
        if (pending) {
            const int64_t pts = pending->best_effort_timestamp;
            const int64_t duration = keyframesOnly || gop.end <= pts ? m_timing.frameTicks : gop.end - pts;
            deliver(std::move(pending), duration);
        }
        m_cache.markComplete(gop.key, gop.end, keyframesOnly);
    } else {
        m_cache.beginGroup(MediaStreamTiming::NoTime);
    }
    avcodec_flush_buffers(m_codec);
}
