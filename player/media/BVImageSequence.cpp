#include "player/media/BVImageSequence.h"

#include "platform/media/MediaAsset.h"
#include "platform/media/MediaImageGenerator.h"
#include "player/media/BVFrameBufferShelf.h"
#include "player/time/BVAVFoundation.h"
#include "support/BVLog.h"
#include "support/BVMainThread.h"
#include "support/BVTimer.h"
#include "support/BVWorkQueue.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <thread>

namespace {

// The frames decoded before the sequence is ready to play.
constexpr size_t kReadyFrameCount = 5;
// Hand-overs allowed to wait on the render queue; one more is dropped.
constexpr int kMaximumWaitingDisplays = 2;
// Seconds a hand-over waits at most to keep its distance from the one before.
constexpr double kLongestHandOverWait = 0.025;
constexpr int64_t kFrameTicks = 100;
// Decoded frames kept ahead of the playhead at most.
constexpr int64_t kCacheBudgetBytes = int64_t(2) << 30;

// Images decode on this many threads: one core does not keep up with 1080p PNG at 24 fps.
int decodeThreads()
{
    return std::clamp(QThread::idealThreadCount(), 1, 4);
}

} // namespace

namespace {

// Decodes into a buffer of the shelf when the file's pixels come out in a bitmap format, and
// converts anything else to one. *linearLight tells whether the picture held scene-linear light.
QImage decode(
    const QString &path, const std::function<QImage(QSize, QImage::Format)> &buffer, bool *linearLight)
{
    if (linearLight)
        *linearLight = false;
    if (path.isEmpty())
        return {};
    QImageReader reader(path);
    QImage image;
    if (buffer) {
        const QSize size = reader.size();
        const QImage::Format format = reader.imageFormat();
        if (!size.isEmpty()
            && (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied))
            image = buffer(size, format);
    }
    if (!reader.read(&image) || image.isNull()) {
        // Formats the image readers do not know (OpenEXR, DPX ...) go through FFmpeg's decoders.
        // Their scene-linear pictures (OpenEXR) come out through the display curve.
        MediaImageGenerator::Reading reading;
        std::optional<QImage> decoded
            = MediaImageGenerator::copyImageAtTime(MediaAsset::assetWithURL(QUrl::fromLocalFile(path)),
                MediaTime::zero(), MediaImageGenerator::Options(), nullptr, &reading);
        if (!decoded || decoded->isNull())
            return {};
        if (linearLight)
            *linearLight = reading.linearLight;
        image = std::move(*decoded);
    }
    const QImage::Format bitmap
        = image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    if (image.format() != bitmap)
        image.convertTo(bitmap);
    return image;
}

} // namespace

BVImageSequence::BVImageSequence()
    : m_frameBuffers(std::make_shared<BVFrameBufferShelf>())
{ }

BVImageSequence::~BVImageSequence()
{
    // The queues go first: a decode still running takes a lifetime token to post its notifications. Work
    // already queued for the main thread then finds the object gone.
    cleanup();
    m_lifetime.end();
}

void BVImageSequence::loadFiles(const QStringList &files)
{
    std::lock_guard objectLock(lock());
    if (!(fps() > 0) || !std::isfinite(fps())) {
        BVLog::appendLog("Image sequence frame rate %@ is not usable; playing at 24 fps", fps());
        setFps(24);
    }
    const double rate = fps();
    const double scaled = std::ceil(rate * 100);
    const int32_t timescale = scaled >= 1 && scaled <= INT32_MAX ? int32_t(scaled) : 2400;
    m_timescale.store(timescale);
    std::map<uint64_t, qulonglong> missing;
    const QStringList frames = holdingGaps(files, &missing);
    if (!missing.empty())
        BVLog::appendLog(
            "Image sequence misses %li frames; they are held as placeholders", long(missing.size()));
    {
        std::lock_guard guard(m_timeMutex);
        m_files = frames;
        m_missing = std::move(missing);
        m_currentTime = MediaTime(0, timescale);
        // The end of the last frame by the one frame rule, so that every frame's time is exact.
        m_duration = sequenceTime(frames.size(), timescale);
    }
    clearCache();
    m_isReady.store(false);
    {
        std::lock_guard guard(m_cacheMutex);
        if (!m_cacheQueue)
            m_cacheQueue = std::make_unique<BVWorkQueue>(
                QStringLiteral("com.brightvane.Reelmark.sequence.cache"), decodeThreads());
        if (!m_renderQueue)
            m_renderQueue
                = std::make_unique<BVWorkQueue>(QStringLiteral("com.brightvane.Reelmark.sequence.render"));
        m_sentLoaded = false;
        m_sentUnusable = false;
        m_hasDrawnFrame = false;
    }
    setTimecodeStart(QStringLiteral("00:00:00:00"));
    m_rate.store(1);
    setFrameCount(uint64_t(frames.size()));
    setIsLoaded(true);
    if (files.isEmpty()) {
        BVLog::appendLog("Image sequence without files");
        notifyDelegate([](BVMediaObjectDelegate &d) { d.mediaStatusChanged(BVMediaStatus::unknown); });
        return;
    }
    cacheFrames();
}

QStringList BVImageSequence::files() const
{
    std::lock_guard guard(m_timeMutex);
    return m_files;
}

std::map<uint64_t, qulonglong> BVImageSequence::missingFrames() const
{
    std::lock_guard guard(m_timeMutex);
    return m_missing;
}

namespace {

// A file name split around its last run of digits: "shot_" 41 ".exr" for "shot_0041.exr".
struct NumberedName
{
    QString folder, prefix, suffix;
    qulonglong number = 0;
    bool valid = false;
};

NumberedName numberedName(const QString &path)
{
    NumberedName name;
    const QFileInfo info(path);
    const QString file = info.fileName();
    const QString stem = info.completeBaseName().isEmpty() ? file : info.completeBaseName();
    qsizetype end = stem.size();
    while (end > 0 && !(stem.at(end - 1).isDigit() && stem.at(end - 1).unicode() < 128))
        --end;
    qsizetype begin = end;
    while (begin > 0 && stem.at(begin - 1).isDigit() && stem.at(begin - 1).unicode() < 128)
        --begin;
    if (begin == end || end - begin > 18)
        return name;
    name.folder = info.path();
    name.prefix = stem.left(begin);
    name.suffix = file.mid(end);
    name.number = stem.mid(begin, end - begin).toULongLong();
    name.valid = true;
    return name;
}

} // namespace

QStringList BVImageSequence::holdingGaps(const QStringList &files, std::map<uint64_t, qulonglong> *missing)
{
    if (missing)
        missing->clear();
    if (files.size() < 2)
        return files;
    std::vector<NumberedName> names;
    names.reserve(size_t(files.size()));
    for (const QString &file : files) {
        names.push_back(numberedName(file));
        const NumberedName &first = names.front();
        const NumberedName &name = names.back();
        if (!name.valid || name.folder != first.folder || name.prefix != first.prefix
            || name.suffix != first.suffix)
            return files;
        if (names.size() > 1 && name.number <= names[names.size() - 2].number)
            return files; // not one rising run of numbers
    }
    const qulonglong span = names.back().number - names.front().number + 1;
    const qulonglong added = span - qulonglong(files.size());
    if (added == 0 || added > qulonglong(files.size()))
        return files;
    QStringList frames;
    frames.reserve(qsizetype(span));
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (i > 0) {
            for (qulonglong n = names[size_t(i) - 1].number + 1; n < names[size_t(i)].number; ++n) {
                if (missing)
                    missing->emplace(uint64_t(frames.size()), n);
                frames.append(QString());
            }
        }
        frames.append(files[i]);
    }
    return frames;
}

QImage BVImageSequence::placeholderImage(const QSize &size, qulonglong number)
{
    const QSize frame = size.isEmpty() ? QSize(1920, 1080) : size;
    QImage image(frame, QImage::Format_RGB32);
    image.fill(QColor(48, 48, 48));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const int line = std::max(2, frame.height() / 60);
    const QColor red(220, 30, 30);
    painter.setPen(QPen(red, line));
    painter.drawLine(QPointF(0, 0), QPointF(frame.width(), frame.height()));
    painter.drawLine(QPointF(frame.width(), 0), QPointF(0, frame.height()));
    // Text needs the font system, which only a GUI application has (not the command-line jobs).
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        QFont font = painter.font();
        font.setBold(true);
        font.setPixelSize(std::max(8, std::min(frame.height() / 10, frame.width() / 10)));
        painter.setFont(font);
        const QString text = QStringLiteral("MISSING FRAME\n%1").arg(number);
        const QRect box = painter.boundingRect(image.rect(), Qt::AlignCenter, text)
                              .adjusted(-line * 4, -line * 2, line * 4, line * 2)
                              .intersected(image.rect());
        painter.fillRect(box, QColor(48, 48, 48));
        painter.setPen(QColor(255, 255, 255));
        painter.drawText(image.rect(), Qt::AlignCenter, text);
    }
    // The frame last, so that nothing covers it.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(red);
    painter.drawRect(0, 0, frame.width(), line);
    painter.drawRect(0, frame.height() - line, frame.width(), line);
    painter.drawRect(0, 0, line, frame.height());
    painter.drawRect(frame.width() - line, 0, line, frame.height());
    painter.end();
    return image;
}

QList<uint64_t> BVImageSequence::cachedFrames() const
{
    std::lock_guard guard(m_cacheMutex);
    QList<uint64_t> indices;
    for (const CachedFrame &frame : m_frameCache)
        indices.append(frame.index);
    return indices;
}

MediaTime BVImageSequence::currentTime() const
{
    std::lock_guard guard(m_timeMutex);
    return m_currentTime;
}

MediaTime BVImageSequence::duration() const
{
    std::lock_guard guard(m_timeMutex);
    return m_duration;
}

MediaTime BVImageSequence::sequenceTime(int64_t frame, int32_t sequenceTimescale) const
{
    const MediaTime exact = timeOfFrame(frame);
    if (sequenceTimescale <= 0)
        sequenceTimescale = timescale();
    // On the sequence timescale where that holds the frame's start exactly (24 fps: 100 ticks of
    // 2400), else as the exact fraction (23.976: 1001 x n / 24000, which 2398 cannot hold).
    if (!exact.isNumeric() || sequenceTimescale <= 0)
        return exact;
    __extension__ typedef __int128 Wide;
    const Wide ticks = Wide(exact.value()) * sequenceTimescale;
    if (ticks % exact.timescale() != 0)
        return exact;
    return MediaTime(int64_t(ticks / exact.timescale()), sequenceTimescale);
}

void BVImageSequence::setCurrentTime(const MediaTime &time)
{
    std::lock_guard guard(m_timeMutex);
    m_currentTime = time;
}

QList<MediaTimeRange> BVImageSequence::loadedTimeRanges() const
{
    size_t cached = 0;
    {
        std::lock_guard guard(m_cacheMutex);
        cached = m_frameCache.size();
    }
    const MediaTime length(int64_t(cached) * kFrameTicks, timescale());
    const MediaTime now = currentTime();
    if (rate() >= 0)
        return {MediaTimeRange(now, length)};
    return {MediaTimeRange(now - length, length)};
}

int64_t BVImageSequence::step() const
{
    const int64_t s = std::llabs(int64_t(std::ceil(rate())));
    return s == 0 ? 1 : s;
}

int64_t BVImageSequence::windowSize() const
{
    const int64_t perSecond = int64_t(std::ceil(fps()));
    const QSizeF size = naturalSize();
    if (size.width() <= 0 || size.height() <= 0)
        return 10 * perSecond;
    // Ten seconds of 4K frames would take 8 GB: large pictures get a shorter window, never under a second.
    const int64_t frameBytes = int64_t(size.width()) * int64_t(size.height()) * 4;
    return std::min(
        10 * perSecond, std::max(perSecond, kCacheBudgetBytes / std::max<int64_t>(frameBytes, 1)));
}

void BVImageSequence::notifyDelegate(std::function<void(BVMediaObjectDelegate &)> call)
{
    if (BVMainThread::isMainThread()) {
        if (BVMediaObjectDelegate *d = delegate())
            call(*d);
        return;
    }
    BVMainThread::async([this, alive = m_lifetime.token(), call = std::move(call)] {
        if (alive.expired())
            return;
        if (BVMediaObjectDelegate *d = delegate())
            call(*d);
    });
}

void BVImageSequence::notifyBufferStatus(const QString &status)
{
    {
        std::lock_guard guard(m_cacheMutex);
        if (m_lastBufferStatus == status)
            return;
        m_lastBufferStatus = status;
    }
    notifyDelegate([status](BVMediaObjectDelegate &d) { d.bufferStatusChanged(status); });
}

int64_t BVImageSequence::firstWantedFrame() const
{
    return m_waitingDisplays.empty() ? int64_t(currentFrame()) : int64_t(m_waitingDisplays.front());
}

// Any thread. Frames behind the playhead and every waiting hand-over (left by dropped hand-overs)
// are discarded first; decoding then continues from where it stopped, so no frame is queued twice.
void BVImageSequence::cacheFrames()
{
    bool full = false;
    {
        std::lock_guard guard(m_cacheMutex);
        full = queueDecodes();
    }
    if (full)
        notifyBufferStatus(BVBufferStatus::full);
}

// With the cache lock held. Queues the next frames to decode and answers whether the cache is full.
// Until the cache is within a second of its window, decoding runs on every decode thread: one
// decoder under load may fall behind the frame rate, and the cache is the margin that absorbs it.
// In the last second one frame decodes at a time (each finished frame queues the next), so that a
// full cache is topped up frame by frame as frames are shown, leaving the other cores to the frame
// timer, the hand-over and the view.
bool BVImageSequence::queueDecodes()
{
    if (m_stopCaching.load() || !m_cacheQueue)
        return false;
    const int64_t frames = int64_t(frameCount());
    const int64_t window = windowSize();
    const int64_t current = int64_t(currentFrame());
    const int64_t wanted = firstWantedFrame();
    const bool forward = rate() >= 0;
    while (!m_frameCache.empty()
        && (forward ? int64_t(m_frameCache.front().index) < wanted
                    : int64_t(m_frameCache.front().index) > wanted))
        m_frameCache.pop_front();
    if (int64_t(m_frameCache.size()) >= window)
        return true;
    const int64_t s = step();
    const int64_t perSecond = int64_t(std::ceil(fps()));
    // A window of a second or so (very large pictures) is filled on every thread throughout.
    const int64_t topUp = std::max(window - perSecond, std::min(perSecond, window));
    const size_t inFlight = int64_t(m_frameCache.size()) >= topUp ? 1 : size_t(decodeThreads());
    int64_t queued = int64_t(m_frameCache.size() + m_pendingFrames.size());
    auto canQueue
        = [&] { return queued < window && m_pendingFrames.size() < inFlight && !m_stopCaching.load(); };
    auto queue = [&](int64_t index) {
        m_pendingFrames.insert(uint64_t(index));
        ++queued;
        m_cacheQueue->async(
            [this, index, generation = m_generation] { cacheImageFile(uint64_t(index), generation); });
    };
    if (forward) {
        // Up to the last frame itself: every frame of the sequence is shown in play.
        const int64_t limit = std::min(current + s * window, frames);
        if (!m_nextFrameToCache || *m_nextFrameToCache < wanted)
            m_nextFrameToCache = wanted;
        for (; *m_nextFrameToCache < limit && canQueue(); *m_nextFrameToCache += s)
            queue(*m_nextFrameToCache);
    } else {
        const int64_t lower = std::max<int64_t>(current - s * window, 0);
        if (!m_nextFrameToCache || *m_nextFrameToCache > wanted)
            m_nextFrameToCache = std::min(wanted, frames - 1);
        for (; *m_nextFrameToCache >= lower && canQueue(); *m_nextFrameToCache -= s)
            queue(*m_nextFrameToCache);
    }
    return false;
}

// Runs on the cache queue.
void BVImageSequence::cacheImageFile(uint64_t index, uint64_t generation)
{
    QString path;
    {
        std::lock_guard guard(m_cacheMutex);
        if (generation != m_generation || m_stopCaching.load())
            return;
        // A frame the playhead (and every waiting hand-over) has passed while it waited is not
        // decoded: when decoding falls behind, the decoders go on with frames that can still be shown.
        const int64_t wanted = firstWantedFrame();
        if (rate() >= 0 ? int64_t(index) < wanted : int64_t(index) > wanted) {
            m_pendingFrames.erase(index);
            queueDecodes();
            return;
        }
    }
    {
        std::lock_guard guard(m_timeMutex);
        path = m_files.value(qsizetype(index));
    }
    const QImage image = decodeFrame(index, path);

    std::lock_guard guard(m_cacheMutex);
    if (generation != m_generation)
        return;
    m_pendingFrames.erase(index);
    if (m_stopCaching.load())
        return;
    if (image.isNull()) {
        BVLog::appendLog("Skipping image that cannot be read: %@", path);
    } else {
        // Decoders finish out of order: keep the cache in playing order.
        const bool forward = rate() >= 0;
        auto at = std::find_if(m_frameCache.begin(), m_frameCache.end(),
            [&](const CachedFrame &cached) { return forward ? cached.index > index : cached.index < index; });
        m_frameCache.insert(at, {index, image});
    }
    // The next frame starts decoding before readiness is judged: the frames still pending are
    // then all those queued and not decoded, never a gap between two of them.
    queueDecodes();
    // Notifications are posted under the lock, so the main thread sees them in decoding order.
    if (!m_isReady.load()) {
        const QSizeF size = naturalSize();
        if (!image.isNull() && (size.width() <= 0 || size.height() <= 0))
            setNaturalSize(image.size());
        if (m_frameCache.size() == 1 && !m_sentLoaded) {
            m_sentLoaded = true;
            notifyDelegate([](BVMediaObjectDelegate &d) { d.mediaStatusChanged(BVMediaStatus::loaded); });
        }
        // Ready once the first five frames in playing order are in place (decoders finish out of
        // order), or once everything queued is decoded for a shorter sequence.
        const bool allDecoded = m_pendingFrames.empty();
        bool firstFramesInPlace = allDecoded;
        if (!allDecoded && m_frameCache.size() >= kReadyFrameCount) {
            const uint64_t fifth = m_frameCache[kReadyFrameCount - 1].index;
            firstFramesInPlace
                = rate() >= 0 ? *m_pendingFrames.begin() > fifth : *m_pendingFrames.rbegin() < fifth;
        }
        if (firstFramesInPlace && !m_frameCache.empty()) {
            m_isReady.store(true);
            BVMainThread::async([this, alive = m_lifetime.token()] {
                if (alive.expired())
                    return;
                if (BVMediaObjectDelegate *d = delegate())
                    d->prepareForPlayback();
                queueDisplayFrame(currentFrame());
                if (BVMediaObjectDelegate *d = delegate())
                    d->mediaStatusChanged(BVMediaStatus::ready);
            });
        } else if (allDecoded && m_frameCache.empty() && !m_sentUnusable) {
            m_sentUnusable = true;
            BVLog::appendLog("None of the first images of the sequence can be read");
            notifyDelegate([](BVMediaObjectDelegate &d) { d.mediaStatusChanged(BVMediaStatus::unknown); });
        }
    }
    notifyDelegate([](BVMediaObjectDelegate &d) { d.updateBufferedRange(); });
}

QImage BVImageSequence::decodeImageFile(const QString &path, bool *linearLight)
{
    return decode(path, {}, linearLight);
}

QImage BVImageSequence::decodeFrame(uint64_t index, const QString &path) const
{
    if (path.isEmpty()) {
        std::optional<qulonglong> number;
        {
            std::lock_guard guard(m_timeMutex);
            const auto it = m_missing.find(index);
            if (it != m_missing.end())
                number = it->second;
        }
        if (number)
            return placeholderImage(naturalSize().toSize(), *number);
    }
    bool linearLight = false;
    QImage image = decode(
        path,
        [shelf = m_frameBuffers](
            QSize size, QImage::Format format) { return BVFrameBufferShelf::take(shelf, size, format); },
        &linearLight);
    if (linearLight)
        m_linearLight.store(true);
    return image;
}

// Main thread (the frame timer, and readiness). Drops the hand-over when two already wait. The
// frame travels with its hand-over: a late timer tick followed at once by the next one queues two
// hand-overs before the first has run, and each shows its own frame.
void BVImageSequence::queueDisplayFrame(uint64_t frame)
{
    uint64_t generation = 0;
    {
        std::lock_guard guard(m_cacheMutex);
        if (!m_renderQueue || m_stopCaching.load())
            return;
        if (m_waitingDisplays.size() >= size_t(kMaximumWaitingDisplays)) {
            BVLog::appendLog("Frame dropped");
            return;
        }
        m_waitingDisplays.push_back(frame);
        generation = m_generation;
    }
    m_renderQueue->async([this, generation, frame] {
        paceHandOver(generation);
        handOverFrame(frame, generation);
    });
}

// Render queue. A late tick and its catch-up queue two hand-overs at once; handed over back to back,
// both frames would reach the main thread in one pass of its loop, and the view paints only the
// latter. The second therefore waits until half a frame has passed since the first.
void BVImageSequence::paceHandOver(uint64_t generation)
{
    using Clock = std::chrono::steady_clock;
    {
        std::lock_guard guard(m_cacheMutex);
        if (generation != m_generation)
            return;
    }
    const auto gap = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(std::min(kLongestHandOverWait, 0.5 / fps())));
    if (m_lastHandOver && Clock::now() < *m_lastHandOver + gap && !m_stopCaching.load())
        std::this_thread::sleep_until(*m_lastHandOver + gap);
    m_lastHandOver = Clock::now();
}

void BVImageSequence::displayFrame()
{
    displayFrame(currentFrame());
}

// At the end (the time of the duration) the last frame stays on screen, as a movie's does.
uint64_t BVImageSequence::currentFrame() const
{
    const uint64_t count = frameCount();
    return count > 0 ? std::min<uint64_t>(BVMediaObject::currentFrame(), count - 1) : 0;
}

void BVImageSequence::displayFrame(uint64_t frame)
{
    handOverFrame(frame, std::nullopt);
}

void BVImageSequence::handOverFrame(uint64_t target, std::optional<uint64_t> handOverGeneration)
{
    if (m_stopCaching.load())
        return;
    const bool forward = rate() >= 0;
    const bool inSequence = target < frameCount();
    QImage image;
    bool empty = false;
    {
        std::lock_guard guard(m_cacheMutex);
        if (handOverGeneration) {
            if (*handOverGeneration != m_generation)
                return;
            // Its frame stayed wanted while the hand-over waited; it is taken out in the same step.
            if (!m_waitingDisplays.empty())
                m_waitingDisplays.pop_front();
        }
        if (inSequence) {
            while (!m_frameCache.empty()
                && (forward ? m_frameCache.front().index < target : m_frameCache.front().index > target))
                m_frameCache.pop_front();
            empty = m_frameCache.empty();
        }
        if (inSequence && !empty && m_frameCache.front().index == target) {
            // Otherwise the frame was unreadable and skipped: the previous one stays on screen.
            image = m_frameCache.front().image;
            m_frameCache.pop_front();
            m_lastDrawnFrame = {target, image};
            m_hasDrawnFrame = true;
        }
    }
    if (empty)
        notifyBufferStatus(BVBufferStatus::empty);
    if (!image.isNull()) {
        if (BVMediaObjectDelegate *d = delegate())
            d->drawFrame(image);
    }
    cacheFrames();
}

void BVImageSequence::clearCache()
{
    m_stopCaching.store(true);
    if (m_renderQueue)
        m_renderQueue->cancelAll();
    if (m_cacheQueue)
        m_cacheQueue->cancelAll();
    {
        // Work that is running now belongs to the old generation and discards its result.
        std::lock_guard guard(m_cacheMutex);
        ++m_generation;
        m_frameCache.clear();
        m_pendingFrames.clear();
        m_waitingDisplays.clear();
        m_nextFrameToCache.reset();
        m_lastBufferStatus.clear();
    }
    m_stopCaching.store(false);
}

void BVImageSequence::startPlaybackTimer()
{
    if (!BVMainThread::isMainThread()) {
        BVMainThread::async([this, alive = m_lifetime.token()] {
            if (!alive.expired())
                startPlaybackTimer();
        });
        return;
    }
    stopPlaybackTimer();
    const float r = rate();
    if (r == 0 || !m_renderQueue)
        return;
    // Below normal speed the timer slows down, as one tick always moves at least one frame.
    const double interval = 1.0 / fps() / std::min(1.0, std::fabs(double(r)));
    if (!m_playbackTimer)
        m_playbackTimer = std::make_unique<BVTimer>(interval, true, [this] { prepareToDisplayFrame(); });
    else
        m_playbackTimer->setInterval(interval);
    m_playbackTimer->start();
    m_timerRunning.store(true);
}

void BVImageSequence::stopPlaybackTimer()
{
    if (!BVMainThread::isMainThread()) {
        BVMainThread::async([this, alive = m_lifetime.token()] {
            if (!alive.expired())
                stopPlaybackTimer();
        });
        return;
    }
    if (m_playbackTimer)
        m_playbackTimer->stop();
    m_timerRunning.store(false);
}

void BVImageSequence::prepareToDisplayFrame()
{
    const float r = rate();
    // At least one frame per tick: a rate between -1 and 0 still moves backwards.
    // A rate that is no whole number moves that many frames a tick on average, carrying the part
    // of a frame over to the next tick.
    const double magnitude = std::max(1.0, std::fabs(double(r))) + m_stepCarry;
    const int64_t whole = std::max<int64_t>(1, int64_t(std::floor(magnitude)));
    m_stepCarry = std::fabs(double(r)) > 1 ? magnitude - double(whole) : 0;
    const int64_t frameStep = r >= 0 ? whole : -whole;
    const int64_t current = int64_t(currentFrame());
    const int64_t frames = int64_t(frameCount());
    const int64_t next = current + frameStep;
    if (r > 0) {
        if (frameRate().frameAtTime(currentTime()) >= frames || sequenceTime(next) > duration()) {
            setCurrentTime(duration());
            pause(true);
            setSeekToZeroBeforePlay(true);
            notifyDelegate([](BVMediaObjectDelegate &d) { d.playbackStateChanged(); });
            return;
        }
    } else if (current == 0 || next < 1) {
        // Frame 0 is shown too, not only the time set to it.
        setCurrentTime(MediaTime(0, timescale()));
        queueDisplayFrame(0);
        pause(true);
        notifyDelegate([](BVMediaObjectDelegate &d) { d.syncScrubber(); });
        return;
    }
    setCurrentTime(sequenceTime(next));
    queueDisplayFrame(currentFrame());
    notifyDelegate([](BVMediaObjectDelegate &d) { d.syncScrubber(); });
}

void BVImageSequence::setRate(float newRate)
{
    if (isPlaying() || newRate < 0) {
        stopPlaybackTimer();
        clearCache();
        m_rate.store(newRate);
        startPlaybackTimer();
    } else {
        clearCache();
        m_rate.store(newRate);
    }
    // Refill at once in the new direction and step, rather than at the next frame.
    cacheFrames();
}

void BVImageSequence::play()
{
    setShouldPlayWhenLoaded(true);
    if (const float restore = restoreAfterScrubbingRate(); restore != 0) {
        setRate(restore);
        setRestoreAfterScrubbingRate(0);
    }
    if (seekToZeroBeforePlay()) {
        setSeekToZeroBeforePlay(false);
        seekToTime(MediaTime::zero(), MediaTime::zero(), MediaTime::zero(), CompletionHandler {});
    }
    const MediaTimeRange range = playbackRange();
    if (range.duration().isNumeric() && range.duration() > MediaTime::zero())
        seekToTime(range.start(), MediaTime::zero(), MediaTime::zero(), CompletionHandler {});
    startPlaybackTimer();
    notifyDelegate([](BVMediaObjectDelegate &d) { d.playbackStateChanged(); });
}

void BVImageSequence::pause(bool notify)
{
    setPlaybackRange(MediaTimeRange(MediaTime::zero(), MediaTime::zero()));
    if (const float restore = restoreAfterScrubbingRate(); restore != 0) {
        setRate(restore);
        setRestoreAfterScrubbingRate(0);
    }
    stopPlaybackTimer();
    if (notify)
        notifyDelegate([](BVMediaObjectDelegate &d) { d.playbackStateChanged(); });
}

void BVImageSequence::seekToTime(const MediaTime &time, const MediaTime &toleranceBefore,
    const MediaTime &toleranceAfter, const CompletionHandler &handler)
{
    if (BVMediaObjectDelegate *d = delegate(); d && !d->playerShouldSeek()) {
        BVLog::appendLog("Delegate declined permission to seek.");
        return;
    }
    if (!time.isNumeric()) {
        BVLog::appendLog("Image sequence cannot seek to %@", time.description());
        if (handler)
            BVMainThread::async([handler] { handler(false); });
        return;
    }
    const MediaTime end = duration();
    setCurrentTime(MediaTime::maximum(MediaTime::zero(), MediaTime::minimum(time, end)));
    clearCache();

    const uint64_t frame = currentFrame();
    if (frame < frameCount() && m_renderQueue) {
        uint64_t generation = 0;
        {
            std::lock_guard guard(m_cacheMutex);
            generation = m_generation;
            // The seek decodes this frame itself; the cache starts with the next one.
            m_nextFrameToCache = int64_t(frame) + (rate() >= 0 ? step() : -step());
        }
        const QString path = files().value(qsizetype(frame));
        m_renderQueue->async([this, generation, frame, path] {
            if (m_stopCaching.load())
                return;
            const QImage image = decodeFrame(frame, path);
            {
                std::lock_guard guard(m_cacheMutex);
                if (generation != m_generation || image.isNull())
                    return;
                m_lastDrawnFrame = {frame, image};
                m_hasDrawnFrame = true;
            }
            if (BVMediaObjectDelegate *d = delegate())
                d->drawFrame(image);
        });
    }
    cacheFrames();
    BVMediaObject::seekToTime(time, toleranceBefore, toleranceAfter, CompletionHandler {});
    notifyDelegate([](BVMediaObjectDelegate &d) { d.playerSeeked(); });
    if (handler)
        BVMainThread::async([handler] { handler(true); });
}

void BVImageSequence::stepBack()
{
    setPlaybackRange(MediaTimeRange(MediaTime::zero(), MediaTime::zero()));
    pause(true);
    const int64_t current = int64_t(currentFrame());
    seekToTime(sequenceTime(std::max<int64_t>(0, current - 1)), MediaTime::zero(), MediaTime::zero(),
        CompletionHandler {});
}

void BVImageSequence::stepForward()
{
    setPlaybackRange(MediaTimeRange(MediaTime::zero(), MediaTime::zero()));
    pause(true);
    seekToTime(sequenceTime(int64_t(currentFrame()) + 1), MediaTime::zero(), MediaTime::zero(),
        CompletionHandler {});
}

QImage BVImageSequence::copyCurrentFrameImage()
{
    const uint64_t frame = currentFrame();
    {
        std::lock_guard guard(m_cacheMutex);
        if (m_hasDrawnFrame && m_lastDrawnFrame.index == frame)
            return m_lastDrawnFrame.image;
        for (const CachedFrame &cached : m_frameCache) {
            if (cached.index == frame)
                return cached.image;
        }
    }
    if (frame < frameCount()) {
        const QString path = files().value(qsizetype(frame));
        if (path.isEmpty())
            return decodeFrame(frame, path);
        bool linearLight = false;
        QImage image = decodeImageFile(path, &linearLight);
        if (linearLight)
            m_linearLight.store(true);
        return image;
    }
    return {};
}

void BVImageSequence::cleanup()
{
    setDelegate(nullptr);
    clearCache();
    m_stopCaching.store(true);
    // Destroying a queue waits for the job it is running, which may need the cache lock.
    std::unique_ptr<BVWorkQueue> renderQueue;
    std::unique_ptr<BVWorkQueue> cacheQueue;
    {
        std::lock_guard guard(m_cacheMutex);
        renderQueue = std::move(m_renderQueue);
        cacheQueue = std::move(m_cacheQueue);
    }
    renderQueue.reset();
    cacheQueue.reset();
    {
        std::lock_guard guard(m_timeMutex);
        m_files.clear();
    }
    stopPlaybackTimer();
    if (m_playbackTimer && BVMainThread::isMainThread())
        m_playbackTimer.release()->deleteLater();
    BVMediaObject::cleanup();
}
