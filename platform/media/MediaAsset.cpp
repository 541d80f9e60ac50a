#include "platform/media/MediaAsset.h"

#include "support/BVLog.h"
#include "support/BVMainThread.h"
#include "support/BVWorkQueue.h"

extern "C" {
#include <libavutil/error.h>
}

namespace {

// Loading shares one background queue; it lives until the process ends so that no load outlives it.
BVWorkQueue &loadingQueue()
{
    static auto *queue = new BVWorkQueue(QStringLiteral("MediaAsset loading"), 2);
    return *queue;
}

} // namespace

std::shared_ptr<MediaAsset> MediaAsset::assetWithURL(const QUrl &url)
{
    return std::shared_ptr<MediaAsset>(new MediaAsset(url));
}

MediaAsset::MediaAsset(QUrl url)
    : m_url(std::move(url))
{ }

MediaAsset::~MediaAsset() = default;

QString MediaAsset::location() const
{
    return m_url.isLocalFile() ? m_url.toLocalFile() : m_url.toString(QUrl::FullyEncoded);
}

const QStringList &MediaAsset::knownKeys()
{
    static const QStringList keys {
        QStringLiteral("tracks"),
        QStringLiteral("duration"),
        QStringLiteral("playable"),
        QStringLiteral("readable"),
        QStringLiteral("exportable"),
        QStringLiteral("commonMetadata"),
        QStringLiteral("metadata"),
        QStringLiteral("creationDate"),
        QStringLiteral("availableChapterLocales"),
    };
    return keys;
}

void MediaAsset::loadValuesAsynchronously(const QStringList &keys, std::function<void()> completion)
{
    (void)keys; // every key comes from the one probe
    std::unique_lock lock(m_mutex);
    if (m_status == KeyStatus::Loaded || m_status == KeyStatus::Failed || m_status == KeyStatus::Cancelled) {
        lock.unlock();
        if (completion)
            BVMainThread::async(std::move(completion));
        return;
    }
    if (completion)
        m_completions.push_back(std::move(completion));
    if (m_status == KeyStatus::Unknown) {
        m_status = KeyStatus::Loading;
        lock.unlock();
        startLoading();
    }
}

void MediaAsset::startLoading()
{
    std::weak_ptr<MediaAsset> weak = weak_from_this();
    loadingQueue().async([weak] {
        if (std::shared_ptr<MediaAsset> asset = weak.lock())
            asset->load();
    });
}

void MediaAsset::load()
{
    BVError error;
    std::optional<MediaAssetInfo> info = MediaAssetProbe::probe(location(), &m_cancelled, &error);
    std::vector<std::function<void()>> completions;
    {
        std::lock_guard guard(m_mutex);
        if (m_cancelled.load()) {
            m_status = KeyStatus::Cancelled;
            m_error = BVError::withDescription(
                MediaAssetProbe::errorDomain, AVERROR_EXIT, QStringLiteral("Loading was cancelled."));
        } else if (info) {
            m_info = std::move(*info);
            m_status = KeyStatus::Loaded;
        } else {
            m_status = KeyStatus::Failed;
            m_error = error;
            BVLog::appendLog("Asset failed to load: %@", error.description());
        }
        completions.swap(m_completions);
    }
    m_loadedCondition.notify_all();
    if (m_cancelled.load())
        return;
    for (std::function<void()> &completion : completions)
        BVMainThread::async(std::move(completion));
}

MediaAsset::KeyStatus MediaAsset::statusOfValue(const QString &key, BVError *error) const
{
    std::lock_guard guard(m_mutex);
    if (!knownKeys().contains(key)) {
        if (error)
            *error = BVError::withDescription(MediaAssetProbe::errorDomain, -1,
                QStringLiteral("The key \"%1\" is not a key of an asset.").arg(key));
        return KeyStatus::Failed;
    }
    if (m_status == KeyStatus::Failed && error)
        *error = m_error;
    return m_status;
}

void MediaAsset::cancelLoading()
{
    m_cancelled.store(true);
    std::lock_guard guard(m_mutex);
    m_completions.clear();
    if (m_status == KeyStatus::Unknown)
        m_status = KeyStatus::Cancelled;
}

bool MediaAsset::waitUntilLoaded()
{
    std::unique_lock lock(m_mutex);
    if (m_status == KeyStatus::Unknown) {
        // Nobody asked yet: load on this thread.
        m_status = KeyStatus::Loading;
        lock.unlock();
        load();
        lock.lock();
    }
    m_loadedCondition.wait(lock, [this] { return m_status != KeyStatus::Loading; });
    return m_status == KeyStatus::Loaded;
}

BVError MediaAsset::error() const
{
    std::lock_guard guard(m_mutex);
    return m_error;
}

QList<MediaTrack> MediaAsset::tracks()
{
    waitUntilLoaded();
    std::lock_guard guard(m_mutex);
    return m_info.tracks;
}

QList<MediaTrack> MediaAsset::tracksWithMediaType(const QString &mediaType)
{
    QList<MediaTrack> matching;
    for (const MediaTrack &track : tracks())
        if (track.mediaType() == mediaType)
            matching.append(track);
    return matching;
}

std::optional<MediaTrack> MediaAsset::trackWithTrackID(int32_t trackID)
{
    for (const MediaTrack &track : tracks())
        if (track.trackID() == trackID)
            return track;
    return std::nullopt;
}

MediaTime MediaAsset::duration()
{
    waitUntilLoaded();
    std::lock_guard guard(m_mutex);
    return m_info.duration;
}

MediaTime MediaAsset::startTime()
{
    waitUntilLoaded();
    std::lock_guard guard(m_mutex);
    return m_info.startTime;
}

bool MediaAsset::isPlayable()
{
    waitUntilLoaded();
    std::lock_guard guard(m_mutex);
    return m_info.playable;
}

bool MediaAsset::isReadable()
{
    waitUntilLoaded();
    std::lock_guard guard(m_mutex);
    return m_info.readable;
}

bool MediaAsset::isExportable()
{
    return isReadable();
}

QDateTime MediaAsset::creationDate()
{
    waitUntilLoaded();
    std::lock_guard guard(m_mutex);
    return m_info.creationDate;
}

QList<MediaMetadataItem> MediaAsset::commonMetadata()
{
    QList<MediaMetadataItem> items;
    for (const MediaMetadataItem &item : metadata())
        if (!item.commonKey().isEmpty())
            items.append(item);
    return items;
}

QList<MediaMetadataItem> MediaAsset::metadata()
{
    waitUntilLoaded();
    std::lock_guard guard(m_mutex);
    return m_info.metadata;
}

QString MediaAsset::timecodeTag()
{
    waitUntilLoaded();
    std::lock_guard guard(m_mutex);
    return m_info.timecodeTag;
}

QStringList MediaAsset::availableChapterLocales()
{
    waitUntilLoaded();
    std::lock_guard guard(m_mutex);
    return m_info.chapterLocales;
}

QList<MediaTimedMetadataGroup> MediaAsset::chapterMetadataGroups(
    const QString &locale, const QStringList &commonKeys)
{
    waitUntilLoaded();
    std::lock_guard guard(m_mutex);
    if (!m_info.chapterLocales.contains(locale))
        return {};
    QList<MediaTimedMetadataGroup> groups;
    for (const MediaTimedMetadataGroup &chapter : std::as_const(m_info.chapters)) {
        QList<MediaMetadataItem> items;
        for (const MediaMetadataItem &item : chapter.items())
            if (commonKeys.isEmpty() || commonKeys.contains(item.commonKey()))
                items.append(item);
        groups.append(MediaTimedMetadataGroup(chapter.timeRange(), items));
    }
    return groups;
}
