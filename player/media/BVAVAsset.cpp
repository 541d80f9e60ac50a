#include "player/media/BVAVAsset.h"

#include "platform/defaults/BVUserDefaults.h"
#include "platform/media/engine/MediaPlayer.h"
#include "platform/media/engine/MediaPlayerItem.h"
#include "player/time/BVAVFoundation.h"
#include "player/time/BVAudioFileParser.h"
#include "player/time/BVTimecode.h"
#include "support/BVLog.h"
#include "support/BVMainThread.h"
#include "support/BVTimer.h"
#include "support/BVWorkQueue.h"

#include <cmath>

namespace {

const QString zeroTimecode = QStringLiteral("00:00:00:00");

} // namespace

BVAVAsset::BVAVAsset()
    : m_workQueue(std::make_unique<BVWorkQueue>(QStringLiteral("BVAVAsset")))
{ }

BVAVAsset::~BVAVAsset()
{
    if (!isUnloading())
        cleanup();
    m_lifetime.end();
    m_workQueue.reset();
}

const QStringList &BVAVAsset::assetKeysRequiredToPlay()
{
    static const QStringList keys {
        QStringLiteral("tracks"),
        QStringLiteral("playable"),
        QStringLiteral("readable"),
        QStringLiteral("commonMetadata"),
    };
    return keys;
}

std::pair<double, bool> BVAVAsset::audioTimecodeRate(qlonglong setting)
{
    switch (setting) {
    case 1:
        return {24, false};
    case 2:
        return {25, false};
    case 3:
        return {29.97, false};
    case 4:
        return {29.97, true};
    case 5:
        return {30, false};
    case 6:
        return {50, false};
    case 7:
        return {59.94, false};
    case 8:
        return {59.94, true};
    case 9:
        return {60, false};
    default:
        return {23.976, false};
    }
}

std::shared_ptr<MediaAsset> BVAVAsset::asset() const
{
    std::lock_guard guard(m_assetMutex);
    return m_asset;
}

void BVAVAsset::loadAsset(const std::shared_ptr<MediaAsset> &asset)
{
    std::lock_guard objectLock(lock());
    if (!asset || isUnloading())
        return;
    {
        std::lock_guard guard(m_assetMutex);
        m_asset = asset;
    }
    const QStringList keys = assetKeysRequiredToPlay();
    const BVLifetime::Token alive = lifetimeToken();
    // The completion arrives on the main thread, where this object is destroyed, so the token
    // check there cannot race with the destructor.
    asset->loadValuesAsynchronously(keys, [this, alive, asset, keys] {
        if (alive.expired() || isUnloading())
            return;
        m_workQueue->async([this, alive, asset, keys] {
            if (isUnloading())
                return;
            readTimecode(asset);
            BVMainThread::async([this, alive, asset, keys] {
                if (alive.expired() || isUnloading())
                    return;
                finishLoading(asset, keys);
            });
            // After the hop is queued, so that reading the whole audio never delays "loaded".
            populateWaveformData();
        });
    });
}

void BVAVAsset::readTimecode(const std::shared_ptr<MediaAsset> &asset)
{
    if (!asset->waitUntilLoaded() || !asset->isLocal() || isVelo())
        return; // a cloud file keeps the start timecode the service gave
    const bool readable = BVAVFoundation::isReadable(asset);
    if (isAudioOnly()) {
        // A recorder's own rate and counting win over the setting, which stays the fallback.
        const std::optional<BVAudioFileParser::RecorderRate> recorder
            = readable ? BVAudioFileParser::recorderRate(asset->url().toLocalFile()) : std::nullopt;
        auto [rate, drop] = audioTimecodeRate(
            BVUserDefaults::standardUserDefaults()->integerForKey(QStringLiteral("defaultAudioTC")));
        if (recorder) {
            rate = recorder->fps;
            drop = recorder->dropFrame;
        }
        m_timecodeRateSource.store(recorder ? TimecodeRateSource::Recorder : TimecodeRateSource::Setting);
        setFps(rate);
        setDropFrame(drop);
        m_rateFromAudioSetting.store(true);
        if (readable)
            setTimecodeStart(
                BVAudioFileParser::timecodeFromBWF(asset->url().toLocalFile(), rate, drop, zeroTimecode));
    } else if (timecodeStart().isEmpty() && readable) {
        setTimecodeStart(BVAVFoundation::timecodeStartForAsset(asset, zeroTimecode));
        // Positions are counted as the timecode track counts them.
        setDropFrame(BVAVFoundation::isDropFrame(asset));
    }
}

void BVAVAsset::finishLoading(const std::shared_ptr<MediaAsset> &asset, const QStringList &keys)
{
    // A failed load is reported as a failure, not as loaded media.
    for (const QString &key : keys) {
        BVError error;
        if (asset->statusOfValue(key, &error) == MediaAsset::KeyStatus::Failed) {
            assetFailedToPrepareForPlayback(error);
            return;
        }
    }
    setIsAudioOnly(asset->tracksWithMediaType(MediaType::video).isEmpty());
    setIsLoaded(true);
    if (BVMediaObjectDelegate *d = delegate())
        d->mediaStatusChanged(BVMediaStatus::loaded);
    if (isUnloading())
        return;
    prepareToPlayAsset(keys);
}

void BVAVAsset::prepareToPlayAsset(const QStringList &requestedKeys)
{
    if (isUnloading())
        return;
    const std::shared_ptr<MediaAsset> media = asset();
    if (!media)
        return;
    for (const QString &key : requestedKeys) {
        BVError error;
        if (media->statusOfValue(key, &error) == MediaAsset::KeyStatus::Failed) {
            assetFailedToPrepareForPlayback(error);
            return;
        }
    }
    if (!media->isPlayable()) {
        assetFailedToPrepareForPlayback(
            BVError::withDescription(QStringLiteral("BVReelmark"), 0, QStringLiteral("Item cannot be played"),
                QStringLiteral("The assets tracks were loaded, but could not be made playable.")));
        return;
    }
    createPlayer();
    if (isUnloading())
        return;
    loadSettings();
    if (BVMediaObjectDelegate *d = delegate())
        d->prepareForPlayback();
}

void BVAVAsset::assetFailedToPrepareForPlayback(const BVError &error)
{
    BVLog::appendLog("Unable to play back file: %@ - %@. %@", error.localizedDescription(),
        error.localizedFailureReason(), error.localizedRecoverySuggestion());
    if (BVMediaObjectDelegate *d = delegate())
        d->mediaPlaybackFailed(error);
}

void BVAVAsset::loadSettings()
{
    const std::shared_ptr<MediaAsset> media = asset();
    if (!media || media->statusOfValue(QStringLiteral("tracks")) != MediaAsset::KeyStatus::Loaded)
        return;
    const QList<MediaTrack> video = media->tracksWithMediaType(MediaType::video);
    if (!video.isEmpty()) {
        setIsAudioOnly(false);
        // Shown upright: a phone's portrait clip is taller than wide.
        setPictureOrientation(video.first().preferredOrientation());
        setNaturalSize(video.first().orientedSize());
    } else {
        setIsAudioOnly(true);
    }
    if (!(isAudioOnly() && m_rateFromAudioSetting.load()))
        setFrameRate(BVAVFoundation::frameRateForAsset(media));
    populateMetadata();
    populateChapters();
    // Variable-rate footage: its real frames, as many as there are.
    const std::shared_ptr<const MediaFrameIndex> index
        = video.isEmpty() ? nullptr : video.first().frameIndex();
    setFrameIndex(index);
    if (index) {
        setFrameCount(uint64_t(index->count()));
        return;
    }
    // The picture's frames: audio that outlasts the video adds none.
    MediaTime length = media->duration();
    if (!video.isEmpty() && video.first().timeRange().duration().isNumeric()
        && video.first().timeRange().duration() > MediaTime::zero())
        length = video.first().timeRange().end();
    setFrameCount(uint64_t(frameRate().framesInDuration(length)));
}

void BVAVAsset::populateMetadata()
{
    if (const std::shared_ptr<MediaAsset> media = asset())
        setMetadata(media->commonMetadata());
}

void BVAVAsset::populateChapters()
{
    const std::shared_ptr<MediaAsset> media = asset();
    if (!media) {
        setChapters({});
        return;
    }
    const QStringList locales = media->availableChapterLocales();
    if (locales.isEmpty()) {
        setChapters({});
        return;
    }
    setChapters(media->chapterMetadataGroups(locales.first(), {QStringLiteral("title")}));
}

void BVAVAsset::populateWaveformData()
{
    if (!m_workQueue->isCurrent()) {
        m_workQueue->async([this] { populateWaveformData(); });
        return;
    }
    if (isUnloading())
        return;
    const std::shared_ptr<MediaAsset> media = asset();
    float normalize = -90;
    std::optional<std::vector<float>> data;
    if (media)
        data = BVAVFoundation::waveformDataForAsset(media, &normalize, &m_isUnloading);
    if (isUnloading())
        return;
    {
        std::lock_guard guard(m_assetMutex);
        m_waveformData = data ? std::move(*data) : std::vector<float>();
        m_waveformNormalize = data ? normalize : -90;
    }
    m_waveformDone.store(true);
    if (BVMediaObjectDelegate *d = delegate())
        d->drawWaveformForAudioAssetAsync();
}

std::vector<float> BVAVAsset::waveformData() const
{
    std::lock_guard guard(m_assetMutex);
    return m_waveformData;
}

float BVAVAsset::waveformNormalize() const
{
    std::lock_guard guard(m_assetMutex);
    return m_waveformNormalize;
}

QString BVAVAsset::timecodeAtTime(const MediaTime &time, const QString &startTimecode) const
{
    // Local, streamed and cloud files alike: the frame showing at the time, at the object's exact
    // rate, counted as the object counts timecode.
    return BVMediaObject::timecodeAtTime(time, startTimecode);
}

MediaTime BVAVAsset::duration() const
{
    const std::shared_ptr<MediaAsset> media = asset();
    if (!media || media->statusOfValue(QStringLiteral("duration")) != MediaAsset::KeyStatus::Loaded)
        return MediaTime::zero();
    return media->duration();
}

void BVAVAsset::cleanup()
{
    m_isUnloading.store(true);
    setDelegate(nullptr);
    cleanupPlayer();
    std::shared_ptr<MediaAsset> media;
    {
        std::lock_guard guard(m_assetMutex);
        media.swap(m_asset);
    }
    if (media)
        media->cancelLoading();
    m_workQueue->cancelAll();
    BVMediaObject::cleanup();
}
