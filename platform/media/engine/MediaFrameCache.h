#pragma once

#include "platform/media/engine/MediaEngineTypes.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// One decoded picture held by the cache, in the decoder's own form (YUV for most video: a third of
// the memory of the converted picture).
struct MediaCachedFrame
{
    MediaAVFramePtr frame;
    int64_t pts = 0;
    int64_t duration = 1;
    int64_t gopKey = 0;
    bool keyframeOnly = false;
    size_t bytes = 0;

    int64_t end() const { return pts + duration; }
    bool contains(int64_t ticks) const { return ticks >= pts && ticks < end(); }
};
using MediaCachedFramePtr = std::shared_ptr<const MediaCachedFrame>;

// The cache of decoded frames around the playhead, grouped by GOP (keyframe timestamp). A GOP is
// "complete" once every frame of it has been decoded; only complete GOPs are trusted for stepping.
// Memory is bounded by a budget, which the converted pictures the player holds count against too:
// whole GOPs farthest from the playhead go first, those behind the direction of play before those
// ahead. A GOP larger than what is left is "thinned": it keeps a window of frames around the
// playhead and loses the farthest, and a frame it lost is decoded again from the keyframe. Used by
// the decoder, presenter and player threads at once.
class MediaFrameCache
{
public:
    // Room for two GOPs of two seconds of 1080p pictures and the one being decoded: what stepping
    // across a GOP and reverse play need. Players of smaller pictures or shorter GOPs cache more time.
    static constexpr size_t DefaultBudget = size_t(320) << 20;
    // The least a cache of the shared budget gets however many players are open: the GOP at the
    // playhead and the picture being decoded, below which stepping would decode over and over.
    static constexpr size_t MinimumShare = size_t(48) << 20;

    // Without a budget of its own the cache takes an equal share of the shared budget, which every
    // cache of the process (every open player) divides among them.
    MediaFrameCache();
    explicit MediaFrameCache(size_t budgetBytes);
    ~MediaFrameCache();
    MediaFrameCache(const MediaFrameCache &) = delete;
    MediaFrameCache &operator=(const MediaFrameCache &) = delete;

    // Bytes of decoded frames all sharing caches hold together (default DefaultBudget); the shares
    // shrink at once, a cache over its share evicting down to it. Any thread.
    static void setSharedBudget(size_t bytes);
    static size_t sharedBudget();
    // A budget of its own (0: back to a share of the shared budget).
    void setBudget(size_t bytes);
    // The budget of its own, or its share.
    size_t budget() const;
    size_t bytes() const;
    // Bytes of converted pictures the player holds beside the cache: they count against the budget.
    void setPictureBytes(size_t bytes);
    // What the decoded frames may take: the budget less the pictures.
    size_t frameLimit() const;
    // The bytes a decoded picture takes in the cache.
    static size_t frameBytes(const AVFrame *frame);

    // Where a frame about to be inserted stands: kept (it fits, or something farther from the
    // playhead goes for it), dropped (it lies behind the playhead in the direction of play and would
    // be the first to go) or waiting (it lies ahead: it fits once the playhead moves on).
    enum class Admission { Keep, Drop, Wait };
    Admission admission(int64_t gopKey, int64_t pts, int64_t duration, size_t bytes) const;

    // Decoder thread: adds a frame (the cache takes the reference).
    void insert(MediaAVFramePtr frame, int64_t pts, int64_t duration, int64_t gopKey, bool keyframeOnly);
    // Decoder thread: the GOP whose frames come next (NoTime: none). It is never evicted while it
    // fills, so a GOP marked complete has no holes.
    void beginGroup(int64_t gopKey);
    // Decoder thread: every frame of the GOP [key, end) has been decoded; `thinned` when some were
    // not kept (dropped for the budget).
    void markComplete(int64_t gopKey, int64_t gopEnd, bool keyframeOnly, bool thinned = false);
    // The complete GOP span containing the ticks, if any; `fullOnly` ignores keyframe-only GOPs.
    // A thinned GOP is complete too: what it lost is decoded again when wanted (see lostFrame()).
    std::optional<std::pair<int64_t, int64_t>> completeSpan(int64_t ticks, bool fullOnly) const;
    // The GOP at the ticks was thinned and the frame there is one it lost.
    bool lostFrame(int64_t ticks) const;
    // The last complete GOP had to be thinned: GOPs do not fit the budget whole.
    bool gopsThinned() const;
    // Bytes of complete GOPs lying entirely ahead of the playhead in the direction (> 0 forward).
    size_t bytesAhead(int64_t playhead, int direction) const;
    // Bytes of the GOPs (complete or not) starting in [from, to).
    size_t bytesWithin(int64_t from, int64_t to) const;
    size_t lastGopBytes() const;

    // The fully decoded frame showing at the ticks.
    MediaCachedFramePtr frameContaining(int64_t ticks) const;
    // Any cached frame (keyframe-only ones too) nearest at or before the ticks (forward play) or at
    // or after them (reverse play), within `maxDistance` ticks.
    MediaCachedFramePtr nearestFrame(int64_t ticks, int direction, int64_t maxDistance) const;
    // The frame right after / before `frame`, when it is cached and adjoins it.
    MediaCachedFramePtr adjacentFrame(const MediaCachedFrame &frame, int direction) const;

    // Evicts over-budget GOPs, keeping the one at the playhead. Inserting past the budget trims
    // around the playhead last given here.
    void trim(int64_t playhead, int direction);
    void clear();
    // Contiguous spans of complete GOPs that hold all their frames, in ticks.
    std::vector<std::pair<int64_t, int64_t>> completeRanges() const;

private:
    struct Group
    {
        std::map<int64_t, std::shared_ptr<MediaCachedFrame>> frames;
        int64_t end = 0;
        bool complete = false;
        bool keyframeOnly = false;
        // Frames of it went for the budget.
        bool thinned = false;
        size_t bytes = 0;
    };
    const Group *groupContaining(int64_t ticks) const;
    void trimLocked(int64_t playhead, int direction);
    size_t budgetLocked() const;
    size_t limitLocked() const;
    // How soon the span [start, end) goes: the higher the sooner.
    static int64_t evictionScore(int64_t start, int64_t end, int64_t playhead, int direction);
    // The GOPs trimming never evicts whole: the one at the playhead and the one filling.
    bool isKeptWhole(std::map<int64_t, Group>::const_iterator it, int64_t playhead) const;
    // Every sharing cache trims to its (new) share.
    static void rebalanceShares(const MediaFrameCache *except);

    mutable std::mutex m_mutex;
    std::map<int64_t, Group> m_groups;
    size_t m_ownBudget = 0;
    size_t m_bytes = 0;
    size_t m_lastGopBytes = 0;
    bool m_lastGopThinned = false;
    size_t m_pictureBytes = 0;
    int64_t m_playhead = 0;
    int m_direction = 0;
    int64_t m_fillingKey = MediaStreamTiming::NoTime;
};
