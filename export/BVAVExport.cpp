#include "export/BVAVExport.h"

#include "platform/media/MediaAssetTrackOutput.h"
#include "platform/media/MediaAssetWriter.h"
#include "player/time/BVAVFoundation.h"
#include "player/time/BVTimecode.h"
#include "support/BVLog.h"
#include "support/BVMainThread.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>

namespace {

const QString errorDomain = QStringLiteral("BVAVExportErrorDomain");

bool hasDuration(const MediaTimeRange &range)
{
    return range.isValid() && range.duration().isNumeric() && range.duration() > MediaTime::zero();
}

} // namespace

std::shared_ptr<BVAVExport> BVAVExport::create()
{
    return std::shared_ptr<BVAVExport>(new BVAVExport());
}

BVAVExport::BVAVExport()
{
    m_streams[Audio].queue = std::make_unique<BVWorkQueue>(QStringLiteral("BVAVExport audio"));
    m_streams[Video].queue = std::make_unique<BVWorkQueue>(QStringLiteral("BVAVExport video"));
    m_streams[Timecode].queue = std::make_unique<BVWorkQueue>(QStringLiteral("BVAVExport timecode"));
}

BVAVExport::~BVAVExport() = default;

std::optional<MediaAudioSettings> BVAVExport::audioSettings() const
{
    if (audioCodec < 0)
        return std::nullopt;
    MediaAudioSettings settings;
    settings.formatID = uint32_t(audioCodec);
    uint32_t rate = std::clamp<uint32_t>(audioRate, 8000, 192000);
    if (audioCodec == audioFormatAAC)
        rate = std::min<uint32_t>(rate, 48000);
    settings.sampleRate = int(rate);
    settings.channelLayoutTag = audioLayout;
    settings.channelCount = int(audioChannelCount);
    settings.bitRate = int(audioBitrate);
    settings.bitDepth = audioSampleSize;
    settings.bigEndian = !audioLittleEndian;
    settings.floatingPoint = audioFloatingPoint;
    if (audioCodec == audioFormatLinearPCM && audioFloatingPoint)
        settings.bitDepth = 32;
    return settings;
}

QSize BVAVExport::outputSize(const QSize &sourceSize) const
{
    if (videoFrameSize.width() > 0 && videoFrameSize.height() > 0
        && videoFrameSize.width() != sourceSize.width() && videoFrameSize.height() != sourceSize.height())
        return videoFrameSize;
    return sourceSize;
}

std::optional<int64_t> BVAVExport::timecodeSampleFrameNumber(
    const QString &timecode, double rate, bool dropFrame)
{
    static const QRegularExpression separators(QStringLiteral("[:;]"));
    if (timecode.split(separators).size() < 4 || rate <= 0)
        return std::nullopt;
    const int64_t timebase = int64_t(std::ceil(rate));
    const bool whole = rate == std::floor(rate);
    const int64_t frame = BVTimecode::frameCountFromTimecode(timecode, timebase, whole, dropFrame, 0);
    if (frame < 0)
        return std::nullopt;
    return frame;
}

void BVAVExport::startExport()
{
    if (m_started.exchange(true))
        return;
    m_completionQueue.async([self = shared_from_this()] { self->setUp(); });
}

// On the completion queue: everything that touches the disk happens off the main thread.
void BVAVExport::setUp()
{
    if (m_cancelled.load()) {
        reportSuccess();
        return;
    }
    if (QFile::exists(outputURL) && !QFile::remove(outputURL)) {
        reportFailure(BVError::withDescription(errorDomain, -1,
            QStringLiteral("The file \"%1\" could not be replaced.").arg(QFileInfo(outputURL).fileName())));
        return;
    }
    if (!asset || !asset->waitUntilLoaded()) {
        reportFailure(asset
                ? asset->error()
                : BVError::withDescription(errorDomain, -1, QStringLiteral("There is no movie to export.")));
        return;
    }
    BVError error;
    m_writer = MediaAssetWriter::writerWithPath(outputURL, &error);
    if (!m_writer) {
        reportFailure(error);
        return;
    }
    const MediaTimeRange range = hasDuration(timeRange) ? timeRange : MediaTimeRange();
    m_exportStart = hasDuration(range) ? range.start() : MediaTime::zero();
    m_exportDuration = hasDuration(range) ? range.duration() : asset->duration();
    if (!setUpAudio(range) || !setUpVideo(range))
        return;
    setUpTimecode(BVAVFoundation::fpsForAsset(asset), BVAVFoundation::isDropFrame(asset),
        BVAVFoundation::timecodeStartForAsset(asset, BVTimecode::zeroTimecode()));

    if (!m_writer->startWriting()) {
        reportFailure(m_writer->error());
        return;
    }
    m_writer->startSessionAtSourceTime(m_exportStart);
    if (hasDuration(range))
        m_writer->endSessionAtSourceTime(range.end());
    int pumps = 0;
    for (StreamState &state : m_streams) {
        state.finished = !state.input;
        pumps += state.input ? 1 : 0;
    }
    m_pending.store(pumps);
    if (pumps == 0) {
        m_completionQueue.async([self = shared_from_this()] { self->complete(); });
        return;
    }
    for (int stream = Audio; stream <= Timecode; ++stream) {
        StreamState &state = m_streams[size_t(stream)];
        if (!state.input)
            continue;
        std::weak_ptr<BVAVExport> weak = weak_from_this();
        state.input->requestMediaDataWhenReady(*state.queue, [weak, stream] {
            if (std::shared_ptr<BVAVExport> self = weak.lock())
                self->pump(Stream(stream));
        });
    }
}

bool BVAVExport::setUpAudio(const MediaTimeRange &range)
{
    const QList<MediaTrack> tracks = asset->tracksWithMediaType(MediaType::audio);
    if (tracks.isEmpty() || audioCodec < audioCodecCopy)
        return true;
    const std::optional<MediaAudioSettings> settings = audioSettings();
    auto output = std::make_unique<MediaAssetTrackOutput>(asset, tracks.first(),
        settings ? MediaAssetTrackOutput::Output::Decoded : MediaAssetTrackOutput::Output::Passthrough);
    output->setTimeRange(range);
    if (!output->startReading()) {
        reportFailure(output->error());
        return false;
    }
    m_streams[Audio].input = m_writer->addAudioInput(*output, settings);
    m_streams[Audio].output = std::move(output);
    m_hasStream[Audio] = true;
    return true;
}

bool BVAVExport::setUpVideo(const MediaTimeRange &range)
{
    const QList<MediaTrack> tracks = asset->tracksWithMediaType(MediaType::video);
    if (tracks.isEmpty())
        return true;
    const MediaTrack &track = tracks.first();
    auto output = std::make_unique<MediaAssetTrackOutput>(asset, track,
        videoCodec ? MediaAssetTrackOutput::Output::Decoded : MediaAssetTrackOutput::Output::Passthrough);
    output->setTimeRange(range);
    if (!output->startReading()) {
        reportFailure(output->error());
        return false;
    }
    std::optional<MediaVideoSettings> settings;
    if (videoCodec) {
        // The stored picture size, without pixel-aspect or clean-aperture correction.
        QSize source = track.formatDescriptions().isEmpty() ? track.naturalSize().toSize()
                                                            : track.formatDescriptions().first().dimensions();
        MediaVideoSettings video;
        video.codec = *videoCodec;
        video.size = outputSize(source);
        if (video.size == source && !track.formatDescriptions().isEmpty()) {
            const QSizeF natural = track.naturalSize();
            // Anamorphic media keep their display geometry: the pixel aspect of the source.
            if (natural.width() > 0 && source.width() > 0
                && std::abs(natural.width() - source.width()) > 0.5) {
                video.pixelAspectHorizontal = int(std::lround(natural.width() * 1000));
                video.pixelAspectVertical = source.width() * 1000;
            }
        }
        if (*videoCodec == MediaVideoCodec::h264) {
            video.averageBitRate = videoBitrate;
            video.maxKeyFrameInterval = int(videoKeyFrameInterval);
            video.maxKeyFrameIntervalDuration = videoKeyFrameDuration;
        }
        settings = video;
    }
    m_streams[Video].input = m_writer->addVideoInput(*output, settings);
    m_streams[Video].output = std::move(output);
    m_hasStream[Video] = true;
    return true;
}

void BVAVExport::setUpTimecode(double rate, bool assetDropFrame, const QString &assetStart)
{
    MediaAssetWriterInput *associated
        = m_streams[Video].input ? m_streams[Video].input : m_streams[Audio].input;
    if (!associated)
        return;
    m_streams[Timecode].input = m_writer->addTimecodeInput(associated);
    const QString start = timecodeStart.isEmpty() ? assetStart : timecodeStart;
    const bool drop = dropFrame || assetDropFrame;
    const std::optional<int64_t> frame = timecodeSampleFrameNumber(start, rate, drop);
    if (!frame) {
        BVLog::appendLog("Export: no timecode sample for the start timecode \"%@\"", start);
        return;
    }
    // The sample holds the frame number; the movie names it by its timecode at the frame rate.
    const int64_t timebase = int64_t(std::ceil(rate));
    const bool countsDropped = drop && (timebase == 30 || timebase == 60);
    const QString label
        = BVTimecode::timecodeFromFrameCount(*frame, timebase, rate != std::floor(rate), countsDropped, 0);
    BVLog::appendLog("Export: timecode sample %@ (frame %@)", label, QString::number(*frame));
    m_streams[Timecode].input->setTimecode(label);
}

// On the stream's queue, whenever its input can take more.
void BVAVExport::pump(Stream stream)
{
    StreamState &state = m_streams[stream];
    if (state.finished)
        return;
    if (stream == Timecode) {
        // The writer stamped the sample at the session start when it began the movie.
        finishStream(stream);
        return;
    }
    while (state.input->isReadyForMoreMediaData()) {
        if (m_cancelled.load())
            return; // the cancel step finishes the stream on this queue
        std::optional<MediaTrackSample> sample = state.output->copyNextSample();
        if (!sample || !state.input->appendSample(*sample)) {
            finishStream(stream);
            return;
        }
        streamProgressed(stream, sample->presentationTime());
    }
}

void BVAVExport::finishStream(Stream stream)
{
    StreamState &state = m_streams[stream];
    if (state.finished)
        return;
    state.finished = true;
    state.input->markAsFinished();
    leaveGroup();
}

void BVAVExport::leaveGroup()
{
    if (m_pending.fetch_sub(1) == 1)
        m_completionQueue.async([self = shared_from_this()] { self->complete(); });
}

void BVAVExport::cancel()
{
    m_cancelled.store(true);
    m_completionQueue.async([self = shared_from_this()] {
        for (StreamState &state : self->m_streams)
            if (state.output)
                state.output->cancelReading();
        if (self->m_writer)
            self->m_writer->cancelWriting();
        for (int stream = Audio; stream <= Timecode; ++stream) {
            StreamState &state = self->m_streams[size_t(stream)];
            if (state.input)
                state.queue->async([self, stream] { self->finishStream(Stream(stream)); });
        }
    });
}

// On the completion queue once every stream has finished.
void BVAVExport::complete()
{
    if (m_cancelled.load()) {
        for (StreamState &state : m_streams)
            if (state.output)
                state.output->cancelReading();
        m_writer->cancelWriting();
        reportSuccess();
        return;
    }
    for (StreamState &state : m_streams) {
        if (state.output && state.output->status() == MediaAssetTrackOutput::Status::Failed) {
            reportFailure(state.output->error());
            return;
        }
    }
    if (m_writer->finishWriting())
        reportSuccess();
    else
        reportFailure(m_writer->error());
}

// On a stream's queue after each append.
void BVAVExport::streamProgressed(Stream stream, const MediaTime &time)
{
    if (!time.isNumeric() || !m_exportDuration.isNumeric() || m_exportDuration <= MediaTime::zero())
        return;
    const double fraction
        = std::clamp((time - m_exportStart).seconds() / m_exportDuration.seconds(), 0.0, 1.0);
    m_progress[stream].store(fraction);
    // The mean of the streams that exist, so an audio-only or video-only export reaches 100 %.
    double sum = 0;
    int count = 0;
    for (int s = Audio; s <= Video; ++s) {
        if (m_hasStream[size_t(s)]) {
            sum += m_progress[size_t(s)].load();
            ++count;
        }
    }
    const double overall = count ? sum / count : 0;
    const int percent = int(std::lround(overall * 100));
    int last = m_lastPercent.load();
    while (percent > last) {
        if (m_lastPercent.compare_exchange_weak(last, percent)) {
            m_reportedProgress.store(overall);
            if (m_progressPosted.exchange(true))
                return;
            BVMainThread::async([weak = weak_from_this()] {
                if (std::shared_ptr<BVAVExport> self = weak.lock()) {
                    self->m_progressPosted.store(false);
                    if (BVAVExportDelegate *d = self->delegate())
                        d->avExportProgress(self.get(), self->m_reportedProgress.load());
                }
            });
            return;
        }
    }
}

void BVAVExport::reportSuccess()
{
    BVMainThread::async([self = shared_from_this()] {
        self->m_cancelled.store(false);
        if (BVAVExportDelegate *d = self->delegate())
            d->avExportFinished(self.get());
    });
}

void BVAVExport::reportFailure(const BVError &error)
{
    BVLog::appendLog("Export failed: %@", error.description());
    for (StreamState &state : m_streams)
        if (state.output)
            state.output->cancelReading();
    if (m_writer)
        m_writer->cancelWriting();
    BVMainThread::async([self = shared_from_this(), error] {
        if (BVAVExportDelegate *d = self->delegate())
            d->avExportFailed(self.get(), error);
    });
}
