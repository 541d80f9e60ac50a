#include "platform/media/engine/MediaPlayerItem.h"

#include "platform/media/MediaAssetProbe.h"

#include "platform/media/engine/MediaDemuxer.h"
#include "platform/media/engine/MediaFrameCache.h"
#include "platform/media/engine/MediaPlayableExtent.h"
#include "platform/media/engine/MediaVideoDecoder.h"
#include "support/BVLog.h"
#include "support/BVMainThread.h"
#include "support/BVWorkQueue.h"

#include <QUrl>

#include <utility>

extern "C" {
#include <libavutil/error.h>
}

namespace {

int interruptCallback(void *opaque)
{
    return static_cast<std::atomic<bool> *>(opaque)->load() ? 1 : 0;
}

QString avErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

} // namespace

std::shared_ptr<MediaPlayerItem> MediaPlayerItem::create(const QString &pathOrUrl)
{
    return std::shared_ptr<MediaPlayerItem>(new MediaPlayerItem(pathOrUrl));
}

std::shared_ptr<MediaPlayerItem> MediaPlayerItem::createAudioOnly(const QString &pathOrUrl)
{
    std::shared_ptr<MediaPlayerItem> item(new MediaPlayerItem(pathOrUrl));
    item->m_videoDisabled = true;
    return item;
}

MediaPlayerItem::MediaPlayerItem(QString url)
    : m_url(std::move(url))
    , m_abort(std::make_shared<std::atomic<bool>>(false))
{ }

MediaPlayerItem::~MediaPlayerItem()
{
    m_abort->store(true);
    m_openQueue.reset(); // waits for an open in progress, which the abort flag cuts short
    m_decoder.reset();
    m_demuxer.reset();
    m_cache.reset();
}

MediaTime MediaPlayerItem::playableDuration() const
{
    return endsEarly() ? m_timing.toTime(m_playableEndTicks) : m_duration;
}

MediaTime MediaPlayerItem::lastPlayableFrameTime() const
{
    return endsEarly() ? m_timing.toTime(m_lastFrameTicks) : MediaTime::invalid();
}

MediaTime MediaPlayerItem::frameDuration() const
{
    if (m_videoStream < 0)
        return MediaTime::invalid();
    return m_timing.toTime(m_timing.startTicks + m_timing.frameTicks);
}

AVStream *MediaPlayerItem::audioStream() const
{
    return m_audio;
}

int MediaPlayerItem::addObserver(std::function<void(Event)> observer)
{
    const int token = m_nextToken++;
    m_observers.emplace(token, std::move(observer));
    return token;
}

void MediaPlayerItem::removeObserver(int token)
{
    m_observers.erase(token);
}

void MediaPlayerItem::setCacheBudget(size_t bytes)
{
    m_pendingBudget = bytes;
    if (m_cache)
        m_cache->setBudget(bytes);
}

size_t MediaPlayerItem::cacheBudget() const
{
    return m_cache ? m_cache->budget()
                   : (m_pendingBudget ? m_pendingBudget : MediaFrameCache::sharedBudget());
}

size_t MediaPlayerItem::cacheBytes() const
{
    return m_cache ? m_cache->bytes() : 0;
}

void MediaPlayerItem::setFrameHandler(std::function<void()> handler)
{
    if (m_decoder)
        m_decoder->setFrameHandler(std::move(handler));
}

void MediaPlayerItem::load()
{
    if (m_loadStarted)
        return;
    m_loadStarted = true;
    m_openQueue = std::make_unique<BVWorkQueue>(QStringLiteral("MediaPlayerItem.open"));
    // The queue belongs to the item and is drained in its destructor, so `this` outlives the job.
    m_openQueue->async([this] { open(); });
}

// Runs on the open queue: nothing here may touch main-thread state.
void MediaPlayerItem::open()
{
    const QUrl url(m_url);
    const QString path = url.isLocalFile() ? url.toLocalFile() : m_url;
    AVFormatContext *context = avformat_alloc_context();
    context->interrupt_callback.callback = &interruptCallback;
    context->interrupt_callback.opaque = m_abort.get();
    AVDictionary *options = nullptr;
    if (path.startsWith(QLatin1String("http:")) || path.startsWith(QLatin1String("https:")))
        av_dict_set(&options, "rw_timeout", "15000000", 0);
    int result = avformat_open_input(&context, path.toUtf8().constData(), nullptr, &options);
    av_dict_free(&options);
    if (result >= 0)
        result = avformat_find_stream_info(context, nullptr);
    // A program or transport stream's length is only estimated by FFmpeg: the real end of the stream
    // the player will follow is read here, off the main thread.
    std::pair<int, MediaTime> scanned {-1, MediaTime::invalid()};
    if (result >= 0) {
        int primary = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (primary < 0 || m_videoDisabled)
            primary = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (primary >= 0)
            scanned = {primary, MediaAssetProbe::scannedEnd(context, primary)};
        if (scanned.second.isValid())
            avformat_seek_file(context, -1, INT64_MIN, 0, INT64_MAX, AVSEEK_FLAG_BYTE);
    }
    BVError error;
    if (result < 0) {
        error = BVError::withDescription(ErrorDomain, result,
            QStringLiteral("The media could not be opened."), avErrorText(result),
            QStringLiteral("Check that the file or address is a movie or audio file."));
        avformat_close_input(&context);
    }
    // The opened media is closed by whoever lets go of it last: the hand-over to the main thread may
    // never run when the item goes away, or the program ends, first.
    struct OpenedContext
    {
        AVFormatContext *context = nullptr;
        ~OpenedContext()
        {
            if (context)
                avformat_close_input(&context);
        }
    };
    auto opened = std::make_shared<OpenedContext>();
    opened->context = context;
    // A file cut short (still being written, a partial copy) is told by its index here, before
    // the demuxer reads it: the stream that will be the primary one.
    MediaPlayableExtent extent;
    int extentStream = -1;
    // A local file: a path, or a file URL.
    if (context && (url.scheme().isEmpty() || url.isLocalFile())) {
        extentStream = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (extentStream >= 0
            && (m_videoDisabled
                || (context->streams[extentStream]->disposition & AV_DISPOSITION_ATTACHED_PIC)))
            extentStream = -1;
        if (extentStream < 0)
            extentStream = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (extentStream >= 0)
            extent = MediaPlayableExtent::scan(context, extentStream);
    }
    std::weak_ptr<MediaPlayerItem> weak = weak_from_this();
    BVMainThread::async([weak, opened, error, extent, extentStream, scanned] {
        std::shared_ptr<MediaPlayerItem> self = weak.lock();
        if (!self)
            return;
        self->finishOpening(std::exchange(opened->context, nullptr), error, extent, extentStream, scanned);
    });
}

void MediaPlayerItem::finishOpening(AVFormatContext *context, const BVError &error,
    const MediaPlayableExtent &extent, int scannedStream, const std::pair<int, MediaTime> &scanned)
{
    if (!context || m_abort->load()) {
        avformat_close_input(&context);
        m_status = Status::Failed;
        m_error = error.isNull()
            ? BVError::withDescription(ErrorDomain, -1, QStringLiteral("The media could not be opened."))
            : error;
        BVLog::appendLog("Cannot open %@: %@", m_url, m_error.description());
        post(Event::Status);
        return;
    }
    m_videoStream = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (m_videoStream >= 0
        && (m_videoDisabled || (context->streams[m_videoStream]->disposition & AV_DISPOSITION_ATTACHED_PIC)))
        m_videoStream = -1;
    m_audioStream = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, m_videoStream, nullptr, 0);
    if (m_videoStream < 0)
        m_videoStream = -1;
    if (m_audioStream < 0)
        m_audioStream = -1;
    const int primary = m_videoStream >= 0 ? m_videoStream : m_audioStream;
    if (primary < 0) {
        avformat_close_input(&context);
        m_status = Status::Failed;
        m_error = BVError::withDescription(ErrorDomain, -2, QStringLiteral("The media could not be opened."),
            QStringLiteral("It has neither a video nor an audio track."));
        post(Event::Status);
        return;
    }
    for (unsigned i = 0; i < context->nb_streams; ++i)
        if (int(i) != m_videoStream && int(i) != m_audioStream)
            context->streams[i]->discard = AVDISCARD_ALL;

    AVStream *stream = context->streams[primary];
    m_audio = m_audioStream >= 0 ? context->streams[m_audioStream] : nullptr;
    m_timing.timeBase = stream->time_base;
    m_timing.startTicks = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    AVRational rate = stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    if (m_videoStream < 0 || rate.num <= 0)
        rate = AVRational {50, 1};
    m_timing.frameTicks = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), stream->time_base));
    if (m_videoStream >= 0) {
        m_frameRate = av_q2d(rate);
        m_size = QSize(stream->codecpar->width, stream->codecpar->height);
    }
    const MediaTime streamStart(m_timing.startTicks * m_timing.timeBase.num, m_timing.timeBase.den);
    if (scanned.first == primary && scanned.second.isNumeric() && scanned.second > streamStart)
        m_duration = scanned.second - streamStart;
    else if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        m_duration = m_timing.toTime(m_timing.startTicks + stream->duration);
    else if (context->duration != AV_NOPTS_VALUE && context->duration > 0)
        m_duration = MediaTime(context->duration, AV_TIME_BASE);
    if (extent.endsEarly() && scannedStream == primary
        && (!m_duration.isNumeric() || m_timing.toTime(extent.endTicks) < m_duration)) {
        m_playableEndTicks = extent.endTicks;
        m_lastFrameTicks = extent.lastFrameTicks;
    }

    // Items with pictures divide the shared budget; sound alone caches no pictures.
    if (m_pendingBudget || m_videoStream < 0)
        m_cache = std::make_unique<MediaFrameCache>(
            m_pendingBudget ? m_pendingBudget : MediaFrameCache::MinimumShare);
    else
        m_cache = std::make_unique<MediaFrameCache>();
    m_demuxer = std::make_unique<MediaDemuxer>(context, primary, m_audioStream, m_timing, m_abort);
    if (m_videoStream >= 0) {
        m_decoder = std::make_unique<MediaVideoDecoder>(stream, m_timing, *m_demuxer, *m_cache);
        if (!m_decoder->open()) {
            m_decoder.reset();
            m_demuxer.reset();
            m_status = Status::Failed;
            m_error
                = BVError::withDescription(ErrorDomain, -3, QStringLiteral("The media could not be opened."),
                    QStringLiteral("Its video cannot be decoded."));
            post(Event::Status);
            return;
        }
    }
    // The demuxer is stopped in the destructor before anything else goes: `this` outlives it.
    m_demuxer->setChangeHandler([this] { scheduleRefresh(); });
    m_demuxer->start();
    if (m_decoder)
        m_decoder->start();
    m_status = Status::ReadyToPlay;
    post(Event::Status);
    refresh();
}

// Demux thread.
void MediaPlayerItem::scheduleRefresh()
{
    if (m_refreshPending.exchange(true))
        return;
    std::weak_ptr<MediaPlayerItem> weak = weak_from_this();
    BVMainThread::async([weak] {
        if (std::shared_ptr<MediaPlayerItem> self = weak.lock())
            self->refresh();
    });
}

void MediaPlayerItem::refresh()
{
    m_refreshPending = false;
    if (!m_demuxer)
        return;
    if (m_status == Status::ReadyToPlay && m_demuxer->hasFailed()) {
        // Nothing more will come: the item fails with the reason, and the player stops working on it.
        m_status = Status::Failed;
        m_error = BVError::withDescription(ErrorDomain, -4, QStringLiteral("The media could not be read."),
            m_demuxer->failureReason(),
            QStringLiteral("Check the connection, or play a local copy of the file."));
        BVLog::appendLog("Cannot read %@: %@", m_url, m_error.description());
        post(Event::Status);
        return;
    }
    const MediaDemuxer::BufferState state = m_demuxer->bufferState();
    QList<MediaTimeRange> ranges;
    for (const auto &[from, to] : m_demuxer->loadedRanges())
        ranges.append(MediaTimeRange::fromStartEnd(
            m_timing.toTime(std::max(from, m_timing.startTicks)), m_timing.toTime(to)));
    if (ranges != m_loadedRanges) {
        m_loadedRanges = ranges;
        post(Event::LoadedTimeRanges);
    }
    if (state.empty != m_bufferEmpty) {
        m_bufferEmpty = state.empty;
        post(Event::BufferEmpty);
    }
    if (state.likelyToKeepUp != m_likelyToKeepUp) {
        m_likelyToKeepUp = state.likelyToKeepUp;
        post(Event::BufferLikelyToKeepUp);
    }
    if (state.full != m_bufferFull) {
        m_bufferFull = state.full;
        post(Event::BufferFull);
    }
}

void MediaPlayerItem::notifyPlayedToEnd()
{
    post(Event::PlayedToEnd);
}

void MediaPlayerItem::post(Event event)
{
    const auto observers = m_observers;
    for (const auto &[token, observer] : observers)
        if (m_observers.count(token))
            observer(event);
}
