#include "platform/media/engine/MediaDemuxer.h"

#include "support/BVLog.h"

#include <algorithm>
#include <chrono>

extern "C" {
#include <libavutil/error.h>
}

namespace {

QString errorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

} // namespace

MediaDemuxer::MediaDemuxer(AVFormatContext *context, int primaryStream, int audioStream,
    MediaStreamTiming timing, std::shared_ptr<std::atomic<bool>> abortFlag)
    : m_context(context)
    , m_primary(primaryStream)
    , m_audio(audioStream)
    , m_timing(timing)
    , m_abort(std::move(abortFlag))
{
    m_readAheadTicks = av_rescale_q(20, AVRational {1, 1}, m_timing.timeBase);
    m_playhead = m_timing.startTicks;
}

MediaDemuxer::~MediaDemuxer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_abort->store(true);
    m_wake.notify_all();
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    avformat_close_input(&m_context);
}

void MediaDemuxer::start()
{
    m_thread = std::thread([this] { run(); });
}

void MediaDemuxer::setChangeHandler(std::function<void()> handler)
{
    std::lock_guard lock(m_mutex);
    m_changeHandler = std::move(handler);
}

void MediaDemuxer::setPlayhead(int64_t ticks, int direction)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_playhead == ticks && m_direction == direction)
            return;
        m_playhead = ticks;
        m_direction = direction;
    }
    m_wake.notify_all();
}

void MediaDemuxer::setReadAhead(int64_t ticks, size_t bytes)
{
    {
        std::lock_guard lock(m_mutex);
        m_readAheadTicks = ticks;
        m_readAheadBytes = bytes;
        m_storeBudget = std::max(m_storeBudget, bytes * 3);
    }
    m_wake.notify_all();
}

int64_t MediaDemuxer::endTicks() const
{
    std::lock_guard lock(m_mutex);
    return m_endTicks;
}

bool MediaDemuxer::hasFailed() const
{
    std::lock_guard lock(m_mutex);
    return m_failed;
}

QString MediaDemuxer::failureReason() const
{
    std::lock_guard lock(m_mutex);
    return m_failureReason;
}

size_t MediaDemuxer::storeBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_storeBytes;
}

MediaDemuxer::BufferState MediaDemuxer::bufferState() const
{
    std::lock_guard lock(m_mutex);
    return m_state;
}

std::vector<std::pair<int64_t, int64_t>> MediaDemuxer::loadedRanges() const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::pair<int64_t, int64_t>> ranges;
    for (const auto &[key, gop] : m_gops) {
        const int64_t end = gop->complete ? gop->end : gop->lastEnd;
        if (end <= key)
            continue;
        if (!ranges.empty() && ranges.back().second >= key)
            ranges.back().second = std::max(ranges.back().second, end);
        else
            ranges.emplace_back(key, end);
    }
    return ranges;
}

int64_t MediaDemuxer::audioToPrimary(int64_t audioPts) const
{
    return av_rescale_q(audioPts, m_context->streams[m_audio]->time_base, m_timing.timeBase);
}

std::shared_ptr<MediaGop> MediaDemuxer::storedGopLocked(int64_t ticks) const
{
    auto it = m_gops.upper_bound(ticks);
    if (it == m_gops.begin())
        return nullptr;
    --it;
    return it->second->contains(ticks) ? it->second : nullptr;
}

MediaGopPtr MediaDemuxer::gopContaining(int64_t ticks, const std::function<bool()> &cancelled)
{
    ticks = std::max(ticks, m_timing.startTicks);
    std::unique_lock lock(m_mutex);
    auto request = m_requests.insert(ticks);
    m_wake.notify_all();
    MediaGopPtr result;
    while (!m_stopping && !(cancelled && cancelled())) {
        std::shared_ptr<MediaGop> gop = storedGopLocked(ticks);
        if (gop && gop->complete) {
            result = gop;
            break;
        }
        if (m_failed || (m_endTicks != MediaStreamTiming::NoTime && ticks >= m_endTicks))
            break;
        m_changed.wait_for(lock, std::chrono::milliseconds(5));
    }
    m_requests.erase(request);
    return result;
}

MediaPacketPtr MediaDemuxer::audioPacket(
    int64_t afterPts, int64_t atPrimaryTicks, const std::function<bool()> &cancelled, bool *endOfStream)
{
    if (endOfStream)
        *endOfStream = false;
    if (m_audio < 0)
        return nullptr;
    std::unique_lock lock(m_mutex);
    std::multiset<int64_t>::iterator request = m_requests.end();
    while (!m_stopping && !(cancelled && cancelled())) {
        if (afterPts == MediaStreamTiming::NoTime) {
            // The packet playing at the time: the last one starting at or before it.
            const int64_t target
                = av_rescale_q(atPrimaryTicks, m_timing.timeBase, m_context->streams[m_audio]->time_base);
            auto it = m_audioPackets.upper_bound(target);
            if (it != m_audioPackets.begin()) {
                auto previous = std::prev(it);
                if (previous->first + std::max<int64_t>(previous->second->duration, 1) > target)
                    it = previous;
            }
            if (it != m_audioPackets.end()
                && audioToPrimary(it->first) <= atPrimaryTicks + m_timing.frameTicks * 48) {
                if (request != m_requests.end())
                    m_requests.erase(request);
                return mediaPacketRef(it->second.get());
            }
        } else {
            auto it = m_audioPackets.upper_bound(afterPts);
            if (it != m_audioPackets.end()) {
                if (request != m_requests.end())
                    m_requests.erase(request);
                return mediaPacketRef(it->second.get());
            }
        }
        const int64_t wanted
            = afterPts == MediaStreamTiming::NoTime ? atPrimaryTicks : audioToPrimary(afterPts);
        bool atEnd = false;
        if (m_endTicks != MediaStreamTiming::NoTime && !m_cursorValid) {
            // Everything up to the end has been read: no later packet will come.
            std::shared_ptr<MediaGop> last = storedGopLocked(m_endTicks - 1);
            atEnd = last && wanted >= last->key;
        }
        if (m_failed || atEnd) {
            if (endOfStream)
                *endOfStream = true;
            break;
        }
        if (request == m_requests.end()) {
            request = m_requests.insert(std::max(wanted, m_timing.startTicks));
            m_wake.notify_all();
        }
        m_changed.wait_for(lock, std::chrono::milliseconds(5));
    }
    if (request != m_requests.end())
        m_requests.erase(request);
    return nullptr;
}

MediaDemuxer::Action MediaDemuxer::nextActionLocked(int64_t *target)
{
    std::optional<int64_t> wanted;
    for (int64_t request : m_requests) {
        std::shared_ptr<MediaGop> gop = storedGopLocked(request);
        if ((!gop || !gop->complete) && (m_endTicks == MediaStreamTiming::NoTime || request < m_endTicks)) {
            wanted = request;
            break;
        }
    }
    if (!wanted) {
        int64_t t = std::max(m_playhead, m_timing.startTicks);
        if (m_direction >= 0) {
            size_t ahead = 0;
            while (true) {
                if (m_endTicks != MediaStreamTiming::NoTime && t >= m_endTicks)
                    break;
                if (t - m_playhead > m_readAheadTicks || ahead > m_readAheadBytes)
                    break;
                std::shared_ptr<MediaGop> gop = storedGopLocked(t);
                if (!gop || !gop->complete) {
                    wanted = t;
                    break;
                }
                ahead += gop->bytes;
                t = gop->end;
            }
        } else {
            while (true) {
                std::shared_ptr<MediaGop> gop = storedGopLocked(t);
                if (!gop || !gop->complete) {
                    wanted = t;
                    break;
                }
                if (gop->key <= m_timing.startTicks || m_playhead - gop->key > m_readAheadTicks / 4)
                    break;
                t = gop->key - 1;
            }
        }
    }
    if (!wanted)
        return Action::Idle;
    *target = *wanted;
    // Reading on reaches the target soon: no seek.
    const int64_t reach = av_rescale_q(3, AVRational {1, 1}, m_timing.timeBase);
    if (m_cursorValid && *target - m_cursorTicks < reach) {
        if (m_fill ? *target >= m_fill->key : *target >= m_cursorTicks - m_timing.frameTicks)
            return Action::Read;
    }
    return Action::Seek;
}

void MediaDemuxer::seekLocked(std::unique_lock<std::mutex> &lock, int64_t target)
{
    // An unfinished GOP is useless once the read position moves.
    if (m_fill && !m_fill->complete) {
        m_storeBytes -= m_fill->bytes;
        m_gops.erase(m_fill->key);
    }
    m_fill.reset();
    m_seekTarget = target;
    m_seekPosition = target;
    // Reading backwards: start a second earlier, so one seek brings several short GOPs.
    if (m_direction < 0)
        m_seekPosition
            = std::max(m_timing.startTicks, target - av_rescale_q(1, AVRational {1, 1}, m_timing.timeBase));
    m_seekAttempts = 0;
    lock.unlock();
    const int result = av_seek_frame(m_context, m_primary, m_seekPosition, AVSEEK_FLAG_BACKWARD);
    lock.lock();
    if (result < 0) {
        // Some containers only seek by bytes or from the start: reading from the start still works.
        BVLog::appendLog("Demuxer seek to %lld failed: %@", (long long)target, errorText(result));
        lock.unlock();
        av_seek_frame(m_context, -1, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_BYTE);
        lock.lock();
    }
    m_seekPending = true;
    m_cursorValid = true;
    m_cursorTicks = target;
}

void MediaDemuxer::closeFillLocked(int64_t end)
{
    if (!m_fill)
        return;
    m_fill->end = std::max(end, m_fill->key + 1);
    m_fill->complete = true;
    m_fill.reset();
}

// A source that cannot jump to a position (a server without byte ranges) cannot give what lies
// behind the read position, such as the pictures before an index at the end: said after the reason.
QString MediaDemuxer::unseekableSourceText() const
{
    if (!m_context->pb || (m_context->pb->seekable & AVIO_SEEKABLE_NORMAL))
        return {};
    return QStringLiteral(
        " The server does not answer byte ranges, so the player cannot go back for the parts "
        "of the movie it needs (such as an index kept at its end).");
}

void MediaDemuxer::handlePacketLocked(std::unique_lock<std::mutex> &lock, int result, AVPacket *packet)
{
    if (result < 0 && result != AVERROR_EOF && avio_feof(m_context->pb) && m_gops.empty()
        && !m_abort->load()) {
        // The source ended before a single picture (or sound) could be read: a movie whose index
        // is at its end, downloaded from a server that cannot go back to the pictures before it.
        m_failed = true;
        m_failureReason = QStringLiteral("No picture or sound arrived before the stream ended (%1).")
                              .arg(errorText(result));
        m_failureReason += unseekableSourceText();
        BVLog::appendLog("Demuxer gave up: %@", m_failureReason);
        if (m_changeHandler)
            m_changeHandler();
        return;
    }
    if (result == AVERROR_EOF || (result < 0 && avio_feof(m_context->pb))) {
        int64_t end = m_fill ? m_fill->lastEnd : m_cursorTicks;
        if (m_fill)
            closeFillLocked(end);
        if (!m_gops.empty())
            end = std::max(end, m_gops.rbegin()->second->complete ? m_gops.rbegin()->second->end : end);
        m_endTicks = end;
        m_cursorValid = false;
        m_consecutiveErrors = 0;
        return;
    }
    if (result < 0) {
        if (m_abort->load())
            return;
        ++m_consecutiveErrors;
        BVLog::appendLog("Demuxer read failed: %@", errorText(result));
        m_cursorValid = false;
        if (m_consecutiveErrors > 20) {
            m_failed = true;
            m_failureReason
                = QStringLiteral("Reading it failed again and again (%1).").arg(errorText(result));
            m_failureReason += unseekableSourceText();
            BVLog::appendLog("Demuxer gave up: %@", m_failureReason);
            if (m_changeHandler)
                m_changeHandler();
            return;
        }
        // Give a stalled connection a moment before the next attempt (which seeks again).
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        lock.lock();
        return;
    }
    m_consecutiveErrors = 0;
    const int stream = packet->stream_index;
    // A packet without a presentation time (program streams leave it out of most) is placed by its
    // decoding time and the reordering delay of the last packet of its stream that had both.
    if (stream == m_primary && packet->pts != AV_NOPTS_VALUE && packet->dts != AV_NOPTS_VALUE)
        m_reorderDelay = packet->pts - packet->dts;
    const int64_t pts = packet->pts != AV_NOPTS_VALUE          ? packet->pts
        : packet->dts != AV_NOPTS_VALUE && stream == m_primary ? packet->dts + m_reorderDelay
                                                               : packet->dts;
    if (pts == AV_NOPTS_VALUE)
        return;
    if (stream == m_audio && !m_audioPackets.count(pts)) {
        MediaPacketPtr copy = mediaPacketRef(packet);
        if (copy) {
            m_storeBytes += size_t(copy->size);
            m_audioPackets.emplace(pts, std::move(copy));
        }
    }
    if (stream != m_primary)
        return;

    const bool key = packet->flags & AV_PKT_FLAG_KEY;
    if (m_seekPending) {
        if (!key)
            return;
        // Containers seek by decode time: a keyframe shown after the target cannot start its GOP.
        if (pts > m_seekTarget && pts > m_timing.startTicks && m_seekAttempts < 6) {
            ++m_seekAttempts;
            const bool fromFirst = m_seekPosition <= m_timing.startTicks;
            const int64_t step = av_rescale_q(1, AVRational {1, 1}, m_timing.timeBase) << m_seekAttempts;
            m_seekPosition = std::max(m_timing.startTicks, m_seekPosition - step);
            lock.unlock();
            // Already asked for the first timestamp and still past it (a transport stream's
            // timestamp search misses its first GOP): read from the first byte instead.
            if (fromFirst && !(m_context->iformat->flags & AVFMT_NO_BYTE_SEEK))
                av_seek_frame(m_context, -1, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_BYTE);
            else
                av_seek_frame(m_context, m_primary, m_seekPosition, AVSEEK_FLAG_BACKWARD);
            lock.lock();
            return;
        }
        m_seekPending = false;
    }
    if (key) {
        if (m_fill)
            closeFillLocked(pts);
        auto existing = m_gops.find(pts);
        if (existing != m_gops.end() && existing->second->complete) {
            m_fill.reset(); // already stored: skip to the next keyframe
        } else {
            if (existing != m_gops.end()) {
                m_storeBytes -= existing->second->bytes;
                m_gops.erase(existing);
            }
            m_fill = std::make_shared<MediaGop>();
            m_fill->key = pts;
            m_fill->lastEnd = pts;
            m_gops.emplace(pts, m_fill);
        }
    }
    m_cursorTicks = std::max(m_cursorTicks, pts);
    if (!m_fill)
        return;
    MediaPacketPtr copy = mediaPacketRef(packet);
    if (!copy)
        return;
    m_fill->lastEnd = std::max(m_fill->lastEnd, pts + std::max<int64_t>(packet->duration, 1));
    m_fill->bytes += size_t(copy->size);
    m_storeBytes += size_t(copy->size);
    m_fill->packets.push_back(std::move(copy));
}

void MediaDemuxer::evictLocked()
{
    while (m_storeBytes > m_storeBudget && m_gops.size() > 1) {
        auto victim = m_gops.end();
        int64_t worst = -1;
        for (auto it = m_gops.begin(); it != m_gops.end(); ++it) {
            const MediaGop &gop = *it->second;
            if (!gop.complete || gop.contains(m_playhead))
                continue;
            const bool behind = m_direction >= 0 ? gop.end <= m_playhead : gop.key > m_playhead;
            const int64_t distance = gop.end <= m_playhead ? m_playhead - gop.end : gop.key - m_playhead;
            const int64_t score = behind ? distance * 2 + 1 : distance;
            if (score > worst) {
                worst = score;
                victim = it;
            }
        }
        if (victim == m_gops.end())
            break;
        m_storeBytes -= victim->second->bytes;
        const int64_t from = victim->second->key;
        const int64_t to = victim->second->end;
        m_gops.erase(victim);
        // Audio packets of the evicted span go too, unless a neighbouring GOP is still stored.
        for (auto it = m_audioPackets.begin(); it != m_audioPackets.end();) {
            const int64_t t = audioToPrimary(it->first);
            if (t >= from && t < to && !storedGopLocked(t)) {
                m_storeBytes -= size_t(it->second->size);
                it = m_audioPackets.erase(it);
            } else {
                ++it;
            }
        }
    }
}

void MediaDemuxer::updateStateLocked(bool idle)
{
    BufferState state;
    const int64_t second = av_rescale_q(1, AVRational {1, 1}, m_timing.timeBase);
    const bool ended = m_endTicks != MediaStreamTiming::NoTime;
    int64_t t = std::max(m_playhead, m_timing.startTicks);
    if (ended && t >= m_endTicks)
        t = m_endTicks - 1;
    std::shared_ptr<MediaGop> gop = storedGopLocked(t);
    state.empty = !gop;
    int64_t reach = t;
    if (m_direction >= 0) {
        while (gop) {
            reach = gop->complete ? gop->end : gop->lastEnd;
            if (!gop->complete)
                break;
            gop = storedGopLocked(reach);
        }
        state.likelyToKeepUp = !state.empty && (reach - t >= 2 * second || (ended && reach >= m_endTicks));
    } else {
        while (gop && gop->complete) {
            reach = gop->key;
            gop = reach > m_timing.startTicks ? storedGopLocked(reach - 1) : nullptr;
        }
        state.likelyToKeepUp = !state.empty && (t - reach >= 2 * second || reach <= m_timing.startTicks);
    }
    state.full = idle && !state.empty;
    const bool changed = !(state == m_state) || m_gops.size() != m_reportedGops;
    m_state = state;
    m_reportedGops = m_gops.size();
    if (changed && m_changeHandler)
        m_changeHandler();
}

void MediaDemuxer::run()
{
    MediaPacketPtr packet(av_packet_alloc());
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        if (m_failed) {
            updateStateLocked(false);
            m_wake.wait_for(lock, std::chrono::milliseconds(100));
            continue;
        }
        int64_t target = 0;
        const Action action = nextActionLocked(&target);
        if (action == Action::Idle) {
            updateStateLocked(true);
            m_wake.wait_for(lock, std::chrono::milliseconds(50));
            continue;
        }
        if (action == Action::Seek)
            seekLocked(lock, target);
        // A few packets per decision keeps requests answered quickly without deciding per packet.
        for (int i = 0; i < 16 && !m_stopping; ++i) {
            lock.unlock();
            const int result = av_read_frame(m_context, packet.get());
            lock.lock();
            handlePacketLocked(lock, result, packet.get());
            av_packet_unref(packet.get());
            if (result < 0 || (!m_fill && !m_seekPending))
                break;
            if (!m_requests.empty() && m_fill && m_fill->packets.size() == 1)
                break; // a GOP just closed: a waiting decoder may want a different one
        }
        evictLocked();
        m_changed.notify_all();
        updateStateLocked(false);
    }
}
