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
    // Every frame thread holds pictures of its own beside the cache (at 4K, 12 MB each and more):
    // for pictures over 1080p their number is fixed, so that a player's memory does not grow with
    // the processor count.
    const bool large = int64_t(m_codec->width) * m_codec->height > int64_t(2048) * 1152;
    m_codec->thread_count
        = std::clamp(int(std::thread::hardware_concurrency()) + 1, 2, large ? LargeFrameThreads : 5);
    m_pool.install(m_codec);
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

bool MediaVideoDecoder::waitForRoom(const MediaGop &gop, uint64_t generation, bool keyframesOnly)
{
    std::unique_lock lock(m_mutex);
    if (m_stopping || abandoned(&gop, generation) || m_target.keyframesOnly != keyframesOnly)
        return false;
    // The frame at the playhead is missing (a seek behind what this pass has given, reverse play
    // past the window): this pass cannot give it any more.
    if (!m_cache.frameContaining(m_target.ticks))
        return false;
    m_wake.wait_for(lock, std::chrono::milliseconds(4));
    return true;
}

bool MediaVideoDecoder::nextWanted(const Target &target, int64_t *wanted)
{
    const int64_t end = m_demuxer.endTicks();
    const bool full = !target.keyframesOnly;
    const size_t budget = m_cache.frameLimit();
    const auto pastEnd = [&](int64_t t) { return end != MediaStreamTiming::NoTime && t >= end; };
    int64_t t = std::max(target.ticks, m_timing.startTicks);
    if (pastEnd(t) && end != MediaStreamTiming::NoTime)
        t = end - 1;

    auto span = m_cache.completeSpan(t, full);
    // A GOP thinned to a window around the playhead is decoded again for a frame it lost, once per
    // playhead (a frame that decoding cannot give is not asked for over and over).
    const bool lost = span && full && m_cache.lostFrame(t);
    if (!lost)
        m_windowMiss = MediaStreamTiming::NoTime;
    if (!span || (lost && t != m_windowMiss)) {
        if (lost)
            m_windowMiss = t;
        *wanted = t;
        return true;
    }
    const size_t gopBytes = std::max<size_t>(m_cache.lastGopBytes(), 1);
    const bool thinned = m_cache.gopsThinned();
    const auto roomFor = [&](int direction) {
        const size_t ahead = m_cache.bytesAhead(target.ticks, direction);
        // GOPs that do not fit whole stream through the window: the next one is decoded as soon as
        // none lies ahead, its frames coming in as the playhead makes room.
        if (thinned)
            return ahead == 0;
        return ahead + gopBytes <= budget * 55 / 100;
    };
    const auto before = [&](std::pair<int64_t, int64_t> s) {
        return target.keyframesOnly ? std::min(s.first - 1, t - target.stride) : s.first - 1;
    };
    const auto after = [&](std::pair<int64_t, int64_t> s) {
        return target.keyframesOnly ? std::max(s.second, t + target.stride) : s.second;
    };
    if (target.direction == 0) {
        // Paused: the neighbours on both sides, so steps either way come from the cache, as long as
        // they fit beside the GOP at the playhead (else the cache would evict what was just made).
        const int64_t previous = span->first - 1;
        const auto previousSpan
            = previous >= m_timing.startTicks ? m_cache.completeSpan(previous, true) : std::nullopt;
        const int64_t from = previousSpan ? previousSpan->first : span->first;
        const size_t kept = m_cache.bytesWithin(from, span->second);
        if (previous >= m_timing.startTicks && !previousSpan && kept + gopBytes <= budget) {
            *wanted = previous;
            return true;
        }
        const int64_t next = span->second;
        if (!pastEnd(next) && !m_cache.completeSpan(next, true) && kept + gopBytes <= budget) {
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
        // Idle buffers count against the budget with the cache's frames; the decoder's own
        // references and the pictures in flight have an allowance on top.
        m_pool.setCapacity(m_cache.frameLimit() + DecoderAllowance);
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
        // Paused, the passes that fill the cache around a frame just sought wait a moment first: a
        // step or seek right on its heels (a held key, a scrub) would otherwise first wait for the
        // pass nobody asked for to be abandoned.
        const bool servesJump = generation != 0 && generation != m_servedJump;
        const auto settled = m_fastPassEnded + std::chrono::milliseconds(12);
        if (!servesJump && target.direction == 0 && std::chrono::steady_clock::now() < settled) {
            std::unique_lock lock(m_mutex);
            m_wake.wait_until(lock, settled, [&] { return m_stopping || m_generation.load() != generation; });
            continue;
        }
        // The first pass after a jump goes straight to the sought frame; the next fills the GOP.
        int64_t skipBefore = MediaStreamTiming::NoTime;
        const int64_t jumpTicks = m_jumpTicks.load();
        // One fast pass per GOP: the frames it skipped are what a second jump into the same GOP
        // (the next step back, say) wants, so that one waits for the full pass instead.
        if (generation != 0 && generation != m_servedJump && !target.keyframesOnly
            && gop->contains(jumpTicks)) {
            m_servedJump = generation;
            if (!m_cache.frameContaining(jumpTicks) && gop->key != m_fastPassGop) {
                skipBefore = jumpTicks;
                m_fastPassGop = gop->key;
                ++m_fastPasses;
            }
        }
        decodeGop(*gop, target.keyframesOnly, generation, skipBefore);
        if (skipBefore != MediaStreamTiming::NoTime)
            m_fastPassEnded = std::chrono::steady_clock::now();
    }
}

void MediaVideoDecoder::decodeGop(
    const MediaGop &gop, bool keyframesOnly, uint64_t generation, int64_t skipBefore)
{
    avcodec_flush_buffers(m_codec);
    m_cache.beginGroup(gop.key);
    MediaAVFramePtr frame(av_frame_alloc());
    bool cancelled = false;
    bool skipped = false;
    // Set once the sought frame's own packet is in, and the packet of the frame shown after it
    // (the step most often made next): the decoder is then drained at once instead of being fed
    // the pictures after them, which it would otherwise wait for before giving the sought one out
    // (picture reordering and the threads' pipeline). What comes out after them is dropped.
    bool truncated = false;
    // The last picture a fast pass keeps: the one after the sought frame when this GOP holds it.
    int64_t keepUntil = skipBefore;
    // The sought frame's packet (none when this GOP's own packets do not hold it: an open GOP's
    // last pictures), and whether the GOP holds a later one.
    int64_t soughtPts = MediaStreamTiming::NoTime;
    bool hasNext = false;
    bool fedSought = false, fedNext = false;
    if (skipBefore != MediaStreamTiming::NoTime) {
        const AVPacket *sought = nullptr;
        for (const MediaPacketPtr &packet : gop.packets)
            if (packet->pts != AV_NOPTS_VALUE && packet->pts <= skipBefore
                && (!sought || packet->pts > sought->pts))
                sought = packet.get();
        const auto ends = [&](const AVPacket *packet) {
            return packet->pts + (packet->duration > 0 ? packet->duration : m_timing.frameTicks);
        };
        if (sought && skipBefore < ends(sought)) {
            soughtPts = sought->pts;
            for (const MediaPacketPtr &packet : gop.packets)
                if (packet->pts != AV_NOPTS_VALUE && packet->pts > soughtPts
                    && (!hasNext || packet->pts < keepUntil)) {
                    keepUntil = packet->pts;
                    hasNext = true;
                }
        }
    }
    // The latest picture delivered, with the duration it was given: corrected once the next
    // picture shows where it really ends.
    MediaAVFramePtr previous;
    int64_t previousDuration = 0;
    // Frames not kept for the budget (the GOP is then thinned), and a wait for room given up.
    bool dropped = false;
    bool stalled = false;
    const auto deliver = [&](const AVFrame *picture, int64_t duration) {
        if (stalled)
            return;
        // Pictures on the way to a sought frame are not kept: their buffers go straight back to
        // the pool instead of making it grow, and the full pass that follows decodes them anyway.
        if (skipBefore != MediaStreamTiming::NoTime
            && (picture->best_effort_timestamp + duration <= skipBefore
                || (truncated && picture->best_effort_timestamp > keepUntil))) {
            skipped = true; // the GOP has a hole now: not complete
            return;
        }
        MediaAVFramePtr reference(av_frame_clone(picture));
        if (!reference)
            return;
        if (!keyframesOnly) {
            const int64_t pts = picture->best_effort_timestamp;
            const size_t bytes = MediaFrameCache::frameBytes(reference.get());
            MediaFrameCache::Admission admission;
            while ((admission = m_cache.admission(gop.key, pts, duration, bytes))
                == MediaFrameCache::Admission::Wait) {
                if (!waitForRoom(gop, generation, keyframesOnly)) {
                    stalled = true;
                    return;
                }
            }
            if (admission == MediaFrameCache::Admission::Drop) {
                dropped = true;
                return;
            }
        }
        m_cache.insert(
            std::move(reference), picture->best_effort_timestamp, duration, gop.key, keyframesOnly);
        // Called under the lock, so that once setFrameHandler() returns no old handler still runs.
        std::lock_guard lock(m_mutex);
        if (m_frameHandler)
            m_frameHandler();
    };
    const auto settle = [&](int64_t nextPts) {
        if (!previous || (truncated && nextPts > keepUntil))
            return;
        const int64_t pts = previous->best_effort_timestamp;
        // Before a skipped stretch the gap is not this picture's: keep its own duration.
        if (nextPts > pts && nextPts - pts != previousDuration
            && (skipBefore == MediaStreamTiming::NoTime || pts >= skipBefore))
            deliver(previous.get(), nextPts - pts);
        previous.reset();
    };
    const auto receive = [&] {
        while (avcodec_receive_frame(m_codec, frame.get()) == 0) {
            // A picture given out without a time follows the one before it: a program stream's
            // decoder times its pictures by the packets that push them out, and the last one of a
            // GOP comes out when the decoder is drained, with no packet.
            if (frame->best_effort_timestamp == AV_NOPTS_VALUE && previous)
                frame->best_effort_timestamp = previous->best_effort_timestamp + previousDuration;
            const int64_t pts = frame->best_effort_timestamp;
            if (pts == AV_NOPTS_VALUE || pts < gop.key || pts >= gop.end) {
                av_frame_unref(frame.get());
                continue;
            }
            settle(pts);
            // Shown at once with the duration its packet gave (else the nominal one), so a sought
            // picture waits for no other.
            const int64_t duration = frame->pkt_duration > 0 ? frame->pkt_duration : m_timing.frameTicks;
            deliver(frame.get(), duration);
            previous.reset(av_frame_clone(frame.get()));
            previousDuration = duration;
            av_frame_unref(frame.get());
        }
    };
    int64_t covered = gop.key; // where the pictures of this GOP's own packets end
    // Where a packet's picture ends; NoTime without a timestamp.
    const auto endOf = [&](const AVPacket *packet) {
        return packet->pts == AV_NOPTS_VALUE
            ? MediaStreamTiming::NoTime
            : packet->pts + (packet->duration > 0 ? packet->duration : m_timing.frameTicks);
    };
    const auto feed = [&](const AVPacket *packet, bool isKey) {
        const int64_t packetEnd = endOf(packet);
        const bool skip = skipBefore != MediaStreamTiming::NoTime && packetEnd != MediaStreamTiming::NoTime
            && packetEnd <= skipBefore && !isKey;
        m_codec->skip_frame = skip ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
        skipped = skipped || skip;
        int result = avcodec_send_packet(m_codec, packet);
        if (result == AVERROR(EAGAIN)) {
            receive();
            result = avcodec_send_packet(m_codec, packet);
        }
        if (result < 0 && result != AVERROR(EAGAIN))
            BVLog::appendLog("Video decoding error in the GOP at %lld", (long long)gop.key);
        receive();
    };
    for (size_t i = 0; i < gop.packets.size(); ++i) {
        if (keyframesOnly && i > 0)
            break;
        if (m_stopping || stalled || abandoned(&gop, generation)) {
            cancelled = true;
            break;
        }
        const AVPacket *packet = gop.packets[i].get();
        if (packet->pts != AV_NOPTS_VALUE)
            covered = std::max(covered, endOf(packet));
        feed(packet, i == 0);
        // The sought frame's packet and the next one's are in: drain now (unless the GOP ends here
        // anyway).
        if (skipBefore != MediaStreamTiming::NoTime && packet->pts != AV_NOPTS_VALUE) {
            fedSought = fedSought || packet->pts == soughtPts;
            fedNext = fedNext || packet->pts == keepUntil;
            if (fedSought && (fedNext || !hasNext) && i + 1 < gop.packets.size()) {
                truncated = skipped = true;
                break;
            }
        }
    }
    // Open GOPs: the last pictures of this GOP come after the next keyframe in decoding order and
    // refer to it. Decode that keyframe and those leading pictures too (the others are dropped).
    if (!cancelled && !truncated && !keyframesOnly && covered < gop.end) {
        MediaGopPtr next
            = m_demuxer.gopContaining(gop.end, [&] { return m_stopping || abandoned(&gop, generation); });
        if (m_stopping || abandoned(&gop, generation))
            cancelled = true;
        else if (next && next->key == gop.end) {
            size_t last = 0;
            for (size_t i = 1; i < next->packets.size(); ++i)
                if (next->packets[i]->pts != AV_NOPTS_VALUE && next->packets[i]->pts < next->key)
                    last = i;
            for (size_t i = 0; last > 0 && i <= last; ++i)
                feed(next->packets[i].get(), i == 0);
        }
    }
    m_codec->skip_frame = AVDISCARD_DEFAULT;
    cancelled = cancelled || stalled;
    if (!cancelled) {
        avcodec_send_packet(m_codec, nullptr);
        receive();
        if (previous) {
            const int64_t pts = previous->best_effort_timestamp;
            settle(keyframesOnly || gop.end <= pts ? pts + previousDuration : gop.end);
        }
    }
    if (!cancelled && !stalled && !skipped) {
        m_cache.markComplete(gop.key, gop.end, keyframesOnly, dropped);
        if (gop.key == m_fastPassGop)
            m_fastPassGop = MediaStreamTiming::NoTime;
    } else
        m_cache.beginGroup(MediaStreamTiming::NoTime);
    avcodec_flush_buffers(m_codec);
}
