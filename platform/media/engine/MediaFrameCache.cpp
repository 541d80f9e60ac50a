#include "platform/media/engine/MediaFrameCache.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <set>

namespace {

// The caches dividing the shared budget. Lock order: this registry, then a cache's own mutex.
struct SharedBudget
{
    std::mutex mutex;
    std::set<MediaFrameCache *> sharers;
    std::atomic<size_t> total {MediaFrameCache::DefaultBudget};
    std::atomic<size_t> count {0};
};

SharedBudget &sharedBudgetState()
{
    // Never destroyed: a cache may outlive the other statics.
    static SharedBudget *state = new SharedBudget;
    return *state;
}

} // namespace

MediaFrameCache::MediaFrameCache()
{
    SharedBudget &shared = sharedBudgetState();
    {
        std::lock_guard lock(shared.mutex);
        shared.sharers.insert(this);
        shared.count = shared.sharers.size();
    }
    rebalanceShares(this);
}

MediaFrameCache::MediaFrameCache(size_t budgetBytes)
    : m_ownBudget(std::max<size_t>(budgetBytes, 1))
{ }

MediaFrameCache::~MediaFrameCache()
{
    SharedBudget &shared = sharedBudgetState();
    std::lock_guard lock(shared.mutex);
    if (shared.sharers.erase(this))
        shared.count = shared.sharers.size();
}

void MediaFrameCache::setSharedBudget(size_t bytes)
{
    sharedBudgetState().total = bytes;
    rebalanceShares(nullptr);
}

size_t MediaFrameCache::sharedBudget()
{
    return sharedBudgetState().total;
}

void MediaFrameCache::rebalanceShares(const MediaFrameCache *except)
{
    SharedBudget &shared = sharedBudgetState();
    std::lock_guard registry(shared.mutex);
    for (MediaFrameCache *cache : shared.sharers) {
        if (cache == except)
            continue;
        std::lock_guard lock(cache->m_mutex);
        cache->trimLocked(cache->m_playhead, cache->m_direction);
    }
}

void MediaFrameCache::setBudget(size_t bytes)
{
    SharedBudget &shared = sharedBudgetState();
    {
        std::lock_guard registry(shared.mutex);
        if (bytes == 0)
            shared.sharers.insert(this);
        else
            shared.sharers.erase(this);
        shared.count = shared.sharers.size();
        std::lock_guard lock(m_mutex);
        m_ownBudget = bytes;
        trimLocked(m_playhead, m_direction);
    }
    rebalanceShares(this);
}

size_t MediaFrameCache::budget() const
{
    std::lock_guard lock(m_mutex);
    return budgetLocked();
}

size_t MediaFrameCache::budgetLocked() const
{
    if (m_ownBudget)
        return m_ownBudget;
    const SharedBudget &shared = sharedBudgetState();
    const size_t count = std::max<size_t>(shared.count.load(), 1);
    return std::max(shared.total.load() / count, MinimumShare);
}

size_t MediaFrameCache::bytes() const
{
    std::lock_guard lock(m_mutex);
    return m_bytes;
}

void MediaFrameCache::setPictureBytes(size_t bytes)
{
    std::lock_guard lock(m_mutex);
    if (bytes == m_pictureBytes)
        return;
    m_pictureBytes = bytes;
    trimLocked(m_playhead, m_direction);
}

size_t MediaFrameCache::frameLimit() const
{
    std::lock_guard lock(m_mutex);
    return limitLocked();
}

size_t MediaFrameCache::limitLocked() const
{
    const size_t budget = budgetLocked();
    return budget > m_pictureBytes ? budget - m_pictureBytes : 0;
}

bool MediaFrameCache::gopsThinned() const
{
    std::lock_guard lock(m_mutex);
    return m_lastGopThinned;
}

size_t MediaFrameCache::lastGopBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_lastGopBytes;
}

size_t MediaFrameCache::frameBytes(const AVFrame *frame)
{
    size_t total = sizeof(MediaCachedFrame);
    for (AVBufferRef *buffer : frame->buf)
        if (buffer)
            total += buffer->size;
    return total;
}

void MediaFrameCache::insert(
    MediaAVFramePtr frame, int64_t pts, int64_t duration, int64_t gopKey, bool keyframeOnly)
{
    auto entry = std::make_shared<MediaCachedFrame>();
    entry->bytes = frameBytes(frame.get());
    entry->frame = std::move(frame);
    entry->pts = pts;
    entry->duration = std::max<int64_t>(duration, 1);
    entry->gopKey = gopKey;
    entry->keyframeOnly = keyframeOnly;

    std::lock_guard lock(m_mutex);
    Group &group = m_groups[gopKey];
    auto existing = group.frames.find(pts);
    if (existing != group.frames.end()) {
        group.bytes -= existing->second->bytes;
        m_bytes -= existing->second->bytes;
    }
    group.bytes += entry->bytes;
    m_bytes += entry->bytes;
    group.frames[pts] = std::move(entry);
    if (m_bytes > budgetLocked())
        trimLocked(m_playhead, m_direction);
}

void MediaFrameCache::beginGroup(int64_t gopKey)
{
    std::lock_guard lock(m_mutex);
    m_fillingKey = gopKey;
    // Decoded again for frames it lost: complete once more when every frame has been through.
    auto it = m_groups.find(gopKey);
    if (it != m_groups.end() && it->second.thinned) {
        it->second.complete = false;
        it->second.thinned = false;
    }
}

void MediaFrameCache::markComplete(int64_t gopKey, int64_t gopEnd, bool keyframeOnly, bool thinned)
{
    std::lock_guard lock(m_mutex);
    m_fillingKey = MediaStreamTiming::NoTime;
    auto it = m_groups.find(gopKey);
    if (it == m_groups.end())
        return;
    it->second.complete = true;
    it->second.thinned = it->second.thinned || thinned;
    it->second.keyframeOnly = keyframeOnly;
    it->second.end = gopEnd;
    // A full decode of a GOP supersedes keyframe-only pictures of it.
    if (!keyframeOnly) {
        for (auto f = it->second.frames.begin(); f != it->second.frames.end();) {
            if (f->second->keyframeOnly) {
                it->second.bytes -= f->second->bytes;
                m_bytes -= f->second->bytes;
                f = it->second.frames.erase(f);
            } else {
                ++f;
            }
        }
        m_lastGopBytes = it->second.bytes;
        m_lastGopThinned = it->second.thinned;
    }
    trimLocked(m_playhead, m_direction);
}

const MediaFrameCache::Group *MediaFrameCache::groupContaining(int64_t ticks) const
{
    auto it = m_groups.upper_bound(ticks);
    if (it == m_groups.begin())
        return nullptr;
    --it;
    const Group &group = it->second;
    if (group.complete)
        return ticks < group.end ? &group : nullptr;
    if (group.frames.empty())
        return nullptr;
    return ticks < group.frames.rbegin()->second->end() ? &group : nullptr;
}

std::optional<std::pair<int64_t, int64_t>> MediaFrameCache::completeSpan(int64_t ticks, bool fullOnly) const
{
    std::lock_guard lock(m_mutex);
    auto it = m_groups.upper_bound(ticks);
    if (it == m_groups.begin())
        return std::nullopt;
    --it;
    if (!it->second.complete || ticks >= it->second.end || (fullOnly && it->second.keyframeOnly))
        return std::nullopt;
    return std::make_pair(it->first, it->second.end);
}

bool MediaFrameCache::lostFrame(int64_t ticks) const
{
    std::lock_guard lock(m_mutex);
    const Group *group = groupContaining(ticks);
    if (!group || !group->thinned)
        return false;
    auto it = group->frames.upper_bound(ticks);
    return it == group->frames.begin() || !std::prev(it)->second->contains(ticks)
        || std::prev(it)->second->keyframeOnly;
}

int64_t MediaFrameCache::evictionScore(int64_t start, int64_t end, int64_t playhead, int direction)
{
    const bool behindForward = end <= playhead;
    const int64_t distance = behindForward ? playhead - end : std::max<int64_t>(start - playhead, 0);
    const bool behind = (direction > 0 && behindForward) || (direction < 0 && !behindForward);
    // Behind the direction of play counts double: it is needed again only after a turn.
    return behind ? distance * 2 + 1 : distance;
}

bool MediaFrameCache::isKeptWhole(std::map<int64_t, Group>::const_iterator it, int64_t playhead) const
{
    if (it->first == m_fillingKey)
        return true;
    auto atPlayhead = m_groups.upper_bound(playhead);
    if (atPlayhead != m_groups.begin())
        --atPlayhead;
    return it == atPlayhead;
}

MediaFrameCache::Admission MediaFrameCache::admission(
    int64_t gopKey, int64_t pts, int64_t duration, size_t bytes) const
{
    std::lock_guard lock(m_mutex);
    const int64_t end = pts + std::max<int64_t>(duration, 1);
    if (m_bytes + bytes <= limitLocked() || (pts <= m_playhead && m_playhead < end))
        return Admission::Keep;
    // A frame decoded again takes the place of its former self.
    if (auto group = m_groups.find(gopKey); group != m_groups.end() && group->second.frames.count(pts))
        return Admission::Keep;
    const int64_t score = evictionScore(pts, end, m_playhead, m_direction);
    for (auto it = m_groups.begin(); it != m_groups.end(); ++it) {
        if (it->second.frames.empty())
            continue;
        // Whole GOPs away from the playhead go before any frame of the one at it.
        if (!isKeptWhole(it, m_playhead))
            return Admission::Keep;
        for (const auto &[framePts, frame] : it->second.frames)
            if (framePts != pts && evictionScore(frame->pts, frame->end(), m_playhead, m_direction) > score)
                return Admission::Keep;
    }
    const bool ahead = m_direction >= 0 ? pts >= m_playhead : end <= m_playhead;
    return ahead ? Admission::Wait : Admission::Drop;
}

size_t MediaFrameCache::bytesAhead(int64_t playhead, int direction) const
{
    std::lock_guard lock(m_mutex);
    size_t total = 0;
    for (const auto &[key, group] : m_groups) {
        if (!group.complete)
            continue;
        if ((direction >= 0 && key > playhead) || (direction < 0 && group.end <= playhead))
            total += group.bytes;
    }
    return total;
}

size_t MediaFrameCache::bytesWithin(int64_t from, int64_t to) const
{
    std::lock_guard lock(m_mutex);
    size_t total = 0;
    for (auto it = m_groups.lower_bound(from); it != m_groups.end() && it->first < to; ++it)
        total += it->second.bytes;
    return total;
}

MediaCachedFramePtr MediaFrameCache::frameContaining(int64_t ticks) const
{
    std::lock_guard lock(m_mutex);
    const Group *group = groupContaining(ticks);
    if (!group)
        return nullptr;
    auto it = group->frames.upper_bound(ticks);
    if (it == group->frames.begin())
        return nullptr;
    --it;
    if (it->second->keyframeOnly || !it->second->contains(ticks))
        return nullptr;
    return it->second;
}

MediaCachedFramePtr MediaFrameCache::nearestFrame(int64_t ticks, int direction, int64_t maxDistance) const
{
    std::lock_guard lock(m_mutex);
    MediaCachedFramePtr best;
    int64_t bestDistance = maxDistance + 1;
    for (const auto &[key, group] : m_groups) {
        if (group.frames.empty())
            continue;
        if (direction >= 0) {
            auto it = group.frames.upper_bound(ticks);
            if (it == group.frames.begin())
                continue;
            --it;
            const int64_t distance = it->second->contains(ticks) ? 0 : ticks - it->second->pts;
            if (distance < bestDistance) {
                bestDistance = distance;
                best = it->second;
            }
        } else {
            auto it = group.frames.lower_bound(ticks);
            if (it != group.frames.begin() && std::prev(it)->second->contains(ticks))
                --it;
            if (it == group.frames.end())
                continue;
            const int64_t distance = it->second->contains(ticks) ? 0 : it->second->pts - ticks;
            if (distance < bestDistance) {
                bestDistance = distance;
                best = it->second;
            }
        }
    }
    return best;
}

MediaCachedFramePtr MediaFrameCache::adjacentFrame(const MediaCachedFrame &frame, int direction) const
{
    if (direction > 0) {
        MediaCachedFramePtr next = frameContaining(frame.end());
        return next && next->pts == frame.end() ? next : nullptr;
    }
    MediaCachedFramePtr previous = frameContaining(frame.pts - 1);
    return previous && previous->end() == frame.pts ? previous : nullptr;
}

void MediaFrameCache::trim(int64_t playhead, int direction)
{
    std::lock_guard lock(m_mutex);
    m_playhead = playhead;
    m_direction = direction;
    trimLocked(playhead, direction);
}

void MediaFrameCache::trimLocked(int64_t playhead, int direction)
{
    const size_t limit = limitLocked();
    while (m_bytes > limit && m_groups.size() > 1) {
        auto victim = m_groups.end();
        int64_t worst = -1;
        for (auto it = m_groups.begin(); it != m_groups.end(); ++it) {
            if (isKeptWhole(it, playhead))
                continue;
            const Group &group = it->second;
            const int64_t end = group.complete
                ? group.end
                : (group.frames.empty() ? it->first : group.frames.rbegin()->second->end());
            const int64_t score = evictionScore(it->first, end, playhead, direction);
            if (score > worst) {
                worst = score;
                victim = it;
            }
        }
        if (victim == m_groups.end())
            break;
        m_bytes -= victim->second.bytes;
        m_groups.erase(victim);
    }
    // Still over: the GOPs left keep a window of frames around the playhead.
    while (m_bytes > limit) {
        Group *victimGroup = nullptr;
        auto victim = std::map<int64_t, std::shared_ptr<MediaCachedFrame>>::iterator();
        int64_t worst = -1;
        for (auto &[key, group] : m_groups) {
            for (auto it = group.frames.begin(); it != group.frames.end(); ++it) {
                const MediaCachedFrame &frame = *it->second;
                if (frame.contains(playhead))
                    continue;
                const int64_t score = evictionScore(frame.pts, frame.end(), playhead, direction);
                if (score > worst) {
                    worst = score;
                    victim = it;
                    victimGroup = &group;
                }
            }
        }
        if (!victimGroup)
            break;
        victimGroup->bytes -= victim->second->bytes;
        m_bytes -= victim->second->bytes;
        victimGroup->frames.erase(victim);
        victimGroup->thinned = true;
    }
}

void MediaFrameCache::clear()
{
    std::lock_guard lock(m_mutex);
    m_groups.clear();
    m_bytes = 0;
}

std::vector<std::pair<int64_t, int64_t>> MediaFrameCache::completeRanges() const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::pair<int64_t, int64_t>> ranges;
    for (const auto &[key, group] : m_groups) {
        if (!group.complete || group.thinned)
            continue;
        if (!ranges.empty() && ranges.back().second == key)
            ranges.back().second = group.end;
        else
            ranges.emplace_back(key, group.end);
    }
    return ranges;
}
