#pragma once

#include "platform/media/MediaAssetProbe.h"
#include "platform/media/MediaMetadataItem.h"
#include "platform/media/MediaTime.h"
#include "platform/media/MediaTimedMetadataGroup.h"
#include "platform/media/MediaTrack.h"
#include "support/BVError.h"

#include <QDateTime>
#include <QList>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// A movie or audio file, local or at an "http"/"https" address, as the player sees it before it
// plays: tracks, duration, metadata, chapters and whether it can be read and played. Loading is
// done once for all keys, on a shared background queue; answers are then plain values that any
// thread may read. An accessor used before loading finished loads synchronously (so call those
// off the main thread, or after loadValuesAsynchronously() completed).
class MediaAsset : public std::enable_shared_from_this<MediaAsset>
{
public:
    enum class KeyStatus { Unknown, Loading, Loaded, Failed, Cancelled };

    static std::shared_ptr<MediaAsset> assetWithURL(const QUrl &url);
    ~MediaAsset();
    MediaAsset(const MediaAsset &) = delete;
    MediaAsset &operator=(const MediaAsset &) = delete;

    const QUrl &url() const { return m_url; }
    // The address as the demuxer takes it: a local path or the URL's text.
    QString location() const;
    bool isLocal() const { return m_url.isLocalFile(); }

    // The keys this asset knows: "tracks", "duration", "playable", "readable", "exportable",
    // "commonMetadata", "metadata", "creationDate", "availableChapterLocales".
    static const QStringList &knownKeys();
    // Loads the keys in the background, then calls the completion on the main thread (not at all
    // after cancelLoading()).
    void loadValuesAsynchronously(const QStringList &keys, std::function<void()> completion);
    // The load status of a key; the error of a failed key goes to *error.
    KeyStatus statusOfValue(const QString &key, BVError *error = nullptr) const;
    // Stops a load in progress (network reads are interrupted); pending completions are dropped.
    void cancelLoading();
    // Blocks until the keys are loaded (loading them now if nobody asked yet). Answers success.
    bool waitUntilLoaded();
    BVError error() const;

    QList<MediaTrack> tracks();
    QList<MediaTrack> tracksWithMediaType(const QString &mediaType);
    std::optional<MediaTrack> trackWithTrackID(int32_t trackID);
    // Counted from the first presented frame, as every time of the asset is.
    MediaTime duration();
    // Where that first presented frame stands on the container's own clock (a transport stream's
    // capture clock); zero for containers that start at zero.
    MediaTime startTime();
    bool isPlayable();
    bool isReadable();
    bool isExportable();
    // The container's creation date; invalid when it does not say (a local file's birth time then).
    QDateTime creationDate();
    // Items that have a common key ("title", "artist", "creationDate" ...), in the container's order.
    QList<MediaMetadataItem> commonMetadata();
    // Every item of the container, including those without a common key.
    QList<MediaMetadataItem> metadata();
    // The start timecode a "timecode" tag of the container or a stream states, as written
    // ("01:00:00:00", or with ";" or "." before the frames for drop-frame); empty when none.
    QString timecodeTag();
    // The languages of the chapter list ("und" when the chapters do not say); empty without chapters.
    QStringList availableChapterLocales();
    // The chapters of a locale, each with the items whose common key is among the given keys.
    QList<MediaTimedMetadataGroup> chapterMetadataGroups(
        const QString &locale, const QStringList &commonKeys);

private:
    explicit MediaAsset(QUrl url);
    void startLoading();
    void load();
    bool loadedOrFailedLocked() const;

    QUrl m_url;
    mutable std::mutex m_mutex;
    std::condition_variable m_loadedCondition;
    KeyStatus m_status = KeyStatus::Unknown;
    BVError m_error;
    MediaAssetInfo m_info;
    std::vector<std::function<void()>> m_completions;
    std::atomic<bool> m_cancelled {false};
};
